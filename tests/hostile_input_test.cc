// Hostile input for the real tabfetch binary: over-long lines, NUL and Ctrl-Z
// bytes in both configuration files, a thousand statement lines, the widest
// and the widest-plus-five rows, megabyte values, terminal names made of
// quotes, backslashes and the placeholder itself, and very long extract
// paths. Each case pins the exact outcome: exit code, output and file.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "testsupport/fault_support.h"
#include "testsupport/legacy_texts.h"
#include "testsupport/throwaway_mariadb.h"

namespace {

namespace fs = std::filesystem;
using testsupport::SettingsRecord;
using testsupport::Summary;
using testsupport::ToolResult;
using testsupport::Workspace;

std::string TableName() { return testsupport::TestTable("ho"); }

std::string Lines(const std::vector<std::string>& lines) {
  std::string s;
  for (const std::string& l : lines) s += l + "\n";
  return s;
}

// The rows of every test's table, and their records under the layout K CHAR
// 8, V TXT 12.
const std::string kRecords =
    "A1      "
    "  erste     "
    "B2      "
    "zweite      "
    "C3      "
    "dritte      ";

using testsupport::kBanner;
using testsupport::kUsage;

class HostileInputTest : public testsupport::WorkspaceTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    if (HasFatalFailure()) return;
    const std::string t = "PALVDATA." + TableName();
    Sql("CREATE OR REPLACE TABLE " + t +
        " (K VARBINARY(40), V VARBINARY(40), TERMINAL VARBINARY(80));"
        " INSERT INTO " + t +
        " VALUES ('C3', 'dritte', 'KASSE'), ('A1', '  erste', 'KASSE'),"
        " ('B2', 'zweite', 'KASSE')");
    WriteServerFiles(PlainDefinition());
  }

  static std::string PlainDefinition() {
    return testsupport::Section("UMSATZ", {"SELECT K, V FROM " + TableName()},
                                {{"K", "CHAR", 8}, {"V", "TXT", 12}});
  }

  // Runs UMSATZ into out.txt (replacing "OLD") and checks the outcome;
  // standard error must start with `err` (and be empty when it is).
  void ExpectRun(int exit_code, const std::string& out, const std::string& file,
                 const std::vector<std::string>& args = {"UMSATZ", "KASSE",
                                                         "out.txt", "1"},
                 const std::string& err = "") {
    ws_.WriteFile("out.txt", "OLD");
    ToolResult r = ws_.Run(args);
    EXPECT_EQ(r.exit_code, exit_code);
    EXPECT_EQ(r.out, out);
    if (err.empty()) {
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_EQ(r.err.substr(0, err.size()), err) << r.err;
    }
    EXPECT_EQ(ws_.ReadFile("out.txt"), file);
  }

  // The standard-error line of a run whose password is refused.
  static constexpr char kDenied[] =
      "tabfetch: cannot connect to the database on host \"localhost\": error "
      "1045: Access denied for user";
};

