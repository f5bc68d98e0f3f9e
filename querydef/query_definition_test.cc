// Tests of loading a query definition from TABFETCH.<DB_SYSTEM>.INI.
#include "querydef/query_definition.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>

#include "testsupport/temp_dir.h"

namespace querydef {
namespace {

namespace fs = std::filesystem;

// A column definition as "label|type|width".
std::string Text(const ColumnDefinition& c) {
  return c.label + "|" + c.type + "|" + std::to_string(c.width);
}

// Runs the test inside a fresh temporary directory and returns to the old
// working directory afterwards.
class QueryDefinitionTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::current_path(dir_.path()); }
  void TearDown() override { fs::current_path(old_dir_); }

  // GetIniValues with a plain terminal name, its trace kept in `trace_`.
  int Load(std::string_view section, std::string_view db_system,
           std::string_view terminal, bool debug, QueryDefinition& def) {
    char* data = nullptr;
    size_t size = 0;
    std::FILE* out = ::open_memstream(&data, &size);
    TerminalName name{terminal, std::string(terminal),
                      DescribeSession("latin1", "latin1", "", 0, false)};
    int status = GetIniValues(section, db_system, name, debug, out, def);
    std::fclose(out);
    trace_.assign(data, size);
    std::free(data);
    return status;
  }

  testsupport::TempDir dir_;
  const fs::path old_dir_ = fs::current_path();
  std::string trace_;
};

TEST_F(QueryDefinitionTest, StatementBuilding) {
  struct Case {
    const char* what;
    std::string ini;
    int want_status;
    std::string want_statement;
    std::string db = "DB";  // DB_SYSTEM, naming the file
  };
  // 60 lines of 150 characters: no cut of the whole statement.
  std::string long_ini = "[Q]\n", long_want;
  // SQL1000 and SQL1001 follow SQL999.
  std::string ini_1000 = "[Q]\n", want_1000;
  for (int i = 1; i <= 999; ++i) {
    char key[16];
    std::snprintf(key, sizeof key, "SQL%03d=", i);
    if (i <= 60) {
      const std::string value(150, static_cast<char>('a' + i % 26));
      long_ini += key + value + "\n";
      long_want += " " + value;
    }
    ini_1000 += key + std::to_string(i % 10) + "\n";
    want_1000 += " " + std::to_string(i % 10);
  }
  const Case kCases[] = {
      {"two lines", "[Q]\nSQL001=A\nSQL002=B\n", kOk, " A B "},
      {"one line", "[Q]\nSQL001=select 1\n", kOk, " select 1 "},
      {"gap ends the statement", "[Q]\nSQL001=A\nSQL002=\nSQL003=C\n", kOk,
       " A "},
      {"missing key ends it", "[Q]\nSQL001=A\nSQL003=C\n", kOk, " A "},
      {"lines joined unchanged", "[Q]\nSQL001=a  ,\nSQL002=  'x' \n", kOk,
       " a  , x "},
      {"order of keys in file", "[Q]\nSQL002=B\nSQL001=A\n", kOk, " A B "},
      {"two-digit key is not SQL001", "[Q]\nSQL01=A\n", kNoStatement, " "},
      {"missing SQL001", "[Q]\nSQL002=B\n", kNoStatement, " "},
      {"empty SQL001", "[Q]\nSQL001=\nSQL002=B\n", kNoStatement, " "},
      {"quoted empty SQL001", "[Q]\nSQL001=\"\"\n", kNoStatement, " "},
      {"missing section", "[R]\nSQL001=A\n", kNoStatement, " "},
      {"section case-insensitive", "[q]\nsql001=A\n", kOk, " A "},
      {"lines cut to 199",
       "[Q]\nSQL001=" + std::string(250, 'x') + "\nSQL002=y\n", kOk,
       " " + std::string(199, 'x') + " y "},
      {"long statement not cut", long_ini, kOk, long_want + " "},
      {"SQL1000 follows SQL999", ini_1000 + "SQL1000=end\nSQL1001=more\n", kOk,
       want_1000 + " end more "},
      {"DB_SYSTEM of 60 characters", "[Q]\nSQL001=long\n", kOk, " long ",
       std::string(60, 'D')},
      {"empty DB_SYSTEM", "[Q]\nSQL001=empty\n", kOk, " empty ", ""},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    dir_.Write("TABFETCH." + c.db + ".INI", c.ini);
    QueryDefinition def;
    def.statement = "old";
    EXPECT_EQ(Load("Q", c.db, "T1", false, def), c.want_status);
    EXPECT_EQ(def.statement, c.want_statement);
    EXPECT_EQ(trace_, "");
  }
}

