// tabfetch: runs one configured SQL query and writes its rows, formatted as
// fixed-width records and sorted, to an extract file.
#include <cstdio>

#include "extract/signal_cleanup.h"
#include "run/run_sequence.h"

int main(int argc, char** argv) {
  // Before any other thread starts: a signal ends the run without leaving a
  // temporary file or a half-appended extract behind.
  extract::InstallSignalCleanup();
  run::RunState state;
  state.env = run::ReadEnvironment(state.err);
  const int exit_code = run::Run(argc, argv, state);
  std::fflush(state.out);
  return exit_code;
}
