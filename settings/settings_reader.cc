// The settings file reader: pairs of lines, fields cut at ';', first match
// by heading name, key name or entry number wins.
#include "settings/settings_reader.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <exception>
#include <memory>
#include <utility>

#include "common/file_util.h"
#include "common/int_parse.h"
#include "common/path_resolve.h"
#include "settings/value_cipher.h"

namespace settings {
namespace {

// The legacy reader took its lines with fgets into buffers of 200 and 400
// bytes: at most 199 and 399 characters each, line end included.
constexpr size_t kHeadingPieceMax = 199;
constexpr size_t kEntryPieceMax = 399;
constexpr char kCtrlZ = '\x1A';

// What the legacy runtime's text mode delivered: the input ends at the first
// Ctrl-Z, CR LF becomes LF, a CR not followed by LF stays.
std::string TextModeContent(std::string_view raw) {
  raw = raw.substr(0, raw.find(kCtrlZ));
  std::string text;
  text.reserve(raw.size());
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    text += raw[i];
  }
  return text;
}

// One read of the legacy reader: up to `max` characters, ending after the
// first line feed.
struct Piece {
  std::string_view text;    // as the field cutter sees it: up to a NUL byte
  int line = 0;             // physical line where the piece begins
  bool ends_input = false;  // no line end, and nothing after it
};

class PieceReader {
 public:
  explicit PieceReader(std::string_view text) : text_(text) {}

  // False at the end of the input (nothing left to read).
  bool Next(size_t max, Piece& piece) {
    if (pos_ >= text_.size()) return false;
    std::string_view rest = text_.substr(pos_, max);
    const size_t lf = rest.find('\n');
    if (lf != std::string_view::npos) rest = rest.substr(0, lf + 1);
    piece.line = line_;
    pos_ += rest.size();
    piece.ends_input = lf == std::string_view::npos && pos_ == text_.size();
    if (lf != std::string_view::npos) ++line_;
    // The legacy reader worked on C strings: a NUL byte ends the line's text.
    piece.text = rest.substr(0, rest.find('\0'));
    return true;
  }

 private:
  std::string_view text_;
  size_t pos_ = 0;
  int line_ = 1;
};

// The fields of one pair of lines. A field marked unmatchable equals no
// requested text: the legacy reader filled an empty field between two ';'
// with the rest of its line, which no caller's name equals.
struct Record {
  std::string_view heading_name;
  bool heading_matchable = true;
  bool has_separator = false;  // entry line holds at least one ';'
  int32_t entry_number = 0;
  std::string_view key_name;
  bool key_matchable = true;
  std::string_view value_text;
};

Record CutFields(const Piece& heading, const Piece& entry) {
  Record rec;
  int p1 = FindNthChar(heading.text, ';', 1);
  int p2 = FindNthChar(heading.text, ';', 2);
  // Fewer than two ';' make p1 == p2: the heading name stays empty and so
  // matches an empty requested heading. Callers rely on that.
  if (p2 > p1 + 1) {
    rec.heading_name = heading.text.substr(p1 + 1, p2 - p1 - 1);
  } else if (p2 == p1 + 1) {
    rec.heading_matchable = false;
  }

  p1 = FindNthChar(entry.text, ';', 1);
  p2 = FindNthChar(entry.text, ';', 2);
  if (p1 < 0) return rec;  // no fields at all; such a record never matches
  rec.has_separator = true;
  // A ';' at the very start gives no number text; it reads 0, as the whole
  // line did in the legacy reader. The number text is never cut short.
  if (p1 > 0) rec.entry_number = common::AtoiWrap(entry.text.substr(0, p1));
  if (p2 > p1 + 1) {
    rec.key_name = entry.text.substr(p1 + 1, p2 - p1 - 1);
  } else if (p2 == p1 + 1) {
    rec.key_matchable = false;
  }
  // With one ';' only, p2 == p1 and the value is everything after it.
  const int line_end = FindNthChar(entry.text, '\n', 1);
  if (line_end >= 0) {
    rec.value_text = entry.text.substr(p2 + 1, line_end - p2 - 1);
  } else if (entry.ends_input) {
    // The last line of a file without a final line end: the legacy reader
    // found no line end and gave no value; the value runs to the end here.
    rec.value_text = entry.text.substr(p2 + 1);
  }
  // An entry line cut at 399 characters keeps the legacy empty value.
  return rec;
}

// What a lookup asks for; `by_key_only` ignores the heading name and the
// entry number.
struct Lookup {
  std::string_view heading;
  std::string_view key;
  int32_t entry_number = 0;
  bool by_key_only = false;
};

// Fills the why-flags of `match` for `rec`; true when one of them holds.
bool Matches(const Record& rec, const Lookup& lookup, SettingMatch& match) {
  if (!rec.has_separator) return false;
  match.by_key = rec.key_matchable && rec.key_name == lookup.key;
  if (!lookup.by_key_only) {
    match.by_heading =
        rec.heading_matchable && rec.heading_name == lookup.heading;
    match.by_entry = rec.entry_number == lookup.entry_number;
  }
  return match.by_heading || match.by_key || match.by_entry;
}

SettingMatch Scan(const Lookup& lookup, std::string_view path) {
  SettingMatch match;
  std::string raw;
  // A directory cannot be read, nor could the legacy runtime open one: no
  // value either way.
  if (!common::ReadWholeFile(common::ResolvePath(path), raw)) {
    match.file_error = errno != 0 ? errno : EIO;
    return match;
  }
  const std::string text = TextModeContent(raw);
  PieceReader reader(text);
  Piece heading_piece;
  Piece entry_piece;
  while (reader.Next(kHeadingPieceMax, heading_piece) &&
         reader.Next(kEntryPieceMax, entry_piece)) {
    const Record rec = CutFields(heading_piece, entry_piece);
    if (!Matches(rec, lookup, match)) continue;
    match.found = true;
    match.heading_line = heading_piece.line;
    match.entry_line = entry_piece.line;
    match.heading_name = rec.heading_name;
    match.key_name = rec.key_name;
    match.value_text = rec.value_text;
    match.entry_number = rec.entry_number;
    match.value = DecipherValue(rec.value_text, kValueKey);
    return match;
  }
  return match;
}

}  // namespace

int FindNthChar(std::string_view text, char c, int n) {
  const size_t limit =
      text.size() < static_cast<size_t>(INT_MAX) ? text.size() : INT_MAX;
  int seen = 0;
  int last = -1;
  for (size_t i = 0; i < limit; ++i) {
    if (text[i] != c) continue;
    last = static_cast<int>(i);
    if (++seen == n) return last;
  }
  return last;
}

SettingMatch FindSetting(std::string_view heading, std::string_view key,
                         int32_t entry_number, std::string_view path) {
  // Only an allocation failure can throw here; like an unreadable file it
  // gives no value.
  try {
    return Scan(Lookup{heading, key, entry_number, false}, path);
  } catch (const std::exception&) {
    SettingMatch none;
    none.file_error = ENOMEM;
    return none;
  }
}

SettingMatch FindSettingByKey(std::string_view key, std::string_view path) {
  try {
    return Scan(Lookup{"", key, 0, true}, path);
  } catch (const std::exception&) {
    return SettingMatch{};
  }
}

std::string ReadSetting(std::string_view heading, std::string_view key,
                        int32_t entry_number, std::string_view path) {
  SettingMatch match = FindSetting(heading, key, entry_number, path);
  return std::move(match.value);
}

}  // namespace settings
