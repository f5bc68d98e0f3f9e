// Tests of the database connection against the throwaway MariaDB server.
#include "db/db_connection.h"

#include <errmsg.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testsupport/throwaway_mariadb.h"

namespace {

constexpr char kDatabase[] = "PALVDATA";
constexpr std::string_view kSentinel = "untouched";

db::RowBuffer SentinelRow() {
  db::RowBuffer row;
  row.slots.fill(kSentinel);
  return row;
}

std::string Hex(std::string_view bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (unsigned char c : bytes) {
    hex += kDigits[c >> 4];
    hex += kDigits[c & 15];
  }
  return hex;
}

class dbConnectionTest : public testsupport::ServerTest {
 protected:
  void Connect(db::Connection& conn, std::string_view host = "") {
    ASSERT_EQ(
        conn.Connect(server().user, server().password, host, kDatabase),
        db::kOk);
  }

  // Runs `sql` and returns the first column of its first row ("<status N>"
  // when anything fails).
  std::string QueryOne(db::Connection& conn, std::string_view sql) {
    int status = conn.OpenQuery(sql);
    db::RowBuffer row;
    if (status == db::kOk) status = conn.FetchRow(row);
    // Copied before the close: the slots view the stored result set.
    const std::string value(row.slots[0]);
    (void)conn.CloseQuery();
    if (status != db::kOk) return "<status " + std::to_string(status) + ">";
    return value;
  }
};

// The session is read back after the connect; the terminal name is escaped
// by it.
TEST_F(dbConnectionTest,
       ConnectsOverEachDefaultRouteWithLatin1AndAutocommitOff) {
  // "" and "localhost" take the socket, 127.0.0.1 takes TCP; the test
  // support has pointed the library's defaults at the throwaway server.
  for (const char* host : {"", "localhost", "127.0.0.1"}) {
    SCOPED_TRACE(host);
    db::Connection conn;
    Connect(conn, host);
    EXPECT_NE(conn.NativeHandle(), nullptr);
    EXPECT_EQ(QueryOne(conn, "SELECT @@autocommit"), "0");
    EXPECT_EQ(QueryOne(conn, "SELECT @@character_set_results"), "latin1");
    EXPECT_EQ(QueryOne(conn, "SELECT DATABASE()"), kDatabase);
    const querydef::SqlSession& session = conn.Session();
    EXPECT_TRUE(session.known);
    EXPECT_TRUE(session.latin1);
    EXPECT_EQ(session.character_set_client, "latin1");
    EXPECT_TRUE(session.backslash_escapes);
    EXPECT_FALSE(session.ansi_quotes);
    EXPECT_EQ(session.unmodelled_flag, "");
    // The throwaway server is MariaDB 10 or later (10.11.19 = 101119).
    EXPECT_GE(session.server_version, 100000u);
    EXPECT_FALSE(session.mysql_server);
    const querydef::TerminalName name = conn.TerminalNameFor("O'B");
    EXPECT_EQ(name.plain, "O'B");
    EXPECT_EQ(name.escaped, "O\\'B");
    EXPECT_TRUE(name.session.known);
    conn.Disconnect();
    EXPECT_FALSE(conn.Session().known);
  }
  db::Connection unconnected;
  EXPECT_EQ(unconnected.Session().server_version, 0u);
}

TEST_F(dbConnectionTest, ConnectFailureGivesTheLibraryErrorNumber) {
  struct Case {
    std::string user, password, host, database;
    int want;
    const char* message;  // the start of the library's message
  };
  const Case cases[] = {
      {server().user, "wrong", "", kDatabase, 1045, "Access denied for user"},
      {server().user, server().password, "", "DB_NO_SUCH_BASE", 1044,
       "Access denied for user"},
      {"root", "", "", "DB_NO_SUCH_BASE", 1049, "Unknown database"},
      // The server listens on 127.0.0.1 only: nothing answers on 127.0.0.2.
      {server().user, server().password, "127.0.0.2", kDatabase, 2002,
       "Can't connect to server on '127.0.0.2'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.user + "@" + c.host + "/" + c.database);
    db::Connection conn;
    EXPECT_EQ(conn.Connect(c.user, c.password, c.host, c.database),
              c.want);
    EXPECT_EQ(conn.LastError().rfind(c.message, 0), 0u)
        << conn.LastError();
    EXPECT_FALSE(conn.Session().known);
    EXPECT_EQ(conn.NativeHandle(), nullptr);
    EXPECT_EQ(conn.OpenQuery("SELECT 1"), 2006);  // server gone
  }
}

TEST_F(dbConnectionTest, LibraryCopyOfThePasswordIsWipedAfterConnect) {
  db::Connection conn;
  Connect(conn);
  const char* kept = conn.NativeHandle()->passwd;
  ASSERT_NE(kept, nullptr);
  // The copy keeps its size (the library frees it at close) but not its bytes.
  const size_t size = server().password.size();
  EXPECT_EQ(std::string(kept, size), std::string(size, '\0'));
  EXPECT_EQ(QueryOne(conn, "SELECT 5"), "5");
}

TEST_F(dbConnectionTest, ChangesRollBackWhenTheConnectionEnds) {
  Sql(
      "DROP TABLE IF EXISTS PALVDATA.db_autocommit;"
      "CREATE TABLE PALVDATA.db_autocommit (id INT) ENGINE=InnoDB");
  for (bool explicit_end : {false, true}) {
    SCOPED_TRACE(explicit_end ? "dbDisconnect" : "destructor");
    {
      db::Connection conn;
      Connect(conn);
      ASSERT_EQ(conn.OpenQuery("INSERT INTO db_autocommit VALUES (1)"),
                db::kOk);
      EXPECT_EQ(QueryOne(conn, "SELECT COUNT(*) FROM db_autocommit"), "1");
      if (explicit_end) {
        conn.Disconnect();
        EXPECT_EQ(conn.NativeHandle(), nullptr);
      }
    }
    db::Connection other;
    Connect(other);
    EXPECT_EQ(QueryOne(other, "SELECT COUNT(*) FROM db_autocommit"), "0");
  }
}

TEST_F(dbConnectionTest,
       FetchesEveryRowThenNoMoreRowsLeavingTheBufferUntouched) {
  db::Connection conn;
  Connect(conn);
  for (int rows : {0, 1, 57}) {
    SCOPED_TRACE(rows);
    const std::string sql =
        "SELECT seq, CONCAT('r', seq) FROM seq_1_to_100 "
        "ORDER BY seq LIMIT " +
        std::to_string(rows);
    ASSERT_EQ(conn.OpenQuery(sql), db::kOk);
    EXPECT_EQ(conn.ColumnCount(), 2);
    db::RowBuffer row = SentinelRow();
    for (int i = 1; i <= rows; ++i) {
      ASSERT_EQ(conn.FetchRow(row), db::kOk);
      EXPECT_EQ(row.slots[0], std::to_string(i));
      EXPECT_EQ(row.slots[1], "r" + std::to_string(i));
      EXPECT_EQ(row.slots[2], "");
    }
    row = SentinelRow();
    EXPECT_EQ(conn.FetchRow(row), db::kNoMoreRows);
    EXPECT_EQ(conn.FetchRow(row), db::kNoMoreRows);
    for (std::string_view slot : row.slots) EXPECT_EQ(slot, kSentinel);
    EXPECT_EQ(conn.CloseQuery(), db::kOk);
  }
}

TEST_F(dbConnectionTest, RowBufferSlots) {
  struct Case {
    std::string_view sql;
    int columns;
    std::vector<std::string> want;  // slots from the first; the rest empty
  };
  std::string thirty_five = "SELECT 1";
  std::vector<std::string> first_thirty = {"1"};
  for (int i = 2; i <= 35; ++i) {
    thirty_five += "," + std::to_string(i);
    if (i <= db::kRowSlots) first_thirty.push_back(std::to_string(i));
  }
  const Case cases[] = {
      // NULL and the empty text both give an empty slot.
      {"SELECT NULL, '', 'x'", 3, {"", "", "x"}},
      // Columns beyond the 30th have no slot.
      {thirty_five.c_str(), 35, first_thirty},
      // No cut at 99 characters.
      {"SELECT CONCAT(REPEAT('a', 299), 'z')",
       1,
       {std::string(299, 'a') + "z"}},
      // A value ends at an embedded NUL byte.
      {"SELECT CONCAT('ab', CHAR(0), 'cd'), 'next'", 2, {"ab", "next"}},
      // The statement text ends at its first NUL byte.
      {std::string_view("SELECT 7\0 garbage", 17), 1, {"7"}},
  };
  db::Connection conn;
  Connect(conn);
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.sql));
    ASSERT_EQ(conn.OpenQuery(c.sql), db::kOk);
    EXPECT_EQ(conn.ColumnCount(), c.columns);
    db::RowBuffer row = SentinelRow();
    ASSERT_EQ(conn.FetchRow(row), db::kOk);
    for (size_t i = 0; i < row.slots.size(); ++i) {
      EXPECT_EQ(row.slots[i], i < c.want.size() ? c.want[i] : "")
          << "slot " << i;
    }
    EXPECT_EQ(conn.CloseQuery(), db::kOk);
  }
}

