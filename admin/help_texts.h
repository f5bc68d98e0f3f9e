// The help texts of tabfetch-admin (--help) and of each command
// (COMMAND --help), printed as they are.
#pragma once

namespace admin {

extern const char kToolHelp[];
extern const char kEncipherHelp[];
extern const char kDecipherHelp[];
extern const char kSettingHelp[];
extern const char kCheckHelp[];
extern const char kViewHelp[];
extern const char kConnectHelp[];

}  // namespace admin
