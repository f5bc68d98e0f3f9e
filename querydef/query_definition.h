// The query definition of a run: the SQL statement and the 30 column
// definitions of one section of TABFETCH.<DB_SYSTEM>.INI, with the terminal
// name put in place of the placeholder $parm01.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>

#include "querydef/column_definition.h"
#include "querydef/profile_reader.h"

namespace querydef {

inline constexpr int kOk = 0;
inline constexpr int kNoStatement = 3;      // the section holds no statement
inline constexpr int kTerminalRefused = 4;  // the terminal name may not stand
                                            // where $parm01 is

// The terminal name in the forms the substitution needs.
struct TerminalName {
  std::string_view plain;         // as given on the command line
  std::string_view escaped;       // escaped for a quoted SQL literal by the
                                  // connection (mysql_real_escape_string)
  bool backslash_escapes = true;  // false when the server runs with
                                  // NO_BACKSLASH_ESCAPES
  // The server's version as the client library reports it (10.11.19 =
  // 101119) and whether it is MySQL rather than MariaDB: they decide which
  // versioned comments "/*!NNNNN ... */" the server runs as code. With 0 the
  // statement must read the same for every version it mentions.
  uint32_t server_version = 0;
  bool mysql_server = false;
};

struct QueryDefinition {
  std::string statement;
  ColumnDefinitions columns;
  // The occurrences of $parm01 in the statement as loaded: each one replaced
  // when GetIniValues returns kOk, none when it returns kTerminalRefused.
  size_t placeholder_count = 0;
};

// Loads `section` of TABFETCH.<db_system>.INI in the working directory (see
// QueryDefinitionFileName) into `def`:
// - the statement from SQL001, SQL002, ... (each value cut to 199
//   characters), each preceded by one space, up to the first missing or
//   empty key, whose space ends the statement: " A B ";
// - the labels FELD01..30 (cut to 99), the types FTYP01..30 (cut to 4) and
//   the widths FLEN01..30 (the first 3 characters read like atoi);
// - then $parm01 replaced as SubstituteTerminal does.
// Returns kOk; kNoStatement when SQL001 is missing or empty (also for a
// missing file or section), with `def.columns` left as they were; or
// kTerminalRefused when SubstituteTerminal refuses the name. The columns are
// not cleared first: the caller empties them before the call.
// With `debug`, prints to `out` "Str GetIniValues\n", then (unless the
// statement is missing) "  >>>>> SQL-Statement <<<<<\n" and "  '%s'\n"
// with the statement before substitution, and on kOk "End GetIniValues\n".
[[nodiscard]] int GetIniValues(std::string_view section,
                               std::string_view db_system,
                               const TerminalName& terminal, bool debug,
                               std::FILE* out, QueryDefinition& def);

// The statement of `section` as GetIniValues builds it, before the
// substitution: " " when SQL001 is missing or empty.
std::string ReadStatement(const Profile& profile, std::string_view section);

// GetIniValues over an already loaded profile (file name aside, the same
// work and the same trace lines).
[[nodiscard]] int GetIniValuesFromProfile(const Profile& profile,
                                          std::string_view section,
                                          const TerminalName& terminal,
                                          bool debug, std::FILE* out,
                                          QueryDefinition& def);

// Replaces every occurrence of $parm01 (exact letter case) in `statement`,
// left to right; the inserted text is never searched again. Each occurrence
// is judged by where it stands in the statement as the server reads it:
// - inside a quoted string literal, `terminal.escaped` is inserted; where
//   the literal is double-quoted (an identifier under ANSI_QUOTES), a name
//   containing '"' is refused;
// - anywhere else (code, quoted identifier, comment, or a literal position
//   right behind an escaping backslash), `terminal.plain` is inserted, and
//   only if it consists of ASCII letters, digits and '_' (or is empty).
// Finally the result must read as the statement did: every original
// character keeps its class (code, literal, identifier, comment) and every
// inserted character stays inside the token of its placeholder.
// Returns kOk, or kTerminalRefused with `statement` unchanged. Sets
// `*placeholder_count`, when given, to the number of occurrences found: all
// of them replaced on kOk, none on kTerminalRefused.
[[nodiscard]] int SubstituteTerminal(std::string& statement,
                                     const TerminalName& terminal,
                                     size_t* placeholder_count = nullptr);

// The query definition file for `db_system`: "TABFETCH.<db_system>.INI" in
// the working directory or, where no file of exactly that name exists, the
// first (in byte order) whose name matches it ignoring ASCII letter case;
// '\' in `db_system` counts as a directory separator.
std::string QueryDefinitionFileName(std::string_view db_system);

}  // namespace querydef
