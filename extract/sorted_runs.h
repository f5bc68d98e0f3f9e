// The sorted runs of a record list: in memory while the budget allows, in an
// unnamed temporary file beyond it, and their merge into one order.
// Internal to the record list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/file_util.h"
#include "extract/chunk_sort.h"
#include "extract/page_block.h"
#include "extract/record_list.h"

namespace extract {

// A sorted run is stored front-coded: each record as the number of leading
// bytes it shares with the record before it (in `lcp_width` bytes, least
// significant first; 0 for the first record of the run) and the bytes after
// them. Records of an extract share long beginnings (the terminal name, a
// name, zero-padded numbers), so this about halves the memory and the
// temporary file a run takes, and it tells the merge how far two records of
// a run agree without comparing them.
struct SortedRun {
  PageBlock block;           // the coded records, when in memory
  std::uint64_t offset = 0;  // where they start, when in the file
  std::size_t bytes = 0;     // coded bytes
  std::size_t count = 0;
  bool in_file = false;
};

// The merge position in one run.
struct MergeSource {
  const char* cur = nullptr;   // next coded record
  const char* end = nullptr;   // end of the coded bytes at hand
  std::uint64_t file_pos = 0;  // next bytes to read, when in the file
  std::uint64_t file_end = 0;
  std::size_t left = 0;        // records not yet decoded
  bool done = false;           // no record at the head: sorts after all
  std::size_t released = 0;    // bytes of the run given back, when in memory
  std::uintptr_t give_back_at = 0;  // where `cur` next lets more go back
  std::vector<char> buffer;
  SortedRun* run = nullptr;
};

// The runs of records of `record_length` bytes. Add() is called by one
// thread at a time; the merge (StartMerge, Rewind, Read) after the last
// Add(), on one thread.
class SortedRuns {
 public:
  // At most this much of the budget is kept for reading back spilled runs
  // at the merge (an eighth of it when that is less).
  static constexpr std::size_t kMaxMergeReserve = std::size_t{32} << 20;
  // The spill stops before its file system would have less than this
  // share free (one in 20: 5 %).
  static constexpr std::uint64_t kKeepFreeDivisor = 20;

  // Runs, the chunks in hand and the merge's read buffers take up to
  // `budget` bytes of memory; the spill file goes to `temp_dir` (empty:
  // /tmp), through `ops`.
  SortedRuns(std::size_t record_length, std::size_t budget,
             std::string temp_dir, const common::FileOps& ops);

  // The part of the budget kept for the merge's read buffers.
  static std::size_t MergeReserve(std::size_t budget);

  // Adds the `count` records at `records`, in the order `order` names them,
  // as one run: in memory while the budget allows, with `in_hand` bytes of
  // chunks and sort order held besides, the temporary file beyond. False
  // when that failed (failure() says why).
  bool Add(const char* records, const SortEntry* order, std::size_t count,
           std::size_t in_hand);

  // Sets up the merge of all runs, reading from the first record. False
  // with errno set.
  bool StartMerge();
  // Starts reading from the first record again; false (errno set) when the
  // temporary file cannot be read, or EINVAL when the runs were read once
  // (ReadOnce) and have given their memory back.
  bool Rewind();
  // The runs in memory give their memory back as the merge reads them.
  void ReadOnce();
  // Copies the next records in order to `out` (room for `max_records`) and
  // returns how many, 0 at the end, -1 when the temporary file cannot be
  // read (errno set).
  std::ptrdiff_t Read(char* out, std::size_t max_records);

  std::size_t count() const { return runs_.size(); }
  std::size_t spilled() const { return spilled_runs_; }
  const ListError& failure() const { return failure_; }
  const std::string& temp_dir() const { return temp_dir_; }

 private:
  bool Fail(ListFailure what, int error);
  bool RoomFor(std::size_t bytes);
  std::size_t Code(const char* records, const SortEntry* order,
                   std::size_t count, char* out) const;
  bool Spill(const char* coded, SortedRun& run);
  bool Refill(MergeSource& s);
  void GiveBack(MergeSource& s);
  static constexpr std::size_t kFailed = static_cast<std::size_t>(-1);
  std::size_t Advance(std::size_t source);
  char* Head(std::size_t source) { return heads_.data() + source * length_; }
  const char* Head(std::size_t source) const {
    return heads_.data() + source * length_;
  }
  struct Outcome {
    bool first_wins;
    std::size_t shared;
  };
  Outcome Match(std::size_t a, std::size_t b, std::size_t from) const;
  std::size_t InitTree(std::size_t node);

  const std::size_t length_;
  const std::size_t lcp_width_;   // bytes of a coded record's shared length
  const std::size_t max_coded_;   // bytes of a coded record at most
  const std::size_t budget_;
  std::string temp_dir_;
  const common::FileOps& ops_;
  ListError failure_;

  // A run is coded here when it may not fit the budget, and then kept or
  // written to the temporary file.
  PageBlock scratch_;
  std::vector<SortedRun> runs_;
  std::size_t memory_bytes_ = 0;
  common::UniqueFd spill_fd_;
  std::uint64_t spill_size_ = 0;
  std::size_t spilled_runs_ = 0;

  // The merge: a tournament tree whose inner nodes keep the loser of their
  // match and how many leading bytes it shares with the winner.
  std::vector<MergeSource> sources_;
  std::vector<char> heads_;         // the record at the head of each source
  struct Node {
    std::size_t loser;   // [0]: the winner
    std::size_t shared;  // bytes the loser shares with the winner
  };
  std::vector<Node> tree_;
  bool at_start_ = false;  // nothing read since StartMerge or Rewind
  bool read_once_ = false;
  bool given_back_ = false;  // some memory of the runs is given back
};

}  // namespace extract
