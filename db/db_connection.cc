// The database connection over MariaDB Connector/C. The statuses and the
// order of the library calls are what callers of the legacy tool saw; the
// library's own error numbers are passed through unchanged.
#include "db/db_connection.h"

#include <errmsg.h>
#include <fcntl.h>
#include <mysql.h>
#include <pwd.h>
#include <string.h>  // explicit_bzero
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <vector>

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

// Whether the library's last failed network wait ended because its timeout
// passed: it reports "Lost connection" (2013) then and leaves ETIMEDOUT in
// errno, which the caller reads right after the failed call.
bool WaitTimedOut(MYSQL* mysql, int saved_errno) {
  return mysql_errno(mysql) == CR_SERVER_LOST && saved_errno == ETIMEDOUT;
}

// The option file must be a readable file: the library skips one it cannot
// open without a word, which would connect without the TLS it asks for.
// Returns kOk, or the status and the reason in `error`.
int CheckOptionFile(const std::string& path, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  int failure = fd < 0 ? errno : 0;
  if (fd >= 0) {
    struct stat st{};
    char byte = 0;
    if (::fstat(fd, &st) != 0) {
      failure = errno;
    } else if (S_ISDIR(st.st_mode)) {
      failure = EISDIR;
    } else if (::read(fd, &byte, 1) < 0) {
      failure = errno;
    }
    ::close(fd);
  }
  if (failure == 0) return kOk;
  error = "option file " + path + " cannot be read: " + std::strerror(failure);
  return failure == ENOENT || failure == ENOTDIR ? kOptionFileMissing
                                                 : kOptionFileUnreadable;
}

