// How the server reads a statement sent on one connection: the session's
// character set and the sql_mode flags that change where string literals,
// identifiers and comments begin and end. The connection reads them back
// after the connect (db::Connection::Connect); the substitution of the
// terminal name follows them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace querydef {

struct SqlSession {
  // False when the session could not be read back (or the character set
  // could not be set): the statement may be read in any way, so only plain
  // names are put into it.
  bool known = false;
  // character_set_client and character_set_connection are both latin1, the
  // single-byte set the lexer and the escaping assume.
  bool latin1 = false;
  bool ansi_quotes = false;       // ANSI_QUOTES: "..." is an identifier
  bool backslash_escapes = true;  // false under NO_BACKSLASH_ESCAPES
  bool mssql_brackets = false;    // MariaDB's MSSQL: [...] is an identifier
  // The first sql_mode flag whose effect on reading the lexer does not
  // model (ORACLE, or a flag it does not know); empty when there is none.
  std::string unmodelled_flag;
  // As the library reports them; they decide which versioned comments
  // ("/*!NNNNN ... */") the server runs. 0: unknown, every version counts.
  uint32_t server_version = 0;
  bool mysql_server = false;  // MySQL rather than MariaDB
  // The session's character sets as read back, for the diagnostics.
  std::string character_set_client;
  std::string character_set_connection;
};

// The session described by the three values of
// "SELECT @@character_set_client, @@character_set_connection, @@sql_mode"
// (the server lists a combined mode such as MSSQL with the flags it implies)
// on a MariaDB server, or a MySQL one when `mysql_server`.
SqlSession DescribeSession(std::string_view character_set_client,
                           std::string_view character_set_connection,
                           std::string_view sql_mode, uint32_t server_version,
                           bool mysql_server);

}  // namespace querydef
