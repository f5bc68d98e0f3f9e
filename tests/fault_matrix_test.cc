// The fault matrix: the real tabfetch binary against the throwaway server
// while something around it fails (full disk, failing sync, read-only or
// impossible targets, unreadable configuration, a server that is gone or
// dies mid-result, refused logins). Every case checks the console output, the
// exit code and the extract file afterwards: it is the complete new extract
// or exactly the old one, and no temporary file is left behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "testsupport/fault_support.h"
#include "testsupport/legacy_texts.h"
#include "testsupport/throwaway_mariadb.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ListDirectory;
using testsupport::MatchesPattern;
using testsupport::ToolResult;
using testsupport::Workspace;
using testsupport::WriteFault;
using testsupport::Summary;
using testsupport::WriteFaultEnv;
using testsupport::OpenFailedLine;
using testsupport::WriteFailedLine;

using testsupport::kOpenFailed;
using testsupport::kWriteFailed;
const char kMissing[] = "<missing>";

std::string TableName() { return testsupport::TestTable("fm"); }

// The one line of a result that broke off after some rows with `error`.
std::string BrokeOff(const std::string& error, const std::string& message) {
  return "tabfetch: the result broke off after # rows: error " + error + ": " +
         message + "\n";
}

// EXTRAKT: CHAR 8 + CHAR 20 = 28 bytes a record, three rows.
// GROSS: CHAR 8 + CHAR 92 = 100 bytes a record, 2000 rows (200,000 bytes),
// more than the small file system of the disk-full case holds.
// LANGSAM: 5000 rows of about 2 KB that the server sends over 10 seconds.
// VIEL: 400,000 rows of 100 bytes (40 MB), more than a process limited to
// 24 MiB of address space holds.
std::string QueryDefinition() {
  using testsupport::Section;
  const testsupport::Column k = {"K", "CHAR", 8};
  return Section("EXTRAKT", {"SELECT K, V FROM " + TableName()},
                 {k, {"V", "CHAR", 20}}) +
         Section("ABBRUCH",
                 {"SELECT LPAD(PALVDATA.fm_stop(seq), 8, '0'), "
                  "REPEAT('z', 500)",
                  "FROM seq_1_to_5000"},
                 {k, {"V", "CHAR", 10}}) +
         Section("GROSS",
                 {"SELECT LPAD(seq, 8, '0'), REPEAT('x', 92) FROM "
                  "seq_1_to_2000"},
                 {k, {"V", "CHAR", 92}}) +
         Section("VIEL",
                 {"SELECT LPAD(seq, 8, '0'), REPEAT('v', 92)",
                  "FROM seq_1_to_400000"},
                 {k, {"V", "CHAR", 92}}) +
         Section("LANGSAM",
                 {"SELECT LPAD(seq, 8, '0'), REPEAT('y', 2000), SLEEP(0.002)",
                  "FROM seq_1_to_5000"},
                 {k, {"V", "CHAR", 10}});
}

const std::string kExtrakt =
    "A1      "
    "erste Zeile         "
    "B2      "
    "zweite Zeile        "
    "C3      "
    "dritte Zeile        ";

std::string NumberedExtract(int rows, int text_width, char fill) {
  std::string out;
  for (int i = 1; i <= rows; ++i) {
    std::string key = std::to_string(i);
    out += std::string(8 - key.size(), '0') + key;
    out += std::string(static_cast<size_t>(text_width), fill);
  }
  return out;
}

const std::string kGross = NumberedExtract(2000, 92, 'x');

class FaultMatrixTest : public testsupport::WorkspaceTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    if (HasFatalFailure()) return;
    const std::string t = "PALVDATA." + TableName();
    Sql("CREATE OR REPLACE TABLE " + t + " (K VARCHAR(8), V VARCHAR(40));"
        " INSERT INTO " + t + " VALUES ('C3', 'dritte Zeile'),"
        " ('A1', 'erste Zeile'), ('B2', 'zweite Zeile')");
    WriteServerFiles(QueryDefinition());
  }

  // Puts `content` at `name`, or removes the file when `content` is
  // kMissing.
  void Prepare(const std::string& name, const std::string& content) {
    if (content == kMissing) {
      fs::remove(ws_.At(name));
    } else {
      ws_.WriteFile(name, content);
    }
  }
};

