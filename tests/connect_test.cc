// How tabfetch connects: the option file read by the client library, TLS,
// authentication plugins, the connect and read timeouts, and
// tabfetch-admin connect, against the TLS throwaway server (TCP logins over
// TLS only; its Unix socket counts as secure and serves the plain cases).
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "testsupport/fault_support.h"
#include "testsupport/throwaway_mariadb.h"
#include "testsupport/workspace.h"

namespace {

using testsupport::ToolResult;

// One 80-byte record: who connected and the session's cipher ("" when not
// encrypted).
constexpr char kWhoDefinition[] =
    "[WER]\n"
    "SQL001=SELECT CONCAT(CURRENT_USER(), '/', VARIABLE_VALUE)\n"
    "SQL002=FROM information_schema.SESSION_STATUS\n"
    "SQL003=WHERE VARIABLE_NAME = 'Ssl_cipher'\n"
    "FELD01=Wer\nFTYP01=TXT\nFLEN01=80\n"
    "\n"
    // Rows of 20000 bytes are sent at once; the third takes 15 s.
    "[STOCKT]\n"
    "SQL001=SELECT REPEAT('x', 20000), IF(seq = 3, SLEEP(15), 0)\n"
    "SQL002=FROM seq_1_to_5\n"
    "FELD01=X\nFTYP01=CHAR\nFLEN01=5\n"
    "\n"
    "[SPAET]\n"
    "SQL001=SELECT SLEEP(15)\n"
    "FELD01=X\nFTYP01=CHAR\nFLEN01=5\n";

std::string LoginName() {
  if (geteuid() == 0) return "root";
  const passwd* entry = getpwuid(geteuid());
  return entry != nullptr ? entry->pw_name : "";
}

class ConnectTest : public testsupport::ServerTest {
 protected:
  void SetUp() override {
    UseTlsServer();
    if (HasFatalFailure()) return;
    ws_.WriteQueryDefinition("MARIADB", kWhoDefinition);
    ws_.WriteFile("out.txt", "OLD");
  }

  const testsupport::TestServer& tls() const { return server(); }

  void Settings(const std::string& host, const std::string& user,
                const std::string& password = "") const {
    ws_.WriteSettings({host, user,
                       password.empty() ? tls().password : password,
                       "MARIADB"});
  }

  // Writes `content` ($CERTS: the certificates' directory, $PORT: the
  // server's TCP port) as `name`.
  void OptionFile(const std::string& name, const std::string& content) const {
    using testsupport::ReplaceAll;
    ws_.WriteFile(name, ReplaceAll(ReplaceAll(content, "$CERTS", tls().certs),
                                   "$PORT", std::to_string(tls().port)));
  }

  // The server's socket and port as the library's defaults, strict exit
  // codes, and `more` (set after them, so that it wins).
  std::vector<std::string> Env(const std::vector<std::string>& more = {}) const {
    std::vector<std::string> env = {
        "MYSQL_UNIX_PORT=" + tls().socket,
        "MYSQL_TCP_PORT=" + std::to_string(tls().port),
        "TABFETCH_STRICT_EXIT=1"};
    env.insert(env.end(), more.begin(), more.end());
    return env;
  }

  ToolResult Run(const std::string& section,
                 const std::vector<std::string>& env) {
    return ws_.Run({section, "KASSE1", "out.txt", "1"}, Env(env));
  }

  // The record of section WER, blanks at its end dropped.
  std::string Who() const {
    std::string record = ws_.ReadFile("out.txt");
    record.erase(record.find_last_not_of(' ') + 1);
    return record;
  }