// The user name the library sends for an empty user (its read_user_name):
// root for euid 0, else the passwd entry's name, else the login name.
std::string LoginName() {
  const uid_t euid = ::geteuid();
  if (euid == 0) return "root";
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(static_cast<std::size_t>(size > 0 ? size : 16384));
  struct passwd entry{};
  struct passwd* found = nullptr;
  if (::getpwuid_r(euid, &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr) {
    return found->pw_name;
  }
  char login[256] = {};
  if (::getlogin_r(login, sizeof login) == 0) return login;
  return "UNKNOWN_USER";
}

// Sets an option the library takes by pointer; false when it refuses.
template <typename T>
bool SetOption(MYSQL* mysql, mysql_option option, const T& value) {
  return mysql_optionsv(mysql, option, &value) == 0;
}

// The session as the server reports it, or unknown (with the server's
// version and kind still filled in) when `charset_set` is false or the
// read-back fails. The server's kind is decided here, once per connect.
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
  struct FreeResult {
    void operator()(MYSQL_RES* r) const { mysql_free_result(r); }
  };
  std::unique_ptr<MYSQL_RES, FreeResult> result(mysql_store_result(mysql));
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

std::string dbOptionFile(const std::string& named) {
  if (!named.empty()) return named;
  struct stat st{};
  if (::stat(kDefaultOptionFile, &st) != 0 &&
      (errno == ENOENT || errno == ENOTDIR)) {
    return std::string();
  }
  return kDefaultOptionFile;
}

Connection::~Connection() { Disconnect(); }

int Connection::Connect(std::string_view user, std::string_view password,
                        std::string_view host, std::string_view database,
                        const ConnectOptions& options) {
  Disconnect();
  connect_error_.clear();
  timed_out_ = false;
  read_timeout_ = options.read_timeout;
  option_file_ = options.option_file;

  // A named option file that cannot be read stops the connect before it
  // begins.
  if (!options.option_file.empty()) {
    const int status = CheckOptionFile(options.option_file, connect_error_);
    if (status != kOk) return status;
  }

  std::unique_ptr<MYSQL, CloseMysql> mysql(mysql_init(nullptr));
  // mysql_init without an object to fill fails only when it cannot allocate
  // one (or the library cannot start); there is no object to ask for an
  // error number then.
  if (!mysql) {
    connect_error_ = "the client library could not start (out of memory)";
    return CR_OUT_OF_MEMORY;
  }

  // The legacy tool's texts, widths and extract files are single-byte; the
  // library would otherwise deliver UTF-8 and shift every column that holds
  // an umlaut.
  if (mysql_options(mysql.get(), MYSQL_SET_CHARSET_NAME, kSessionCharset) !=
      0) {
    connect_error_ =
        "the client library could not take the option "
        "for character set latin1 (out of memory)";
    return CR_OUT_OF_MEMORY;
  }

  // The timeouts take whole seconds; the library counts them as unsigned.
  const unsigned int connect_seconds = static_cast<unsigned int>(
      std::max<std::chrono::seconds::rep>(options.connect_timeout.count(), 0));
  const unsigned int read_seconds = static_cast<unsigned int>(
      std::max<std::chrono::seconds::rep>(options.read_timeout.count(), 0));
  bool set = SetOption(mysql.get(), MYSQL_OPT_CONNECT_TIMEOUT, connect_seconds);
  if (read_seconds > 0) {
    set = set && SetOption(mysql.get(), MYSQL_OPT_READ_TIMEOUT, read_seconds) &&
          SetOption(mysql.get(), MYSQL_OPT_WRITE_TIMEOUT, read_seconds);
  }
  // The library reads the file itself, during the connect; only that one
  // file, never the machine's my.cnf.
  if (!options.option_file.empty()) {
    set = set &&
          mysql_optionsv(mysql.get(), MYSQL_READ_DEFAULT_FILE,
                         options.option_file.c_str()) == 0 &&
          mysql_optionsv(mysql.get(), MYSQL_READ_DEFAULT_GROUP,
                         kOptionGroup) == 0;
  }
  if (!set) {
    connect_error_ =
        "the client library could not take the connect options (out of "
        "memory)";
    return CR_OUT_OF_MEMORY;
  }

  // Empty texts go to the library as empty texts, as the legacy tool passed
  // its (possibly empty) buffers: an empty host takes the default route, and
  // an empty password stays empty instead of falling back to MYSQL_PWD.
  // The library would fill an empty host or user from the option file; the
  // settings file decides who connects where, so they are made explicit
  // then, with what the library chooses without a file.
  std::string host_text(UpToNul(host));
  std::string user_text(UpToNul(user));
  if (!options.option_file.empty()) {
    if (host_text.empty()) host_text = "localhost";
    if (user_text.empty()) user_text = LoginName();
  }
  std::string password_text(UpToNul(password));
  const std::string database_text(UpToNul(database));
  MYSQL* connected = mysql_real_connect(
      mysql.get(), host_text.c_str(), user_text.c_str(), password_text.c_str(),
      database_text.c_str(), 0, nullptr, 0);
  const int connect_errno = errno;
  Wipe(password_text);
  if (connected == nullptr) {
    connect_error_ = mysql_error(mysql.get());
    if (WaitTimedOut(mysql.get(), connect_errno)) {
      connect_error_ += " (the connect timeout passed)";
    }
    return static_cast<int>(mysql_errno(mysql.get()));
  }
  // The library keeps a copy of the password for a reconnect or a change of
  // user, neither of which is used here (reconnect is off). Its length stays,
  // its bytes go; mysql_close frees it as usual.
  if (mysql->passwd != nullptr) {
    explicit_bzero(mysql->passwd, std::strlen(mysql->passwd));
  }
  mysql_ = std::move(mysql);

  // The handshake's character set does not decide the session: a server
  // started with --skip-character-set-client-handshake ignores it, and
  // init_connect (e.g. SET NAMES sjis) runs after it. In a multi-byte set a
  // lead byte can swallow the backslash that escapes a quote, so the
  // session is set explicitly; this also keeps the library's escaping in
  // step with it.
  const bool charset_set =
      mysql_set_character_set(mysql_.get(), kSessionCharset) == 0;

  // A failed switch does not fail the connect, as with the legacy tool.
  (void)Execute(kAutocommitOff);

  session_ = ReadSession(mysql_.get(), charset_set);
  return kOk;
}

int Connection::Execute(std::string_view statement) {
  if (!mysql_) return CR_SERVER_GONE_ERROR;
  MYSQL* mysql = mysql_.get();
  const std::string_view text = UpToNul(statement);
  timed_out_ = false;
  // An empty text goes as an empty statement; the server rejects it (1065).
  if (mysql_real_query(mysql, text.empty() ? "" : text.data(),
                       static_cast<unsigned long>(text.size())) != 0) {
    timed_out_ = WaitTimedOut(mysql, errno);
    return static_cast<int>(mysql_errno(mysql));
  }
  // The rows are read from the connection as they are fetched; a failure
  // that comes with them (the server gone, a server error in mid-result)
  // shows at the fetch. The earlier result goes now.
  result_.reset(mysql_use_result(mysql));
  if (mysql_errno(mysql) != 0) return kNoResultSet;
  return kOk;
}

int Connection::OpenQuery(std::string_view statement) {
  column_count_ = 0;
  const int status = Execute(statement);
  if (status == kOk && result_) {
    column_count_ = static_cast<int>(mysql_num_fields(result_.get()));
  }
  return status;
}

int Connection::FetchRow(RowBuffer& row) {
  if (!result_) return kNoResultSet;
  const MYSQL_ROW fetched = mysql_fetch_row(result_.get());
  if (fetched == nullptr) {
    const int fetch_errno = errno;
    // The end of the rows and a failure both give no row; only the error
    // number tells them apart. Asking again after the end gives the end
    // again.
    if (mysql_errno(mysql_.get()) == 0) return kNoMoreRows;
    timed_out_ = WaitTimedOut(mysql_.get(), fetch_errno);
    return kResultFailed;
  }

  // Result columns beyond the 30th have no slot and are ignored.
  const std::size_t columns =
      static_cast<std::size_t>(std::min(column_count_, kRowSlots));
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

int Connection::CloseQuery() {
  if (!result_) return kNoResultSet;
  result_.reset();
  return kOk;
}

void Connection::Disconnect() {
  result_.reset();
  column_count_ = 0;
  session_ = querydef::SqlSession();
  // mysql_close sends QUIT; without a commit the server rolls back.
  mysql_.reset();
}

void Connection::Abandon() {
  // mysql_free_result would read the rest of a streamed result first.
  if (mysql_ && result_) (void)mariadb_cancel(mysql_.get());
  Disconnect();
}

std::string Connection::EscapeLiteral(std::string_view text) {
  // Escaping at most doubles each byte, plus the terminating NUL.
  std::string escaped(text.size() * 2 + 1, '\0');
  const unsigned long length = static_cast<unsigned long>(text.size());
  unsigned long written = 0;
  if (mysql_) {
    written = mysql_real_escape_string(mysql_.get(), escaped.data(),
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

querydef::TerminalName Connection::TerminalNameFor(std::string_view terminal) {
  querydef::TerminalName name;
  name.plain = terminal;
  name.session = session_;
  // Only a literal read with backslash escapes takes the library's form;
  // the substitution doubles quotes itself otherwise.
  if (name.session.known && name.session.backslash_escapes) {
    name.escaped = EscapeLiteral(terminal);
  }
  return name;
}

int Connection::ErrorNumber() const {
  return mysql_ ? static_cast<int>(mysql_errno(mysql_.get())) : 0;
}

std::string Connection::LastError() const {
  if (!mysql_) return connect_error_;
  std::string error = mysql_error(mysql_.get());
  if (timed_out_) {
    error += " (the read timeout of " + std::to_string(read_timeout_.count()) +
             " s passed without data from the server)";
  }
  return error;
}

ConnectionFacts Connection::Facts() const {
  ConnectionFacts facts;
  facts.option_file = option_file_;
  if (!mysql_) return facts;
  MYSQL* mysql = mysql_.get();
  const char* text = nullptr;
  unsigned int number = 0;
  if (mariadb_get_infov(mysql, MARIADB_CONNECTION_PVIO_TYPE, &number) == 0 &&
      number == MARIADB_CONNECTION_UNIXSOCKET) {
    if (mariadb_get_infov(mysql, MARIADB_CONNECTION_UNIX_SOCKET, &text) == 0 &&
        text != nullptr) {
      facts.route = std::string("socket ") + text;
    }
  } else {
    text = nullptr;
    number = 0;
    if (mariadb_get_infov(mysql, MARIADB_CONNECTION_HOST, &text) == 0 &&
        text != nullptr &&
        mariadb_get_infov(mysql, MARIADB_CONNECTION_PORT, &number) == 0) {
      facts.route = std::string("TCP ") + text + ":" + std::to_string(number);
    }
  }
  if (const char* version = mysql_get_server_info(mysql)) {
    facts.server_version = version;
  }
  if (const char* cipher = mysql_get_ssl_cipher(mysql)) {
    facts.tls_cipher = cipher;
    text = nullptr;
    if (mariadb_get_infov(mysql, MARIADB_CONNECTION_TLS_VERSION, &text) == 0 &&
        text != nullptr) {
      facts.tls_version = text;
    }
    my_bool verify = 0;
    facts.name_checked =
        mysql_get_optionv(mysql, MYSQL_OPT_SSL_VERIFY_SERVER_CERT, &verify) ==
            0 &&
        verify != 0;
    // The library checks the chain whenever it is given a CA.
    const char* ca = nullptr;
    const char* ca_path = nullptr;
    facts.certificate_checked =
        facts.name_checked ||
        (mysql_get_optionv(mysql, MYSQL_OPT_SSL_CA, &ca) == 0 && ca != nullptr &&
         *ca != '\0') ||
        (mysql_get_optionv(mysql, MYSQL_OPT_SSL_CAPATH, &ca_path) == 0 &&
         ca_path != nullptr && *ca_path != '\0');
  }
  return facts;
}

}  // namespace db
