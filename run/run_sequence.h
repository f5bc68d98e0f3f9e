// The run sequence: the program's only driver, from the command line to the
// summary line.
#pragma once

#include "run/run_state.h"

namespace run {

// Exit code when the terminal name may not stand where $parm01 stands in the
// statement (it would change the statement). Same as for a bad command line.
inline constexpr int kTerminalRefusedExit = 1;

// Runs the whole extract and returns the process exit code: 0 for a run that
// got as far as the connect (also after a failed connect, statement, read or
// write: callers rely on that), 1 or 2 for an unusable command line, 1 for a
// refused terminal name, 3 when the section holds no statement. All output
// goes to run.out.
[[nodiscard]] int Run(int argc, const char* const* argv, RunState& run);

}  // namespace run
