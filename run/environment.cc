// PROVISIONAL until the environment reader lands on main.
#include "run/environment.h"

#include <cstdlib>
#include <cstring>

namespace run {

Environment ReadEnvironment(const std::function<const char*(const char*)>& lookup, std::FILE*) {
  Environment env;
  auto seconds = [&](const char* name, std::chrono::seconds& out) {
    const char* v = lookup(name);
    if (v != nullptr && *v != '\0') out = std::chrono::seconds(std::atol(v));
  };
  const char* strict = lookup("TABFETCH_STRICT_EXIT");
  env.strict_exit = strict != nullptr && std::strcmp(strict, "1") == 0;
  seconds("TABFETCH_CONNECT_TIMEOUT", env.connect_timeout);
  seconds("TABFETCH_READ_TIMEOUT", env.read_timeout);
  if (const char* f = lookup("TABFETCH_DEFAULTS_FILE")) env.defaults_file = f;
  return env;
}

Environment ReadEnvironment(std::FILE* err) {
  return ReadEnvironment([](const char* name) { return std::getenv(name); }, err);
}

}  // namespace run
