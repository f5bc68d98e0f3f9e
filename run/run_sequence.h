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

// Exit codes of a run that did not write its records, one per kind of
// failure, only when TABFETCH_STRICT_EXIT is 1: the legacy tool ended such
// runs with 0, which a scheduler reads as success. Without the variable they
// still end with 0; callers rely on that.
inline constexpr int kConnectFailedExit = 10;    // dbConnect_Status: ...
inline constexpr int kStatementFailedExit = 11;  // the server rejected it
inline constexpr int kReadFailedExit = 12;       // rows could not be read
inline constexpr int kExtractFailedExit = 13;    // extract file not written

// Runs the whole extract and returns the process exit code: 0 for a run that
// got as far as the connect (also after a failed connect, statement, read or
// write: callers rely on that; under run.env.strict_exit those end with the
// codes above), 1 or 2 for an unusable command line, 1 for a refused
// terminal name, 3 when the section holds no statement. The legacy texts go
// to run.out, their causes to run.err.
[[nodiscard]] int Run(int argc, const char* const* argv, RunState& run);

}  // namespace run
