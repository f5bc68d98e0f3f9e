// The query definition of a run: the SQL statement and the 30 column
// definitions of one section of TABFETCH.<DB_SYSTEM>.INI, with the terminal
// name put in place of the placeholder $parm01.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "querydef/column_definition.h"
#include "querydef/profile_reader.h"
#include "querydef/sql_session.h"

namespace querydef {

inline constexpr int kOk = 0;
inline constexpr int kNoStatement = 3;      // the section holds no statement
inline constexpr int kTerminalRefused = 4;  // the terminal name may not stand
                                            // where $parm01 is

// The terminal name in the forms the substitution needs, and how the server
// reads the statement it goes into.
struct TerminalName {
  std::string_view plain;  // as given on the command line
  // `plain` escaped with backslashes for a quoted literal by the connection
  // (mysql_real_escape_string on the latin1 session); used only where the
  // session reads backslash escapes. Under NO_BACKSLASH_ESCAPES the
  // substitution doubles the literal's own quote character instead.
  std::string escaped;
  // The session the statement is sent on. Default: unknown, so only plain
  // names are put in (see SubstituteTerminal).
  SqlSession session;
};

// Why a terminal name was refused, and at which placeholder.
enum class RefusalReason : uint8_t {
  kNone,
  kNotPlain,          // not a plain name where it would be code, an
                      // identifier or a comment
  kSessionUnknown,    // the session could not be set up or read back
  kSessionNotLatin1,  // the session's character set is not latin1
  kUnmodelledMode,    // an sql_mode flag the lexer does not model
  kChangesReading,    // the statement would read differently with it
  kTooManyVersions,   // too many versioned comments to try every reading
};

struct Refusal {
  RefusalReason reason = RefusalReason::kNone;
  size_t occurrence = 0;  // 1-based number of the refused $parm01
  size_t offset = 0;      // its byte offset in the statement as loaded
};

// One line for standard error: which placeholder and why, e.g.
// "terminal name refused at $parm01 no. 1 (byte 40 of the statement): not a
// plain name (ASCII letters, digits, _) where it would be code, an
// identifier or a comment".
std::string RefusalText(const Refusal& refusal, const SqlSession& session);

// Why only plain names are accepted at every placeholder on `session`
// (unknown, not latin1, an sql_mode flag not modelled), or kNone when names
// are judged by where they stand.
RefusalReason StrictReason(const SqlSession& session);
// The reason as RefusalText words it, without the placeholder.
std::string ReasonText(RefusalReason reason, const SqlSession& session);

// Why GetIniValues found no statement.
enum class NoStatementReason : uint8_t {
  kNone,
  kFileUnreadable,  // the query definition file is missing or unreadable
  kNoSection,       // the file has no such section
  kNoFirstLine,     // the section has no SQL001
  kEmptyFirstLine,  // its SQL001 is empty
};

struct QueryDefinition {
  std::string statement;
  ColumnDefinitions columns;
  // The file GetIniValues read (as found, relative to the working
  // directory) and its errno when it could not be read.
  std::string file;
  int file_error = 0;
  // Set when GetIniValues returns kNoStatement.
  NoStatementReason no_statement = NoStatementReason::kNone;
  // The occurrences of $parm01 in the statement as loaded: each one replaced
  // when GetIniValues returns kOk, none when it returns kTerminalRefused.
  size_t placeholder_count = 0;
  Refusal refusal;  // set when GetIniValues returns kTerminalRefused
};

// One line for standard error: why `def` has no statement, with the file's
// absolute path, e.g. "query definition file /srv/x/TABFETCH.MARIADB.INI has
// no section [UMSATZ] ...".
std::string NoStatementText(const QueryDefinition& def,
                            std::string_view section);

// Loads `section` of TABFETCH.<db_system>.INI in the working directory (see
// QueryDefinitionFileName) into `def`:
// - the statement from SQL001, SQL002, ... (each value cut to 199
//   characters), each preceded by one space, up to the first missing or
//   empty key, whose space ends the statement: " A B ";
// - the labels FELD01..30 (cut to 99), the types FTYP01..30 (cut to 4) and
//   the widths FLEN01..30 (the first 3 characters read like atoi);
// - then $parm01 replaced as SubstituteTerminal does.
// Returns kOk; kNoStatement when SQL001 is missing or empty (also for a
// missing file or section; why in `def.no_statement`), with `def.columns`
// left as they were; or
// kTerminalRefused when SubstituteTerminal refuses the name (why in
// `def.refusal`). The columns are
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
// is judged by where it stands in the statement as the server reads it under
// `terminal.session` (every reading the session allows when it is unknown):
// - when the session is unknown, not latin1, or has an sql_mode flag the
//   lexer does not model, only a plain name (ASCII letters, digits, '_'; not
//   empty) is accepted, and inserted as it is, wherever it stands;
// - otherwise, inside a quoted string literal the name is escaped for that
//   literal: `terminal.escaped` with backslash escapes, else the literal's
//   quote character doubled;
// - anywhere else (code, quoted identifier, comment, or a literal position
//   right behind an escaping backslash), `terminal.plain` is inserted, and
//   only if it consists of ASCII letters, digits and '_' (or is empty).
// Finally the result must read as the statement did: every original
// character keeps its class (code, literal, identifier, comment) and every
// inserted character stays inside the token of its placeholder.
// Returns kOk, or kTerminalRefused with `statement` unchanged and, when
// `why` is given, the reason and the placeholder in it. Sets
// `*placeholder_count`, when given, to the number of occurrences found: all
// of them replaced on kOk, none on kTerminalRefused.
[[nodiscard]] int SubstituteTerminal(std::string& statement,
                                     const TerminalName& terminal,
                                     Refusal* why = nullptr,
                                     size_t* placeholder_count = nullptr);

// The query definition file for `db_system`: "TABFETCH.<db_system>.INI" in
// the working directory or, where no file of exactly that name exists, the
// first (in byte order) whose name matches it ignoring ASCII letter case;
// '\' in `db_system` counts as a directory separator.
std::string QueryDefinitionFileName(std::string_view db_system);

// The name as the legacy tool made it, "TABFETCH.<db_system>.INI", before
// the path treatment.
std::string LegacyQueryDefinitionName(std::string_view db_system);

}  // namespace querydef
