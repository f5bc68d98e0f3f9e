// The whole run, end to end: the real tabfetch binary in prepared working
// directories against the throwaway MariaDB server. Console output, exit code
// and extract file are compared byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "testsupport/legacy_texts.h"
#include "testsupport/throwaway_mariadb.h"
#include "testsupport/workspace.h"

namespace {

using testsupport::DebugTrace;
using testsupport::Summary;
using testsupport::ToolResult;

std::string TableName() { return testsupport::TestTable("e2e"); }

const char kSelect[] = "SELECT TERMINAL, ARTIKEL, MENGE, BETRAG, NOTIZ";

// UMSATZ and MENGE write CHAR 8, TXT 12, DEC 5, DEC 9, CHAR 10 = 44 bytes.
std::string QueryDefinition() {
  const std::vector<testsupport::Column> columns = {
      {"Terminal", "CHAR", 8}, {"Artikel", "TXT", 12}, {"Menge", "DEC", 5},
      {"Betrag", "DEC", 9},    {"Notiz", "CHAR", 10}};
  const std::string from = "FROM " + TableName();
  return testsupport::Section(
             "UMSATZ", {kSelect, from, "WHERE TERMINAL = '$parm01'"},
             columns) +
         testsupport::Section("MENGE", {kSelect, from, "WHERE MENGE = $parm01"},
                              columns) +
         testsupport::Section("LEER", {"SET @tabfetch_nothing = 1"},
                              {{"A", "CHAR", 3}}) +
         testsupport::Section("FALSCH", {"SELEKT 1"}, {});
}

// The formatted records of the rows inserted by SetUp, as they sort.
const std::string kBrot =
    "KASSE1  " "Brot        " "00001" "000002.20" "frisch    ";
const std::string kApfel =
    "KASSE1  " "\xC4" "pfel       " "00003" "000004.50" "          ";
const std::string kKasse1 = kBrot + kApfel + kApfel;

class TabfetchTest : public testsupport::WorkspaceTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    if (HasFatalFailure()) return;
    const std::string t = "PALVDATA." + TableName();
    Sql("CREATE OR REPLACE TABLE " + t +
        " (TERMINAL VARCHAR(20), ARTIKEL VARCHAR(40), MENGE INT,"
        " BETRAG DECIMAL(8,2), NOTIZ VARCHAR(80) NULL)"
        " CHARACTER SET utf8mb4; INSERT INTO " + t +
        " VALUES ('KASSE1', '\xC4pfel', 3, 4.50, NULL),"
        " ('KASSE2', 'Milch', 2, 1.10, 'kalt'),"
        " ('KASSE1', 'Brot', 1, 2.20, 'frisch'),"
        " ('KASSE1', '\xC4pfel', 3, 4.50, NULL),"
        " ('KASSE3', 'Gr\xFCn\nzeug', 12345, -7.5, 'a\nb')");
    WriteServerFiles(QueryDefinition());
  }
};

