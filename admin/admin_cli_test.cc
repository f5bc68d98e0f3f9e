// End-to-end tests of the tabfetch-admin binary: each command on good and
// bad input, in a working directory laid out as tabfetch expects it
// (settings file two levels up in Files/, query definition file beside).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "settings/value_cipher.h"
#include "testsupport/tool_runner.h"
#include "testsupport/temp_dir.h"

namespace {

std::string Hex(const char* plain) {
  return settings::EncipherValue(plain, settings::kValueKey);
}

std::string Entry(const char* number, const char* key, const char* value) {
  return std::string(number) + ";" + key + ";" + Hex(value) + "\n";
}

constexpr char kDefinition[] =
    "[GOOD]\n"
    "SQL001=select name, cnt, note\n"
    "SQL002=from t where term = '$parm01'\n"
    "FELD01=Name\nFTYP01=CHAR\nFLEN01=6\n"
    "FELD02=Count\nFTYP02=DEC\nFLEN02=4\n"
    "FELD03=Note\nFTYP03=TXT\nFLEN03=5\n"
    "\n"
    "[PITFALLS]\n"
    "SQL001=select a, b\n"
    "SQL002=\n"
    "SQL003=from t where term = '$parm01'\n"
    "FELD01=A\nFTYP01=char\nFLEN01=5\n"
    "FELD02=B\nFTYP02=CHAR\nFLEN02=1000\n"
    "FTYP03=DEC\nFLEN03=4\n"
    "FELD04=D\nFTYP04=TXT\nFLEN04=-2\n"
    "\n"
    "[NOSQL]\n"
    "FELD01=A\n"
    "\n"
    "[NAMED]\n"
    "SQL001=select name from T_$parm01\n"
    "FELD01=Name\nFTYP01=CHAR\nFLEN01=6\n"
    "\n"
    "[WIDEN]\n"
    "SQL001=select name from t where MENGE = $parm01\n"
    "SQL002=or name like '$parm01%'\n"
    "FELD01=Name\nFTYP01=CHAR\nFLEN01=6\n";

class AdminCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Record 1 is NET8's own; record 2 has entry number 0 and so wins the
    // lookups of every key behind it.
    dir_.Write("Files/Palventra.Ini",
               "x;H1;y\n" + Entry("1", "NET8", "dbhost") + "x;H2;y\n" +
                   Entry("0", "LOGIN", "MySQL") + "x;H3;y\n" +
                   Entry("3", "PASS", "geheim"));
    // Only its owner may read the settings file (see SettingWarnsWhen...).
    ASSERT_EQ(::chmod((dir_ / "Files/Palventra.Ini").c_str(), 0600), 0);
    dir_.Write("a/b/TABFETCH.MySQL.INI", kDefinition);
    cwd_ = dir_ / "a/b";
  }

  testsupport::ToolResult Admin(const std::vector<std::string>& args) {
    return testsupport::RunTool(TABFETCH_ADMIN, cwd_, args);
  }
  // The temporary directory as the tool prints it: absolute, links resolved.
  std::string RealDir() const {
    return std::filesystem::canonical(dir_.path()).string();
  }

  testsupport::TempDir dir_;
  std::string cwd_;
};

TEST_F(AdminCliTest, HelpAndUsageErrors) {
  struct Case {
    std::vector<std::string> args;
    int exit_code;
    const char* out_part;
    const char* err_part;
  };
  const Case kCases[] = {
      {{"--help"}, 0, "Exit codes:\n  0  done, nothing to report", ""},
      {{"check", "--help"}, 0, "Usage: tabfetch-admin check SECTION", ""},
      {{"view", "-h"}, 0, "Usage: tabfetch-admin view EXTRACT SECTION", ""},
      {{"setting", "--help"}, 0, "--show", ""},
      {{}, 2, "", "no command given"},
      {{"frobnicate"}, 2, "", "unknown command \"frobnicate\""},
      {{"check"}, 2, "", "tabfetch-admin check: missing SECTION"},
      {{"view", "x"}, 2, "", "missing EXTRACT SECTION"},
      {{"encipher", "a", "b"}, 2, "", "too many arguments"},
      {{"check", "GOOD", "--bogus"}, 2, "", "unknown option \"--bogus\""},
      {{"check", "GOOD", "--run"}, 2, "", "option --run needs a value"},
      {{"view", "x", "y", "--csv=1"}, 2, "", "option --csv takes no value"},
  };
  // An empty part means that stream stays empty.
  auto holds = [](const std::string& stream, const char* part) {
    return *part == '\0' ? stream.empty()
                         : stream.find(part) != std::string::npos;
  };
  for (const Case& c : kCases) {
    const testsupport::ToolResult r = Admin(c.args);
    const std::string what = c.args.empty() ? "(none)" : c.args[0];
    EXPECT_EQ(r.exit_code, c.exit_code) << what << "\n" << r.err;
    EXPECT_TRUE(holds(r.out, c.out_part)) << what << r.out;
    EXPECT_TRUE(holds(r.err, c.err_part)) << what << r.err;
  }
}

