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

bool PwriteAll(int fd, const char* data, std::size_t size, std::uint64_t at) {
  while (size > 0) {
    const ssize_t n = ::pwrite(fd, data, size, static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
    at += static_cast<std::uint64_t>(n);
  }
  return true;
}

bool PreadAll(int fd, char* data, std::size_t size, std::uint64_t at) {
  while (size > 0) {
    const ssize_t n = ::pread(fd, data, size, static_cast<off_t>(at));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      errno = EIO;  // the file is shorter than what was written to it
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
    at += static_cast<std::uint64_t>(n);
  }
  return true;
}

// A file without a name in `dir`: nothing is left of it however the
// process ends. Where the file system cannot make one, a named file is
// removed right after it was made.
int OpenSpillFile(const std::string& dir) {
  int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return -1;
  std::string name = dir + "/.tabfetch-spill-XXXXXX";
  fd = ::mkostemp(name.data(), O_CLOEXEC);
  if (fd >= 0) ::unlink(name.c_str());
  return fd;
}

}  // namespace

SortedRuns::SortedRuns(std::size_t record_length, std::size_t budget,
                       std::size_t memory_limit, std::string temp_dir)
    : length_(record_length),
      budget_(budget),
      memory_limit_(memory_limit),
      temp_dir_(std::move(temp_dir)) {
  if (temp_dir_.empty()) temp_dir_ = "/tmp";
}

int SortedRuns::Add(const char* records, const SortEntry* order,
                    std::size_t count) {
  const std::size_t bytes = count * length_;
  SortedRun run;
  run.count = count;
  if (memory_bytes_ + bytes <= memory_limit_ && run.block.Resize(bytes)) {
    CopyInOrder(records, order, count, run.block.data());
    memory_bytes_ += bytes;
  } else if (!Spill(records, order, count, run)) {
    return errno != 0 ? errno : EIO;
  }
  try {
    runs_.push_back(std::move(run));
  } catch (const std::bad_alloc&) {
    return ENOMEM;
  }
  return 0;
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

bool SortedRuns::Spill(const char* records, const SortEntry* order,
                       std::size_t count, SortedRun& run) {
  if (!spill_fd_.valid()) {
    spill_fd_.reset(OpenSpillFile(temp_dir_));
    if (!spill_fd_.valid()) return false;
  }
  try {
    if (staging_.empty()) {
      staging_.resize(std::max(kStagingBytes / length_, std::size_t{1}) *
                      length_);
    }
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    return false;
  }
  const std::size_t per_write = staging_.size() / length_;
  run.in_file = true;
  run.offset = spill_size_;
  for (std::size_t i = 0; i < count; i += per_write) {
    const std::size_t n = std::min(per_write, count - i);
    CopyInOrder(records, order + i, n, staging_.data());
    if (!PwriteAll(spill_fd_.get(), staging_.data(), n * length_,
                   spill_size_)) {
      return false;
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
    const std::size_t reserve = std::min(budget_ / 8, kMergeReserve);
    buffer_bytes = std::min(reserve / file_runs, kStagingBytes);
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
    errno = ENOMEM;
    return false;
  }
  return Rewind();
}

bool SortedRuns::Rewind() {
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
  return true;
}

bool SortedRuns::Refill(MergeSource& s) {
  const std::size_t n = static_cast<std::size_t>(
      std::min<std::uint64_t>(s.buffer.size(), s.file_end - s.file_pos));
  s.cur = s.end = s.buffer.data();
  if (n == 0) return true;
  if (!PreadAll(spill_fd_.get(), s.buffer.data(), n, s.file_pos)) return false;
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
