#include "extract/extract_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/file_util.h"
#include "extract/signal_cleanup.h"
#include "testsupport/fault_support.h"
#include "testsupport/legacy_texts.h"
#include "testsupport/record_oracle.h"
#include "testsupport/temp_dir.h"

namespace extract {
namespace {

namespace fs = std::filesystem;

#if defined(__SANITIZE_THREAD__)
constexpr bool kThreadSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr bool kThreadSanitizer = true;
#else
constexpr bool kThreadSanitizer = false;
#endif
#else
constexpr bool kThreadSanitizer = false;
#endif
using testsupport::InChildWithoutPrivileges;
using testsupport::InsertRecord;
using testsupport::ListDirectory;
using testsupport::ReadFileBytes;
using testsupport::TempDir;

constexpr char kStr[] = "Str WriteFile\n";
constexpr char kEnd[] = "End WriteFile\n";
using testsupport::kOpenFailed;
using testsupport::kWriteFailed;

RecordList MakeList(const std::vector<std::string>& records) {
  RecordList list;
  for (const auto& r : records) EXPECT_EQ(InsertRecord(list, r), 1);
  return list;
}

struct Result {
  int rc;
  std::string out;
  std::string err;  // the "tabfetch: " lines
};

// A memory stream and its text once closed.
class Captured {
 public:
  Captured() : stream_(open_memstream(&buf_, &size_)) {}
  ~Captured() {
    if (stream_ != nullptr) std::fclose(stream_);
    std::free(buf_);
  }
  std::FILE* stream() const { return stream_; }
  std::string Take() {
    std::fclose(std::exchange(stream_, nullptr));
    return std::string(buf_, size_);
  }

