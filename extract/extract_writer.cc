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

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

namespace extract {
namespace {

WriterFileOps file_ops{::write, ::fsync, ::close};

// Records are gathered into blocks of this size before they are written.
constexpr std::size_t kBlockSize = std::size_t{1} << 20;

// How often a run starts over when another run renamed or removed the file
// between opening and locking it.
constexpr int kMaxAttempts = 100;

enum class Status { kOk, kOpenFailed, kWriteFailed };

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() { return std::exchange(fd_, -1); }
  void reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// Closes the file we wrote through the replaceable close: on some file
// systems the last write error only shows here.
bool CloseChecked(UniqueFd& fd) { return file_ops.close(fd.release()) == 0; }

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = file_ops.write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Every few megabytes written, starts the disk writes of the file so far:
// the disk works while the next records are gathered, and the sync at the
// end has little left to wait for. The sync still decides; that this fails
// (a pipe, a device) is of no consequence.
class WritebackStarter {
 public:
  explicit WritebackStarter(int fd) : fd_(fd) {}

  void Wrote(std::size_t bytes) {
    pending_ += bytes;
    if (pending_ < kWritebackStep) return;
    pending_ = 0;
    (void)::sync_file_range(fd_, 0, 0, SYNC_FILE_RANGE_WRITE);
  }

 private:
  static constexpr std::size_t kWritebackStep = std::size_t{2} << 20;
  int fd_;
  std::size_t pending_ = 0;
};

// Gathers small pieces into large writes.
class BlockWriter {
 public:
  BlockWriter(int fd, std::size_t block_size)
      : fd_(fd), block_(block_size), writeback_(fd) {}

  bool Append(const char* data, std::size_t size) {
    while (size > 0) {
      if (used_ == 0 && size >= block_.size()) {
        if (!WriteAll(fd_, data, size)) return false;
        writeback_.Wrote(size);
        return true;
      }
      const std::size_t take = std::min(size, block_.size() - used_);
      std::memcpy(block_.data() + used_, data, take);
      used_ += take;
      data += take;
      size -= take;
      if (used_ == block_.size() && !Flush()) return false;
    }
    return true;
  }

  bool Flush() {
    const std::size_t n = std::exchange(used_, 0);
    if (!WriteAll(fd_, block_.data(), n)) return false;
    writeback_.Wrote(n);
    return true;
  }

 private:
  int fd_;
  std::vector<char> block_;
  std::size_t used_ = 0;
  WritebackStarter writeback_;
};

// Records without a line feed go straight into the block, whole blocks of
// them at a time, merged from the list's sorted runs.
bool WriteGathered(int fd, const RecordList& list) {
  const std::size_t length = list.record_length();
  const std::size_t per_block = std::max<std::size_t>(1, kBlockSize / length);
  std::vector<char> block(std::min(list.count(), per_block) * length);
  WritebackStarter writeback(fd);
  for (;;) {
    const std::ptrdiff_t n = list.ReadSorted(block.data(), per_block);
    if (n < 0) return false;
    if (n == 0) return true;
    const std::size_t bytes = static_cast<std::size_t>(n) * length;
    if (!WriteAll(fd, block.data(), bytes)) return false;
    writeback.Wrote(bytes);
  }
}

// The records in list order; every LF becomes CR LF, as the legacy tool's
// text-mode file did it. Only records holding an LF are looked at byte by
// byte. The list is read from its first record, also on a second write.
bool WriteRecords(int fd, const RecordList& list) {
  if (list.count() == 0 || list.record_length() == 0) return true;
  if (!list.Rewind()) return false;
  try {
    if (!list.has_line_feed()) return WriteGathered(fd, list);
    BlockWriter writer(
        fd, std::min(list.count() * list.record_length() + 2, kBlockSize));
    std::string_view rec;
    int got;
    while ((got = list.NextRecord(rec)) > 0) {
      std::size_t start = 0;
      for (std::size_t lf = rec.find('\n'); lf != std::string_view::npos;
           lf = rec.find('\n', start)) {
        if (!writer.Append(rec.data() + start, lf - start) ||
            !writer.Append("\r\n", 2)) {
          return false;
        }
        start = lf + 1;
      }
      if (!writer.Append(rec.data() + start, rec.size() - start)) return false;
    }
    return got == 0 && writer.Flush();
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    return false;
  }
}

std::string DirName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// The file a chain of symbolic links ends at (which need not exist yet): a
// link is written through, not replaced by a plain file.
std::string FollowSymlinks(std::string path) {
  for (int hop = 0; hop < 40; ++hop) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
    std::string link(static_cast<std::size_t>(std::max<off_t>(st.st_size, 64)),
                     '\0');
    ssize_t n;
    while ((n = ::readlink(path.c_str(), link.data(), link.size())) >= 0 &&
           static_cast<std::size_t>(n) == link.size()) {
      link.resize(link.size() * 2);
    }
    if (n < 0) break;
    link.resize(static_cast<std::size_t>(n));
    path = link[0] == '/' ? link : DirName(path) + "/" + link;
  }
  return path;
}

bool LockExclusive(int fd) {
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

// Whether `path` still names the file open as `fd`: another run may have
// renamed a new file over it or removed it while we waited for the lock.
bool StillNamed(int fd, const std::string& path) {
  struct stat by_fd, by_path;
  return ::fstat(fd, &by_fd) == 0 && ::stat(path.c_str(), &by_path) == 0 &&
         by_fd.st_dev == by_path.st_dev && by_fd.st_ino == by_path.st_ino;
}

// Opens `path` for writing, creating it when missing. `created` tells
// whether this call made the file.
UniqueFd OpenForWriting(const std::string& path, int flags, bool& created) {
  created = false;
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | flags));
    if (fd.valid() || errno != ENOENT) return fd;
    fd.reset(::open(path.c_str(),
                    O_WRONLY | O_CLOEXEC | O_NOCTTY | O_CREAT | O_EXCL | flags,
                    0666));
    if (fd.valid()) {
      created = true;
      return fd;
    }
    if (errno != EEXIST) return fd;
  }
  return UniqueFd();
}

