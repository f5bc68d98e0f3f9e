// tabfetch-admin setting KEY: which settings record tabfetch's lookup of KEY
// finds, and why; and whether other users can read the password.
#include <sys/stat.h>

#include <string>

#include "admin/admin_main.h"
#include "admin/admin_text.h"
#include "admin/command_support.h"
#include "admin/commands.h"
#include "admin/setting_report.h"
#include "common/path_resolve.h"
#include "settings/connection_settings.h"

namespace admin {
namespace {

// The settings file holds PASS enciphered under a fixed, published key, so
// whoever can read the file has the password. Returns the warning, or ""
// when only the owner can read it.
std::string ReadableByOthers(const std::string& path,
                             const std::string& shown) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return "";
  const bool group = (st.st_mode & S_IRGRP) != 0;
  const bool other = (st.st_mode & S_IROTH) != 0;
  if (!group && !other) return "";
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o",
                static_cast<unsigned>(st.st_mode & 07777));
  return std::string("warning: the settings file ") + shown +
         " can be read by " +
         (other ? "every user of this machine" : "the members of its group") +
         " (mode " + mode +
         "): it holds the database password under a fixed, published key, "
         "so only its permissions protect it";
}

}  // namespace

int RunSetting(const Args& args, std::FILE* out, std::FILE* err) {
  const std::string& key = args.positional[0];
  const std::string path = SettingsPath(args);
  const std::string resolved = common::ResolvePath(path);
  if (const int error = FileError(resolved); error != 0) {
    PrintMessage(err, CannotRead("the settings file", path, error) +
                          " (tabfetch then names the cause and connects to "
                          "nothing: it prints \"dbConnect_Status: " +
                          std::to_string(settings::kNoUserStatus) + "\")");
    return kExitError;
  }
  const SettingExplanation e = ExplainSetting(key, path);
  PrintLine(out, "Settings file: " + ShownPath(path));
  PrintLine(out, "Lookup:        key name " + Quoted(key) +
                     ", heading name \"\", entry number 0 (as tabfetch)");
  int code = kExitClean;
  // A warning only: the lookup's outcome decides the exit code.
  const std::string exposed = ReadableByOthers(resolved, ShownPath(path));
  if (!exposed.empty()) PrintMessage(err, exposed);
  if (!e.match.found) {
    PrintLine(out, "No record matches: tabfetch uses the empty text.");
    return kExitFindings;
  }
  const bool secret = IsSecret(e, key) && !args.Flag("--show");
  const settings::SettingMatch& m = e.match;
  PrintLine(out, "Match:         " + Lines(m));
  PrintLine(out, "  heading name " + Quoted(m.heading_name));
  PrintLine(out, "  key name     " + Quoted(m.key_name));
  PrintLine(out, "  entry number " + std::to_string(m.entry_number));
  PrintLine(out, "  value text   " + (secret ? MaskedValue(m.value_text)
                                             : Quoted(m.value_text)));
  PrintLine(out, "  value        " +
                     (secret ? MaskedValue(m.value) + ", --show shows it"
                             : Quoted(m.value)));
  PrintLine(out, "Why:           " + MatchReason(e, key) + ".");
  if (!m.by_key) {
    code = kExitFindings;
    if (e.own_record.found) {
      PrintLine(out, "The record with key name " + key + " at " +
                         Lines(e.own_record) +
                         " is never reached: this one comes first.");
    } else {
      PrintLine(out, "No record has the key name " + key + ".");
    }
  }
  return code;
}

}  // namespace admin
