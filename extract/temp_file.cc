// The temporary file of a replace.
#include "extract/temp_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace extract {
TempFile::~TempFile() {
  if (named_) ops_.unlink(name_.c_str());
  signal_undo::Disarm();
}

bool TempFile::Create(bool unnamed) {
  // A named file is armed for removal before it exists: a signal in
  // between finds nothing.
  fd_ = common::CreateTempFile(ops_, common::DirName(target_), unnamed, name_,
                               0666, signal_undo::RemoveFile);
  named_ = fd_.valid() && !unnamed;
  return fd_.valid();
}

bool TempFile::Link() {
  if (named_) return true;
  const std::string proc = "/proc/self/fd/" + std::to_string(fd_.get());
  named_ = common::TryFreshNames(
      common::DirName(target_), name_, signal_undo::RemoveFile,
      [&](const char* name) {
        return ops_.linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, name,
                           AT_SYMLINK_FOLLOW) == 0 ||
               // Without /proc, naming the descriptor itself needs
               // CAP_DAC_READ_SEARCH.
               (errno == ENOENT && ops_.linkat(fd_.get(), "", AT_FDCWD, name,
                                               AT_EMPTY_PATH) == 0);
      });
  return named_;
}

bool TempFile::NameAsTarget(bool replace) {
  if (replace) {
    if (ops_.rename(name_.c_str(), target_.c_str()) != 0) return false;
    named_ = false;
  } else {
    if (ops_.linkat(AT_FDCWD, name_.c_str(), AT_FDCWD, target_.c_str(), 0) !=
        0) {
      return false;
    }
    // The temporary name goes in the destructor (and on a signal before).
  }
  if (!named_) signal_undo::Disarm();
  return true;
}

}  // namespace extract