// Locks `fd` and checks that it is still the file named `path`; false means
// start over with a fresh open. A file system without flock support is
// written unlocked, as the legacy tool always did.
bool LockNamed(int fd, const std::string& path) {
  if (!LockExclusive(fd) && errno != ENOLCK && errno != EOPNOTSUPP &&
      errno != EINVAL) {
    return false;
  }
  return StillNamed(fd, path);
}

// Devices and pipes (an extract to /dev/null or a FIFO) are written straight,
// with nothing to sync or roll back.
Status WriteStream(UniqueFd fd, const RecordList& list) {
  const bool ok = WriteRecords(fd.get(), list);
  return CloseChecked(fd) && ok ? Status::kOk : Status::kWriteFailed;
}

// Writes, syncs and closes the locked file `fd`. On failure calls
// `roll_back` while the lock is still held (the lock belongs to the open
// file, which a duplicate keeps open past a failing close).
template <typename RollBack>
Status WriteLocked(UniqueFd fd, const RecordList& list, RollBack roll_back) {
  if (!WriteRecords(fd.get(), list) || file_ops.fsync(fd.get()) != 0) {
    roll_back(fd.get());
    return Status::kWriteFailed;
  }
  UniqueFd keep(::dup(fd.get()));
  if (!CloseChecked(fd)) {
    if (keep.valid()) roll_back(keep.get());
    return Status::kWriteFailed;
  }
  return Status::kOk;
}

bool PwriteAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::pwrite(fd, data.data() + done, data.size() - done,
                               static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// The old content of a file about to be rewritten in place, so that a
// failed write can put it back. Empty with `ok` false when it cannot be read.
std::string ReadWhole(const std::string& path, bool& ok) {
  ok = false;
  std::string data;
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  struct stat st;
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0) return data;
  try {
    data.resize(static_cast<std::size_t>(st.st_size));
  } catch (const std::bad_alloc&) {
    return std::string();
  }
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::pread(fd.get(), data.data() + done, data.size() - done,
                              static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return std::string();
    done += static_cast<std::size_t>(n);
  }
  ok = true;
  return data;
}

// Replacing where no temporary file can be made beside the target (a
// directory we may not write to): truncate and write, as the legacy tool
// did. Holding the old bytes, a failed write can still put them back.
Status ReplaceInPlace(const std::string& target, UniqueFd locked,
                      const RecordList& list) {
  bool created = false;
  for (int attempt = 0; !locked.valid() && attempt < kMaxAttempts; ++attempt) {
    UniqueFd fd = OpenForWriting(target, 0, created);
    if (!fd.valid()) return Status::kOpenFailed;
    if (LockNamed(fd.get(), target)) locked = std::move(fd);
  }
  if (!locked.valid()) return Status::kOpenFailed;
  bool have_old = false;
  const std::string old = created ? std::string() : ReadWhole(target, have_old);
  if (!created && ::ftruncate(locked.get(), 0) != 0) {
    return Status::kWriteFailed;
  }
  return WriteLocked(std::move(locked), list, [&](int fd) {
    if (created) {
      ::unlink(target.c_str());
    } else if (have_old && ::ftruncate(fd, 0) == 0 && PwriteAll(fd, old)) {
      ::fsync(fd);
    }
  });
}

