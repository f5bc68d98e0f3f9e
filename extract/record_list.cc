// The record list. All records of a run have the same length, so they sit
// back to back in chunks of a few megabytes, and a record is found by its
// index in its chunk. Each full chunk is sorted on a second thread while the
// rows still arrive, and the sorted runs are merged as the file is written.
// The order of a chunk is made over 12-byte keys of the records held beside
// each record index: records of an extract tend to share long beginnings
// (the terminal name, zero-padded numbers), which a plain comparison sort
// would compare again and again from the first byte. Large groups are split
// by the first byte in which their keys differ (radix), small ones by a
// three-way quicksort; a group whose keys are all equal moves on to the next
// 12 bytes.
#include "extract/record_list.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

namespace extract {
namespace {

using Entry = RecordList::SortEntry;

// The 12 key bytes of an entry as one number, first byte highest.
__extension__ typedef unsigned __int128 Key;

constexpr std::size_t kKeyBytes = 12;

Key KeyOf(const Entry& e) { return (static_cast<Key>(e.key) << 32) | e.key2; }

// Where AppendSlot points for records of length 0: valid, never written.
char empty_record_slot = 0;

std::size_t PageSize() {
  static const std::size_t size = [] {
    const long s = ::sysconf(_SC_PAGESIZE);
    return s > 0 ? static_cast<std::size_t>(s) : std::size_t{4096};
  }();
  return size;
}

// `bytes` rounded up to whole pages (at least one); 0 on overflow.
std::size_t PageLength(std::size_t bytes) {
  const std::size_t page = PageSize();
  if (bytes == 0) bytes = 1;
  if (bytes > std::numeric_limits<std::size_t>::max() - page) return 0;
  return (bytes + page - 1) / page * page;
}

std::uint64_t Load64(const unsigned char* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  v = __builtin_bswap64(v);
#endif
  return v;
}

std::uint32_t Load32(const unsigned char* p) {
  std::uint32_t v;
  std::memcpy(&v, p, 4);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  v = __builtin_bswap32(v);
#endif
  return v;
}

// The 12 bytes of `rec` from `depth` on into the key of `e`, missing bytes
// (past the record end) as 0. All records have the same length, so the
// padding never makes two different records look equal.
void LoadKey(const unsigned char* rec, std::size_t length, std::size_t depth,
             Entry& e) {
  if (depth + kKeyBytes <= length) {
    e.key = Load64(rec + depth);
    e.key2 = Load32(rec + depth + 8);
    return;
  }
  unsigned char bytes[kKeyBytes] = {};
  if (depth < length) std::memcpy(bytes, rec + depth, length - depth);
  e.key = Load64(bytes);
  e.key2 = Load32(bytes + 8);
}

// The number of leading bytes, at most `limit`, in which `a` and `b` agree.
std::size_t Agreeing(const unsigned char* a, const unsigned char* b,
                     std::size_t limit) {
  std::size_t i = 0;
  while (i < limit && a[i] == b[i]) ++i;
  return i;
}

class ChunkSorter {
 public:
  // `count` entries will be sorted; large groups of them go through a
  // spare array of that size, when there is memory for it.
  ChunkSorter(const char* arena, std::size_t length, std::size_t count)
      : arena_(reinterpret_cast<const unsigned char*>(arena)), length_(length) {
    if (count < kRadixMin) return;
    try {
      spare_.resize(count);
    } catch (const std::bad_alloc&) {
      // Without the spare array every group is split by comparisons.
    }
  }

  // Sorts `n` entries that agree on their first `depth` bytes and hold their
  // keys from there.
  void Sort(Entry* entries, std::size_t n, std::size_t depth) {
    stack_.push_back(Task{entries, n, depth});
    while (!stack_.empty()) {
      Task task = stack_.back();
      stack_.pop_back();
      Run(task);
    }
  }

 private:
  // `n` entries that agree on the first `depth` bytes, keys loaded at depth.
  struct Task {
    Entry* a;
    std::size_t n;
    std::size_t depth;
  };

  static constexpr std::size_t kSmall = 16;
  // From this many entries on, a group is split by a byte of its keys (a
  // counting pass and one move through the spare array) instead of by
  // comparisons with a pivot: a few cheap passes instead of many
  // mispredicted branches.
  static constexpr std::size_t kRadixMin = 64;

  const unsigned char* Rec(const Entry& e) const {
    return arena_ + static_cast<std::size_t>(e.index) * length_;
  }

