// Classifies every byte of an SQL statement the way the MariaDB server's
// lexer sees it (code, string literal, quoted identifier, comment) under the
// sql_mode flags that change it (ANSI_QUOTES, NO_BACKSLASH_ESCAPES, MSSQL's
// brackets) and a single-byte character set (latin1), so that
// the terminal name can be put into a statement without changing where its
// literals and comments begin and end. Used by the placeholder substitution.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace querydef {

enum class LexKind : uint8_t {
  kCode,
  kExecMarker,      // "/*!", "/*M!", its version digits, the closing "*/"
  kSingleQuoted,    // '...' string literal
  kDoubleQuoted,    // "..." string literal
  kAnsiIdentifier,  // "..." identifier (sql_mode ANSI_QUOTES)
  kBacktick,        // `...` identifier
  kBracket,         // [...] identifier (MariaDB's sql_mode MSSQL)
  kLineComment,     // "-- " or "#" up to the end of the line
  kBlockComment,    // /* ... */, also a versioned comment the server skips
};

enum class LexRole : uint8_t { kOpen, kBody, kClose };

inline constexpr size_t kNoToken = static_cast<size_t>(-1);

struct LexClass {
  LexKind kind = LexKind::kCode;
  LexRole role = LexRole::kBody;
  bool escaped = false;     // follows an escaping backslash in a literal
  size_t token = kNoToken;  // index of the token's first byte; kNoToken
                            // for code and executable-comment markers
};

// What the server's reading of a statement depends on.
struct LexMode {
  bool backslash_escapes = true;  // false under NO_BACKSLASH_ESCAPES
  bool ansi_quotes = false;       // '"' delimits identifiers
  // The server version as MariaDB numbers it (10.11.2 = 101102); decides
  // which versioned comments "/*!NNNNN ... */" are run as code.
  uint32_t server_version = 0;
  // A MySQL server, not MariaDB: it runs every "/*!NNNNN" up to its version
  // and reads "/*M!" as a plain comment.
  bool mysql = false;
  // MariaDB's sql_mode MSSQL: "[" opens an identifier that the next "]"
  // closes ("]]" stands for one "]"); quotes, "#", "--" and "/*" inside it
  // are ordinary characters, and so is a backslash.
  bool mssql_brackets = false;
};

// One class per byte of `text`.
std::vector<LexClass> ClassifySql(std::string_view text, const LexMode& mode);

// Server versions that together cover every way the versioned comments in
// each of `texts` can be read: 0 and each version number found after a
// "/*!" or "/*M!" marker (reading depends only on which of those numbers are
// at most the server's version).
std::vector<uint32_t> CandidateServerVersions(
    const std::vector<std::string_view>& texts);

}  // namespace querydef
