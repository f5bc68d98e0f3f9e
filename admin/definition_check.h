// What tabfetch makes of one query definition, and the places where it
// silently does something else than its author probably meant.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "querydef/column_definition.h"
#include "querydef/profile_reader.h"
#include "querydef/query_definition.h"

namespace admin {

// The terminal name the statement is shown with when no real one is given.
inline constexpr char kSampleTerminal[] = "TERM01";

// One of the columns as tabfetch loads it.
struct ColumnReport {
  int number = 0;  // 1..querydef::kColumnCount
  querydef::ColumnDefinition definition;
  bool used = false;  // it has a label, a type word or a width other than 0
  bool contributes = false;
  std::size_t offset = 0;  // in the record, when it contributes (the
                           // layout's FieldLayout::offset)
  std::string reason;      // why it does not contribute, e.g. "no label"
};

struct DefinitionCheck {
  // querydef::kOk, kNoStatement (nothing else is filled in then) or
  // kTerminalRefused (the statement is the one before substitution).
  int status = querydef::kOk;
  std::string statement;      // as sent, with kSampleTerminal
  int placeholder_count = 0;  // occurrences of $parm01 replaced
  std::array<ColumnReport, querydef::kColumnCount> columns;
  querydef::ColumnDefinitions definitions;  // as loaded
  std::size_t record_length = 0;
  std::vector<std::string> warnings;
};

// Loads `section` of `profile` as tabfetch does (GetIniValues, with the
// sample terminal name) and looks for every silent pitfall: a label whose
// type word is unrecognised, lower case, cut or missing; a type or width
// without label; a width text cut to kWidthChars characters, a width of 0 or
// a negative one; statement keys that are never read (after the first
// missing or empty statement line, or misspelt) and statement lines cut to
// kStatementLineChars characters; other keys that are never read, and
// repeated keys; a statement without $parm01 or with the placeholder in
// other letter case; a section name that tabfetch refuses; $parm01 where a
// legal name changes what the statement means (see PlaceholderWarnings).
DefinitionCheck CheckDefinition(const querydef::Profile& profile,
                                std::string_view section);

}  // namespace admin