// A rejected statement gives the server's error number; one without a
// result set is accepted. Neither leaves a result to fetch from or close,
// nor the column count of the result before.
TEST_F(dbConnectionTest, StatementsWithoutAResultSet) {
  const std::pair<const char*, int> cases[] = {
      {"SELEKT 1", 1064},
      {"SELECT 1; SELECT 2", 1064},  // no multi-statements
      {"SELECT * FROM db_no_such_table", 1146},
      {"", 1065},  // empty statement
      {"DO 1", db::kOk},
  };
  db::Connection conn;
  Connect(conn);
  for (const auto& [sql, want] : cases) {
    SCOPED_TRACE(sql);
    ASSERT_EQ(conn.OpenQuery("SELECT 1, 2"), db::kOk);
    ASSERT_EQ(conn.CloseQuery(), db::kOk);
    EXPECT_EQ(conn.OpenQuery(sql), want);
    EXPECT_EQ(conn.ColumnCount(), 0);
    db::RowBuffer row = SentinelRow();
    EXPECT_EQ(conn.FetchRow(row), db::kNoResultSet);
    EXPECT_EQ(row.slots[0], kSentinel);
    EXPECT_EQ(conn.CloseQuery(), db::kNoResultSet);
  }
  EXPECT_EQ(conn.OpenQuery("SELECT * FROM NO_SUCH_TABLE"), 1146);
  EXPECT_EQ(conn.LastError().rfind("Table 'PALVDATA.NO_SUCH_TABLE'", 0), 0u)
      << conn.LastError();
}

