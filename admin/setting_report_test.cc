// Tests of the settings lookup explanation on files with the legacy quirks.
#include "admin/setting_report.h"

#include <gtest/gtest.h>

#include "settings/value_cipher.h"
#include "testsupport/temp_dir.h"

namespace admin {
namespace {

std::string Entry(const char* number, const char* key, const char* value) {
  return std::string(number) + ";" + key + ";" +
         settings::EncipherValue(value, settings::kValueKey) + "\n";
}

TEST(ExplainSettingTest, OwnRecordMatchesByKey) {
  testsupport::TempDir dir;
  const std::string path =
      dir.Write("s.ini", "x;H1;\n" + Entry("1", "NET8", "dbhost") + "x;H2;\n" +
                             Entry("2", "PASS", "geheim"));
  const SettingExplanation e = ExplainSetting("PASS", path);
  ASSERT_TRUE(e.match.found);
  EXPECT_EQ(e.match.heading_line, 3);
  EXPECT_EQ(e.match.value, "geheim");
  EXPECT_TRUE(e.match.by_key);
  EXPECT_FALSE(e.match.by_heading);
  EXPECT_FALSE(e.match.by_entry);
  EXPECT_FALSE(e.own_record.found);
  EXPECT_EQ(MatchReason(e, "PASS"), "its key name is PASS");
  EXPECT_TRUE(IsSecret(e, "PASS"));
}

TEST(ExplainSettingTest, EarlierEntryNumberZeroWinsAndOwnRecordIsNamed) {
  testsupport::TempDir dir;
  const std::string path =
      dir.Write("s.ini", "x;H1;\n" + Entry("1", "NET8", "dbhost") + "x;H2;\n" +
                             Entry("0", "LOGIN", "admin") + "x;H3;\n" +
                             Entry("3", "DB_SYSTEM", "MYSQL"));
  const SettingExplanation e = ExplainSetting("DB_SYSTEM", path);
  ASSERT_TRUE(e.match.found);
  EXPECT_EQ(e.match.heading_line, 3);
  EXPECT_EQ(e.match.entry_line, 4);
  EXPECT_EQ(e.match.key_name, "LOGIN");
  EXPECT_EQ(e.match.value, "admin");
  EXPECT_FALSE(e.match.by_key);
  EXPECT_TRUE(e.match.by_entry);
  ASSERT_TRUE(e.own_record.found);
  EXPECT_EQ(e.own_record.heading_line, 5);
  EXPECT_EQ(e.own_record.value, "MYSQL");
  EXPECT_EQ(MatchReason(e, "DB_SYSTEM"),
            "its entry number reads as 0: such a record matches every lookup "
            "of tabfetch");
}

TEST(ExplainSettingTest, BlankLineGivesAnEmptyHeadingName) {
  testsupport::TempDir dir;
  // The blank line is a heading line without ';': empty heading name.
  const std::string path =
      dir.Write("s.ini", "\n" + Entry("7", "LOGIN", "admin") + "x;H;\n" +
                             Entry("8", "NET8", "dbhost"));
  const SettingExplanation e = ExplainSetting("NET8", path);
  ASSERT_TRUE(e.match.found);
  EXPECT_EQ(e.match.key_name, "LOGIN");
  EXPECT_TRUE(e.match.by_heading);
  EXPECT_FALSE(e.match.by_entry);
  EXPECT_EQ(e.own_record.entry_line, 4);
  EXPECT_NE(MatchReason(e, "NET8").find("its heading name is empty"),
            std::string::npos);
}

TEST(ExplainSettingTest, PassRecordFoundForAnotherKeyIsSecret) {
  testsupport::TempDir dir;
  const std::string path =
      dir.Write("s.ini", "x;H;\n" + Entry("0", "PASS", "geheim"));
  const SettingExplanation e = ExplainSetting("LOGIN", path);
  ASSERT_TRUE(e.match.found);
  EXPECT_TRUE(IsSecret(e, "LOGIN"));
  EXPECT_FALSE(e.own_record.found);
}

TEST(ExplainSettingTest, NoMatch) {
  testsupport::TempDir dir;
  const std::string path =
      dir.Write("s.ini", "x;H;\n" + Entry("5", "NET8", "dbhost"));
  const SettingExplanation e = ExplainSetting("PASS", path);
  EXPECT_FALSE(e.match.found);
  EXPECT_EQ(MatchReason(e, "PASS"), "no record matches");
}

}  // namespace
}  // namespace admin
