// The sort order of one chunk of records. The order is made over 12-byte
// keys of the records held beside each record index: records of an extract
// tend to share long beginnings (the terminal name, zero-padded numbers),
// which a plain comparison sort would compare again and again from the first
// byte. Large groups are split by the first byte in which their keys differ
// (radix), small ones by a three-way quicksort; a group whose keys are all
// equal moves on to the next 12 bytes.
#include "extract/chunk_sort.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace extract {
namespace {

using Entry = SortEntry;

// The 12 key bytes of an entry as one number, first byte highest.
__extension__ typedef unsigned __int128 Key;

constexpr std::size_t kKeyBytes = 12;

Key KeyOf(const Entry& e) { return (static_cast<Key>(e.key) << 32) | e.key2; }

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

class ChunkSorter {
 public:
  // `count` entries will be sorted; large groups of them go through
  // `spare`, grown to that size when there is memory for it.
  ChunkSorter(const char* arena, std::size_t length, std::size_t count,
              std::vector<Entry>& spare)
      : arena_(reinterpret_cast<const unsigned char*>(arena)),
        length_(length),
        spare_(spare) {
    if (count < kRadixMin) return;
    try {
      if (spare_.size() < count) spare_.resize(count);
    } catch (const std::bad_alloc&) {
      // Without the spare array every group is split by comparisons.
      std::vector<Entry>().swap(spare_);
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
  // Empty when groups are not split by bytes; else at least as long as the
  // chunk.
  std::vector<Entry>& spare_;
};

}  // namespace

// The sort order of `count` records of `length` bytes at `arena`.
bool SortOrder(const char* arena, std::size_t length, std::size_t count,
               std::vector<Entry>& order, std::vector<Entry>& spare) {
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
    common = SharedBytes(arena, arena + (count - 1) * s / 64 * length, common);
  }
  bool guessed_wrong = false;
  for (std::size_t i = 0; i < count; ++i) {
    order[i].index = static_cast<std::uint32_t>(i);
    if (common > 0 && std::memcmp(rec(0), rec(i), common) != 0) {
      common = SharedBytes(arena, arena + i * length, common);
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
    ChunkSorter(arena, length, count, spare).Sort(order.data(), count, common);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

}  // namespace extract
