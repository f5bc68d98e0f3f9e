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
  static bool loaded = false;
  if (loaded) return &server;
  TestServer s;
  if (!FindRunningServer("TABFETCH_TEST_SERVER_STATE", s, error)) {
    return nullptr;
  }
  ::setenv("MYSQL_UNIX_PORT", s.socket.c_str(), 1);
  ::setenv("MYSQL_TCP_PORT", std::to_string(s.port).c_str(), 1);
  server = s;
  loaded = true;
  return &server;
}

const TestServer* FindTlsTestServer(std::string* error) {
  static TestServer server;
  static bool loaded = false;
  if (loaded) return &server;
  TestServer s;
  if (!FindRunningServer("TABFETCH_TEST_TLS_SERVER_STATE", s, error)) {
    return nullptr;
  }
  if (s.certs.empty()) {
    *error = "the server of TABFETCH_TEST_TLS_SERVER_STATE has no certificates";
    return nullptr;
  }
  server = s;
  loaded = true;
  return &server;
}

std::string RunAdminSql(const std::string& sql) {
  std::string error;
  const TestServer* s = FindTestServer(&error);
  if (s == nullptr) return error;
  return RunAdminSqlOn(*s, sql);
}

std::string RunAdminSqlOn(const TestServer& server, const std::string& sql) {
  const TestServer* s = &server;
  std::unique_ptr<MYSQL, CloseMysql> m(mysql_init(nullptr));
  if (!m) return "mysql_init failed";
  mysql_options(m.get(), MYSQL_SET_CHARSET_NAME, "latin1");
  if (mysql_real_connect(m.get(), "localhost", "root", "", nullptr, 0,
                         s->socket.c_str(), CLIENT_MULTI_STATEMENTS) ==
      nullptr) {
    return mysql_error(m.get());
  }
  if (mysql_real_query(m.get(), sql.data(), sql.size()) != 0) {
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

}  // namespace testsupport
