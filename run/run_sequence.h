// The run sequence: the program's only driver, from the command line to the
// summary line.
#pragma once

#include "run/run_state.h"

namespace run {

// Exit codes of a query definition that cannot be run: a section without
// statement (or no query definition file) ended the legacy tool with 3; a
// terminal name that may not stand where $parm01 stands in the statement (it
// would change the statement) ends like a bad command line.
inline constexpr int kNoStatementExit = 3;
inline constexpr int kTerminalRefusedExit = 1;

// Runs the whole extract and returns the process exit code: 0 for a run that
// got as far as the connect (also after a failed connect, statement, read or
// write: callers rely on that), 1 or 2 for an unusable command line, 1 for a
// refused terminal name, 3 when the section holds no statement. All output
// goes to run.out.
[[nodiscard]] int Run(int argc, const char* const* argv, RunState& run);

}  // namespace run