// The old content of the target before a failing write: none, a few bytes, or
// a file that takes most of the small file system.
const std::string kOldContents[] = {kMissing, "OLD", std::string(40000, 'o')};

// Standard error after a failed connect: one line naming the host, the
// number that standard output shows, and the library's message.
void ExpectConnectCause(const ToolResult& r, const std::string& host) {
  const std::string status = "dbConnect_Status: ";
  const size_t at = r.out.rfind(status);
  ASSERT_NE(at, std::string::npos) << r.out;
  const std::string number = r.out.substr(at + status.size());
  EXPECT_TRUE(testsupport::MatchesPattern(
      r.err, "tabfetch: cannot connect to the database on host \"" + host +
                 "\": error " + number.substr(0, number.size() - 1) + ": *\n"))
      << r.err;
}

// The environment for a run whose writes to `dir` meet a full disk after
// 64 KiB: none where `tmpfs` holds a real one; otherwise (not root, or no
// mount in this container) the preloaded library fails the same writes with
// ENOSPC.
std::vector<std::string> FullAfter64KiB(const testsupport::TmpfsMount& tmpfs,
                                        const std::string& dir) {
  ::testing::Test::RecordProperty(
      "disk_full", tmpfs.mounted() ? "tmpfs of 64 KiB"
                                   : "ENOSPC injected after 64 KiB");
  if (tmpfs.mounted()) return {};
  std::cout << "tmpfs not available (" << tmpfs.error()
            << "); injecting ENOSPC instead\n";
  return WriteFaultEnv(WriteFault{dir, 64 * 1024, -1, -1});
}

TEST_F(FaultMatrixTest, DiskFullLeavesTheOldFile) {
  const std::string dir = ws_.At("voll");
  fs::create_directory(dir);
  testsupport::TmpfsMount tmpfs(dir, 64);
  const std::vector<std::string> env = FullAfter64KiB(tmpfs, dir);

  for (const char* flag : {"1", "0"}) {
    for (const std::string& old : kOldContents) {
      SCOPED_TRACE(std::string("flag ") + flag + ", old size " +
                   std::to_string(old.size()));
      Prepare("voll/out.txt", old);
      ToolResult r = ws_.Run({"GROSS", "X", "voll/out.txt", flag}, env);
      EXPECT_EQ(r.exit_code, 0);
      EXPECT_EQ(r.out, kWriteFailed + Summary(0, "voll/out.txt"));
      EXPECT_EQ(r.err, WriteFailedLine("voll/out.txt", ENOSPC));
      EXPECT_EQ(ws_.ReadFile("voll/out.txt"), old);
      EXPECT_EQ(ListDirectory(dir), old == kMissing
                                        ? std::vector<std::string>{}
                                        : std::vector<std::string>{"out.txt"});
    }
  }

  // With the trace on, WriteFile's closing line is missing.
  ToolResult r = ws_.Run({"GROSS", "X", "voll/out.txt", "1", "/D"}, env);
  EXPECT_EQ(r.out, testsupport::DebugTrace(" SELECT LPAD(seq, 8, '0'), "
                                           "REPEAT('x', 92) FROM "
                                           "seq_1_to_2000 ") +
                       "Str WriteFile\n" + kWriteFailed +
                       Summary(0, "voll/out.txt"));

  // What fits is written: the failures above are the full disk's.
  r = ws_.Run({"EXTRAKT", "X", "voll/out.txt", "1"}, env);
  EXPECT_EQ(r.out, Summary(3, "voll/out.txt"));
  EXPECT_EQ(ws_.ReadFile("voll/out.txt"), kExtrakt);
  r = ws_.Run({"EXTRAKT", "X", "voll/out.txt", "0"}, env);
  EXPECT_EQ(r.out, Summary(3, "voll/out.txt"));
  EXPECT_EQ(ws_.ReadFile("voll/out.txt"), kExtrakt + kExtrakt);

  // A device that is always full is written straight, and fails.
  struct stat st;
  ASSERT_EQ(::stat("/dev/full", &st), 0);
  ASSERT_TRUE(S_ISCHR(st.st_mode));
  for (const char* flag : {"1", "0"}) {
    SCOPED_TRACE(std::string("/dev/full, flag ") + flag);
    r = ws_.Run({"GROSS", "X", "/dev/full", flag});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, kWriteFailed + Summary(0, "/dev/full"));
    EXPECT_EQ(r.err, WriteFailedLine("/dev/full", ENOSPC));
  }
}

