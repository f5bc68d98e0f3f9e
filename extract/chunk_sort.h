// The sort order of one chunk of records of equal length, in plain unsigned
// byte order. Internal to the record list.
#pragma once

#include <cstddef>
#include <cstdint>
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

// The sort order of `count` records of `length` bytes at `arena`: `order`
// is resized to `count` and its indexes name the records in ascending byte
// order. Large groups of records go through `spare`, which grows to `count`
// where there is memory for it; both keep their memory for the next chunk.
// False when the memory for the order is not there.
bool SortOrder(const char* arena, std::size_t length, std::size_t count,
               std::vector<SortEntry>& order, std::vector<SortEntry>& spare);

}  // namespace extract
