// The keys of a query definition section (made from a number, and read back
// into one), the placeholder, and how much of each value counts. tabfetch's
// loader and tabfetch-admin's checks both read them from here.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace querydef {

// Put in place of the terminal name; found by an exact, case-sensitive
// search.
inline constexpr std::string_view kPlaceholder = "$parm01";

// The legacy loader read each value into a fixed buffer: only this many
// characters of it count, the rest is cut off.
inline constexpr std::size_t kStatementLineChars = 199;  // SQLnnn
inline constexpr std::size_t kLabelChars = 99;           // FELDnn
inline constexpr std::size_t kTypeChars = 4;             // FTYPnn
inline constexpr std::size_t kWidthChars = 3;            // FLENnn: "1000" -> 100

// The section and the terminal name had 31-character fields in the legacy
// tool; longer names are refused rather than cut.
inline constexpr std::size_t kMaxNameLength = 31;

// The prefix of the statement lines; the line number follows in at least
// three digits.
inline constexpr std::string_view kStatementKeyPrefix = "SQL";

// The prefixes of the column keys; the column number follows in two digits.
inline constexpr std::string_view kLabelKey = "FELD";
inline constexpr std::string_view kTypeKey = "FTYP";
inline constexpr std::string_view kWidthKey = "FLEN";

// "SQL" and the line number formatted as "%03d": SQL001 ... SQL999, SQL1000.
inline std::string StatementKey(std::size_t line) {
  std::string digits = std::to_string(line);
  if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
  return std::string(kStatementKeyPrefix) + digits;
}

// `prefix` and the 1-based column number in two digits: ColumnKey("FELD", 7)
// is "FELD07".
inline std::string ColumnKey(std::string_view prefix, int column) {
  std::string key(prefix);
  key += static_cast<char>('0' + column / 10);
  key += static_cast<char>('0' + column % 10);
  return key;
}

// The other direction: what a key of a section names.
enum class KeyKind { kStatementLine, kLabel, kType, kWidth, kOther };

struct ParsedKey {
  KeyKind kind = KeyKind::kOther;  // by its prefix, in any letter case
  std::string_view prefix;         // kStatementKeyPrefix, kLabelKey, ...;
                                   // empty for kOther
  // The number after the prefix when that is 1 to 9 decimal digits (leading
  // zeros included), otherwise -1.
  int number = -1;
  // Whether the loader reads the key: it is, but for letter case, the key
  // that StatementKey (line 1 and up) or ColumnKey (column 1 to
  // kColumnCount) makes of `number`.
  bool read = false;
};

// Key names are compared without regard to ASCII letter case, as the
// loader's lookups compare them.
ParsedKey ParseKey(std::string_view name);

}  // namespace querydef
