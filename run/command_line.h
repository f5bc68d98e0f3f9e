// The command line: <section> <terminal name> <extract file> <0|1> [/D]
#pragma once

#include <string>

#include "common/exit_codes.h"
#include "querydef/definition_keys.h"
#include "run/run_state.h"

namespace run {

// GetParameters' results: kUsable, or the exit code of the unusable command
// line (common/exit_codes.h).
inline constexpr int kUsable = 0;
inline constexpr int kTooFewArguments = common::kTooFewArgumentsExit;
inline constexpr int kBadReplaceFlag = common::kBadReplaceFlagExit;
inline constexpr int kNameTooLong = common::kNameTooLongExit;

using querydef::kMaxNameLength;

// Checks the command line (argc counts the program name) and stores it in
// `run`. On an unusable command line prints the banner, the error line, an
// empty line and the usage text to run.out and returns kTooFewArguments,
// kBadReplaceFlag or kNameTooLong; run is left unchanged then. With a fifth
// argument of /D in any letter case switches tracing on and prints
// " Aktiviert Debugger\n".
[[nodiscard]] int GetParameters(int argc, const char* const* argv,
                                RunState& run);

void PrintBanner(std::FILE* out);
void PrintUsage(std::FILE* out);

// Upper-cases `text` in place (ASCII letters a to z only) and returns it.
std::string& StrToUpper(std::string& text);

}  // namespace run
