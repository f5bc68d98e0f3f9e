// An INI profile reader that answers lookups the way the legacy platform's
// profile reader (GetPrivateProfileStringA) did for the query definition
// files. The file is parsed once; lookups then work on memory.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace querydef {

// The parsed contents of one profile file.
//
// File syntax, as the legacy reader understood it:
// - CR, LF and CR LF all end a line; a UTF-8 byte-order mark at the very
//   start of the file is skipped; other bytes (also those >= 0x80) are kept
//   as they are. UTF-16 files are not decoded.
// - Blanks (space, TAB, VT) around section names, key names and values are
//   dropped; blank lines are ignored.
// - A line whose first non-blank character is '[' is a section header. The
//   name ends at the first ']' (the rest of the line is ignored) or, without
//   a ']', at the end of the line.
// - Lines before the first header cannot be reached.
// - Inside a section, a line whose first non-blank character is ';' is a
//   comment, and a line without '=' is ignored. Other lines are split at the
//   first '='.
// - When a section name occurs again, only its first block counts (blocks
//   are not merged); within a block the first occurrence of a key counts.
// - A value of two or more characters that starts and ends with the same
//   quote (' or ") loses that one outer pair.
class Profile {
 public:
  using KeyValue = std::pair<std::string, std::string>;

  // Reads and parses the file at `path`. A missing or unreadable file gives
  // an empty profile, in which every lookup finds nothing, and sets
  // load_error().
  static Profile Load(const std::string& path);
  // Parses profile text held in memory.
  static Profile Parse(std::string_view content);

  // The value of `key` in `section`, or "" when the section or the key does
  // not exist. The requested names are taken without leading and trailing
  // spaces and compared ignoring the case of ASCII letters. The legacy
  // reader handed values out as C strings into a buffer of `size` bytes, so
  // the value ends at its first NUL byte and is cut to `size` - 1
  // characters (size 0 gives "").
  std::string Get(std::string_view section, std::string_view key,
                  size_t size) const;

  // Whether a header of that name exists (names matched as in Get).
  bool HasSection(std::string_view section) const;

  // Every key line of the first block of `section`, in file order,
  // duplicates included, with the value as Get would give it before its cut
  // (trimmed, outer quotes removed, NUL bytes kept). Empty when the section
  // does not exist. The reference stays valid as long as the profile.
  const std::vector<KeyValue>& Keys(std::string_view section) const;

  // errno when Load could not read the file, else 0.
  int load_error() const { return load_error_; }

 private:
  struct Section {
    std::string name;
    std::vector<KeyValue> entries;
    // Folded key name -> index of its first entry.
    std::unordered_map<std::string, size_t> first_entry;
  };

  const Section* FindSection(std::string_view section) const;

  std::vector<Section> sections_;
  // Folded section name -> index of its first block.
  std::unordered_map<std::string, size_t> first_section_;
  int load_error_ = 0;
};

}  // namespace querydef
