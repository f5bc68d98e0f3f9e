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

using testsupport::Summary;
using testsupport::ToolResult;
using testsupport::Workspace;

std::string TableName() { return testsupport::TestTable("e2e"); }

// Record layout of the query definitions below: CHAR 8, TXT 12, DEC 5,
// DEC 9, CHAR 10 = 44 bytes.
std::string QueryDefinition(const std::string& where) {
  return "[UMSATZ]\n"
         "SQL001=SELECT TERMINAL, ARTIKEL, MENGE, BETRAG, NOTIZ\n"
         "SQL002=FROM " + TableName() + "\n"
         "SQL003=" + where + "\n"
         "FELD01=Terminal\nFTYP01=CHAR\nFLEN01=8\n"
         "FELD02=Artikel\nFTYP02=TXT\nFLEN02=12\n"
         "FELD03=Menge\nFTYP03=DEC\nFLEN03=5\n"
         "FELD04=Betrag\nFTYP04=DEC\nFLEN04=9\n"
         "FELD05=Notiz\nFTYP05=CHAR\nFLEN05=10\n"
         "\n"
         "[LEER]\n"
         "SQL001=SET @tabfetch_nothing = 1\n"
         "FELD01=A\nFTYP01=CHAR\nFLEN01=3\n"
         "\n"
         "[FALSCH]\n"
         "SQL001=SELEKT 1\n";
}

const std::string kWhereTerminal = "WHERE TERMINAL = '$parm01'";

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
    const std::string t = TableName();
    Sql("DROP TABLE IF EXISTS PALVDATA." + t);
    Sql("CREATE TABLE PALVDATA." + t +
        " (TERMINAL VARCHAR(20), ARTIKEL VARCHAR(40), MENGE INT,"
        " BETRAG DECIMAL(8,2), NOTIZ VARCHAR(80) NULL)"
        " CHARACTER SET utf8mb4");
    Sql("INSERT INTO PALVDATA." + t +
        " VALUES ('KASSE1', '\xC4pfel', 3, 4.50, NULL),"
        " ('KASSE2', 'Milch', 2, 1.10, 'kalt'),"
        " ('KASSE1', 'Brot', 1, 2.20, 'frisch'),"
        " ('KASSE1', '\xC4pfel', 3, 4.50, NULL)");
    WriteServerFiles(QueryDefinition(kWhereTerminal));
  }
};

