// The one database connection of a run, over the MySQL client library
// (MariaDB Connector/C): connect, run the extract statement, fetch its rows
// one by one as the server sends them, release the result.
// No operation prints anything.
#pragma once

#include <mysql.h>

#include <chrono>
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
// No result set, or the library failed when the result began.
inline constexpr int kNoResultSet = -1;
// The result broke off while its rows arrived (the server gone, the
// connection lost or timed out, a server error in mid-result): the rows
// fetched so far are not the result. ErrorNumber/LastError say why.
inline constexpr int kResultFailed = -2;
// Any other status is the client library's error number (mysql_errno), e.g.
// 1045 wrong password, 1044/1049 unknown database, 2002 no server, 1064 syntax,
// 2013 connection lost (also a connect or read timeout), 2026 TLS failed.

// The option file read when none is named, if it exists.
inline constexpr char kDefaultOptionFile[] = "/etc/tabfetch/tabfetch.cnf";
// The program's own group in the option file, read by the client library
// besides [client], [client-server] and [client-mariadb].
inline constexpr char kOptionGroup[] = "tabfetch";
// Connect's status when the option file does not exist (the client
// library's CR_FILE_NOT_FOUND) or cannot be read (CR_FILE_READ: no
// permission, a directory, ...). The connect is not tried then.
inline constexpr int kOptionFileMissing = 5004;
inline constexpr int kOptionFileUnreadable = 5005;
// The connect timeout when none is given.
inline constexpr std::chrono::seconds kDefaultConnectTimeout{30};

// How to connect, besides the settings file's host, user, password and
// database. The defaults connect as the legacy tool did, with a bound on a
// server that does not answer.
struct ConnectOptions {
  // An option file the client library reads ("" for none). It decides how
  // to connect (TLS, port, socket, protocol, plugins, connect-timeout, ...),
  // never who connects to what: host, user, password and database stay the
  // caller's (see Connection::Connect).
  std::string option_file;
  // How long the connect and the server's greeting may take; 0 for ever
  // (the legacy behaviour). A connect-timeout in the option file replaces
  // it: the library reads the file during the connect, after this is set.
  std::chrono::seconds connect_timeout = kDefaultConnectTimeout;
  // How long any read (and write) on the connection may wait for the
  // server; 0 for ever. It also bounds a statement slow to send its first
  // row.
  std::chrono::seconds read_timeout{0};
};

// The option file a connect reads: `named` when not empty, else
// kDefaultOptionFile when it exists (in any form: one that cannot be read
// makes the connect fail), else "" (none).
std::string dbOptionFile(const std::string& named);

// How an open connection was made, for tabfetch-admin connect. Empty texts
// where the library does not tell.
struct ConnectionFacts {
  std::string route;           // "socket /run/...sock" or "TCP host:port"
  std::string server_version;  // as the server names itself
  std::string tls_version;     // "" when not encrypted
  std::string tls_cipher;
  // The server's certificate chain is checked against a CA (ssl-ca or
  // ssl-capath given, or ssl-verify-server-cert on: the system's CAs), and
  // whether its name is checked too (ssl-verify-server-cert on).
  bool certificate_checked = false;
  bool name_checked = false;
  std::string option_file;  // as given to Connect, "" for none
};

// The one connection of a run: the client library's connection object and
// the current query, whose rows are read from the connection as they are
// fetched. The destructor ends the connection without a commit, so the open
// transaction rolls back.
class Connection {
 public:
  Connection() = default;
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Opens the connection: character set latin1, the library's default port
  // and socket (port 0, no socket name, flags 0), the timeouts of `options`.
  // Once connected it sets the session's character set to latin1 once more
  // (mysql_set_character_set: a server may ignore the handshake's, and
  // init_connect may change it), sends "SET AUTOCOMMIT = 0", whose status
  // is ignored, and reads back in one query the session's
  // character_set_client, character_set_connection and sql_mode, and the
  // server's version and kind (see Session); a failure of either leaves the
  // session unknown, never fails the connect. Empty texts are passed as
  // empty texts (never as "none"): an empty host means the library's
  // default route (the Unix socket from MYSQL_UNIX_PORT), an empty user the
  // OS login name, an empty password no password (MYSQL_PWD is not
  // consulted), an empty database none. Any earlier connection is ended
  // first. Returns kOk or the library's error number; on failure no
  // connection is held. Copies of the password made for the connect are
  // wiped once it has used them.
  // With an option file, the library reads its groups [client],
  // [client-server], [client-mariadb] and [tabfetch] during the connect
  // (keys it does not know are ignored; a boolean key without a value, e.g.
  // a bare "ssl-verify-server-cert", reads as off). Its host, user,
  // password and database never apply: an empty host is passed as
  // "localhost" (the same default route, the Unix socket) and an empty user
  // as the login name the library would send (root for euid 0, else the
  // passwd entry's name). A file that is missing or cannot be read fails
  // the connect before any attempt with kOptionFileMissing or
  // kOptionFileUnreadable (LastError names the file and the reason).
  [[nodiscard]] int Connect(std::string_view user, std::string_view password,
                            std::string_view host, std::string_view database,
                            const ConnectOptions& options = ConnectOptions());

  // Sends `statement` (up to its first NUL) and starts reading its result
  // set (mysql_use_result: the rows stay on the connection until fetched).
  // Returns kOk, the library's error number when the server rejects the
  // statement, or kNoResultSet when the result cannot be begun. A
  // statement without a result set succeeds with no result set. The column
  // count becomes that of the result set, or 0 on failure and for a
  // statement without one. A successful call replaces the result set of an
  // earlier query (the views of its rows end); after a failed one that
  // result set stays as it was. Until its rows are all fetched or it is
  // closed, no other statement can run (2014). Without a connection it
  // returns 2006 (server gone), as the library would.
  [[nodiscard]] int OpenQuery(std::string_view statement);

