// The small POSIX file layer the programs share: an owned descriptor, whole
// writes and reads, and the names a path leads to.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace common {

// A file descriptor that is closed when the object goes.
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
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

// The system calls that create, write, sync and close a file we write. A
// test hands a failing set to the code under test; everything else uses
// SystemFileOps() (::open, ::write, ::fsync, ::close).
struct FileOps {
  int (*open)(const char* path, int flags, mode_t mode);
  ssize_t (*write)(int fd, const void* data, std::size_t size);
  int (*fsync)(int fd);
  int (*close)(int fd);
};
const FileOps& SystemFileOps();

// Writes all `size` bytes to `fd` through ops.write, going on after short
// writes and EINTR. False with errno set when a write fails (ENOSPC when it
// wrote nothing).
[[nodiscard]] bool WriteAll(const FileOps& ops, int fd, const char* data,
                            std::size_t size);

// Writes all `size` bytes at offset `at` of `fd` (pwrite), going on after
// short writes and EINTR. False with errno set (ENOSPC when a write wrote
// nothing). Async-signal-safe: the undo of a signal calls it.
[[nodiscard]] bool PwriteAll(int fd, const char* data, std::size_t size,
                             std::uint64_t at);
// Reads exactly `size` bytes at offset `at` of `fd` (pread). False with
// errno set (EIO when the file ends before).
[[nodiscard]] bool PreadAll(int fd, char* data, std::size_t size,
                            std::uint64_t at);

// Replaces `bytes` with the whole content of the file `path`. False with
// errno set, and `bytes` empty, when it cannot be opened or read (a
// directory cannot be read).
[[nodiscard]] bool ReadWholeFile(const std::string& path, std::string& bytes);

// The directory part of a path: "." for a bare name, "/" for "/name".
std::string DirName(const std::string& path);

// Follows a chain of symbolic links from `path` to the name at its end (which
// need not exist yet), as open() would: at most 40 links. Returns 0 and sets
// `target`, or ELOOP when the chain is longer (`target` is then the 41st
// link).
[[nodiscard]] int FollowSymlinks(const std::string& path, std::string& target);

// Whether `path` names the file open as `fd` (same device and inode).
bool StillNamed(int fd, const std::string& path);

}  // namespace common