TEST_F(TabfetchTest, ReplacesThenAppendsSortedRecords) {
  ws_.WriteFile("out.txt", "OLD CONTENT");
  ToolResult r = ws_.Run({"UMSATZ", "KASSE1", "out.txt", "1"});
  EXPECT_EQ(r.exit_code, 0);
  // Duplicates are kept and counted.
  EXPECT_EQ(r.out, "3 Saetze kopiert in Datei out.txt \n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ws_.ReadFile("out.txt"), kKasse1);

  r = ws_.Run({"UMSATZ", "KASSE1", "out.txt", "0"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "3 Saetze kopiert in Datei out.txt \n");
  EXPECT_EQ(ws_.ReadFile("out.txt"), kKasse1 + kKasse1);

  // Appending creates a missing file.
  r = ws_.Run({"UMSATZ", "KASSE2", "new.txt", "0"});
  EXPECT_EQ(r.out, "1 Saetze kopiert in Datei new.txt \n");
  EXPECT_EQ(ws_.ReadFile("new.txt"),
            "KASSE2  Milch       00002000001.10kalt      ");
}

TEST_F(TabfetchTest, TracesEveryStepWithTheDebugSwitch) {
  ToolResult r = ws_.Run({"UMSATZ", "KASSE1", "out.txt", "1", "/d"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, testsupport::DebugTrace(
                       " SELECT TERMINAL, ARTIKEL, MENGE, BETRAG, NOTIZ FROM " +
                       TableName() + " WHERE TERMINAL = '$parm01' ") +
                       "Str WriteFile\nEnd WriteFile\n" +
                       Summary(3, "out.txt"));
  EXPECT_EQ(ws_.ReadFile("out.txt"), kKasse1);
}

// Runs that write no record leave the extract file as it was, or missing.
TEST_F(TabfetchTest, RunsWithoutRecordsLeaveTheFileAlone) {
  const std::string trace = testsupport::DebugTrace(
      " SELECT TERMINAL, ARTIKEL, MENGE, BETRAG, NOTIZ FROM " + TableName() +
      " WHERE TERMINAL = '$parm01' ");
  struct Case {
    const char* name;
    std::vector<std::string> args;  // the extract file is args[2]
    bool exists;                    // "OLD" before the run, else missing
    std::string out;
  };
  const Case kCases[] = {
      // WriteFile is not called at all, so no trace of it either.
      {"no rows", {"UMSATZ", "KASSE9", "out.txt", "1", "/D"}, true,
       trace + Summary(0, "out.txt")},
      {"no rows, appending", {"UMSATZ", "KASSE9", "missing.txt", "0"}, false,
       Summary(0, "missing.txt")},
      // No line break after the read error: the summary line continues it.
      {"statement without result set", {"LEER", "KASSE1", "out.txt", "1"},
       false, "Fehler Lesen in Leseschleife -1" + Summary(0, "out.txt")},
      {"rejected statement", {"FALSCH", "KASSE1", "out.txt", "1"}, true,
       Summary(0, "out.txt")},
      // An extract file that cannot be opened: fault_matrix_test.
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(ws_.At(c.args[2]));
    if (c.exists) ws_.WriteFile(c.args[2], "OLD");
    const ToolResult r = ws_.Run(c.args);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(ws_.ReadFile(c.args[2]), c.exists ? "OLD" : "<missing>");
  }
}

// Without /D the same run prints nothing (standard_error_test).
TEST_F(TabfetchTest, MissingSectionEndsTheTraceEarly) {
  const ToolResult r = ws_.Run({"GIBTESNICHT", "KASSE1", "out.txt", "1", "/D"});
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_EQ(r.out, " Aktiviert Debugger\nStr GetIniValues\n");
  EXPECT_EQ(ws_.ReadFile("out.txt"), "<missing>");
}

TEST_F(TabfetchTest, ConnectsOverTcpAndWritesLineFeedsAsCrLf) {
  Sql("INSERT INTO PALVDATA." + TableName() +
      " VALUES ('KASSE3', 'Gr\xFCn\nzeug', 12345, -7.5, 'a\nb')");
  ws_.WriteSettings({"127.0.0.1", server().user, server().password, "MARIADB"});
  ToolResult r = ws_.Run({"UMSATZ", "KASSE3", "out.txt", "1"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "1 Saetze kopiert in Datei out.txt \n");
  // umlaut as one latin1 byte; each LF written as CR LF
  EXPECT_EQ(ws_.ReadFile("out.txt"),
            "KASSE3  " "Gr\xFC" "n\r\nzeug   " "12345" "0000-7.50" "a\r\nb       ");
}

TEST_F(TabfetchTest, UnquotedTerminalNamesMustBeIdentifiers) {
  ws_.WriteQueryDefinition("MARIADB", QueryDefinition("WHERE MENGE = $parm01"));
  ws_.WriteFile("out.txt", "OLD");
  ToolResult r = ws_.Run({"UMSATZ", "1 OR 1=1", "out.txt", "1", "/D"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(r.out,
            " Aktiviert Debugger\n"
            "Str GetIniValues\n"
            "  >>>>> SQL-Statement <<<<<\n"
            "  ' SELECT TERMINAL, ARTIKEL, MENGE, BETRAG, NOTIZ FROM " +
                TableName() + " WHERE MENGE = $parm01 '\n"
            "Terminalname im SQL-Statement nicht zulaessig\n");
  EXPECT_EQ(ws_.ReadFile("out.txt"), "OLD");

  r = ws_.Run({"UMSATZ", "3", "out.txt", "1"});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "2 Saetze kopiert in Datei out.txt \n");
  EXPECT_EQ(ws_.ReadFile("out.txt"), kApfel + kApfel);
}

TEST_F(TabfetchTest, UnusableCommandLinesEndBeforeTheSettings) {
  ToolResult r = ws_.Run({"UMSATZ", "KASSE1", "out.txt"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.out.find("Falsche Anzahl Parameter\n\nBefehlsformat: \n"),
            std::string::npos);
  r = ws_.Run({"UMSATZ", "KASSE1", "out.txt", "2"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.out.find("Falsches ReplaceFlag, erlaubt: '0' oder '1'\n"),
            std::string::npos);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ws_.ReadFile("out.txt"), "<missing>");
}

// TABFETCH_STRICT_EXIT=1 gives every run that did not write its records a
// code of its own; without it (or with 0, or a bad value) they end with 0.
// Standard output is the same either way.
TEST_F(TabfetchTest, StrictExitCodesNameTheFailure) {
  struct Case {
    std::vector<std::string> args;
    bool bad_password;
    int strict_code;
  };
  const Case kCases[] = {
      {{"UMSATZ", "KASSE1", "out.txt", "1"}, false, 0},
      {{"UMSATZ", "KEINE", "out.txt", "1"}, false, 0},  // no rows: nothing to do
      {{"UMSATZ", "KASSE1", "out.txt", "1"}, true, 10},
      {{"FALSCH", "KASSE1", "out.txt", "1"}, false, 11},
      {{"LEER", "KASSE1", "out.txt", "1"}, false, 12},
      {{"UMSATZ", "KASSE1", "missing/out.txt", "1"}, false, 13},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[2] + " " +
                 std::to_string(c.strict_code));
    ws_.WriteSettings({"localhost", server().user,
                       c.bad_password ? "falsch" : server().password,
                       "MARIADB"});
    const ToolResult legacy = ws_.Run(c.args);
    EXPECT_EQ(legacy.exit_code, 0);
    for (const char* value : {"0", "ja"}) {
      const ToolResult r =
          ws_.Run(c.args, {std::string("TABFETCH_STRICT_EXIT=") + value});
      EXPECT_EQ(r.exit_code, 0) << value;
      EXPECT_EQ(r.out, legacy.out);
    }
    const ToolResult strict = ws_.Run(c.args, {"TABFETCH_STRICT_EXIT=1"});
    EXPECT_EQ(strict.exit_code, c.strict_code);
    EXPECT_EQ(strict.out, legacy.out);
    EXPECT_EQ(strict.err, legacy.err);
  }
  const ToolResult bad = ws_.Run({"UMSATZ", "KASSE1", "out.txt", "1"},
                                 {"TABFETCH_STRICT_EXIT=ja"});
  EXPECT_EQ(bad.err,
            "tabfetch: TABFETCH_STRICT_EXIT=ja is neither 0 nor 1; the "
            "legacy exit codes apply\n");
}

}  // namespace
