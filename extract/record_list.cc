// The record list. All records of a run have the same length, so they sit
// back to back in chunks of a few megabytes, and a record is found by its
// index in its chunk. Each full chunk is sorted on a second thread while the
// rows still arrive (chunk_sort.h), and the sorted runs are merged as the
// file is written (sorted_runs.h).
#include "extract/record_list.h"

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <limits>
#include <mutex>
#include <new>
#include <thread>
#include <utility>

#include "common/quiet_thread.h"
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
        runs(record_length, options.memory_budget, options.temp_dir,
             options.file_ops != nullptr ? *options.file_ops
                                         : common::SystemFileOps()) {}

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
        PageBlock free_chunk = std::move(free_chunks.back());
        free_chunks.pop_back();
        if (free_chunk.size() >= bytes) {
          chunk = std::move(free_chunk);
          return true;
        }
        // Too small for the chunks of now: back to the system.
      }
    }
    return chunk.Resize(bytes);
  }

  // Chunks grow with the list, up to four times their first size: fewer
  // runs to merge in a large extract, little memory in hand in a small one.
  // Three of them may be in hand, so they stay below a sixteenth of the
  // budget (but not below 1 MiB: more runs would cost more at the merge
  // than they save).
  static std::size_t MaxChunkBytes(const RecordListOptions& options) {
    constexpr std::size_t kSmallest = std::size_t{1} << 20;
    return std::min(4 * options.chunk_bytes,
                    std::max(kSmallest, options.memory_budget / 16));
  }
  static std::size_t FirstChunkBytes(const RecordListOptions& options) {
    return std::min(options.chunk_bytes, MaxChunkBytes(options));
  }

  void StartWorker() {
    use_thread = false;  // one try
    chunks_in_hand = kChunksInHand;  // before the worker can read it
    worker = common::StartQuietThread([this] { WorkerLoop(); });
    // No thread: the chunks are sorted on the main thread.
    if (!worker.joinable()) chunks_in_hand = 1;
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
    if (failed.load(std::memory_order_acquire)) return;  // too late
    const double started = ThreadSeconds();
    const std::size_t bytes = count * length;
    if (!has_line_feed && std::memchr(chunk.data(), '\n', bytes) != nullptr) {
      has_line_feed = true;
    }
    if (!SortOrder(chunk.data(), length, count, order, spare)) {
      Fail({ListFailure::kMemory, ENOMEM});
      return;
    }
    // What else holds memory now: the chunks (filling, waiting, this one)
    // and the sort order.
    const std::size_t in_hand =
        chunks_in_hand * chunk.size() +
        (order.capacity() + spare.capacity()) * sizeof(SortEntry);
    if (!runs.Add(chunk.data(), order.data(), count, in_hand)) {
      Fail(runs.failure());
      return;
    }
    sort_seconds += ThreadSeconds() - started;
  }

  // The first failure; the main thread sees `failed` at its next chunk and
  // ends the fetch.
  void Fail(const ListError& what) {
    std::lock_guard<std::mutex> lock(mu);
    if (failure.what != ListFailure::kNone) return;
    failure = what;
    failed.store(true, std::memory_order_release);
  }

  ListError Failure() {
    std::lock_guard<std::mutex> lock(mu);
    return failure;
  }

  // Chunks in hand while rows arrive: the one filling, one waiting, one
  // being sorted.
  static constexpr std::size_t kChunksInHand = 3;

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
  ListError failure;
  std::atomic<bool> failed{false};
  std::thread worker;
  // Set before the worker starts.
  std::size_t chunks_in_hand = 1;

  // Touched by one sorting thread at a time (see SortChunk); the merge of
  // the runs is read on the main thread only, after Sort().
  std::vector<SortEntry> order;
  std::vector<SortEntry> spare;  // the sort's second array
  SortedRuns runs;
  bool has_line_feed = false;
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
  failure_ = std::exchange(other.failure_, ListError{});
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
      failure_ = {ListFailure::kMemory, ENOMEM};
      return nullptr;
    }
  }
  State& s = *state_;
  if (s.failed.load(std::memory_order_acquire)) return nullptr;
  // A tenth of the records so far, between the first size and the largest.
  const std::size_t want =
      std::min(State::MaxChunkBytes(options_),
               std::max(State::FirstChunkBytes(options_),
                        count_ / 10 * record_length_));
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
  if (s.failed.load(std::memory_order_acquire)) return nullptr;
  if (!s.TakeChunk(s.filling, chunk_bytes)) {
    failure_ = {ListFailure::kMemory, ENOMEM};
    return nullptr;
  }
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
  if (sorted_) return s.runs.Rewind();
  const auto started = std::chrono::steady_clock::now();
  s.StopWorker(false);
  // The blocks for further chunks go back to the system; the last chunk is
  // the only one in hand.
  {
    std::lock_guard<std::mutex> lock(s.mu);
    s.free_chunks.clear();
  }
  s.chunks_in_hand = 1;
  if (fill_ != nullptr) {
    const std::size_t filled =
        static_cast<std::size_t>(fill_ - s.filling.data()) / record_length_;
    if (filled > 0) s.SortChunk(s.filling, filled);
    s.filling.Release();
    fill_ = fill_end_ = nullptr;
  }
  decltype(s.order)().swap(s.order);
  decltype(s.spare)().swap(s.spare);
  has_line_feed_ = s.has_line_feed;
  if (failure_.what != ListFailure::kNone || s.failed.load()) return false;
  if (!s.runs.StartMerge()) {
    s.Fail(s.runs.failure());
    return false;
  }
  sorted_ = true;
  s.final_seconds += Seconds(started);
  return true;
}

