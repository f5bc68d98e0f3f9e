// The sort order of one chunk of records of equal length, in plain unsigned
// byte order. Internal to the record list.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace extract {

// One entry of the sort order: a record index and the 12 bytes of the
// record the sort is looking at, read big-endian so that integer order is
// byte order: `key` the first 8 of them, `key2` the other 4.
struct SortEntry {
  std::uint64_t key;
  std::uint32_t key2;
  std::uint32_t index;
};

// The number of leading bytes, at most `n`, in which `a` and `b` agree.
inline std::size_t SharedBytes(const char* a, const char* b, std::size_t n) {
  std::size_t i = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  for (; i + 8 <= n; i += 8) {
    std::uint64_t x, y;
    std::memcpy(&x, a + i, 8);
    std::memcpy(&y, b + i, 8);
    // The first byte in memory is the lowest of the word.
    if (x != y) return i + static_cast<std::size_t>(__builtin_ctzll(x ^ y)) / 8;
  }
#endif
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

// The sort order of `count` records of `length` bytes at `arena`: `order`
// is resized to `count` and its indexes name the records in ascending byte
// order. Large groups of records go through `spare`, which grows to `count`
// where there is memory for it; both keep their memory for the next chunk.
// False when the memory for the order is not there.
bool SortOrder(const char* arena, std::size_t length, std::size_t count,
               std::vector<SortEntry>& order, std::vector<SortEntry>& spare);

}  // namespace extract
