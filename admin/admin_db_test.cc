// check --run against the throwaway server: connects with the settings
// file's NET8, LOGIN and PASS like tabfetch, counts cut values and line
// feeds per column, and writes nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "testsupport/workspace.h"

namespace {

class AdminRunTest : public testsupport::WorkspaceTest {
 protected:
  void SetUp() override {
    testsupport::ServerTest::SetUp();
    if (HasFatalFailure()) return;
    Sql("DROP TABLE IF EXISTS PALVDATA.admin_check;"
        "CREATE TABLE PALVDATA.admin_check (term VARCHAR(20), "
        "name VARCHAR(40), note VARCHAR(40));"
        "INSERT INTO PALVDATA.admin_check VALUES "
        "('T1', 'short', 'a'), ('T1', 'much too long', 'x\\ny'), "
        "('T1', 'exact6', 'b\\nc\\nd'), ('T2', 'other', '')");
    ws_.WriteSettings({"localhost", server().user, server().password, "MYSQL"});
    ws_.WriteQueryDefinition(
        "MYSQL",
        "[RUN]\n"
        "SQL001=select name, note from admin_check\n"
        "SQL002=where term = '$parm01' order by name\n"
        "FELD01=Name\nFTYP01=CHAR\nFLEN01=6\n"
        "FELD02=Note\nFTYP02=TXT\nFLEN02=4\n"
        "FELD03=Gone\nFTYP03=CHAR\nFLEN03=2\n"
        "[BROKEN]\n"
        "SQL001=select nonsense from nowhere where x = '$parm01'\n"
        "FELD01=A\nFTYP01=CHAR\nFLEN01=2\n");
  }

  testsupport::ToolResult Admin(const std::vector<std::string>& args) {
    return testsupport::RunTool(TABFETCH_ADMIN, ws_.cwd(), args);
  }
};

TEST_F(AdminRunTest, CountsCutValuesAndLineFeeds) {
  const testsupport::ToolResult r = Admin({"check", "RUN", "--run", "T1"});
  EXPECT_EQ(r.exit_code, 1) << r.out << r.err;
  for (const char* part : {
           "  statement as sent: ' select name, note from admin_check where "
           "term = 'T1' order by name '\n",
           "  rows: 3, result columns: 2\n",
           // No, label, width, longest, cut, with LF.
           "  01  Name        6       13        1        0\n",
           "  02  Note        4        5        1        2\n",
           "  extract size: 3 x 12 bytes + 3 for line feeds = 39 bytes\n",
           "run: column 1: 1 value(s) longer than the width 6 (longest 13)",
           "run: column 2: 2 value(s) hold a line feed",
           "run: column 3 contributes, but the statement returns only 2 "
           "columns",
       }) {
    EXPECT_NE(r.out.find(part), std::string::npos) << part << "\n" << r.out;
  }
  // Nothing is written into the working directory.
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(ws_.cwd())) {
    (void)entry;
    ++files;
  }
  EXPECT_EQ(files, 1);
}

TEST_F(AdminRunTest, QuotedTerminalIsEscapedLikeTabfetchDoesIt) {
  const testsupport::ToolResult r = Admin({"check", "RUN", "--run", "O'Br"});
  EXPECT_NE(r.out.find("term = 'O\\'Br' order by name '\n"), std::string::npos)
      << r.out << r.err;
  EXPECT_NE(r.out.find("  rows: 0, result columns: 2\n"), std::string::npos);
}

TEST_F(AdminRunTest, Failures) {
  testsupport::ToolResult r = Admin({"check", "BROKEN", "--run", "T1"});
  EXPECT_EQ(r.exit_code, 2);
  // The server's number and its message.
  EXPECT_NE(r.err.find("the server rejected the statement: error 1146: Table "
                       "'PALVDATA.nowhere' doesn't exist"),
            std::string::npos)
      << r.err;

  r = Admin({"check", "RUN", "--run", std::string(32, 'T')});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("tabfetch refuses names over 31 characters"),
            std::string::npos);

  ws_.WriteSettings({"localhost", server().user, "wrong", "MYSQL"});
  r = Admin({"check", "RUN", "--run", "T1"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("cannot connect to the database"), std::string::npos);
  EXPECT_NE(r.err.find("error 1045: Access denied for user"), std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("dbConnect_Status: 1045"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("wrong"), std::string::npos);
}

}  // namespace
