// What a signal that ends the process in the middle of writing an extract
// must undo: SIGINT, SIGTERM, SIGHUP and SIGPIPE remove the temporary file of
// a replace, cut an append back to its earlier length, or put back the old
// bytes of a file rewritten in place, and then end the process as the signal
// would have (its default action, so the caller sees "killed by SIGTERM").
//
// SIGKILL cannot be caught. What it can still leave: on append, the records
// written so far (possibly ending in a partial record); on a replace through
// an unnamed temporary file, only in the short window between naming the
// complete file and renaming it over the target, a complete
// ".tabfetch-<hex>.tmp" beside the target; where the file system has no
// unnamed files, that temporary file at any size; on an in-place rewrite, a
// partly written file.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace extract {

// Installs the handler for SIGINT, SIGTERM, SIGHUP and SIGPIPE, except for
// those the process was started with ignored (nohup), which stay ignored.
// Call once, on the thread that writes the extract, before other threads
// start: a signal that lands on another thread is handed on to this one, so
// that the undo never races with the writing code.
void InstallSignalCleanup();

// Arms the undo for the time the object lives. The texts and bytes passed in
// must outlive the object (the handler only reads them). Only one undo is
// armed at a time; arming replaces what was armed before.
class UndoOnSignal {
 public:
  UndoOnSignal() = default;
  ~UndoOnSignal() { Disarm(); }
  UndoOnSignal(const UndoOnSignal&) = delete;
  UndoOnSignal& operator=(const UndoOnSignal&) = delete;

  // A signal removes the file `path`; with a CutBack armed as well, only
  // while `path` still names that descriptor's file.
  void RemoveFile(const char* path);
  // A signal cuts the file open as `fd` back to `length` bytes, then writes
  // `restore` (`restore_size` bytes) at its start when given, and syncs it.
  void CutBack(int fd, off_t length, const char* restore = nullptr,
               std::size_t restore_size = 0);
  // Nothing left to undo.
  void Disarm();
};

}  // namespace extract
