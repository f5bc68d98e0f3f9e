// The record list. All records of a run have the same length, so they sit
// back to back in chunks of a few megabytes, and a record is found by its
// index in its chunk. Each full chunk is sorted on a second thread while the
// rows still arrive (chunk_sort.h), and the sorted runs are merged as the
// file is written (sorted_runs.h).
#include "extract/record_list.h"

#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <limits>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include "extract/chunk_sort.h"
#include "extract/page_block.h"
#include "extract/sorted_runs.h"

namespace extract {
namespace {

// Where AppendSlot points for records of length 0: valid, never written.
char empty_record_slot = 0;

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

}  // namespace

struct RecordList::State {
  State(const RecordListOptions& options, std::size_t record_length)
      : length(record_length),
        use_thread(options.worker_thread),
        runs(record_length, options.memory_budget, MemoryLimit(options),
             options.temp_dir) {}

  ~State() { StopWorker(true); }

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

  // Bytes of memory the sorted runs may take.
  static std::size_t MemoryLimit(const RecordListOptions& options) {
    const std::size_t budget = options.memory_budget;
    // Room kept for reading back spilled runs at the merge.
    // Besides the sorted runs, up to four chunks are in hand while rows
    // arrive (filling, waiting, being sorted, its sorted copy); they count
    // against the budget too.
    const std::size_t reserve =
        std::min(budget / 8, SortedRuns::kMergeReserve) +
        kChunksInHand * MaxChunkBytes(options);
    return budget > reserve ? budget - reserve : 0;
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
    error = runs.Add(chunk.data(), order.data(), count);
    if (error != 0) return;
    sort_seconds += ThreadSeconds() - started;
  }

  static constexpr std::size_t kChunksInHand = 4;

  struct Pending {
    PageBlock chunk;
    std::size_t count;
  };

  const std::size_t length;
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

  // Touched by one sorting thread at a time (see SortChunk); the merge of
  // the runs is read on the main thread only, after Sort().
  std::vector<SortEntry> order;
  SortedRuns runs;
  bool has_line_feed = false;
  int error = 0;
  double sort_seconds = 0;
  double final_seconds = 0;

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
  if (sorted_) return s.error == 0 && s.runs.Rewind();
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
  if (!s.runs.StartMerge()) {
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
  return state_->runs.Read(out, max_records);
}

int RecordList::NextRecord(std::string_view& record) const {
  if (!sorted_ || !state_) return 0;
  std::string& one = state_->one_record;
  one.resize(record_length_);
  const std::ptrdiff_t n = state_->runs.Read(one.data(), 1);
  if (n <= 0) return static_cast<int>(n);
  record = one;
  return 1;
}

bool RecordList::Rewind() const {
  if (!sorted_ || !state_) return true;
  return state_->runs.Rewind();
}

int RecordList::error_number() const { return state_ ? state_->error : 0; }

RecordListTimes RecordList::times() const {
  RecordListTimes t;
  if (!state_) return t;
  t.worker_sort_s = state_->sort_seconds;
  t.final_sort_s = state_->final_seconds;
  t.runs = state_->runs.count();
  t.spilled_runs = state_->runs.spilled();
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

int FreeRecordList(RecordList& list) {
  list.Clear();
  return 0;
}

}  // namespace extract