// A writable file in a directory the run may not write to cannot be replaced
// through a new file, so it is rewritten in place. A full disk half-way
// through puts the old content back.
TEST_F(FaultMatrixTest, DiskFullWhileRewritingInPlace) {
  const std::string dir = ws_.At("fest");
  fs::create_directory(dir);
  testsupport::TmpfsMount tmpfs(dir, 64);
  const std::vector<std::string> env = FullAfter64KiB(tmpfs, dir);
  testsupport::OpenWorkspaceToOthers(ws_);
  for (const std::string& old : {std::string("OLD"), kOldContents[2]}) {
    SCOPED_TRACE("old size " + std::to_string(old.size()));
    fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add);
    ws_.WriteFile("fest/out.txt", old);
    fs::permissions(dir + "/out.txt",
                    fs::perms::owner_read | fs::perms::owner_write |
                        fs::perms::group_read | fs::perms::group_write |
                        fs::perms::others_read | fs::perms::others_write);
    fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec |
                             fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
    ToolResult r = testsupport::RunUnprivileged(
        ws_, {"GROSS", "X", "fest/out.txt", "1"}, env);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, kWriteFailed + Summary(0, "fest/out.txt"));
    EXPECT_EQ(r.err, WriteFailedLine("fest/out.txt", ENOSPC));
    EXPECT_EQ(ws_.ReadFile("fest/out.txt"), old);
    EXPECT_EQ(ListDirectory(dir), std::vector<std::string>{"out.txt"});
  }

  // What fits is rewritten in place.
  ToolResult r = testsupport::RunUnprivileged(
      ws_, {"EXTRAKT", "X", "fest/out.txt", "1"}, env);
  EXPECT_EQ(r.out, Summary(3, "fest/out.txt"));
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ws_.ReadFile("fest/out.txt"), kExtrakt);
  EXPECT_EQ(ListDirectory(dir), std::vector<std::string>{"out.txt"});
}

// Short writes alone are no failure: the writer goes on until all is out.
// (Failing writes of the real binary: DiskFullLeavesTheOldFile; every kind of
// write, sync and close failure: the fault table of extract_writer_test.)
TEST_F(FaultMatrixTest, ShortWritesAreNoFailure) {
  const std::string dir = ws_.At("kaputt");
  fs::create_directory(dir);
  Prepare("kaputt/out.txt", "OLD");
  ToolResult r = ws_.Run({"GROSS", "X", "kaputt/out.txt", "0"},
                         WriteFaultEnv({dir, -1, 777, -1}));
  EXPECT_EQ(r.out, Summary(2000, "kaputt/out.txt"));
  EXPECT_EQ(ws_.ReadFile("kaputt/out.txt"), "OLD" + kGross);
}

