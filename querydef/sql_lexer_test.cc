// Tests of the byte classification under the sql_mode flags that change it,
// and of reading a session's sql_mode into those flags.
#include "querydef/sql_lexer.h"

#include <gtest/gtest.h>

#include <string>

#include "querydef/sql_session.h"

namespace querydef {
namespace {

// One letter per byte, in the order of LexKind: c code, x executable-comment
// marker, s '...', d "..." literal, a "..." identifier, b `...`, k [...],
// l line comment, m block comment.
std::string Kinds(std::string_view text, const LexMode& mode) {
  static constexpr char kLetters[] = "cxsdabklm";
  std::string out;
  for (const LexClass& c : ClassifySql(text, mode)) {
    out += kLetters[static_cast<int>(c.kind)];
  }
  return out;
}

LexMode Mode(bool backslash, bool ansi, bool brackets) {
  LexMode m;
  m.backslash_escapes = backslash;
  m.ansi_quotes = ansi;
  m.mssql_brackets = brackets;
  m.server_version = 101119;
  return m;
}

TEST(SqlLexerTest, ModesThatChangeTheReading) {
  struct Case {
    const char* what;
    const char* text;
    LexMode mode;
    const char* want;
  };
  const LexMode kDefault = Mode(true, false, false);
  const LexMode kNoBackslash = Mode(false, false, false);
  const LexMode kAnsi = Mode(true, true, false);
  const LexMode kMssql = Mode(true, true, true);
  const Case kCases[] = {
      {"backslash escapes a quote", "'a\\'b' x", kDefault, "sssssscc"},
      {"NO_BACKSLASH_ESCAPES: backslash ordinary", "'a\\'b' x", kNoBackslash,
       "sssscsss"},
      {"double quotes are a literal", "\"a\\\"b\" x", kDefault, "ddddddcc"},
      {"ANSI_QUOTES: an identifier, backslash ordinary", "\"a\\\"b\" x", kAnsi,
       "aaaacaaa"},
      {"ANSI_QUOTES: doubled quote", "\"a\"\"b\" 'c'", kAnsi, "aaaaaacsss"},
      {"brackets are code without MSSQL", "[a's] x", kAnsi, "ccsssss"},
      {"MSSQL: quote inside brackets", "[a's] 'x'", kMssql, "kkkkkcsss"},
      {"MSSQL: ]] inside brackets", "[a]]b] #", kMssql, "kkkkkkcl"},
      {"MSSQL: backslash ordinary in brackets", "[a\\]x'", kMssql, "kkkkcs"},
      {"MSSQL: comment starts inside brackets", "[# -- /*] 1", kMssql,
       "kkkkkkkkkcc"},
      {"MSSQL: bracket inside a literal", "'[' [b]", kMssql, "sssckkk"},
      {"MSSQL: unterminated bracket runs to the end", "[a 'b", kMssql, "kkkkk"},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(Kinds(c.text, c.mode), c.want) << c.what;
  }
}

TEST(SqlSessionTest, DescribesTheFlagsThatChangeTheReading) {
  struct Case {
    const char* what;
    const char* client;
    const char* connection;
    const char* sql_mode;
    bool mysql;
    bool latin1, ansi, backslash, brackets;
    const char* unmodelled;
  };
  const Case kCases[] = {
      {"server default", "latin1", "latin1",
       "STRICT_TRANS_TABLES,ERROR_FOR_DIVISION_BY_ZERO,NO_AUTO_CREATE_USER,"
       "NO_ENGINE_SUBSTITUTION",
       false, true, false, true, false, ""},
      // Combined modes as MariaDB 10.11 lists them, with what they imply.
      {"MSSQL", "latin1", "latin1",
       "PIPES_AS_CONCAT,ANSI_QUOTES,IGNORE_SPACE,MSSQL,NO_KEY_OPTIONS,"
       "NO_TABLE_OPTIONS,NO_FIELD_OPTIONS",
       false, true, true, true, true, ""},
      {"ORACLE", "latin1", "latin1",
       "PIPES_AS_CONCAT,ANSI_QUOTES,IGNORE_SPACE,ORACLE,NO_KEY_OPTIONS,"
       "NO_AUTO_CREATE_USER,SIMULTANEOUS_ASSIGNMENT",
       false, true, true, true, false, "ORACLE"},
      {"ANSI, DB2, POSTGRESQL, MAXDB, TRADITIONAL", "latin1", "latin1",
       "REAL_AS_FLOAT,ANSI_QUOTES,ANSI,DB2,POSTGRESQL,MAXDB,STRICT_ALL_TABLES,"
       "NO_ZERO_DATE,TRADITIONAL",
       false, true, true, true, false, ""},
      {"MSSQL on MySQL: no brackets there", "latin1", "latin1",
       "ANSI_QUOTES,MSSQL", true, true, true, true, false, "MSSQL"},
      {"a flag not known", "latin1", "latin1", "FUTURE_FLAG", false, true,
       false, true, false, "FUTURE_FLAG"},
      {"only the connection latin1", "gbk", "latin1", "", false, false, false,
       true, false, ""},
      {"letter case of the names", "LATIN1", "Latin1", "no_backslash_escapes",
       false, true, false, false, false, ""},
  };
  for (const Case& c : kCases) {
    const SqlSession s =
        DescribeSession(c.client, c.connection, c.sql_mode, 101119, c.mysql);
    EXPECT_TRUE(s.known) << c.what;
    EXPECT_EQ(s.latin1, c.latin1) << c.what;
    EXPECT_EQ(s.ansi_quotes, c.ansi) << c.what;
    EXPECT_EQ(s.backslash_escapes, c.backslash) << c.what;
    EXPECT_EQ(s.mssql_brackets, c.brackets) << c.what;
    EXPECT_EQ(s.unmodelled_flag, c.unmodelled) << c.what;
  }
}

}  // namespace
}  // namespace querydef
