// Sorted runs: copies of sorted chunks in memory or in an unnamed temporary
// file, read back through a tournament tree that merges them into one order.
#include "extract/sorted_runs.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

namespace extract {
namespace {

constexpr std::size_t kStagingBytes = std::size_t{1} << 20;
constexpr std::size_t kMinReadBytes = std::size_t{16} << 10;

// A file without a name in `dir`: nothing is left of it however the
// process ends. Where the file system cannot make one, a named file is
// removed right after it was made.
common::UniqueFd OpenSpillFile(const common::FileOps& ops,
                               const std::string& dir) {
  std::string name;
  // The records are the extract's: no other user may read them, even in
  // the moment a named file stands in a shared TMPDIR.
  common::UniqueFd fd = common::CreateTempFile(ops, dir, true, name, 0600);
  if (fd.valid() || !common::NoUnnamedFiles(errno)) return fd;
  fd = common::CreateTempFile(ops, dir, false, name, 0600);
  if (fd.valid()) ops.unlink(name.c_str());
  return fd;
}

}  // namespace

SortedRuns::SortedRuns(std::size_t record_length, std::size_t budget,
                       std::string temp_dir, const common::FileOps& ops)
    : length_(record_length),
      budget_(budget),
      temp_dir_(std::move(temp_dir)),
      ops_(ops) {
  if (temp_dir_.empty()) temp_dir_ = "/tmp";
}

std::size_t SortedRuns::MergeReserve(std::size_t budget) {
  return std::min(budget / 8, kMaxMergeReserve);
}

bool SortedRuns::Fail(ListFailure what, int error) {
  failure_.what = what;
  failure_.error = error != 0 ? error : EIO;
  errno = failure_.error;
  return false;
}

bool SortedRuns::Add(const char* records, const SortEntry* order,
                     std::size_t count, std::size_t in_hand) {
  const std::size_t bytes = count * length_;
  SortedRun run;
  run.count = count;
  // While rows arrive the chunks in hand take their share of the budget; at
  // the merge they are gone and the merge's read buffers take it.
  const std::size_t besides = std::max(in_hand, MergeReserve(budget_));
  if (memory_bytes_ + bytes + besides <= budget_ && run.block.Resize(bytes)) {
    CopyInOrder(records, order, count, run.block.data());
    memory_bytes_ += bytes;
  } else if (!Spill(records, order, count, run)) {
    return false;
  }
  try {
    runs_.push_back(std::move(run));
  } catch (const std::bad_alloc&) {
    return Fail(ListFailure::kMemory, ENOMEM);
  }
  return true;
}

// The records `ord[0..count)` name, in that order, to `out`.
void SortedRuns::CopyInOrder(const char* records, const SortEntry* ord,
                             std::size_t count, char* out) const {
  // The records lie scattered over the chunk: ask for them ahead of use.
  constexpr std::size_t kAhead = 8;
  for (std::size_t i = 0; i < count; ++i, out += length_) {
    if (i + kAhead < count) {
      const char* ahead =
          records + static_cast<std::size_t>(ord[i + kAhead].index) * length_;
      __builtin_prefetch(ahead);
      __builtin_prefetch(ahead + length_ - 1);
    }
    std::memcpy(out, records + static_cast<std::size_t>(ord[i].index) * length_,
                length_);
  }
}

// Whether the temporary file may grow by `bytes` and leave at least 5 % of
// its file system free: an unbounded result must not fill the disk that
// other programs share.
bool SortedRuns::RoomFor(std::size_t bytes) {
  std::uint64_t available = 0;
  std::uint64_t total = 0;
  if (ops_.space(spill_fd_.get(), available, total) != 0) return true;
  return available >= bytes && available - bytes >= total / kKeepFreeDivisor;
}

bool SortedRuns::Spill(const char* records, const SortEntry* order,
                       std::size_t count, SortedRun& run) {
  if (!spill_fd_.valid()) {
    spill_fd_ = OpenSpillFile(ops_, temp_dir_);
    if (!spill_fd_.valid()) return Fail(ListFailure::kSpillCreate, errno);
  }
  try {
    if (staging_.empty()) {
      staging_.resize(std::max(kStagingBytes / length_, std::size_t{1}) *
                      length_);
    }
  } catch (const std::bad_alloc&) {
    return Fail(ListFailure::kMemory, ENOMEM);
  }
  const std::size_t per_write = staging_.size() / length_;
  run.in_file = true;
  run.offset = spill_size_;
  // One look at the free space for the whole run, written right after.
  if (!RoomFor(count * length_)) return Fail(ListFailure::kSpillFull, ENOSPC);
  for (std::size_t i = 0; i < count; i += per_write) {
    const std::size_t n = std::min(per_write, count - i);
    CopyInOrder(records, order + i, n, staging_.data());
    if (!common::PwriteAll(ops_, spill_fd_.get(), staging_.data(),
                           n * length_, spill_size_)) {
      return Fail(ListFailure::kSpillWrite, errno);
    }
    spill_size_ += n * length_;
  }
  ++spilled_runs_;
  return true;
}

bool SortedRuns::StartMerge() {
  sources_.clear();
  std::size_t file_runs = 0;
  for (const SortedRun& run : runs_) file_runs += run.in_file ? 1 : 0;
  std::size_t buffer_bytes = 0;
  if (file_runs > 0) {
    buffer_bytes = std::min(MergeReserve(budget_) / file_runs, kStagingBytes);
    buffer_bytes = std::max(buffer_bytes, kMinReadBytes);
    buffer_bytes = std::max<std::size_t>(buffer_bytes / length_, 1) * length_;
  }
  try {
    sources_.resize(runs_.size());
    for (std::size_t i = 0; i < runs_.size(); ++i) {
      sources_[i].run = &runs_[i];
      if (runs_[i].in_file) sources_[i].buffer.resize(buffer_bytes);
    }
    tree_.assign(std::max<std::size_t>(runs_.size(), 1), 0);
  } catch (const std::bad_alloc&) {
    return Fail(ListFailure::kMemory, ENOMEM);
  }
  at_start_ = false;
  return Rewind();
}

bool SortedRuns::Rewind() {
  if (at_start_) return true;
  for (MergeSource& s : sources_) {
    const SortedRun& run = *s.run;
    if (!run.in_file) {
      s.cur = run.block.data();
      s.end = s.cur + run.count * length_;
      continue;
    }
    s.file_pos = run.offset;
    s.file_end = run.offset + run.count * length_;
    if (!Refill(s)) return false;
  }
  if (!sources_.empty()) tree_[0] = InitTree(1);
  at_start_ = true;
  return true;
}

bool SortedRuns::Refill(MergeSource& s) {
  const std::size_t n = static_cast<std::size_t>(
      std::min<std::uint64_t>(s.buffer.size(), s.file_end - s.file_pos));
  s.cur = s.end = s.buffer.data();
  if (n == 0) return true;
  if (!common::PreadAll(ops_, spill_fd_.get(), s.buffer.data(), n,
                        s.file_pos)) {
    return Fail(ListFailure::kSpillRead, errno);
  }
  s.file_pos += n;
  s.end = s.cur + n;
  return true;
}

// Whether the next record of source `a` sorts before that of `b`; an
// exhausted source sorts after everything.
bool SortedRuns::Less(std::size_t a, std::size_t b) const {
  const MergeSource& x = sources_[a];
  const MergeSource& y = sources_[b];
  if (x.cur == x.end) return false;
  if (y.cur == y.end) return true;
  const int c = std::memcmp(x.cur, y.cur, length_);
  return c < 0 || (c == 0 && a < b);
}

// A tournament over the sources: leaf i is node k + i, node n has the
// children 2n and 2n + 1, and every inner node keeps the loser of its
// match. Returns the winner below `node`.
std::size_t SortedRuns::InitTree(std::size_t node) {
  const std::size_t k = sources_.size();
  if (node >= k) return node - k;
  const std::size_t a = InitTree(2 * node);
  const std::size_t b = InitTree(2 * node + 1);
  if (Less(b, a)) {
    tree_[node] = a;
    return b;
  }
  tree_[node] = b;
  return a;
}

std::ptrdiff_t SortedRuns::Read(char* out, std::size_t max_records) {
  at_start_ = false;
  const std::size_t k = sources_.size();
  std::size_t n = 0;
  if (k == 0) return 0;
  if (k == 1) {
    MergeSource& s = sources_[0];
    while (n < max_records) {
      if (s.cur == s.end) {
        if (s.file_pos == s.file_end) break;
        if (!Refill(s)) return -1;
      }
      const std::size_t take = std::min<std::size_t>(
          max_records - n, static_cast<std::size_t>(s.end - s.cur) / length_);
      std::memcpy(out + n * length_, s.cur, take * length_);
      s.cur += take * length_;
      n += take;
    }
    return static_cast<std::ptrdiff_t>(n);
  }
  while (n < max_records) {
    std::size_t winner = tree_[0];
    MergeSource& s = sources_[winner];
    if (s.cur == s.end) break;  // the winner is exhausted: all are
    std::memcpy(out + n * length_, s.cur, length_);
    ++n;
    s.cur += length_;
    // With many runs, the processor cannot tell which records come next;
    // the record after the new head is the one this run offers the next
    // time it wins, some rounds from now.
    __builtin_prefetch(s.cur + length_);
    __builtin_prefetch(s.cur + 2 * length_ - 1);
    if (s.cur == s.end && s.file_pos < s.file_end && !Refill(s)) return -1;
    for (std::size_t node = (winner + k) / 2; node > 0; node /= 2) {
      if (Less(tree_[node], winner)) std::swap(tree_[node], winner);
    }
    tree_[0] = winner;
  }
  return static_cast<std::ptrdiff_t>(n);
}

}  // namespace extract