TEST_F(AdminCliTest, SettingNamesTheRecordThatWins) {
  testsupport::ToolResult r = Admin({"setting", "NET8"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("Why:           its key name is NET8.\n"),
            std::string::npos)
      << r.out;

  r = Admin({"setting", "PASS"});
  EXPECT_EQ(r.exit_code, 1) << r.err;
  EXPECT_EQ(r.out,
            "Settings file: " + RealDir() +
                "/Files/Palventra.Ini (named ..\\..\\Files\\Palventra.Ini)\n"
            "Lookup:        key name \"PASS\", heading name \"\", entry number "
            "0 (as tabfetch)\n"
            "Match:         lines 3-4\n"
            "  heading name \"H2\"\n"
            "  key name     \"LOGIN\"\n"
            "  entry number 0\n"
            "  value text   ******** (16 characters)\n"
            "  value        ******** (5 characters), --show shows it\n"
            "Why:           its entry number reads as 0: such a record "
            "matches every lookup of tabfetch.\n"
            "The record with key name PASS at lines 5-6 is never reached: "
            "this one comes first.\n");

  r = Admin({"setting", "PASS", "--show"});
  EXPECT_NE(r.out.find("  value        \"MySQL\"\n"), std::string::npos)
      << r.out;

  r = Admin(
      {"setting", "DB_SYSTEM", "--settings", dir_ / "Files/Palventra.Ini"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.out.find("No record has the key name DB_SYSTEM."),
            std::string::npos)
      << r.out;

  r = Admin({"setting", "NET8", "--settings=" + dir_ / "nothing.ini"});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_NE(r.err.find("cannot be read"), std::string::npos);
}

TEST_F(AdminCliTest, SettingWarnsWhenOthersCanReadThePassword) {
  const std::string settings = dir_ / "Files/Palventra.Ini";
  struct Case {
    mode_t mode;
    int exit_code;
    const char* err_part;  // "" = nothing on standard error
  };
  const Case kCases[] = {
      {0600, 0, ""},
      // A warning only: the lookup's outcome decides the exit code.
      {0640, 0, "can be read by the members of its group (mode 0640)"},
      {0604, 0, "can be read by every user of this machine (mode 0604)"},
  };
  for (const Case& c : kCases) {
    ASSERT_EQ(::chmod(settings.c_str(), c.mode), 0);
    const testsupport::ToolResult r = Admin({"setting", "NET8"});
    EXPECT_EQ(r.exit_code, c.exit_code) << c.mode;
    EXPECT_NE(r.out.find("Why:           its key name is NET8.\n"),
              std::string::npos);
    if (*c.err_part == '\0') {
      EXPECT_EQ(r.err, "") << c.mode;
    } else {
      EXPECT_NE(r.err.find(c.err_part), std::string::npos) << r.err;
    }
  }
}

TEST_F(AdminCliTest, ViewShowsRecordsWithLineFeeds) {
  // Record length 15; the second record holds a LF, written as CR LF.
  dir_.Write("a/b/extract.txt",
             "Tor   0017 ab  "
             "Zu\r\nr  0042Hi,\"x");
  testsupport::ToolResult r = Admin({"view", "extract.txt", "GOOD"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out,
            "Name    | Count | Note\n"
            "--------+-------+------\n"
            "Tor     | 0017  |  ab  \n"
            "Zu\\nr   | 0042  | Hi,\"x\n"
            "(2 records of 15 bytes)\n");

  r = Admin({"view", "extract.txt", "GOOD", "--csv"});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out,
            "Name,Count,Note\r\n"
            "Tor   ,0017, ab  \r\n"
            "\"Zu\nr  \",0042,\"Hi,\"\"x\"\r\n");
}

TEST_F(AdminCliTest, ViewReportsTrailingPartialRecord) {
  dir_.Write("a/b/extract.txt", "Tor   0017 ab  Zu\r\nr  00");
  testsupport::ToolResult r = Admin({"view", "extract.txt", "GOOD"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.out.find("Tor    | 0017  |  ab  \n(1 record of 15 bytes)\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.err.find("ends with a partial record: 9 bytes at offset 15"),
            std::string::npos)
      << r.err;
}

// The commands on good and bad input, and what operators asked for: the
// value from standard input, absolute paths with the reason a file cannot be
// read, CSV in UTF-8 unless --latin1, a warning for a name built from
// $parm01.
TEST_F(AdminCliTest, CommandsEndToEnd) {
  dir_.Write("a/b/latin1.txt", "K\xE4se  0017 ab  ");
  std::filesystem::create_directories(dir_ / "a/b/adir");
  const std::string hex = Hex("geheim") + "\n";
  std::string lower = Hex("geheim");
  for (char& c : lower) c = static_cast<char>(std::tolower(c));
  struct Case {
    const char* name;
    std::string shell;  // run by sh -c in the working directory; $A is the tool
    int exit_code;
    std::string out;  // the whole standard output, unless parts are given
    std::vector<std::string> out_parts;  // parts of it, in order
    std::string err_part;  // "" = nothing on standard error
  };
  const Case kCases[] = {
      {"encipher", "$A encipher geheim", 0, hex, {}, ""},
      {"decipher", "$A decipher " + Hex("geheim"), 0, "geheim\n", {}, ""},
      {"encipher, a value beginning with '-'", "$A encipher -- -x", 0,
       Hex("-x") + "\n", {}, ""},
      // Lower-case hex is no hex to tabfetch: what tabfetch would read is
      // shown, with a warning.
      {"decipher lower case", "$A decipher " + lower, 1,
       settings::DecipherValue(lower, settings::kValueKey) + "\n", {},
       "lower-case letters are not hex digits"},
      {"decipher, cut", "$A decipher " + Hex("geheim").substr(0, 10), 1, "\n",
       {}, "not a multiple of 16"},
      // Shown, with a warning.
      {"encipher, too long", "$A encipher " + std::string(97, 'x'), 1,
       Hex(std::string(97, 'x').c_str()) + "\n", {}, "97 characters"},
      {"encipher from a pipe", "printf 'geheim\\n' | $A encipher", 0, hex, {},
       ""},
      {"encipher -", "printf 'geheim' | $A encipher -", 0, hex, {}, ""},
      {"encipher, two lines", "printf 'a\\nb\\n' | $A encipher", 2, "", {},
       "standard input holds more than one line"},
      {"setting, no file", "$A setting NET8 --settings nowhere.ini", 2, "", {},
       "the settings file " + RealDir() +
           "/a/b/nowhere.ini cannot be read: No such file or directory"},
      {"check, clean", "$A check GOOD --db-system MySQL", 0, "",
       {"  ' select name, cnt, note from t where term = 'TERM01' '\n",
        "  02  Count  DEC        4       6  yes\n",
        "  04-30: not set (27 columns without label, type word or width)\n",
        "Record length: 15 bytes", "No warnings."},
       ""},
      // DB_SYSTEM from the settings file comes from the entry-number-0
      // record.
      {"check, every pitfall", "$A check PITFALLS", 1, "",
       {"Record length: 100 bytes",
        "DB_SYSTEM comes from the settings record at lines 3-4",
        "key \"SQL003\" is never read: the statement ends at SQL002, which "
        "is empty",
        "the statement holds no $parm01",
        "column 01: type word \"char\" is not upper case",
        "column 02: width \"1000\" is read as its first three characters "
        "\"100\": width 100",
        "column 03: FTYP03/FLEN03 are set, but FELD03 is missing or empty",
        "column 04: negative width -2"},
       ""},
      {"check, names that widen the statement", "$A check WIDEN", 1, "",
       {"Warnings (3):\n",
        "  $parm01 stands outside quotes where a value is compared "
        "(\"MENGE = $parm01\")",
        "  $parm01 stands in a LIKE pattern (\"name like '$parm01%'\")"},
       ""},
      {"check, a name built from $parm01", "$A check NAMED", 1, "",
       {"  $parm01 stands inside a name (\"T_$parm01\"): the terminal name "
        "picks the table"},
       ""},
      {"check, no statement", "$A check NOSQL", 2, "", {}, "has no statement"},
      {"check, no section", "$A check MISSING", 2, "", {},
       "there is no section [MISSING]"},
      {"check, no definition file", "$A check GOOD --db-system ORACLE", 2, "",
       {},
       "the query definition file " + RealDir() +
           "/a/b/TABFETCH.ORACLE.INI cannot be read: No such file or "
           "directory (DB_SYSTEM \"ORACLE\")"},
      {"view --csv in UTF-8", "$A view latin1.txt GOOD --csv --db-system MySQL",
       0, "Name,Count,Note\r\nK\xC3\xA4se  ,0017, ab  \r\n", {}, ""},
      {"view --csv --latin1",
       "$A view latin1.txt GOOD --csv --latin1 --db-system MySQL", 0,
       "Name,Count,Note\r\nK\xE4se  ,0017, ab  \r\n", {}, ""},
      {"view a directory", "$A view adir GOOD", 2, "", {},
       "the extract file " + RealDir() +
           "/a/b/adir cannot be read: Is a directory"},
      {"view a missing file", "$A view missing.txt GOOD", 2, "", {},
       "the extract file " + RealDir() +
           "/a/b/missing.txt cannot be read: No such file or directory"},
      {"view, section without statement", "$A view latin1.txt NOSQL", 2, "",
       {}, "has no statement"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const testsupport::ToolResult r =
        testsupport::RunTool("/bin/sh", cwd_, {"-c", c.shell},
                             {std::string("A=") + TABFETCH_ADMIN});
    EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
    if (c.out_parts.empty()) {
      EXPECT_EQ(r.out, c.out);
    }
    std::size_t at = 0;
    for (const std::string& part : c.out_parts) {
      at = r.out.find(part, at);
      EXPECT_NE(at, std::string::npos) << part << "\n" << r.out;
    }
    if (c.err_part.empty()) {
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_NE(r.err.find(c.err_part), std::string::npos) << r.err;
    }
  }
}

}  // namespace
