// Standard error, end to end. The failures that once ended without a word:
// standard output and exit code stay as callers know them, and standard
// error names the cause. The settings that name no user: no connect at all,
// where an empty user would have connected as the operating-system user.
// And the progress line, on a terminal only.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "testsupport/fault_support.h"
#include "testsupport/workspace.h"

namespace {

using testsupport::SettingsRecord;
using testsupport::Summary;
using testsupport::ToolResult;

std::string RealPath(const std::string& path) {
  return std::filesystem::canonical(path).string();
}

const char kNoUser[] =
    "tabfetch: no connection attempted: the settings name no user (LOGIN), "
    "and an empty one would connect as the operating-system user\n";

// A section whose first column is `column1` and whose second column writes.
std::string DropDefinition(const std::string& section,
                           const std::string& column1,
                           const std::string& table) {
  return "[" + section + "]\nSQL001=SELECT A, A FROM " + table + "\n" +
         column1 + "FELD02=B\nFTYP02=CHAR\nFLEN02=2\n";
}

class QuietFailuresTest : public testsupport::WorkspaceTest {};

TEST_F(QuietFailuresTest, EachFailureNamesItsCause) {
  const std::string table = testsupport::TestTable("quiet");
  Sql("CREATE OR REPLACE TABLE PALVDATA." + table + " (A VARCHAR(8))");
  Sql("INSERT INTO PALVDATA." + table + " VALUES ('x')");
  const std::string definition =
      "[GUT]\nSQL001=SELECT A FROM " + table +
      "\nFELD01=A\nFTYP01=CHAR\nFLEN01=4\n"
      "[OHNE]\nFELD01=A\nFTYP01=CHAR\nFLEN01=4\n"
      "[LEER]\nSQL001=\nSQL002=SELECT 1\n"
      "[NICHTS]\nSQL001=DO 1\nFELD01=A\nFTYP01=CHAR\nFLEN01=4\n" +
      // Column 1 dropped (or switched off), column 2 written.
      DropDefinition("CAHR", "FELD01=A\nFTYP01=CAHR\nFLEN01=4\n", table) +
      DropDefinition("KLEIN", "FELD01=A\nFTYP01=dec\nFLEN01=4\n", table) +
      DropDefinition("NULL", "FELD01=A\nFTYP01=DEC\nFLEN01=0\n", table) +
      DropDefinition("AUS", "FELD01=\nFTYP01=CAHR\nFLEN01=4\n", table);
  const std::string server_settings =
      SettingsRecord("Rechner", 1, "NET8", "localhost") +
      SettingsRecord("Benutzer", 2, "LOGIN", server().user) +
      SettingsRecord("Kennwort", 3, "PASS", server().password);
  const std::string db_system = SettingsRecord("System", 4, "DB_SYSTEM", "MARIADB");

  enum class Settings { kFile, kMissing, kDirectory };
  struct Case {
    const char* name;
    Settings settings;
    std::string settings_text;  // for kFile
    const char* section;
    std::string out;
    int exit_code;
    int strict_exit_code;
    std::string err;  // {root} and {cwd} stand for the real paths
  };
  const Case kCases[] = {
      {"section missing", Settings::kFile, server_settings + db_system,
       "GIBTESNICHT", "", 3, 3,
       "tabfetch: query definition file {cwd}/TABFETCH.MARIADB.INI has no "
       "section [GIBTESNICHT] (section names are compared ignoring letter "
       "case and surrounding spaces)\n"},
      {"no SQL001", Settings::kFile, server_settings + db_system, "OHNE", "", 3,
       3,
       "tabfetch: section [OHNE] of query definition file "
       "{cwd}/TABFETCH.MARIADB.INI has no SQL001: no statement to run\n"},
      {"empty SQL001", Settings::kFile, server_settings + db_system, "LEER", "",
       3, 3,
       "tabfetch: section [LEER] of query definition file "
       "{cwd}/TABFETCH.MARIADB.INI has an empty SQL001: no statement to run\n"},
      {"definition file missing", Settings::kFile,
       server_settings + SettingsRecord("System", 4, "DB_SYSTEM", "ANDERS"),
       "GUT", "", 3, 3,
       "tabfetch: cannot read query definition file "
       "{cwd}/TABFETCH.ANDERS.INI: No such file or directory "
       "(TABFETCH.<DB_SYSTEM>.INI in the working directory; where no file "
       "has exactly that name, one whose name differs only in letter case "
       "is taken)\n"},
      {"no DB_SYSTEM record", Settings::kFile, server_settings, "GUT", "", 3, 3,
       "tabfetch: settings file {root}/Files/Palventra.Ini: no record matches "
       "DB_SYSTEM (key name DB_SYSTEM, an empty heading name or entry number "
       "0)\n"
       "tabfetch: cannot read query definition file {cwd}/TABFETCH..INI: No "
       "such file or directory (TABFETCH.<DB_SYSTEM>.INI in the working "
       "directory; where no file has exactly that name, one whose name "
       "differs only in letter case is taken)\n"},
      {"no result set", Settings::kFile, server_settings + db_system, "NICHTS",
       "Fehler Lesen in Leseschleife -1" + Summary(0, "out.txt"), 0, 12,
       "tabfetch: the statement returned no result set (no rows to read: SET, "
       "DO, UPDATE and the like return none)\n"},
      {"settings file missing", Settings::kMissing, "", "GUT",
       "dbConnect_Status: 1045\n", 0, 10,
       "tabfetch: cannot read settings file {root}/Files/Palventra.Ini: No "
       "such file or directory\n" +
           std::string(kNoUser)},
      {"settings file unreadable", Settings::kDirectory, "", "GUT",
       "dbConnect_Status: 1045\n", 0, 10,
       "tabfetch: cannot read settings file {root}/Files/Palventra.Ini: Is a "
       "directory\n" +
           std::string(kNoUser)},
      {"no LOGIN record", Settings::kFile,
       SettingsRecord("Rechner", 1, "NET8", "localhost") +
           SettingsRecord("Kennwort", 3, "PASS", server().password) + db_system,
       "GUT", "dbConnect_Status: 1045\n", 0, 10,
       "tabfetch: settings file {root}/Files/Palventra.Ini: no record matches "
       "LOGIN (key name LOGIN, an empty heading name or entry number 0)\n" +
           std::string(kNoUser)},
      {"the run itself", Settings::kFile, server_settings + db_system, "GUT",
       Summary(1, "out.txt"), 0, 0, ""},
      {"type word misspelt", Settings::kFile, server_settings + db_system,
       "CAHR", Summary(1, "out.txt"), 0, 0,
       "tabfetch: column 01 (FELD01 \"A\") is left out of every record: type "
       "word FTYP01 \"CAHR\" is not exactly CHAR, DEC or TXT\n"},
      {"type word in lower case", Settings::kFile, server_settings + db_system,
       "KLEIN", Summary(1, "out.txt"), 0, 0,
       "tabfetch: column 01 (FELD01 \"A\") is left out of every record: type "
       "word FTYP01 \"dec\" is not exactly CHAR, DEC or TXT\n"},
      {"width 0", Settings::kFile, server_settings + db_system, "NULL",
       Summary(1, "out.txt"), 0, 0,
       "tabfetch: column 01 (FELD01 \"A\") is left out of every record: width "
       "FLEN01 reads 0\n"},
      {"column switched off by an empty label", Settings::kFile,
       server_settings + db_system, "AUS", Summary(1, "out.txt"), 0, 0, ""},
  };
  ws_.WriteQueryDefinition("MARIADB", definition);
  const std::string settings_file = ws_.SettingsPath();
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(settings_file);
    std::filesystem::remove_all(ws_.At("out.txt"));
    if (c.settings == Settings::kFile) {
      ws_.WriteSettingsText(c.settings_text);
    } else if (c.settings == Settings::kDirectory) {
      std::filesystem::create_directories(settings_file);
    }
    const std::vector<std::string> args = {c.section, "KASSE1", "out.txt", "1"};
    const ToolResult r = ws_.Run(args);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.exit_code, c.exit_code);
    EXPECT_EQ(r.err, testsupport::ReplaceAll(
                         testsupport::ReplaceAll(c.err, "{root}",
                                                 RealPath(ws_.root())),
                         "{cwd}", RealPath(ws_.cwd())));
    const ToolResult strict = ws_.Run(args, {"TABFETCH_STRICT_EXIT=1"});
    EXPECT_EQ(strict.out, c.out);
    EXPECT_EQ(strict.exit_code, c.strict_exit_code);
  }
}

