// tabfetch-admin: shows administrators what tabfetch will do with its
// settings file, its query definitions and its extract files.
#pragma once

#include <cstdio>

namespace admin {

// Exit codes of tabfetch-admin.
inline constexpr int kExitClean = 0;     // done, nothing to report
inline constexpr int kExitFindings = 1;  // done, with warnings or findings
inline constexpr int kExitError = 2;     // usage error, or not carried out

// Runs the command line `argv` (argv[0] is the program name) and returns the
// exit code. Reports go to `out`; usage errors and failures to `err`.
[[nodiscard]] int AdminMain(int argc, const char* const* argv, std::FILE* out,
                            std::FILE* err);

}  // namespace admin
