// Tests of putting the terminal name in place of $parm01.
#include <gtest/gtest.h>

#include <string>

#include "querydef/query_definition.h"

namespace querydef {
namespace {

// The sessions the cases run in: latin1 with the sql_mode flags named, or
// one the lexer cannot vouch for; the server unknown unless named.
enum Mode {
  kBackslash,        // the server's default reading
  kNoBackslash,      // NO_BACKSLASH_ESCAPES
  kAnsi,             // ANSI_QUOTES
  kAnsiNoBackslash,  // ANSI_QUOTES,NO_BACKSLASH_ESCAPES
  kMssql,            // MariaDB's MSSQL: ANSI_QUOTES and [...] identifiers
  kUnknown,          // the read-back failed
  kSjis,             // character_set_client and _connection sjis
  kOracle,           // an sql_mode flag the lexer does not model
  kMariaDb,          // kBackslash on MariaDB 10.11.19
  kMySql,            // kBackslash on MySQL 8.0.36
};

SqlSession SessionFor(Mode mode) {
  if (mode == kUnknown) return SqlSession();
  // The sql_mode of each Mode, in the order of the enum.
  static const char* const kSqlModes[] = {
      "STRICT_TRANS_TABLES",
      "NO_BACKSLASH_ESCAPES",
      "ANSI_QUOTES",
      "ANSI_QUOTES,NO_BACKSLASH_ESCAPES",
      "PIPES_AS_CONCAT,ANSI_QUOTES,IGNORE_SPACE,MSSQL",
      "",
      "",
      "PIPES_AS_CONCAT,ANSI_QUOTES,ORACLE",
      "STRICT_TRANS_TABLES",
      "STRICT_TRANS_TABLES",
  };
  const char* charset = mode == kSjis ? "sjis" : "latin1";
  const uint32_t version =
      mode == kMariaDb ? 101119 : mode == kMySql ? 80036 : 0;
  return DescribeSession(charset, charset, kSqlModes[mode], version,
                         mode == kMySql);
}

struct SubstCase {
  const char* what;
  const char* statement;
  const char* plain;
  const char* escaped;
  Mode mode;
  int want_status;
  const char* want;  // the statement afterwards
};

void RunCases(const SubstCase* begin, const SubstCase* end) {
  for (const SubstCase* c = begin; c != end; ++c) {
    std::string statement = c->statement;
    TerminalName name{c->plain, c->escaped, SessionFor(c->mode)};
    EXPECT_EQ(SubstituteTerminal(statement, name), c->want_status) << c->what;
    EXPECT_EQ(statement, c->want) << c->what;
  }
}

// Plain names of letters and digits, as the legacy tool substituted them.
TEST(SubstituteTerminalTest, LegacySubstitution) {
  const SubstCase kCases[] = {
      {"quoted", " select * from t where a='$parm01' ", "T1", "T1", kBackslash,
       kOk, " select * from t where a='T1' "},
      {"unquoted", " select $parm01 from t ", "T1", "T1", kBackslash, kOk,
       " select T1 from t "},
      {"every occurrence", "'$parm01' $parm01 '$parm01'", "T", "T", kBackslash,
       kOk, "'T' T 'T'"},
      {"close together, shorter name", "x$parm01$parm01y", "ab", "ab",
       kBackslash, kOk, "xababy"},
      {"close together, longer name", "x$parm01-$parm01y", "ABCDEFGHIJ",
       "ABCDEFGHIJ", kBackslash, kOk, "xABCDEFGHIJ-ABCDEFGHIJy"},
      {"close together in a literal", "'$parm01,$parm01'", "Terminal_0042",
       "Terminal_0042", kBackslash, kOk, "'Terminal_0042,Terminal_0042'"},
      {"empty name closes up", "a $parm01 b '$parm01'", "", "", kBackslash, kOk,
       "a  b ''"},
      {"other letter case stays", "'$PARM01' $Parm01 $parm1", "T", "T",
       kBackslash, kOk, "'$PARM01' $Parm01 $parm1"},
      {"partial placeholder", "$parm0$parm01", "X", "X", kBackslash, kOk,
       "$parm0X"},
      {"no placeholder", " select 1 ", "a b", "a b", kBackslash, kOk,
       " select 1 "},
      {"name containing the placeholder, in a literal", "'$parm01' '$parm01'",
       "a$parm01", "a$parm01", kBackslash, kOk, "'a$parm01' 'a$parm01'"},
  };
  RunCases(std::begin(kCases), std::end(kCases));
}

TEST(SubstituteTerminalTest, QuotedAndUnquotedPositions) {
  const SubstCase kCases[] = {
      {"escaped form in a literal", "a='$parm01'", "O'Br\\ien\"x",
       "O\\'Br\\\\ien\\\"x", kBackslash, kOk, "a='O\\'Br\\\\ien\\\"x'"},
      {"code refuses a non-plain name", "a=$parm01", "O'B", "O\\'B", kBackslash,
       kTerminalRefused, "a=$parm01"},
      {"code refuses a blank", "a=$parm01", "a b", "a b", kBackslash,
       kTerminalRefused, "a=$parm01"},
      {"one bad position refuses all", "'$parm01' $parm01", "a-b", "a-b",
       kBackslash, kTerminalRefused, "'$parm01' $parm01"},
      {"name containing the placeholder, in code", "$parm01", "a$parm01",
       "a$parm01", kBackslash, kTerminalRefused, "$parm01"},
      {"double-quoted literal", "a=\"$parm01\"", "O'B", "O\\'B", kBackslash,
       kOk, "a=\"O\\'B\""},
      {"double-quoted takes '\"'", "a=\"$parm01\"", "a\"b", "a\\\"b",
       kBackslash, kOk, "a=\"a\\\"b\""},
      {"ANSI_QUOTES identifier refuses '\"'", "a=\"$parm01\"", "a\"b", "a\\\"b",
       kAnsi, kTerminalRefused, "a=\"$parm01\""},
      {"ANSI_QUOTES identifier takes a plain name", "a=\"$parm01\"", "T_1",
       "T_1", kAnsi, kOk, "a=\"T_1\""},
      {"single-quoted takes '\"'", "a='$parm01'", "a\"b", "a\\\"b", kBackslash,
       kOk, "a='a\\\"b'"},
      {"escaped quote inside a literal", "'it\\'s $parm01'", "O'B", "O\\'B",
       kBackslash, kOk, "'it\\'s O\\'B'"},
      {"doubled quote inside a literal", "'it''s $parm01'", "O'B", "O\\'B",
       kBackslash, kOk, "'it''s O\\'B'"},
      {"escaped backslash before it", "'a\\\\$parm01'", "O'B", "O\\'B",
       kBackslash, kOk, "'a\\\\O\\'B'"},
      {"right behind a backslash: strict", "'\\$parm01'", "O'B", "O\\'B",
       kBackslash, kTerminalRefused, "'\\$parm01'"},
      {"right behind a backslash: plain ok", "'\\$parm01'", "T1", "T1",
       kBackslash, kOk, "'\\T1'"},
      {"backtick identifier", "`$parm01`", "T_1", "T_1", kBackslash, kOk,
       "`T_1`"},
      {"backtick refuses non-plain", "`a``$parm01`", "a'b", "a\\'b", kBackslash,
       kTerminalRefused, "`a``$parm01`"},
      {"quote inside backticks", "`it's` '$parm01'", "O'B", "O\\'B", kBackslash,
       kOk, "`it's` 'O\\'B'"},
      {"identifier ends at the escaped-looking double quote",
       "\"a\\\"$parm01\"", "O'B", "O\\'B", kAnsi, kTerminalRefused,
       "\"a\\\"$parm01\""},
      {"escaped text that leaves its literal", "'$parm01'", "x'y", "x'y",
       kBackslash, kTerminalRefused, "'$parm01'"},
  };
  RunCases(std::begin(kCases), std::end(kCases));
}

TEST(SubstituteTerminalTest, Comments) {
  const SubstCase kCases[] = {
      {"quote in a block comment", "/* it's */ '$parm01'", "O'B", "O\\'B",
       kBackslash, kOk, "/* it's */ 'O\\'B'"},
      {"quote in a block comment, code after", "/* it's */ $parm01", "O'B",
       "O\\'B", kBackslash, kTerminalRefused, "/* it's */ $parm01"},
      {"placeholder in a block comment", "/* '$parm01' */ 1", "O'B", "O\\'B",
       kBackslash, kTerminalRefused, "/* '$parm01' */ 1"},
      {"plain name in a block comment", "/* '$parm01' */ 1", "T1", "T1",
       kBackslash, kOk, "/* 'T1' */ 1"},
      {"quote in a dash comment", "-- it's\n'$parm01'", "O'B", "O\\'B",
       kBackslash, kOk, "-- it's\n'O\\'B'"},
      {"placeholder in a dash comment", "1 -- '$parm01'", "O'B", "O\\'B",
       kBackslash, kTerminalRefused, "1 -- '$parm01'"},
      {"dash comment before a TAB", "1 --\t'$parm01'", "O'B", "O\\'B",
       kBackslash, kTerminalRefused, "1 --\t'$parm01'"},
      {"dash comment before no-break space", "1 --\xA0'$parm01'", "O'B",
       "O\\'B", kBackslash, kTerminalRefused, "1 --\xA0'$parm01'"},
      {"--x is no comment", "1 --x '$parm01'", "O'B", "O\\'B", kBackslash, kOk,
       "1 --x 'O\\'B'"},
      {"quote in a hash comment", "# it's\n'$parm01'", "O'B", "O\\'B",
       kBackslash, kOk, "# it's\n'O\\'B'"},
      {"placeholder in a hash comment", "1 # '$parm01'", "O'B", "O\\'B",
       kBackslash, kTerminalRefused, "1 # '$parm01'"},
      {"plain name in a hash comment", "1 # '$parm01'", "T1", "T1", kBackslash,
       kOk, "1 # 'T1'"},
      {"executable comment is code", "/*! '$parm01' */", "O'B", "O\\'B",
       kBackslash, kOk, "/*! 'O\\'B' */"},
      // A MySQL server reads "/*M!" as a comment: unknown server, no quotes.
      {"MariaDB executable comment, server unknown", "/*M! '$parm01' */",
       "O'B", "O\\'B", kBackslash, kTerminalRefused, "/*M! '$parm01' */"},
      {"executable comment, code inside", "/*! $parm01 */", "a b", "a b",
       kBackslash, kTerminalRefused, "/*! $parm01 */"},
      {"versioned comment may be skipped by the server",
       "/*!50100 '$parm01' */", "O'B", "O\\'B", kBackslash, kTerminalRefused,
       "/*!50100 '$parm01' */"},
      {"versioned comment, plain name", "/*!50100 '$parm01' */", "T1", "T1",
       kBackslash, kOk, "/*!50100 'T1' */"},
      {"versioned comment hides a quote", "/*!100000 ' */ '$parm01' ", "O'B",
       "O\\'B", kBackslash, kTerminalRefused, "/*!100000 ' */ '$parm01' "},
      // MariaDB skips it, MySQL runs it: unknown server, no quotes.
      {"MySQL 5.7 numbers, server unknown", "/*!99999 ' */ '$parm01' ", "O'B",
       "O\\'B", kBackslash, kTerminalRefused, "/*!99999 ' */ '$parm01' "},
      {"digits made into a version", "/*!$parm01 1 */", "50100", "50100",
       kBackslash, kTerminalRefused, "/*!$parm01 1 */"},
      {"quote after a closed comment", "/* a */ '$parm01' /* b */", "O'B",
       "O\\'B", kBackslash, kOk, "/* a */ 'O\\'B' /* b */"},
  };
  RunCases(std::begin(kCases), std::end(kCases));
}

TEST(SubstituteTerminalTest, NoBackslashEscapes) {
  const SubstCase kCases[] = {
      {"doubled quote escaping", "a='$parm01'", "O'B\\", "O''B\\", kNoBackslash,
       kOk, "a='O''B\\'"},
      {"backslash ends nothing", "'a\\' $parm01 '", "O'B", "O''B", kNoBackslash,
       kTerminalRefused, "'a\\' $parm01 '"},
      {"backslash ends nothing, plain name", "'a\\' $parm01 'b'", "T1", "T1",
       kNoBackslash, kOk, "'a\\' T1 'b'"},
      {"right behind a backslash is inside", "'\\$parm01'", "O'B", "O''B",
       kNoBackslash, kOk, "'\\O''B'"},
      // The library doubles only ' here; inside "..." that is wrong.
      {"double-quoted literal doubles '\"'", "\"$parm01\"", "a\"b", "",
       kNoBackslash, kOk, "\"a\"\"b\""},
      {"double-quoted literal keeps '", "a=\"$parm01\"", "O'Brien", "",
       kNoBackslash, kOk, "a=\"O'Brien\""},
      {"single-quoted literal keeps '\"'", "a='$parm01'", "a\"b", "",
       kNoBackslash, kOk, "a='a\"b'"},
      {"ANSI_QUOTES: double quotes are an identifier", "\"$parm01\"", "O'B", "",
       kAnsiNoBackslash, kTerminalRefused, "\"$parm01\""},
  };
  RunCases(std::begin(kCases), std::end(kCases));
}

// An empty or plain name must not join what it stands between into a new
// token.
TEST(SubstituteTerminalTest, NameMustNotChangeTheTokens) {
  const SubstCase kCases[] = {
      {"empty name forming '-- '", "1-$parm01- 1", "", "", kBackslash,
       kTerminalRefused, "1-$parm01- 1"},
      {"empty name forming '--1'", "1-$parm01-1", "", "", kBackslash, kOk,
       "1--1"},
      {"empty name forming '--' at the end", "1-$parm01-", "", "", kBackslash,
       kTerminalRefused, "1-$parm01-"},
      {"empty name forming '/*'", "1 /$parm01* 2 */", "", "", kBackslash,
       kTerminalRefused, "1 /$parm01* 2 */"},
      {"empty name doubling a quote", "'a'$parm01'b'", "", "", kBackslash,
       kTerminalRefused, "'a'$parm01'b'"},
      {"empty name ending a comment", "/* *$parm01/ 1 */", "", "", kBackslash,
       kTerminalRefused, "/* *$parm01/ 1 */"},
      {"empty name after a backslash", "'\\$parm01' 1", "", "", kBackslash,
       kTerminalRefused, "'\\$parm01' 1"},
  };
  RunCases(std::begin(kCases), std::end(kCases));
}

// With the server known, its own reading of versioned comments decides.
TEST(SubstituteTerminalTest, KnownServerVersion) {
  const SubstCase kCases[] = {
      {"MariaDB runs /*M!", "/*M! '$parm01' */", "O'B", "O\\'B", kMariaDb,
       kOk, "/*M! 'O\\'B' */"},
      {"MySQL ignores /*M!", "/*M! '$parm01' */", "O'B", "O\\'B", kMySql,
       kTerminalRefused, "/*M! '$parm01' */"},
      {"MariaDB skips MySQL 5.7 numbers", "/*!99999 ' */ '$parm01' ", "O'B",
       "O\\'B", kMariaDb, kOk, "/*!99999 ' */ 'O\\'B' "},
      {"MySQL runs its own numbers", "/*!50700 ' */ '$parm01' ", "O'B",
       "O\\'B", kMySql, kTerminalRefused, "/*!50700 ' */ '$parm01' "},
      {"newer version skipped", "/*!110000 ' */ '$parm01' ", "O'B", "O\\'B",
       kMariaDb, kOk, "/*!110000 ' */ 'O\\'B' "},
      {"older version runs", "/*!100000 ' */ '$parm01' ", "O'B", "O\\'B",
       kMariaDb, kTerminalRefused, "/*!100000 ' */ '$parm01' "},
  };
  RunCases(std::begin(kCases), std::end(kCases));
}

// Many distinct versioned comments with an unknown server would mean one
// reading per version; beyond a few the name is refused instead, at once.
TEST(SubstituteTerminalTest, ManyVersionedCommentsAreRefusedQuickly) {
  std::string statement = " select * from t where a = '$parm01' ";
  for (int v = 0; v < 4000; ++v) {
    statement += "/*!" + std::to_string(10000 + v) + " */";
  }
  const std::string original = statement;
  EXPECT_EQ(SubstituteTerminal(statement,
                               TerminalName{"T1", "T1", SessionFor(kUnknown)}),
            kTerminalRefused);
  EXPECT_EQ(statement, original);
  // Known server: one reading, the name goes in.
  EXPECT_EQ(
      SubstituteTerminal(
          statement, TerminalName{"T1", "T1", SessionFor(kMariaDb)}),
      kOk);
  EXPECT_EQ(statement.substr(0, 32), " select * from t where a = 'T1' ");
}

// Sessions the lexer cannot vouch for take plain names only, and every
// refusal says which placeholder and why.
TEST(SubstituteTerminalTest, RefusalsSayWhereAndWhy) {
  struct Case {
    const char* what;
    const char* statement;
    const char* plain;
    Mode mode;
    RefusalReason reason;  // kNone: accepted
    size_t occurrence;
    size_t offset;
    const char* want;  // the statement afterwards
  };
  const char* const kMssqlStatement =
      "SELECT ARTIKEL AS [Artikel's Name], MENGE FROM BUCHUNG WHERE MENGE > "
      "$parm01 AND TERMINAL = 'KASSE1'";
  // An sjis literal whose last character ends in 0x5C, read as latin1.
  const char* const kSjisStatement = "a = '\x8d\xdd\x95\\' AND b > $parm01";
  const Case kCases[] = {
      {"sjis session, quoted", "a='$parm01'", "O'B", kSjis,
       RefusalReason::kSessionNotLatin1, 1, 3, "a='$parm01'"},
      {"sjis session, plain name", "a='$parm01' $parm01", "T_1", kSjis,
       RefusalReason::kNone, 0, 0, "a='T_1' T_1"},
      {"sjis session, empty name", "a='$parm01'", "", kSjis,
       RefusalReason::kSessionNotLatin1, 1, 3, "a='$parm01'"},
      {"sjis session, the literal ending in 0x5C", kSjisStatement,
       "0 UNION SELECT S,1 FROM SECRET#", kSjis,
       RefusalReason::kSessionNotLatin1, 1, 19, kSjisStatement},
      {"unknown session", "a='$parm01'", "O'B", kUnknown,
       RefusalReason::kSessionUnknown, 1, 3, "a='$parm01'"},
      {"unmodelled sql_mode flag", "a='$parm01'", "O'B", kOracle,
       RefusalReason::kUnmodelledMode, 1, 3, "a='$parm01'"},
      {"unmodelled sql_mode flag, plain name", "a='$parm01'", "T1", kOracle,
       RefusalReason::kNone, 0, 0, "a='T1'"},
      {"MSSQL: the placeholder is code", kMssqlStatement,
       "0 UNION SELECT S,1 FROM SECRET#", kMssql, RefusalReason::kNotPlain, 1,
       69, kMssqlStatement},
      {"MSSQL: plain name", "[a]]$parm01] > $parm01", "T1", kMssql,
       RefusalReason::kNone, 0, 0, "[a]]T1] > T1"},
      {"MSSQL: a name may not close the bracket", "[a$parm01]", "x]y", kMssql,
       RefusalReason::kNotPlain, 1, 2, "[a$parm01]"},
      {"second placeholder in code", "'$parm01' $parm01", "a-b", kBackslash,
       RefusalReason::kNotPlain, 2, 10, "'$parm01' $parm01"},
      {"name joining two tokens", "x $parm01 1-$parm01- 1", "", kBackslash,
       RefusalReason::kChangesReading, 2, 12, "x $parm01 1-$parm01- 1"},
  };
  for (const Case& c : kCases) {
    std::string statement = c.statement;
    const std::string escaped = c.plain;  // only plain names or refusals
    Refusal why;
    const int status = SubstituteTerminal(
        statement, TerminalName{c.plain, escaped, SessionFor(c.mode)}, &why);
    EXPECT_EQ(status, c.reason == RefusalReason::kNone ? kOk : kTerminalRefused)
        << c.what;
    EXPECT_EQ(why.reason, c.reason) << c.what;
    EXPECT_EQ(why.occurrence, c.occurrence) << c.what;
    EXPECT_EQ(why.offset, c.offset) << c.what;
    EXPECT_EQ(statement, c.want) << c.what;
  }
}

TEST(SubstituteTerminalTest, RefusalText) {
  const SqlSession sjis = SessionFor(kSjis);
  EXPECT_EQ(RefusalText(Refusal{RefusalReason::kSessionNotLatin1, 2, 40}, sjis),
            "terminal name refused at $parm01 no. 2 (byte 40 of the "
            "statement): the session is not latin1 (character_set_client "
            "sjis, character_set_connection sjis), so only plain names (ASCII "
            "letters, digits, _) are accepted");
}

}  // namespace
}  // namespace querydef