  // Sorts a few entries by their keys alone, then hands each run of equal
  // keys on to the next chunk. Comparing the rest of the records right here
  // would wait for their memory at every step.
  void InsertionSort(Entry* a, std::size_t n, std::size_t depth) {
    for (std::size_t i = 1; i < n; ++i) {
      const Entry e = a[i];
      const Key k = KeyOf(e);
      std::size_t j = i;
      while (j > 0 && k < KeyOf(a[j - 1])) {
        a[j] = a[j - 1];
        --j;
      }
      a[j] = e;
    }
    const std::size_t next = depth + kKeyBytes;
    if (next >= length_) return;
    for (std::size_t start = 0; start + 1 < n;) {
      std::size_t end = start + 1;
      while (end < n && KeyOf(a[end]) == KeyOf(a[start])) ++end;
      if (end - start > 1) ReloadAndPush(a + start, end - start, next);
      start = end;
    }
  }

  // The entries agree on the bytes before `depth`: their keys move on to
  // the bytes from `depth`, and they are sorted again from there.
  void ReloadAndPush(Entry* a, std::size_t n, std::size_t depth) {
    // The records lie scattered over the arena: ask for them ahead of use,
    // so that the memory fetches overlap.
    constexpr std::size_t kAhead = 16;
    for (std::size_t j = 0; j < n && j < kAhead; ++j) {
      __builtin_prefetch(Rec(a[j]) + depth);
    }
    for (std::size_t j = 0; j < n; ++j) {
      if (j + kAhead < n) __builtin_prefetch(Rec(a[j + kAhead]) + depth);
      LoadKey(Rec(a[j]), length_, depth, a[j]);
    }
    stack_.push_back(Task{a, n, depth});
  }

  static Key Median3(Key x, Key y, Key z) {
    if (x < y) return y < z ? y : (x < z ? z : x);
    return x < z ? x : (y < z ? z : y);
  }

  static Key Pivot(const Entry* a, std::size_t n) {
    if (n < 64) return Median3(KeyOf(a[0]), KeyOf(a[n / 2]), KeyOf(a[n - 1]));
    const std::size_t s = n / 8;
    return Median3(Median3(KeyOf(a[0]), KeyOf(a[s]), KeyOf(a[2 * s])),
                   Median3(KeyOf(a[3 * s]), KeyOf(a[4 * s]), KeyOf(a[5 * s])),
                   Median3(KeyOf(a[6 * s]), KeyOf(a[7 * s]), KeyOf(a[n - 1])));
  }

  // Three-way partition around the key `p` (Bentley and McIlroy: keys
  // equal to `p` are first parked at both ends, then moved to the middle,
  // which swaps far less than moving them along). Afterwards [0, lt) is
  // below `p`, [lt, gt) equal to it, [gt, n) above it.
  static void Partition(Entry* a, std::size_t count, Key p, std::size_t& lt,
                        std::size_t& gt) {
    const std::ptrdiff_t n = static_cast<std::ptrdiff_t>(count);
    std::ptrdiff_t pa = 0, pb = 0, pc = n - 1, pd = n - 1;
    for (;;) {
      Key k;
      while (pb <= pc && (k = KeyOf(a[pb])) <= p) {
        if (k == p) std::swap(a[pa++], a[pb]);
        ++pb;
      }
      while (pb <= pc && (k = KeyOf(a[pc])) >= p) {
        if (k == p) std::swap(a[pc], a[pd--]);
        --pc;
      }
      if (pb > pc) break;
      std::swap(a[pb++], a[pc--]);
    }
    // [0, pa) and (pd, n) equal, [pa, pb) below, (pc, pd] above.
    std::swap_ranges(a, a + std::min(pa, pb - pa),
                     a + pb - std::min(pa, pb - pa));
    const std::ptrdiff_t m = std::min(pd - pc, n - 1 - pd);
    std::swap_ranges(a + pb, a + pb + m, a + n - m);
    lt = static_cast<std::size_t>(pb - pa);
    gt = static_cast<std::size_t>(n - (pd - pc));
  }

