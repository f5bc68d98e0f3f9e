// tabfetch: runs one configured SQL query and writes its rows, formatted as
// fixed-width records and sorted, to an extract file.
#include "run/command_line.h"

int main(int argc, char** argv) {
  run::RunState state;
  return run::GetParameters(argc, argv, state);
}
