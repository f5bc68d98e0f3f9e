// The exit codes of tabfetch. The calling scripts read them, so they stay as
// they always were; tabfetch returns them and tabfetch-admin names them when
// it tells what tabfetch would do.
#pragma once

namespace common {

// A run that got as far as the connect ends with 0, also after a failed
// connect, statement, read or write: the legacy tool did, callers rely on it.
inline constexpr int kRunEndedExit = 0;

// An unusable command line. A section or terminal name that is too long
// (the legacy tool had no such check) ends like a bad argument count.
inline constexpr int kTooFewArgumentsExit = 1;  // fewer than four arguments
inline constexpr int kBadReplaceFlagExit = 2;   // argument 4 is not 0 or 1
inline constexpr int kNameTooLongExit = 1;

// A query definition that cannot be run: a terminal name that may not stand
// where $parm01 stands in the statement (it would change the statement) ends
// like a bad command line; a section without statement (or no query
// definition file) ended the legacy tool with 3.
inline constexpr int kTerminalRefusedExit = 1;
inline constexpr int kNoStatementExit = 3;

// A run that did not write its records, one code per kind of failure, only
// when TABFETCH_STRICT_EXIT is 1: the legacy tool ended such runs with 0
// (kRunEndedExit), which a scheduler reads as success.
inline constexpr int kConnectFailedExit = 10;    // dbConnect_Status: ...
inline constexpr int kStatementFailedExit = 11;  // the server rejected it
inline constexpr int kReadFailedExit = 12;       // rows could not be read
inline constexpr int kExtractFailedExit = 13;    // extract file not written

}  // namespace common
