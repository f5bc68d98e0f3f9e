// Looks up one value in the shared settings file and deciphers it.
//
// The file is read as the legacy runtime's text mode delivered it (CR LF
// becomes LF, a lone CR is a data byte, 0x1A ends the input) and taken in
// pairs of lines from the top: a heading line "<ignored>;<heading name>;..."
// and an entry line "<entry number>;<key name>;<value text>". Other programs
// share the file, so its odd reading rules stay: blank lines count, a heading
// line is read in pieces of at most 199 characters and an entry line in
// pieces of at most 399 (line end included), and a longer line shifts the
// pairing of everything after it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace settings {

// The settings file, relative to the working directory, as callers write it.
inline constexpr char kSettingsPath[] = "..\\..\\Files\\Palventra.Ini";

// What a lookup found, for diagnostics.
struct SettingMatch {
  bool found = false;
  // errno when the file could not be opened or read (found is false then),
  // 0 when it was read, matching record or not.
  int file_error = 0;
  int heading_line = 0;      // 1-based physical line where the heading piece
  int entry_line = 0;        // and the entry piece begin
  std::string heading_name;  // empty also where an empty field never matches
  std::string key_name;
  std::string value_text;  // the hexadecimal text as it stands in the file
  int32_t entry_number = 0;
  std::string value;  // deciphered with kValueKey, up to its first zero byte
  // Which of the lookup's conditions held for this record; more than one may.
  // An empty heading name formed by two ';' side by side matches nothing,
  // so by_heading stays false for it although heading_name is empty.
  bool by_heading = false;
  bool by_key = false;
  bool by_entry = false;
};

// Scans the file at `path` (written with '\' or '/' separators; each
// component found ignoring letter case where the exact name is missing) and
// returns the first record whose heading name equals `heading`, or whose key
// name equals `key`, or whose entry number equals `entry_number`; comparisons
// are exact and case-sensitive. A heading line with fewer than two ';' has
// the empty heading name; an entry number without leading digits, or one that
// wraps to 0, reads 0. A missing, unreadable or empty file, or no match,
// gives found == false.
SettingMatch FindSetting(std::string_view heading, std::string_view key,
                         int32_t entry_number, std::string_view path);

// The first record whose key name equals `key`, whatever its heading name and
// entry number (by_key is set): the record a key's owner means, which
// FindSetting may never reach when an earlier record matches first.
SettingMatch FindSettingByKey(std::string_view key, std::string_view path);

// The deciphered value of FindSetting's record, or the empty text.
std::string ReadSetting(std::string_view heading, std::string_view key,
                        int32_t entry_number, std::string_view path);

// The 0-based position of the n-th occurrence (n from 1) of `c` in `text`.
// With at least one but fewer than n occurrences (or n < 1), the position of
// the last one; with none, -1.
int FindNthChar(std::string_view text, char c, int n);

}  // namespace settings