// Targets that cannot be opened: a read-only file and a new file in a
// directory without write permission (for a user to whom permission bits
// apply), a directory, a missing directory, a name too long for the file
// system. With /D the trace ends after WriteFile's first line. Nothing
// around the target changes.
TEST_F(FaultMatrixTest, UnopenableTargetIsNotTouched) {
  constexpr fs::perms kReadOnly =
      fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read;
  constexpr fs::perms kSearchable = kReadOnly | fs::perms::owner_exec |
                                    fs::perms::group_exec |
                                    fs::perms::others_exec;
  ws_.WriteFile("ordner/drin.txt", "DRIN");
  ws_.WriteFile("ro.txt", "OLD");
  fs::create_directory(ws_.At("zu"));
  testsupport::OpenWorkspaceToOthers(ws_);
  fs::permissions(ws_.At("zu"), kSearchable);
  fs::permissions(ws_.At("ro.txt"), kReadOnly);
  struct Case {
    const char* target;
    int error;
    bool unprivileged;
  };
  const std::string too_long(4000, 'n');
  const Case kCases[] = {
      {"ro.txt", EACCES, true},         {"zu/neu.txt", EACCES, true},
      {"ordner", EISDIR, false},        {"ordner/", EISDIR, false},
      {"fehlt/out.txt", ENOENT, false}, {"fehlt/auch/out.txt", ENOENT, false},
      {too_long.c_str(), ENAMETOOLONG, false},
  };
  const std::string trace =
      testsupport::DebugTrace(" SELECT K, V FROM " + TableName() + " ") +
      "Str WriteFile\n";
  for (const Case& c : kCases) {
    for (const char* flag : {"1", "0"}) {
      SCOPED_TRACE(std::string(c.target).substr(0, 40) + ", flag " + flag);
      const std::vector<std::string> args = {"EXTRAKT", "X", c.target, flag,
                                             "/D"};
      const ToolResult r = c.unprivileged
                               ? testsupport::RunUnprivileged(ws_, args)
                               : ws_.Run(args);
      EXPECT_EQ(r.exit_code, 0);
      EXPECT_EQ(r.out, trace + kOpenFailed + Summary(0, c.target));
      EXPECT_EQ(r.err, OpenFailedLine(c.target, c.error));
      // The working directory is writable: nothing was renamed over the
      // read-only file.
      EXPECT_EQ(ListDirectory(ws_.cwd()),
                (std::vector<std::string>{"TABFETCH.MARIADB.INI", "ordner",
                                          "ro.txt", "zu"}));
      EXPECT_EQ(ws_.ReadFile("ro.txt"), "OLD");
      EXPECT_EQ(fs::status(ws_.At("ro.txt")).permissions() & fs::perms::mask,
                kReadOnly);
      EXPECT_EQ(ListDirectory(ws_.At("zu")), std::vector<std::string>{});
      EXPECT_EQ(ListDirectory(ws_.At("ordner")),
                std::vector<std::string>{"drin.txt"});
      EXPECT_EQ(ws_.ReadFile("ordner/drin.txt"), "DRIN");
    }
  }

  // The same user may write a file it has write permission for.
  const ToolResult r =
      testsupport::RunUnprivileged(ws_, {"EXTRAKT", "X", "rw.txt", "1"});
  EXPECT_EQ(r.out, Summary(3, "rw.txt"));
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ws_.ReadFile("rw.txt"), kExtrakt);
}

TEST_F(FaultMatrixTest, RefusedLoginsLeaveTheOldFile) {
  const std::string user = "fm_ohne_recht_" + std::to_string(::getpid());
  Sql("DROP USER IF EXISTS '" + user + "'@'localhost'");
  Sql("CREATE USER '" + user + "'@'localhost' IDENTIFIED BY 'pw'");
  struct Case {
    testsupport::ConnectionValues values;
    const char* want;
  };
  const Case kCases[] = {
      {{"localhost", server().user, "falsch", "MARIADB"},
       "dbConnect_Status: 1045\n"},
      {{"127.0.0.1", server().user, "", "MARIADB"}, "dbConnect_Status: 1045\n"},
      // A user without rights on PALVDATA.
      {{"localhost", user, "pw", "MARIADB"}, "dbConnect_Status: 1044\n"},
      // The legacy tool emptied a host of 42 characters or more and so
      // connected to the local server instead; now it is used as given.
      {{"no-such-host-with-a-long-name.example.invalid", server().user,
        server().password, "MARIADB"},
       "dbConnect_Status: 2005\n"},
  };
  for (const Case& c : kCases) {
    for (const char* flag : {"1", "0"}) {
      SCOPED_TRACE(std::string(c.want) + "flag " + flag);
      ws_.WriteSettings(c.values);
      ws_.WriteFile("out.txt", "OLD");
      // With /D the trace ends after its first line: the connect comes
      // before the query definition is read.
      const bool debug = std::string(flag) == "1";
      std::vector<std::string> args = {"EXTRAKT", "X", "out.txt", flag};
      if (debug) args.push_back("/D");
      ToolResult r = ws_.Run(args);
      EXPECT_EQ(r.exit_code, 0);
      EXPECT_EQ(r.out, (debug ? " Aktiviert Debugger\n" : "") +
                           std::string(c.want));
      ExpectConnectCause(r, c.values.host);
      EXPECT_EQ(ws_.ReadFile("out.txt"), "OLD");
    }
  }
  Sql("DROP USER '" + user + "'@'localhost'");
}

