// Reads the throwaway server's state file and talks to the server as root.
#include "testsupport/throwaway_mariadb.h"

#include <mysql.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <signal.h>

namespace testsupport {
namespace {

std::string Unquote(std::string v) {
  if (v.size() >= 2 && v.front() == '\'' && v.back() == '\'') {
    v = v.substr(1, v.size() - 2);
  }
  return v;
}

struct CloseMysql {
  void operator()(MYSQL* m) const { mysql_close(m); }
};

}  // namespace

bool ReadServerState(const std::string& state_dir, TestServer& server,
                     std::string* error) {
  const std::string env_path = state_dir + "/server.env";
  std::ifstream f(env_path);
  if (!f) {
    *error = "no server state file " + env_path + " (did the server start?)";
    return false;
  }
  TestServer s;
  s.state_dir = state_dir;
  std::string line;
  while (std::getline(f, line)) {
    auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq);
    std::string value = Unquote(line.substr(eq + 1));
    if (key == "MYSQL_UNIX_PORT") s.socket = value;
    if (key == "MYSQL_TCP_PORT") s.port = std::atoi(value.c_str());
    if (key == "TABFETCH_DB_USER") s.user = value;
    if (key == "TABFETCH_DB_PASSWORD") s.password = value;
    if (key == "TABFETCH_DB_PID") s.pid = std::atoi(value.c_str());
    if (key == "TABFETCH_DB_CERTS") s.certs = value;
  }
  if (s.socket.empty() || s.port == 0 || s.pid == 0) {
    *error = "incomplete server state file " + env_path;
    return false;
  }
  server = s;
  return true;
}

namespace {

// The running server whose state directory the environment variable
// `variable` names.
bool FindRunningServer(const char* variable, TestServer& s,
                       std::string* error) {
  const char* state = std::getenv(variable);
  if (state == nullptr || *state == '\0') {
    *error = std::string(variable) + " is not set";
    return false;
  }
  if (!ReadServerState(state, s, error)) return false;
  if (::kill(s.pid, 0) != 0) {
    *error = "the server process " + std::to_string(s.pid) + " is not running";
    return false;
  }
  return true;
}

}  // namespace

const TestServer* FindTestServer(std::string* error) {
  static TestServer server;
  if (server.pid == 0) {
    TestServer s;
    if (!FindRunningServer("TABFETCH_TEST_SERVER_STATE", s, error)) {
      return nullptr;
    }
    ::setenv("MYSQL_UNIX_PORT", s.socket.c_str(), 1);
    ::setenv("MYSQL_TCP_PORT", std::to_string(s.port).c_str(), 1);
    server = s;
  }
  return &server;
}

const TestServer* FindTlsTestServer(std::string* error) {
  static TestServer server;
  if (server.pid == 0) {
    TestServer s;
    if (!FindRunningServer("TABFETCH_TEST_TLS_SERVER_STATE", s, error)) {
      return nullptr;
    }
    if (s.certs.empty()) {
      *error = "the server of TABFETCH_TEST_TLS_SERVER_STATE has no "
               "certificates";
      return nullptr;
    }
    server = s;
  }
  return &server;
}

std::string RunAdminSql(const std::string& sql) {
  std::string error;
  const TestServer* s = FindTestServer(&error);
  if (s == nullptr) return error;
  return RunAdminSqlOn(*s, sql);
}

namespace {

using MysqlPtr = std::unique_ptr<MYSQL, CloseMysql>;

// A connection to `server` over its socket, as root or (with `as_user`) as
// its user, asking for latin1 in the handshake as tabfetch does; nullptr
// when mysql_init failed, else check mysql_errno.
MysqlPtr Connect(const TestServer& server, bool as_user,
                 unsigned long flags = 0) {
  MysqlPtr m(mysql_init(nullptr));
  if (!m) return m;
  mysql_options(m.get(), MYSQL_SET_CHARSET_NAME, "latin1");
  mysql_real_connect(m.get(), "localhost",
                     as_user ? server.user.c_str() : "root",
                     as_user ? server.password.c_str() : "", nullptr, 0,
                     server.socket.c_str(), flags);
  return m;
}

}  // namespace

std::string RunAdminSqlOn(const TestServer& server, const std::string& sql) {
  MysqlPtr m = Connect(server, false, CLIENT_MULTI_STATEMENTS);
  if (!m) return "mysql_init failed";
  if (mysql_errno(m.get()) != 0 ||
      mysql_real_query(m.get(), sql.data(), sql.size()) != 0) {
    return mysql_error(m.get());
  }
  // Drain every result of a multi-statement call, stopping at the first error.
  do {
    if (MYSQL_RES* r = mysql_store_result(m.get())) mysql_free_result(r);
    if (mysql_errno(m.get()) != 0) return mysql_error(m.get());
  } while (mysql_next_result(m.get()) == 0);
  if (mysql_errno(m.get()) != 0) return mysql_error(m.get());
  return "";
}

std::string FirstValueOn(const TestServer& server, const std::string& sql,
                         bool as_user) {
  MysqlPtr m = Connect(server, as_user);
  if (!m || mysql_errno(m.get()) != 0 ||
      mysql_real_query(m.get(), sql.data(), sql.size()) != 0) {
    return "";
  }
  std::string value;
  if (MYSQL_RES* r = mysql_store_result(m.get())) {
    MYSQL_ROW row = mysql_fetch_row(r);
    if (row != nullptr && mysql_num_fields(r) > 0 && row[0] != nullptr) {
      value = row[0];
    }
    mysql_free_result(r);
  }
  return value;
}

}  // namespace testsupport
