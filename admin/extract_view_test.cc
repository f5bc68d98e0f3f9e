// Tests of splitting an extract file back into records and showing it.
#include "admin/extract_view.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>

namespace admin {
namespace {

struct SplitCase {
  const char* name;
  std::string_view file;
  std::size_t record_length;
  std::vector<std::string> want;
  bool partial;
  std::size_t partial_offset;
  std::size_t partial_bytes;
};

TEST(SplitExtractTest, ReadsRecordsSequentially) {
  const SplitCase kCases[] = {
      {"plain", "abcdef", 3, {"abc", "def"}, false, 0, 0},
      {"empty file", "", 3, {}, false, 0, 0},
      // On disk the record with a LF is one byte longer.
      {"lf inside", "a\r\nbdef", 3, {"a\nb", "def"}, false, 0, 0},
      {"lf at record end", "ab\r\ndef", 3, {"ab\n", "def"}, false, 0, 0},
      {"lf at record start", "abc\r\nef", 3, {"abc", "\nef"}, false, 0, 0},
      // A CR of the data before the CR LF of a LF.
      {"cr then lf", "a\r\r\nxyz", 3, {"a\r\n", "xyz"}, false, 0, 0},
      {"lone cr", "a\rbc\rd", 3, {"a\rb", "c\rd"}, false, 0, 0},
      {"lone lf", "a\nbcde", 3, {"a\nb", "cde"}, false, 0, 0},
      {"cr as last byte", "abcde\r", 3, {"abc", "de\r"}, false, 0, 0},
      {"partial", "abcdefgh", 3, {"abc", "def"}, true, 6, 2},
      {"partial with lf", "abca\r\n", 3, {"abc"}, true, 3, 3},
      {"all partial", "ab", 3, {}, true, 0, 2},
  };
  for (const SplitCase& c : kCases) {
    const ExtractRecords got = SplitExtract(c.file, c.record_length);
    EXPECT_EQ(got.records, c.want) << c.name;
    EXPECT_EQ(got.partial, c.partial) << c.name;
    EXPECT_EQ(got.partial_offset, c.partial_offset) << c.name;
    EXPECT_EQ(got.partial_bytes, c.partial_bytes) << c.name;

    // The view reads the file in blocks: a CR LF may be cut between two.
    ExtractRecords streamed;
    RecordSplitter splitter(c.record_length);
    const RecordSplitter::Each keep = [&](const std::string& record) {
      streamed.records.push_back(record);
    };
    for (char byte : c.file) splitter.Feed(std::string_view(&byte, 1), keep);
    splitter.Finish(keep, streamed);
    EXPECT_EQ(streamed.records, c.want) << c.name << " (byte by byte)";
    EXPECT_EQ(streamed.partial_offset, c.partial_offset) << c.name;
    EXPECT_EQ(streamed.partial_bytes, c.partial_bytes) << c.name;
  }
}

querydef::ColumnDefinitions SampleColumns() {
  querydef::ColumnDefinitions cols{};
  cols[0] = {"Name", "CHAR", 4};
  cols[1] = {"Off", "char", 3};  // contributes nothing
  cols[2] = {"Count", "DEC", 3};
  cols[4] = {"", "TXT", 9};  // no label
  cols[5] = {"Note", "TXT", 2};
  return cols;
}

TEST(ViewColumnsTest, TakesTheContributingColumnsWithTheirOffsets) {
  const std::vector<ViewColumn> got = ViewColumns(SampleColumns());
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[0].label, "Name");
  EXPECT_EQ(got[1].label, "Count");
  EXPECT_EQ(got[1].offset, 4u);
  EXPECT_EQ(got[1].width, 3u);
  EXPECT_EQ(got[2].label, "Note");
  EXPECT_EQ(got[2].offset, 7u);
}

std::string Capture(
    const std::function<void(const std::vector<ViewColumn>&,
                             const std::vector<std::string>&, std::FILE*)>&
        print,
    const std::vector<std::string>& records) {
  char* buf = nullptr;
  std::size_t size = 0;
  std::FILE* out = open_memstream(&buf, &size);
  print(ViewColumns(SampleColumns()), records, out);
  std::fclose(out);
  std::string text(buf, size);
  std::free(buf);
  return text;
}

TEST(PrintTableTest, AlignsColumnsAndShowsLineFeeds) {
  EXPECT_EQ(Capture(PrintTable, {"Tor 017ab", "x\nyz0,2\"q"}),
            "Name  | Count | Note\n"
            "------+-------+-----\n"
            "Tor   | 017   | ab\n"
            "x\\nyz | 0,2   | \"q\n");
}

TEST(PrintCsvTest, WritesRfc4180InUtf8OrLatin1) {
  for (bool latin1 : {false, true}) {
    const auto print = [&](const std::vector<ViewColumn>& columns,
                           const std::vector<std::string>& records,
                           std::FILE* out) {
      PrintCsv(columns, records, latin1, out);
    };
    EXPECT_EQ(Capture(print, {"Tor 017ab", "x\nyz0,2\"q", "K\xE4s 099\x80!"}),
              "Name,Count,Note\r\n"
              "Tor ,017,ab\r\n"
              "\"x\nyz\",\"0,2\",\"\"\"q\"\r\n" +
                  std::string(latin1 ? "K\xE4s ,099,\x80!\r\n"
                                     : "K\xC3\xA4s ,099,\xE2\x82\xAC!\r\n"));
  }
}

}  // namespace
}  // namespace admin