// The trace with the debug switch: the statement as read, before the
// terminal name goes in; a refused name ends it without the end line.
TEST_F(QueryDefinitionTest, TraceWithDebug) {
  struct Case {
    const char* what;
    const char* ini;  // nullptr: no file
    const char* terminal;
    bool debug;
    int want_status;
    const char* want_statement;
    const char* want_trace;
  };
  const char* const kIni =
      "[Q]\nSQL001=select * from t\nSQL002=where x='$parm01'\n";
  const Case kCases[] = {
      {"with debug", kIni, "T1", true, kOk, " select * from t where x='T1' ",
       "Str GetIniValues\n"
       "  >>>>> SQL-Statement <<<<<\n"
       "  ' select * from t where x='$parm01' '\n"
       "End GetIniValues\n"},
      {"without debug", kIni, "T1", false, kOk,
       " select * from t where x='T1' ", ""},
      {"missing file", nullptr, "T1", true, kNoStatement, " ",
       "Str GetIniValues\n"},
      {"refused terminal name", "[Q]\nSQL001=select $parm01\n", "a b", true,
       kTerminalRefused, " select $parm01 ",
       "Str GetIniValues\n"
       "  >>>>> SQL-Statement <<<<<\n"
       "  ' select $parm01 '\n"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    if (c.ini != nullptr) dir_.Write("TABFETCH.DB.INI", c.ini);
    QueryDefinition def;
    EXPECT_EQ(Load("Q", c.ini != nullptr ? "DB" : "NONE", c.terminal, c.debug,
                   def),
              c.want_status);
    EXPECT_EQ(def.statement, c.want_statement);
    EXPECT_EQ(trace_, c.want_trace);
  }
}

TEST_F(QueryDefinitionTest, ColumnDefinitions) {
  dir_.Write("TABFETCH.DB.INI",
             "[Q]\nSQL001=select a\n"
             "FELD01=Nummer\nFTYP01=DEC\nFLEN01=5\n"
             "FELD02=Name\nFTYP02=CHARACTER\nFLEN02=1000\n"
             "FTYP03=TXT\nFLEN03= -7x\n"
             "FELD04=" +
                 std::string(120, 'L') +
                 "\nFLEN04=abc\n"
                 "FELD30=Last\nFTYP30=CHAR\nFLEN30=+12\n");
  QueryDefinition def;
  ASSERT_EQ(Load("Q", "DB", "", false, def), kOk);
  // FTYP is cut to 4 characters, FLEN to 3 ("1000" gives 100).
  const std::pair<std::size_t, std::string> kWant[] = {
      {0, "Nummer|DEC|5"}, {1, "Name|CHAR|100"},  {2, "|TXT|-7"},
      {3, std::string(99, 'L') + "||0"}, {4, "||0"}, {29, "Last|CHAR|12"}};
  for (const auto& [k, want] : kWant) {
    EXPECT_EQ(Text(def.columns[k]), want) << "column " << k + 1;
  }
}

TEST_F(QueryDefinitionTest, NoStatementLeavesColumnsAsTheyWere) {
  dir_.Write("TABFETCH.DB.INI", "[Q]\nFELD01=Nummer\nFLEN01=5\n");
  QueryDefinition def;
  def.columns[0] = ColumnDefinition{"old", "DEC", 9};
  ASSERT_EQ(Load("Q", "DB", "", false, def), kNoStatement);
  EXPECT_EQ(Text(def.columns[0]), "old|DEC|9");
}

TEST_F(QueryDefinitionTest, CountsThePlaceholders) {
  struct Case {
    const char* sql;
    const char* terminal;
    int status;
    size_t count;
  };
  const Case kCases[] = {
      // The inserted text is never searched again.
      {"select '$parm01', '$parm01'", "$parm01", kOk, 2},
      {"select '$PARM01'", "T1", kOk, 0},
      {"select $parm01, $parm01", "a b", kTerminalRefused, 2},
  };
  for (const Case& c : kCases) {
    dir_.Write("TABFETCH.DB.INI", std::string("[Q]\nSQL001=") + c.sql + "\n");
    QueryDefinition def;
    def.placeholder_count = 9;
    EXPECT_EQ(Load("Q", "DB", c.terminal, false, def), c.status) << c.sql;
    EXPECT_EQ(def.placeholder_count, c.count) << c.sql;
  }
}

TEST_F(QueryDefinitionTest, FileNameResolution) {
  dir_.Write("tabfetch.mydb.ini", "[Q]\nSQL001=lower\n");
  QueryDefinition def;
  ASSERT_EQ(Load("Q", "MYDB", "", false, def), kOk);
  EXPECT_EQ(def.statement, " lower ");
  EXPECT_EQ(QueryDefinitionFileName("MYDB"), "tabfetch.mydb.ini");

  // Exact case wins over other spellings; among those, byte order decides.
  dir_.Write("TABFETCH.MyDb.INI", "[Q]\nSQL001=mixed\n");
  ASSERT_EQ(Load("Q", "MYDB", "", false, def), kOk);
  EXPECT_EQ(def.statement, " mixed ");
  dir_.Write("TABFETCH.MYDB.INI", "[Q]\nSQL001=exact\n");
  ASSERT_EQ(Load("Q", "MYDB", "", false, def), kOk);
  EXPECT_EQ(def.statement, " exact ");
}

}  // namespace
}  // namespace querydef
