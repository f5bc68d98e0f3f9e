// The commands of tabfetch-admin, one file each (cipher_commands.cc,
// setting_command.cc, check_command.cc, view_command.cc, connect_command.cc). AdminMain has
// checked the options and the number of positional arguments before it
// calls one. Each prints its report to `out` and its failures, warnings and
// notes to `err`, and returns an exit code of admin_main.h.
#pragma once

#include <cstdio>

#include "admin/admin_args.h"

namespace admin {

int RunEncipher(const Args& args, std::FILE* out, std::FILE* err);
int RunDecipher(const Args& args, std::FILE* out, std::FILE* err);
int RunSetting(const Args& args, std::FILE* out, std::FILE* err);
int RunCheck(const Args& args, std::FILE* out, std::FILE* err);
int RunView(const Args& args, std::FILE* out, std::FILE* err);
int RunConnect(const Args& args, std::FILE* out, std::FILE* err);

}  // namespace admin