// Ten-thousand-character lines, NUL and Ctrl-Z bytes in the query
// definition file and in the settings file.
TEST_F(HostileInputTest, HostileConfigurationFiles) {
  using std::string_literals::operator""s;
  const std::string select = "SQL001=SELECT K, V FROM " + TableName();
  const std::string rest =
      "FELD01=K\nFTYP01=CHAR\nFLEN01=8\nFELD02=V\nFTYP02=TXT\nFLEN02=12\n";
  const std::string only_v =
      "  erste     "
      "dritte      "
      "zweite      ";
  const std::string definition_file =
      std::filesystem::canonical(ws_.At("TABFETCH.MARIADB.INI")).string();
  const std::string no_section =
      "tabfetch: query definition file " + definition_file +
      " has no section [UMSATZ]";
  const std::string net8 = SettingsRecord("Rechner", 1, "NET8", "localhost");
  const std::string login =
      SettingsRecord("Benutzer", 2, "LOGIN", server().user);
  const std::string pass =
      SettingsRecord("Kennwort", 3, "PASS", server().password);
  const std::string system =
      SettingsRecord("System", 4, "DB_SYSTEM", "MARIADB");
  const std::string settings = net8 + login + pass + system;
  std::string pass_with_nul = pass;
  pass_with_nul.insert(pass_with_nul.size() - 1, "\0"s);
  const std::string settings_file =
      std::filesystem::canonical(ws_.root()).string() + "/Files/Palventra.Ini";
  struct Case {
    const char* what;
    std::string definition;
    std::string settings;
    int exit_code;
    std::string out;
    std::string file;
    std::string err = "";  // how standard error begins
  };
  const std::string x(10000, 'x');
  const Case kCases[] = {
      // The query definition file.
      {"10,000-character lines",
       Lines({
           x,  // before the first header: never read
           "[" + std::string(10000, 'S') + "]", "SQL001=SELEKT " + x,
           "[UMSATZ]", ";" + x,
           // Cut to 199 characters, inside the trailing comment.
           select + " -- " + x, std::string(10000, 'K') + "=" + x,
           "FELD01=" + x,  // cut to 99 characters: still a label
           "FTYP01=CHAR" + std::string(10000, ' '),
           "FLEN01=" + std::string(10000, ' ') + "8", "FELD02=V", "FTYP02=TXT",
           "FLEN02=012" + std::string(9997, '9'),  // only "012" counts
       }),
       settings, 0, Summary(3, "out.txt"), kRecords},
      {"NUL ends a value", "[UMSATZ]\n" + select + "\0 GARBAGE\n"s + rest,
       settings, 0, Summary(3, "out.txt"), kRecords},
      {"Ctrl-Z line at the end", PlainDefinition() + "\x1A", settings, 0,
       Summary(3, "out.txt"), kRecords},
      {"Ctrl-Z behind values",
       "[UMSATZ]\n" + select +
           "\nFELD01=K\nFTYP01=CHAR\x1A\nFLEN01=8\x1A\n"
           "FELD02=V\nFTYP02=TXT\nFLEN02=12\n",
       settings, 0, Summary(3, "out.txt"), kRecords},
      {"NUL label switches the column off",
       "[UMSATZ]\n" + select + "\nFELD01=\0K\n"s + rest.substr(8), settings, 0,
       Summary(3, "out.txt"), only_v},
      {"Ctrl-Z before the header", "\x1A" + PlainDefinition(), settings, 3, "",
       "OLD", no_section},
      {"NUL in the header", "[UMS\0ATZ]\n"s + select + "\n" + rest, settings,
       3, "", "OLD", no_section},
      {"NUL before the statement",
       "[UMSATZ]\nSQL001=\0"s + select + "\n" + rest, settings, 3, "", "OLD",
       "tabfetch: section [UMSATZ] of query definition file " +
           definition_file + " has an empty SQL001"},
      // The settings file, read in pieces of 199 and 399 characters: a long
      // line is 34 pieces, so the records after it still pair up.
      {"settings: long line before the records", PlainDefinition(),
       x + "\n" + settings, 0, Summary(3, "out.txt"), kRecords},
      {"settings: long line after the records", PlainDefinition(),
       settings + x + "\n", 0, Summary(3, "out.txt"), kRecords},
      // An entry line cut at 399 characters has no value: no password.
      {"settings: 10,000 characters of password text", PlainDefinition(),
       net8 + login + "[DB];Kennwort;\n3;PASS;" + std::string(10000, 'A') +
           "\n" + system,
       0, "dbConnect_Status: 1045\n", "OLD", kDenied},
      // Ctrl-Z ends the input, whatever follows it.
      {"settings: Ctrl-Z after the records", PlainDefinition(),
       settings + "\x1A" + SettingsRecord("X", 0, "PASS", "x"), 0,
       Summary(3, "out.txt"), kRecords},
      {"settings: Ctrl-Z before the password", PlainDefinition(),
       net8 + login + "\x1A" + pass + system, 0, "dbConnect_Status: 1045\n",
       "OLD",
       "tabfetch: settings file " + settings_file + ": no record matches PASS"},
      // The line's text ends at the NUL, before its line end: no value.
      {"settings: NUL behind the password text", PlainDefinition(),
       net8 + login + pass_with_nul + system, 0, "dbConnect_Status: 1045\n",
       "OLD", kDenied},
      // A heading line that is empty up to its NUL has the empty heading
      // name, which every lookup asks for: the password's record answers
      // the DB_SYSTEM lookup, and no query definition file has that name.
      {"settings: NUL at the start of a heading line", PlainDefinition(),
       net8 + login + "\0"s + pass + system, 3, "", "OLD",
       "tabfetch: cannot read query definition file "},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    ws_.WriteQueryDefinition("MARIADB", c.definition);
    ws_.WriteSettingsText(c.settings);
    ExpectRun(c.exit_code, c.out, c.file, {"UMSATZ", "KASSE", "out.txt", "1"},
              c.err);
  }
}

