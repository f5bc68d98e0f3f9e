// One full tabfetch run under valgrind's memcheck: no invalid access, no use
// of uninitialised memory, no definitely or indirectly lost block. The normal
// build only; the sanitizer build checks the same with ASan and LSan.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "testsupport/legacy_texts.h"
#include "testsupport/workspace.h"

#ifndef VALGRIND_PROGRAM
#error "VALGRIND_PROGRAM must name the valgrind executable"
#endif

namespace {

using testsupport::ToolResult;
using testsupport::Workspace;

class ValgrindTest : public testsupport::WorkspaceTest {};

TEST_F(ValgrindTest, FullRunIsClean) {
  const std::string valgrind = VALGRIND_PROGRAM;
  ASSERT_EQ(::access(valgrind.c_str(), X_OK), 0)
      << "valgrind is not installed (" << valgrind
      << "); scripts/lib.sh installs it";
  const std::string t = "PALVDATA.vg_full_run";
  Sql("CREATE OR REPLACE TABLE " + t +
      " (K VARCHAR(8), V VARCHAR(20), N DECIMAL(6,2) NULL); INSERT INTO " + t +
      " VALUES ('B', 'zwei\nZeilen', 1.5), ('A', '  eins', NULL),"
      " ('B', 'zwei\nZeilen', 1.5)");
  WriteServerFiles(testsupport::Section(
      "VOLL", {"SELECT K, V, N FROM vg_full_run WHERE K <> '$parm01'"},
      {{"K", "CHAR", 3}, {"V", "TXT", 14}, {"N", "DEC", 7}}));
  ws_.WriteFile("out.txt", "OLD");
  const std::string records =
      "A    eins        0000000"
      "B  zwei\r\nZeilen   0001.50"
      "B  zwei\r\nZeilen   0001.50";

  for (const char* flag : {"1", "0"}) {
    SCOPED_TRACE(std::string("flag ") + flag);
    ToolResult r = testsupport::RunTool(
        valgrind, ws_.cwd(),
        {"--quiet", "--error-exitcode=99", "--leak-check=full",
         "--errors-for-leak-kinds=definite,indirect", Workspace::Binary(),
         "VOLL", "C'", "out.txt", flag, "/D"});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, testsupport::DebugTrace(" SELECT K, V, N FROM vg_full_run "
                                             "WHERE K <> '$parm01' ") +
                         "Str WriteFile\nEnd WriteFile\n" +
                         testsupport::Summary(3, "out.txt"));
    EXPECT_EQ(r.err, "");
  }
  EXPECT_EQ(ws_.ReadFile("out.txt"), records + records);
  Sql("DROP TABLE " + t);
}

}  // namespace