TEST_F(dbConnectionTest, RefusedStatementLeavesTheCurrentResult) {
  db::Connection conn;
  Connect(conn);
  ASSERT_EQ(conn.OpenQuery("SELECT 'a', NULL UNION ALL SELECT 'b', 'c'"),
            db::kOk);
  db::RowBuffer row = SentinelRow();
  ASSERT_EQ(conn.FetchRow(row), db::kOk);
  EXPECT_EQ(row.slots[0], "a");
  EXPECT_EQ(row.slots[1], "");

  // No other statement can run while rows are still on the connection;
  // the refused one leaves the result open, to be closed.
  EXPECT_EQ(conn.OpenQuery("SELECT 1"), CR_COMMANDS_OUT_OF_SYNC);
  EXPECT_EQ(conn.ColumnCount(), 0);
  EXPECT_EQ(conn.CloseQuery(), db::kOk);

  ASSERT_EQ(conn.OpenQuery("SELECT 'b', 'c'"), db::kOk);
  ASSERT_EQ(conn.FetchRow(row), db::kOk);
  EXPECT_EQ(row.slots[0], "b");
  EXPECT_EQ(row.slots[1], "c");
  EXPECT_EQ(conn.FetchRow(row), db::kNoMoreRows);

  // Once the rows are read, a rejected statement leaves the result as it
  // was too: it is still there to close.
  EXPECT_EQ(conn.OpenQuery("SELEKT"), 1064);
  EXPECT_EQ(conn.CloseQuery(), db::kOk);
  EXPECT_EQ(conn.CloseQuery(), db::kNoResultSet);
  EXPECT_EQ(conn.FetchRow(row), db::kNoResultSet);
}

