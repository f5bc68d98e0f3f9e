// Tests of loading a query definition from TABFETCH.<DB_SYSTEM>.INI.
#include "querydef/query_definition.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "testsupport/temp_dir.h"

namespace querydef {
namespace {

// Runs the test inside a fresh temporary directory and returns to the old
// working directory afterwards.
class QueryDefinitionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<char> buf(4096);
    ASSERT_NE(::getcwd(buf.data(), buf.size()), nullptr);
    old_dir_ = buf.data();
    ASSERT_EQ(::chdir(dir_.path().c_str()), 0);
  }
  void TearDown() override { ASSERT_EQ(::chdir(old_dir_.c_str()), 0); }

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
  std::string old_dir_;
  std::string trace_;
};

struct StatementCase {
  const char* what;
  const char* ini;
  int want_status;
  const char* want_statement;
};

TEST_F(QueryDefinitionTest, StatementBuilding) {
  const StatementCase kCases[] = {
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
  };
  for (const StatementCase& c : kCases) {
    dir_.Write("TABFETCH.DB.INI", c.ini);
    QueryDefinition def;
    def.statement = "old";
    EXPECT_EQ(Load("Q", "DB", "T1", false, def), c.want_status) << c.what;
    EXPECT_EQ(def.statement, c.want_statement) << c.what;
    EXPECT_EQ(trace_, "") << c.what;
  }
}

TEST_F(QueryDefinitionTest, MissingFileGivesNoStatement) {
  QueryDefinition def;
  EXPECT_EQ(Load("Q", "NONE", "T1", true, def), kNoStatement);
  EXPECT_EQ(def.statement, " ");
  EXPECT_EQ(trace_, "Str GetIniValues\n");
}

TEST_F(QueryDefinitionTest, SqlLinesCutTo199) {
  std::string line(250, 'x');
  dir_.Write("TABFETCH.DB.INI", "[Q]\nSQL001=" + line + "\nSQL002=y\n");
  QueryDefinition def;
  ASSERT_EQ(Load("Q", "DB", "", false, def), kOk);
  EXPECT_EQ(def.statement, " " + std::string(199, 'x') + " y ");
}

TEST_F(QueryDefinitionTest, LongStatementIsNotCut) {
  std::string ini = "[Q]\n";
  std::string want;
  for (int i = 1; i <= 60; ++i) {
    char key[16];
    std::snprintf(key, sizeof key, "SQL%03d=", i);
    std::string value(150, static_cast<char>('a' + i % 26));
    ini += key + value + "\n";
    want += " " + value;
  }
  want += " ";
  dir_.Write("TABFETCH.DB.INI", ini);
  QueryDefinition def;
  ASSERT_EQ(Load("Q", "DB", "", false, def), kOk);
  EXPECT_GT(def.statement.size(), 5049u);
  EXPECT_EQ(def.statement, want);
}

TEST_F(QueryDefinitionTest, Sql1000FollowsSql999) {
  std::string ini = "[Q]\n";
  for (int i = 1; i <= 999; ++i) {
    char line[32];
    std::snprintf(line, sizeof line, "SQL%03d=%d\n", i, i % 10);
    ini += line;
  }
  ini += "SQL1000=end\nSQL1001=more\n";
  dir_.Write("TABFETCH.DB.INI", ini);
  QueryDefinition def;
  ASSERT_EQ(Load("Q", "DB", "", false, def), kOk);
  EXPECT_EQ(def.statement.substr(def.statement.size() - 16),
            " 7 8 9 end more ");
  // Each of the 1001 lines adds its value and one space, plus the last one.
  EXPECT_EQ(def.statement.size(), 999u * 2 + 4 + 5 + 1);
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
  const ColumnDefinitions& c = def.columns;
  EXPECT_EQ(c[0].label, "Nummer");
  EXPECT_EQ(c[0].type, "DEC");
  EXPECT_EQ(c[0].width, 5);
  EXPECT_EQ(c[1].type, "CHAR");  // cut to 4
  EXPECT_EQ(c[1].width, 100);    // "1000" loses its last digit
  EXPECT_EQ(c[2].label, "");
  EXPECT_EQ(c[2].type, "TXT");
  EXPECT_EQ(c[2].width, -7);
  EXPECT_EQ(c[3].label, std::string(99, 'L'));
  EXPECT_EQ(c[3].type, "");
  EXPECT_EQ(c[3].width, 0);
  EXPECT_EQ(c[4].label, "");
  EXPECT_EQ(c[4].width, 0);
  EXPECT_EQ(c[29].label, "Last");
  EXPECT_EQ(c[29].type, "CHAR");
  EXPECT_EQ(c[29].width, 12);
}

TEST_F(QueryDefinitionTest, NoStatementLeavesColumnsAsTheyWere) {
  dir_.Write("TABFETCH.DB.INI", "[Q]\nFELD01=Nummer\nFLEN01=5\n");
  QueryDefinition def;
  def.columns[0] = ColumnDefinition{"old", "DEC", 9};
  ASSERT_EQ(Load("Q", "DB", "", false, def), kNoStatement);
  EXPECT_EQ(def.columns[0].label, "old");
  EXPECT_EQ(def.columns[0].type, "DEC");
  EXPECT_EQ(def.columns[0].width, 9);
}

TEST_F(QueryDefinitionTest, TraceWithDebug) {
  dir_.Write("TABFETCH.DB.INI",
             "[Q]\nSQL001=select * from t\nSQL002=where x='$parm01'\n");
  QueryDefinition def;
  ASSERT_EQ(Load("Q", "DB", "T1", true, def), kOk);
  EXPECT_EQ(trace_,
            "Str GetIniValues\n"
            "  >>>>> SQL-Statement <<<<<\n"
            "  ' select * from t where x='$parm01' '\n"
            "End GetIniValues\n");
  EXPECT_EQ(def.statement, " select * from t where x='T1' ");

  ASSERT_EQ(Load("Q", "DB", "T1", false, def), kOk);
  EXPECT_EQ(trace_, "");
  EXPECT_EQ(def.statement, " select * from t where x='T1' ");
}

TEST_F(QueryDefinitionTest, RefusedTerminalEndsWithoutEndLine) {
  dir_.Write("TABFETCH.DB.INI", "[Q]\nSQL001=select $parm01\n");
  QueryDefinition def;
  EXPECT_EQ(Load("Q", "DB", "a b", true, def), kTerminalRefused);
  EXPECT_EQ(trace_,
            "Str GetIniValues\n"
            "  >>>>> SQL-Statement <<<<<\n"
            "  ' select $parm01 '\n");
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

TEST_F(QueryDefinitionTest, DbSystemOfAnyLengthOrEmpty) {
  std::string long_name(60, 'D');
  dir_.Write("TABFETCH." + long_name + ".INI", "[Q]\nSQL001=long\n");
  QueryDefinition def;
  ASSERT_EQ(Load("Q", long_name, "", false, def), kOk);
  EXPECT_EQ(def.statement, " long ");

  dir_.Write("TABFETCH..INI", "[Q]\nSQL001=empty\n");
  ASSERT_EQ(Load("Q", "", "", false, def), kOk);
  EXPECT_EQ(def.statement, " empty ");
}

}  // namespace
}  // namespace querydef
