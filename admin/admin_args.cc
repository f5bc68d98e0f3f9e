// The option parser of tabfetch-admin.
#include "admin/admin_args.h"

#include <algorithm>
#include <cstddef>

#include "admin/admin_text.h"

namespace admin {

const std::string* Args::Value(std::string_view name) const {
  auto it = values.find(name);
  return it == values.end() ? nullptr : &it->second;
}

bool Args::Flag(std::string_view name) const { return flags.count(name) > 0; }

bool ParseArgs(const std::vector<std::string>& in,
               const std::vector<OptionSpec>& specs, Args& args,
               std::string& error) {
  bool options_end = false;
  for (std::size_t i = 0; i < in.size(); ++i) {
    const std::string& arg = in[i];
    if (options_end || arg.size() < 2 || arg[0] != '-') {
      args.positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_end = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      args.help = true;
      continue;
    }
    const std::size_t eq = arg.find('=');
    const std::string name = arg.substr(0, eq);
    auto known =
        std::find_if(specs.begin(), specs.end(),
                     [&](const OptionSpec& s) { return s.name == name; });
    if (known == specs.end()) {
      error = "unknown option " + Quoted(name);
      return false;
    }
    if (!known->takes_value) {
      if (eq != std::string::npos) {
        error = "option " + name + " takes no value";
        return false;
      }
      args.flags.insert(name);
      continue;
    }
    if (eq != std::string::npos) {
      args.values[name] = arg.substr(eq + 1);
    } else if (i + 1 < in.size()) {
      args.values[name] = in[++i];
    } else {
      error = "option " + name + " needs a value";
      return false;
    }
  }
  return true;
}

}  // namespace admin
