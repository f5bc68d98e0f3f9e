// The records of a run as the bytes of the extract file: gathered into large
// blocks, every LF written as CR LF.
#include "extract/record_output.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <cstring>
#include <new>
#include <optional>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "common/quiet_thread.h"

namespace extract {
namespace {

// Records are gathered into blocks of this size before they are written.
constexpr std::size_t kBlockSize = std::size_t{1} << 20;

// Every few megabytes written, starts the disk writes of the file so far:
// the disk works while the next records are gathered, and the sync at the
// end has little left to wait for. The sync still decides; that this fails
// (a pipe, a device) is of no consequence.
class WritebackStarter {
 public:
  WritebackStarter(const common::FileOps& ops, int fd) : ops_(ops), fd_(fd) {}

  void Wrote(std::size_t bytes) {
    pending_ += bytes;
    if (pending_ < kWritebackStep) return;
    pending_ = 0;
    (void)ops_.start_writeback(fd_);
  }

 private:
  static constexpr std::size_t kWritebackStep = std::size_t{2} << 20;
  const common::FileOps& ops_;
  int fd_;
  std::size_t pending_ = 0;
};

// Gathers small pieces into large writes.
class BlockWriter {
 public:
  BlockWriter(const common::FileOps& ops, int fd, std::size_t block_size)
      : ops_(ops), fd_(fd), block_(block_size), writeback_(ops, fd) {}

  bool Append(const char* data, std::size_t size) {
    while (size > 0) {
      if (used_ == 0 && size >= block_.size()) {
        if (!common::WriteAll(ops_, fd_, data, size)) return false;
        writeback_.Wrote(size);
        return true;
      }
      const std::size_t take = std::min(size, block_.size() - used_);
      std::memcpy(block_.data() + used_, data, take);
      used_ += take;
      data += take;
      size -= take;
      if (used_ == block_.size() && !Flush()) return false;
    }
    return true;
  }

  bool Flush() {
    const std::size_t n = std::exchange(used_, 0);
    if (!common::WriteAll(ops_, fd_, block_.data(), n)) return false;
    writeback_.Wrote(n);
    return true;
  }

 private:
  const common::FileOps& ops_;
  int fd_;
  std::vector<char> block_;
  std::size_t used_ = 0;
  WritebackStarter writeback_;
};

// The merge of the sorted runs, one block of records after the other, on a
// second thread, so that merging the next block overlaps with writing this
// one. Two blocks take turns: the merge fills one while the other is written.
class MergeAhead {
 public:
  MergeAhead(RecordList& list, std::size_t per_block)
      : list_(list), per_block_(per_block) {
    for (Block& b : blocks_) b.data.resize(per_block * list.record_length());
    // Signals go to the writing thread, whose handler undoes the write. No
    // thread: the caller merges on its own.
    merger_ = common::StartQuietThread([this] { MergeLoop(); });
  }
  ~MergeAhead() {
    {
      std::lock_guard<std::mutex> lock(mu_);
      stop_ = true;
    }
    cv_.notify_all();
    if (merger_.joinable()) merger_.join();
  }
  MergeAhead(const MergeAhead&) = delete;
  MergeAhead& operator=(const MergeAhead&) = delete;

  bool running() const { return merger_.joinable(); }

  // Waits for the next merged block: its records (0 at the end, -1 when the
  // merge failed, with errno set) and where they are. Valid until the next
  // call.
  std::ptrdiff_t Next(const char*& data) {
    std::unique_lock<std::mutex> lock(mu_);
    if (taken_ > 0) {
      // The block handed out before is written: the merge may refill it.
      blocks_[(taken_ - 1) % 2].full = false;
      cv_.notify_all();
    }
    Block& b = blocks_[taken_ % 2];
    cv_.wait(lock, [&] { return b.full; });
    ++taken_;
    data = b.data.data();
    if (b.records < 0) errno = b.error;
    return b.records;
  }

 private:
  struct Block {
    std::vector<char> data;
    std::ptrdiff_t records = 0;
    int error = 0;
    bool full = false;
  };

  void MergeLoop() {
    for (std::size_t i = 0;; ++i) {
      Block& b = blocks_[i % 2];
      {
        std::unique_lock<std::mutex> lock(mu_);
        cv_.wait(lock, [&] { return stop_ || !b.full; });
        if (stop_) return;
      }
      errno = 0;
      const std::ptrdiff_t n = list_.ReadSorted(b.data.data(), per_block_);
      const int error = errno;
      {
        std::lock_guard<std::mutex> lock(mu_);
        b.records = n;
        b.error = error != 0 ? error : EIO;
        b.full = true;
      }
      cv_.notify_all();
      if (n <= 0) return;
    }
  }

  RecordList& list_;  // read only by the merge thread while it runs
  const std::size_t per_block_;
  Block blocks_[2];
  std::size_t taken_ = 0;
  std::mutex mu_;
  std::condition_variable cv_;
  bool stop_ = false;
  std::thread merger_;
};

// Records without a line feed go straight into the block, whole blocks of
// them at a time, merged from the list's sorted runs (on a second thread
// where one can be had).
bool WriteGathered(const common::FileOps& ops, int fd, RecordList& list) {
  const std::size_t length = list.record_length();
  const std::size_t per_block = std::max<std::size_t>(
      1, std::min(list.count(), kBlockSize / length));
  WritebackStarter writeback(ops, fd);
  // One block's worth is merged as fast as it is written.
  std::optional<MergeAhead> ahead;
  if (list.count() > per_block) ahead.emplace(list, per_block);
  const bool overlap = ahead && ahead->running();
  std::vector<char> block;
  if (!overlap) block.resize(per_block * length);
  for (;;) {
    const char* data = block.data();
    const std::ptrdiff_t n = overlap
                                 ? ahead->Next(data)
                                 : list.ReadSorted(block.data(), per_block);
    if (n < 0) return false;
    if (n == 0) return true;
    const std::size_t bytes = static_cast<std::size_t>(n) * length;
    if (!common::WriteAll(ops, fd, data, bytes)) return false;
    writeback.Wrote(bytes);
  }
}

}  // namespace

// The records in list order; every LF becomes CR LF, as the legacy tool's
// text-mode file did it. Only records holding an LF are looked at byte by
// byte. The list is read from its first record, also on a second write.
bool WriteRecords(const common::FileOps& ops, int fd, RecordList& list) {
  if (list.count() == 0 || list.record_length() == 0) return true;
  if (!list.Rewind()) return false;
  try {
    if (!list.has_line_feed()) return WriteGathered(ops, fd, list);
    BlockWriter writer(
        ops, fd, std::min(list.count() * list.record_length() + 2, kBlockSize));
    std::string_view rec;
    int got;
    while ((got = list.NextRecord(rec)) > 0) {
      std::size_t start = 0;
      for (std::size_t lf = rec.find('\n'); lf != std::string_view::npos;
           lf = rec.find('\n', start)) {
        if (!writer.Append(rec.data() + start, lf - start) ||
            !writer.Append("\r\n", 2)) {
          return false;
        }
        start = lf + 1;
      }
      if (!writer.Append(rec.data() + start, rec.size() - start)) return false;
    }
    return got == 0 && writer.Flush();
  } catch (const std::bad_alloc&) {
    errno = ENOMEM;
    return false;
  }
}

}  // namespace extract
