// The shared POSIX file layer.
#include "common/file_util.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>

namespace common {
namespace {

// Links open() follows before it gives up with ELOOP (MAXSYMLINKS).
constexpr int kMaxSymlinkHops = 40;

int SystemOpen(const char* path, int flags, mode_t mode) {
  return ::open(path, flags, mode);
}

}  // namespace

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

const FileOps& SystemFileOps() {
  static const FileOps ops{SystemOpen, ::write, ::fsync, ::close};
  return ops;
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

bool PwriteAll(int fd, const char* data, std::size_t size, std::uint64_t at) {
  while (size > 0) {
    const ssize_t n = ::pwrite(fd, data, size, static_cast<off_t>(at));
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

bool PreadAll(int fd, char* data, std::size_t size, std::uint64_t at) {
  while (size > 0) {
    const ssize_t n = ::pread(fd, data, size, static_cast<off_t>(at));
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

bool StillNamed(int fd, const std::string& path) {
  struct stat by_fd, by_path;
  return ::fstat(fd, &by_fd) == 0 && ::stat(path.c_str(), &by_path) == 0 &&
         by_fd.st_dev == by_path.st_dev && by_fd.st_ino == by_path.st_ino;
}

}  // namespace common
