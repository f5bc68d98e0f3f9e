// The option parser shared by the commands of tabfetch-admin: positional
// arguments, "--name VALUE" / "--name=VALUE" options, flags, "--" and --help.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace admin {

struct OptionSpec {
  std::string_view name;  // with the leading "--"
  bool takes_value;
};

struct Args {
  std::vector<std::string> positional;
  std::map<std::string, std::string, std::less<>> values;
  std::set<std::string, std::less<>> flags;
  bool help = false;

  // The value of option `name`, or nullptr when it was not given.
  const std::string* Value(std::string_view name) const;
  bool Flag(std::string_view name) const;
};

// Sorts `in` into `args` by `specs`. An argument that begins with '-' is an
// option unless it follows "--" or is "-" alone; "--help" and "-h" set
// args.help. Returns false with `error` set for an unknown option, a value
// given to a flag, or a missing value.
bool ParseArgs(const std::vector<std::string>& in,
               const std::vector<OptionSpec>& specs, Args& args,
               std::string& error);

}  // namespace admin
