// Tests of the settings file reader: lookups, the legacy reading rules that
// other programs rely on, and the mended corner cases.
#include "settings/settings_reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "settings/value_cipher.h"
#include "testsupport/temp_dir.h"

namespace settings {
namespace {

std::string Hex(std::string_view plain) {
  return EncipherValue(plain, kValueKey);
}

// One settings record: heading line and entry line, each with LF.
std::string Record(std::string_view heading, std::string_view entry) {
  return std::string(heading) + "\n" + std::string(entry) + "\n";
}

std::string Entry(std::string_view number, std::string_view key,
                  std::string_view plain) {
  return std::string(number) + ";" + std::string(key) + ";" + Hex(plain);
}

const std::string kNet8 = Record("[DB];Rechner;", Entry("1", "NET8", "dbhost"));
const std::string kLogin =
    Record("[DB];Benutzer;", Entry("2", "LOGIN", "tabuser"));
const std::string kPass =
    Record("[DB];Kennwort;", Entry("3", "PASS", "Gr\xFC\xDFt!"));
const std::string kDbSystem =
    Record("[DB];System;", Entry("4", "DB_SYSTEM", "MARIA"));
const std::string kAllFour = kNet8 + kLogin + kPass + kDbSystem;

// A NET8 record whose entry line is `length` characters long, then a LOGIN
// record. Whole blocks after the first decipher to bytes of no meaning, but
// the value ends with the zero padding of the first.
std::string LongEntry(size_t length) {
  std::string entry = Entry("1", "NET8", "abc") + ";";
  entry.resize(length, 'Z');
  return Record("x;H;", entry) +
         Record("x;H2;", Entry("2", "LOGIN", "tabuser"));
}

const char* const kKeys[] = {"NET8", "LOGIN", "PASS", "DB_SYSTEM"};

class SettingsReaderTest : public ::testing::Test {
 protected:
  // Writes the settings file and returns the values of the four lookups the
  // run makes (empty heading, entry number 0).
  std::vector<std::string> LookUpAll(std::string_view content) {
    const std::string path = dir_.Write("Palventra.Ini", content);
    std::vector<std::string> values;
    for (const char* key : kKeys)
      values.push_back(ReadSetting("", key, 0, path));
    return values;
  }

  SettingMatch Find(std::string_view content, std::string_view heading,
                    std::string_view key, int32_t entry_number) {
    return FindSetting(heading, key, entry_number,
                       dir_.Write("Palventra.Ini", content));
  }

