// PROVISIONAL until the environment reader lands on main: the same
// interface, replaced by main's version at the merge.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>

namespace run {

enum class ProgressMode { kAuto, kOff, kOn };
struct Environment {
  bool strict_exit = false;
  bool profile = false;
  ProgressMode progress = ProgressMode::kAuto;
  std::size_t memory_budget = 0;
  std::chrono::seconds lock_timeout{30};
  std::chrono::seconds connect_timeout{30};
  std::chrono::seconds read_timeout{0};
  std::string defaults_file;
  std::string temp_dir = "/tmp";
};
Environment ReadEnvironment(const std::function<const char*(const char*)>& lookup, std::FILE* err);
Environment ReadEnvironment(std::FILE* err);

}  // namespace run
