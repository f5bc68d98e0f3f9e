// Reading the connection values from the settings file.
#include "run/connection_settings.h"

namespace run {

ConnectionSettings ReadConnectionSettings(std::string_view path) {
  ConnectionSettings values;
  values.host = settings::ReadSetting("", "NET8", 0, path);
  values.user = settings::ReadSetting("", "LOGIN", 0, path);
  values.password = settings::ReadSetting("", "PASS", 0, path);
  values.db_system = settings::ReadSetting("", "DB_SYSTEM", 0, path);
  return values;
}

void WipeSecret(std::string& secret) {
  volatile char* p = secret.data();
  for (size_t i = 0; i < secret.size(); ++i) p[i] = 0;
  secret.clear();
}

}  // namespace run
