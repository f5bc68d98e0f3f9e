// The small POSIX file layer the programs share: an owned descriptor, whole
// writes and reads, and the names a path leads to.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <functional>
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

// The file layer: every system call the extract writer, its lock wait and
// the spill file of the record list make on the files they write. A test
// hands a set with some calls failing to the code under test (copy
// SystemFileOps() and replace members); everything else uses
// SystemFileOps(), the plain system calls. Its calls are
// async-signal-safe, as the system calls are.
struct FileOps {
  int (*open)(const char* path, int flags, mode_t mode);
  ssize_t (*write)(int fd, const void* data, std::size_t size);
  int (*fsync)(int fd);
  int (*close)(int fd);
  ssize_t (*pwrite)(int fd, const void* data, std::size_t size, off_t at);
  ssize_t (*pread)(int fd, void* data, std::size_t size, off_t at);
  int (*ftruncate)(int fd, off_t length);
  int (*rename)(const char* from, const char* to);
  int (*linkat)(int from_dir, const char* from, int to_dir, const char* to,
                int flags);
  int (*unlink)(const char* path);
  int (*flock)(int fd, int operation);
  // Starts the disk writes of `fd` (SYNC_FILE_RANGE_WRITE over the file).
  int (*start_writeback)(int fd);
  // Bytes free for us and in all on the file system of `fd`.
  int (*space)(int fd, std::uint64_t& available, std::uint64_t& total);
};
const FileOps& SystemFileOps();

// Writes all `size` bytes to `fd` through ops.write, going on after short
// writes and EINTR. False with errno set when a write fails (ENOSPC when it
// wrote nothing).
[[nodiscard]] bool WriteAll(const FileOps& ops, int fd, const char* data,
                            std::size_t size);

// Writes all `size` bytes at offset `at` of `fd` (ops.pwrite), going on
// after short writes and EINTR. False with errno set (ENOSPC when a write
// wrote nothing). Async-signal-safe: the undo of a signal calls it.
[[nodiscard]] bool PwriteAll(const FileOps& ops, int fd, const char* data,
                             std::size_t size, std::uint64_t at);
// Reads exactly `size` bytes at offset `at` of `fd` (ops.pread). False with
// errno set (EIO when the file ends before).
[[nodiscard]] bool PreadAll(const FileOps& ops, int fd, char* data,
                            std::size_t size, std::uint64_t at);

// A new file for writing in `dir`, the one way temporary files are made:
// without a name (O_TMPFILE) when `unnamed`, else under a fresh name
// "<dir>/.tabfetch-<16 hex digits>.tmp" that nobody else picks, which `name`
// gets and `before_create` is told first (to arm its removal on a signal).
// `mode` before the umask: 0666 for a file that becomes the extract, as a
// plain create would get, 0600 for a file only this process may read.
// Invalid with errno set when none can be made (EOPNOTSUPP, EISDIR or
// EINVAL for unnamed: the file system has no unnamed files).
UniqueFd CreateTempFile(const FileOps& ops, const std::string& dir,
                        bool unnamed, std::string& name, mode_t mode,
                        void (*before_create)(const char* name) = nullptr);
// A fresh temporary name in `dir`, as CreateTempFile makes them.
std::string FreshTempName(const std::string& dir);
// Hands fresh temporary names in `dir` to `make` (which creates or links a
// file under the name) until it succeeds or fails with anything but EEXIST.
// `before_create`, if any, is told of no name while the name changes, then
// of the new one. True with `name` set; false with errno set and `name`
// empty.
bool TryFreshNames(const std::string& dir, std::string& name,
                   void (*before_create)(const char* name),
                   const std::function<bool(const char* name)>& make);
// Whether `error` from an unnamed CreateTempFile means only that the file
// system has no unnamed files.
bool NoUnnamedFiles(int error);

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
// Async-signal-safe.
bool StillNamed(int fd, const char* path);
inline bool StillNamed(int fd, const std::string& path) {
  return StillNamed(fd, path.c_str());
}

// Closes `fd`. When it holds the last reference to a large file that no
// longer has a name (the extract a replace took the place of), the close
// that frees the file's blocks (a good part of a second for a large file,
// more with online discard) is left to a short-lived detached process, so
// that the caller need not wait for it; that process holds nothing else
// open and takes no signal. Otherwise, or when no process can be started, a
// plain close.
void CloseReleasingInBackground(UniqueFd fd);

}  // namespace common
