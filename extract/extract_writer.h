// The extract file writer: the sorted records of a run, concatenated, every
// LF inside a record written as CR LF, replacing or extending the file.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <string_view>

#include "common/file_util.h"
#include "extract/record_list.h"

namespace extract {

inline constexpr int kWriteOk = 0;
inline constexpr int kWriteFailed = -1;

// How long a run waits for another process's lock on the extract file.
inline constexpr std::chrono::milliseconds kDefaultLockWait{30000};

enum class WritePhase { kWriting, kSyncing };

struct WriteRequest {
  // The extract file as the caller named it: '\' is a separator, and each
  // existing component is found as named or else ignoring letter case.
  std::string_view path;
  int replace_flag = 0;   // 1 = replace the file, otherwise append to it
  bool debug = false;     // trace lines "Str WriteFile" / "End WriteFile"
  std::FILE* out = stdout;
  std::FILE* err = stderr;  // causes of a failure, "tabfetch: ..." lines
  std::chrono::milliseconds lock_wait = kDefaultLockWait;
  const common::FileOps* ops = &common::SystemFileOps();  // tests fail them
  // Told when the records begin to go to the file (merged as they are
  // written) and when the file is synced; for a progress display. May be
  // empty.
  std::function<void(WritePhase)> on_phase = {};
  // Whether the records are needed after this write: without, they give
  // their memory back as they are written (RecordList::ReadOnce).
  bool keep_records = true;
};

// Sorts `list` and writes it to req.path. Returns kWriteOk, also for an
// empty list, which opens nothing. Returns kWriteFailed after printing
// "Ausgabedatei konnte nicht geoeffnet \n" when the file cannot be opened for
// writing (also when another process holds its lock for longer than
// req.lock_wait, and for a chain of more than 40 symbolic links), or
// "Ausgabedatei konnte nicht geschrieben werden \n" when writing fails
// (also when the appended file lost its name during the run); either way
// the file is left as it was, and one "tabfetch: " line on req.err says why.
//
// Replacing writes an unnamed temporary file beside the target (a named
// ".tabfetch-<hex>.tmp" where the file system has no unnamed files), syncs
// it, names it and renames it over the target (which keeps its permission
// bits; a symbolic link is followed to the file it names); where no file can
// be created beside the target, the target is rewritten in place. Appending
// holds an exclusive flock on the file while writing and cuts the file back
// to its earlier length on failure (removing it when this call created it).
// With InstallSignalCleanup (signal_cleanup.h), a signal undoes the same.
[[nodiscard]] int WriteFile(const WriteRequest& req, RecordList& list);

}  // namespace extract
