// Printing, the settings file path and loading a query definition file for
// the commands of tabfetch-admin.
#include "admin/command_support.h"

#include "admin/admin_text.h"
#include "admin/setting_report.h"
#include "common/exit_codes.h"
#include "querydef/query_definition.h"

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

bool FileReadable(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  // A directory opens but does not read.
  char byte;
  const bool ok = std::fread(&byte, 1, 1, f) == 1 || std::feof(f) != 0;
  std::fclose(f);
  return ok;
}

std::string Lines(const settings::SettingMatch& match) {
  return "lines " + std::to_string(match.heading_line) + "-" +
         std::to_string(match.entry_line);
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
          "no record of the settings file " + Quoted(path) +
          " matches DB_SYSTEM: tabfetch uses the empty database system name");
    } else if (!e.match.by_key) {
      loaded.notes.push_back("DB_SYSTEM comes from the settings record at " +
                             Lines(e.match) + " with key name " +
                             Quoted(e.match.key_name) + ": " +
                             MatchReason(e, "DB_SYSTEM"));
    }
  }
  loaded.file = querydef::QueryDefinitionFileName(loaded.db_system);
  auto print_notes = [&] {
    for (const std::string& note : loaded.notes) {
      PrintMessage(err, "note: " + note);
    }
  };
  if (!FileReadable(loaded.file)) {
    print_notes();
    PrintMessage(err, "the query definition file " + Quoted(loaded.file) +
                          " (DB_SYSTEM " + Quoted(loaded.db_system) +
                          ") cannot be read: tabfetch ends with " +
                          ExitCodeText(common::kNoStatementExit));
    return false;
  }
  loaded.profile = querydef::Profile::Load(loaded.file);
  if (!loaded.profile.HasSection(section)) {
    print_notes();
    PrintMessage(err, "there is no section [" + DisplayText(section) + "] in " +
                          Quoted(loaded.file) + ": tabfetch ends with " +
                          ExitCodeText(common::kNoStatementExit));
    return false;
  }
  return true;
}

}  // namespace admin