std::ptrdiff_t RecordList::ReadSorted(char* out, std::size_t max_records) {
  if (!sorted_) return 0;
  if (!state_) {
    // Records of length 0: nothing to copy, only the count.
    return 0;
  }
  return state_->runs.Read(out, max_records);
}

int RecordList::NextRecord(std::string_view& record) {
  if (!sorted_ || !state_) return 0;
  std::string& one = state_->one_record;
  one.resize(record_length_);
  const std::ptrdiff_t n = state_->runs.Read(one.data(), 1);
  if (n <= 0) return static_cast<int>(n);
  record = one;
  return 1;
}

bool RecordList::Rewind() {
  if (!sorted_ || !state_) return true;
  return state_->runs.Rewind();
}

void RecordList::ReadOnce() {
  if (sorted_ && state_) state_->runs.ReadOnce();
}

ListError RecordList::failure() const {
  if (failure_.what != ListFailure::kNone || !state_) return failure_;
  const ListError sorting = state_->Failure();
  if (sorting.what != ListFailure::kNone) return sorting;
  // Reading back: the merge has ended (one reader at a time).
  return state_->runs.failure();
}

std::string RecordList::FailureText() const {
  const ListError f = failure();
  const std::string dir =
      state_ ? state_->runs.temp_dir()
             : options_.temp_dir.empty() ? "/tmp" : options_.temp_dir;
  const char* what = nullptr;
  switch (f.what) {
    case ListFailure::kNone:
      return std::string();
    case ListFailure::kMemory:
      return "out of memory for the records after " + std::to_string(count_) +
             " rows (memory budget " + std::to_string(options_.memory_budget) +
             " bytes)";
    case ListFailure::kSpillFull:
      return "the temporary file in TMPDIR " + dir +
             " would leave less than 5 % of its file system free";
    case ListFailure::kSpillCreate:
      what = "cannot create the temporary file in TMPDIR ";
      break;
    case ListFailure::kSpillWrite:
      what = "cannot write the temporary file in TMPDIR ";
      break;
    case ListFailure::kSpillRead:
      what = "cannot read back the temporary file in TMPDIR ";
      break;
  }
  return what + dir + ": " + std::strerror(f.error);
}

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

int FreeRecordList(RecordList& list) {
  list.Clear();
  return 0;
}

}  // namespace extract