// Configuration that cannot be read: a file without read permission (run
// as a user for whom that counts) or a directory where the file should be.
// The settings name no user then, and no connect is attempted (an empty user
// would be the OS user): the run ends as the legacy platform's server
// refused an empty user. (The settings file as a directory:
// standard_error_test.)
TEST_F(FaultMatrixTest, ConfigurationThatCannotBeRead) {
  const std::string settings = ws_.SettingsPath();
  const std::string definition = ws_.At("TABFETCH.MARIADB.INI");
  struct Case {
    std::string path;
    bool directory;
    std::vector<std::string> args;
    int exit_code;
    std::string out;
    std::string err;  // MatchesPattern
  };
  const std::string no_settings = "tabfetch: cannot read settings file " +
                                  fs::canonical(settings).string() +
                                  ": Permission denied\n"
                                  "tabfetch: no connection attempted*\n";
  auto no_definition = [&](const char* why) {
    return "tabfetch: cannot read query definition file " +
           fs::canonical(definition).string() + ": " + why + " (*)\n";
  };
  const Case kCases[] = {
      {settings, false, {"EXTRAKT", "X", "out.txt", "1", "/D"}, 0,
       " Aktiviert Debugger\ndbConnect_Status: 1045\n", no_settings},
      {definition, false, {"EXTRAKT", "X", "out.txt", "1"}, 3, "",
       no_definition("Permission denied")},
      {definition, false, {"EXTRAKT", "X", "out.txt", "0", "/D"}, 3,
       " Aktiviert Debugger\nStr GetIniValues\n",
       no_definition("Permission denied")},
      {definition, true, {"EXTRAKT", "X", "out.txt", "0"}, 3, "",
       no_definition("Is a directory")},
      {definition, true, {"EXTRAKT", "X", "out.txt", "1", "/D"}, 3,
       " Aktiviert Debugger\nStr GetIniValues\n",
       no_definition("Is a directory")},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.path + (c.directory ? " a directory, " : " mode 000, ") +
                 c.args[3] + (c.args.size() > 4 ? " /D" : ""));
    fs::remove_all(c.path);
    ws_.WriteSettings(ServerSettings());
    ws_.WriteQueryDefinition("MARIADB", QueryDefinition());
    ws_.WriteFile("out.txt", "OLD");
    testsupport::OpenWorkspaceToOthers(ws_);
    // Readable, the same user gets its extract.
    ToolResult r =
        testsupport::RunUnprivileged(ws_, {"EXTRAKT", "X", "good.txt", "1"});
    EXPECT_EQ(r.out, Summary(3, "good.txt"));
    if (c.directory) {
      fs::remove(c.path);
      fs::create_directory(c.path);
    } else {
      fs::permissions(c.path, fs::perms::none);
    }
    r = testsupport::RunUnprivileged(ws_, c.args);
    EXPECT_EQ(r.exit_code, c.exit_code);
    EXPECT_EQ(r.out, c.out);
    EXPECT_TRUE(MatchesPattern(r.err, c.err)) << r.err;
    EXPECT_EQ(ws_.ReadFile("out.txt"), "OLD");
  }
}

