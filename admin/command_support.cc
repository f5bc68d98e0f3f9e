// Printing, the settings file path and loading a query definition file for
// the commands of tabfetch-admin.
#include "admin/command_support.h"

#include <cerrno>
#include <cstring>

#include "admin/admin_text.h"
#include "common/path_resolve.h"
#include "admin/setting_report.h"
#include "common/exit_codes.h"
#include "querydef/query_definition.h"
#include "run/connect_step.h"
#include "run/environment.h"

namespace admin {

void PrintMessage(std::FILE* err, const std::string& message) {
  std::fprintf(err, "tabfetch-admin: %s\n", message.c_str());
}

void PrintLine(std::FILE* out, const std::string& line) {
  std::fputs(line.c_str(), out);
  std::fputc('\n', out);
}

std::string SettingsPath(const Args& args) {
  const std::string* path = args.Value("--settings");
  return path != nullptr ? *path : std::string(settings::kSettingsPath);
}

int FileError(const std::string& path) {
  errno = 0;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return errno != 0 ? errno : EIO;
  // A directory opens but does not read.
  char byte;
  errno = 0;
  const bool ok = std::fread(&byte, 1, 1, f) == 1 || std::feof(f) != 0;
  const int error = ok ? 0 : (errno != 0 ? errno : EIO);
  std::fclose(f);
  return error;
}

std::string ShownPath(std::string_view given) {
  const std::string resolved = common::ResolvePath(given);
  std::string shown = DisplayText(common::AbsolutePath(resolved));
  // The name as written, where a backslash or another letter case in it
  // makes it differ from the file found.
  if (resolved != given) shown += " (named " + DisplayText(given, false) + ")";
  return shown;
}

std::string CannotRead(std::string_view what, std::string_view given,
                       int error) {
  return std::string(what) + " " + ShownPath(given) +
         " cannot be read: " + std::strerror(error);
}

std::string Lines(const settings::SettingMatch& match) {
  return "lines " + std::to_string(match.heading_line) + "-" +
         std::to_string(match.entry_line);
}

bool SettingsNameAUser(settings::ConnectionSettings& values,
                       const std::string& path, std::FILE* err) {
  if (values.user_named) return true;
  settings::WipeSecret(values.password);
  PrintMessage(err, "the settings file " + ShownPath(path) +
                        (values.file_error != 0
                             ? " cannot be read: " +
                                   std::string(std::strerror(values.file_error))
                             : std::string(" has no record for LOGIN")) +
                        ": tabfetch names no user and connects to nothing (it "
                        "prints \"dbConnect_Status: " +
                        std::to_string(settings::kNoUserStatus) + "\")");
  return false;
}

bool ConnectAsTabfetch(const Args& args, db::Connection& conn,
                       settings::ConnectionSettings& values,
                       std::string_view consequence, std::FILE* err,
                       std::chrono::steady_clock::duration* took) {
  const run::Environment env = run::ReadEnvironment(err);
  const std::string path = SettingsPath(args);
  values = settings::ReadConnectionSettings(path);
  if (!SettingsNameAUser(values, path, err)) return false;
  const auto started = std::chrono::steady_clock::now();
  const int status = conn.Connect(values.user, values.password, values.host,
                                  settings::kDatabaseName,
                                  run::ConnectOptionsFor(env));
  if (took != nullptr) *took = std::chrono::steady_clock::now() - started;
  settings::WipeSecret(values.password);
  if (status == db::kOk) return true;
  PrintMessage(err, "cannot connect to the database (host " +
                        Quoted(values.host) + ", user " + Quoted(values.user) +
                        "): error " + std::to_string(status) + ": " +
                        DisplayText(conn.LastError(), false) +
                        "; tabfetch prints \"dbConnect_Status: " +
                        std::to_string(status) + "\"" +
                        std::string(consequence));
  return false;
}

bool LoadDefinitionFile(const Args& args, std::string_view section,
                        LoadedDefinition& loaded, std::FILE* err) {
  if (const std::string* name = args.Value("--db-system")) {
    loaded.db_system = *name;
  } else {
    const std::string path = SettingsPath(args);
    const SettingExplanation e = ExplainSetting("DB_SYSTEM", path);
    loaded.db_system = e.match.value;
    if (!e.match.found) {
      loaded.notes.push_back(
          "no record of the settings file " + ShownPath(path) +
          " matches DB_SYSTEM: tabfetch uses the empty database system name");
    } else if (!e.match.by_key) {
      loaded.notes.push_back("DB_SYSTEM comes from the settings record at " +
                             Lines(e.match) + " with key name " +
                             Quoted(e.match.key_name) + ": " +
                             MatchReason(e, "DB_SYSTEM"));
    }
  }
  loaded.file = querydef::QueryDefinitionFileName(loaded.db_system);
  const std::string legacy_name =
      querydef::LegacyQueryDefinitionName(loaded.db_system);
  loaded.shown_file = ShownPath(legacy_name);
  auto print_notes = [&] {
    for (const std::string& note : loaded.notes) {
      PrintMessage(err, "note: " + note);
    }
  };
  if (const int error = FileError(loaded.file); error != 0) {
    print_notes();
    PrintMessage(err, CannotRead("the query definition file", legacy_name,
                                 error) +
                          " (DB_SYSTEM " + Quoted(loaded.db_system) +
                          "): tabfetch ends with " +
                          ExitCodeText(common::kNoStatementExit));
    return false;
  }
  loaded.profile = querydef::Profile::Load(loaded.file);
  if (!loaded.profile.HasSection(section)) {
    print_notes();
    PrintMessage(err, "there is no section [" + DisplayText(section) + "] in " +
                          loaded.shown_file + ": tabfetch ends with " +
                          ExitCodeText(common::kNoStatementExit));
    return false;
  }
  return true;
}

}  // namespace admin
