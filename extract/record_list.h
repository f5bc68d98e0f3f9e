// The record list: all records of a run, put in plain unsigned byte order
// before the list is written, within a memory budget.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/file_util.h"
#include "extract/memory_budget.h"

namespace extract {

// How a record list holds its records.
struct RecordListOptions {
  // Bytes of memory the records take: the chunks being filled and sorted,
  // their sort order, the sorted runs kept in memory and, at the end, the
  // read buffers of the merge. The records beyond go to an unnamed
  // temporary file. DefaultMemoryBudget() unless the caller sets it.
  std::size_t memory_budget = DefaultMemoryBudget();
  // Bytes of records gathered before they are sorted as one run (chunks
  // grow up to four times that, and stay below a sixteenth of the budget).
  std::size_t chunk_bytes = std::size_t{8} << 20;
  // Where the temporary file goes (the run passes TMPDIR); empty: /tmp.
  std::string temp_dir;
  // Whether runs are sorted on a second thread while records arrive.
  bool worker_thread = true;
  // The calls on the temporary file (tests make them fail).
  const common::FileOps* file_ops = &common::SystemFileOps();
};

// What made a record list fail; the list stays failed until Clear.
enum class ListFailure {
  kNone,
  kMemory,       // memory for a chunk, its sort order or the merge
  kSpillCreate,  // the temporary file could not be made
  kSpillWrite,   // writing it failed
  kSpillFull,    // it would leave less than 5 % of its file system free
  kSpillRead,    // reading it back failed
};

struct ListError {
  ListFailure what = ListFailure::kNone;
  int error = 0;  // the errno of the failure
};

// What the sorting took, for the profile line of a run.
struct RecordListTimes {
  double worker_sort_s = 0;  // processor time of sorting and spilling runs
  double final_sort_s = 0;   // Sort(): waiting for it, the last run, setup
  std::size_t runs = 0;
  std::size_t spilled_runs = 0;
};

// The records of a run. Records are gathered in chunks; each full chunk is
// sorted on a second thread while the next one fills (a run), and runs that
// do not fit the memory budget are written to an unnamed temporary file,
// which vanishes with the process whatever way it ends. Sort() sorts the
// last chunk; the sorted order is then read by merging the runs.
class RecordList {
 public:
  RecordList();
  explicit RecordList(const RecordListOptions& options);
  ~RecordList();
  RecordList(RecordList&&) noexcept;
  RecordList& operator=(RecordList&&) noexcept;
  RecordList(const RecordList&) = delete;
  RecordList& operator=(const RecordList&) = delete;

  // Number of records stored.
  std::size_t count() const { return count_; }
  bool empty() const { return count_ == 0; }

  // The length every record of this list has: fixed by the first record,
  // 0 before that.
  std::size_t record_length() const { return record_length_; }

  // Appends one record of `length` bytes and returns where to write its
  // bytes, valid until the next call. Returns nullptr, storing nothing, when
  // `length` differs from the list's record length or memory runs out. For
  // length 0 the pointer is valid but must not be written to. Also returns
  // nullptr once the list has failed (a run that could not be sorted or
  // spilled on the second thread): failure() says why.
  char* AppendSlot(std::size_t length);

  // Puts the records in ascending plain unsigned byte order (equal records
  // kept) and starts reading them from the first. Returns false when that
  // failed: no memory, or the temporary file could not be made or written
  // (failure() says why; it stays false until Clear). A sorted list is not
  // sorted again.
  bool Sort();
  bool sorted() const { return sorted_; }

  // Reading the sorted records moves the one read position of the list:
  // one thread reads at a time (the writer hands the list to its merge
  // thread while that runs).
  //
  // After Sort(): copies the next records in order to `out` (room for
  // `max_records` records) and returns how many, 0 at the end, -1 when the
  // temporary file cannot be read (errno set, failure() says so).
  std::ptrdiff_t ReadSorted(char* out, std::size_t max_records);
  // After Sort(): the next record in order: 1, 0 at the end, -1 as above.
  // The view is valid until the next call.
  int NextRecord(std::string_view& record);
  // Starts reading the sorted records from the first again; false when the
  // temporary file cannot be read, or (EINVAL) after ReadOnce once the
  // records have given their memory back.
  bool Rewind();
  // After Sort(): the records are read once more, and the last time: they
  // give their memory back to the system as they are read.
  void ReadOnce();

  // Whether any record holds a line feed byte.
  bool has_line_feed() const { return has_line_feed_; }
  // The failure that made AppendSlot, Sort or the reading fail.
  ListError failure() const;
  // failure() as a cause for standard error: what failed, with TMPDIR and
  // its directory for the temporary file. Empty when nothing failed.
  std::string FailureText() const;
  const RecordListOptions& options() const { return options_; }
  RecordListTimes times() const;

  // Releases all memory and the temporary file; the list is empty and its
  // record length open again.
  void Clear();

  struct State;  // chunks, runs, worker thread, temporary file, merge

 private:
  char* NewChunk();

  RecordListOptions options_;
  std::unique_ptr<State> state_;
  std::size_t count_ = 0;
  std::size_t record_length_ = 0;
  bool length_fixed_ = false;
  bool sorted_ = false;
  bool has_line_feed_ = false;
  ListError failure_;  // found on this thread (memory for a chunk)
  // Where the next record goes in the chunk being filled, and its end.
  char* fill_ = nullptr;
  char* fill_end_ = nullptr;
};

// Releases the records. Returns 0.
int FreeRecordList(RecordList& list);

}  // namespace extract