// The largest shapes a query definition and a result take: a thousand
// statement lines, thirty columns of width 999, rows of thirty-five columns,
// megabyte values.
TEST_F(HostileInputTest, LargestShapes) {
  using testsupport::Column;
  using testsupport::Section;
  const std::string from = "FROM " + TableName();
  const std::vector<Column> kv = {{"K", "CHAR", 8}, {"V", "TXT", 12}};

  std::vector<std::string> thousand = {"SELECT K, V " + from, "WHERE 1 = 1"};
  std::string statement = " SELECT K, V " + from + " WHERE 1 = 1";
  for (int n = 3; n <= 1000; ++n) {
    thousand.push_back("AND K <> 'Z" + std::to_string(n) + "'");
    statement += " " + thousand.back();
  }

  // Columns 1..30 read K, V, then the numbers 3..30; the types go round
  // CHAR, DEC, TXT.
  const char* kTypes[] = {"CHAR", "DEC", "TXT"};
  std::string select30 = "SELECT K, V";
  std::vector<Column> wide;
  for (int n = 1; n <= 30; ++n) {
    if (n >= 3) select30 += ", " + std::to_string(n);
    wide.push_back({"F" + std::to_string(n), kTypes[(n - 1) % 3], 999});
  }
  auto field = [&kTypes](const std::string& value, int column) {
    if ((column - 1) % 3 == 1) {
      return std::string(999 - value.size(), '0') + value;
    }
    return value + std::string(999 - value.size(), ' ');
  };
  std::string tail30;  // columns 3..30, the same in every row
  for (int n = 3; n <= 30; ++n) tail30 += field(std::to_string(n), n);

  // Result columns and column definitions beyond the 30th are not used.
  // Statement lines hold 199 characters: one line for every ten columns.
  std::vector<std::string> select35 = {"SELECT K"};
  std::vector<Column> narrow;
  std::string tail35;
  for (int n = 1; n <= 35; ++n) {
    narrow.push_back({"F" + std::to_string(n), "CHAR", 3});
    if (n == 1) continue;
    if (n % 10 == 2) select35.emplace_back();
    select35.back() += ", 'c" + std::to_string(n) + "'";
    const std::string v = "c" + std::to_string(n);
    if (n <= 30) tail35 += v + std::string(3 - v.size(), ' ');
  }
  select35.push_back(from);

  // Three rows of three 1 MiB values: a too long value keeps its end.
  std::string megabytes;
  for (const char* seq : {"1", "2", "3"}) {
    megabytes +=
        std::string("aaa") + seq + "Z" + std::string(999, '0') + seq + "   ";
  }

  struct Case {
    const char* name;
    std::string definition;
    std::string out;
    std::string file;
    std::vector<std::string> args = {"UMSATZ", "KASSE", "out.txt", "1"};
  };
  const Case kCases[] = {
      {"a thousand statement lines", Section("UMSATZ", thousand, kv),
       testsupport::DebugTrace(statement + " ") +
           "Str WriteFile\nEnd WriteFile\n" + Summary(3, "out.txt"),
       kRecords, {"UMSATZ", "KASSE", "out.txt", "1", "/D"}},
      // Column 1 is CHAR (trimmed), column 2 DEC (trimmed, zero-filled).
      {"thirty columns of width 999",
       Section("UMSATZ", {select30 + " " + from}, wide), Summary(3, "out.txt"),
       field("A1", 1) + field("erste", 2) + tail30 + field("B2", 1) +
           field("zweite", 2) + tail30 + field("C3", 1) + field("dritte", 2) +
           tail30},
      {"rows of thirty-five columns", Section("UMSATZ", select35, narrow),
       Summary(3, "out.txt"), "A1 " + tail35 + "B2 " + tail35 + "C3 " + tail35},
      {"megabyte values",
       Section("UMSATZ",
               {"SELECT CONCAT(REPEAT('a', 1048570), seq, 'Z'),",
                "CONCAT('1', REPEAT('0', 1048575)),",
                "CONCAT(REPEAT(' ', 1048575), seq) FROM seq_1_to_3"},
               {{"A", "TXT", 5}, {"B", "DEC", 999}, {"C", "CHAR", 4}}),
       Summary(3, "out.txt"), megabytes},
  };
  ASSERT_EQ(kCases[1].file.size(), 3u * 30 * 999);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    ws_.WriteQueryDefinition("MARIADB", c.definition);
    ExpectRun(0, c.out, c.file, c.args);
  }
}

