// tabfetch-admin connect: connects exactly as tabfetch does (the settings
// file's host, user and password, the same option file and timeouts, the
// same call in db/) and shows how the connection was made. Never prints the
// password.
#include <cctype>
#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "admin/admin_main.h"
#include "admin/admin_text.h"
#include "admin/command_support.h"
#include "common/path_resolve.h"
#include "admin/commands.h"
#include "db/db_connection.h"
#include "querydef/query_definition.h"
#include "settings/connection_settings.h"

namespace admin {
namespace {

// The authentication plugins named in the text of SHOW CREATE USER: after
// "IDENTIFIED VIA" (MariaDB, alternatives joined by OR) or "IDENTIFIED
// WITH" (MySQL); "IDENTIFIED BY PASSWORD" or nothing is the native one.
// Only the names are taken, never what follows USING or AS.
std::string PluginsOf(std::string_view create_user) {
  auto word_at = [&](std::size_t pos) {
    std::size_t end = pos;
    while (end < create_user.size() &&
           (std::isalnum(static_cast<unsigned char>(create_user[end])) != 0 ||
            create_user[end] == '_')) {
      ++end;
    }
    return create_user.substr(pos, end - pos);
  };
  for (std::string_view marker : {"IDENTIFIED VIA ", "IDENTIFIED WITH "}) {
    std::size_t at = create_user.find(marker);
    if (at == std::string_view::npos) continue;
    std::string plugins;
    std::size_t pos = at + marker.size();
    for (;;) {
      // MySQL quotes the plugin name.
      if (pos < create_user.size() && create_user[pos] == '\'') ++pos;
      const std::string_view name = word_at(pos);
      if (name.empty()) break;
      plugins += (plugins.empty() ? "" : " or ") + std::string(name);
      // The next alternative, if any, follows " OR " outside quotes.
      bool quoted = false;
      std::size_t next = std::string_view::npos;
      for (std::size_t i = pos + name.size(); i < create_user.size(); ++i) {
        if (create_user[i] == '\'') quoted = !quoted;
        if (!quoted && create_user.compare(i, 4, " OR ") == 0) {
          next = i + 4;
          break;
        }
      }
      if (next == std::string_view::npos) break;
      pos = next;
    }
    if (!plugins.empty()) return plugins;
  }
  return "mysql_native_password";
}

// The first column of the first row of `sql`; false when it fails.
bool FirstValue(db::Connection& conn, std::string_view sql,
                std::string& value) {
  int status = conn.OpenQuery(sql);
  db::RowBuffer row;
  if (status == db::kOk) status = conn.FetchRow(row);
  value = std::string(row.slots[0]);
  (void)conn.CloseQuery();
  return status == db::kOk;
}

// The account's authentication plugin as the server shows it.
std::string AuthenticationPlugin(db::Connection& conn) {
  std::string text;
  if (!FirstValue(conn, "SHOW CREATE USER", text)) {
    return "unknown (SHOW CREATE USER failed: " + conn.LastError() + ")";
  }
  return PluginsOf(text) + " (the account's, from SHOW CREATE USER)";
}

// The session's sql_mode as the server reports it.
std::string SqlMode(db::Connection& conn) {
  std::string text;
  if (!FirstValue(conn, "SELECT @@SESSION.sql_mode", text)) return "unknown";
  return text.empty() ? "(empty)" : text;
}

std::string TerminalNames(const querydef::SqlSession& session) {
  const querydef::RefusalReason strict = querydef::StrictReason(session);
  if (strict != querydef::RefusalReason::kNone) {
    return "plain names only at every $parm01: " +
           querydef::ReasonText(strict, session);
  }
  return std::string(
             "any name inside a quoted literal, escaped for it (the session is "
             "latin1 and ") +
         (session.backslash_escapes ? "reads backslash escapes"
                                    : "has NO_BACKSLASH_ESCAPES: quotes are "
                                      "doubled") +
         "); plain names (ASCII letters, digits, _) elsewhere";
}

}  // namespace

int RunConnect(const Args& args, std::FILE* out, std::FILE* err) {
  db::Connection conn;
  settings::ConnectionSettings values;
  std::chrono::steady_clock::duration took{};
  if (!ConnectAsTabfetch(args, conn, values, "", err, &took)) {
    return kExitFindings;
  }

  const db::ConnectionFacts facts = conn.Facts();
  const querydef::SqlSession& session = conn.Session();
  PrintLine(out, "host:               " + Quoted(values.host) +
                     (values.host.empty() ? " (the default route)" : ""));
  PrintLine(out, "user:               " + Quoted(values.user));
  PrintLine(out, "reached over:       " + facts.route);
  PrintLine(out, "option file:        " +
                     (facts.option_file.empty()
                          ? std::string("none")
                          : common::AbsolutePath(facts.option_file)));
  PrintLine(out, "server version:     " + facts.server_version);
  PrintLine(out, "TLS:                " +
                     (facts.tls_cipher.empty()
                          ? std::string("not encrypted")
                          : facts.tls_version + ", cipher " + facts.tls_cipher));
  if (!facts.tls_cipher.empty()) {
    // A bare ssl-verify-server-cert reads as off: say how to turn it on.
    const char* kTurnOn =
        " (ssl-verify-server-cert=1 in the option file checks it; the key "
        "alone, without =1, reads as off)";
    PrintLine(out, std::string("server certificate: ") +
                       (facts.name_checked ? "verified (CA and name)"
                        : facts.certificate_checked
                            ? std::string("CA verified, name not checked") +
                                  kTurnOn
                            : std::string("not verified") + kTurnOn));
  }
  PrintLine(out, "authentication:     " + AuthenticationPlugin(conn));
  PrintLine(out, "character set:      " +
                     (session.known ? session.character_set_client +
                                          " (client), " +
                                          session.character_set_connection +
                                          " (connection)"
                                    : std::string("unknown")));
  PrintLine(out, "sql_mode:           " + SqlMode(conn));
  PrintLine(out, "terminal names:     " + TerminalNames(session));
  PrintLine(out,
            "connect time:       " +
                std::to_string(
                    std::chrono::duration_cast<std::chrono::milliseconds>(took)
                        .count()) +
                " ms");
  return kExitClean;
}

}  // namespace admin
