// The one database connection of a run, over the MySQL client library
// (MariaDB Connector/C): connect, run the extract statement, fetch its rows
// one by one as the server sends them, release the result.
// No operation prints anything.
#pragma once

#include <mysql.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "querydef/query_definition.h"
#include "querydef/row_buffer.h"
#include "querydef/sql_session.h"

namespace db {

// Rows are fetched into the row type the record layout reads.
using querydef::kRowSlots;
using querydef::RowBuffer;

inline constexpr int kOk = 0;
inline constexpr int kNoMoreRows = 1032;  // end of the rows; not an error
// No result set on the handle, or the library failed when the result began.
inline constexpr int kNoResultSet = -1;
// The result broke off while its rows arrived (the server gone, the
// connection lost or timed out, a server error in mid-result): the rows
// fetched so far are not the result. dbErrorNumber/dbLastError say why.
inline constexpr int kResultFailed = -2;
// Any other status is the client library's error number (mysql_errno), e.g.
// 1045 wrong password, 1044/1049 unknown database, 2002 no server, 1064 syntax.

struct FreeResult {
  void operator()(MYSQL_RES* r) const { mysql_free_result(r); }
};
using ResultPtr = std::unique_ptr<MYSQL_RES, FreeResult>;

// A statement and the result set of its last successful execution, read
// from the connection as its rows are fetched.
struct StatementHandle {
  std::string_view text;  // sent up to its first NUL byte; owned by the caller
  ResultPtr result;       // none before execution and after dbFreeResult
  MYSQL* connection = nullptr;  // the connection the result comes over
  uint32_t rows_fetched = 0;
};

// Owns the client-library connection object and the current query (the
// extract statement's handle and its column count). The destructor ends the
// connection without a commit, so the open transaction rolls back.
class Connection {
 public:
  Connection() = default;
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // The library's connection object while connected, else nullptr. For
  // inspection only; the operations below are the way to use it.
  const MYSQL* NativeHandle() const { return mysql_.get(); }

 private:
  struct CloseMysql {
    void operator()(MYSQL* m) const { mysql_close(m); }
  };

  friend int dbConnect(Connection&, std::string_view, std::string_view,
                       std::string_view, std::string_view);
  friend int dbOpenQuery(Connection&, std::string_view);
  friend int dbFetchRow(Connection&, RowBuffer&);
  friend int dbCloseQuery(Connection&);
  friend int dbExecute(Connection&, StatementHandle&);
  friend std::string dbEscapeLiteral(Connection&, std::string_view);
  friend bool dbBackslashEscapes(const Connection&);
  friend uint64_t dbRowCount(const Connection&);
  friend int dbErrorNumber(const Connection&);
  friend int dbColumnCount(const Connection&);
  friend uint32_t dbServerVersion(const Connection&);
  friend bool dbServerIsMySql(const Connection&);
  friend void dbDisconnect(Connection&);
  friend const querydef::SqlSession& dbSession(const Connection&);
  friend std::string dbLastError(const Connection&);

