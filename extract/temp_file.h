// The new content of a replaced extract file while it is written: a file
// beside the target that takes the target's place once it is complete.
#pragma once

#include <string>

#include "common/file_util.h"
#include "extract/signal_cleanup.h"

namespace extract {

// Unnamed where the file system allows (O_TMPFILE: nothing is left if the
// process dies), else named ".tabfetch-<hex>.tmp". Created with mode 0666,
// so it gets the bits (umask, default ACL) a plain create of the target
// would give. While the file has a temporary name, a signal removes it
// (signal_undo); the destructor removes it unless it was renamed over the
// target.
class TempFile {
 public:
  TempFile(const common::FileOps& ops, const std::string& target)
      : ops_(ops), target_(target) {}
  ~TempFile();
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  common::UniqueFd& fd() { return fd_; }

  // Makes the file in the target's directory, unnamed or named; false with
  // errno set when none can be made.
  bool Create(bool unnamed);
  // Gives a complete unnamed file its temporary name (a named one has it
  // already); false with errno set.
  bool Link();
  // Gives the named file the target's name: renamed over it (`replace`),
  // or linked to it only while no file has that name (EEXIST otherwise).
  // False with errno set.
  bool NameAsTarget(bool replace);

 private:
  const common::FileOps& ops_;
  const std::string& target_;
  common::UniqueFd fd_;
  std::string name_;
  bool named_ = false;
};

}  // namespace extract