 private:
  char* buf_ = nullptr;
  std::size_t size_ = 0;
  std::FILE* stream_;
};

// The file operations the next Write uses (null: the system's).
const common::FileOps* test_ops = nullptr;

Result Write(const std::string& path, int replace_flag, RecordList& list,
             bool debug = true) {
  Captured out, err;
  WriteRequest req{path, replace_flag, debug, out.stream(), err.stream()};
  if (test_ops != nullptr) req.ops = test_ops;
  // As a run writes: a way that fails after the records were written (a
  // file that cannot be named) goes on from what was written.
  req.keep_records = false;
  Result r;
  r.rc = WriteFile(req, list);
  r.out = out.Take();
  r.err = err.Take();
  return r;
}

Result Write(const std::string& path, int replace_flag,
             const std::vector<std::string>& records) {
  RecordList list = MakeList(records);
  return Write(path, replace_flag, list);
}

mode_t ModeOf(const std::string& path) {
  struct stat st;
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

// Injected failures: the writer's write, fsync and close, failing on plan.
struct FailPlan {
  std::size_t fail_after = SIZE_MAX;  // bytes written before write fails
  int write_errno = ENOSPC;
  bool fail_fsync = false;
  bool fail_close = false;
  std::size_t max_chunk = SIZE_MAX;  // short writes
  bool no_tmpfile = false;  // the file system has no unnamed files
  // Called once before the write that crosses this many bytes.
  std::size_t act_after = SIZE_MAX;
  std::function<void()> act = nullptr;
  int rename_errno = 0;  // rename fails with this
};
FailPlan plan;
std::size_t bytes_written = 0;

ssize_t PlannedWrite(int fd, const void* data, std::size_t size) {
  if (plan.act && bytes_written + size > plan.act_after) {
    std::exchange(plan.act, nullptr)();
  }
  if (bytes_written >= plan.fail_after) {
    errno = plan.write_errno;
    return -1;
  }
  size = std::min({size, plan.fail_after - bytes_written, plan.max_chunk});
  const ssize_t n = ::write(fd, data, size);
  if (n > 0) bytes_written += static_cast<std::size_t>(n);
  return n;
}
int PlannedFsync(int fd) {
  if (plan.fail_fsync) {
    errno = EIO;
    return -1;
  }
  return ::fsync(fd);
}
int PlannedOpen(const char* path, int flags, mode_t mode) {
  if (plan.no_tmpfile && (flags & O_TMPFILE) == O_TMPFILE) {
    errno = EOPNOTSUPP;
    return -1;
  }
  return ::open(path, flags, mode);
}
int PlannedClose(int fd) {
  const int rc = ::close(fd);
  if (plan.fail_close) {
    errno = EIO;
    return -1;
  }
  return rc;
}

int PlannedRename(const char* from, const char* to) {
  if (plan.rename_errno != 0) {
    errno = plan.rename_errno;
    return -1;
  }
  return ::rename(from, to);
}

common::FileOps PlannedOps() {
  common::FileOps ops = common::SystemFileOps();
  ops.rename = PlannedRename;
  ops.open = PlannedOpen;
  ops.write = PlannedWrite;
  ops.fsync = PlannedFsync;
  ops.close = PlannedClose;
  return ops;
}
const common::FileOps kPlannedOps = PlannedOps();

// Injected failures of the record list's temporary file (the spill): made,
// written, checked for room or read back at the merge.
enum class SpillFault { kNone, kCreate, kWrite, kFull, kRead };
SpillFault spill_fault = SpillFault::kNone;

common::FileOps SpillOps() {
  common::FileOps ops = common::SystemFileOps();
  ops.open = [](const char* path, int flags, mode_t mode) {
    if (spill_fault == SpillFault::kCreate) {
      errno = EACCES;
      return -1;
    }
    return ::open(path, flags, mode);
  };
  ops.pwrite = [](int fd, const void* data, std::size_t size, off_t at) {
    if (spill_fault == SpillFault::kWrite) {
      errno = EIO;
      return ssize_t{-1};
    }
    return ::pwrite(fd, data, size, at);
  };
  ops.pread = [](int fd, void* data, std::size_t size, off_t at) {
    if (spill_fault == SpillFault::kRead) {
      errno = EIO;
      return ssize_t{-1};
    }
    return ::pread(fd, data, size, at);
  };
  ops.space = [](int fd, std::uint64_t& available, std::uint64_t& total) {
    if (spill_fault != SpillFault::kFull) {
      return common::SystemFileOps().space(fd, available, total);
    }
    total = std::uint64_t{1} << 40;
    available = total / 25;  // 4 % free
    return 0;
  };
  return ops;
}
const common::FileOps kSpillOps = SpillOps();

// The next writes in this scope go through the plan.
class ScopedFailPlan {
 public:
  explicit ScopedFailPlan(const FailPlan& p) {
    plan = p;
    bytes_written = 0;
    test_ops = &kPlannedOps;
  }
  ~ScopedFailPlan() {
    test_ops = nullptr;
    plan = FailPlan();
  }
};

std::string Describe(const Result& r) {
  return std::to_string(r.rc) + "|" + r.out;
}

// Replace (1) and append (0), on an existing and a missing file: the
// records sorted, line feeds as CR LF and nothing else changed, empty
// records no bytes, no records no file opened; the trace lines with the
// debug switch only.
TEST(WriteFileTest, WritesTheSortedRecords) {
  struct Case {
    const char* name;
    int flag;
    std::optional<std::string> old;  // none: no file
    std::vector<std::string> records;
    bool debug;
    std::optional<std::string> want;  // the file afterwards; none: no file
  };
  const std::string old(100, 'o');
  const Case kCases[] = {
      {"replace", 1, "old content that is longer", {"ccc", "aaa", "bbb"}, true,
       "aaabbbccc"},
      {"replace creates", 1, std::nullopt, {"b", "a"}, false, "ab"},
      {"append keeps the old bytes", 0, old, {"zz", "yy"}, true,
       old + "yyzz"},
      // Another run appends its own sorted sequence.
      {"append after an earlier run", 0, old + "yyzz", {"bb", "aa"}, true,
       old + "yyzzaabb"},
      {"append creates", 0, std::nullopt, {"x1", "x0"}, true, "x0x1"},
      {"empty records truncate", 1, "old", {"", ""}, true, ""},
      {"empty records append nothing", 0, "old", {""}, true, "old"},
      {"empty records create", 0, std::nullopt, {"", "", ""}, true, ""},
      {"line feeds", 1, std::nullopt, {"a\nb", "\n\nx", "c\r\x1A"}, true,
       "\r\n\r\nxa\r\nbc\r\x1A"},
      {"no records: replace keeps", 1, "keep", {}, true, "keep"},
      {"no records: append keeps", 0, "keep", {}, true, "keep"},
      {"no records: replace creates nothing", 1, std::nullopt, {}, true,
       std::nullopt},
      {"no records: append creates nothing", 0, std::nullopt, {}, true,
       std::nullopt},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = dir / "out.dat";
    if (c.old) dir.Write("out.dat", *c.old);
    RecordList list = MakeList(c.records);
    const Result r = Write(path, c.flag, list, c.debug);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.out, c.debug ? std::string(kStr) + kEnd : "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(ReadFileBytes(path), c.want.value_or("<missing>"));
    EXPECT_EQ(ListDirectory(dir.path()),
              c.want ? std::vector<std::string>{"out.dat"}
                     : std::vector<std::string>{});
  }
}

TEST(WriteFileTest, ManyRecordsGoOutInOrderAcrossBlocks) {
  TempDir dir;
  const std::string path = dir / "big.dat";
  std::vector<std::string> records;
  std::string want;
  for (int i = 0; i < 30000; ++i) {
    char r[80];
    std::snprintf(r, sizeof r, "TERMINAL-0001 %08d %-40s|", i, "Mueller");
    want += r;
    records.push_back(r);
  }
  std::reverse(records.begin(), records.end());
  EXPECT_EQ(Write(path, 1, records).rc, 0);
  EXPECT_EQ(ReadFileBytes(path), want);
  // Some records with a line feed: only those grow.
  records[5][20] = '\n';
  want.clear();
  std::sort(records.begin(), records.end());
  for (const auto& r : records) {
    std::string w = r;
    if (w[20] == '\n') w.replace(20, 1, "\r\n");
    want += w;
  }
  EXPECT_EQ(Write(path, 1, records).rc, 0);
  EXPECT_EQ(ReadFileBytes(path), want);
}

TEST(WriteFileTest, UnopenablePathsLeaveEverythingAsItWas) {
  TempDir dir;
  dir.Write("sub/inside.dat", "x");
  const std::string cases[] = {
      dir / "missing/out.dat",  dir / "sub", dir / "sub/", dir / "new/",
      dir / "sub/inside.dat/x", "",
  };
  for (int flag : {0, 1}) {
    for (const auto& path : cases) {
      const Result r = Write(path, flag, {"rec"});
      EXPECT_EQ(r.rc, -1) << path;
      EXPECT_EQ(r.out, std::string(kStr) + kOpenFailed) << path;
      EXPECT_EQ(r.err.rfind("tabfetch: cannot open extract file ", 0), 0u)
          << r.err;
    }
  }
  // The message does not depend on the debug switch.
  RecordList list = MakeList({"rec"});
  EXPECT_EQ(Write(dir / "sub", 1, list, /*debug=*/false).out, kOpenFailed);
  EXPECT_EQ(ListDirectory(dir.path()), std::vector<std::string>{"sub"});
  EXPECT_EQ(ListDirectory(dir / "sub"), std::vector<std::string>{"inside.dat"});
  EXPECT_EQ(ReadFileBytes(dir / "sub/inside.dat"), "x");
}

// A writable file in a directory the run may not write to is rewritten in
// place (done, and undone after a full disk: fault_matrix_test). Old bytes
// beyond the memory budget could not be put back: the file is not
// truncated, and the cause is named.
TEST(WriteFileTest, InPlaceRewriteBeyondTheMemoryBudgetIsRefused) {
  TempDir dir;
  const std::string path = dir.Write("ro_dir/out.dat", "old content");
  ::chmod(path.c_str(), 0666);
  ::chmod((dir / "ro_dir").c_str(), 0555);
  const std::string got = InChildWithoutPrivileges(dir.path(), [&] {
    RecordListOptions small;
    small.memory_budget = 3;
    RecordList list(small);
    EXPECT_EQ(InsertRecord(list, "zz"), 1);
    const Result r = Write(path, 1, list);
    return Describe(r) + r.err;
  });
  EXPECT_EQ(got, "-1|" + std::string(kStr) + kOpenFailed +
                     "tabfetch: cannot rewrite extract file " + path +
                     " in place: its 11 bytes are more than the memory budget "
                     "of 3 bytes that would hold them until the new records "
                     "are written\n");
  EXPECT_EQ(ReadFileBytes(path), "old content");
  EXPECT_EQ(ListDirectory(dir / "ro_dir"), std::vector<std::string>{"out.dat"});
}

TEST(WriteFileTest, ReplaceInPlaceWhereTheFileCannotBeReplaced) {
  TempDir dir;
  // A sticky directory lets a user create files but not rename over
  // another owner's file, which that user may still write.
  const std::string path = dir.Write("sticky/out.dat", "old content");
  ::chmod(path.c_str(), 0666);
  ::chmod((dir / "sticky").c_str(), 01777);
  struct stat before;
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  const std::string got = InChildWithoutPrivileges(dir.path(), [&] {
    return Describe(Write(path, 1, {"bb", "aa"}));
  });
  EXPECT_EQ(got, "0|" + std::string(kStr) + kEnd);
  EXPECT_EQ(ReadFileBytes(path), "aabb");
  struct stat after;
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(ListDirectory(dir / "sticky"), std::vector<std::string>{"out.dat"});
}

// A missing target whose written file is refused its name (a full
// directory, a quota): nothing is left, and the cause is the refusal's.
TEST(WriteFileTest, RefusedNameOfAMissingTargetIsTheCause) {
  for (const bool tmpfile : {true, false}) {
    TempDir dir;
    const std::string path = dir / "out.dat";
    FailPlan p;
    p.rename_errno = EDQUOT;
    p.no_tmpfile = !tmpfile;
    ScopedFailPlan fail(p);
    const Result r = Write(path, 1, {"bb", "aa"});
    EXPECT_EQ(r.rc, -1);
    EXPECT_EQ(r.out, std::string(kStr) + kOpenFailed);
    EXPECT_EQ(r.err, "tabfetch: cannot open extract file " + path + ": " +
                         std::strerror(EDQUOT) + "\n");
    EXPECT_EQ(ListDirectory(dir.path()), std::vector<std::string>{});
  }
}

// A replaced file keeps its permission bits; a new one, replaced or
// appended, gets those of the umask.
TEST(WriteFileTest, PermissionBits) {
  TempDir dir;
  for (mode_t mode : {0640, 0604, 0600, 0777}) {
    const std::string path = dir.Write("perm.dat", "old");
    ::chmod(path.c_str(), mode);
    EXPECT_EQ(Write(path, 1, {"new"}).rc, 0);
    EXPECT_EQ(ReadFileBytes(path), "new");
    EXPECT_EQ(ModeOf(path), mode);
  }
  for (mode_t mask : {022, 027, 0, 077}) {
    const mode_t saved = ::umask(mask);
    const std::string path = dir / ("new" + std::to_string(mask));
    const std::string appended = path + ".app";
    EXPECT_EQ(Write(path, 1, {"r"}).rc, 0);
    EXPECT_EQ(Write(appended, 0, {"r"}).rc, 0);
    ::umask(saved);
    EXPECT_EQ(ModeOf(path), 0666 & ~mask);
    EXPECT_EQ(ModeOf(appended), 0666 & ~mask);
  }
}

TEST(WriteFileTest, SymbolicLinksAreWrittenThrough) {
  TempDir dir;
  const std::string real = dir.Write("data/real.dat", "old");
  fs::create_symlink("data/real.dat", dir / "link.dat");
  fs::create_symlink("link.dat", dir / "link2.dat");
  EXPECT_EQ(Write(dir / "link2.dat", 1, {"b", "a"}).rc, 0);
  EXPECT_TRUE(fs::is_symlink(dir / "link.dat"));
  EXPECT_TRUE(fs::is_symlink(dir / "link2.dat"));
  EXPECT_EQ(ReadFileBytes(real), "ab");
  EXPECT_EQ(Write(dir / "link.dat", 0, {"c"}).rc, 0);
  EXPECT_EQ(ReadFileBytes(real), "abc");
  // A dangling link: the file it names is created.
  fs::create_symlink("data/later.dat", dir / "dangling.dat");
  EXPECT_EQ(Write(dir / "dangling.dat", 1, {"d"}).rc, 0);
  EXPECT_TRUE(fs::is_symlink(dir / "dangling.dat"));
  EXPECT_EQ(ReadFileBytes(dir / "data/later.dat"), "d");
  EXPECT_EQ(ListDirectory(dir / "data"),
            (std::vector<std::string>{"later.dat", "real.dat"}));
}

// A FIFO (or a device) is written straight, never replaced by a file.
TEST(WriteFileTest, FifoTargetIsWrittenNotReplaced) {
  TempDir dir;
  const std::string fifo = dir / "pipe";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (int flag : {0, 1}) {
    std::string got;
    std::thread reader([&] {
      got = ReadFileBytes(fifo);
    });
    const Result r = Write(fifo, flag, {"bc", "ab"});
    reader.join();
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(got, "abbc");
    struct stat st;
    ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
  }
  EXPECT_EQ(ListDirectory(dir.path()), std::vector<std::string>{"pipe"});

  // Nobody reads it: the run waits the lock wait, then fails as an open.
  for (int flag : {0, 1}) {
    RecordList list = MakeList({"ab"});
    Captured out, err;
    WriteRequest req{fifo, flag, false, out.stream(), err.stream()};
    req.lock_wait = std::chrono::milliseconds(200);
    EXPECT_EQ(WriteFile(req, list), extract::kWriteFailed);
    EXPECT_EQ(out.Take(), kOpenFailed);
    EXPECT_EQ(err.Take(), "tabfetch: gave up waiting for a reader of extract "
                          "file " + fifo + " after 0.200 s: it is a FIFO "
                          "that no process reads\n");
  }
}

// What a run leaves when a signal ends it in the middle of the write: the
// signal's own death, and the file exactly as before. A run started with the
// signal ignored (nohup) goes on through it and writes the file.
TEST(WriteFileTest, SignalsUndoTheWrite) {
  struct Case {
    int sig;
    int flag;
    bool exists;
    bool tmpfile;          // the file system has unnamed files
    bool from_thread;      // the signal lands on another thread
    bool ignored = false;  // ignored when the run starts
  };
  const Case kCases[] = {
      {SIGTERM, 1, true, true, false},  {SIGINT, 1, false, true, false},
      {SIGHUP, 1, true, false, false},  {SIGTERM, 1, false, false, true},
      {SIGTERM, 0, true, true, false},  {SIGINT, 0, false, true, false},
      {SIGPIPE, 0, true, true, true},   {SIGHUP, 0, true, true, true},
      {SIGHUP, 1, false, true, false, true},
  };
  const std::vector<std::string> records(3000, std::string(1000, 'r'));
  for (const Case& c : kCases) {
    // ThreadSanitizer delivers an asynchronous signal to a thread late, from
    // its own queue, and under load drops one that another thread's handler
    // sends on (3 runs in 100 with six test processes at once; the plain
    // build, 0 in 480). The other builds run these cases.
    if (kThreadSanitizer && c.from_thread && c.sig != SIGPIPE) continue;
    SCOPED_TRACE(std::string(strsignal(c.sig)) + " flag " +
                 std::to_string(c.flag) + (c.exists ? " existing" : " new") +
                 (c.tmpfile ? "" : " named temp") +
                 (c.from_thread ? " other thread" : "") +
                 (c.ignored ? " ignored" : ""));
    TempDir dir;
    const std::string path = dir / "out.dat";
    if (c.exists) dir.Write("out.dat", "OLD");
    const pid_t pid = ::fork();
    if (pid == 0) {
      if (c.ignored) ::signal(c.sig, SIG_IGN);
      InstallSignalCleanup();
      FailPlan p;
      p.no_tmpfile = !c.tmpfile;
      p.act_after = 3 * 1000 * 1000 / 2;
      const int sig = c.sig;
      p.act = c.from_thread ? std::function<void()>([sig] {
        std::thread([sig] { ::raise(sig); }).join();
      })
                            : std::function<void()>([sig] { ::raise(sig); });
      ScopedFailPlan fail(p);
      RecordList list = MakeList(records);
      // Reached only when the signal is ignored.
      _exit(Write(path, c.flag, list, false).rc == 0 ? 0 : 7);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    if (c.ignored) {
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
      EXPECT_EQ(ReadFileBytes(path), std::string(3000 * 1000, 'r'));
      continue;
    }
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.sig)
        << "status " << status;
    EXPECT_EQ(ReadFileBytes(path), c.exists ? "OLD" : "<missing>");
    EXPECT_EQ(ListDirectory(dir.path()),
              c.exists ? std::vector<std::string>{"out.dat"}
                       : std::vector<std::string>{});
  }
}

// The appended file loses its name while the records go out: they would
// reach no reader, so the run fails, and the file now at the path (if any)
// is not touched.
TEST(WriteFileTest, AppendToAFileThatLosesItsName) {
  struct Case {
    const char* what;
    std::function<void(const TempDir&)> act;
    const char* left;  // what the path holds afterwards
  };
  const Case kCases[] = {
      {"file removed",
       [](const TempDir& d) { fs::remove(d / "sub/out.dat"); }, "<missing>"},
      {"directory removed",
       [](const TempDir& d) { fs::remove_all(d / "sub"); }, "<missing>"},
      {"another file renamed over it",
       [](const TempDir& d) {
         fs::rename(d.Write("other.dat", "OTHER"), d / "sub/out.dat");
       },
       "OTHER"},
  };
  const std::vector<std::string> records(2000, std::string(1000, 'r'));
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    const std::string path = dir.Write("sub/out.dat", "OLD");
    FailPlan p;
    p.act_after = 1000 * 1000;
    p.act = [&] { c.act(dir); };
    Result r;
    {
      ScopedFailPlan fail(p);
      RecordList list = MakeList(records);
      r = Write(path, 0, list);
    }
    EXPECT_EQ(r.rc, -1);
    EXPECT_EQ(r.out, std::string(kStr) + kWriteFailed);
    EXPECT_EQ(r.err, "tabfetch: extract file " + path +
                         " was removed or renamed while the records were "
                         "appended; they are lost\n");
    EXPECT_EQ(ReadFileBytes(path), c.left);
  }
}

// Every kind of write failure, of the extract file and of the record list's
// temporary file, with both flags, on an existing and a missing file: the
// cause, -1, and the directory exactly as before.
struct FailureCase {
  const char* name;
  FailPlan plan;
  SpillFault spill = SpillFault::kNone;
  // A spill fault's cause on standard error, around the TMPDIR it names.
  std::string cause_before = {};
  std::string cause_after = {};
};

std::string Because(int error) {
  return std::string(": ") + std::strerror(error);
}

const FailureCase kFailureCases[] = {
    {"first write fails", {0, ENOSPC}},
    {"write fails after a short write", {1000, ENOSPC}},
    {"write fails after the first block", {(1u << 20) + 10, EDQUOT}},
    {"write fails with EIO", {5000, EIO}},
    {"fsync fails", {SIZE_MAX, ENOSPC, true}},
    {"close fails", {SIZE_MAX, ENOSPC, false, true}},
    {"short writes, then fails", {70000, ENOSPC, false, false, 333}},
    {"temporary file cannot be made", {}, SpillFault::kCreate,
     "cannot create the temporary file in TMPDIR ", Because(EACCES)},
    {"temporary file cannot be written", {}, SpillFault::kWrite,
     "cannot write the temporary file in TMPDIR ", Because(EIO)},
    {"temporary file would leave less than 5 % free", {}, SpillFault::kFull,
     "the temporary file in TMPDIR ",
     " would leave less than 5 % of its file system free"},
    {"temporary file cannot be read back", {}, SpillFault::kRead,
     "cannot read back the temporary file in TMPDIR ", Because(EIO)},
};

TEST(WriteFileTest, WriteFailuresLeaveTheFileAsItWas) {
  std::vector<std::string> records;
  for (int i = 0; i < 3000; ++i) {
    records.push_back(std::string(995, 'a' + i % 26) +
                      std::to_string(10000 + i));
  }
  const std::string old = "previous extract\n";
  for (const auto& c : kFailureCases) {
    // Both flags, an existing and a missing file, with and without unnamed
    // files (an append never makes one).
    for (int variant = 0; variant < 8; ++variant) {
      const int flag = variant & 1;
      const bool exists = variant & 2;
      const bool tmpfile = variant & 4;
      if (!tmpfile && flag == 0) continue;
      SCOPED_TRACE(std::string(c.name) + " flag " + std::to_string(flag) +
                   (exists ? " existing" : " missing") +
                   (tmpfile ? "" : " named temp"));
      TempDir dir;
      const std::string path = dir / "out.dat";
      if (exists) dir.Write("out.dat", old);
      if (exists) ::chmod(path.c_str(), 0640);
      // Spill faults: every run goes to the temporary file; the list stops
      // taking records at the first that cannot be spilled.
      TempDir tmp;
      RecordListOptions options;
      if (c.spill != SpillFault::kNone) {
        options.memory_budget = 1;
        options.temp_dir = tmp.path();
        options.file_ops = &kSpillOps;
        spill_fault = c.spill;
      }
      RecordList list(options);
      for (const auto& rec : records) {
        if (InsertRecord(list, rec) == 0) break;
      }
      Result r;
      {
        FailPlan p = c.plan;
        p.no_tmpfile = !tmpfile;
        ScopedFailPlan fail(p);
        r = Write(path, flag, list);
      }
      spill_fault = SpillFault::kNone;
      EXPECT_EQ(r.rc, -1);
      EXPECT_EQ(r.out, std::string(kStr) + kWriteFailed);
      if (c.spill == SpillFault::kNone) {
        EXPECT_EQ(r.err.rfind("tabfetch: cannot write extract file " + path +
                                  ": ", 0), 0u) << r.err;
      } else {
        EXPECT_EQ(r.err, "tabfetch: " + c.cause_before + tmp.path() +
                             c.cause_after + "\n");
        EXPECT_TRUE(fs::is_empty(tmp.path()));
      }
      EXPECT_EQ(ReadFileBytes(path), exists ? old : "<missing>");
      if (exists) {
        EXPECT_EQ(ModeOf(path), 0640u);
      }
      EXPECT_EQ(ListDirectory(dir.path()),
                exists ? std::vector<std::string>{"out.dat"}
                       : std::vector<std::string>{});
    }
  }
}

}  // namespace
}  // namespace extract
