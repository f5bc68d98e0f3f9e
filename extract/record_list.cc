// The record list. All records of a run have the same length, so they sit
// back to back in one block, and a record is found by its index. The order
// is made once, by a multikey quicksort over 8-byte chunks of the records:
// records of an extract tend to share long beginnings (the terminal name,
// zero-padded numbers), which a plain comparison sort would compare again
// and again from the first byte.
#include "extract/record_list.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

namespace extract {
namespace {

using Entry = RecordList::SortEntry;

// Where AppendSlot points for records of length 0: valid, never written.
char empty_record_slot = 0;

// Up to 8 bytes of `rec` from `depth` on, first byte highest, missing bytes
// (past the record end) as 0. All records have the same length, so the
// padding never makes two different records look equal.
std::uint64_t LoadKey(const unsigned char* rec, std::size_t length,
                      std::size_t depth) {
  std::uint64_t key = 0;
  if (depth + 8 <= length) {
    std::memcpy(&key, rec + depth, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    key = __builtin_bswap64(key);
#endif
    return key;
  }
  std::size_t i = depth;
  for (; i < length; ++i) key = (key << 8) | rec[i];
  return key << (8 * (depth + 8 - length));
}

class ChunkSorter {
 public:
  ChunkSorter(const char* arena, std::size_t length)
      : arena_(reinterpret_cast<const unsigned char*>(arena)),
        length_(length) {}

  // Sorts `n` entries whose keys hold the record bytes from offset 0.
  void Sort(Entry* entries, std::size_t n) {
    stack_.push_back(Task{entries, n, 0});
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

  const unsigned char* Rec(const Entry& e) const {
    return arena_ + static_cast<std::size_t>(e.index) * length_;
  }

  // Entries agree on the bytes before `depth` and hold their keys there.
  bool Less(const Entry& x, const Entry& y, std::size_t depth) const {
    if (x.key != y.key) return x.key < y.key;
    const std::size_t next = depth + 8;
    if (next >= length_) return false;
    return std::memcmp(Rec(x) + next, Rec(y) + next, length_ - next) < 0;
  }

  void InsertionSort(Entry* a, std::size_t n, std::size_t depth) const {
    for (std::size_t i = 1; i < n; ++i) {
      Entry e = a[i];
      std::size_t j = i;
      while (j > 0 && Less(e, a[j - 1], depth)) {
        a[j] = a[j - 1];
        --j;
      }
      a[j] = e;
    }
  }

  static std::uint64_t Median3(std::uint64_t x, std::uint64_t y,
                               std::uint64_t z) {
    if (x < y) return y < z ? y : (x < z ? z : x);
    return x < z ? x : (y < z ? z : y);
  }

  static std::uint64_t Pivot(const Entry* a, std::size_t n) {
    if (n < 64) return Median3(a[0].key, a[n / 2].key, a[n - 1].key);
    const std::size_t s = n / 8;
    return Median3(Median3(a[0].key, a[s].key, a[2 * s].key),
                   Median3(a[3 * s].key, a[4 * s].key, a[5 * s].key),
                   Median3(a[6 * s].key, a[7 * s].key, a[n - 1].key));
  }

  void Run(Task t) {
    while (t.n > kSmall) {
      const std::uint64_t p = Pivot(t.a, t.n);
      // Three-way partition: [0, lt) below, [lt, gt) equal, [gt, n) above.
      std::size_t lt = 0, i = 0, gt = t.n;
      while (i < gt) {
        const std::uint64_t k = t.a[i].key;
        if (k < p) {
          std::swap(t.a[lt++], t.a[i++]);
        } else if (k > p) {
          std::swap(t.a[i], t.a[--gt]);
        } else {
          ++i;
        }
      }
      // The equal part agrees on 8 more bytes: go on with the next chunk.
      const std::size_t next = t.depth + 8;
      if (gt - lt > 1 && next < length_) {
        Entry* eq = t.a + lt;
        const std::size_t m = gt - lt;
        // The records lie scattered over the arena: ask for them ahead of
        // use, so that the memory fetches overlap.
        constexpr std::size_t kAhead = 16;
        for (std::size_t j = 0; j < m; ++j) {
          if (j + kAhead < m) {
            __builtin_prefetch(Rec(eq[j + kAhead]) + next);
          }
          eq[j].key = LoadKey(Rec(eq[j]), length_, next);
        }
        stack_.push_back(Task{eq, gt - lt, next});
      }
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
};

}  // namespace

bool RecordList::Grow(std::size_t records) {
  if (records <= capacity_) return true;
  if (record_length_ == 0) return true;
  if (records > std::numeric_limits<std::size_t>::max() / record_length_) {
    return false;
  }
  // realloc, not a vector: the bytes need no zeroing, and a large block can
  // grow in place without a second copy of all records.
  void* p = std::realloc(arena_.get(), records * record_length_);
  if (p == nullptr) return false;
  arena_.release();
  arena_.reset(static_cast<char*>(p));
  capacity_ = records;
  return true;
}

bool RecordList::Reserve(std::size_t records) {
  if (length_fixed_ && !Grow(records)) return false;
  reserved_ = std::max(reserved_, records);
  return true;
}

char* RecordList::AppendSlot(std::size_t length) {
  if (length_fixed_ && length != record_length_) return nullptr;
  // Sort entries hold 32-bit indexes.
  if (count_ >= std::numeric_limits<std::uint32_t>::max()) return nullptr;
  const std::size_t old_length = record_length_;
  record_length_ = length;
  if (count_ == capacity_ && length > 0) {
    std::size_t want = std::max<std::size_t>(reserved_, 64);
    if (capacity_ > 0) want = std::max(want, capacity_ + capacity_ / 2);
    if (!Grow(want) && !Grow(count_ + 1)) {
      record_length_ = old_length;
      return nullptr;
    }
  }
  length_fixed_ = true;
  if (sorted_) {
    sorted_ = false;
    std::vector<SortEntry>().swap(order_);
  }
  char* slot =
      length == 0 ? &empty_record_slot : arena_.get() + count_ * record_length_;
  ++count_;
  return slot;
}

bool RecordList::Sort() {
  if (sorted_) return true;
  std::vector<SortEntry> order;
  try {
    order.resize(count_);
  } catch (const std::bad_alloc&) {
    return false;
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(arena_.get());
  for (std::size_t i = 0; i < count_; ++i) {
    order[i].index = static_cast<std::uint32_t>(i);
    order[i].key = record_length_ == 0
                       ? 0
                       : LoadKey(bytes + i * record_length_, record_length_, 0);
  }
  // Rows often arrive in order already (a statement with ORDER BY); one
  // pass finds that out, and the first pair out of order stops it.
  bool in_order = true;
  for (std::size_t i = 1; i < count_ && in_order; ++i) {
    in_order = CompareRecords(Record(i - 1), Record(i)) <= 0;
  }
  if (!in_order) {
    try {
      ChunkSorter(arena_.get(), record_length_).Sort(order.data(), count_);
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
  order_ = std::move(order);
  sorted_ = true;
  return true;
}

void RecordList::Clear() { *this = RecordList(); }

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