  testsupport::TempDir dir_;
};

using Values = std::vector<std::string>;
const Values kExpected = {"dbhost", "tabuser", "Gr\xFC\xDFt!", "MARIA"};

// The four lookups of the run (empty heading, entry number 0) on whole
// files: any order of the records, the legacy records that match every
// lookup, the records that match nothing extra, and how lines are read.
TEST_F(SettingsReaderTest, TheRunsFourLookups) {
  const Values all = {"all", "all", "all", "all"};
  struct Case {
    std::string name;
    std::string content;
    Values want;
  };
  std::string crlf;
  for (char c : kAllFour) {
    crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  }
  std::vector<Case> cases = {
      {"in order", kAllFour, kExpected},
      {"reversed", kDbSystem + kPass + kLogin + kNet8, kExpected},
      {"mixed", kPass + kNet8 + kDbSystem + kLogin, kExpected},
      {"another record first",
       Record("x;Andere;", Entry("17", "OTHER", "zz")) + kLogin + kDbSystem +
           kNet8 + kPass,
       kExpected},
      {"first match wins",
       Record("x;H;", Entry("7", "NET8", "first")) + kAllFour,
       {"first", "tabuser", "Gr\xFC\xDFt!", "MARIA"}},
      {"last line without line end",
       kNet8 + "x;H;\n" + Entry("2", "LOGIN", "tabuser"),
       {"dbhost", "tabuser", "", ""}},
      {"odd number of lines ignores the last",
       kNet8 + Entry("3", "PASS", "pw") + "\n", {"dbhost", "", "", ""}},
      {"empty file", "", {"", "", "", ""}},
      // Line ends as the legacy text mode read them.
      {"CR LF", crlf, kExpected},
      // A line of CRs only is not blank, but without ';' its heading name
      // is empty.
      {"line of CRs", "\r\r\n" + Entry("9", "X", "all") + "\n" + kAllFour,
       all},
      // Ctrl-Z ends the input.
      {"Ctrl-Z between records", kNet8 + kLogin + "\x1A" + kPass + kDbSystem,
       {"dbhost", "tabuser", "", ""}},
      // Inside the entry line: the input ends there, without a line end.
      {"Ctrl-Z in an entry line",
       "x;H;\n" + Entry("1", "NET8", "dbhost") + "\x1A" + "\n" + kLogin,
       {"dbhost", "", "", ""}},
      {"entry line of 398", LongEntry(398), {"abc", "tabuser", "", ""}},
      // 399: the entry line keeps no value, and its line end, read as an
      // empty heading line, matches every lookup.
      {"entry line of 399", LongEntry(399), {"", "", "", ""}},
  };
  // Records placed before the four that match every lookup of the run;
  // behind the four they change nothing.
  const std::pair<const char*, std::string> kMatchEvery[] = {
      {"heading without ';'", Record("Kopfzeile", Entry("9", "X", "all"))},
      {"heading with one ';'", Record("[DB];Kopf", Entry("9", "X", "all"))},
      {"blank heading line", Record("", Entry("9", "X", "all"))},
      {"entry number 0", Record("x;H;", Entry("0", "X", "all"))},
      {"entry number without digits", Record("x;H;", Entry("A1", "X", "all"))},
      {"entry number wrapping to 0",
       Record("x;H;", Entry("4294967296", "X", "all"))},
      {"';' at the start of the entry line",
       Record("x;H;", Entry("", "X", "all"))},
  };
  for (const auto& [name, record] : kMatchEvery) {
    cases.push_back({std::string(name) + ", before", record + kAllFour, all});
    cases.push_back(
        {std::string(name) + ", behind", kAllFour + record, kExpected});
  }
  // Records before the four that match nothing extra.
  const std::pair<const char*, std::string> kMatchNothing[] = {
      // Two ';' side by side: the heading name is not empty.
      {"empty heading field", Record("x;;rest", Entry("9", "X", "no"))},
      {"entry number 1 after wrap",
       Record("x;H;", Entry("4294967297", "X", "no"))},
      {"lower-case key", Record("x;H;", Entry("9", "net8", "no"))},
      {"key with trailing blank", Record("x;H;", Entry("9", "NET8 ", "no"))},
      {"key with leading blank", Record("x;H;", Entry("9", " NET8", "no"))},
      // An entry line without ';' never matches, even under an empty heading.
      {"entry line without ';'", Record("Kopf", "NET8")},
  };
  for (const auto& [name, record] : kMatchNothing) {
    cases.push_back({name, record + kAllFour, kExpected});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(LookUpAll(c.content), c.want);
  }
}

TEST_F(SettingsReaderTest, ReportsWhereTheRecordStands) {
  const SettingMatch m = Find(kAllFour, "", "LOGIN", 0);
  ASSERT_TRUE(m.found);
  EXPECT_EQ(m.heading_line, 3);
  EXPECT_EQ(m.entry_line, 4);
  EXPECT_EQ(m.heading_name, "Benutzer");
  EXPECT_EQ(m.key_name, "LOGIN");
  EXPECT_EQ(m.entry_number, 2);
  EXPECT_EQ(m.value_text, Hex("tabuser"));
  EXPECT_EQ(m.value, "tabuser");
}

// FindSetting with a heading, key or entry number ("-", 99: none of them),
// on files whose lines pair up in unexpected ways: the value found, and
// where a shifted pairing puts the match.
TEST_F(SettingsReaderTest, MatchesByHeadingKeyOrEntryNumber) {
  struct Case {
    const char* what;
    std::string content;
    std::string heading, key;
    int32_t number;
    const char* want;       // the value; nullptr: nothing found
    int heading_line = 0;   // not 0: the line of the matching heading
    const char* key_name = nullptr;
    std::string value_text = {};
  };
  const std::string numbers =
      kAllFour + Record("x;Weiter;", Entry("4294967338", "WRAP", "wrapped")) +
      Record("x;Neg;", Entry(" -5x", "NEG", "negative"));
  // The blank line is read as a heading line, so every heading line after it
  // is read as an entry line and the other way round.
  const std::string blank = Record("x;A;", Entry("1", "K1", "one")) + "\n" +
                            Record("x;B;", Entry("2", "K2", "two")) +
                            Record("x;C;", Entry("3", "K3", "three"));
  const std::string rest = Record("x;H2;", Entry("2", "LOGIN", "tabuser"));
  auto long_heading = [&](size_t length) {
    std::string heading = "x;H;";
    heading.resize(length, 'y');
    return Record(heading, Entry("1", "NET8", "dbhost")) + rest;
  };
  const std::string key(300, 'K');
  // 1000 characters and the line end: pieces of 199, 399, 199 and 204, an
  // even count, so the pairing is back in step afterwards.
  const std::string very_long = std::string(1000, 'y') + "\n" +
                                Record("x;H;", Entry("1", key, "long key")) +
                                Record(std::string(5000, ';'), "1;2;3");
  const Case kCases[] = {
      {"by heading", numbers, "System", "-", 99, "MARIA"},
      {"heading names are case-sensitive", numbers, "system", "-", 99,
       nullptr},
      {"by key", numbers, "-", "PASS", 99, "Gr\xFC\xDFt!"},
      {"by entry number", numbers, "-", "-", 2, "tabuser"},
      {"2^32 + 42 wraps to 42", numbers, "-", "-", 42, "wrapped"},
      {"negative entry number", numbers, "-", "-", -5, "negative"},
      {"nothing matches", numbers, "-", "-", 99, nullptr},
      {"empty key field matches no key", Record("x;H;", "9;;" + Hex("v")), "-",
       "", 99, nullptr},
      {"one ';': empty key, value after it", Record("x;H;", "9;" + Hex("v")),
       "-", "", 99, "v"},
      {"one ';' and nothing after it", Record("x;H;", "9;"), "-", "", 99, ""},
      {"empty value text", Record("x;H;", "9;NET8;"), "-", "NET8", 99, ""},
      {"further ';' belong to the value",
       Record("x;H;", Entry("9", "NET8", "v") + ";x"), "-", "NET8", 99, "v"},
      {"empty heading field is no empty heading",
       Record("x;;", Entry("9", "K", "v")), "", "-", 99, nullptr},
      {"blanks are part of the heading", Record("x; H ;", Entry("9", "K", "v")),
       " H ", "-", 99, "v"},
      // A lone CR is a data byte: CR CR LF leaves one CR in the value text.
      {"CR CR LF", "x;H;\r\n" + Entry("1", "NET8", "dbhost") + "\r\r\n", "-",
       "NET8", 99, "dbhost", 0, nullptr, Hex("dbhost") + "\r"},
      {"blank line: the record before it", blank, "-", "K1", 99, "one"},
      {"blank line: no K2 entry", blank, "-", "K2", 99, nullptr},
      {"blank line: no K3 entry", blank, "-", "K3", 99, nullptr},
      // "2;K2;<hex>" now stands as a heading line with the heading name K2.
      {"blank line: entry read as heading", blank, "K2", "-", 99, "", 5, "C"},
      // 198 characters and the line end fit in one read.
      {"heading line of 198", long_heading(198), "-", "NET8", 99, "dbhost"},
      // One more: the line end alone is read as the entry line, and the NET8
      // entry line becomes the next heading line.
      {"heading line of 199", long_heading(199), "-", "NET8", 99, nullptr},
      {"heading line of 199: entry read as heading", long_heading(199), "NET8",
       "-", 99, "", 2, "H2"},
      {"1000-character line", very_long, "-", key, 99, "long key"},
      {"300-character key not cut", very_long, "-", key.substr(1), 99,
       nullptr},
      // 399 characters: the entry line is cut without a line end; its line
      // end is read as an empty heading line.
      {"entry line of 399", LongEntry(399), "", "-", 99, "", 2, "H2"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    const SettingMatch m = Find(c.content, c.heading, c.key, c.number);
    EXPECT_EQ(m.found, c.want != nullptr);
    if (!m.found || c.want == nullptr) continue;
    EXPECT_EQ(m.value, c.want);
    if (c.heading_line != 0) {
      EXPECT_EQ(m.heading_line, c.heading_line);
      EXPECT_EQ(m.key_name, c.key_name);
    }
    if (!c.value_text.empty()) {
      EXPECT_EQ(m.value_text, c.value_text);
    }
  }
}

TEST_F(SettingsReaderTest, SaysWhyAndFindsTheKeysOwnRecord) {
  // An empty heading field between two ';' matches nothing: only the entry
  // number 0 makes the first record match.
  const std::string content = Record("x;;rest", Entry("0", "A", "zero")) +
                              Record("", Entry("5", "NET8", "blank")) +
                              kAllFour;
  struct Case {
    const char* what;
    SettingMatch m;
    const char* value;
    bool by_heading, by_key, by_entry;
  };
  const std::string path = dir_.Write("Palventra.Ini", content);
  const Case kCases[] = {
      {"run lookup", FindSetting("", "NET8", 0, path), "zero", false, false,
       true},
      {"blank heading", FindSetting("", "X", 9, path), "blank", true, false,
       false},
      {"heading and key", FindSetting("", "NET8", 9, path), "blank", true, true,
       false},
      {"by key", FindSettingByKey("LOGIN", path), "tabuser", false, true,
       false},
      {"by key, first one", FindSettingByKey("NET8", path), "blank", false,
       true, false},
  };
  for (const Case& c : kCases) {
    ASSERT_TRUE(c.m.found) << c.what;
    EXPECT_EQ(c.m.value, c.value) << c.what;
    EXPECT_EQ(c.m.by_heading, c.by_heading) << c.what;
    EXPECT_EQ(c.m.by_key, c.by_key) << c.what;
    EXPECT_EQ(c.m.by_entry, c.by_entry) << c.what;
  }
  EXPECT_FALSE(FindSettingByKey("net8", path).found);
}

TEST_F(SettingsReaderTest, MissingAndUnreadableFile) {
  for (const char* key : kKeys) {
    EXPECT_EQ(ReadSetting("", key, 0, dir_ / "missing.ini"), "");
    EXPECT_EQ(ReadSetting("", key, 0, dir_.path()), "");  // a directory
  }
}

TEST_F(SettingsReaderTest, ResolvesTheLegacyPathIgnoringCase) {
  dir_.Write("FILES/palventra.INI", kAllFour);
  dir_.Write("work/bin/.keep", "");
  const std::string old_cwd = std::filesystem::current_path().string();
  ASSERT_EQ(::chdir((dir_ / "work/bin").c_str()), 0);
  std::vector<std::string> values;
  for (const char* key : kKeys) {
    values.push_back(ReadSetting("", key, 0, kSettingsPath));
  }
  ASSERT_EQ(::chdir(old_cwd.c_str()), 0);
  EXPECT_EQ(values, kExpected);
}

TEST(FindNthCharTest, Positions) {
  struct Case {
    const char* text;
    char c;
    int n;
    int want;
  };
  const Case kCases[] = {
      {"a;b;c", ';', 1, 1}, {"a;b;c", ';', 2, 3}, {"a;b;c", ';', 3, 3},
      {";;", ';', 2, 1},    {"abc", ';', 1, -1},  {"", ';', 1, -1},
      {"ab\n", '\n', 1, 2}, {"a;b;c", ';', 0, 3},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(FindNthChar(c.text, c.c, c.n), c.want) << c.text << " " << c.n;
  }
}

}  // namespace
}  // namespace settings