TEST_F(FaultMatrixTest, UnknownDatabaseThenStoppedServer) {
  testsupport::SecondServer second;
  ASSERT_EQ(second.error(), "");
  ASSERT_EQ(second.AdminSql("DROP DATABASE PALVDATA"), "");
  ws_.WriteFile("out.txt", "OLD");

  // root may see every database: PALVDATA is unknown, not forbidden.
  ws_.WriteSettings({"localhost", "root", "", "MARIADB"});
  ToolResult r = ws_.Run({"EXTRAKT", "X", "out.txt", "1"}, second.Env());
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.out, "dbConnect_Status: 1049\n");
  ExpectConnectCause(r, "localhost");

  ASSERT_EQ(second.Stop(), "");
  // Nothing behind the library's default socket (NET8 empty or localhost)
  // or TCP port.
  for (const char* host : {"", "localhost", "127.0.0.1"}) {
    for (const char* flag : {"1", "0"}) {
      SCOPED_TRACE(std::string(host) + ", flag " + flag);
      ws_.WriteSettings(ServerSettings(host));
      r = ws_.Run({"EXTRAKT", "X", "out.txt", flag}, second.Env());
      EXPECT_EQ(r.exit_code, 0);
      EXPECT_EQ(r.out, "dbConnect_Status: 2002\n");
      ExpectConnectCause(r, host);
      EXPECT_EQ(ws_.ReadFile("out.txt"), "OLD");
    }
  }
}

// The server dies (SIGKILL) while it sends a large result that tabfetch is
// reading. The run reports no records and leaves the old file; had the
// result arrived first, the file would be the complete extract.
TEST_F(FaultMatrixTest, ServerKilledWhileSendingTheResult) {
  for (const char* flag : {"1", "0"}) {
    SCOPED_TRACE(std::string("flag ") + flag);
    testsupport::SecondServer second;
    ASSERT_EQ(second.error(), "");
    ws_.WriteFile("out.txt", "OLD");
    testsupport::StartedTool run =
        testsupport::StartTool(Workspace::Binary(), ws_.cwd(),
                               {"LANGSAM", "X", "out.txt", flag}, second.Env());
    ASSERT_GT(run.pid, 0);

    // Wait until the statement has been running (and sending) for a while.
    const bool running = second.WaitForValue(
        "SELECT COUNT(*) FROM information_schema.PROCESSLIST"
        " WHERE USER = 'tabfetch' AND COMMAND = 'Query' AND TIME_MS > 500",
        "1");
    ASSERT_EQ(::kill(second.pid(), SIGKILL), 0);
    ToolResult r = testsupport::WaitTool(run);
    EXPECT_TRUE(running) << "the statement was not seen running";
    EXPECT_EQ(r.exit_code, 0);
    std::cout << "server killed, tabfetch printed: " << r.out;
    if (r.out == Summary(0, "out.txt")) {
      EXPECT_EQ(ws_.ReadFile("out.txt"), "OLD");
      // The rows arrive as they are fetched: the result broke off after
      // some of them, and standard error names the library's error.
      EXPECT_TRUE(MatchesPattern(r.err, BrokeOff("2013", "*")) ||
                  MatchesPattern(r.err, BrokeOff("2006", "*")) ||
                  MatchesPattern(r.err, BrokeOff("2055", "*")))
          << r.err;
    } else {
      EXPECT_EQ(r.err, "");
      // Only possible when the whole result arrived before the kill.
      const std::string all = NumberedExtract(5000, 10, 'y');
      EXPECT_EQ(r.out, Summary(5000, "out.txt"));
      EXPECT_EQ(ws_.ReadFile("out.txt"),
                std::string(flag) == "1" ? all : "OLD" + all);
    }
    EXPECT_EQ(ListDirectory(ws_.cwd()),
              (std::vector<std::string>{"TABFETCH.MARIADB.INI", "out.txt"}));
  }
}

