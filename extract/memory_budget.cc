// The memory budget from the limits of the process.
#include "extract/memory_budget.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <string>

#include "common/file_util.h"
#include "common/int_parse.h"

namespace extract {
namespace {

// v1 reports "no limit" as the largest page-aligned signed 64-bit number.
constexpr std::uint64_t kCgroupNoLimitAbove = std::uint64_t{1} << 62;

std::uint64_t SoftLimit(int resource) {
  struct rlimit rl;
  if (::getrlimit(resource, &rl) != 0 || rl.rlim_cur == RLIM_INFINITY) {
    return MemoryLimits::kNoLimit;
  }
  return static_cast<std::uint64_t>(rl.rlim_cur);
}

std::uint64_t ReadLimitFile(const std::string& path) {
  std::string text;
  if (!common::ReadWholeFile(path, text)) return MemoryLimits::kNoLimit;
  return ParseCgroupLimit(text);
}

// The smallest limit in the file `name` of the cgroup `path` (below `root`)
// and of every cgroup above it: a parent's limit binds its children too.
std::uint64_t SmallestOnThePath(const std::string& root, std::string path,
                                const char* name) {
  std::uint64_t smallest = MemoryLimits::kNoLimit;
  for (;;) {
    smallest = std::min(smallest, ReadLimitFile(root + path + "/" + name));
    if (path.empty() || path == "/") return smallest;
    const std::size_t slash = path.rfind('/');
    path = slash == std::string::npos ? std::string() : path.substr(0, slash);
  }
}

// The memory limit of this process's cgroup: v2 ("0::/path") or v1 (a line
// whose controllers include "memory").
std::uint64_t CgroupLimit() {
  std::string lines;
  if (!common::ReadWholeFile("/proc/self/cgroup", lines)) {
    return MemoryLimits::kNoLimit;
  }
  std::uint64_t smallest = MemoryLimits::kNoLimit;
  std::size_t start = 0;
  while (start < lines.size()) {
    std::size_t end = lines.find('\n', start);
    if (end == std::string::npos) end = lines.size();
    const std::string line = lines.substr(start, end - start);
    start = end + 1;
    const std::size_t first = line.find(':');
    const std::size_t second =
        first == std::string::npos ? first : line.find(':', first + 1);
    if (second == std::string::npos) continue;
    const std::string controllers = line.substr(first + 1, second - first - 1);
    const std::string path = line.substr(second + 1);
    if (line.compare(0, first, "0") == 0 && controllers.empty()) {
      smallest = std::min(
          smallest, SmallestOnThePath("/sys/fs/cgroup", path, "memory.max"));
    } else if (("," + controllers + ",").find(",memory,") !=
               std::string::npos) {
      smallest = std::min(smallest,
                          SmallestOnThePath("/sys/fs/cgroup/memory", path,
                                            "memory.limit_in_bytes"));
    }
  }
  return smallest;
}

std::uint64_t Smallest(const MemoryLimits& l) {
  return std::min({l.physical, l.address_space, l.data, l.cgroup});
}

std::size_t Clamp(std::uint64_t bytes, std::size_t most) {
  return static_cast<std::size_t>(
      std::max<std::uint64_t>(kMinMemoryBudget, std::min<std::uint64_t>(
                                                    bytes, most)));
}

}  // namespace

std::uint64_t ParseCgroupLimit(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) {
    text.remove_suffix(1);
  }
  std::uint64_t value = 0;
  bool saturated = false;
  if (!common::ParseDigits(text, value, saturated) || saturated ||
      value >= kCgroupNoLimitAbove) {
    return MemoryLimits::kNoLimit;
  }
  return value;
}

MemoryLimits ReadMemoryLimits() {
  MemoryLimits limits;
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long page = ::sysconf(_SC_PAGESIZE);
  if (pages > 0 && page > 0) {
    limits.physical =
        static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page);
  }
  limits.address_space = SoftLimit(RLIMIT_AS);
  limits.data = SoftLimit(RLIMIT_DATA);
  limits.cgroup = CgroupLimit();
  return limits;
}

std::size_t DefaultMemoryBudget(const MemoryLimits& limits) {
  return Clamp(Smallest(limits) / 4, kMaxDefaultMemoryBudget);
}

const MemoryLimits& ProcessMemoryLimits() {
  // Read once: every record list and the run's budget check ask.
  static const MemoryLimits limits = ReadMemoryLimits();
  return limits;
}

std::size_t DefaultMemoryBudget() {
  return DefaultMemoryBudget(ProcessMemoryLimits());
}

std::size_t MemoryBudgetCeiling(const MemoryLimits& limits) {
  return Clamp(Smallest(limits) / 2, SIZE_MAX);
}

}  // namespace extract
