// The run sequence: the program's only driver, from the command line to the
// summary line.
#pragma once

#include "common/exit_codes.h"
#include "run/run_state.h"

namespace run {

// The exit codes the run ends with (common/exit_codes.h).
using common::kConnectFailedExit;
using common::kExtractFailedExit;
using common::kNoStatementExit;
using common::kReadFailedExit;
using common::kRunEndedExit;
using common::kStatementFailedExit;
using common::kTerminalRefusedExit;

// Runs the whole extract and returns the process exit code: 0 for a run that
// got as far as the connect (also after a failed connect, statement, read or
// write: callers rely on that; under run.env.strict_exit those end with the
// codes above), 1 or 2 for an unusable command line, 1 for a refused
// terminal name, 3 when the section holds no statement. The legacy texts go
// to run.out, their causes to run.err.
[[nodiscard]] int Run(int argc, const char* const* argv, RunState& run);

}  // namespace run
