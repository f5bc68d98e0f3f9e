// The database connection over MariaDB Connector/C. The statuses and the
// order of the library calls are what callers of the legacy tool saw; the
// library's own error numbers are passed through unchanged.
#include "db/db_connection.h"

#include <errmsg.h>
#include <mysql.h>
#include <string.h>  // explicit_bzero

#include <algorithm>
#include <cstring>
#include <utility>

namespace db {
namespace {

constexpr char kAutocommitOff[] = "SET AUTOCOMMIT = 0";
constexpr char kSessionCharset[] = "latin1";
constexpr char kReadSession[] =
    "SELECT @@character_set_client, @@character_set_connection, @@sql_mode";

// The legacy tool handed NUL-terminated texts to the library, so a text ends
// at its first NUL byte.
std::string_view UpToNul(std::string_view text) {
  return text.substr(0, text.find('\0'));
}

void Wipe(std::string& secret) {
  if (!secret.empty()) explicit_bzero(secret.data(), secret.size());
}

// The session as the server reports it, or unknown (with the server's
// version and kind still filled in) when `charset_set` is false or the
// read-back fails.
querydef::SqlSession ReadSession(MYSQL* mysql, bool charset_set) {
  const uint32_t version =
      static_cast<uint32_t>(mysql_get_server_version(mysql));
  const char* info = mysql_get_server_info(mysql);
  const bool mysql_server =
      info != nullptr && std::strstr(info, "MariaDB") == nullptr;
  querydef::SqlSession unknown;
  unknown.server_version = version;
  unknown.mysql_server = mysql_server;
  if (!charset_set) return unknown;

  if (mysql_real_query(mysql, kReadSession,
                       static_cast<unsigned long>(sizeof kReadSession - 1)) !=
      0) {
    return unknown;
  }
  ResultPtr result(mysql_store_result(mysql));
  if (!result || mysql_num_fields(result.get()) != 3) return unknown;
  MYSQL_ROW row = mysql_fetch_row(result.get());
  if (row == nullptr || row[0] == nullptr || row[1] == nullptr ||
      row[2] == nullptr) {
    return unknown;
  }
  querydef::SqlSession session =
      querydef::DescribeSession(row[0], row[1], row[2], version, mysql_server);
  // mysql_real_escape_string escapes by the library's own idea of the
  // character set and of NO_BACKSLASH_ESCAPES (from the server's status
  // flags); where that disagrees with the server, its escaping cannot be
  // trusted.
  const char* library_charset = mysql_character_set_name(mysql);
  if (library_charset == nullptr ||
      std::strcmp(library_charset, kSessionCharset) != 0) {
    session.latin1 = false;
  }
  const bool library_backslash =
      (mysql->server_status & SERVER_STATUS_NO_BACKSLASH_ESCAPES) == 0;
  if (library_backslash != session.backslash_escapes) session.known = false;
  return session;
}

}  // namespace

Connection::~Connection() { dbDisconnect(*this); }

int dbConnect(Connection& conn, std::string_view user,
              std::string_view password, std::string_view host,
              std::string_view database) {
  dbDisconnect(conn);
  conn.connect_error_.clear();

  std::unique_ptr<MYSQL, Connection::CloseMysql> mysql(mysql_init(nullptr));
  // mysql_init without an object to fill fails only when it cannot allocate
  // one (or the library cannot start); there is no object to ask for an
  // error number then.
  if (!mysql) {
    conn.connect_error_ = "the client library could not start (out of memory)";
    return CR_OUT_OF_MEMORY;
  }

  // The legacy tool's texts, widths and extract files are single-byte; the
  // library would otherwise deliver UTF-8 and shift every column that holds
  // an umlaut.
  if (mysql_options(mysql.get(), MYSQL_SET_CHARSET_NAME, kSessionCharset) !=
      0) {
    conn.connect_error_ =
        "the client library could not take the option "
        "for character set latin1 (out of memory)";
    return CR_OUT_OF_MEMORY;
  }

  // Empty texts go to the library as empty texts, as the legacy tool passed
  // its (possibly empty) buffers: an empty host takes the default route, and
  // an empty password stays empty instead of falling back to MYSQL_PWD.
  const std::string host_text(UpToNul(host));
  const std::string user_text(UpToNul(user));
  std::string password_text(UpToNul(password));
  const std::string database_text(UpToNul(database));
  MYSQL* connected = mysql_real_connect(
      mysql.get(), host_text.c_str(), user_text.c_str(), password_text.c_str(),
      database_text.c_str(), 0, nullptr, 0);
  Wipe(password_text);
  if (connected == nullptr) {
    conn.connect_error_ = mysql_error(mysql.get());
    return static_cast<int>(mysql_errno(mysql.get()));
  }
  // The library keeps a copy of the password for a reconnect or a change of
  // user, neither of which is used here (reconnect is off). Its length stays,
  // its bytes go; mysql_close frees it as usual.
  if (mysql->passwd != nullptr) {
    explicit_bzero(mysql->passwd, std::strlen(mysql->passwd));
  }
  conn.mysql_ = std::move(mysql);

  // The handshake's character set does not decide the session: a server
  // started with --skip-character-set-client-handshake ignores it, and
  // init_connect (e.g. SET NAMES sjis) runs after it. In a multi-byte set a
  // lead byte can swallow the backslash that escapes a quote, so the
  // session is set explicitly; this also keeps the library's escaping in
  // step with it.
  const bool charset_set =
      mysql_set_character_set(conn.mysql_.get(), kSessionCharset) == 0;

  StatementHandle autocommit;
  autocommit.text = kAutocommitOff;
  // A failed switch does not fail the connect, as with the legacy tool.
  (void)dbExecute(conn, autocommit);

  conn.session_ = ReadSession(conn.mysql_.get(), charset_set);
  return kOk;
}

int dbExecute(Connection& conn, StatementHandle& handle) {
  if (!conn.mysql_) return CR_SERVER_GONE_ERROR;
  MYSQL* mysql = conn.mysql_.get();
  const std::string_view text = UpToNul(handle.text);
  // An empty text goes as an empty statement; the server rejects it (1065).
  if (mysql_real_query(mysql, text.empty() ? "" : text.data(),
                       static_cast<unsigned long>(text.size())) != 0) {
    return static_cast<int>(mysql_errno(mysql));
  }
  // The rows are read from the connection as they are fetched; a failure
  // that comes with them (the server gone, a server error in mid-result)
  // shows at the fetch.
  handle.result.reset(mysql_use_result(mysql));
  if (mysql_errno(mysql) != 0) return kNoResultSet;
  handle.connection = mysql;
  handle.rows_fetched = 0;
  return kOk;
}

int dbFetch(StatementHandle& handle, MYSQL_ROW& row) {
  if (!handle.result) return kNoResultSet;
  MYSQL_ROW next = mysql_fetch_row(handle.result.get());
  if (next == nullptr) {
    // The end of the rows and a failure both give no row; only the error
    // number tells them apart. Asking again after the end gives the end
    // again.
    return mysql_errno(handle.connection) == 0 ? kNoMoreRows : kResultFailed;
  }
  row = next;
  ++handle.rows_fetched;
  return kOk;
}

int dbFreeResult(StatementHandle& handle) {
  if (!handle.result) return kNoResultSet;
  handle.result.reset();
  handle.rows_fetched = 0;
  return kOk;
}

int dbOpenQuery(Connection& conn, std::string_view statement) {
  conn.column_count_ = 0;
  conn.current_query_.text = statement;
  const int status = dbExecute(conn, conn.current_query_);
  // The text is read only during the call; keep no view of it.
  conn.current_query_.text = std::string_view();
  if (status == kOk && conn.current_query_.result) {
    conn.column_count_ =
        static_cast<int>(mysql_num_fields(conn.current_query_.result.get()));
  }
  return status;
}

int dbFetchRow(Connection& conn, RowBuffer& row) {
  MYSQL_ROW fetched = nullptr;
  const int status = dbFetch(conn.current_query_, fetched);
  if (status != kOk) return status;

  // Result columns beyond the 30th have no slot and are ignored.
  const std::size_t columns =
      static_cast<std::size_t>(std::min(conn.column_count_, kRowSlots));
  for (std::size_t i = 0; i < columns; ++i) {
    // The library ends every value with a NUL byte, so the length up to
    // the first NUL is the value as the legacy tool copied it: whole, but
    // cut at an embedded NUL. SQL NULL gives an empty slot.
    const char* value = fetched[i];
    row.slots[i] = value == nullptr
                       ? std::string_view()
                       : std::string_view(value, std::strlen(value));
  }
  for (std::size_t i = columns; i < row.slots.size(); ++i) {
    row.slots[i] = std::string_view();
  }
  return kOk;
}

int dbCloseQuery(Connection& conn) { return dbFreeResult(conn.current_query_); }

std::string dbEscapeLiteral(Connection& conn, std::string_view text) {
  // Escaping at most doubles each byte, plus the terminating NUL.
  std::string escaped(text.size() * 2 + 1, '\0');
  const unsigned long length = static_cast<unsigned long>(text.size());
  unsigned long written = 0;
  if (conn.mysql_) {
    written = mysql_real_escape_string(conn.mysql_.get(), escaped.data(),
                                       text.data(), length);
  } else {
    // Without a connection the library escapes with its default character
    // set, which exists only once the library has started (mysql_init does
    // that too; a second start does nothing).
    if (mysql_library_init(0, nullptr, nullptr) != 0) return std::string();
    written = mysql_escape_string(escaped.data(), text.data(), length);
  }
  // The library reports (unsigned long)-1 when the output would not fit,
  // which the buffer above rules out.
  escaped.resize(written < escaped.size() ? written : 0);
  return escaped;
}

bool dbBackslashEscapes(const Connection& conn) {
  if (!conn.mysql_) return true;
  return (conn.mysql_->server_status & SERVER_STATUS_NO_BACKSLASH_ESCAPES) == 0;
}

uint64_t dbRowCount(const Connection& conn) {
  return conn.current_query_.result ? conn.current_query_.rows_fetched : 0;
}

int dbErrorNumber(const Connection& conn) {
  return conn.mysql_ ? static_cast<int>(mysql_errno(conn.mysql_.get())) : 0;
}

int dbColumnCount(const Connection& conn) { return conn.column_count_; }

uint32_t dbServerVersion(const Connection& conn) {
  if (!conn.mysql_) return 0;
  return static_cast<uint32_t>(mysql_get_server_version(conn.mysql_.get()));
}

bool dbServerIsMySql(const Connection& conn) {
  if (!conn.mysql_) return false;
  const char* info = mysql_get_server_info(conn.mysql_.get());
  return info != nullptr && std::strstr(info, "MariaDB") == nullptr;
}

void dbDisconnect(Connection& conn) {
  (void)dbFreeResult(conn.current_query_);
  conn.current_query_ = StatementHandle();
  conn.column_count_ = 0;
  conn.session_ = querydef::SqlSession();
  // mysql_close sends QUIT; without a commit the server rolls back.
  conn.mysql_.reset();
}

void dbAbandon(Connection& conn) {
  // mysql_free_result would read the rest of a streamed result first.
  if (conn.mysql_ && conn.current_query_.result) {
    (void)mariadb_cancel(conn.mysql_.get());
  }
  dbDisconnect(conn);
}

const querydef::SqlSession& dbSession(const Connection& conn) {
  return conn.session_;
}

querydef::TerminalName dbTerminalName(Connection& conn,
                                      std::string_view terminal) {
  querydef::TerminalName name;
  name.plain = terminal;
  name.session = dbSession(conn);
  // Only a literal read with backslash escapes takes the library's form;
  // the substitution doubles quotes itself otherwise.
  if (name.session.known && name.session.backslash_escapes) {
    name.escaped = dbEscapeLiteral(conn, terminal);
  }
  return name;
}

std::string dbLastError(const Connection& conn) {
  if (!conn.mysql_) return conn.connect_error_;
  return mysql_error(conn.mysql_.get());
}

}  // namespace db
