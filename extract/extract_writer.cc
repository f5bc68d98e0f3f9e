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
#include <utility>

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
  const RecordList& list;
  std::string target;  // the file written: path resolved, links followed
  Clock::time_point lock_deadline;
  UndoOnSignal undo;
};

Status OpenFailed(const Job& job, int error) {
  common::Diagnose(job.req.err, "cannot open extract file %s: %s",
                   job.target.c_str(), std::strerror(error));
  return Status::kOpenFailed;
}

Status WriteFailed(const Job& job, int error) {
  common::Diagnose(job.req.err, "cannot write extract file %s: %s",
                   job.target.c_str(), std::strerror(error));
  return Status::kWriteFailed;
}

// Closes the file we wrote through the replaceable close: on some file
// systems the last write error only shows here.
bool CloseChecked(const Job& job, UniqueFd& fd) {
  return job.ops.close(fd.release()) == 0;
}

enum class Lock { kHeld, kStartOver, kTimedOut };

// Takes the exclusive flock on `fd`, polling until the job's deadline (a
// blocking flock would wait for ever behind a forgotten lock; SIGALRM would
// disturb the rest of the run). A file system without flock support is
// written unlocked, as the legacy tool always did.
Lock LockExclusive(const Job& job, int fd) {
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return Lock::kHeld;
    if (errno == ENOLCK || errno == EOPNOTSUPP || errno == EINVAL) {
      return Lock::kHeld;
    }
    if (errno == EINTR) continue;
    if (errno != EWOULDBLOCK) return Lock::kStartOver;
    const Clock::time_point now = Clock::now();
    if (now >= job.lock_deadline) break;
    std::this_thread::sleep_for(
        std::min<Clock::duration>(pause, job.lock_deadline - now));
    pause = std::min(pause * 2, std::chrono::milliseconds(50));
  }
  const auto waited =
      std::chrono::duration_cast<std::chrono::milliseconds>(job.req.lock_wait);
  common::Diagnose(job.req.err,
                   "gave up waiting for the lock (flock) on extract file %s "
                   "after %lld.%03lld s: another process holds it",
                   job.target.c_str(),
                   static_cast<long long>(waited.count() / 1000),
                   static_cast<long long>(waited.count() % 1000));
  return Lock::kTimedOut;
}

// Locks `fd` and checks that it is still the file named job.target: another
// run may have renamed a new file over it or removed it while we waited.
Lock LockNamed(const Job& job, int fd) {
  const Lock lock = LockExclusive(job, fd);
  if (lock != Lock::kHeld) return lock;
  return common::StillNamed(fd, job.target) ? Lock::kHeld : Lock::kStartOver;
}

// Opens job.target for writing, creating it when missing. `created` tells
// whether this call made the file.
UniqueFd OpenForWriting(const Job& job, int flags, bool& created) {
  created = false;
  const char* path = job.target.c_str();
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    UniqueFd fd(::open(path, O_WRONLY | O_CLOEXEC | O_NOCTTY | flags));
    if (fd.valid() || errno != ENOENT) return fd;
    fd.reset(::open(path,
                    O_WRONLY | O_CLOEXEC | O_NOCTTY | O_CREAT | O_EXCL | flags,
                    0666));
    if (fd.valid()) {
      created = true;
      return fd;
    }
    if (errno != EEXIST) return fd;
  }
  errno = EBUSY;
  return UniqueFd();
}

// Devices and pipes (an extract to /dev/null or a FIFO) are written straight,
// with nothing to sync or roll back.
Status WriteStream(const Job& job, UniqueFd fd) {
  const bool ok = WriteRecords(job.ops, fd.get(), job.list);
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
  if (!WriteRecords(job.ops, fd.get(), job.list) ||
      job.ops.fsync(fd.get()) != 0 || (error = check(fd.get())) != 0) {
    if (error == 0) error = errno;
    roll_back(fd.get());
    job.undo.Disarm();
    return error < 0 ? Status::kWriteFailed : WriteFailed(job, error);
  }
  // The records are complete and synced: a signal from here on keeps them.
  job.undo.Disarm();
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
// did. Holding the old bytes, a failed write can still put them back.
Status ReplaceInPlace(Job& job, UniqueFd locked) {
  bool created = false;
  for (int attempt = 0; !locked.valid() && attempt < kMaxAttempts; ++attempt) {
    UniqueFd fd = OpenForWriting(job, 0, created);
    if (!fd.valid()) return OpenFailed(job, errno);
    const Lock lock = LockNamed(job, fd.get());
    if (lock == Lock::kTimedOut) return Status::kOpenFailed;
    if (lock == Lock::kHeld) locked = std::move(fd);
  }
  if (!locked.valid()) return OpenFailed(job, EBUSY);
  std::string old;
  const bool have_old = !created && common::ReadWholeFile(job.target, old);
  if (created) {
    job.undo.CutBack(locked.get(), 0);
    job.undo.RemoveFile(job.target.c_str());
  } else if (have_old) {
    job.undo.CutBack(locked.get(), 0, old.data(), old.size());
  }
  if (!created && ::ftruncate(locked.get(), 0) != 0) {
    job.undo.Disarm();
    return WriteFailed(job, errno);
  }
  return WriteLocked(job, std::move(locked), NoCheck, [&](int fd) {
    if (created) {
      if (common::StillNamed(fd, job.target)) ::unlink(job.target.c_str());
    } else if (have_old && ::ftruncate(fd, 0) == 0 &&
               common::PwriteAll(fd, old)) {
      ::fsync(fd);
    }
  });
}

void SyncDirectory(const std::string& dir) {
  UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.valid()) ::fsync(fd.get());
}