  testsupport::Workspace ws_;
};

constexpr char kVerified[] =
    "[client]\nssl-ca=$CERTS/ca.pem\nssl-verify-server-cert=1\n";

TEST_F(ConnectTest, OptionFileDecidesHowNeverWho) {
  struct Case {
    const char* name;
    std::string host, user;
    std::string option_file;  // "": none
    int status;               // dbConnect_Status, 0 when it connects
    std::string err;          // part of standard error after a failure
    std::string who;          // the start of the record after a success
    bool encrypted;
  };
  const std::string user = tls().user;
  const Case cases[] = {
      // A plain TCP login is refused with the server's answer, which does
      // not say TLS.
      {"no option file", "127.0.0.1", user, "", 1045, "Access denied",
       "", false},
      {"CA verified", "127.0.0.1", user, kVerified, 0, "", user + "@", true},
      // The certificate names localhost too; the port from the file.
      {"CA verified, localhost over TCP", "localhost", user,
       "[client]\nssl-ca=$CERTS/ca.pem\nssl-verify-server-cert=1\n"
       "[tabfetch]\nprotocol=tcp\nport=$PORT\n",
       0, "", user + "@", true},
      {"wrong CA", "127.0.0.1", user,
       "[client]\nssl-ca=$CERTS/other-ca.pem\nssl-verify-server-cert=1\n",
       2026, "certificate", "", false},
      {"key file that is no key", "127.0.0.1", user + "_x509",
       "[client]\nssl-ca=$CERTS/ca.pem\nssl-cert=$CERTS/client-cert.pem\n"
       "ssl-key=$CERTS/ca.pem\n",
       2026, "TLS", "", false},
      {"REQUIRE X509 with a client certificate", "127.0.0.1", user + "_x509",
       "[client]\nssl-ca=$CERTS/ca.pem\nssl-verify-server-cert=1\n"
       "[tabfetch]\nssl-cert=$CERTS/client-cert.pem\n"
       "ssl-key=$CERTS/client-key.pem\n",
       0, "", user + "_x509@", true},
      {"REQUIRE X509 without one", "127.0.0.1", user + "_x509", kVerified,
       1045, "Access denied", "", false},
      {"ed25519 over TLS", "127.0.0.1", user + "_ed25519", kVerified, 0, "",
       user + "_ed25519@", true},
      {"ed25519 over the socket", "localhost", user + "_ed25519", "", 0,
       "", user + "_ed25519@localhost/", false},
      // The option file's user, password and host never apply.
      {"user= ignored", "127.0.0.1", user,
       "[client]\nuser=root\npassword=\n[tabfetch]\nuser=root\n"
       "ssl-ca=$CERTS/ca.pem\n",
       0, "", user + "@", true},
      {"user= ignored for an empty LOGIN", "localhost", "",
       "[client]\nuser=" + user + "\n", 1045,
       "Access denied for user '" + LoginName() + "'@", "", false},
      {"host= ignored for an empty NET8", "", user,
       "[client]\nhost=127.0.0.1\n", 0, "", user + "@localhost/", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Settings(c.host, c.user);
    std::vector<std::string> env;
    if (!c.option_file.empty()) {
      OptionFile("tabfetch.cnf", c.option_file);
      env.push_back("TABFETCH_DEFAULTS_FILE=tabfetch.cnf");
    }
    ws_.WriteFile("out.txt", "OLD");
    const ToolResult r = Run("WER", env);
    if (c.status != 0) {
      EXPECT_EQ(r.out, "dbConnect_Status: " + std::to_string(c.status) + "\n");
      EXPECT_EQ(r.exit_code, 10);
      EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
      EXPECT_EQ(ws_.ReadFile("out.txt"), "OLD");
      continue;
    }
    EXPECT_EQ(r.out, "1 Saetze kopiert in Datei out.txt \n") << r.err;
    EXPECT_EQ(r.exit_code, 0);
    const std::string who = Who();
    EXPECT_EQ(who.rfind(c.who, 0), 0u) << who;
    // The cipher follows the '/'.
    EXPECT_EQ(who.size() > who.find('/') + 1, c.encrypted) << who;
  }
}

// A connect that fails before the server or within the connect timeout; a
// result that the read timeout breaks off, in the middle of the rows and
// before the first one. Each with one cause line that names it.
TEST_F(ConnectTest, ConnectAndReadFailWithinTheirTimeouts) {
  // A listener that accepts and never sends the server's greeting.
  const testsupport::LoopbackPort mute(true);
  ASSERT_NE(mute.port(), "");
  const std::string connect_failed =
      "tabfetch: cannot connect to the database on host \"127.0.0.1\": error ";

  struct Case {
    const char* name;
    const char* section;
    std::vector<std::string> env;
    std::string out;
    int exit_code;
    std::vector<std::string> err;  // parts of the one standard-error line
  };
  const Case cases[] = {
      {"named option file missing", "WER",
       {"TABFETCH_DEFAULTS_FILE=missing.cnf"}, "dbConnect_Status: 5004\n", 10,
       {connect_failed + "5004: ", "option file missing.cnf",
        "No such file or directory"}},
      // A line feed in the name stays inside the one cause line.
      {"named option file with a line feed", "WER",
       {"TABFETCH_DEFAULTS_FILE=a\nb.cnf"}, "dbConnect_Status: 5004\n", 10,
       {connect_failed + "5004: ", "option file a\\x0Ab.cnf",
        "No such file or directory\n"}},
      {"named option file is a directory", "WER",
       {"TABFETCH_DEFAULTS_FILE=" + ws_.cwd()}, "dbConnect_Status: 5005\n", 10,
       {connect_failed + "5005: ", "option file " + ws_.cwd(),
        "Is a directory"}},
      // The test's own MYSQL_TCP_PORT comes after the server's and wins.
      {"server never greets", "WER",
       {"TABFETCH_CONNECT_TIMEOUT=2", "MYSQL_TCP_PORT=" + mute.port()},
       "dbConnect_Status: 2013\n", 10,
       {connect_failed + "2013: ", "the connect timeout passed"}},
      {"read timeout in the middle of the rows", "STOCKT",
       {"TABFETCH_READ_TIMEOUT=2"}, "0 Saetze kopiert in Datei out.txt \n", 12,
       {"tabfetch: ", "error 2013: ", "read timeout of 2 s"}},
      {"read timeout before the first row", "SPAET",
       {"TABFETCH_READ_TIMEOUT=2"}, "0 Saetze kopiert in Datei out.txt \n", 12,
       {"tabfetch: ", "error 2013: ", "read timeout of 2 s"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Settings(c.section == std::string("WER") ? "127.0.0.1" : "localhost",
             tls().user);
    ws_.WriteFile("out.txt", "OLD");
    // The cause line shows which timeout ended the run; a timeout that
    // never fires hangs the run into the test's own time limit.
    const ToolResult r = Run(c.section, c.env);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.exit_code, c.exit_code);
    EXPECT_EQ(r.err.rfind(c.err.front(), 0), 0u) << r.err;
    for (const std::string& part : c.err) {
      EXPECT_NE(r.err.find(part), std::string::npos) << r.err;
    }
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    EXPECT_EQ(ws_.ReadFile("out.txt"), "OLD");
  }
}

TEST_F(ConnectTest, AdminConnectShowsHowItConnected) {
  struct Case {
    const char* name;
    std::string host, password;
    const char* option_file;
    int exit_code;
    std::vector<std::string> lines;  // parts of standard output, in order
  };
  const Case cases[] = {
      {"socket, no option file", "localhost", "", nullptr, 0,
       {"host:               \"localhost\"\n",
        "reached over:       socket " + tls().socket + "\n",
        "option file:        none\n", "server version:     10.",
        "TLS:                not encrypted\n",
        "authentication:     mysql_native_password",
        "character set:      latin1 (client), latin1 (connection)\n",
        "sql_mode:           ", "terminal names:     any name inside a quoted",
        "connect time:       "}},
      {"TLS, verified", "127.0.0.1", "", kVerified, 0,
       {"reached over:       TCP 127.0.0.1:" + std::to_string(tls().port) +
            "\n",
        "option file:        " + ws_.cwd() + "/tabfetch.cnf\n",
        "TLS:                TLSv1.", ", cipher ",
        "server certificate: verified (CA and name)\n"}},
      {"TLS, bare ssl-verify-server-cert", "127.0.0.1", "",
       "[client]\nssl-ca=$CERTS/ca.pem\nssl-verify-server-cert\n", 0,
       {"server certificate: CA verified, name not checked", "reads as off"}},
      {"refused", "127.0.0.1", "falsch", nullptr, 1, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Settings(c.host, tls().user, c.password);
    std::vector<std::string> env;
    if (c.option_file != nullptr) {
      OptionFile("tabfetch.cnf", c.option_file);
      env.push_back("TABFETCH_DEFAULTS_FILE=tabfetch.cnf");
    }
    const ToolResult r = testsupport::RunTool(TABFETCH_ADMIN, ws_.cwd(),
                                              {"connect"}, Env(env));
    EXPECT_EQ(r.exit_code, c.exit_code) << r.err;
    std::size_t at = 0;
    for (const std::string& line : c.lines) {
      at = r.out.find(line, at);
      EXPECT_NE(at, std::string::npos) << line << "\n" << r.out;
    }
    if (c.exit_code != 0) {
      EXPECT_EQ(r.out, "");
      EXPECT_NE(r.err.find("error 1045: Access denied"), std::string::npos)
          << r.err;
    }
    EXPECT_EQ(r.out.find(tls().password), std::string::npos);
    EXPECT_EQ(r.err.find(tls().password), std::string::npos);
  }
}

}  // namespace