// A server error in mid-result (SIGNAL in a stored function at row 4000,
// some 2 MB into the result): as when a stored result failed as a whole, no
// record is written, no read error is printed, and standard error says why.
TEST_F(FaultMatrixTest, ServerErrorAfterSomeRows) {
  Sql("CREATE OR REPLACE FUNCTION PALVDATA.fm_stop(n INT) RETURNS INT "
      "DETERMINISTIC BEGIN IF n = 4000 THEN SIGNAL SQLSTATE '45000' SET "
      "MESSAGE_TEXT = 'Abbruch bei 4000'; END IF; RETURN n; END");
  for (const char* flag : {"1", "0"}) {
    SCOPED_TRACE(std::string("flag ") + flag);
    ws_.WriteFile("out.txt", "OLD");
    ToolResult r = ws_.Run({"ABBRUCH", "X", "out.txt", flag});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, Summary(0, "out.txt"));
    EXPECT_TRUE(MatchesPattern(r.err, BrokeOff("1644", "Abbruch bei 4000")))
        << r.err;
    EXPECT_EQ(ws_.ReadFile("out.txt"), "OLD");
  }
}

// A memory cgroup of the test's own below this process's (cgroup v2, or the
// v1 memory controller), limited to `bytes`; error() says why none could be
// made (not root, no writable cgroup file system). Removed when it goes.
class MemoryCgroup {
 public:
  explicit MemoryCgroup(std::uint64_t bytes) {
    std::ifstream in("/proc/self/cgroup");
    std::string line;
    while (std::getline(in, line)) {
      const std::size_t a = line.find(':');
      const std::size_t b = line.find(':', a + 1);
      if (a == std::string::npos || b == std::string::npos) continue;
      const std::string controllers = line.substr(a + 1, b - a - 1);
      const std::string path = line.substr(b + 1);
      if (("," + controllers + ",").find(",memory,") != std::string::npos) {
        Make("/sys/fs/cgroup/memory" + path, "memory.limit_in_bytes", bytes);
      } else if (line.compare(0, a, "0") == 0 && controllers.empty() &&
                 dir_.empty()) {
        Make("/sys/fs/cgroup" + path, "memory.max", bytes);
      }
      if (error_.empty() && !dir_.empty()) return;
    }
    if (error_.empty()) error_ = "no memory cgroup";
  }
  ~MemoryCgroup() {
    if (!dir_.empty()) ::rmdir(dir_.c_str());
  }
  const std::string& error() const { return error_; }
  // The cgroup.procs file a child writes itself into.
  std::string procs() const { return dir_ + "/cgroup.procs"; }

 private:
  void Make(const std::string& parent, const char* file, std::uint64_t bytes) {
    const std::string dir = parent + "/tabfetch-test-" + std::to_string(::getpid());
    if (::mkdir(dir.c_str(), 0755) != 0) {
      error_ = dir + ": " + std::strerror(errno);
      return;
    }
    std::ofstream limit(dir + "/" + file);
    limit << bytes;
    limit.close();
    if (!limit) {
      ::rmdir(dir.c_str());
      error_ = dir + "/" + file + ": cannot be written";
      return;
    }
    dir_ = dir;
    error_.clear();
  }

  std::string dir_;
  std::string error_;
};

