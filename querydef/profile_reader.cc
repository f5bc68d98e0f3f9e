// Profile (INI) file parsing and lookups with the legacy reader's rules.
#include "querydef/profile_reader.h"

#include <cerrno>

#include "common/file_util.h"

#include "common/ascii_case.h"

namespace querydef {
namespace {

// The legacy reader dropped space, TAB and VT around names and values.
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v'; }

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// Requested names lose leading and trailing spaces only: a TAB in the
// request made the legacy lookup fail, and it still does here.
std::string_view TrimSpaces(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

std::string Unquote(std::string_view value) {
  if (value.size() >= 2 && (value.front() == '\'' || value.front() == '"') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value);
}

}  // namespace

Profile Profile::Load(const std::string& path) {
  // A file that cannot be read (a directory included) has no sections.
  std::string content;
  int error = 0;
  if (!common::ReadWholeFile(path, content)) {
    error = errno != 0 ? errno : EIO;
    content.clear();
  }
  Profile profile = Parse(content);
  profile.load_error_ = error;
  return profile;
}

Profile Profile::Parse(std::string_view content) {
  Profile profile;
  if (content.substr(0, 3) == "\xEF\xBB\xBF") content.remove_prefix(3);

  // Index of the section that receives key lines; none before the first
  // header and none inside a repeated block of an earlier section.
  constexpr size_t kNoSection = static_cast<size_t>(-1);
  size_t current = kNoSection;

  size_t pos = 0;
  while (pos < content.size()) {
    size_t end = content.find_first_of("\r\n", pos);
    size_t next;
    if (end == std::string_view::npos) {
      end = next = content.size();
    } else if (content[end] == '\r' && end + 1 < content.size() &&
               content[end + 1] == '\n') {
      next = end + 2;
    } else {
      next = end + 1;
    }
    std::string_view line = TrimBlanks(content.substr(pos, end - pos));
    pos = next;

    if (line.empty()) continue;
    if (line.front() == '[') {
      std::string_view name = line.substr(1);
      size_t close = name.find(']');
      if (close != std::string_view::npos) name = name.substr(0, close);
      name = TrimBlanks(name);
      std::string folded = common::AsciiLower(name);
      if (profile.first_section_.count(folded) != 0) {
        current = kNoSection;  // blocks of one name are not merged
        continue;
      }
      profile.first_section_.emplace(std::move(folded),
                                     profile.sections_.size());
      profile.sections_.push_back(Section{std::string(name), {}, {}});
      current = profile.sections_.size() - 1;
      continue;
    }
    if (current == kNoSection || line.front() == ';') continue;
    size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;

    Section& section = profile.sections_[current];
    std::string_view key = TrimBlanks(line.substr(0, equals));
    std::string_view value = TrimBlanks(line.substr(equals + 1));
    section.first_entry.emplace(common::AsciiLower(key),
                                section.entries.size());
    section.entries.emplace_back(std::string(key), Unquote(value));
  }
  return profile;
}

const Profile::Section* Profile::FindSection(std::string_view section) const {
  auto it = first_section_.find(common::AsciiLower(TrimSpaces(section)));
  return it == first_section_.end() ? nullptr : &sections_[it->second];
}

std::string Profile::Get(std::string_view section, std::string_view key,
                         size_t size) const {
  const Section* found = FindSection(section);
  if (found == nullptr || size == 0) return std::string();
  auto it = found->first_entry.find(common::AsciiLower(TrimSpaces(key)));
  if (it == found->first_entry.end()) return std::string();
  std::string_view value = found->entries[it->second].second;
  value = value.substr(0, value.find('\0'));
  return std::string(value.substr(0, size - 1));
}

bool Profile::HasSection(std::string_view section) const {
  return FindSection(section) != nullptr;
}

const std::vector<Profile::KeyValue>& Profile::Keys(
    std::string_view section) const {
  static const std::vector<KeyValue> kNone;
  const Section* found = FindSection(section);
  return found == nullptr ? kNone : found->entries;
}

}  // namespace querydef
