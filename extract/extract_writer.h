// The extract file writer: the sorted records of a run, concatenated, every
// LF inside a record written as CR LF, replacing or extending the file.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdio>
#include <string_view>

#include "extract/record_list.h"

namespace extract {

inline constexpr int kWriteOk = 0;
inline constexpr int kWriteFailed = -1;

struct WriteRequest {
  std::string_view path;  // the extract file, used as given
  int replace_flag = 0;   // 1 = replace the file, otherwise append to it
  bool debug = false;     // trace lines "Str WriteFile" / "End WriteFile"
  std::FILE* out = stdout;
  std::FILE* err = stderr;  // causes of a failure, "tabfetch: ..." lines
};

// Sorts `list` and writes it to req.path. Returns kWriteOk, also for an
// empty list, which opens nothing. Returns kWriteFailed after printing
// "Ausgabedatei konnte nicht geoeffnet \n" when the file cannot be opened for
// writing, or "Ausgabedatei konnte nicht geschrieben werden \n" when writing
// fails; either way the file is left as it was.
//
// Replacing writes a temporary file beside the target, syncs it and renames
// it over the target (which keeps its permission bits; a symbolic link is
// followed to the file it names); where no file can be created beside the
// target, the target is rewritten in place. Appending holds an exclusive
// flock on the file while writing and cuts the file back to its earlier
// length on failure (removing it when this call created it).
[[nodiscard]] int WriteFile(const WriteRequest& req, RecordList& list);

// The system calls the writer makes on the files it writes, replaceable so
// that tests can make them fail. Default: ::write, ::fsync, ::close.
struct WriterFileOps {
  ssize_t (*write)(int fd, const void* data, std::size_t size);
  int (*fsync)(int fd);
  int (*close)(int fd);
};
WriterFileOps& WriterFileOpsForTesting();

}  // namespace extract
