// How tabfetch connects, beyond the settings file's values: the option file
// and the timeouts the environment names. tabfetch and tabfetch-admin
// connect through this one mapping.
#pragma once

#include "db/db_connection.h"
#include "run/environment.h"

namespace run {

// TABFETCH_DEFAULTS_FILE, else /etc/tabfetch/tabfetch.cnf when it exists;
// TABFETCH_CONNECT_TIMEOUT; TABFETCH_READ_TIMEOUT.
db::ConnectOptions ConnectOptionsFor(const Environment& env);

}  // namespace run
