// The record list: all records of a run, in one contiguous block of memory,
// put in plain unsigned byte order once, before the list is written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace extract {

// Memory straight from the kernel for the record arena: its pages are
// taken in one go when it is made (one system call instead of a page fault
// for every 4 KiB as the records are written), and it grows without copying.
class PageBlock {
 public:
  PageBlock() = default;
  ~PageBlock() { Release(); }
  PageBlock(PageBlock&& other) noexcept;
  PageBlock& operator=(PageBlock&& other) noexcept;
  PageBlock(const PageBlock&) = delete;
  PageBlock& operator=(const PageBlock&) = delete;

  char* data() const { return data_; }
  std::size_t size() const { return size_; }  // usable bytes

  // Makes the block hold at least `bytes` bytes, keeping its content (which
  // may move). New bytes are zero. Returns false when the memory is not
  // there; the block is then unchanged.
  bool Resize(std::size_t bytes);
  void Release();

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
};

class RecordList {
 public:
  RecordList() = default;
  RecordList(RecordList&&) noexcept = default;
  RecordList& operator=(RecordList&&) noexcept = default;
  RecordList(const RecordList&) = delete;
  RecordList& operator=(const RecordList&) = delete;

  // Number of records stored.
  std::size_t count() const { return count_; }
  bool empty() const { return count_ == 0; }

  // The length every record of this list has: fixed by the first record
  // (or by Reserve with a length), 0 before that.
  std::size_t record_length() const { return record_length_; }

  // Makes room for `records` records in all, so that appending them does not
  // move the stored ones. When no record length is fixed yet, the room is
  // taken at the first append. Returns false when the memory is not there
  // (the list is unchanged).
  bool Reserve(std::size_t records);

  // Appends one record of `length` bytes and returns where to write its
  // bytes. Returns nullptr, storing nothing, when `length` differs from the
  // list's record length or memory runs out. For length 0 the pointer is
  // valid but must not be written to.
  char* AppendSlot(std::size_t length);

  // Puts the records in ascending plain unsigned byte order (equal records
  // end up adjacent). Cheap when the list is already sorted. Returns false
  // when the memory for the order is not there; the list is then unchanged.
  bool Sort();
  bool sorted() const { return sorted_; }

  // Record `i`, 0 <= i < count(): in sorted order after Sort(), in the order
  // of appending before (and again after an append that follows Sort()).
  std::string_view Record(std::size_t i) const {
    return std::string_view(RecordData(sorted_ ? order_[i].index : i),
                            record_length_);
  }

  // Where record `i` (in the order of Record) starts; for reading ahead.
  const char* RecordAt(std::size_t i) const {
    return RecordData(sorted_ ? order_[i].index : i);
  }

  // All record bytes in the order of appending, count() * record_length().
  std::string_view Bytes() const {
    return std::string_view(arena_.data(), count_ * record_length_);
  }

  // Releases all memory; the list is empty and its record length open again.
  void Clear();

  // One entry of the sort order: a record index and the 12 bytes of the
  // record the sort is looking at, read big-endian so that integer order is
  // byte order: `key` the first 8 of them, `key2` the other 4.
  struct SortEntry {
    std::uint64_t key;
    std::uint32_t key2;
    std::uint32_t index;
  };

 private:
  const char* RecordData(std::size_t index) const {
    return arena_.data() + index * record_length_;
  }
  bool Grow(std::size_t records);

  PageBlock arena_;
  std::size_t capacity_ = 0;  // records the arena can hold
  std::size_t count_ = 0;
  std::size_t record_length_ = 0;
  bool length_fixed_ = false;
  std::size_t reserved_ = 0;  // records asked for by Reserve
  bool sorted_ = false;
  std::vector<SortEntry> order_;  // the sorted order while sorted_
};

// Stores a copy of `record`. Returns 1 when stored, 0 when not (its length
// differs from the records already stored, or memory ran out).
int InsertRecord(RecordList& list, std::string_view record);

// -1, 0 or 1 as `a` sorts before, equal to or after `b`: bytes compared as
// unsigned values, a text that is the beginning of the other sorts first.
int CompareRecords(std::string_view a, std::string_view b);

// Releases the records. Returns 0.
int FreeRecordList(RecordList& list);

}  // namespace extract
