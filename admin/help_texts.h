// The help texts of tabfetch-admin (--help) and of each command
// (COMMAND --help), printed as they are.
#pragma once

#include <string>

namespace admin {

extern const char kToolHelp[];
extern const char kEncipherHelp[];
extern const char kDecipherHelp[];
extern const char kSettingHelp[];
// Names the query definition's limits and tabfetch's exit codes from the
// libraries that define them.
extern const std::string kCheckHelp;
extern const char kViewHelp[];
extern const char kConnectHelp[];

}  // namespace admin