  // Splits the group by the first byte in which its keys differ, skipping
  // the bytes they all share; each part of two or more entries becomes a
  // group of its own. A group whose keys are all equal moves on to the next
  // chunk of its records.
  void RadixStep(const Task& t) {
    Entry* a = t.a;
    const Key first = KeyOf(a[0]);
    Key differ = 0;
    for (std::size_t i = 1; i < t.n; ++i) differ |= KeyOf(a[i]) ^ first;
    if (differ == 0) {
      const std::size_t next = t.depth + kKeyBytes;
      if (next < length_) ReloadAndPush(a, t.n, next);
      return;
    }
    const auto high = static_cast<std::uint64_t>(differ >> 64);
    const int top_bit =
        high != 0 ? 127 - __builtin_clzll(high)
                  : 63 - __builtin_clzll(static_cast<std::uint64_t>(differ));
    const int shift = top_bit / 8 * 8;
    std::size_t start[257] = {};
    for (std::size_t i = 0; i < t.n; ++i) {
      ++start[static_cast<unsigned>(KeyOf(a[i]) >> shift) & 0xFFu];
    }
    std::size_t sum = 0;
    for (std::size_t& s : start) sum += std::exchange(s, sum);
    std::size_t next_free[256];
    std::copy(start, start + 256, next_free);
    for (std::size_t i = 0; i < t.n; ++i) {
      spare_[next_free[static_cast<unsigned>(KeyOf(a[i]) >> shift) & 0xFFu]++] =
          a[i];
    }
    std::copy(spare_.begin(), spare_.begin() + static_cast<std::ptrdiff_t>(t.n),
              a);
    start[256] = t.n;
    for (std::size_t b = 0; b < 256; ++b) {
      const std::size_t size = start[b + 1] - start[b];
      if (size > 1) stack_.push_back(Task{a + start[b], size, t.depth});
    }
  }

  void Run(Task t) {
    if (t.n >= kRadixMin && !spare_.empty()) {
      RadixStep(t);
      return;
    }
    while (t.n > kSmall) {
      const Key p = Pivot(t.a, t.n);
      std::size_t lt, gt;
      Partition(t.a, t.n, p, lt, gt);
      // The equal part agrees on 12 more bytes: go on with the next ones.
      const std::size_t next = t.depth + kKeyBytes;
      if (gt - lt > 1 && next < length_) ReloadAndPush(t.a + lt, gt - lt, next);
      Task below{t.a, lt, t.depth};
      Task above{t.a + gt, t.n - gt, t.depth};
      // Keep the smaller side for this loop, so that the stack stays short.
      if (below.n > above.n) std::swap(below, above);
      if (above.n > 1) stack_.push_back(above);
      t = below;
    }
    if (t.n > 1) InsertionSort(t.a, t.n, t.depth);
  }

  const unsigned char* arena_;
  std::size_t length_;
  std::vector<Task> stack_;
  std::vector<Entry> spare_;  // empty when groups are not split by bytes
};

}  // namespace

PageBlock::PageBlock(PageBlock&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)) {}

PageBlock& PageBlock::operator=(PageBlock&& other) noexcept {
  if (this != &other) {
    Release();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

bool PageBlock::Resize(std::size_t bytes) {
  if (bytes <= size_) return true;
  const std::size_t length = PageLength(bytes);
  if (length == 0) return false;
  void* p;
  if (data_ == nullptr) {
    // The block is made as large as the records it is meant for, so every
    // page will be written: take them all now.
    p = ::mmap(nullptr, length, PROT_READ | PROT_WRITE,
               MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p != MAP_FAILED) {
      // Large pages: the sort and the merge read the records in an order of
      // their own, all over the block, and every 4 KiB page would cost a
      // page-table walk of its own. Where the system does not give them,
      // the pages stay small.
      (void)::madvise(p, length, MADV_HUGEPAGE);
#ifdef MADV_POPULATE_WRITE
      (void)::madvise(p, length, MADV_POPULATE_WRITE);
#endif
    }
  } else {
    // The kernel moves the pages, not the bytes.
    p = ::mremap(data_, size_, length, MREMAP_MAYMOVE);
  }
  if (p == MAP_FAILED) return false;
  data_ = static_cast<char*>(p);
  size_ = length;
  return true;
}

void PageBlock::Release() {
  if (data_ != nullptr) ::munmap(data_, size_);
  data_ = nullptr;
  size_ = 0;
}

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since)
      .count();
}

