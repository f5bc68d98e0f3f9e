// Access to the throwaway MariaDB server that the CTest fixture `mariadb`
// starts (testsupport/throwaway_mariadb.sh) for the database tests.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace testsupport {

struct TestServer {
  std::string socket;    // unix socket path (MYSQL_UNIX_PORT)
  int port = 0;          // TCP port on 127.0.0.1 (MYSQL_TCP_PORT)
  std::string user;      // a user with all rights on PALVDATA
  std::string password;  // its password
  int pid = 0;           // the server process
  std::string state_dir; // where the fixture keeps server.env
  std::string certs;     // the TLS server's certificates (TABFETCH_DB_TLS=1)
};

// Reads STATE_DIR/server.env as throwaway_mariadb.sh start writes it.
// Returns false and sets `error` when it is missing or incomplete.
bool ReadServerState(const std::string& state_dir, TestServer& server,
                     std::string* error);

// Reads the server state named by the environment variable
// TABFETCH_TEST_SERVER_STATE, exports MYSQL_UNIX_PORT and MYSQL_TCP_PORT for
// the client library (it reads them once, at library initialisation, so this
// must run before the first connection) and checks that the server answers.
// Returns nullptr and sets `error` when the server is not available.
const TestServer* FindTestServer(std::string* error);

// The TLS server that the CTest fixture `mariadb_tls` starts (state named by
// TABFETCH_TEST_TLS_SERVER_STATE): TCP logins over TLS only, certificates in
// `certs` (ca.pem, other-ca.pem, client-cert.pem, client-key.pem),
// auth_ed25519 loaded. Unlike FindTestServer it leaves the library's
// defaults alone. Returns nullptr and sets `error` when it is not running.
const TestServer* FindTlsTestServer(std::string* error);

// Runs SQL as the server's root user over the socket, one statement after the
// other (`;`-separated statements are sent as one multi-statement call).
// Returns "" on success, otherwise the server's error text.
std::string RunAdminSql(const std::string& sql);
// The same on `server`.
std::string RunAdminSqlOn(const TestServer& server, const std::string& sql);
// The first column of the first row of `sql` on `server`, run as root (with
// `as_user`: as its user, asking for latin1 in the handshake as tabfetch
// does), or "" (also on an error or without rows).
std::string FirstValueOn(const TestServer& server, const std::string& sql,
                         bool as_user = false);

// Base class for tests that need the server (or, with UseTlsServer, the TLS
// server): a test fails (never skips) with a clear message when the server
// cannot be reached.
class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override { Require(FindTestServer, "mariadb"); }
  void UseTlsServer() { Require(FindTlsTestServer, "mariadb_tls"); }
  void Require(const TestServer* (*find)(std::string*), const char* fixture) {
    std::string error;
    server_ = find(&error);
    ASSERT_NE(server_, nullptr)
        << "The throwaway MariaDB server is not available: " << error
        << "\nRun the tests through ctest, which starts it (fixture '"
        << fixture << "', testsupport/throwaway_mariadb.sh).";
  }
  const TestServer& server() const { return *server_; }
  // Runs SQL as the server's root user; a failure fails the test.
  static void Sql(const std::string& sql) {
    ASSERT_EQ(RunAdminSql(sql), "") << sql;
  }

 private:
  const TestServer* server_ = nullptr;
};

}  // namespace testsupport