// What a replace tries when its temporary file cannot take the target's
// place.
enum class Fallback { kNone, kNamedTemp, kInPlace };

// Writes the records into `temp` and renames it over the target. kOk with
// `fallback` set when the file could not be named or renamed: the caller
// tries another way.
Status WriteAndRename(Job& job, TempFile& temp, const struct stat* old,
                      Fallback& fallback) {
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
  if (!WriteRecords(job.ops, fd.get(), job.list) ||
      job.ops.fsync(fd.get()) != 0) {
    return WriteFailed(job, errno);
  }
  if (!temp.Link()) {
    fallback = Fallback::kNamedTemp;
    return Status::kOk;
  }
  if (!CloseChecked(job, fd)) return WriteFailed(job, errno);
  if (!temp.RenameOverTarget()) {
    // Some targets may be written but not replaced: another owner's file
    // in a directory with the sticky bit, a file mounted over the target.
    // The legacy tool wrote those in place, and so do we.
    fallback = Fallback::kInPlace;
    return Status::kOk;
  }
  SyncDirectory(common::DirName(job.target));
  return Status::kOk;
}

Status Replace(Job& job) {
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    struct stat st;
    const bool exists = ::stat(job.target.c_str(), &st) == 0;
    if (!exists && errno != ENOENT) return OpenFailed(job, errno);
    if (exists && S_ISDIR(st.st_mode)) return OpenFailed(job, EISDIR);
    if (exists && !S_ISREG(st.st_mode)) {
      UniqueFd fd(::open(job.target.c_str(),
                         O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY));
      if (!fd.valid()) return OpenFailed(job, errno);
      return WriteStream(job, std::move(fd));
    }
    // An existing target must be writable, as for a plain open: a read-only
    // file is not replaced just because its directory is writable. Its lock
    // keeps appending runs out until the new file has taken its name.
    UniqueFd locked;
    if (exists) {
      locked.reset(::open(job.target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY));
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
    for (const bool unnamed : {true, false}) {
      TempFile temp(job.ops, job.target, job.undo);
      if (!temp.Create(unnamed)) {
        if (unnamed) continue;
        break;
      }
      Fallback fallback = Fallback::kNone;
      const Status status =
          WriteAndRename(job, temp, exists ? &st : nullptr, fallback);
      if (fallback == Fallback::kNone) return status;
      if (fallback == Fallback::kInPlace) break;
    }
    return ReplaceInPlace(job, std::move(locked));
  }
  return OpenFailed(job, EBUSY);
}

Status Append(Job& job) {
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    bool created = false;
    UniqueFd fd = OpenForWriting(job, O_APPEND, created);
    if (!fd.valid()) return OpenFailed(job, errno);
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) return OpenFailed(job, errno);
    if (!S_ISREG(st.st_mode)) return WriteStream(job, std::move(fd));
    // The earlier length counts only once the lock is held: a run that
    // appended before us must not be cut back by our rollback.
    const Lock lock = LockNamed(job, fd.get());
    if (lock == Lock::kTimedOut) return Status::kOpenFailed;
    if (lock == Lock::kStartOver || ::fstat(fd.get(), &st) != 0) continue;
    const off_t earlier = st.st_size;
    // A file this run created goes again, unless another run has appended
    // to it in between.
    const bool remove = created && earlier == 0;
    job.undo.CutBack(fd.get(), earlier);
    if (remove) job.undo.RemoveFile(job.target.c_str());
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
            ::unlink(job.target.c_str());
          } else if (::ftruncate(locked_fd, earlier) == 0) {
            ::fsync(locked_fd);
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
            {}};
    if (!list.Sort()) {
      // Out of memory, or the temporary file of a large extract failed.
      common::Diagnose(req.err, "sorting the records for extract file %s "
                       "failed: %s", job.target.c_str(),
                       std::strerror(list.error_number()));
      status = Status::kWriteFailed;
    } else if ((status = Resolve(job)) == Status::kOk) {
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
