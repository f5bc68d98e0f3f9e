// The four connection values of a run, read from the shared settings file.
#pragma once

#include <string>
#include <string_view>

#include "settings/settings_reader.h"

namespace settings {

// The fixed database (schema) every run connects to.
inline constexpr char kDatabaseName[] = "PALVDATA";

struct ConnectionSettings {
  std::string host;       // NET8
  std::string user;       // LOGIN
  std::string password;   // PASS
  std::string db_system;  // DB_SYSTEM, names the query definition file
};

// Looks up NET8, LOGIN, PASS and DB_SYSTEM in this order, each with an empty
// heading name and entry number 0, as the legacy tool did. A missing value is
// the empty text and is not reported. Every value is used whatever its
// length: the legacy tool emptied a NET8 value of 42 characters or more,
// which silently connected to the local server instead.
ConnectionSettings ReadConnectionSettings(
    std::string_view path = kSettingsPath);

// Overwrites a secret (the password) before the string lets go of its
// memory.
void WipeSecret(std::string& secret);

}  // namespace settings
