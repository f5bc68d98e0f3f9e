// The command line of tabfetch-admin: finds the command, parses its options
// with the shared parser and runs it. Each command lives in a file of its
// own; everything that decides what tabfetch does is the libraries' own.
#include "admin/admin_main.h"

#include <algorithm>
#include <cstddef>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "admin/admin_args.h"
#include "admin/admin_text.h"
#include "admin/command_support.h"
#include "admin/commands.h"
#include "admin/help_texts.h"

#ifndef TABFETCH_VERSION
#define TABFETCH_VERSION "unknown"
#endif

namespace admin {
namespace {

struct Command {
  std::string_view name;
  const char* help;
  std::vector<OptionSpec> options;
  std::size_t positional;  // number of positional arguments
  std::string_view positional_names;
  int (*run)(const Args&, std::FILE*, std::FILE*);
  bool last_optional = false;  // the last positional argument may be left out
};

int UsageError(std::FILE* err, std::string_view command,
               const std::string& message) {
  std::fprintf(err, "tabfetch-admin %.*s: %s\n",
               static_cast<int>(command.size()), command.data(),
               message.c_str());
  std::fprintf(err, "Run 'tabfetch-admin %.*s --help' for usage.\n",
               static_cast<int>(command.size()), command.data());
  return kExitError;
}

const std::vector<Command>& Commands() {
  static const std::vector<Command> kCommands = {
      {"encipher", kEncipherHelp, {}, 1, "VALUE", RunEncipher, true},
      {"decipher", kDecipherHelp, {}, 1, "HEX", RunDecipher},
      {"setting",
       kSettingHelp,
       {{"--settings", true}, {"--show", false}},
       1,
       "KEY",
       RunSetting},
      {"check",
       kCheckHelp.c_str(),
       {{"--db-system", true}, {"--settings", true}, {"--run", true}},
       1,
       "SECTION",
       RunCheck},
      {"view",
       kViewHelp,
       {{"--db-system", true},
        {"--settings", true},
        {"--csv", false},
        {"--latin1", false}},
       2,
       "EXTRACT SECTION",
       RunView},
      {"connect", kConnectHelp, {{"--settings", true}}, 0, "", RunConnect},
  };
  return kCommands;
}

}  // namespace

int AdminMain(int argc, const char* const* argv, std::FILE* out,
              std::FILE* err) {
  if (argc < 2) {
    std::fputs("tabfetch-admin: no command given\n", err);
    std::fputs("Run 'tabfetch-admin --help' for usage.\n", err);
    return kExitError;
  }
  const std::string_view first = argv[1];
  if (first == "--help" || first == "-h" || first == "help") {
    std::fputs(kToolHelp, out);
    return kExitClean;
  }
  if (first == "--version") {
    std::fputs("tabfetch-admin " TABFETCH_VERSION "\n", out);
    return kExitClean;
  }
  const auto& commands = Commands();
  auto command =
      std::find_if(commands.begin(), commands.end(),
                   [&](const Command& c) { return c.name == first; });
  if (command == commands.end()) {
    std::fprintf(err, "tabfetch-admin: unknown command %s\n",
                 Quoted(first).c_str());
    std::fputs("Run 'tabfetch-admin --help' for usage.\n", err);
    return kExitError;
  }
  const std::vector<std::string> rest(argv + 2, argv + argc);
  Args args;
  std::string error;
  if (!ParseArgs(rest, command->options, args, error)) {
    return UsageError(err, command->name, error);
  }
  if (args.help) {
    std::fputs(command->help, out);
    return kExitClean;
  }
  const bool left_out = command->last_optional &&
                        args.positional.size() + 1 == command->positional;
  if (args.positional.size() != command->positional && !left_out) {
    return UsageError(
        err, command->name,
        (args.positional.size() < command->positional ? "missing "
                                                      : "too many arguments; "
                                                        "expected ") +
            std::string(command->positional_names));
  }
  // No command ends by an uncaught exception: one that escapes (memory
  // exhausted, most likely) is named and ends the command as not carried
  // out.
  try {
    return command->run(args, out, err);
  } catch (const std::exception& e) {
    std::fflush(out);
    PrintMessage(err, std::string(command->name) + ": not carried out: " +
                          DisplayText(e.what(), false));
    return kExitError;
  }
}

}  // namespace admin
