// Standard error, end to end (each failure's cause line: the table of
// tabfetch_e2e_test). The settings that name no user: no connect at all,
// where an empty user would have connected as the operating-system user. A
// client error on the statement's answer. And the progress line, on a
// terminal only.
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

using testsupport::Summary;
using testsupport::ToolResult;

class QuietFailuresTest : public testsupport::WorkspaceTest {};

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
  EXPECT_NE(r.err.find(testsupport::kNoUserLine), std::string::npos) << r.err;
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
