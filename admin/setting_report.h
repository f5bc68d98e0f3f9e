// Explaining a settings lookup: which record tabfetch's lookup of a key finds,
// and why, since a record with an empty heading name or entry number 0 wins
// every lookup that reaches it first.
#pragma once

#include <string>
#include <string_view>

#include "settings/settings_reader.h"

namespace admin {

struct SettingExplanation {
  // What tabfetch gets (heading "", entry 0); its by_* flags say why.
  settings::SettingMatch match;
  // The first record whose key name is the key, when `match` is another one
  // (it is never reached then); found == false when there is none.
  settings::SettingMatch own_record;
};

// Looks `key` up in the settings file at `path` as tabfetch does.
SettingExplanation ExplainSetting(std::string_view key, std::string_view path);

// One sentence on why the record matched, e.g. "its key name is NET8" or
// "its entry number is 0, which matches every lookup of tabfetch".
std::string MatchReason(const SettingExplanation& explanation,
                        std::string_view key);

// Whether the value of this lookup is a password: the key asked for is PASS,
// or the record found is the PASS record.
bool IsSecret(const SettingExplanation& explanation, std::string_view key);

}  // namespace admin