TEST_F(HostileInputTest, TerminalNamesWithQuotesBackslashesAndPlaceholder) {
  const std::string t = "PALVDATA." + TableName();
  const std::vector<std::string> kNames = {
      "a'b\"c\\d$parm01", "$parm01$parm01",      "\\",
      "'\\''\\\"\\\\\\'", std::string(31, '\''),
  };
  for (const std::string& name : kNames) {
    std::string literal;
    for (char c : name) {
      if (c == '\'' || c == '\\') literal += '\\';
      literal += c;
    }
    Sql("INSERT INTO " + t + " VALUES ('T', '" + literal + "', '" + literal +
        "')");
  }
  const std::string select = "SELECT K, V FROM " + TableName();
  const testsupport::Column k = {"K", "CHAR", 2};
  ws_.WriteQueryDefinition(
      "MARIADB",
      testsupport::Section("UMSATZ", {select + " WHERE TERMINAL = '$parm01'"},
                           {k, {"V", "TXT", 31}}) +
          testsupport::Section("UNGEQUOTET",
                               {select + " WHERE TERMINAL = $parm01"}, {k}) +
          testsupport::Section("DOPPELT",
                               {select + " WHERE TERMINAL = \"$parm01\""},
                               {k}));

  // Inside quotes each name finds exactly its own row.
  for (const std::string& name : kNames) {
    SCOPED_TRACE(name);
    ExpectRun(0, Summary(1, "out.txt"),
              "T " + name + std::string(31 - name.size(), ' '),
              {"UMSATZ", name, "out.txt", "1"});
  }
  // Injection attempts find nothing.
  for (const char* name : {"' OR ''='", "\\' OR 1=1 -- ", "'; DELETE FROM x"}) {
    SCOPED_TRACE(name);
    ExpectRun(0, Summary(0, "out.txt"), "OLD",
              {"UMSATZ", name, "out.txt", "1"});
  }
  ExpectRun(0, Summary(3, "out.txt"),
            "A1  erste" + std::string(24, ' ') + "B2zweite" +
                std::string(25, ' ') + "C3dritte" + std::string(25, ' '));

  // Outside quotes only plain names may stand, and standard error says
  // which placeholder and why.
  const std::string refused = "Terminalname im SQL-Statement nicht zulaessig\n";
  const std::string unquoted =
      " SELECT K, V FROM " + TableName() + " WHERE TERMINAL = $parm01 ";
  const std::string why =
      "tabfetch: terminal name refused at $parm01 no. 1 (byte " +
      std::to_string(unquoted.find("$parm01")) +
      " of the statement): not a plain name (ASCII letters, digits, _) where "
      "it would be code, an identifier or a comment\n";
  ExpectRun(1, refused, "OLD", {"UNGEQUOTET", "a'b", "out.txt", "1"}, why);
  ExpectRun(1, refused, "OLD", {"UNGEQUOTET", "a\\b", "out.txt", "1"}, why);
  // The session has no ANSI_QUOTES: "..." is a literal, escaped like '...'.
  ExpectRun(0, Summary(1, "out.txt"), "T ",
            {"DOPPELT", kNames[0], "out.txt", "1"});

  // 32 characters are refused before anything else happens.
  ExpectRun(1,
            std::string(kBanner) +
                "Terminalname zu lang, erlaubt: max. 31 Zeichen\n\n" + kUsage,
            "OLD", {"UMSATZ", std::string(32, '\''), "out.txt", "1"});
}

// (One name of 4000 characters: fault_matrix_test's unopenable targets.)
TEST_F(HostileInputTest, ExtractPathOf4000Characters) {
  // 19 directories of 200 characters, then a file name: 4000 characters.
  std::string path;
  for (int i = 0; i < 19; ++i) path += std::string(199, 'a' + i) + "/";
  fs::create_directories(ws_.At(path));
  path += std::string(4000 - path.size(), 'z');
  ASSERT_EQ(path.size(), 4000u);
  const std::string dir = ws_.At(path.substr(0, path.rfind('/')));

  for (const char* flag : {"1", "0"}) {
    SCOPED_TRACE(std::string("flag ") + flag);
    ExpectRun(0, Summary(3, path), "OLD", {"UMSATZ", "KASSE", path, flag});
    EXPECT_EQ(testsupport::ReadFileBytes(ws_.At(path)), kRecords);
    EXPECT_EQ(testsupport::ListDirectory(dir),
              std::vector<std::string>{path.substr(path.rfind('/') + 1)});
    fs::remove(ws_.At(path));
  }

}

}  // namespace