// Each run as the callers see it: standard output, the file, the legacy exit
// code (also with TABFETCH_STRICT_EXIT unset, 0 or a bad value) and the
// strict one (TABFETCH_STRICT_EXIT=1, standard output the same), every run
// starting from the same file.
TEST_F(TabfetchTest, RunsAsTheCallersSeeThem) {
  const char* const kMissing = nullptr;
  const std::string trace = DebugTrace(" " + std::string(kSelect) + " FROM " +
                                       TableName() +
                                       " WHERE TERMINAL = '$parm01' ");
  struct Case {
    const char* name;
    std::vector<std::string> args;  // the extract file is args[2]
    const char* before;             // kMissing: no file before the run
    int exit_code;
    int strict_code;
    std::string out;
    std::string file;  // afterwards, "<missing>" for none
    bool quiet;        // nothing on standard error
    const char* host = "localhost";
    const char* password = nullptr;  // nullptr: the server user's
  };
  const Case kCases[] = {
      // Duplicates are kept and counted.
      {"replace", {"UMSATZ", "KASSE1", "out.txt", "1"}, "OLD CONTENT", 0, 0,
       Summary(3, "out.txt"), kKasse1, true},
      {"append", {"UMSATZ", "KASSE1", "out.txt", "0"}, kKasse1.c_str(), 0, 0,
       Summary(3, "out.txt"), kKasse1 + kKasse1, true},
      {"append creates a missing file", {"UMSATZ", "KASSE2", "new.txt", "0"},
       kMissing, 0, 0, Summary(1, "new.txt"),
       "KASSE2  Milch       00002000001.10kalt      ", true},
      {"debug trace", {"UMSATZ", "KASSE1", "out.txt", "1", "/d"}, kMissing, 0,
       0, trace + "Str WriteFile\nEnd WriteFile\n" + Summary(3, "out.txt"),
       kKasse1, true},
      // Over TCP; the umlaut as one latin1 byte, each LF written as CR LF.
      {"line feeds as CR LF", {"UMSATZ", "KASSE3", "out.txt", "1"}, kMissing,
       0, 0, Summary(1, "out.txt"),
       "KASSE3  " "Gr\xFC" "n\r\nzeug   " "12345" "0000-7.50" "a\r\nb       ",
       true, "127.0.0.1"},
      // Runs that write no record leave the file as it was, or missing; with
      // no rows WriteFile is not called at all, so no trace of it either.
      {"no rows", {"UMSATZ", "KASSE9", "out.txt", "1", "/D"}, "OLD", 0, 0,
       trace + Summary(0, "out.txt"), "OLD", true},
      {"no rows, appending", {"UMSATZ", "KASSE9", "missing.txt", "0"},
       kMissing, 0, 0, Summary(0, "missing.txt"), "<missing>", true},
      // No line break after the read error: the summary line continues it.
      {"statement without result set", {"LEER", "KASSE1", "out.txt", "1"},
       kMissing, 0, 12, "Fehler Lesen in Leseschleife -1" +
       Summary(0, "out.txt"), "<missing>", false},
      {"rejected statement", {"FALSCH", "KASSE1", "out.txt", "1"}, "OLD", 0,
       11, Summary(0, "out.txt"), "OLD", false},
      {"refused login", {"UMSATZ", "KASSE1", "out.txt", "1"}, "OLD", 0, 10,
       "dbConnect_Status: 1045\n", "OLD", false, "localhost", "falsch"},
      {"extract file cannot be opened",
       {"UMSATZ", "KASSE1", "missing/out.txt", "1"}, kMissing, 0, 13,
       testsupport::kOpenFailed + Summary(0, "missing/out.txt"), "<missing>",
       false},
      // Without /D the same run prints nothing (standard_error_test).
      {"missing section ends the trace early",
       {"GIBTESNICHT", "KASSE1", "out.txt", "1", "/D"}, kMissing, 3, 3,
       " Aktiviert Debugger\nStr GetIniValues\n", "<missing>", false},
      {"unquoted terminal name must be an identifier",
       {"MENGE", "1 OR 1=1", "out.txt", "1", "/D"}, "OLD", 1, 1,
       " Aktiviert Debugger\n"
       "Str GetIniValues\n"
       "  >>>>> SQL-Statement <<<<<\n"
       "  ' " + std::string(kSelect) + " FROM " + TableName() +
           " WHERE MENGE = $parm01 '\n"
           "Terminalname im SQL-Statement nicht zulaessig\n",
       "OLD", false},
      {"unquoted identifier", {"MENGE", "3", "out.txt", "1"}, "OLD", 0, 0,
       Summary(2, "out.txt"), kApfel + kApfel, true},
      // Unusable command lines end before the settings.
      {"three arguments", {"UMSATZ", "KASSE1", "out.txt"}, kMissing, 1, 1,
       std::string(testsupport::kBanner) + "Falsche Anzahl Parameter\n\n" +
           testsupport::kUsage,
       "<missing>", true},
      {"replace flag 2", {"UMSATZ", "KASSE1", "out.txt", "2"}, kMissing, 2, 2,
       std::string(testsupport::kBanner) +
           "Falsches ReplaceFlag, erlaubt: '0' oder '1'\n\n" +
           testsupport::kUsage,
       "<missing>", true},
  };
  for (const Case& c : kCases) {
    ws_.WriteSettings({c.host, server().user,
                       c.password ? c.password : server().password,
                       "MARIADB"});
    std::string legacy_err;
    for (const char* strict : {"", "0", "ja", "1"}) {
      SCOPED_TRACE(std::string(c.name) + ", TABFETCH_STRICT_EXIT " +
                   (*strict ? strict : "unset"));
      std::filesystem::remove(ws_.At(c.args[2]));
      if (c.before != kMissing) ws_.WriteFile(c.args[2], c.before);
      const ToolResult r = ws_.Run(
          c.args, *strict == '\0' ? std::vector<std::string>{}
                                   : std::vector<std::string>{
                                         std::string("TABFETCH_STRICT_EXIT=") +
                                         strict});
      EXPECT_EQ(r.exit_code, *strict == '1' ? c.strict_code : c.exit_code);
      EXPECT_EQ(r.out, c.out);
      EXPECT_EQ(ws_.ReadFile(c.args[2]), c.file);
      if (*strict == '\0') {
        legacy_err = r.err;
        EXPECT_EQ(r.err.empty(), c.quiet) << r.err;
      } else if (*strict == 'j') {
        EXPECT_EQ(r.err,
                  "tabfetch: TABFETCH_STRICT_EXIT=ja is neither 0 nor 1; the "
                  "legacy exit codes apply\n" +
                      legacy_err);
      } else {
        EXPECT_EQ(r.err, legacy_err);
      }
    }
  }
}

}  // namespace