TEST_F(dbConnectionTest, TextsArriveAsLatin1Bytes) {
  Sql(
      "DROP TABLE IF EXISTS PALVDATA.db_latin1;"
      "CREATE TABLE PALVDATA.db_latin1 (id INT, v VARCHAR(20)) "
      "CHARACTER SET utf8mb4;"
      "INSERT INTO PALVDATA.db_latin1 VALUES"
      " (1, CONVERT(X'4772C3BC6E' USING utf8mb4)),"  // Grün
      " (2, CONVERT(X'E282AC' USING utf8mb4)),"      // euro sign
      " (3, CONVERT(X'E29C93' USING utf8mb4))");     // check mark
  db::Connection conn;
  Connect(conn);
  // Stored as UTF-8 ...
  EXPECT_EQ(QueryOne(conn, "SELECT HEX(v) FROM db_latin1 WHERE id = 1"),
            "4772C3BC6E");
  // ... delivered as single bytes; what latin1 cannot hold becomes '?'.
  EXPECT_EQ(QueryOne(conn, "SELECT v FROM db_latin1 WHERE id = 1"),
            "\x47\x72\xFC\x6E");
  EXPECT_EQ(QueryOne(conn, "SELECT v FROM db_latin1 WHERE id = 2"), "\x80");
  EXPECT_EQ(QueryOne(conn, "SELECT v FROM db_latin1 WHERE id = 3"), "?");
  // A latin1 byte in the statement matches the UTF-8 column.
  EXPECT_EQ(QueryOne(conn, "SELECT id FROM db_latin1 WHERE v = 'Gr\xFCn'"),
            "1");
}

TEST_F(dbConnectionTest, EscapingFollowsTheSessionSqlMode) {
  struct Case {
    std::string text, with_backslashes, quotes_only;
  };
  const Case cases[] = {
      {"O'Br\\ien\"x", "O\\'Br\\\\ien\\\"x", "O''Br\\ien\"x"},
      {std::string("a\0b", 3), "a\\0b", std::string("a\0b", 3)},
      {"Gr\xFCn", "Gr\xFCn", "Gr\xFCn"},  // latin1 bytes pass unchanged
  };
  db::Connection unconnected;
  EXPECT_EQ(unconnected.EscapeLiteral("it's"), "it\\'s");

  db::Connection conn;
  Connect(conn);
  for (bool backslashes : {true, false, true}) {
    SCOPED_TRACE(backslashes ? "default sql_mode" : "NO_BACKSLASH_ESCAPES");
    EXPECT_EQ(
        QueryOne(conn, backslashes ? "SET sql_mode = DEFAULT"
                                   : "SET sql_mode = 'NO_BACKSLASH_ESCAPES'"),
        "<status -1>");  // no result set to fetch from
    for (const Case& c : cases) {
      SCOPED_TRACE(Hex(c.text));
      const std::string escaped = conn.EscapeLiteral(c.text);
      EXPECT_EQ(escaped, backslashes ? c.with_backslashes : c.quotes_only);
      // The server reads the literal back as the original text (a raw NUL
      // would end the statement, so that one is not sent).
      if (escaped.find('\0') == std::string::npos) {
        EXPECT_EQ(QueryOne(conn, "SELECT HEX('" + escaped + "')"), Hex(c.text));
      }
    }
  }
}

}  // namespace
