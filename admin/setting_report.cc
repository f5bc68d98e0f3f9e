// Explaining a settings lookup with the settings reader's own lookup.
#include "admin/setting_report.h"

#include <cstdint>
#include <limits>

namespace admin {
namespace {

// tabfetch asks with an empty heading name and entry number 0.
constexpr std::string_view kRunHeading = "";
constexpr int32_t kRunEntryNumber = 0;

// A heading name never holds a line feed: the lines are cut at it.
constexpr std::string_view kNoHeading = "\n";

// The first record with key name `key`, found by a lookup that can match no
// heading name and only an unlikely entry number; a record with that entry
// number would come back instead, so a second number is tried.
settings::SettingMatch FindOwnRecord(std::string_view key,
                                     std::string_view path) {
  for (int32_t entry : {std::numeric_limits<int32_t>::min(),
                        std::numeric_limits<int32_t>::max()}) {
    settings::SettingMatch m =
        settings::FindSetting(kNoHeading, key, entry, path);
    if (!m.found) return m;
    if (m.key_name == key) return m;
  }
  return settings::SettingMatch{};
}

}  // namespace

SettingExplanation ExplainSetting(std::string_view key, std::string_view path) {
  SettingExplanation e;
  e.match = settings::FindSetting(kRunHeading, key, kRunEntryNumber, path);
  if (!e.match.found) return e;
  e.by_key = e.match.key_name == key;
  e.by_heading = e.match.heading_name.empty();
  e.by_entry = e.match.entry_number == kRunEntryNumber;
  if (!e.by_key) e.own_record = FindOwnRecord(key, path);
  return e;
}

std::string MatchReason(const SettingExplanation& e, std::string_view key) {
  if (!e.match.found) return "no record matches";
  if (e.by_key) return "its key name is " + std::string(key);
  std::string reason;
  if (e.by_heading) {
    reason =
        "its heading name is empty (a heading line with fewer than two "
        "';')";
  }
  if (e.by_entry) {
    if (!reason.empty()) reason += ", and ";
    reason += "its entry number reads as 0";
  }
  return reason + ": such a record matches every lookup of tabfetch";
}

bool IsSecret(const SettingExplanation& e, std::string_view key) {
  return key == "PASS" || (e.match.found && e.match.key_name == "PASS");
}

}  // namespace admin
