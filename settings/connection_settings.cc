// Reading the connection values from the settings file.
#include "settings/connection_settings.h"

#include <utility>

#include "common/path_resolve.h"

namespace settings {

ConnectionSettings ReadConnectionSettings(std::string_view path) {
  ConnectionSettings values;
  values.file = common::ResolvePath(path);
  auto read = [&](std::string_view key, std::string& value) {
    SettingMatch match = FindSetting("", key, 0, path);
    if (match.file_error != 0) values.file_error = match.file_error;
    if (!match.found && match.file_error == 0) {
      values.missing_keys.push_back(key);
    }
    value = std::move(match.value);
    return match.found;
  };
  read(kHostKey, values.host);
  values.user_named = read(kUserKey, values.user);
  read(kPasswordKey, values.password);
  read(kDbSystemKey, values.db_system);
  return values;
}

void WipeSecret(std::string& secret) {
  volatile char* p = secret.data();
  for (size_t i = 0; i < secret.size(); ++i) p[i] = 0;
  secret.clear();
}

}  // namespace settings
