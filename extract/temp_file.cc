// The temporary file of a replace.
#include "extract/temp_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>

namespace extract {
namespace {

// How many names are tried before giving up (another run holds each).
constexpr int kMaxAttempts = 100;

// A name beside the target that no other run picks.
std::string TempName(const std::string& dir) {
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

}  // namespace

TempFile::~TempFile() {
  if (named_) ::unlink(name_.c_str());
  signal_undo::Disarm();
}

template <typename Make>
bool TempFile::UnderAFreshName(Make make) {
  const std::string dir = common::DirName(target_);
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    // Armed before the name exists: a signal in between finds nothing.
    signal_undo::Disarm();
    name_ = TempName(dir);
    signal_undo::RemoveFile(name_.c_str());
    if (make()) {
      named_ = true;
      return true;
    }
    const int error = errno;
    signal_undo::Disarm();
    if (error != EEXIST) {
      errno = error;
      return false;
    }
  }
  errno = EEXIST;
  return false;
}

bool TempFile::Create(bool unnamed) {
  if (unnamed) {
    const std::string dir = common::DirName(target_);
    fd_.reset(ops_.open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
    return fd_.valid();
  }
  return UnderAFreshName([&] {
    fd_.reset(ops_.open(name_.c_str(),
                        O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY,
                        0666));
    return fd_.valid();
  });
}

bool TempFile::Link() {
  if (named_) return true;
  const std::string proc = "/proc/self/fd/" + std::to_string(fd_.get());
  return UnderAFreshName([&] {
    if (::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, name_.c_str(),
                 AT_SYMLINK_FOLLOW) == 0) {
      return true;
    }
    // Without /proc, naming the descriptor itself needs
    // CAP_DAC_READ_SEARCH.
    return errno == ENOENT &&
           ::linkat(fd_.get(), "", AT_FDCWD, name_.c_str(), AT_EMPTY_PATH) == 0;
  });
}

bool TempFile::NameAsTarget(bool replace) {
  if (replace) {
    if (::rename(name_.c_str(), target_.c_str()) != 0) return false;
    named_ = false;
  } else {
    if (::link(name_.c_str(), target_.c_str()) != 0) return false;
    // The temporary name goes in the destructor (and on a signal before).
  }
  if (!named_) signal_undo::Disarm();
  return true;
}

}  // namespace extract
