// Presentation helpers of tabfetch-admin: showing the single-byte texts of
// tabfetch (Windows code page 1252) on a UTF-8 terminal, aligned tables, CSV
// fields and masked secrets.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace admin {

// `bytes` made readable on a terminal: bytes 0x80..0xFF become their
// code page 1252 characters in UTF-8, control bytes are shown as "\n", "\r",
// "\t" or "\xNN" (as are the five bytes 1252 leaves undefined), and a
// backslash as "\\", so that every shown text reads back unambiguously.
// Statements are shown with `escape_backslash` false, so that their SQL
// escapes read as the server reads them.
std::string DisplayText(std::string_view bytes, bool escape_backslash = true);

// `bytes` (the server's latin1, which is code page 1252) in UTF-8: 0x80..0xFF
// become their 1252 characters, the five bytes 1252 leaves undefined the
// control characters U+0081.. of ISO 8859-1; every byte below 0x80 stays.
std::string Latin1ToUtf8(std::string_view bytes);

// DisplayText in double quotes: "abc".
std::string Quoted(std::string_view bytes);

// The number of terminal columns a DisplayText result takes (one per
// character; DisplayText yields no wide or combining characters).
std::size_t DisplayWidth(std::string_view display_text);

// `display_text` followed by spaces up to `width` columns.
std::string PadRight(std::string_view display_text, std::size_t width);

// One CSV field (RFC 4180): enclosed in double quotes, inner quotes doubled,
// when it holds a comma, a double quote, CR or LF; otherwise as it is.
std::string CsvField(std::string_view bytes);

// `n` as an English word ("three") up to twelve, in digits above.
std::string CountWord(std::size_t n);

// "exit code N": how the messages name one of tabfetch's exit codes
// (common/exit_codes.h).
std::string ExitCodeText(int code);

// What a masked secret shows instead of its value: "******** (N characters)".
std::string MaskedValue(std::string_view value);

}  // namespace admin
