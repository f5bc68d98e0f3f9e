// Causes and diagnostics for the administrator. Standard output is the
// callers' contract and keeps the legacy texts byte for byte; every cause
// goes to standard error instead, one line each, starting with "tabfetch: ".
#pragma once

#include <cstdio>

namespace common {

// Prints "tabfetch: " and the printf-formatted text, then a line feed, to
// `err`. Does nothing when `err` is null.
void Diagnose(std::FILE* err, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

}  // namespace common
