#include "run/connect_step.h"

namespace run {

db::ConnectOptions ConnectOptionsFor(const Environment& env) {
  db::ConnectOptions options;
  options.option_file = db::dbOptionFile(env.defaults_file);
  options.connect_timeout = env.connect_timeout;
  options.read_timeout = env.read_timeout;
  return options;
}

}  // namespace run
