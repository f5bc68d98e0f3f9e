// Page blocks: memory for records straight from the kernel. Internal to the
// record list.
#pragma once

#include <cstddef>

namespace extract {

// The size of a memory page, 4096 when the system does not say.
std::size_t PageSize();

// Memory straight from the kernel for the record arena: on large pages
// where the system gives them, returned whole when released, grown without
// copying.
class PageBlock {
 public:
  PageBlock() = default;
  ~PageBlock() { Release(); }
  PageBlock(PageBlock&& other) noexcept;
  PageBlock& operator=(PageBlock&& other) noexcept;
  PageBlock(const PageBlock&) = delete;
  PageBlock& operator=(const PageBlock&) = delete;

  char* data() const { return data_; }
  std::size_t size() const { return size_; }  // usable bytes

  // Makes the block hold at least `bytes` bytes, keeping its content (which
  // may move). New bytes are zero. Returns false when the memory is not
  // there; the block is then unchanged.
  bool Resize(std::size_t bytes);
  // Returns the pages behind the first `bytes` bytes to the system.
  void Shrink(std::size_t bytes);
  // Returns the whole pages within [from, to) to the system; they read as
  // zero afterwards.
  void Discard(std::size_t from, std::size_t to);
  void Release();

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace extract