  // Declared first so that it is destroyed last, after the result set.
  std::unique_ptr<MYSQL, CloseMysql> mysql_;
  StatementHandle current_query_;
  int column_count_ = 0;
  // How the server reads statements on this connection (unknown when not
  // connected), read back right after the connect.
  querydef::SqlSession session_;
  // The library's message for a failed connect, kept because the failed
  // connection object is gone by then.
  std::string connect_error_;
};

// Opens the connection: character set latin1, the library's default port and
// socket (port 0, no socket name, flags 0). Once connected it sets the
// session's character set to latin1 once more (mysql_set_character_set: a
// server may ignore the handshake's, and init_connect may change it), sends
// "SET AUTOCOMMIT = 0", whose status is ignored, and reads back in one query
// the session's character_set_client, character_set_connection and sql_mode
// (see dbSession); a failure of either leaves the session unknown, never
// fails the connect. Empty texts are passed as empty texts (never as "none"):
// an empty host means the library's default route (the Unix socket from
// MYSQL_UNIX_PORT), an empty user the OS login name, an empty password no
// password (MYSQL_PWD is not consulted), an empty database none. Any earlier
// connection of `conn` is ended first. Returns kOk or the library's error
// number; on failure `conn` holds no connection. Copies of the password made
// for the connect are wiped once it has used them.
[[nodiscard]] int dbConnect(Connection& conn, std::string_view user,
                            std::string_view password, std::string_view host,
                            std::string_view database);

// Sends handle.text (up to its first NUL) and starts reading its result set
// (mysql_use_result: the rows stay on the connection until fetched). Returns
// kOk, the library's error number when the server rejects the statement (the
// handle stays as it was), or kNoResultSet when the result cannot be begun.
// A statement without a result set succeeds with no result set on the handle.
// A successful execution replaces (and frees) an earlier result. Until its
// rows are all fetched or it is freed, no other statement can run on the
// connection. Without a connection it returns 2006 (server gone), as the
// library would.
[[nodiscard]] int dbExecute(Connection& conn, StatementHandle& handle);

// Takes the next row of the handle's result set into `row` (one text per
// column, nullptr for SQL NULL, valid until the next fetch). Returns kOk,
// kNoMoreRows at the end of the rows (the library's end of data, with no
// error; again on every later call), kResultFailed when the result broke
// off, or kNoResultSet when the handle has no result set. On any status but
// kOk `row` is left as it was.
[[nodiscard]] int dbFetch(StatementHandle& handle, MYSQL_ROW& row);

// Releases the handle's result set: kOk, or kNoResultSet when it has none.
[[nodiscard]] int dbFreeResult(StatementHandle& handle);

// Executes `statement` (up to its first NUL) as the current query, which is
// read only during the call. Returns kOk, the library's error number, or
// kNoResultSet. The column count becomes that of the result set, or stays 0
// on failure and for a statement without a result set. A successful call
// replaces the result set of an earlier query (the views of its rows end);
// after a failed one that result set stays as it was.
[[nodiscard]] int dbOpenQuery(Connection& conn, std::string_view statement);

// Fetches the next row of the current query into `row`. On kOk every slot is
// reset first, then slot i holds result column i+1 as the library's text up to
// its first NUL byte, whole; NULL columns, columns beyond the last and result
// columns beyond the 30th leave empty slots. The views stay valid until
// the next dbFetchRow (or dbCloseQuery, or the next dbOpenQuery). On any
// other status `row` is left untouched.
[[nodiscard]] int dbFetchRow(Connection& conn, RowBuffer& row);

// Releases the current query's result set: kOk, or kNoResultSet when it has
// none (so a second close gives kNoResultSet).
int dbCloseQuery(Connection& conn);

// `text` escaped for use inside a single-quoted SQL string literal, by
// mysql_real_escape_string on the open connection: with backslashes
// (' " \ NUL and others), or, when the session has NO_BACKSLASH_ESCAPES, only
// ' doubled (a NUL byte then stays as it is). Without a connection it escapes
// with backslashes.
std::string dbEscapeLiteral(Connection& conn, std::string_view text);

// False when the session's sql_mode holds NO_BACKSLASH_ESCAPES, as the server
// last reported it; true without a connection.
bool dbBackslashEscapes(const Connection& conn);

// Rows fetched so far from the current query's result set, 0 when there is
// none. (The count of a streamed result is known only at its end.)
uint64_t dbRowCount(const Connection& conn);

// The library's error number for the last call on the connection (0 when it
// succeeded or there is no connection): why a result broke off. dbLastError
// gives its message.
int dbErrorNumber(const Connection& conn);

// Columns of the current query's result set (0 before a successful
// dbOpenQuery and for a statement without a result set).
int dbColumnCount(const Connection& conn);

// The connected server's version (10.11.19 = 101119), 0 when not connected,
// and whether it is MySQL rather than MariaDB. They decide which versioned
// comments ("/*!NNNNN ... */") the server runs as code.
uint32_t dbServerVersion(const Connection& conn);
bool dbServerIsMySql(const Connection& conn);

// Ends the connection cleanly (result set released, connection closed, no
// commit). Does nothing when not connected. The destructor does the same.
void dbDisconnect(Connection& conn);

// How the server reads a statement on this connection, as read back after
// the connect: unknown (known == false) when not connected, or when setting
// the character set or the read-back failed, or when the library's own idea
// of the character set or of NO_BACKSLASH_ESCAPES, by which it escapes,
// disagrees with what the server reported.
const querydef::SqlSession& dbSession(const Connection& conn);

// The terminal name prepared for the substitution on this connection: the
// session, and the name escaped by mysql_real_escape_string where the
// session reads backslash escapes. `terminal` must outlive the result (it
// keeps a view of it). Both tabfetch and tabfetch-admin put the name into
// the statement this way.
querydef::TerminalName dbTerminalName(Connection& conn,
                                      std::string_view terminal);

// The library's message for the last failed call: the connect's when
// dbConnect failed, else that of the last call on the connection ("" when it
// succeeded).
std::string dbLastError(const Connection& conn);

}  // namespace db
