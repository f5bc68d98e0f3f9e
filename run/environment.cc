// The one reader of the environment. Each variable is parsed by the rule of
// its kind; the texts name the variable, its value (control characters
// escaped) and what is used instead.
#include "run/environment.h"

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "common/diagnostics.h"
#include "common/int_parse.h"
#include "extract/record_list.h"

namespace run {
namespace {

// The value of `name`, or an empty view when it is unset.
std::string_view Lookup(const EnvironmentLookup& lookup, const char* name) {
  const char* value = lookup(name);
  return value == nullptr ? std::string_view() : std::string_view(value);
}

// A boolean: "0" or "1"; none when unset, empty or anything else, which is
// named with what applies instead.
std::optional<bool> ReadBoolean(const EnvironmentLookup& lookup,
                                const char* name, const char* instead,
                                std::FILE* err) {
  const std::string_view value = Lookup(lookup, name);
  if (value == "0") return false;
  if (value == "1") return true;
  if (!value.empty()) {
    common::Diagnose(err, "%s=%s is neither 0 nor 1; %s", name,
                     std::string(value).c_str(), instead);
  }
  return std::nullopt;
}

// Whole seconds from 0 to kMaxTimeoutSeconds; larger numbers are lowered to
// it, anything else is named and `fallback` used. `instead` says what the
// fallback means.
std::chrono::seconds ReadSeconds(const EnvironmentLookup& lookup,
                                 const char* name,
                                 std::chrono::seconds fallback,
                                 const char* instead, std::FILE* err) {
  const std::string_view value = Lookup(lookup, name);
  if (value.empty()) return fallback;
  std::uint64_t seconds = 0;
  bool saturated = false;
  if (!common::ParseDigits(value, seconds, saturated)) {
    common::Diagnose(err,
                     "%s=%s is not a whole number of seconds from 0 to %ld; "
                     "%s",
                     name, std::string(value).c_str(),
                     kMaxTimeoutSeconds, instead);
    return fallback;
  }
  if (saturated ||
      seconds > static_cast<std::uint64_t>(kMaxTimeoutSeconds)) {
    common::Diagnose(err, "%s=%s is more than %ld seconds; %ld s are used",
                     name, std::string(value).c_str(),
                     kMaxTimeoutSeconds, kMaxTimeoutSeconds);
    return std::chrono::seconds(kMaxTimeoutSeconds);
  }
  return std::chrono::seconds(static_cast<long>(seconds));
}

// A number of bytes greater than 0 with an optional K, M or G (binary
// multiples, either case); 0 when unset or bad (the default applies).
std::size_t ReadMemoryBudget(const EnvironmentLookup& lookup,
                             std::FILE* err) {
  constexpr char kName[] = "TABFETCH_MEMORY_BUDGET";
  std::string_view value = Lookup(lookup, kName);
  if (value.empty()) return 0;
  const std::string shown = std::string(value);
  int shift = 0;
  switch (value.back()) {
    case 'k':
    case 'K':
      shift = 10;
      break;
    case 'm':
    case 'M':
      shift = 20;
      break;
    case 'g':
    case 'G':
      shift = 30;
      break;
    default:
      break;
  }
  if (shift != 0) value.remove_suffix(1);
  std::uint64_t number = 0;
  bool saturated = false;
  if (!common::ParseDigits(value, number, saturated) || number == 0) {
    common::Diagnose(err,
                     "%s \"%s\" is not a number of bytes (with K, M or G); "
                     "the default of %zu bytes is used",
                     kName, shown.c_str(), extract::DefaultMemoryBudget());
    return 0;
  }
  if (saturated || number > (kMaxMemoryBudget >> shift)) {
    common::Diagnose(err, "%s \"%s\" is more than %zu bytes; %zu are used",
                     kName, shown.c_str(), kMaxMemoryBudget,
                     kMaxMemoryBudget);
    return kMaxMemoryBudget;
  }
  return static_cast<std::size_t>(number) << shift;
}

}  // namespace

Environment ReadEnvironment(const EnvironmentLookup& lookup, std::FILE* err) {
  Environment env;
  env.strict_exit = ReadBoolean(lookup, "TABFETCH_STRICT_EXIT",
                                "the legacy exit codes apply", err)
                        .value_or(env.strict_exit);
  env.profile =
      ReadBoolean(lookup, "TABFETCH_PROFILE", "no profile is printed", err)
          .value_or(env.profile);
  // Only a value that reads as a boolean overrides the terminal check.
  if (const std::optional<bool> progress =
          ReadBoolean(lookup, "TABFETCH_PROGRESS",
                      "progress is shown only on a terminal", err)) {
    env.progress = *progress ? ProgressMode::kOn : ProgressMode::kOff;
  }
  env.memory_budget = ReadMemoryBudget(lookup, err);
  const std::string waiting_lock =
      "waiting " + std::to_string(env.lock_timeout.count()) + " s";
  env.lock_timeout = ReadSeconds(lookup, "TABFETCH_LOCK_TIMEOUT",
                                 env.lock_timeout, waiting_lock.c_str(), err);
  const std::string waiting_connect =
      "waiting " + std::to_string(env.connect_timeout.count()) + " s";
  env.connect_timeout =
      ReadSeconds(lookup, "TABFETCH_CONNECT_TIMEOUT", env.connect_timeout,
                  waiting_connect.c_str(), err);
  env.read_timeout = ReadSeconds(lookup, "TABFETCH_READ_TIMEOUT",
                                 env.read_timeout, "no read timeout", err);
  env.defaults_file = std::string(Lookup(lookup, "TABFETCH_DEFAULTS_FILE"));
  const std::string_view temp_dir = Lookup(lookup, "TMPDIR");
  if (!temp_dir.empty()) env.temp_dir = std::string(temp_dir);
  return env;
}

Environment ReadEnvironment(std::FILE* err) {
  return ReadEnvironment(
      [](const char* name) -> const char* { return std::getenv(name); }, err);
}

}  // namespace run
