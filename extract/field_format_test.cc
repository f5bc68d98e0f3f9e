#include "extract/field_format.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "testsupport/record_oracle.h"

namespace extract {
namespace {

struct FieldCase {
  std::string value;
  int width;
  const char* type;
  std::string want;
};

const std::string kLong150(150, 'v');

const FieldCase kFieldCases[] = {
    // CHAR: trimmed on both sides, left-aligned, a long value loses its start.
    {"ab", 5, "CHAR", "ab   "},
    {" ab ", 4, "CHAR", "ab  "},
    {"\ta b\t", 5, "CHAR", "a b  "},
    {"abc", 3, "CHAR", "abc"},
    {"abcdef", 3, "CHAR", "def"},
    {"", 2, "CHAR", "  "},
    {"   ", 3, "CHAR", "   "},
    {" \t \t", 2, "CHAR", "  "},
    {"Gr\xFCn", 5, "CHAR", "Gr\xFCn "},
    // LF, CR, VT and 0xA0 are no blanks, not even at the ends.
    {"\na\r", 3, "CHAR", "\na\r"},
    {"a\nb ", 4, "CHAR", "a\nb "},
    {"\x0B"
     "a",
     3, "CHAR",
     "\x0B"
     "a "},
    {"\xA0x\xA0", 4, "CHAR", "\xA0x\xA0 "},
    // DEC is a text rule: zero-padded on the left, sign and point untouched.
    {"42", 5, "DEC", "00042"},
    {" 42 ", 5, "DEC", "00042"},
    {"\t7\t", 3, "DEC", "007"},
    {"", 5, "DEC", "00000"},
    {" \t ", 3, "DEC", "000"},
    {"-42", 5, "DEC", "00-42"},
    {"3.5", 5, "DEC", "003.5"},
    {"123456", 4, "DEC", "3456"},
    {"1234", 4, "DEC", "1234"},
    // TXT keeps leading blanks; blanks only become padding only.
    {" ab", 5, "TXT", " ab  "},
    {" ab \t", 5, "TXT", " ab  "},
    {"\tab", 4, "TXT", "\tab "},
    {"Hello World", 4, "TXT", "orld"},
    {"Hello", 5, "TXT", "Hello"},
    {"   ", 3, "TXT", "   "},
    {"\t\t", 2, "TXT", "  "},
    {" \t ", 4, "TXT", "    "},
    // Width 0 or below: nothing, whatever the type.
    {"abc", 0, "CHAR", ""},
    {"abc", 0, "DEC", ""},
    {"abc", 0, "TXT", ""},
    {"abc", -3, "CHAR", ""},
    {"", -1, "DEC", ""},
    // Type words are exact and case-sensitive.
    {"abc", 3, "char", ""},
    {"abc", 3, "Char", ""},
    {"abc", 3, "", ""},
    {"abc", 3, "DECI", ""},
    {"abc", 3, "TXTX", ""},
    {"abc", 3, "TXT ", ""},
    {"abc", 3, "CHAR ", ""},
    // Values longer than 99 characters count in full.
    {kLong150, 200, "CHAR", kLong150 + std::string(50, ' ')},
    {kLong150 + "xyz", 3, "TXT", "xyz"},
    {"x", 999, "CHAR", "x" + std::string(998, ' ')},
    {"7", 999, "DEC", std::string(998, '0') + "7"},
};

querydef::ColumnDefinition Col(const char* label, const char* type, int width) {
  return querydef::ColumnDefinition{label, type, width};
}

querydef::RowBuffer Row(std::vector<std::string_view> values) {
  querydef::RowBuffer row;
  for (std::size_t i = 0; i < values.size(); ++i) row.slots[i] = values[i];
  return row;
}

std::string FormatByLayout(const querydef::ColumnDefinitions& columns,
                           const querydef::RowBuffer& row) {
  const RecordLayout layout = CompileLayout(columns);
  std::string out(layout.record_length, '\x01');
  FormatCompiledRecord(layout, row, out.data());
  return out;
}

// Each case as the only column of a record, in the middle of the row.
TEST(FormatCompiledRecordTest, AppliesTheTypeRules) {
  for (const auto& c : kFieldCases) {
    querydef::ColumnDefinitions columns;
    columns[4] = Col("L", c.type, c.width);
    querydef::RowBuffer row;
    row.slots[4] = c.value;
    EXPECT_EQ(FormatByLayout(columns, row), c.want)
        << "value '" << c.value << "' width " << c.width << " type '" << c.type
        << "'";
  }
}

struct TrimCase {
  std::string text;
  std::string trimmed;
  std::string right_trimmed;
};

const TrimCase kTrimCases[] = {
    {"", "", ""},       {"   ", "", ""},
    {"\t \t", "", ""},  {" \ta b\t ", "a b", " \ta b"},
    {"ab", "ab", "ab"}, {"\n x \n", "\n x \n", "\n x \n"},
    {"\r", "\r", "\r"},
};

TEST(TrimForKindTest, RemovesSpacesAndTabsOnly) {
  for (const auto& c : kTrimCases) {
    EXPECT_EQ(TrimForKind(FieldKind::kChar, c.text), c.trimmed)
        << "'" << c.text << "'";
    EXPECT_EQ(TrimForKind(FieldKind::kDec, c.text), c.trimmed)
        << "'" << c.text << "'";
    EXPECT_EQ(TrimForKind(FieldKind::kTxt, c.text), c.right_trimmed)
        << "'" << c.text << "'";
  }
}

TEST(CompileLayoutTest, BuildsTheWholeRecord) {
  querydef::ColumnDefinitions columns;
  columns[0] = Col("TERM", "CHAR", 6);
  columns[1] = Col("NR", "DEC", 4);
  columns[2] = Col("", "CHAR", 3);  // switched off: slot 3 is skipped
  columns[3] = Col("TEXT", "TXT", 5);
  const RecordLayout layout = CompileLayout(columns);
  EXPECT_EQ(layout.record_length, 15u);
  ASSERT_EQ(layout.fields.size(), 3u);
  const std::size_t want_slot[] = {0, 1, 3};
  const std::size_t want_offset[] = {0, 6, 10};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(layout.fields[i].slot, want_slot[i]) << "field " << i;
    EXPECT_EQ(layout.fields[i].offset, want_offset[i]) << "field " << i;
  }
  EXPECT_EQ(FormatByLayout(columns, Row({"Tor", "17", "x", " ab"})),
            "Tor   0017 ab  ");
}

TEST(CompileLayoutTest, AllLabelsEmptyGiveTheEmptyRecord) {
  querydef::ColumnDefinitions columns;
  for (auto& c : columns) c = Col("", "CHAR", 5);
  const RecordLayout layout = CompileLayout(columns);
  EXPECT_EQ(layout.record_length, 0u);
  EXPECT_TRUE(layout.fields.empty());
  EXPECT_EQ(FormatByLayout(columns, Row({"a", "b"})), "");
}

TEST(CompileLayoutTest, RecordsLongerThanTheLegacyBuffer) {
  querydef::ColumnDefinitions columns;
  for (auto& c : columns) c = Col("F", "CHAR", 999);
  const std::string value(1000, 'q');
  querydef::RowBuffer row;
  row.slots.fill(value);
  EXPECT_EQ(CompileLayout(columns).record_length, 30u * 999u);
  EXPECT_EQ(FormatByLayout(columns, row), std::string(30 * 999, 'q'));
}

TEST(ClearColumnDefinitionsTest, EmptiesEveryColumn) {
  querydef::ColumnDefinitions columns;
  for (auto& c : columns) c = Col("L", "CHAR", 7);
  ClearColumnDefinitions(columns);
  for (const auto& c : columns) {
    EXPECT_EQ(c.label, "");
    EXPECT_EQ(c.type, "");
    EXPECT_EQ(c.width, 0);
  }
}

// The layout must give the bytes of the CHAR, DEC and TXT rules, written out
// independently, for any definitions and values: every width and value
// length around the 8-byte moves of the formatter.
TEST(FormatCompiledRecordTest, AgreesWithTheRulesOnRandomInput) {
  std::mt19937 rng(20240611);
  const char* kTypes[] = {"CHAR", "DEC", "TXT", "char", "", "DECI", "TX"};
  const char kAlphabet[] = {' ',  '\t', 'a',    'Z',    '0',
                            '\n', '\r', '\xA0', '\xFC', '-'};
  auto pick = [&](int n) { return static_cast<int>(rng() % n); };
  for (int round = 0; round < 2000; ++round) {
    querydef::ColumnDefinitions columns;
    for (auto& c : columns) {
      c.label = pick(4) == 0 ? "" : "L";
      c.type = kTypes[pick(7)];
      c.width = pick(45) - 5;
    }
    std::vector<std::string> values(querydef::kRowSlots);
    querydef::RowBuffer row;
    const int filled = pick(querydef::kRowSlots + 1);
    for (int i = 0; i < filled; ++i) {
      const int len = pick(4) == 0 ? 0 : pick(60);
      for (int j = 0; j < len; ++j) values[i] += kAlphabet[pick(10)];
      row.slots[i] = values[i];
    }
    ASSERT_EQ(FormatByLayout(columns, row),
              testsupport::ExpectedRecord(columns, row))
        << "round " << round;
  }
}

}  // namespace
}  // namespace extract
