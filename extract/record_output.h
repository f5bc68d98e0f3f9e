// The records of a run as the bytes of the extract file.
#pragma once

#include "common/file_util.h"
#include "extract/record_list.h"

namespace extract {

// Writes the records of `list` to `fd` through ops.write, in list order, one
// after the other, every LF inside a record as CR LF (as the legacy tool's
// text-mode file did it). False with errno set when a write fails or memory
// runs out, or when the list cannot be read (list.failure() says why). The
// list is read from its first record, on this thread and a merge thread it
// starts.
bool WriteRecords(const common::FileOps& ops, int fd, RecordList& list);

}  // namespace extract
