#include "extract/memory_budget.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace extract {
namespace {

constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;
constexpr std::uint64_t kNone = MemoryLimits::kNoLimit;

// The default budget and the ceiling of a set budget from each source of a
// limit: the smallest wins, a quarter (half) of it, between 16 MiB and 1 GiB.
TEST(MemoryBudgetTest, FromTheSmallestLimit) {
  struct Case {
    const char* what;
    MemoryLimits limits;
    std::uint64_t want_default;
    std::uint64_t want_ceiling;
  };
  const Case kCases[] = {
      {"nothing known", {}, 1024 * kMiB, kNone / 2},
      {"large machine", {24576 * kMiB, kNone, kNone, kNone}, 1024 * kMiB,
       12288 * kMiB},
      {"small machine", {2048 * kMiB, kNone, kNone, kNone}, 512 * kMiB,
       1024 * kMiB},
      {"ulimit -v", {24576 * kMiB, 200 * kMiB, kNone, kNone}, 50 * kMiB,
       100 * kMiB},
      {"ulimit -d", {24576 * kMiB, 400 * kMiB, 300 * kMiB, kNone}, 75 * kMiB,
       150 * kMiB},
      {"cgroup", {24576 * kMiB, kNone, kNone, 256 * kMiB}, 64 * kMiB,
       128 * kMiB},
      {"cgroup below the rlimits", {4096 * kMiB, 1024 * kMiB, 900 * kMiB,
                                    600 * kMiB}, 150 * kMiB, 300 * kMiB},
      {"tiny limit", {24576 * kMiB, 20 * kMiB, kNone, kNone}, 16 * kMiB,
       16 * kMiB},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(DefaultMemoryBudget(c.limits), c.want_default) << c.what;
    EXPECT_EQ(MemoryBudgetCeiling(c.limits), c.want_ceiling) << c.what;
  }
}

TEST(MemoryBudgetTest, CgroupLimitFiles) {
  struct Case {
    const char* text;
    std::uint64_t want;
  };
  const Case kCases[] = {
      {"268435456\n", 256 * kMiB},          {"max\n", kNone},
      {"9223372036854771712\n", kNone},     {"", kNone},
      {"12ab\n", kNone},                    {"99999999999999999999\n", kNone},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(ParseCgroupLimit(c.text), c.want) << c.text;
  }
}

}  // namespace
}  // namespace extract