// A new file beside `target`, named so that no other run picks the same
// name. Created with mode 0666, so it gets the bits (umask, default ACL) a
// plain create of the target would give.
UniqueFd CreateTempBeside(const std::string& target, std::string& temp) {
  static std::atomic<std::uint64_t> counter{0};
  const std::string dir = DirName(target);
  std::uint64_t seed =
      static_cast<std::uint64_t>(
          std::chrono::steady_clock::now().time_since_epoch().count()) ^
      (static_cast<std::uint64_t>(::getpid()) << 32);
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    // splitmix64 step: different names even for close seeds.
    std::uint64_t z = (seed += 0x9E3779B97F4A7C15ull + counter++);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    char name[40];
    std::snprintf(name, sizeof name, "/.tabfetch-%016llx.tmp",
                  static_cast<unsigned long long>(z));
    temp = dir + name;
    UniqueFd fd(::open(temp.c_str(),
                       O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY,
                       0666));
    if (fd.valid() || errno != EEXIST) return fd;
  }
  return UniqueFd();
}

void SyncDirectory(const std::string& dir) {
  UniqueFd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.valid()) ::fsync(fd.get());
}

Status Replace(const std::string& target, const RecordList& list) {
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    struct stat st;
    const bool exists = ::stat(target.c_str(), &st) == 0;
    if (!exists && errno != ENOENT) return Status::kOpenFailed;
    if (exists && S_ISDIR(st.st_mode)) return Status::kOpenFailed;
    if (exists && !S_ISREG(st.st_mode)) {
      UniqueFd fd(
          ::open(target.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY));
      if (!fd.valid()) return Status::kOpenFailed;
      return WriteStream(std::move(fd), list);
    }
    // An existing target must be writable, as for a plain open: a read-only
    // file is not replaced just because its directory is writable. Its lock
    // keeps appending runs out until the new file has taken its name.
    UniqueFd locked;
    if (exists) {
      locked.reset(::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY));
      if (!locked.valid()) {
        if (errno == ENOENT) continue;
        return Status::kOpenFailed;
      }
      if (!LockNamed(locked.get(), target) || ::fstat(locked.get(), &st) != 0) {
        continue;
      }
    }
    std::string temp;
    UniqueFd fd = CreateTempBeside(target, temp);
    if (!fd.valid()) return ReplaceInPlace(target, std::move(locked), list);
    if (exists) {
      // Keep owner (where we may) and permission bits of the replaced file.
      if (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) {
        if (::fchown(fd.get(), st.st_uid, st.st_gid) != 0) {
          // Not permitted: the file takes our ownership, like a new file.
        }
      }
      ::fchmod(fd.get(), st.st_mode & 0777);
    }
    if (!WriteRecords(fd.get(), list) || file_ops.fsync(fd.get()) != 0 ||
        !CloseChecked(fd)) {
      ::unlink(temp.c_str());
      return Status::kWriteFailed;
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
      // Some targets may be written but not replaced: another owner's file
      // in a directory with the sticky bit, a file mounted over the target.
      // The legacy tool wrote those in place, and so do we.
      ::unlink(temp.c_str());
      return ReplaceInPlace(target, std::move(locked), list);
    }
    SyncDirectory(DirName(target));
    return Status::kOk;
  }
  return Status::kOpenFailed;
}

Status Append(const std::string& target, const RecordList& list) {
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    bool created = false;
    UniqueFd fd = OpenForWriting(target, O_APPEND, created);
    if (!fd.valid()) return Status::kOpenFailed;
    struct stat st;
    if (::fstat(fd.get(), &st) != 0) return Status::kOpenFailed;
    if (!S_ISREG(st.st_mode)) return WriteStream(std::move(fd), list);
    // The earlier length counts only once the lock is held: a run that
    // appended before us must not be cut back by our rollback.
    if (!LockNamed(fd.get(), target) || ::fstat(fd.get(), &st) != 0) continue;
    const off_t earlier = st.st_size;
    return WriteLocked(std::move(fd), list, [&](int locked_fd) {
      // A file this run created goes again, unless another run has
      // appended to it in between.
      if (created && earlier == 0) {
        ::unlink(target.c_str());
      } else if (::ftruncate(locked_fd, earlier) == 0) {
        ::fsync(locked_fd);
      }
    });
  }
  return Status::kOpenFailed;
}

}  // namespace

WriterFileOps& WriterFileOpsForTesting() { return file_ops; }

int WriteFile(const WriteRequest& req, RecordList& list) {
  if (req.debug) std::fputs("Str WriteFile\n", req.out);
  Status status = Status::kOk;
  if (!list.empty()) {
    const std::string path(req.path);
    if (!list.Sort()) {
      status = Status::kWriteFailed;
    } else if (path.empty() || path.back() == '/') {
      // A plain open for writing fails on these: no such file, or a
      // directory.
      status = Status::kOpenFailed;
    } else {
      const std::string target = FollowSymlinks(path);
      status =
          req.replace_flag == 1 ? Replace(target, list) : Append(target, list);
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
