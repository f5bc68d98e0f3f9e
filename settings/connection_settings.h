// The four connection values of a run, read from the shared settings file.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "settings/settings_reader.h"

namespace settings {

// The fixed database (schema) every run connects to.
inline constexpr char kDatabaseName[] = "PALVDATA";

struct ConnectionSettings {
  std::string host;       // NET8
  std::string user;       // LOGIN
  std::string password;   // PASS
  std::string db_system;  // DB_SYSTEM, names the query definition file

  // How the reading went, for the causes on standard error.
  std::string file;    // the settings file as found (see ResolvePath)
  int file_error = 0;  // errno when it could not be read, else 0
  // The keys no record matched in a file that was read, in lookup order.
  std::vector<std::string_view> missing_keys;
  // A record matched LOGIN, so the settings name the user (its value may
  // still be empty on purpose).
  bool user_named = false;
};

// What the legacy platform's server answered a connect with an empty user
// (access denied). A run whose settings name no user (user_named false)
// ends with it without connecting: an empty user would make the client
// library send the operating-system login name, which through unix_socket
// authentication is root when the job runs as root, an identity the
// settings never granted.
inline constexpr int kNoUserStatus = 1045;

// The keys ReadConnectionSettings looks up.
inline constexpr std::string_view kHostKey = "NET8";
inline constexpr std::string_view kUserKey = "LOGIN";
inline constexpr std::string_view kPasswordKey = "PASS";
inline constexpr std::string_view kDbSystemKey = "DB_SYSTEM";

// Looks up NET8, LOGIN, PASS and DB_SYSTEM in this order, each with an empty
// heading name and entry number 0, as the legacy tool did. A missing value is
// the empty text; the fields after the four values say what was missing.
// Every value is used whatever its length: the legacy tool emptied a NET8
// value of 42 characters or more, which silently connected to the local
// server instead.
ConnectionSettings ReadConnectionSettings(
    std::string_view path = kSettingsPath);

// Overwrites a secret (the password) before the string lets go of its
// memory.
void WipeSecret(std::string& secret);

}  // namespace settings
