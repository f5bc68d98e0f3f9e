// The extract file under conditions the field has: another process's lock on
// it, a signal in the middle of a large write, paths written for the legacy
// platform, overlong link chains (a directory removed during an append:
// extract_writer_test). The real tabfetch binary against the throwaway
// server; every case checks the console output, the standard-error line and
// the file afterwards.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "testsupport/fault_support.h"
#include "testsupport/legacy_texts.h"
#include "testsupport/throwaway_mariadb.h"

namespace {

namespace fs = std::filesystem;
using testsupport::ListDirectory;
using testsupport::Summary;
using testsupport::ToolResult;
using testsupport::Workspace;
using testsupport::WriteFault;

using testsupport::kOpenFailed;

// KLEIN: three records of 8 bytes. GROSS: 20,000 records of 100 bytes (2 MB),
// many writes when they are cut into pieces.
const std::string kQueryDefinition =
    testsupport::Section("KLEIN", {"SELECT LPAD(seq, 8, '0') FROM seq_1_to_3"},
                         {{"K", "CHAR", 8}}) +
    testsupport::Section("GROSS",
                         {"SELECT LPAD(seq, 8, '0'), REPEAT('x', 92) FROM "
                          "seq_1_to_20000"},
                         {{"K", "CHAR", 8}, {"V", "CHAR", 92}});

const std::string kKlein = "000000010000000200000003";

class ExtractFileTest : public testsupport::WorkspaceTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    if (HasFatalFailure()) return;
    WriteServerFiles(kQueryDefinition);
  }

  // A GROSS run writing `target` in 64 KiB pieces that stops after its first
  // write (for a file "go" that never comes); Started() waits for that point.
  testsupport::StartedTool StartPaused(const std::string& target,
                                       const char* flag) {
    const std::string dir = fs::path(ws_.At(target)).parent_path().string();
    WriteFault fault{dir, -1, 64 * 1024, -1};
    fault.ready = ws_.root() + "/ready";
    fault.go = ws_.root() + "/go";
    fs::remove(fault.ready);
    fs::remove(fault.go);
    return testsupport::StartTool(Workspace::Binary(), ws_.cwd(),
                                  {"GROSS", "X", target, flag},
                                  testsupport::WriteFaultEnv(fault));
  }
  // Whether the paused run has written its first piece (false after a
  // minute without).
  bool Started() const {
    return testsupport::WaitUntil(
        [this] { return fs::exists(ws_.root() + "/ready"); });
  }
};

TEST_F(ExtractFileTest, LockHeldByAnotherProcessEndsAsAnOpenFailure) {
  for (int kind : {LOCK_EX, LOCK_SH}) {
    for (const char* flag : {"1", "0"}) {
      SCOPED_TRACE(std::string(kind == LOCK_EX ? "exclusive" : "shared") +
                   " lock, flag " + flag);
      ws_.WriteFile("out.txt", "OLD");
      const int holder = ::open(ws_.At("out.txt").c_str(), O_RDONLY);
      ASSERT_GE(holder, 0);
      ASSERT_EQ(::flock(holder, kind), 0);
      const ToolResult r =
          ws_.Run({"KLEIN", "X", "out.txt", flag}, {"TABFETCH_LOCK_TIMEOUT=1"});
      ::close(holder);
      EXPECT_EQ(r.exit_code, 0);
      EXPECT_EQ(r.out, kOpenFailed + Summary(0, "out.txt"));
      EXPECT_EQ(r.err,
                "tabfetch: gave up waiting for the lock (flock) on extract "
                "file out.txt after 1.000 s: another process holds it\n");
      EXPECT_EQ(ws_.ReadFile("out.txt"), "OLD");
      EXPECT_EQ(ListDirectory(ws_.cwd()),
                (std::vector<std::string>{"TABFETCH.MARIADB.INI", "out.txt"}));
    }
  }
  // A value that is no number of seconds is named, and the run goes on with
  // the default wait.
  const ToolResult r =
      ws_.Run({"KLEIN", "X", "out.txt", "0"}, {"TABFETCH_LOCK_TIMEOUT=zehn"});
  EXPECT_EQ(r.out, Summary(3, "out.txt"));
  EXPECT_EQ(r.err,
            "tabfetch: TABFETCH_LOCK_TIMEOUT=zehn is not a whole number of "
            "seconds from 0 to 86400; waiting 30 s\n");
  EXPECT_EQ(ws_.ReadFile("out.txt"), "OLD" + kKlein);
}

