// The shared POSIX file layer.
#include "common/file_util.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <new>

namespace common {
namespace {

// Links open() follows before it gives up with ELOOP (MAXSYMLINKS).
constexpr int kMaxSymlinkHops = 40;

int SystemOpen(const char* path, int flags, mode_t mode) {
  return ::open(path, flags, mode);
}

int SystemStartWriteback(int fd) {
  return ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
}

int SystemSpace(int fd, std::uint64_t& available, std::uint64_t& total) {
  struct statvfs fs;
  if (::fstatvfs(fd, &fs) != 0) return -1;
  available = static_cast<std::uint64_t>(fs.f_bavail) * fs.f_frsize;
  total = static_cast<std::uint64_t>(fs.f_blocks) * fs.f_frsize;
  return 0;
}

// Function addresses only: set up before the program runs, so that a
// signal handler may use it.
const FileOps kSystemFileOps{SystemOpen,  ::write,  ::fsync,
                             ::close,     ::pwrite, ::pread,
                             ::ftruncate, ::rename, ::linkat,
                             ::unlink,    ::flock,  SystemStartWriteback,
                             SystemSpace};

// How many fresh names are tried before giving up.
constexpr int kMaxNameAttempts = 100;

// Below this many bytes on disk a file is freed quicker than a process is
// started.
constexpr std::uint64_t kWorthABackgroundClose = std::uint64_t{32} << 20;

// Closes every descriptor but `keep1` and `keep2` (0 <= keep1 < keep2).
void CloseAllBut(int keep1, int keep2) {
  const auto close_from_to = [](unsigned first, unsigned last) {
    if (first > last) return;
    if (::close_range(first, last, 0) == 0) return;
    const long most = ::sysconf(_SC_OPEN_MAX);
    const unsigned end = most > 0 && most < 65536 ? static_cast<unsigned>(most)
                                                  : 65536u;
    for (unsigned fd = first; fd <= last && fd < end; ++fd) {
      ::close(static_cast<int>(fd));
    }
  };
  const auto k1 = static_cast<unsigned>(keep1);
  const auto k2 = static_cast<unsigned>(keep2);
  if (k1 > 0) close_from_to(0, k1 - 1);
  close_from_to(k1 + 1, k2 - 1);
  close_from_to(k2 + 1, ~0u);
}

}  // namespace

// A name in `dir` that no other run picks.
std::string FreshTempName(const std::string& dir) {
  static std::atomic<std::uint64_t> counter{0};
  static const std::uint64_t seed =
      static_cast<std::uint64_t>(
          std::chrono::steady_clock::now().time_since_epoch().count()) ^
      (static_cast<std::uint64_t>(::getpid()) << 32);
  // splitmix64 step: different names even for close seeds.
  std::uint64_t z = seed + 0x9E3779B97F4A7C15ull * (++counter);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  z ^= z >> 31;
  char name[40];
  std::snprintf(name, sizeof name, "/.tabfetch-%016llx.tmp",
                static_cast<unsigned long long>(z));
  return dir + name;
}

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

const FileOps& SystemFileOps() { return kSystemFileOps; }

UniqueFd CreateTempFile(const FileOps& ops, const std::string& dir,
                        bool unnamed, std::string& name, mode_t mode,
                        void (*before_create)(const char* name)) {
  name.clear();
  if (unnamed) {
    return UniqueFd(
        ops.open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode));
  }
  UniqueFd fd;
  TryFreshNames(dir, name, before_create, [&](const char* fresh) {
    fd.reset(ops.open(fresh, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY,
                      mode));
    return fd.valid();
  });
  return fd;
}

bool TryFreshNames(const std::string& dir, std::string& name,
                   void (*before_create)(const char* name),
                   const std::function<bool(const char* name)>& make) {
  int error = EEXIST;
  for (int attempt = 0; attempt < kMaxNameAttempts && error == EEXIST;
       ++attempt) {
    // Told of no name while the name changes, then of the new one.
    if (before_create != nullptr) before_create(nullptr);
    name = FreshTempName(dir);
    if (before_create != nullptr) before_create(name.c_str());
    if (make(name.c_str())) return true;
    error = errno;
  }
  if (before_create != nullptr) before_create(nullptr);
  name.clear();
  errno = error;
  return false;
}