  // Fetches the next row of the current query into `row`. On kOk every slot
  // is reset first, then slot i holds result column i+1 as the library's
  // text up to its first NUL byte, whole; NULL columns, columns beyond the
  // last and result columns beyond the 30th leave empty slots. The views
  // stay valid until the next FetchRow (or CloseQuery, or the next
  // OpenQuery). Returns kOk, kNoMoreRows at the end of the rows (again on
  // every later call), kResultFailed when the result broke off, or
  // kNoResultSet without a result set; then `row` is left untouched.
  [[nodiscard]] int FetchRow(RowBuffer& row);

  // Releases the current query's result set: kOk, or kNoResultSet when
  // there is none (so a second close gives kNoResultSet).
  int CloseQuery();

  // Ends the connection cleanly (result set released, connection closed,
  // no commit). Does nothing when not connected.
  void Disconnect();

  // Ends the connection at once, in the middle of a streamed result: the
  // socket is shut down first, so the rows not yet read are not read (the
  // server stops sending), then the result and the connection go. For a
  // run that cannot keep the rows it fetched.
  void Abandon();

  // `text` escaped for use inside a single-quoted SQL string literal, by
  // mysql_real_escape_string on the open connection: with backslashes
  // (' " \ NUL and others), or, when the session has NO_BACKSLASH_ESCAPES
  // as the server last reported it, only ' doubled (a NUL byte then stays as
  // it is). Without a connection it escapes with backslashes.
  std::string EscapeLiteral(std::string_view text);

  // The terminal name prepared for the substitution on this connection:
  // the session, and the name escaped by EscapeLiteral where the session
  // reads backslash escapes. `terminal` must outlive the result (it keeps a
  // view of it). Both tabfetch and tabfetch-admin put the name into the
  // statement this way.
  querydef::TerminalName TerminalNameFor(std::string_view terminal);

  // How the server reads a statement on this connection, as read back
  // after the connect, with the server's version and kind (MySQL or
  // MariaDB, decided once, at the connect): unknown (known == false) when
  // not connected, or when setting the character set or the read-back
  // failed, or when the library's own idea of the character set or of
  // NO_BACKSLASH_ESCAPES, by which it escapes, disagrees with what the
  // server reported.
  const querydef::SqlSession& Session() const { return session_; }

  // Columns of the current query's result set (0 before a successful
  // OpenQuery and for a statement without a result set).
  int ColumnCount() const { return column_count_; }

  // The library's error number for the last call on the connection (0 when
  // it succeeded or there is no connection): why a result broke off.
  int ErrorNumber() const;
  // The library's message for the last failed call: the connect's when
  // Connect failed, else that of the last call on the connection ("" when
  // it succeeded). A call that ended because a timeout passed says so
  // after the library's message (which reads "Lost connection ..." then).
  std::string LastError() const;
  // Whether the last failed OpenQuery or FetchRow ended because the read
  // timeout passed.
  bool TimedOut() const { return timed_out_; }

  ConnectionFacts Facts() const;

  // The library's connection object while connected, else nullptr. For
  // inspection only; the operations above are the way to use it.
  const MYSQL* NativeHandle() const { return mysql_.get(); }

 private:
  struct CloseMysql {
    void operator()(MYSQL* m) const { mysql_close(m); }
  };
  struct FreeResult {
    void operator()(MYSQL_RES* r) const { mysql_free_result(r); }
  };

  // Sends `text` and, on success, makes its result the current one.
  int Execute(std::string_view text);

  // Declared first so that it is destroyed last, after the result set.
  std::unique_ptr<MYSQL, CloseMysql> mysql_;
  std::unique_ptr<MYSQL_RES, FreeResult> result_;
  int column_count_ = 0;
  querydef::SqlSession session_;
  // The library's message for a failed connect, kept because the failed
  // connection object is gone by then.
  std::string connect_error_;
  std::chrono::seconds read_timeout_{0};
  bool timed_out_ = false;
  std::string option_file_;  // as given to the connect
};

// The legacy calls, in the shape the run sequence (run/) still uses.
[[nodiscard]] inline int dbConnect(Connection& conn, std::string_view user,
                                   std::string_view password,
                                   std::string_view host,
                                   std::string_view database,
                                   const ConnectOptions& options) {
  return conn.Connect(user, password, host, database, options);
}
[[nodiscard]] inline int dbOpenQuery(Connection& conn,
                                     std::string_view statement) {
  return conn.OpenQuery(statement);
}
[[nodiscard]] inline int dbFetchRow(Connection& conn, RowBuffer& row) {
  return conn.FetchRow(row);
}
inline int dbCloseQuery(Connection& conn) { return conn.CloseQuery(); }
inline void dbDisconnect(Connection& conn) { conn.Disconnect(); }
inline void dbAbandon(Connection& conn) { conn.Abandon(); }
inline int dbErrorNumber(const Connection& conn) { return conn.ErrorNumber(); }
inline std::string dbLastError(const Connection& conn) {
  return conn.LastError();
}
inline bool dbTimedOut(const Connection& conn) { return conn.TimedOut(); }
inline querydef::TerminalName dbTerminalName(Connection& conn,
                                             std::string_view terminal) {
  return conn.TerminalNameFor(terminal);
}

}  // namespace db
