// Everything one run of tabfetch knows, owned by the entry point and handed
// to each step.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "run/environment.h"
#include "settings/connection_settings.h"

namespace run {

struct RunState {
  // From the command line.
  std::string section;       // argument 1, a section of the query definition file
  std::string terminal;      // argument 2, replaces $parm01 in the statement
  std::string extract_path;  // argument 3
  int16_t replace_flag = 0;  // argument 4: 0 = append, 1 = replace
  bool debug = false;        // argument 5 is /D (any letter case)

  // From the settings file: NET8, LOGIN, PASS, DB_SYSTEM. The password is
  // wiped once the connect has used it.
  settings::ConnectionSettings connection;

  int last_status = 0;
  int record_count = 0;

  // The variables of the environment, read once at the start.
  Environment env;

  std::FILE* out = stdout;  // the legacy console texts; tests swap it
  std::FILE* err = stderr;  // causes for the administrator ("tabfetch: ...")
};

}  // namespace run