// The processor time this thread has used: what the sorting costs, whatever
// else the machine does meanwhile.
double ThreadSeconds() {
  struct timespec ts;
  if (::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts) != 0) return 0;
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// The sort order of `count` records of `length` bytes at `arena`.
bool SortOrder(const char* arena, std::size_t length, std::size_t count,
               std::vector<Entry>& order) {
  try {
    order.resize(count);
  } catch (const std::bad_alloc&) {
    return false;
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(arena);
  auto rec = [&](std::size_t i) { return bytes + i * length; };
  // Rows often arrive in order already (a statement with ORDER BY); one
  // pass finds that out, and the first pair out of order stops it.
  bool in_order = true;
  for (std::size_t i = 1; i < count && in_order && length > 0; ++i) {
    in_order = std::memcmp(rec(i - 1), rec(i), length) <= 0;
  }
  if (in_order) {
    for (std::size_t i = 0; i < count; ++i) {
      order[i].index = static_cast<std::uint32_t>(i);
    }
    return true;
  }
  // The bytes all records share (the terminal name, say) decide nothing:
  // the keys start behind them. A sample gives a first guess, the pass
  // that loads the keys checks it on every record.
  std::size_t common = length;
  for (std::size_t s = 1; s <= 64 && common > 0; ++s) {
    common = Agreeing(rec(0), rec((count - 1) * s / 64), common);
  }
  bool guessed_wrong = false;
  for (std::size_t i = 0; i < count; ++i) {
    order[i].index = static_cast<std::uint32_t>(i);
    if (common > 0 && std::memcmp(rec(0), rec(i), common) != 0) {
      common = Agreeing(rec(0), rec(i), common);
      guessed_wrong = true;
    }
    LoadKey(rec(i), length, common, order[i]);
  }
  if (guessed_wrong) {
    for (std::size_t i = 0; i < count; ++i) {
      LoadKey(rec(i), length, common, order[i]);
    }
  }
  try {
    ChunkSorter(arena, length, count).Sort(order.data(), count, common);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

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

// One sorted run: in memory, or in the temporary file.
struct SortedRun {
  PageBlock block;           // the records in order, when in memory
  std::uint64_t offset = 0;  // where they start, when in the file
  std::size_t count = 0;
  bool in_file = false;
};

// The merge position in one run.
struct MergeSource {
  const char* cur = nullptr;   // next record
  const char* end = nullptr;   // end of the records at hand
  std::uint64_t file_pos = 0;  // next bytes to read, when in the file
  std::uint64_t file_end = 0;
  std::vector<char> buffer;
  const SortedRun* run = nullptr;
};

struct RecordList::State {
  State(const RecordListOptions& options, std::size_t record_length)
      : length(record_length), budget(options.memory_budget) {
    temp_dir = options.temp_dir;
    if (temp_dir.empty()) {
      const char* tmp = std::getenv("TMPDIR");
      temp_dir = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    }
    // Room kept for reading back spilled runs at the merge.
    // Besides the sorted runs, up to four chunks are in hand while rows
    // arrive (filling, waiting, being sorted, its sorted copy); they count
    // against the budget too.
    const std::size_t reserve = std::min(budget / 8, kMergeReserve) +
                                kChunksInHand * MaxChunkBytes(options);
    memory_limit = budget > reserve ? budget - reserve : 0;
    use_thread = options.worker_thread;
  }

  ~State() {
    StopWorker(true);
    if (spill_fd >= 0) ::close(spill_fd);
  }

  // A full chunk: sorted on the worker thread, or right here when there is
  // none. Blocks while the worker has one chunk waiting already, so that
  // no more than three chunks are in hand.
  void Submit(PageBlock chunk, std::size_t count) {
    if (use_thread && !worker.joinable()) StartWorker();
    if (!worker.joinable()) {
      SortChunk(chunk, count);
      Recycle(std::move(chunk));
      return;
    }
    std::unique_lock<std::mutex> lock(mu);
    done_cv.wait(lock, [&] { return queue.empty(); });
    queue.push_back(Pending{std::move(chunk), count});
    work_cv.notify_one();
  }

  // A block for the next chunk: one the worker is done with, or a new one.
  bool TakeChunk(PageBlock& chunk, std::size_t bytes) {
    {
      std::lock_guard<std::mutex> lock(mu);
      while (!free_chunks.empty()) {
        PageBlock spare = std::move(free_chunks.back());
        free_chunks.pop_back();
        if (spare.size() >= bytes) {
          chunk = std::move(spare);
          return true;
        }
        // Too small for the chunks of now: back to the system.
      }
    }
    return chunk.Resize(bytes);
  }

  // Chunks grow with the list, up to four times their first size: fewer
  // runs to merge in a large extract, little memory in hand in a small one.
  static std::size_t MaxChunkBytes(const RecordListOptions& options) {
    return 4 * options.chunk_bytes;
  }

  void StartWorker() {
    use_thread = false;  // one try
    // The thread takes the signal mask of its maker: with every signal
    // blocked in it, signals go to the main thread, whose handlers and
    // default actions end the whole process.
    sigset_t all, old;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &old);
    try {
      worker = std::thread([this] { WorkerLoop(); });
    } catch (const std::system_error&) {
      // No thread: the chunks are sorted on the main thread.
    } catch (const std::bad_alloc&) {
    }
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
  }

  // Waits until the worker has sorted every chunk handed to it (or, with
  // `discard`, drops them) and ends it.
  void StopWorker(bool discard) {
    if (!worker.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(mu);
      stopping = true;
      discarding = discard;
    }
    work_cv.notify_one();
    worker.join();
    stopping = false;
    discarding = false;
  }

  void WorkerLoop() {
    std::unique_lock<std::mutex> lock(mu);
    for (;;) {
      work_cv.wait(lock, [&] { return stopping || !queue.empty(); });
      if (queue.empty()) return;
      Pending job = std::move(queue.front());
      queue.pop_front();
      const bool discard = discarding;
      lock.unlock();
      if (!discard) SortChunk(job.chunk, job.count);
      lock.lock();
      try {
        free_chunks.push_back(std::move(job.chunk));
      } catch (const std::bad_alloc&) {
        // The block is released instead.
      }
      done_cv.notify_all();
    }
  }

  void Recycle(PageBlock chunk) {
    std::lock_guard<std::mutex> lock(mu);
    try {
      free_chunks.push_back(std::move(chunk));
    } catch (const std::bad_alloc&) {
    }
  }

  // Sorts the `count` records of `chunk` into a run of their own: a copy in
  // memory while the budget allows, the temporary file beyond. Only one
  // thread at a time gets here (the worker, or the main thread once the
  // worker has ended), so the runs need no lock.
  void SortChunk(const PageBlock& chunk, std::size_t count) {
    if (error != 0) return;  // the run has failed already
    const double started = ThreadSeconds();
    const std::size_t bytes = count * length;
    if (!has_line_feed && std::memchr(chunk.data(), '\n', bytes) != nullptr) {
      has_line_feed = true;
    }
    if (!SortOrder(chunk.data(), length, count, order)) {
      error = ENOMEM;
      return;
    }
    SortedRun run;
    run.count = count;
    if (memory_bytes + bytes <= memory_limit && run.block.Resize(bytes)) {
      CopyInOrder(chunk.data(), order.data(), count, run.block.data());
      memory_bytes += bytes;
    } else if (!Spill(chunk.data(), count, run)) {
      error = errno != 0 ? errno : EIO;
      return;
    }
    try {
      runs.push_back(std::move(run));
    } catch (const std::bad_alloc&) {
      error = ENOMEM;
    }
    sort_seconds += ThreadSeconds() - started;
  }

  // The records `ord[0..count)` name, in that order, to `out`.
  void CopyInOrder(const char* records, const Entry* ord, std::size_t count,
                   char* out) const {
    // The records lie scattered over the chunk: ask for them ahead of use.
    constexpr std::size_t kAhead = 8;
    for (std::size_t i = 0; i < count; ++i, out += length) {
      if (i + kAhead < count) {
        const char* ahead =
            records + static_cast<std::size_t>(ord[i + kAhead].index) * length;
        __builtin_prefetch(ahead);
        __builtin_prefetch(ahead + length - 1);
      }
      std::memcpy(out,
                  records + static_cast<std::size_t>(ord[i].index) * length,
                  length);
    }
  }

  bool Spill(const char* records, std::size_t count, SortedRun& run) {
    if (spill_fd < 0) {
      spill_fd = OpenSpillFile(temp_dir);
      if (spill_fd < 0) return false;
    }
    try {
      if (staging.empty()) {
        staging.resize(std::max(kStagingBytes / length, std::size_t{1}) *
                       length);
      }
    } catch (const std::bad_alloc&) {
      errno = ENOMEM;
      return false;
    }
    const std::size_t per_write = staging.size() / length;
    run.in_file = true;
    run.offset = spill_size;
    for (std::size_t i = 0; i < count; i += per_write) {
      const std::size_t n = std::min(per_write, count - i);
      CopyInOrder(records, order.data() + i, n, staging.data());
      if (!PwriteAll(spill_fd, staging.data(), n * length, spill_size)) {
        return false;
      }
      spill_size += n * length;
    }
    ++spilled_runs;
    return true;
  }

  // Sets up the merge of all runs, reading from the first record.
  bool StartMerge() {
    sources.clear();
    std::size_t file_runs = 0;
    for (const SortedRun& run : runs) file_runs += run.in_file ? 1 : 0;
    std::size_t buffer_bytes = 0;
    if (file_runs > 0) {
      const std::size_t reserve = std::min(budget / 8, kMergeReserve);
      buffer_bytes = std::min(reserve / file_runs, kStagingBytes);
      buffer_bytes = std::max(buffer_bytes, kMinReadBytes);
      buffer_bytes = std::max<std::size_t>(buffer_bytes / length, 1) * length;
    }
    try {
      sources.resize(runs.size());
      for (std::size_t i = 0; i < runs.size(); ++i) {
        sources[i].run = &runs[i];
        if (runs[i].in_file) sources[i].buffer.resize(buffer_bytes);
      }
      tree.assign(std::max<std::size_t>(runs.size(), 1), 0);
    } catch (const std::bad_alloc&) {
      errno = ENOMEM;
      return false;
    }
    return Rewind();
  }

  bool Rewind() {
    for (MergeSource& s : sources) {
      const SortedRun& run = *s.run;
      if (!run.in_file) {
        s.cur = run.block.data();
        s.end = s.cur + run.count * length;
        continue;
      }
      s.file_pos = run.offset;
      s.file_end = run.offset + run.count * length;
      if (!Refill(s)) return false;
    }
    if (!sources.empty()) tree[0] = InitTree(1);
    return true;
  }

  bool Refill(MergeSource& s) {
    const std::size_t n = static_cast<std::size_t>(
        std::min<std::uint64_t>(s.buffer.size(), s.file_end - s.file_pos));
    s.cur = s.end = s.buffer.data();
    if (n == 0) return true;
    if (!PreadAll(spill_fd, s.buffer.data(), n, s.file_pos)) return false;
    s.file_pos += n;
    s.end = s.cur + n;
    return true;
  }

  // Whether the next record of source `a` sorts before that of `b`; an
  // exhausted source sorts after everything.
  bool Less(std::size_t a, std::size_t b) const {
    const MergeSource& x = sources[a];
    const MergeSource& y = sources[b];
    if (x.cur == x.end) return false;
    if (y.cur == y.end) return true;
    const int c = std::memcmp(x.cur, y.cur, length);
    return c < 0 || (c == 0 && a < b);
  }

  // A tournament over the sources: leaf i is node k + i, node n has the
  // children 2n and 2n + 1, and every inner node keeps the loser of its
  // match. Returns the winner below `node`.
  std::size_t InitTree(std::size_t node) {
    const std::size_t k = sources.size();
    if (node >= k) return node - k;
    const std::size_t a = InitTree(2 * node);
    const std::size_t b = InitTree(2 * node + 1);
    if (Less(b, a)) {
      tree[node] = a;
      return b;
    }
    tree[node] = b;
    return a;
  }

  std::ptrdiff_t Read(char* out, std::size_t max_records) {
    const std::size_t k = sources.size();
    std::size_t n = 0;
    if (k == 0) return 0;
    if (k == 1) {
      MergeSource& s = sources[0];
      while (n < max_records) {
        if (s.cur == s.end) {
          if (s.file_pos == s.file_end) break;
          if (!Refill(s)) return -1;
        }
        const std::size_t take = std::min<std::size_t>(
            max_records - n, static_cast<std::size_t>(s.end - s.cur) / length);
        std::memcpy(out + n * length, s.cur, take * length);
        s.cur += take * length;
        n += take;
      }
      return static_cast<std::ptrdiff_t>(n);
    }
    while (n < max_records) {
      std::size_t winner = tree[0];
      MergeSource& s = sources[winner];
      if (s.cur == s.end) break;  // the winner is exhausted: all are
      std::memcpy(out + n * length, s.cur, length);
      ++n;
      s.cur += length;
      // With many runs, the processor cannot tell which records come next;
      // the record after the new head is the one this run offers the next
      // time it wins, some rounds from now.
      __builtin_prefetch(s.cur + length);
      __builtin_prefetch(s.cur + 2 * length - 1);
      if (s.cur == s.end && s.file_pos < s.file_end && !Refill(s)) return -1;
      for (std::size_t node = (winner + k) / 2; node > 0; node /= 2) {
        if (Less(tree[node], winner)) std::swap(tree[node], winner);
      }
      tree[0] = winner;
    }
    return static_cast<std::ptrdiff_t>(n);
  }

  static constexpr std::size_t kMergeReserve = std::size_t{32} << 20;
  static constexpr std::size_t kChunksInHand = 4;
  static constexpr std::size_t kStagingBytes = std::size_t{1} << 20;
  static constexpr std::size_t kMinReadBytes = std::size_t{16} << 10;

  struct Pending {
    PageBlock chunk;
    std::size_t count;
  };

  const std::size_t length;
  const std::size_t budget;
  std::size_t memory_limit = 0;
  std::string temp_dir;
  bool use_thread = true;

  PageBlock filling;  // the chunk the main thread appends to

  // Shared with the worker thread, under `mu`.
  std::mutex mu;
  std::condition_variable work_cv;
  std::condition_variable done_cv;
  std::deque<Pending> queue;
  std::vector<PageBlock> free_chunks;
  bool stopping = false;
  bool discarding = false;
  std::thread worker;

  // Touched by one sorting thread at a time (see SortChunk).
  std::vector<Entry> order;
  std::vector<char> staging;
  std::vector<SortedRun> runs;
  std::size_t memory_bytes = 0;
  int spill_fd = -1;
  std::uint64_t spill_size = 0;
  std::size_t spilled_runs = 0;
  bool has_line_feed = false;
  int error = 0;
  double sort_seconds = 0;
  double final_seconds = 0;

  // The merge; main thread only, after Sort().
  std::vector<MergeSource> sources;
  std::vector<std::size_t> tree;
  std::string one_record;
};

RecordList::RecordList() = default;

RecordList::RecordList(const RecordListOptions& options) : options_(options) {}

RecordList::~RecordList() = default;

RecordList::RecordList(RecordList&& other) noexcept {
  *this = std::move(other);
}

RecordList& RecordList::operator=(RecordList&& other) noexcept {
  if (this == &other) return *this;
  options_ = std::move(other.options_);
  state_ = std::move(other.state_);
  count_ = std::exchange(other.count_, 0);
  record_length_ = std::exchange(other.record_length_, 0);
  length_fixed_ = std::exchange(other.length_fixed_, false);
  sorted_ = std::exchange(other.sorted_, false);
  has_line_feed_ = std::exchange(other.has_line_feed_, false);
  fill_ = std::exchange(other.fill_, nullptr);
  fill_end_ = std::exchange(other.fill_end_, nullptr);
  return *this;
}

char* RecordList::NewChunk() {
  if (!state_) {
    try {
      state_ = std::make_unique<State>(options_, record_length_);
    } catch (const std::bad_alloc&) {
      return nullptr;
    }
  }
  State& s = *state_;
  // A tenth of the records so far, between the first size and four times
  // that.
  const std::size_t want =
      std::min(State::MaxChunkBytes(options_),
               std::max(options_.chunk_bytes, count_ / 10 * record_length_));
  const std::size_t chunk_records =
      std::min<std::size_t>(std::max<std::size_t>(want / record_length_, 1),
                            std::numeric_limits<std::uint32_t>::max());
  const std::size_t chunk_bytes = chunk_records * record_length_;
  if (fill_ != nullptr) {
    const std::size_t filled =
        static_cast<std::size_t>(fill_ - s.filling.data()) / record_length_;
    s.Submit(std::move(s.filling), filled);
    fill_ = fill_end_ = nullptr;
  }
  if (!s.TakeChunk(s.filling, chunk_bytes)) return nullptr;
  fill_ = s.filling.data();
  fill_end_ = fill_ + chunk_bytes;
  return fill_;
}

char* RecordList::AppendSlot(std::size_t length) {
  if (length_fixed_ && length != record_length_) return nullptr;
  if (length == 0) {
    length_fixed_ = true;
    sorted_ = false;
    ++count_;
    return &empty_record_slot;
  }
  if (fill_ == fill_end_) {
    record_length_ = length;
    if (NewChunk() == nullptr) {
      if (!length_fixed_) record_length_ = 0;
      return nullptr;
    }
    length_fixed_ = true;
  }
  char* slot = fill_;
  fill_ += length;
  sorted_ = false;
  ++count_;
  return slot;
}

bool RecordList::Sort() {
  if (!state_) {
    sorted_ = true;  // no records, or only empty ones
    return true;
  }
  State& s = *state_;
  if (sorted_) return s.error == 0 && s.Rewind();
  const auto started = std::chrono::steady_clock::now();
  s.StopWorker(false);
  if (fill_ != nullptr) {
    const std::size_t filled =
        static_cast<std::size_t>(fill_ - s.filling.data()) / record_length_;
    if (filled > 0) s.SortChunk(s.filling, filled);
    s.Recycle(std::move(s.filling));
    fill_ = fill_end_ = nullptr;
  }
  // The blocks for further chunks go back to the system.
  {
    std::lock_guard<std::mutex> lock(s.mu);
    s.free_chunks.clear();
  }
  decltype(s.order)().swap(s.order);
  has_line_feed_ = s.has_line_feed;
  if (s.error != 0) return false;
  if (!s.StartMerge()) {
    s.error = errno != 0 ? errno : EIO;
    return false;
  }
  sorted_ = true;
  s.final_seconds += Seconds(started);
  return true;
}

std::ptrdiff_t RecordList::ReadSorted(char* out,
                                      std::size_t max_records) const {
  if (!sorted_) return 0;
  if (!state_) {
    // Records of length 0: nothing to copy, only the count.
    return 0;
  }
  return state_->Read(out, max_records);
}

int RecordList::NextRecord(std::string_view& record) const {
  if (!sorted_ || !state_) return 0;
  std::string& one = state_->one_record;
  one.resize(record_length_);
  const std::ptrdiff_t n = state_->Read(one.data(), 1);
  if (n <= 0) return static_cast<int>(n);
  record = one;
  return 1;
}

bool RecordList::Rewind() const {
  if (!sorted_ || !state_) return true;
  return state_->Rewind();
}

int RecordList::error_number() const { return state_ ? state_->error : 0; }

RecordListTimes RecordList::times() const {
  RecordListTimes t;
  if (!state_) return t;
  t.worker_sort_s = state_->sort_seconds;
  t.final_sort_s = state_->final_seconds;
  t.runs = state_->runs.size();
  t.spilled_runs = state_->spilled_runs;
  return t;
}

void RecordList::Clear() {
  const RecordListOptions options = options_;
  *this = RecordList(options);
}

std::size_t DefaultMemoryBudget() {
  constexpr std::size_t kMin = std::size_t{64} << 20;
  constexpr std::size_t kMax = std::size_t{1} << 30;
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  if (pages <= 0) return kMax;
  const std::size_t quarter = static_cast<std::size_t>(pages) / 4 * PageSize();
  return std::max(kMin, std::min(kMax, quarter));
}

bool ParseMemoryBudget(const char* text, std::size_t& bytes) {
  if (text == nullptr || *text < '0' || *text > '9') return false;
  std::size_t value = 0;
  const char* p = text;
  for (; *p >= '0' && *p <= '9'; ++p) {
    const std::size_t digit = static_cast<std::size_t>(*p - '0');
    if (value > (std::numeric_limits<std::size_t>::max() - digit) / 10) {
      return false;
    }
    value = value * 10 + digit;
  }
  int shift = 0;
  switch (*p) {
    case '\0':
      break;
    case 'k':
    case 'K':
      shift = 10;
      break;
    case 'm':
    case 'M':
      shift = 20;
      break;
    case 'g':
    case 'G':
      shift = 30;
      break;
    default:
      return false;
  }
  if (shift != 0 && *++p != '\0') return false;
  if (value == 0 ||
      value > (std::numeric_limits<std::size_t>::max() >> shift)) {
    return false;
  }
  bytes = value << shift;
  return true;
}

int InsertRecord(RecordList& list, std::string_view record) {
  char* slot = list.AppendSlot(record.size());
  if (slot == nullptr) return 0;
  if (!record.empty()) std::memcpy(slot, record.data(), record.size());
  return 1;
}

int CompareRecords(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  const int c = n == 0 ? 0 : std::memcmp(a.data(), b.data(), n);
  if (c != 0) return c < 0 ? -1 : 1;
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

int FreeRecordList(RecordList& list) {
  list.Clear();
  return 0;
}

}  // namespace extract
