// Sorted runs: sorted chunks, front-coded, in memory or in an unnamed
// temporary file, read back through a tournament tree that merges them into
// one order and compares two records only behind the bytes it knows they
// share.
#include "extract/sorted_runs.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

namespace extract {
namespace {

// A read buffer of a spilled run at the merge: at most this size, at least
// the smaller one (and room for two coded records).
constexpr std::size_t kMaxReadBytes = std::size_t{1} << 20;
constexpr std::size_t kMinReadBytes = std::size_t{16} << 10;

// How many bytes a coded record's shared length takes: enough for the
// record length.
std::size_t LengthWidth(std::size_t record_length) {
  if (record_length <= 0xFF) return 1;
  if (record_length <= 0xFFFF) return 2;
  return sizeof(std::size_t);
}

void PutLength(char* out, std::size_t value, std::size_t width) {
  for (std::size_t i = 0; i < width; ++i, value >>= 8) {
    out[i] = static_cast<char>(value & 0xFF);
  }
}

std::size_t GetLength(const char* in, std::size_t width) {
  if (width == 1) return static_cast<unsigned char>(in[0]);
  std::size_t value = 0;
  for (std::size_t i = width; i-- > 0;) {
    value = value << 8 | static_cast<unsigned char>(in[i]);
  }
  return value;
}

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
      lcp_width_(LengthWidth(record_length)),
      max_coded_(record_length + LengthWidth(record_length)),
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
  SortedRun run;
  run.count = count;
  // While rows arrive the chunks in hand take their share of the budget; at
  // the merge they are gone and the merge's read buffers take it.
  auto besides = [&] {
    return std::max(in_hand + scratch_.size(), MergeReserve(budget_));
  };
  const std::size_t most = count * max_coded_;
  if (memory_bytes_ + most + besides() <= budget_ && run.block.Resize(most)) {
    // It fits however little the records share: coded straight into its
    // block, and the pages behind what it takes go back.
    run.bytes = Code(records, order, count, run.block.data());
    run.block.Shrink(run.bytes);
  } else {
    // Whether it fits shows once it is coded.
    if (!scratch_.Resize(most)) return Fail(ListFailure::kMemory, ENOMEM);
    run.bytes = Code(records, order, count, scratch_.data());
    if (memory_bytes_ + run.bytes + besides() <= budget_ &&
        run.block.Resize(run.bytes)) {
      std::memcpy(run.block.data(), scratch_.data(), run.bytes);
    } else if (!Spill(scratch_.data(), run)) {
      return false;
    }
  }
  memory_bytes_ += run.block.size();
  try {
    runs_.push_back(std::move(run));
  } catch (const std::bad_alloc&) {
    return Fail(ListFailure::kMemory, ENOMEM);
  }
  return true;
}

// The records `ord[0..count)` name, in that order, front-coded to `out`.
// Returns the bytes written: at most `count` * max_coded_.
std::size_t SortedRuns::Code(const char* records, const SortEntry* ord,
                             std::size_t count, char* out) const {
  char* const start = out;
  const char* before = nullptr;
  // The records lie scattered over the chunk: ask for them ahead of use.
  constexpr std::size_t kAhead = 8;
  for (std::size_t i = 0; i < count; ++i) {
    if (i + kAhead < count) {
      const char* ahead =
          records + static_cast<std::size_t>(ord[i + kAhead].index) * length_;
      __builtin_prefetch(ahead);
      __builtin_prefetch(ahead + length_ - 1);
    }
    const char* rec =
        records + static_cast<std::size_t>(ord[i].index) * length_;
    const std::size_t shared =
        before == nullptr ? 0 : SharedBytes(before, rec, length_);
    PutLength(out, shared, lcp_width_);
    out += lcp_width_;
    std::memcpy(out, rec + shared, length_ - shared);
    out += length_ - shared;
    before = rec;
  }
  return static_cast<std::size_t>(out - start);
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

// Writes the `run.bytes` coded bytes at `coded` to the temporary file.
bool SortedRuns::Spill(const char* coded, SortedRun& run) {
  if (!spill_fd_.valid()) {
    spill_fd_ = OpenSpillFile(ops_, temp_dir_);
    if (!spill_fd_.valid()) return Fail(ListFailure::kSpillCreate, errno);
  }
  if (!RoomFor(run.bytes)) return Fail(ListFailure::kSpillFull, ENOSPC);
  run.in_file = true;
  run.offset = spill_size_;
  if (!common::PwriteAll(ops_, spill_fd_.get(), coded, run.bytes,
                         spill_size_)) {
    return Fail(ListFailure::kSpillWrite, errno);
  }
  spill_size_ += run.bytes;
  ++spilled_runs_;
  return true;
}

bool SortedRuns::StartMerge() {
  scratch_.Release();
  sources_.clear();
  std::size_t file_runs = 0;
  for (const SortedRun& run : runs_) file_runs += run.in_file ? 1 : 0;
  std::size_t buffer_bytes = 0;
  if (file_runs > 0) {
    buffer_bytes = std::min(MergeReserve(budget_) / file_runs, kMaxReadBytes);
    buffer_bytes = std::max({buffer_bytes, kMinReadBytes, 2 * max_coded_});
  }
  const std::size_t k = runs_.size();
  try {
    sources_.resize(k);
    for (std::size_t i = 0; i < k; ++i) {
      sources_[i].run = &runs_[i];
      if (runs_[i].in_file) sources_[i].buffer.resize(buffer_bytes);
    }
    heads_.assign(k * length_, 0);
    tree_.assign(std::max<std::size_t>(k, 1), Node{0, 0});
  } catch (const std::bad_alloc&) {
    return Fail(ListFailure::kMemory, ENOMEM);
  }
  at_start_ = false;
  return Rewind();
}

bool SortedRuns::Rewind() {
  if (at_start_) return true;
  if (given_back_) {
    errno = EINVAL;
    return false;
  }
  for (std::size_t i = 0; i < sources_.size(); ++i) {
    MergeSource& s = sources_[i];
    const SortedRun& run = *s.run;
    s.left = run.count;
    s.done = false;
    // The first look at what can be given back: at once, when at all.
    s.give_back_at = read_once_ && !run.in_file
                         ? 0
                         : std::numeric_limits<std::uintptr_t>::max();
    if (run.in_file) {
      s.file_pos = run.offset;
      s.file_end = run.offset + run.bytes;
      s.cur = s.end = s.buffer.data();
    } else {
      s.cur = run.block.data();
      s.end = s.cur + run.bytes;
    }
    if (Advance(i) == kFailed) return false;
  }
  if (!sources_.empty()) tree_[0].loser = InitTree(1);
  at_start_ = true;
  return true;
}

void SortedRuns::ReadOnce() {
  read_once_ = true;
  for (MergeSource& s : sources_) {
    if (!s.run->in_file) s.give_back_at = 0;
  }
}

// Keeps what is left of the coded bytes at hand and reads the next ones of
// the run behind them.
bool SortedRuns::Refill(MergeSource& s) {
  const std::size_t kept = static_cast<std::size_t>(s.end - s.cur);
  std::memmove(s.buffer.data(), s.cur, kept);
  const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(
      s.buffer.size() - kept, s.file_end - s.file_pos));
  if (n > 0 && !common::PreadAll(ops_, spill_fd_.get(), s.buffer.data() + kept,
                                 n, s.file_pos)) {
    return Fail(ListFailure::kSpillRead, errno);
  }
  s.file_pos += n;
  s.cur = s.buffer.data();
  s.end = s.cur + kept + n;
  return true;
}

// Gives the memory of what the merge has read of an in-memory run back to
// the system, a few megabytes at a time: written to the extract, the
// records are not needed again, and the file's pages in the system's cache
// take the memory that was just theirs (memory the system has not handed
// out before costs far more to hand out).
void SortedRuns::GiveBack(MergeSource& s) {
  // Whole large pages (2 MiB, at addresses they divide): handing back part
  // of one would make the system split it first.
  constexpr std::uintptr_t kStep = std::uintptr_t{2} << 20;
  SortedRun& run = *s.run;
  std::size_t read = run.block.size();
  if (s.left > 0) {
    const auto start = reinterpret_cast<std::uintptr_t>(run.block.data());
    const auto at = reinterpret_cast<std::uintptr_t>(s.cur) / kStep * kStep;
    s.give_back_at = at + kStep;
    if (at <= start) return;
    read = static_cast<std::size_t>(at - start);
  }
  if (read <= s.released) return;
  run.block.Discard(s.released, read);
  s.released = read;
  given_back_ = true;
}

// Decodes the next record of `source` over its head and returns how many
// leading bytes it has in common with the record it replaces. A source
// without records left is done (and shares nothing). kFailed when the
// temporary file cannot be read, or holds what no run was coded to.
[[gnu::always_inline]] inline std::size_t SortedRuns::Advance(
    std::size_t source) {
  MergeSource& s = sources_[source];
  if (s.left == 0) {
    if (read_once_ && !s.run->in_file) GiveBack(s);
    s.done = true;
    return 0;
  }
  if (reinterpret_cast<std::uintptr_t>(s.cur) >= s.give_back_at) GiveBack(s);
  if (static_cast<std::size_t>(s.end - s.cur) < max_coded_ &&
      s.file_pos < s.file_end && !Refill(s)) {
    return kFailed;
  }
  const std::size_t at_hand = static_cast<std::size_t>(s.end - s.cur);
  if (at_hand < lcp_width_) {
    Fail(ListFailure::kSpillRead, EIO);
    return kFailed;
  }
  const std::size_t kept = GetLength(s.cur, lcp_width_);
  if (kept > length_ || at_hand - lcp_width_ < length_ - kept) {
    Fail(ListFailure::kSpillRead, EIO);
    return kFailed;
  }
  std::memcpy(Head(source) + kept, s.cur + lcp_width_, length_ - kept);
  s.cur += lcp_width_ + length_ - kept;
  // The next coded record, read some rounds from now.
  __builtin_prefetch(s.cur + max_coded_);
  --s.left;
  return kept;
}

// Whether the head of source `a` sorts before (or as) that of `b`, both
// agreeing on their first `from` bytes, and how many bytes they agree on. A
// done source sorts after everything and shares nothing.
[[gnu::always_inline]] inline SortedRuns::Outcome SortedRuns::Match(
    std::size_t a, std::size_t b, std::size_t from) const {
  const bool a_done = sources_[a].done;
  if (a_done || sources_[b].done) return {!a_done, 0};
  const char* x = Head(a);
  const char* y = Head(b);
  const std::size_t shared =
      from + SharedBytes(x + from, y + from, length_ - from);
  return {shared == length_ || static_cast<unsigned char>(x[shared]) <
                                   static_cast<unsigned char>(y[shared]),
          shared};
}

// A tournament over the sources: leaf i is node k + i, node n has the
// children 2n and 2n + 1, and every inner node keeps the loser of its
// match. Returns the winner below `node`.
std::size_t SortedRuns::InitTree(std::size_t node) {
  const std::size_t k = sources_.size();
  if (node >= k) return node - k;
  const std::size_t a = InitTree(2 * node);
  const std::size_t b = InitTree(2 * node + 1);
  const Outcome m = Match(a, b, 0);
  tree_[node] = Node{m.first_wins ? b : a, m.shared};
  return m.first_wins ? a : b;
}

// Every loser on the way from the winner's leaf to the top shares `shared`
// bytes with the winner. The winner's next record shares `h` bytes with it,
// so at each node the longer shared beginning decides, and bytes are
// compared only when both are equal, from there on (the LCP-aware
// tournament of string merging).
std::ptrdiff_t SortedRuns::Read(char* out, std::size_t max_records) {
  at_start_ = false;
  const std::size_t k = sources_.size();
  if (k == 0) return 0;
  Node* const tree = tree_.data();
  std::size_t n = 0;
  while (n < max_records) {
    std::size_t winner = tree[0].loser;
    if (sources_[winner].done) break;  // the winner is done: all are
    std::memcpy(out + n * length_, Head(winner), length_);
    ++n;
    std::size_t h = Advance(winner);
    if (h == kFailed) return -1;
    for (std::size_t node = (winner + k) / 2; node > 0; node /= 2) {
      Node& t = tree[node];
      if (t.shared > h) {
        // The loser agrees longer with the record written: it is smaller.
        std::swap(t.loser, winner);
        std::swap(t.shared, h);
      } else if (t.shared == h) {
        const Outcome m = Match(t.loser, winner, h);
        if (m.first_wins) std::swap(t.loser, winner);
        t.shared = m.shared;
      }
      // Otherwise the loser stays, sharing as much as before.
    }
    tree[0].loser = winner;
  }
  return static_cast<std::ptrdiff_t>(n);
}

}  // namespace extract