// Connects counted by the server's general log (the server is this test's
// own, so every connect in it is ours): the query's own connect included.
int Connects(const testsupport::SecondServer& server) {
  return std::atoi(server
                       .FirstValue("SELECT COUNT(*) FROM mysql.general_log "
                                   "WHERE command_type = 'Connect'")
                       .c_str());
}

// Before the mend, settings that named no user connected with an empty one,
// which the client library replaces by the operating-system login: root
// through unix_socket authentication when the job runs as root. Now nothing
// connects; a LOGIN record that is empty on purpose still leaves the user
// to the library.
TEST_F(QuietFailuresTest, SettingsWithoutUserDoNotConnect) {
  testsupport::SecondServer second("--general-log=1 --log-output=TABLE");
  ASSERT_EQ(second.error(), "");
  ASSERT_EQ(second.AdminSql("ALTER USER root@localhost IDENTIFIED VIA "
                            "unix_socket"),
            "");
  ws_.WriteQueryDefinition(
      "MARIADB",
      "[WER]\nSQL001=SELECT CURRENT_USER()\nFELD01=U\nFTYP01=CHAR\n"
      "FLEN01=20\n");
  std::filesystem::remove_all(ws_.SettingsPath());

  int before = Connects(second);
  ToolResult r = ws_.Run({"WER", "T", "out.txt", "1"}, second.Env());
  EXPECT_EQ(r.out, "dbConnect_Status: 1045\n");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.err.find(kNoUser), std::string::npos) << r.err;
  EXPECT_EQ(Connects(second) - before, 1);  // the count's own connect only

  // The same settings with LOGIN and PASS present but empty: the library's
  // operating-system user, as before.
  ws_.WriteSettings({"", "", "", "MARIADB"});
  before = Connects(second);
  r = ws_.Run({"WER", "T", "out.txt", "1"}, second.Env());
  EXPECT_EQ(Connects(second) - before, 2);
  EXPECT_EQ(r.err, "");
  if (::geteuid() == 0) {
    EXPECT_EQ(r.out, Summary(1, "out.txt"));
    EXPECT_EQ(ws_.ReadFile("out.txt"), "root@localhost      ");
  } else {
    EXPECT_EQ(r.out.substr(0, 18), "dbConnect_Status: ") << r.out;
  }
}

