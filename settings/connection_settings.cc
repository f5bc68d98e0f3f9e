// Reading the connection values from the settings file.
#include "settings/connection_settings.h"

namespace settings {

ConnectionSettings ReadConnectionSettings(std::string_view path) {
  ConnectionSettings values;
  values.host = ReadSetting("", "NET8", 0, path);
  values.user = ReadSetting("", "LOGIN", 0, path);
  values.password = ReadSetting("", "PASS", 0, path);
  values.db_system = ReadSetting("", "DB_SYSTEM", 0, path);
  return values;
}

void WipeSecret(std::string& secret) {
  volatile char* p = secret.data();
  for (size_t i = 0; i < secret.size(); ++i) p[i] = 0;
  secret.clear();
}

}  // namespace settings
