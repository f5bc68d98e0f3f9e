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

// The undo a signal carries out. There is one for the whole process (a
// signal handler has no object to look in), armed by the writing thread
// before each step it may have to undo: before a file is created or
// truncated, not after. The texts and bytes passed in must stay until the
// undo is disarmed (the handler only reads them). Arming replaces what was
// armed before.
namespace signal_undo {

// A signal removes the file `path`; with a CutBack armed as well, only
// while `path` still names that descriptor's file.
void RemoveFile(const char* path);
// A signal cuts the file open as `fd` back to `length` bytes, then writes
// `restore` (`restore_size` bytes) at its start when given, and syncs it.
void CutBack(int fd, off_t length, const char* restore = nullptr,
             std::size_t restore_size = 0);
// Nothing left to undo.
void Disarm();

}  // namespace signal_undo

// Disarms the undo when it goes, on every way out of a write.
class DisarmUndoAtExit {
 public:
  DisarmUndoAtExit() = default;
  ~DisarmUndoAtExit() { signal_undo::Disarm(); }
  DisarmUndoAtExit(const DisarmUndoAtExit&) = delete;
  DisarmUndoAtExit& operator=(const DisarmUndoAtExit&) = delete;
};

}  // namespace extract
