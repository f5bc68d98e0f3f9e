#include "extract/record_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "extract/field_format.h"
#include "testsupport/record_oracle.h"
#include "testsupport/temp_dir.h"

namespace extract {
namespace {

using testsupport::InsertRecord;

// The records in sorted order, read through the merge from the first.
std::vector<std::string> Contents(RecordList& list) {
  EXPECT_TRUE(list.Sort());
  if (list.record_length() == 0) {
    return std::vector<std::string>(list.count(), "");
  }
  EXPECT_TRUE(list.Rewind());
  std::vector<std::string> out;
  std::string_view rec;
  while (list.NextRecord(rec) > 0) out.emplace_back(rec);
  return out;
}

// Pairs of records of one length; `low` sorts before `high` or equals it.
struct OrderCase {
  std::string low;
  std::string high;
};

const OrderCase kOrderCases[] = {
    {"abc", "abc"},
    {"", ""},
    {"A", "a"},  // upper case before lower case
    {"Z", "a"},
    {" ", "0"},  // space before the digits
    {"9", "A"},
    {"z", "\xC4"},  // bytes above 0x7F last
    {"\x7F", "\x80"},
    {"\xFE", "\xFF"},
    {std::string("a\0b", 3), std::string("a\0c", 3)},
};

TEST(RecordListTest, SortsInPlainUnsignedByteOrder) {
  for (const auto& c : kOrderCases) {
    for (bool low_first : {true, false}) {
      RecordList list;
      ASSERT_EQ(InsertRecord(list, low_first ? c.low : c.high), 1);
      ASSERT_EQ(InsertRecord(list, low_first ? c.high : c.low), 1);
      EXPECT_EQ(Contents(list), (std::vector<std::string>{c.low, c.high}))
          << "'" << c.low << "' '" << c.high << "'";
    }
  }
}

// The first record fixes the length, the empty one included; a record of
// another length is refused and leaves the list as it was.
TEST(RecordListTest, RejectsRecordsOfAnotherLength) {
  struct Case {
    std::string first;
    std::vector<std::string> others;
  };
  const Case kCases[] = {{"abcd", {"abc", "abcde", "ab"}}, {"", {"a", "abcd"}}};
  for (const Case& c : kCases) {
    SCOPED_TRACE("'" + c.first + "'");
    RecordList list;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(InsertRecord(list, c.first), 1);
    for (const auto& other : c.others) EXPECT_EQ(InsertRecord(list, other), 0);
    EXPECT_EQ(list.AppendSlot(c.first.size() + 1), nullptr);
    EXPECT_EQ(list.count(), 3u);
    EXPECT_EQ(list.record_length(), c.first.size());
    EXPECT_EQ(Contents(list), std::vector<std::string>(3, c.first));
  }
}

TEST(RecordListTest, ZeroPaddedDecColumnsSortNumerically) {
  std::vector<int> numbers(500);
  for (int i = 0; i < 500; ++i) numbers[i] = i * 37 % 1000;
  std::shuffle(numbers.begin(), numbers.end(), std::mt19937(7));
  querydef::ColumnDefinitions columns;
  columns[0] = {"NR", "DEC", 6};
  columns[1] = {"X", "CHAR", 2};
  const RecordLayout layout = CompileLayout(columns);
  RecordList list;
  for (int n : numbers) {
    const std::string value = std::to_string(n);
    querydef::RowBuffer row;
    row.slots[0] = value;
    row.slots[1] = "x";
    char* slot = list.AppendSlot(layout.record_length);
    ASSERT_NE(slot, nullptr);
    FormatCompiledRecord(layout, row, slot);
  }
  const std::vector<std::string> sorted = Contents(list);
  std::sort(numbers.begin(), numbers.end());
  ASSERT_EQ(sorted.size(), numbers.size());
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    EXPECT_EQ(std::stoi(sorted[i].substr(0, 6)), numbers[i]);
  }
}

TEST(RecordListTest, AppendAfterSortNeedsAnotherSort) {
  RecordList list;
  InsertRecord(list, "bb");
  InsertRecord(list, "cc");
  ASSERT_TRUE(list.Sort());
  EXPECT_EQ(InsertRecord(list, "aa"), 1);
  EXPECT_FALSE(list.sorted());
  ASSERT_TRUE(list.Sort());
  EXPECT_EQ(Contents(list), (std::vector<std::string>{"aa", "bb", "cc"}));
}

TEST(RecordListTest, FreeRecordListEmptiesTheList) {
  RecordList list;
  EXPECT_EQ(FreeRecordList(list), 0);
  InsertRecord(list, "abc");
  EXPECT_EQ(FreeRecordList(list), 0);
  EXPECT_EQ(list.count(), 0u);
  // The record length is open again.
  EXPECT_EQ(InsertRecord(list, "abcdef"), 1);
}

// The chunked sort against std::sort (unsigned byte order), on records with
// long shared beginnings, many duplicates, bytes above 0x7F and NUL bytes,
// and lengths around the 8-byte chunk size.
struct SortCase {
  std::size_t length;
  std::size_t count;
  std::size_t shared_prefix;  // leading bytes taken from 3 fixed variants
  int alphabet;               // distinct bytes in the rest
  const char* order;          // "random", "sorted", "reversed"
};

const SortCase kSortCases[] = {
    {0, 50, 0, 1, "random"},        {1, 1000, 0, 3, "random"},
    {7, 2000, 0, 4, "random"},      {8, 2000, 4, 2, "random"},
    {9, 5000, 8, 2, "random"},      {16, 3000, 12, 3, "random"},
    {17, 3000, 16, 2, "random"},    {120, 20000, 60, 4, "random"},
    {120, 5000, 40, 256, "random"}, {300, 2000, 250, 2, "random"},
    {24, 5000, 0, 256, "random"},   {33, 4000, 10, 3, "sorted"},
    {33, 4000, 10, 3, "reversed"},  {40, 3000, 40, 1, "random"},
    {5, 0, 0, 2, "random"},         {5, 1, 0, 2, "random"},
    {5, 2, 0, 2, "random"},
};

TEST(RecordListTest, SortMatchesAComparisonSort) {
  std::mt19937 rng(42);
  const unsigned char kBytes[] = {0x00, 0x20, 'A', 'a', 0x7F, 0x80, 0xC4, 0xFF};
  for (const auto& c : kSortCases) {
    std::vector<std::string> prefixes(3);
    for (auto& p : prefixes) {
      for (std::size_t i = 0; i < c.shared_prefix; ++i) {
        p += static_cast<char>('K' + (i * 7 + rng() % 2) % 3);
      }
    }
    std::vector<std::string> records;
    for (std::size_t n = 0; n < c.count; ++n) {
      std::string r = prefixes[rng() % 3];
      while (r.size() < c.length) {
        r += c.alphabet == 256
                 ? static_cast<char>(rng() % 256)
                 : static_cast<char>(kBytes[rng() % 8 % c.alphabet]);
      }
      records.push_back(r);
    }
    std::vector<std::string> want = records;
    std::sort(want.begin(), want.end());
    if (std::string(c.order) == "sorted") records = want;
    if (std::string(c.order) == "reversed") {
      records.assign(want.rbegin(), want.rend());
    }
    RecordList list;
    for (const auto& r : records) ASSERT_EQ(InsertRecord(list, r), 1);
    EXPECT_EQ(Contents(list), want)
        << "length " << c.length << " count " << c.count << " " << c.order;
  }
}

// The bytes all records share are skipped by the sort; they are guessed from
// a sample of 64 records and checked on every record. A record that breaks
// the shared beginning outside the sample must still sort by it.
TEST(RecordListTest, SharedBeginningBrokenOutsideTheSample) {
  const std::size_t kCount = 10000;
  for (std::size_t odd : {std::size_t{1}, std::size_t{77}, kCount - 2}) {
    std::vector<std::string> records;
    for (std::size_t i = 0; i < kCount; ++i) {
      std::string r = "KASSE1  Artikel ";
      r += static_cast<char>('z' - i % 26);
      r += std::to_string(100000 + (i * 7919) % kCount);
      records.push_back(r);
    }
    // Same length, different in the third byte, so it sorts first; behind
    // the shared beginning it holds bytes that would sort it last.
    records[odd] = "KA0" + std::string(records[odd].size() - 3, '~');
    std::vector<std::string> want = records;
    std::sort(want.begin(), want.end());
    RecordList list;
    for (const auto& r : records) ASSERT_EQ(InsertRecord(list, r), 1);
    EXPECT_EQ(Contents(list), want) << "odd record at " << odd;
  }
}

// Records shaped like an extract's: few terminal names with a shared
// beginning, then names, numbers and blanks; many equal records.
// Longer than 31 bytes: padded, with one more byte that differs at the end,
// so that records share more than 255 bytes.
std::vector<std::string> ExtractLikeRecords(std::size_t count,
                                            std::uint32_t seed,
                                            std::size_t length = 31) {
  std::mt19937 rng(seed);
  const char* const kTerminals[] = {"KASSE01     ", "KASSE02     ",
                                    " KASSE1     ", "LAGER\xC4\xD6    "};
  const char* const kNames[] = {"M\xFCller", " Schmidt", "Wei\xDF  ",
                                "Bauer",     "Bauer ",   "\xC4rger"};
  std::vector<std::string> records;
  for (std::size_t i = 0; i < count; ++i) {
    std::string r = kTerminals[rng() % 4];
    r += kNames[rng() % 6];
    r.resize(24, ' ');
    r += std::to_string(100000 + rng() % 500);
    r += static_cast<char>(rng() % 3 == 0 ? '\0' : 'a' + rng() % 3);
    if (length > r.size()) {
      r.resize(length - 1, ' ');
      r += static_cast<char>('a' + rng() % 3);
    }
    records.push_back(r);
  }
  return records;
}

// The chunked list against std::sort: runs sorted on the worker thread or
// here, kept in memory or spilled to the temporary file, merged. Read
// twice, as the writer does when it falls back to writing in place.
// Runs are front-coded; records of 300 bytes code what they share in two
// bytes.
struct MergeCase {
  std::size_t count;
  std::size_t length;
  std::size_t chunk_records;
  std::size_t budget;
  bool worker;
};

const MergeCase kMergeCases[] = {
    {5000, 31, 40000, 64 << 20, true},  // one run
    {5000, 31, 40, 64 << 20, true},     // many runs in memory, partial last
    {5000, 31, 40, 64 << 20, false},
    {5000, 31, 1000, 1, true},             // every run spilled
    {20000, 31, 999, 200 * 1000, true},    // spilled and in memory mixed
    {3000, 300, 100, 1, true},             // spilled, coded across reads
    {3000, 300, 101, 400 * 1000, false},   // mixed
    {1, 31, 1, 1, true},
    {64, 31, 1, 1, false},  // a run of one record each
};

TEST(RecordListTest, ChunkedRunsMergeIntoByteOrder) {
  testsupport::TempDir tmp;
  for (const auto& c : kMergeCases) {
    const std::vector<std::string> records =
        ExtractLikeRecords(c.count, 9, c.length);
    ASSERT_EQ(records[0].size(), c.length);
    std::vector<std::string> want = records;
    std::sort(want.begin(), want.end());
    RecordListOptions options;
    options.chunk_bytes = c.chunk_records * c.length;
    options.memory_budget = c.budget;
    options.worker_thread = c.worker;
    options.temp_dir = tmp.path();
    RecordList list(options);
    for (const auto& r : records) ASSERT_EQ(InsertRecord(list, r), 1);
    const std::string label = "count " + std::to_string(c.count) + " length " +
                              std::to_string(c.length) + " chunk " +
                              std::to_string(c.chunk_records) + " budget " +
                              std::to_string(c.budget);
    EXPECT_EQ(Contents(list), want) << label;
    EXPECT_EQ(Contents(list), want) << label << ", read again";
    // Whole blocks at a time give the same bytes.
    ASSERT_TRUE(list.Rewind());
    std::string block(7 * c.length, '\0');
    std::string all;
    std::ptrdiff_t n;
    while ((n = list.ReadSorted(block.data(), 7)) > 0) {
      all.append(block, 0, static_cast<std::size_t>(n) * c.length);
    }
    EXPECT_EQ(n, 0) << label;
    std::string joined;
    for (const auto& r : want) joined += r;
    EXPECT_TRUE(all == joined) << label;
    // The temporary file has no name: nothing in the directory, ever.
    EXPECT_TRUE(std::filesystem::is_empty(tmp.path())) << label;
    EXPECT_EQ(list.times().spilled_runs > 0, c.budget < 64 << 20) << label;
    // Read a last time, giving the memory back: the same records, and then
    // no reading from the first again where memory was given back.
    ASSERT_TRUE(list.Rewind());
    list.ReadOnce();
    EXPECT_EQ(Contents(list), want) << label << ", read once";
    const bool any_in_memory = list.times().spilled_runs < list.times().runs;
    EXPECT_EQ(list.Rewind(), !any_in_memory) << label;
  }
}

TEST(RecordListTest, SpillThatCannotBeWrittenFailsTheSort) {
  testsupport::TempDir tmp;
  RecordListOptions options;
  options.chunk_bytes = 31 * 10;
  options.memory_budget = 1;
  options.temp_dir = tmp.path() + "/missing";
  RecordList list(options);
  // The first run that cannot be spilled ends the taking of records (on the
  // second thread: a few more may be taken before that shows).
  std::size_t taken = 0;
  for (const auto& r : ExtractLikeRecords(1000, 3)) {
    taken += static_cast<std::size_t>(InsertRecord(list, r));
  }
  EXPECT_LT(taken, 1000u);
  EXPECT_FALSE(list.Sort());
  EXPECT_EQ(list.AppendSlot(31), nullptr);
  EXPECT_EQ(list.failure().what, ListFailure::kSpillCreate);
  EXPECT_EQ(list.failure().error, ENOENT);
  EXPECT_EQ(list.FailureText(), "cannot create the temporary file in TMPDIR " +
                                    options.temp_dir + ": " +
                                    std::strerror(ENOENT));
  EXPECT_FALSE(list.Sort()) << "a failed list stays failed";
  list.Clear();
  EXPECT_EQ(list.failure().what, ListFailure::kNone);
}

TEST(RecordListTest, LineFeedsAreNoticedInEveryRun) {
  RecordListOptions options;
  options.chunk_bytes = 4 * 3;
  for (std::size_t at : {0, 5, 9, 10}) {  // 10: none
    RecordList list(options);
    for (std::size_t i = 0; i < 10; ++i) {
      ASSERT_EQ(InsertRecord(list, i == at ? "a\nb" : "abc"), 1);
    }
    ASSERT_TRUE(list.Sort());
    EXPECT_EQ(list.has_line_feed(), at < 10) << "line feed in record " << at;
  }
}

}  // namespace
}  // namespace extract
