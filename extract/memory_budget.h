// The memory budget of a record list: how many bytes of records a run keeps
// in memory before the rest goes to the temporary file, from the limits the
// process runs under.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace extract {

// What bounds the memory of the process; kNoLimit where nothing does (or it
// cannot be read).
struct MemoryLimits {
  static constexpr std::uint64_t kNoLimit = UINT64_MAX;
  std::uint64_t physical = kNoLimit;       // installed memory
  std::uint64_t address_space = kNoLimit;  // RLIMIT_AS (ulimit -v)
  std::uint64_t data = kNoLimit;           // RLIMIT_DATA (ulimit -d)
  std::uint64_t cgroup = kNoLimit;  // memory.max (v2) / limit_in_bytes (v1)
};

// The limits this process runs under: physical memory, the soft rlimits, and
// the smallest memory limit of its cgroup and the cgroups above it.
MemoryLimits ReadMemoryLimits();

// A cgroup memory limit file's text: "max" or a number of bytes (v1 writes a
// number near 2^63 for none). kNoLimit for anything else.
std::uint64_t ParseCgroupLimit(std::string_view text);

inline constexpr std::size_t kMinMemoryBudget = std::size_t{16} << 20;
inline constexpr std::size_t kMaxDefaultMemoryBudget = std::size_t{1} << 30;

// The default budget: a quarter of the smallest limit, at most 1 GiB, at
// least 16 MiB.
std::size_t DefaultMemoryBudget(const MemoryLimits& limits);
// The limits of this process, read at the first call.
const MemoryLimits& ProcessMemoryLimits();
// The default budget for this process.
std::size_t DefaultMemoryBudget();

// The largest budget the limits leave room for: half of the smallest limit
// (the other half holds the program, its threads, the client library and
// the buffers of the merge and the write), at least 16 MiB.
std::size_t MemoryBudgetCeiling(const MemoryLimits& limits);

}  // namespace extract