// The client library fails on the statement's answer (here the server dies
// while the statement runs: 2013): named as what it is, and under strict
// codes a read failure (12), not a statement the server rejected (11).
TEST_F(QuietFailuresTest, ClientErrorOnTheStatementIsAReadFailure) {
  testsupport::SecondServer second;
  ASSERT_EQ(second.error(), "");
  ws_.WriteSettings({"localhost", second.user(), second.password(), "MARIADB"});
  ws_.WriteQueryDefinition(
      "MARIADB", "[LANG]\nSQL001=SELECT SLEEP(60)\nFELD01=A\nFTYP01=CHAR\n"
                 "FLEN01=4\n");
  std::vector<std::string> env = second.Env();
  env.push_back("TABFETCH_STRICT_EXIT=1");
  testsupport::StartedTool run = testsupport::StartTool(
      testsupport::Workspace::Binary(), ws_.cwd(), {"LANG", "T", "out.txt", "1"},
      env);
  ASSERT_GT(run.pid, 0);
  ASSERT_TRUE(second.WaitForValue(
      "SELECT COUNT(*) FROM information_schema.PROCESSLIST "
      "WHERE INFO LIKE '%SLEEP(60)%' AND USER <> 'root'",
      "1"))
      << "the statement was not seen running";
  ASSERT_EQ(::kill(second.pid(), SIGKILL), 0);
  const ToolResult r = testsupport::WaitTool(run);
  EXPECT_EQ(r.out, Summary(0, "out.txt"));
  EXPECT_EQ(r.exit_code, 12);
  const std::string cause =
      "tabfetch: the server's answer to the statement could not be read: "
      "client library error 2013: ";
  EXPECT_EQ(r.err.substr(0, cause.size()), cause) << r.err;
}

// The progress line: on a terminal (a pseudo-terminal by script(1), where
// standard output and standard error meet), or forced; never on a pipe
// unless forced. It is erased at the end, before the summary line.
TEST_F(QuietFailuresTest, ProgressOnlyOnATerminal) {
  const std::string table = testsupport::TestTable("progress");
  Sql("CREATE OR REPLACE TABLE PALVDATA." + table + " (A VARCHAR(8))");
  Sql("INSERT INTO PALVDATA." + table + " VALUES ('x'), ('y')");
  WriteServerFiles("[GUT]\nSQL001=SELECT A FROM " + table +
                   "\nFELD01=A\nFTYP01=CHAR\nFLEN01=4\n");
  const std::string kErase = "\r\x1b[K";
  const std::string kLine = kErase + "tabfetch: fetching, ";
  struct Case {
    const char* name;
    bool terminal;
    std::vector<std::string> env;
    bool progress;
  };
  const Case kCases[] = {
      {"pipe", false, {}, false},
      {"pipe, forced", false, {"TABFETCH_PROGRESS=1"}, true},
      {"terminal", true, {}, true},
      {"terminal, turned off", true, {"TABFETCH_PROGRESS=0"}, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::string> args = {"GUT", "KASSE1", "out.txt", "1"};
    ToolResult r;
    std::string text;  // what reached standard error (and, on a terminal,
                       // standard output, its LF written as CR LF)
    std::string summary = Summary(2, "out.txt");
    if (c.terminal) {
      std::string command = testsupport::Workspace::Binary();
      for (const std::string& a : args) command += " " + a;
      r = testsupport::RunTool("/usr/bin/script", ws_.cwd(),
                               {"-q", "-e", "-c", command, "/dev/null"}, c.env);
      text = r.out;
      summary.insert(summary.size() - 1, "\r");
    } else {
      r = ws_.Run(args, c.env);
      EXPECT_EQ(r.out, summary);
      text = r.err;
    }
    EXPECT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(ws_.ReadFile("out.txt"), "x   y   ");
    if (!c.progress) {
      EXPECT_EQ(text.find('\x1b'), std::string::npos) << text;
      EXPECT_EQ(text, c.terminal ? summary : "");
      continue;
    }
    EXPECT_NE(text.find(kLine), std::string::npos) << text;
    EXPECT_NE(text.find(kErase + "tabfetch: writing, 2 rows, "),
              std::string::npos)
        << text;
    // The last line drawn is erased, and nothing else is left behind.
    const std::size_t last = text.rfind(" rows/s");
    ASSERT_NE(last, std::string::npos) << text;
    EXPECT_EQ(text.substr(last + 7), kErase + (c.terminal ? summary : ""));
  }
}

}  // namespace