// Above the memory budget the sorted runs go to an unnamed file in TMPDIR.
// Where that works the extract is complete; where TMPDIR is missing, full or
// would be left with less than 5 % free, the write fails as on a full disk,
// standard error names TMPDIR, and the extract file stays as it was. Under a
// memory limit (ulimit -v, a cgroup) the budget follows the limit, and a run
// either writes the complete extract or, out of memory while the rows
// arrive, writes nothing: no "Fehler Lesen" line, 0 records, the file as it
// was (the legacy tool wrote the records read so far, which read as a
// complete extract).
TEST_F(FaultMatrixTest, MemoryBudgetEndsInAWholeExtractOrNone) {
  const std::string dir = ws_.At("tmp");
  fs::create_directory(dir);
  testsupport::TmpfsMount tmpfs(dir, 64);
  ASSERT_TRUE(tmpfs.mounted()) << tmpfs.error();
  const std::string missing = ws_.At("fehlt");
  MemoryCgroup cgroup(std::uint64_t{200} << 20);
  if (!cgroup.error().empty()) {
    std::cout << "no cgroup of our own (" << cgroup.error()
              << "): the address space limits only\n";
  }
  constexpr long kCgroup = -1;
  struct Case {
    std::string tmpdir;
    std::string budget;
    long limit_mib;  // an address space limit, 0 for none, or kCgroup
    const char* section;
    int exit_code;  // under strict codes; 0: the extract is complete
    std::string out;
    std::string err;  // MatchesPattern
  };
  const std::string whole = Summary(2000, "out.txt");
  const std::string spill_failed = kWriteFailed + Summary(0, "out.txt");
  const std::string lowered =
      "tabfetch: TABFETCH_MEMORY_BUDGET of 1073741824 bytes is more than "
      "the memory limits of the process leave; 104857600 bytes are used\n";
  const Case kCases[] = {
      {ws_.cwd(), "1", 0, "GROSS", 0, whole, ""},  // all through the file
      // 200,000 bytes into 64 KiB.
      {dir, "1", 0, "GROSS", 13, spill_failed,
       "tabfetch: the temporary file in TMPDIR " + dir +
           " would leave less than 5 % of its file system free\n"},
      {missing, "1", 0, "GROSS", 13, spill_failed,
       "tabfetch: cannot create the temporary file in TMPDIR " + missing +
           ": " + std::strerror(ENOENT) + "\n"},
      {dir, "512M", 0, "GROSS", 0, whole, ""},  // nothing spilled
      // Fits the smallest budget: TMPDIR not touched.
      {missing, "16M", 0, "GROSS", 0, whole, ""},
      // 16 MiB of records (the smallest budget) beside the program itself.
      {ws_.cwd(), "", 24, "VIEL", 12, Summary(0, "out.txt"),
       "tabfetch: out of memory after # rows (memory budget 16777216 bytes); "
       "nothing is written\n"},
      // A budget above what the limit leaves is named and lowered.
      {ws_.cwd(), "1G", 200, "GROSS", 0, whole, lowered},
      {ws_.cwd(), "1G", kCgroup, "GROSS", 0, whole, lowered},
  };
  for (const Case& c : kCases) {
    if (c.limit_mib == kCgroup && !cgroup.error().empty()) continue;
    if (c.limit_mib > 0 && TABFETCH_SANITIZED) {
      std::cout << "no address space limit under a sanitizer: its shadow "
                   "memory does not fit one\n";
      continue;
    }
    for (const char* flag : {"1", "0"}) {
      SCOPED_TRACE(c.tmpdir + ", budget " + c.budget + ", limit " +
                   std::to_string(c.limit_mib) + ", flag " + flag);
      ws_.WriteFile("out.txt", "OLD");
      std::vector<std::string> args = {Workspace::Binary(), c.section, "X",
                                       "out.txt", flag};
      std::string wrapper = args.front();
      if (c.limit_mib == kCgroup) {
        // The child moves itself into the cgroup, then becomes tabfetch.
        wrapper = "/bin/sh";
        args.insert(args.begin(), {"-c",
                                   "echo $$ > '" + cgroup.procs() +
                                       "' && exec \"$0\" \"$@\""});
      } else if (c.limit_mib > 0) {
        wrapper = "/usr/bin/prlimit";
        args.insert(args.begin(), "--as=" + std::to_string(c.limit_mib << 20));
      } else {
        args.erase(args.begin());
      }
      const ToolResult r = testsupport::RunTool(
          wrapper, ws_.cwd(), args,
          {"TMPDIR=" + c.tmpdir, "TABFETCH_MEMORY_BUDGET=" + c.budget,
           "TABFETCH_STRICT_EXIT=1"});
      EXPECT_EQ(r.exit_code, c.exit_code);
      EXPECT_EQ(r.out, c.out);
      EXPECT_TRUE(MatchesPattern(r.err, c.err)) << r.err;
      EXPECT_TRUE(ws_.ReadFile("out.txt") ==
                  (c.exit_code != 0            ? "OLD"
                   : std::string(flag) == "1" ? kGross
                                               : "OLD" + kGross));
      EXPECT_EQ(ListDirectory(dir), std::vector<std::string>{});
    }
  }
}

}  // namespace
