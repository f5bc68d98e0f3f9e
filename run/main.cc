// tabfetch: runs one configured SQL query and writes its rows, formatted as
// fixed-width records and sorted, to an extract file.
#include <cstdio>

#include "run/run_sequence.h"

int main(int argc, char** argv) {
  run::RunState state;
  const int exit_code = run::Run(argc, argv, state);
  std::fflush(state.out);
  return exit_code;
}
