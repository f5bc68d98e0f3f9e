// Tests of the presentation helpers: display escaping, CSV fields, masking.
#include "admin/admin_text.h"

#include <gtest/gtest.h>

namespace admin {
namespace {

struct DisplayCase {
  std::string_view bytes;
  const char* want;
  std::size_t width;
};

TEST(AdminTextTest, DisplayTextEscapesAndConvertsCodePage1252) {
  const DisplayCase kCases[] = {
      {"plain text", "plain text", 10},
      {"a\nb", "a\\nb", 4},
      {"cr\r tab\t", "cr\\r tab\\t", 10},
      {"back\\slash", "back\\\\slash", 11},
      {std::string_view("nul\0x", 5), "nul\\x00x", 8},
      {"\x1b\x7f", "\\x1B\\x7F", 8},
      {"Gr\xFCn", "Gr\xC3\xBCn", 4},  // ü
      {"\x80", "\xE2\x82\xAC", 1},    // €
      {"\x81\x8D", "\\x81\\x8D", 8},  // undefined in 1252
      {"\xA0\xFF", "\xC2\xA0\xC3\xBF", 2},
  };
  for (const DisplayCase& c : kCases) {
    const std::string shown = DisplayText(c.bytes);
    EXPECT_EQ(shown, c.want) << c.want;
    EXPECT_EQ(DisplayWidth(shown), c.width) << c.want;
  }
}

TEST(AdminTextTest, StatementsKeepTheirBackslashes) {
  EXPECT_EQ(DisplayText("'O\\'Br'\n", false), "'O\\'Br'\\n");
}

TEST(AdminTextTest, PadRightCountsCharactersNotBytes) {
  EXPECT_EQ(PadRight(DisplayText("\xFC"), 3), "\xC3\xBC  ");
  EXPECT_EQ(PadRight("abcd", 2), "abcd");
}

TEST(AdminTextTest, CsvFieldQuotesOnlyWhereNeeded) {
  const std::pair<std::string_view, const char*> kCases[] = {
      {"abc  ", "abc  "},
      {"", ""},
      {"a,b", "\"a,b\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"line\nfeed", "\"line\nfeed\""},
      {"cr\r", "\"cr\r\""},
      {"\xFC", "\xFC"},  // bytes stay as they are
  };
  for (const auto& [in, want] : kCases) EXPECT_EQ(CsvField(in), want);
}

TEST(AdminTextTest, MaskedValueHidesEverythingButTheLength) {
  EXPECT_EQ(MaskedValue("geheim"), "******** (6 characters)");
  EXPECT_EQ(MaskedValue(""), "******** (0 characters)");
}

}  // namespace
}  // namespace admin
