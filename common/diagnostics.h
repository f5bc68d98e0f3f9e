// Causes and diagnostics for the administrator. Standard output is the
// callers' contract and keeps the legacy texts byte for byte; every cause
// goes to standard error instead, one line each, starting with "tabfetch: ".
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace common {

// Prints "tabfetch: " and the printf-formatted text, its control characters
// shown as by Printable (so the cause stays one line), then a line feed, to
// `err`. Does nothing when `err` is null.
void Diagnose(std::FILE* err, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// `text` fit for one diagnostic line: each control character (below 0x20,
// and 0x7F) written as \xNN, every other byte as it is.
std::string Printable(std::string_view text);

}  // namespace common
