// The extract file writer. The legacy tool opened the file with "w" or "a",
// wrote each record and never looked at a result, so a full disk left half a
// file behind. Here a failure is reported and the file stays as it was:
// replacing goes through a temporary file that is renamed over the target,
// appending cuts the file back. Several runs may write the same file at
// once; an exclusive flock keeps their records apart.
#include "extract/extract_writer.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <new>
#include <utility>
#include <vector>

#include "common/diagnostics.h"
#include "common/path_resolve.h"
#include "extract/record_output.h"
#include "extract/signal_cleanup.h"
#include "extract/temp_file.h"

namespace extract {
namespace {

using common::UniqueFd;
using Clock = std::chrono::steady_clock;

// How often a run starts over when another run renamed or removed the file
// between opening and locking it.
constexpr int kMaxAttempts = 100;

enum class Status { kOk, kOpenFailed, kWriteFailed };

// One WriteFile call: what it writes, where, and what to undo on a signal.
struct Job {
  const WriteRequest& req;
  const common::FileOps& ops;
  RecordList& list;
  std::string target;  // the file written: path resolved, links followed
  Clock::time_point lock_deadline;
  DisarmUndoAtExit undo;  // the signal undo, disarmed when the job ends
  // A complete, synced copy of the records, once a file that could not take
  // the target's name holds one: the next way writes from it (the records
  // themselves may be read only once).
  UniqueFd written;
  // Why that file could not take the target's name (0: it was not refused).
  int name_error = 0;
};

Status OpenFailed(const Job& job, int error) {
  common::Diagnose(job.req.err, "cannot open extract file %s: %s",
                   job.target.c_str(), std::strerror(error));
  return Status::kOpenFailed;
}

Status WriteFailed(const Job& job, int error) {
  // The records could not be read (the temporary file of a large extract):
  // that is the cause, not the extract file.
  const std::string list_failure = job.list.FailureText();
  if (!list_failure.empty()) {
    common::Diagnose(job.req.err, "%s", list_failure.c_str());
  } else {
    common::Diagnose(job.req.err, "cannot write extract file %s: %s",
                     job.target.c_str(), std::strerror(error));
  }
  return Status::kWriteFailed;
}

std::string SecondsText(std::chrono::milliseconds waited) {
  char text[32];
  std::snprintf(text, sizeof text, "%lld.%03lld",
                static_cast<long long>(waited.count() / 1000),
                static_cast<long long>(waited.count() % 1000));
  return text;
}

// Closes the file we wrote through the replaceable close: on some file
// systems the last write error only shows here.
bool CloseChecked(const Job& job, UniqueFd& fd) {
  return job.ops.close(fd.release()) == 0;
}

enum class Lock { kHeld, kStartOver, kTimedOut };

// Waits a little before the next try of something another process holds up
// (1 ms, doubling to 50 ms), never past the job's deadline (the lock wait).
// False once the deadline has passed.
bool PauseBeforeRetry(const Job& job, std::chrono::milliseconds& pause) {
  const Clock::time_point now = Clock::now();
  if (now >= job.lock_deadline) return false;
  std::this_thread::sleep_for(
      std::min<Clock::duration>(pause, job.lock_deadline - now));
  pause = std::min(pause * 2, std::chrono::milliseconds(50));
  return true;
}

// Takes the exclusive flock on `fd`, polling until the job's deadline (a
// blocking flock would wait for ever behind a forgotten lock; SIGALRM would
// disturb the rest of the run). A file system without flock support is
// written unlocked, as the legacy tool always did.
Lock LockExclusive(const Job& job, int fd) {
  std::chrono::milliseconds pause{1};
  for (;;) {
    if (job.ops.flock(fd, LOCK_EX | LOCK_NB) == 0) return Lock::kHeld;
    if (errno == ENOLCK || errno == EOPNOTSUPP || errno == EINVAL) {
      return Lock::kHeld;
    }
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return Lock::kStartOver;
    if (!PauseBeforeRetry(job, pause)) break;
  }
  common::Diagnose(job.req.err,
                   "gave up waiting for the lock (flock) on extract file %s "
                   "after %s s: another process holds it",
                   job.target.c_str(), SecondsText(job.req.lock_wait).c_str());
  return Lock::kTimedOut;
}

// Locks `fd` and checks that it is still the file named job.target: another
// run may have renamed a new file over it or removed it while we waited.
Lock LockNamed(const Job& job, int fd) {
  const Lock lock = LockExclusive(job, fd);
  if (lock != Lock::kHeld) return lock;
  return common::StillNamed(fd, job.target) ? Lock::kHeld : Lock::kStartOver;
}

// Opens the existing job.target for writing. A FIFO is waited for until a
// process reads it, at most until the job's deadline (the lock wait): then
// the open fails with ENXIO and `no_reader` set.
UniqueFd OpenExisting(const Job& job, int flags, bool& no_reader) {
  no_reader = false;
  std::chrono::milliseconds pause{1};
  for (;;) {
    UniqueFd fd(job.ops.open(
        job.target.c_str(),
        O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | flags, 0));
    if (fd.valid()) {
      // Written blocking, like any file.
      const int fl = ::fcntl(fd.get(), F_GETFL);
      if (fl != -1) (void)::fcntl(fd.get(), F_SETFL, fl & ~O_NONBLOCK);
      return fd;
    }
    if (errno == EINTR) continue;
    if (errno != ENXIO) return fd;
    // ENXIO also means a socket or a device that is not there: no reader
    // will come for those, so they fail at once.
    struct stat st;
    if (::stat(job.target.c_str(), &st) != 0 || !S_ISFIFO(st.st_mode)) {
      errno = ENXIO;
      return fd;
    }
    if (!PauseBeforeRetry(job, pause)) {
      no_reader = true;
      errno = ENXIO;
      return fd;
    }
  }
}

Status OpenExistingFailed(const Job& job, int error, bool no_reader) {
  if (!no_reader) return OpenFailed(job, error);
  common::Diagnose(job.req.err,
                   "gave up waiting for a reader of extract file %s after %s "
                   "s: it is a FIFO that no process reads",
                   job.target.c_str(), SecondsText(job.req.lock_wait).c_str());
  return Status::kOpenFailed;
}

// The records to `fd`: from the list, or from the complete copy written
// before, when there is one.
bool WriteOut(const Job& job, int fd) {
  if (!job.written.valid()) return WriteRecords(job.ops, fd, job.list);
  std::vector<char> buffer;
  try {
    buffer.resize(std::size_t{1} << 20);
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    return false;
  }
  for (std::uint64_t at = 0;;) {
    const ssize_t n = job.ops.pread(job.written.get(), buffer.data(),
                                    buffer.size(), static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (!common::WriteAll(job.ops, fd, buffer.data(),
                          static_cast<std::size_t>(n))) {
      return false;
    }
    at += static_cast<std::uint64_t>(n);
  }
}

// Syncs the written file, telling the caller's progress display first.
int Sync(const Job& job, int fd) {
  if (job.req.on_phase) job.req.on_phase(WritePhase::kSyncing);
  return job.ops.fsync(fd);
}

// Devices and pipes (an extract to /dev/null or a FIFO) are written straight,
// with nothing to sync or roll back.
Status WriteStream(const Job& job, UniqueFd fd) {
  const bool ok = WriteOut(job, fd.get());
  const int error = errno;
  if (!CloseChecked(job, fd)) return WriteFailed(job, errno);
  return ok ? Status::kOk : WriteFailed(job, error);
}

// Writes and syncs the locked file `fd`, then closes it. On failure calls
// `roll_back` while the lock is still held (the lock belongs to the open
// file, which a duplicate keeps open past a failing close); `check`, called
// after the sync, may turn success into a failure with an errno of its own
// (or -1 when it has said why itself). The undo on a signal is disarmed
// before `fd` closes, whatever the outcome.
template <typename Check, typename RollBack>
Status WriteLocked(Job& job, UniqueFd fd, Check check, RollBack roll_back) {
  int error = 0;
  if (!WriteOut(job, fd.get()) || Sync(job, fd.get()) != 0 ||
      (error = check(fd.get())) != 0) {
    if (error == 0) error = errno;
    roll_back(fd.get());
    signal_undo::Disarm();
    return error < 0 ? Status::kWriteFailed : WriteFailed(job, error);
  }
  // The records are complete and synced: a signal from here on keeps them.
  signal_undo::Disarm();
  UniqueFd keep(::dup(fd.get()));
  if (!CloseChecked(job, fd)) {
    error = errno;
    if (keep.valid()) roll_back(keep.get());
    return WriteFailed(job, error);
  }
  return Status::kOk;
}

int NoCheck(int) { return 0; }

// Replacing where no temporary file can be made beside the target (a
// directory we may not write to): truncate and write, as the legacy tool
// did. Only a file whose old bytes are held, within the memory budget, is
// truncated: a failed write (or a signal) puts them back. A missing target
// could not be created either: `temp_error` says why, or, where the
// temporary file was made, why it could not take the target's name.
Status ReplaceInPlace(Job& job, UniqueFd locked, int temp_error) {
  for (int attempt = 0; !locked.valid() && attempt < kMaxAttempts; ++attempt) {
    bool no_reader = false;
    UniqueFd fd = OpenExisting(job, 0, no_reader);
    if (!fd.valid()) {
      if (errno == ENOENT) {
        return OpenFailed(job, temp_error != 0      ? temp_error
                               : job.name_error != 0 ? job.name_error
                                                     : ENOENT);
      }
      return OpenExistingFailed(job, errno, no_reader);
    }
    const Lock lock = LockNamed(job, fd.get());
    if (lock == Lock::kTimedOut) return Status::kOpenFailed;
    if (lock == Lock::kHeld) locked = std::move(fd);
  }
  if (!locked.valid()) return OpenFailed(job, EBUSY);
  struct stat st;
  if (::fstat(locked.get(), &st) != 0) return OpenFailed(job, errno);
  const std::size_t budget = job.list.options().memory_budget;
  if (static_cast<std::uint64_t>(st.st_size) > budget) {
    common::Diagnose(job.req.err,
                     "cannot rewrite extract file %s in place: its %lld "
                     "bytes are more than the memory budget of %zu bytes "
                     "that would hold them until the new records are written",
                     job.target.c_str(), static_cast<long long>(st.st_size),
                     budget);
    return Status::kOpenFailed;
  }
  std::string old;
  if (!common::ReadWholeFile(job.target, old) || old.size() > budget) {
    const int error = old.size() > budget ? EFBIG : errno;
    common::Diagnose(job.req.err,
                     "cannot rewrite extract file %s in place: its old "
                     "content cannot be held to put it back: %s",
                     job.target.c_str(), std::strerror(error));
    return Status::kOpenFailed;
  }
  signal_undo::CutBack(locked.get(), 0, old.data(), old.size());
  if (job.ops.ftruncate(locked.get(), 0) != 0) {
    signal_undo::Disarm();
    return WriteFailed(job, errno);
  }
  return WriteLocked(job, std::move(locked), NoCheck, [&](int fd) {
    if (job.ops.ftruncate(fd, 0) == 0 &&
        common::PwriteAll(job.ops, fd, old.data(), old.size(), 0)) {
      job.ops.fsync(fd);
    }
  });
}

void SyncDirectory(const common::FileOps& ops, const std::string& dir) {
  UniqueFd fd(ops.open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0));
  if (fd.valid()) ops.fsync(fd.get());
}

// What a replace tries when its temporary file cannot take the target's
// place.
enum class Fallback { kNone, kNamedTemp, kInPlace };

// Writes the records into `temp` and renames it over the target (with
// `replace`; else gives it the target's name only while that is free). kOk
// with `fallback` set when the file could not be named or renamed: the
// caller tries another way (kInPlace with EEXIST: the target appeared).
Status WriteAndRename(Job& job, TempFile& temp, const struct stat* old,
                      bool replace, Fallback& fallback) {
  UniqueFd& fd = temp.fd();
  if (old != nullptr) {
    // Keep owner (where we may) and permission bits of the replaced file.
    if (old->st_uid != ::geteuid() || old->st_gid != ::getegid()) {
      if (::fchown(fd.get(), old->st_uid, old->st_gid) != 0) {
        // Not permitted: the file takes our ownership, like a new file.
      }
    }
    ::fchmod(fd.get(), old->st_mode & 0777);
  }
  if (!WriteOut(job, fd.get()) || Sync(job, fd.get()) != 0) {
    return WriteFailed(job, errno);
  }
  // Should the file not take the target's name, the next way copies it.
  UniqueFd copy(::dup(fd.get()));
  if (!temp.Link()) {
    fallback = Fallback::kNamedTemp;
    job.written = std::move(copy);
    return Status::kOk;
  }
  if (!CloseChecked(job, fd)) return WriteFailed(job, errno);
  if (!temp.NameAsTarget(replace)) {
    // Some targets may be written but not replaced: another owner's file
    // in a directory with the sticky bit, a file mounted over the target.
    // The legacy tool wrote those in place, and so do we.
    job.name_error = errno;
    fallback = Fallback::kInPlace;
    job.written = std::move(copy);
    return Status::kOk;
  }
  SyncDirectory(job.ops, common::DirName(job.target));
  return Status::kOk;
}

Status Replace(Job& job) {
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    struct stat st;
    const bool exists = ::stat(job.target.c_str(), &st) == 0;
    if (!exists && errno != ENOENT) return OpenFailed(job, errno);
    if (exists && S_ISDIR(st.st_mode)) return OpenFailed(job, EISDIR);
    if (exists && !S_ISREG(st.st_mode)) {
      bool no_reader = false;
      UniqueFd fd = OpenExisting(job, O_TRUNC, no_reader);
      if (!fd.valid()) return OpenExistingFailed(job, errno, no_reader);
      return WriteStream(job, std::move(fd));
    }
    // An existing target must be writable, as for a plain open: a read-only
    // file is not replaced just because its directory is writable. Its lock
    // keeps appending runs out until the new file has taken its name.
    UniqueFd locked;
    if (exists) {
      locked.reset(
          job.ops.open(job.target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY, 0));
      if (!locked.valid()) {
        if (errno == ENOENT) continue;
        return OpenFailed(job, errno);
      }
      const Lock lock = LockNamed(job, locked.get());
      if (lock == Lock::kTimedOut) return Status::kOpenFailed;
      if (lock == Lock::kStartOver || ::fstat(locked.get(), &st) != 0) {
        continue;
      }
    }
    int temp_error = 0;
    for (const bool unnamed : {true, false}) {
      TempFile temp(job.ops, job.target);
      if (!temp.Create(unnamed)) {
        temp_error = errno;
        if (unnamed) continue;
        break;
      }
      temp_error = 0;  // made after all
      Fallback fallback = Fallback::kNone;
      const Status status = WriteAndRename(job, temp, exists ? &st : nullptr,
                                           true, fallback);
      if (fallback == Fallback::kNone) {
        if (status == Status::kOk && locked.valid()) {
          // The replaced file: its lock goes now, its blocks are freed off
          // the caller's time.
          (void)job.ops.flock(locked.get(), LOCK_UN);
          common::CloseReleasingInBackground(std::move(locked));
        }
        return status;
      }
      if (fallback == Fallback::kInPlace) break;
    }
    return ReplaceInPlace(job, std::move(locked), temp_error);
  }
  return OpenFailed(job, EBUSY);
}

enum class NewFile { kWritten, kExists, kCannotLink };

// A missing file to append to: written whole under a temporary name (or
// none) and linked to its name only when complete, so that neither a
// failure nor a signal, nor a lock another process takes meanwhile, can
// leave a new empty or partial file behind. kExists when another run made
// the file first: the caller appends to that one.
NewFile AppendToNewFile(Job& job, Status& status) {
  for (const bool unnamed : {true, false}) {
    TempFile temp(job.ops, job.target);
    if (!temp.Create(unnamed)) {
      if (unnamed) continue;
      status = OpenFailed(job, errno);
      return NewFile::kWritten;
    }
    Fallback fallback = Fallback::kNone;
    status = WriteAndRename(job, temp, nullptr, false, fallback);
    if (fallback == Fallback::kNone) return NewFile::kWritten;
    if (fallback == Fallback::kInPlace) {
      return errno == EEXIST ? NewFile::kExists : NewFile::kCannotLink;
    }
  }
  return NewFile::kCannotLink;
}

// Opens job.target to append to it; creates it (`created`) only on file
// systems without hard links, where a new file cannot be named when it is
// complete.
UniqueFd OpenToAppend(Job& job, bool links, bool& created, bool& no_reader) {
  created = false;
  UniqueFd fd = OpenExisting(job, O_APPEND, no_reader);
  if (fd.valid() || errno != ENOENT || links) return fd;
  // Armed only once the file is ours: armed before, a signal could remove
  // a file another run created in between. (A signal in the moment between
  // can leave an empty file; only here, where nothing can be named whole.)
  fd.reset(job.ops.open(
      job.target.c_str(),
      O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY | O_CREAT | O_EXCL, 0666));
  if (!fd.valid()) return fd;
  signal_undo::CutBack(fd.get(), 0);
  signal_undo::RemoveFile(job.target.c_str());
  created = true;
  return fd;
}

Status Append(Job& job) {
  bool links = true;
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    bool created = false;
    bool no_reader = false;
    UniqueFd fd = OpenToAppend(job, links, created, no_reader);
    if (!fd.valid() && errno == ENOENT && links) {
      Status status = Status::kOk;
      switch (AppendToNewFile(job, status)) {
        case NewFile::kWritten:
          return status;
        case NewFile::kExists:
          continue;
        case NewFile::kCannotLink:
          links = false;
          continue;
      }
    }
    if (!fd.valid()) return OpenExistingFailed(job, errno, no_reader);
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) return OpenFailed(job, errno);
    if (!S_ISREG(st.st_mode)) return WriteStream(job, std::move(fd));
    // The earlier length counts only once the lock is held: a run that
    // appended before us must not be cut back by our rollback.
    const Lock lock = LockNamed(job, fd.get());
    if (lock != Lock::kHeld || ::fstat(fd.get(), &st) != 0) {
      // A file this run created goes again (the undo is still armed),
      // unless another run has appended to it meanwhile.
      struct stat now;
      if (created && ::fstat(fd.get(), &now) == 0 && now.st_size == 0 &&
          common::StillNamed(fd.get(), job.target)) {
        job.ops.unlink(job.target.c_str());
      }
      signal_undo::Disarm();
      if (lock == Lock::kTimedOut) return Status::kOpenFailed;
      continue;
    }
    const off_t earlier = st.st_size;
    // A file this run created goes again, unless another run has appended
    // to it in between.
    const bool remove = created && earlier == 0;
    signal_undo::Disarm();
    signal_undo::CutBack(fd.get(), earlier);
    if (remove) signal_undo::RemoveFile(job.target.c_str());
    bool gone = false;
    return WriteLocked(
        job, std::move(fd),
        [&](int locked_fd) {
          // Records written to a file that lost its name (its directory
          // removed, another file renamed over it) reach no reader.
          if (common::StillNamed(locked_fd, job.target)) return 0;
          gone = true;
          common::Diagnose(job.req.err,
                           "extract file %s was removed or renamed while the "
                           "records were appended; they are lost",
                           job.target.c_str());
          return -1;
        },
        [&](int locked_fd) {
          if (remove && !gone && common::StillNamed(locked_fd, job.target)) {
            job.ops.unlink(job.target.c_str());
          } else if (job.ops.ftruncate(locked_fd, earlier) == 0) {
            job.ops.fsync(locked_fd);
          }
        });
  }
  return OpenFailed(job, EBUSY);
}

