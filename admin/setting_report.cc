// Explaining a settings lookup with the settings reader's own lookups.
#include "admin/setting_report.h"

#include <cstdint>

namespace admin {
namespace {

// tabfetch asks with an empty heading name and entry number 0.
constexpr std::string_view kRunHeading = "";
constexpr int32_t kRunEntryNumber = 0;

}  // namespace

SettingExplanation ExplainSetting(std::string_view key, std::string_view path) {
  SettingExplanation e;
  e.match = settings::FindSetting(kRunHeading, key, kRunEntryNumber, path);
  if (e.match.found && !e.match.by_key) {
    e.own_record = settings::FindSettingByKey(key, path);
  }
  return e;
}

std::string MatchReason(const SettingExplanation& e, std::string_view key) {
  if (!e.match.found) return "no record matches";
  if (e.match.by_key) return "its key name is " + std::string(key);
  std::string reason;
  if (e.match.by_heading) {
    reason =
        "its heading name is empty (a heading line with fewer than two "
        "';')";
  }
  if (e.match.by_entry) {
    if (!reason.empty()) reason += ", and ";
    reason += "its entry number reads as 0";
  }
  return reason + ": such a record matches every lookup of tabfetch";
}

bool IsSecret(const SettingExplanation& e, std::string_view key) {
  return key == "PASS" || (e.match.found && e.match.key_name == "PASS");
}

}  // namespace admin