TEST_F(ExtractFileTest, SignalInTheMiddleOfALargeWriteLeavesTheOldFile) {
  struct Case {
    int sig;
    const char* flag;
    const char* old;  // nullptr: no file before the run
  };
  const Case kCases[] = {
      {SIGTERM, "1", "OLD"}, {SIGINT, "1", nullptr},  {SIGTERM, "0", "OLD"},
      {SIGINT, "0", "OLD"},  {SIGTERM, "0", nullptr},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(strsignal(c.sig)) + ", flag " + c.flag +
                 (c.old ? ", existing file" : ", new file"));
    fs::remove(ws_.At("out.txt"));
    if (c.old != nullptr) ws_.WriteFile("out.txt", c.old);
    testsupport::StartedTool run = StartPaused("out.txt", c.flag);
    ASSERT_GT(run.pid, 0);
    const bool started = Started();
    ASSERT_EQ(::kill(run.pid, c.sig), 0);
    const ToolResult r = testsupport::WaitTool(run);
    ASSERT_TRUE(started) << "the run never wrote: " << r.out << r.err;
    EXPECT_EQ(r.signal, c.sig) << "exit code " << r.exit_code;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(ws_.ReadFile("out.txt"), c.old ? c.old : "<missing>");
    std::vector<std::string> want = {"TABFETCH.MARIADB.INI"};
    if (c.old != nullptr) want.push_back("out.txt");
    EXPECT_EQ(ListDirectory(ws_.cwd()), want);
  }
}

// Whether any process still holds the file `ino` on `dev` open.
bool HeldOpenAnywhere(dev_t dev, ino_t ino) {
  std::error_code ec;
  for (const auto& proc : fs::directory_iterator("/proc", ec)) {
    for (const auto& fd : fs::directory_iterator(proc.path() / "fd", ec)) {
      struct stat st;
      if (::stat(fd.path().c_str(), &st) == 0 && st.st_dev == dev &&
          st.st_ino == ino && st.st_nlink == 0) {
        return true;
      }
    }
  }
  return false;
}

// A large extract that a replace takes the place of is freed by a detached
// closer: the run returns without waiting for it, and the closer lets go.
TEST_F(ExtractFileTest, ReplacedLargeExtractIsLetGo) {
  ws_.WriteFile("out.txt", std::string(std::size_t{40} << 20, 'o'));
  struct stat old;
  ASSERT_EQ(::stat(ws_.At("out.txt").c_str(), &old), 0);
  const ToolResult r = ws_.Run({"KLEIN", "X", "out.txt", "1"});
  EXPECT_EQ(r.out, Summary(3, "out.txt"));
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(ws_.ReadFile("out.txt"), kKlein);
  EXPECT_TRUE(testsupport::WaitUntil(
      [&old] { return !HeldOpenAnywhere(old.st_dev, old.st_ino); }, 30));
}

TEST_F(ExtractFileTest, PathsWrittenForTheLegacyPlatform) {
  struct Case {
    const char* existing;  // a file made before the run, relative to cwd
    const char* arg;
    const char* written;  // the file that gets the records
  };
  const Case kCases[] = {
      {"../out/keep", "..\\out\\x.txt", "../out/x.txt"},
      {"SUB/keep", "SUB\\Y.TXT", "SUB/Y.TXT"},
      {"sub/y.txt", "SUB\\Y.TXT", "sub/y.txt"},
      {"../Out/keep", "../out/x.txt", "../Out/x.txt"},
  };
  for (const Case& c : kCases) {
    for (const char* flag : {"1", "0"}) {
      SCOPED_TRACE(std::string(c.arg) + ", flag " + flag);
      for (const char* dir : {"../out", "../Out", "SUB", "sub"}) {
        fs::remove_all(ws_.At(dir));
      }
      ws_.WriteFile(c.existing, "OLD");
      const ToolResult r = ws_.Run({"KLEIN", "X", c.arg, flag});
      EXPECT_EQ(r.exit_code, 0);
      EXPECT_EQ(r.out, Summary(3, c.arg));
      EXPECT_EQ(r.err, "");
      const bool appended =
          std::string(flag) == "0" && std::string(c.existing) == c.written;
      EXPECT_EQ(ws_.ReadFile(c.written), appended ? "OLD" + kKlein : kKlein);
      for (const auto& name : ListDirectory(ws_.cwd())) {
        EXPECT_EQ(name.find('\\'), std::string::npos) << name;
      }
    }
  }
}

TEST_F(ExtractFileTest, LinkChainLongerThanFortyIsRefused) {
  ws_.WriteFile("real.txt", "OLD");
  for (int i = 40; i >= 0; --i) {
    fs::create_symlink(i == 40 ? "real.txt" : "l" + std::to_string(i + 1),
                       ws_.At("l" + std::to_string(i)));
  }
  for (const char* flag : {"1", "0"}) {
    SCOPED_TRACE(std::string("flag ") + flag);
    ToolResult r = ws_.Run({"KLEIN", "X", "l0", flag});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.out, kOpenFailed + Summary(0, "l0"));
    EXPECT_EQ(r.err, testsupport::OpenFailedLine("l0", ELOOP));
    EXPECT_EQ(ws_.ReadFile("real.txt"), "OLD");
    for (int i = 0; i <= 40; ++i) {
      EXPECT_TRUE(fs::is_symlink(ws_.At("l" + std::to_string(i)))) << i;
    }
    // Forty links are followed, as open() follows them.
    r = ws_.Run({"KLEIN", "X", "l1", flag});
    EXPECT_EQ(r.out, Summary(3, "l1"));
    EXPECT_TRUE(fs::is_symlink(ws_.At("l1")));
    ws_.WriteFile("real.txt", "OLD");
  }
}

}  // namespace
