// Tests of the column statistics of check --run, without a server.
#include "admin/column_stats.h"

#include <gtest/gtest.h>

#include <iterator>
#include <string_view>
#include <vector>

namespace admin {
namespace {

querydef::RowBuffer Row(std::vector<std::string_view> values) {
  querydef::RowBuffer row;
  for (std::size_t i = 0; i < values.size(); ++i) row.slots[i] = values[i];
  return row;
}

TEST(ColumnStatisticsTest, CountsWhatTheFormatterCutsAndKeeps) {
  querydef::ColumnDefinitions columns;
  columns[0] = {"Name", "CHAR", 4};
  columns[1] = {"Off", "CHAR", 0};  // contributes nothing, not counted
  columns[2] = {"Note", "TXT", 3};
  columns[3] = {"Num", "DEC", 2};
  ColumnStatistics stats(extract::CompileLayout(columns));
  // Blanks are trimmed before the width applies (TXT keeps leading ones);
  // a LF counts only where the record keeps it, not in the cut-off start.
  stats.Add(Row({" abcd ", "ignored", " \na", "7"}));
  stats.Add(Row({"abcdef", "", "\nxy", " 123 "}));
  stats.Add(Row({"", "", "\nab\n", ""}));

  struct Want {
    std::size_t slot, longest;
    std::uint64_t cut, with_lf, lf_bytes;
  };
  const Want kWant[] = {
      {0, 6, 1, 0, 0},
      {2, 4, 1, 3, 3},  // "\nab\n" keeps "ab\n": its first LF is cut off
      {3, 3, 1, 0, 0},
  };
  ASSERT_EQ(stats.columns().size(), std::size(kWant));
  for (std::size_t i = 0; i < std::size(kWant); ++i) {
    const ColumnStats& s = stats.columns()[i];
    EXPECT_EQ(s.slot, kWant[i].slot) << i;
    EXPECT_EQ(s.longest, kWant[i].longest) << i;
    EXPECT_EQ(s.cut, kWant[i].cut) << i;
    EXPECT_EQ(s.with_lf, kWant[i].with_lf) << i;
    EXPECT_EQ(s.lf_bytes, kWant[i].lf_bytes) << i;
  }
  EXPECT_EQ(stats.rows(), 3u);
  EXPECT_EQ(stats.LineFeedBytes(), 3u);
  EXPECT_EQ(stats.ExtractBytes(), 3u * 9 + 3);
}

}  // namespace
}  // namespace admin
