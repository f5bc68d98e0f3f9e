// What the commands of tabfetch-admin share: printing, the settings file
// they read, and loading a query definition file as tabfetch finds it.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "admin/admin_args.h"
#include "db/db_connection.h"
#include "querydef/profile_reader.h"
#include "settings/connection_settings.h"
#include "settings/settings_reader.h"

namespace admin {

// Prints "tabfetch-admin: <message>\n" to `err`. Failures are printed as
// they are; warnings begin with "warning: ", notes with "note: ".
void PrintMessage(std::FILE* err, const std::string& message);

// `line` and a line feed to `out`.
void PrintLine(std::FILE* out, const std::string& line);

// The --settings option, or the settings file tabfetch reads.
std::string SettingsPath(const Args& args);

// 0 when the file at `path` opens and reads, else the errno that stopped
// it (a directory opens but does not read: EISDIR).
int FileError(const std::string& path);

// A path as the commands show it: the absolute path that `given` (a legacy
// path: '\' separators, letter case found) resolves to and, where a
// backslash or the letter case makes the name as given differ, that too: "/srv/kasse/Files/Palventra.Ini
// (named ..\..\Files\Palventra.Ini)".
std::string ShownPath(std::string_view given);

// "<what> <ShownPath> cannot be read: <errno text>".
std::string CannotRead(std::string_view what, std::string_view given,
                       int error);

// Where a settings record stands: "lines 3-4".
std::string Lines(const settings::SettingMatch& match);

// Whether the settings name a user, as tabfetch decides before it connects
// (settings/connection_settings.h: kNoUserStatus). When they do not, prints
// why on `err` (the settings file at `path` cannot be read, or has no LOGIN
// record) and that tabfetch connects to nothing, and wipes the password.
bool SettingsNameAUser(settings::ConnectionSettings& values,
                       const std::string& path, std::FILE* err);

// Connects `conn` as tabfetch does: the settings file of `args` (read into
// `values`, whose password is wiped afterwards) and the environment's
// connect options. False after printing why on `err`; a failed connect's
// line ends with what tabfetch prints, then `consequence`. `took` gets the
// time of the connect itself.
bool ConnectAsTabfetch(const Args& args, db::Connection& conn,
                       settings::ConnectionSettings& values,
                       std::string_view consequence, std::FILE* err,
                       std::chrono::steady_clock::duration* took = nullptr);

struct LoadedDefinition {
  std::string db_system;
  std::string file;
  std::string shown_file;  // ShownPath of TABFETCH.<db_system>.INI
  querydef::Profile profile;
  std::vector<std::string> notes;  // warnings about where DB_SYSTEM came from
};

// Finds DB_SYSTEM (--db-system, or the settings file's lookup as tabfetch
// makes it) and the query definition file as tabfetch does. Prints the
// failure to `err` and returns false when `section` cannot be loaded.
bool LoadDefinitionFile(const Args& args, std::string_view section,
                        LoadedDefinition& loaded, std::FILE* err);

}  // namespace admin
