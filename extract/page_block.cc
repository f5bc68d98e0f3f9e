// Page blocks: anonymous mappings, taken whole, on large pages where the
// system gives them, grown by moving pages.
#include "extract/page_block.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <limits>
#include <utility>

namespace extract {
namespace {

// `bytes` rounded up to whole pages (at least one); 0 on overflow.
std::size_t PageLength(std::size_t bytes) {
  const std::size_t page = PageSize();
  if (bytes == 0) bytes = 1;
  if (bytes > std::numeric_limits<std::size_t>::max() - page) return 0;
  return (bytes + page - 1) / page * page;
}

}  // namespace

std::size_t PageSize() {
  static const std::size_t size = [] {
    const long s = ::sysconf(_SC_PAGESIZE);
    return s > 0 ? static_cast<std::size_t>(s) : std::size_t{4096};
  }();
  return size;
}

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
    // The pages come as the records are written to them: taking them all
    // in advance would have the kernel zero memory that is about to be
    // overwritten, and count pages a short last chunk never uses.
    p = ::mmap(nullptr, length, PROT_READ | PROT_WRITE,
               MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p != MAP_FAILED) {
      // Large pages: the sort and the merge read the records in an order of
      // their own, all over the block, and every 4 KiB page would cost a
      // page-table walk of its own. Where the system does not give them,
      // the pages stay small.
      (void)::madvise(p, length, MADV_HUGEPAGE);
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

void PageBlock::Shrink(std::size_t bytes) {
  const std::size_t keep = PageLength(bytes);
  if (data_ == nullptr || keep == 0 || keep >= size_) return;
  ::munmap(data_ + keep, size_ - keep);
  size_ = keep;
}

void PageBlock::Discard(std::size_t from, std::size_t to) {
  const std::size_t page = PageSize();
  from = (from + page - 1) / page * page;
  to = std::min(to, size_) / page * page;
  if (data_ != nullptr && from < to) {
    (void)::madvise(data_ + from, to - from, MADV_DONTNEED);
  }
}

void PageBlock::Release() {
  if (data_ != nullptr) ::munmap(data_, size_);
  data_ = nullptr;
  size_ = 0;
}

}  // namespace extract