bool NoUnnamedFiles(int error) {
  return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

bool WriteAll(const FileOps& ops, int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ops.write(fd, data, size);
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

bool PwriteAll(const FileOps& ops, int fd, const char* data, std::size_t size,
               std::uint64_t at) {
  while (size > 0) {
    const ssize_t n = ops.pwrite(fd, data, size, static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
    at += static_cast<std::uint64_t>(n);
  }
  return true;
}

bool PreadAll(const FileOps& ops, int fd, char* data, std::size_t size,
              std::uint64_t at) {
  while (size > 0) {
    const ssize_t n = ops.pread(fd, data, size, static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = EIO;  // shorter than what was written to it
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
    at += static_cast<std::uint64_t>(n);
  }
  return true;
}

bool ReadWholeFile(const std::string& path, std::string& bytes) {
  bytes.clear();
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  struct stat st;
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0) return false;
  try {
    // The size is a hint: the file may grow or shrink while we read.
    bytes.resize(
        std::max<std::size_t>(static_cast<std::size_t>(st.st_size), 4096));
    std::size_t done = 0;
    for (;;) {
      if (done == bytes.size()) bytes.resize(bytes.size() * 2);
      const ssize_t n =
          ::read(fd.get(), bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        bytes.clear();
        return false;
      }
      if (n == 0) break;
      done += static_cast<std::size_t>(n);
    }
    bytes.resize(done);
  } catch (const std::bad_alloc&) {
    bytes = std::string();
    errno = ENOMEM;
    return false;
  }
  return true;
}

std::string DirName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

int FollowSymlinks(const std::string& path, std::string& target) {
  target = path;
  for (int hop = 0;; ++hop) {
    struct stat st;
    if (::lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return 0;
    if (hop == kMaxSymlinkHops) return ELOOP;
    std::string link(static_cast<std::size_t>(std::max<off_t>(st.st_size, 64)),
                     '\0');
    ssize_t n;
    while ((n = ::readlink(target.c_str(), link.data(), link.size())) >= 0 &&
           static_cast<std::size_t>(n) == link.size()) {
      link.resize(link.size() * 2);
    }
    if (n < 0) return 0;
    link.resize(static_cast<std::size_t>(n));
    target = link[0] == '/' ? link : DirName(target) + "/" + link;
  }
}

bool StillNamed(int fd, const char* path) {
  struct stat by_fd, by_path;
  return ::fstat(fd, &by_fd) == 0 && ::stat(path, &by_path) == 0 &&
         by_fd.st_dev == by_path.st_dev && by_fd.st_ino == by_path.st_ino;
}

void CloseReleasingInBackground(UniqueFd fd) {
  struct stat st;
  if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || st.st_nlink != 0 ||
      static_cast<std::uint64_t>(st.st_blocks) * 512 <
          kWorthABackgroundClose) {
    return;  // closed here
  }
  int ready[2];  // at end of file for the closer once we hold no reference
  if (::pipe2(ready, O_CLOEXEC) != 0) return;
  UniqueFd ready_read(ready[0]), ready_write(ready[1]);
  // Two forks: the closer is nobody's child but init's, so that a long-lived
  // caller collects no zombie. Only async-signal-safe calls after a fork.
  const pid_t child = ::fork();
  if (child == 0) {
    sigset_t all;
    ::sigfillset(&all);
    ::sigprocmask(SIG_SETMASK, &all, nullptr);
    if (::fork() != 0) ::_exit(0);
    // The closer: it keeps neither the caller's standard output open nor
    // anything else.
    const int a = std::min(fd.get(), ready_read.get());
    const int b = std::max(fd.get(), ready_read.get());
    CloseAllBut(a, b);
    char byte;
    while (::read(ready_read.get(), &byte, 1) < 0 && errno == EINTR) {
    }
    ::close(fd.get());  // the last reference: the blocks are freed here
    ::_exit(0);
  }
  if (child > 0) {
    int status;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
  }
  fd.reset();  // not the last reference when the closer runs
  // ready_write goes: the closer reads end of file and closes.
}

}  // namespace common