// Where the records go: the path resolved like the configuration files'
// (the callers were written for a platform with '\' and case-blind names),
// then symbolic links followed, so that a link is written through.
Status Resolve(Job& job) {
  job.target = common::ResolvePath(job.req.path);
  // A plain open for writing fails on these: no such file, or a directory.
  if (job.target.empty()) return OpenFailed(job, ENOENT);
  if (job.target.back() == '/') return OpenFailed(job, EISDIR);
  std::string followed;
  const int error = common::FollowSymlinks(job.target, followed);
  if (error != 0) return OpenFailed(job, error);
  job.target = std::move(followed);
  return Status::kOk;
}

}  // namespace

int WriteFile(const WriteRequest& req, RecordList& list) {
  if (req.debug) std::fputs("Str WriteFile\n", req.out);
  Status status = Status::kOk;
  if (!list.empty()) {
    Job job{req,
            req.ops != nullptr ? *req.ops : common::SystemFileOps(),
            list,
            std::string(req.path),
            Clock::now() + req.lock_wait,
            {},
            {},
            0};
    if (!list.sorted() && !list.Sort()) {
      // Out of memory, or the temporary file of a large extract failed.
      common::Diagnose(req.err, "%s", list.FailureText().c_str());
      status = Status::kWriteFailed;
    } else if ((status = Resolve(job)) == Status::kOk) {
      if (!req.keep_records) list.ReadOnce();
      if (req.on_phase) req.on_phase(WritePhase::kWriting);
      status = req.replace_flag == 1 ? Replace(job) : Append(job);
    }
  }
  switch (status) {
    case Status::kOk:
      break;
    case Status::kOpenFailed:
      std::fputs("Ausgabedatei konnte nicht geoeffnet \n", req.out);
      return kWriteFailed;
    case Status::kWriteFailed:
      std::fputs("Ausgabedatei konnte nicht geschrieben werden \n", req.out);
      return kWriteFailed;
  }
  if (req.debug) std::fputs("End WriteFile\n", req.out);
  return kWriteOk;
}

}  // namespace extract
