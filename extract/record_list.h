// The record list: all records of a run, put in plain unsigned byte order
// before the list is written, within a memory budget.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace extract {

// The default memory budget: a quarter of the physical memory, at most
// 1 GiB (and at least 64 MiB).
std::size_t DefaultMemoryBudget();

// How a record list holds its records.
struct RecordListOptions {
  // Bytes of sorted records kept in memory; the records beyond go to an
  // unnamed temporary file. DefaultMemoryBudget() unless the caller sets it.
  std::size_t memory_budget = DefaultMemoryBudget();
  // Bytes of records gathered before they are sorted as one run.
  std::size_t chunk_bytes = std::size_t{8} << 20;
  // Where the temporary file goes (the run passes TMPDIR); empty: /tmp.
  std::string temp_dir;
  // Whether runs are sorted on a second thread while records arrive.
  bool worker_thread = true;
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
  // length 0 the pointer is valid but must not be written to.
  char* AppendSlot(std::size_t length);

  // Puts the records in ascending plain unsigned byte order (equal records
  // kept) and starts reading them from the first. Returns false when that
  // failed: no memory, or the temporary file could not be made or written
  // (error_number() says why; it stays false until Clear).
  bool Sort();
  bool sorted() const { return sorted_; }

  // Reading the sorted records moves a read position, which is all that
  // changes; the records stay as they are, so these are const.
  //
  // After Sort(): copies the next records in order to `out` (room for
  // `max_records` records) and returns how many, 0 at the end, -1 when the
  // temporary file cannot be read (errno set).
  std::ptrdiff_t ReadSorted(char* out, std::size_t max_records) const;
  // After Sort(): the next record in order: 1, 0 at the end, -1 as above.
  // The view is valid until the next call.
  int NextRecord(std::string_view& record) const;
  // Starts reading the sorted records from the first again; false when the
  // temporary file cannot be read.
  bool Rewind() const;

  // Whether any record holds a line feed byte.
  bool has_line_feed() const { return has_line_feed_; }
  // The errno of the failure that made Sort() fail, 0 if none.
  int error_number() const;
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
  // Where the next record goes in the chunk being filled, and its end.
  char* fill_ = nullptr;
  char* fill_end_ = nullptr;
};

// Releases the records. Returns 0.
int FreeRecordList(RecordList& list);

}  // namespace extract
