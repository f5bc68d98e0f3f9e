// Reading the session's character set and sql_mode into what the lexer
// models.
#include "querydef/sql_session.h"

#include <string>

#include "common/ascii_case.h"

namespace querydef {
namespace {

// Flags that leave every string literal, identifier and comment where it
// is: they change types, dates, errors, operator meaning (PIPES_AS_CONCAT,
// HIGH_NOT_PRECEDENCE), function-name spacing (IGNORE_SPACE) or SHOW output.
// The combined modes ANSI, DB2, MAXDB, POSTGRESQL and TRADITIONAL only add
// the flags they imply, which the server lists beside them. Checked on
// MariaDB 10.11 against quotes, backslashes, "#", "-- ", "/* */", versioned
// comments and "[...]"; the MySQL 8 names are included.
constexpr std::string_view kNeutralFlags =
    ",ALLOW_INVALID_DATES,ANSI,DB2,EMPTY_STRING_IS_NULL,"
    "ERROR_FOR_DIVISION_BY_ZERO,HIGH_NOT_PRECEDENCE,IGNORE_BAD_TABLE_OPTIONS,"
    "IGNORE_SPACE,MAXDB,MYSQL323,MYSQL40,NO_AUTO_CREATE_USER,"
    "NO_AUTO_VALUE_ON_ZERO,NO_DIR_IN_CREATE,NO_ENGINE_SUBSTITUTION,"
    "NO_FIELD_OPTIONS,NO_KEY_OPTIONS,NO_TABLE_OPTIONS,NO_UNSIGNED_SUBTRACTION,"
    "NO_ZERO_DATE,NO_ZERO_IN_DATE,ONLY_FULL_GROUP_BY,PAD_CHAR_TO_FULL_LENGTH,"
    "PIPES_AS_CONCAT,POSTGRESQL,REAL_AS_FLOAT,SIMULTANEOUS_ASSIGNMENT,"
    "STRICT_ALL_TABLES,STRICT_TRANS_TABLES,TIME_ROUND_FRACTIONAL,"
    "TIME_TRUNCATE_FRACTIONAL,TRADITIONAL,";

bool IsNeutral(std::string_view flag) {
  const std::string key = "," + common::AsciiUpper(flag) + ",";
  return kNeutralFlags.find(key) != std::string_view::npos;
}

}  // namespace

SqlSession DescribeSession(std::string_view character_set_client,
                           std::string_view character_set_connection,
                           std::string_view sql_mode, uint32_t server_version,
                           bool mysql_server) {
  SqlSession s;
  s.known = true;
  s.character_set_client = std::string(character_set_client);
  s.character_set_connection = std::string(character_set_connection);
  s.latin1 = common::EqualsIgnoreAsciiCase(character_set_client, "latin1") &&
             common::EqualsIgnoreAsciiCase(character_set_connection, "latin1");
  s.server_version = server_version;
  s.mysql_server = mysql_server;

  size_t start = 0;
  while (start <= sql_mode.size()) {
    size_t comma = sql_mode.find(',', start);
    if (comma == std::string_view::npos) comma = sql_mode.size();
    const std::string_view flag = sql_mode.substr(start, comma - start);
    start = comma + 1;
    if (flag.empty()) continue;
    if (common::EqualsIgnoreAsciiCase(flag, "ANSI_QUOTES")) {
      s.ansi_quotes = true;
    } else if (common::EqualsIgnoreAsciiCase(flag, "NO_BACKSLASH_ESCAPES")) {
      s.backslash_escapes = false;
    } else if (common::EqualsIgnoreAsciiCase(flag, "MSSQL") && !mysql_server) {
      // MySQL 5.7 knew the flag without the brackets; it stays unmodelled
      // there rather than trusted on hearsay.
      s.mssql_brackets = true;
    } else if (!IsNeutral(flag) && s.unmodelled_flag.empty()) {
      s.unmodelled_flag = std::string(flag);
    }
  }
  return s;
}

}  // namespace querydef
