// The records of a run as the bytes of the extract file.
#pragma once

#include <cstddef>

#include "extract/record_list.h"

namespace extract {

// Writes all `size` bytes to `fd`, going on after short writes and EINTR.
// False with errno set when a write fails.
bool WriteAll(int fd, const char* data, std::size_t size);

// Writes the records of `list` to `fd` in list order, one after the other,
// every LF inside a record as CR LF (as the legacy tool's text-mode file did
// it). False with errno set when a write fails or memory runs out.
bool WriteRecords(int fd, const RecordList& list);

}  // namespace extract
