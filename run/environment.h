// The environment of a run, read once at the start and in this one place:
// the libraries take what they need of it as options and read no variables
// of their own.
//
// One rule set for every variable: unset or empty means the default,
// silently; a boolean is 0 or 1; a number is decimal digits (leading zeros
// fine), and a number out of range is named and clamped. Every bad value is
// named on standard error once, as it is read, and its default (or the
// clamped value) is used.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>

namespace run {

enum class ProgressMode { kAuto, kOff, kOn };

struct Environment {
  bool strict_exit = false;                     // TABFETCH_STRICT_EXIT
  bool profile = false;                         // TABFETCH_PROFILE
  ProgressMode progress = ProgressMode::kAuto;  // TABFETCH_PROGRESS
  // TABFETCH_MEMORY_BUDGET in bytes; 0 when not set (the default applies).
  std::size_t memory_budget = 0;
  std::chrono::seconds lock_timeout{30};     // TABFETCH_LOCK_TIMEOUT
  std::chrono::seconds connect_timeout{30};  // TABFETCH_CONNECT_TIMEOUT
  std::chrono::seconds read_timeout{0};      // TABFETCH_READ_TIMEOUT; 0: none
  std::string defaults_file;  // TABFETCH_DEFAULTS_FILE; empty: not named
  std::string temp_dir = "/tmp";  // TMPDIR
};

// The largest memory budget taken as given; a larger one is named and
// lowered to it (the memory limits of the process may lower it further).
inline constexpr std::size_t kMaxMemoryBudget = std::size_t{1} << 40;
// The largest number of seconds any of the timeouts takes.
inline constexpr long kMaxTimeoutSeconds = 86400;

using EnvironmentLookup = std::function<const char*(const char*)>;

// Reads every variable through `lookup` (nullptr: not set) and names each bad
// value on `err`.
Environment ReadEnvironment(const EnvironmentLookup& lookup, std::FILE* err);

// The same from the process environment.
Environment ReadEnvironment(std::FILE* err);

}  // namespace run
