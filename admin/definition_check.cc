// Checking a query definition for the pitfalls that tabfetch passes over in
// silence. Loading and formatting are the libraries' own; this file only
// compares what they made of the definition with what the file says.
#include "admin/definition_check.h"

#include <string>
#include <unordered_map>
#include <utility>

#include "admin/admin_text.h"
#include "admin/placeholder_use.h"
#include "common/ascii_case.h"
#include "common/exit_codes.h"
#include "extract/field_format.h"
#include "querydef/definition_keys.h"

namespace admin {
namespace {

using common::AsciiUpper;
using querydef::ColumnKey;
using querydef::kPlaceholder;
using querydef::kStatementLineChars;
using querydef::kWidthChars;
using querydef::StatementKey;

// The whole value of a key, before the loader cuts it.
constexpr std::size_t kWholeValue = std::string::npos;

bool TypeRecognised(std::string_view type) {
  return querydef::ParseFieldKind(type).has_value();
}

// The type words, separated by ", ".
std::string TypeWordList() {
  std::string list;
  for (std::string_view word : querydef::kTypeWords) {
    if (!list.empty()) list += ", ";
    list += word;
  }
  return list;
}

// The first SQLnnn the loader finds missing or empty: the statement ends
// there, and no later key is read.
int FirstStatementGap(const querydef::Profile& profile,
                      std::string_view section) {
  int line = 1;
  while (!profile.Get(section, StatementKey(line), kStatementLineChars + 1)
              .empty()) {
    ++line;
  }
  return line;
}

void CheckKeys(const querydef::Profile& profile, std::string_view section,
               std::vector<std::string>& warnings) {
  const int gap = FirstStatementGap(profile, section);
  bool gap_present = false;  // the key is there, with an empty value
  for (const auto& entry : profile.Keys(section)) {
    if (AsciiUpper(entry.first) == StatementKey(gap)) gap_present = true;
  }
  std::unordered_map<std::string, std::string> first_value;
  for (const auto& [key, value] : profile.Keys(section)) {
    const std::string name = AsciiUpper(key);
    const std::string shown = Quoted(key);
    auto [it, inserted] = first_value.emplace(name, value);
    if (!inserted) {
      warnings.push_back("key " + shown + " appears more than once: only " +
                         "its first value " + Quoted(it->second) + " counts, " +
                         Quoted(value) + " is ignored");
      continue;
    }
    const querydef::ParsedKey parsed = querydef::ParseKey(key);
    if (parsed.kind == querydef::KeyKind::kStatementLine) {
      const int line = parsed.number;
      if (line < 0) {
        warnings.push_back("key " + shown +
                           " is never read: statement lines are " +
                           StatementKey(1) + ", " + StatementKey(2) + ", ...");
      } else if (line == 0) {
        warnings.push_back("key " + shown +
                           " is never read: statement lines begin at " +
                           StatementKey(1));
      } else if (!parsed.read) {
        warnings.push_back("key " + shown + " is never read: line " +
                           std::to_string(line) + " of the statement is " +
                           StatementKey(line));
      } else if (line > gap) {
        warnings.push_back("key " + shown +
                           " is never read: the statement ends at " +
                           StatementKey(gap) + ", which is " +
                           (gap_present ? "empty" : "missing"));
      }
    } else if (parsed.kind == querydef::KeyKind::kOther) {
      warnings.push_back("key " + shown + " is not used by tabfetch");
    } else if (!parsed.read) {
      warnings.push_back("key " + shown + " is never read: column keys are " +
                         ColumnKey(parsed.prefix, 1) + " to " +
                         ColumnKey(parsed.prefix, querydef::kColumnCount));
    }
  }
}

void CheckStatementLines(const querydef::Profile& profile,
                         std::string_view section,
                         std::vector<std::string>& warnings) {
  const int gap = FirstStatementGap(profile, section);
  for (int line = 1; line < gap; ++line) {
    const std::string whole =
        profile.Get(section, StatementKey(line), kWholeValue);
    if (whole.size() > kStatementLineChars) {
      warnings.push_back(
          StatementKey(line) + " has " + std::to_string(whole.size()) +
          " characters: only the first " + std::to_string(kStatementLineChars) +
          " are used, " +
          Quoted(std::string_view(whole).substr(kStatementLineChars)) +
          " is dropped");
    }
  }
}

// Fills `report` and adds the column's warnings.
void CheckColumn(const querydef::Profile& profile, std::string_view section,
                 const querydef::ColumnDefinition& column, ColumnReport& report,
                 std::vector<std::string>& warnings) {
  const std::string label_key = ColumnKey(querydef::kLabelKey, report.number);
  const std::string type_key = ColumnKey(querydef::kTypeKey, report.number);
  const std::string width_key = ColumnKey(querydef::kWidthKey, report.number);
  const std::string raw_label = profile.Get(section, label_key, kWholeValue);
  const std::string raw_type = profile.Get(section, type_key, kWholeValue);
  const std::string raw_width = profile.Get(section, width_key, kWholeValue);
  const std::string prefix = "column " + ColumnKey("", report.number) + ": ";
  // Why the column contributes nothing is the query definition's own rule;
  // the warnings below say what in the file led to it.
  const querydef::ColumnUse use = querydef::UseOf(column);
  report.reason = querydef::ColumnUseText(use);

  if (use == querydef::ColumnUse::kNoLabel) {
    if (!raw_type.empty() || !raw_width.empty()) {
      warnings.push_back(prefix + type_key + "/" + width_key +
                         " are set, but " + label_key + " is " +
                         (raw_label.empty() ? "missing or empty" : "unusable") +
                         ": the column is switched off");
    }
    return;
  }

  const bool recognised = TypeRecognised(column.type);
  if (raw_type.size() > column.type.size()) {
    warnings.push_back(
        prefix + "type word " + Quoted(raw_type) + " is read as its first " +
        CountWord(querydef::kTypeChars) + " characters " + Quoted(column.type) +
        (recognised ? "" : ", which is not recognised"));
  }
  if (use == querydef::ColumnUse::kNoType) {
    warnings.push_back(prefix + "label " + Quoted(column.label) +
                       " but no type word (" + type_key +
                       "): the column contributes nothing");
  } else if (!recognised) {
    if (TypeRecognised(AsciiUpper(column.type))) {
      warnings.push_back(prefix + "type word " + Quoted(column.type) +
                         " is not upper case: only " +
                         Quoted(AsciiUpper(column.type)) +
                         " is recognised, the column contributes nothing");
    } else if (raw_type.size() <= column.type.size()) {
      warnings.push_back(prefix + "type word " + Quoted(column.type) +
                         " is not one of " + TypeWordList() +
                         ": the column contributes nothing");
    }
  }

  if (raw_width.size() > kWidthChars) {
    warnings.push_back(
        prefix + "width " + Quoted(raw_width) + " is read as its first " +
        CountWord(kWidthChars) + " characters " +
        Quoted(std::string_view(raw_width).substr(0, kWidthChars)) +
        ": width " + std::to_string(column.width));
  }
  if (column.width < 0) {
    warnings.push_back(prefix + "negative width " +
                       std::to_string(column.width) +
                       ": the column contributes nothing");
  } else if (column.width == 0) {
    warnings.push_back(
        prefix + "width 0 (" + width_key + " " +
        (raw_width.empty() ? "missing" : "is " + Quoted(raw_width)) +
        "): the column contributes nothing");
  }
}

}  // namespace

DefinitionCheck CheckDefinition(const querydef::Profile& profile,
                                std::string_view section) {
  DefinitionCheck check;
  querydef::QueryDefinition def;
  extract::ClearColumnDefinitions(def.columns);
  const querydef::TerminalName sample{kSampleTerminal, kSampleTerminal, {}};
  check.status = querydef::GetIniValuesFromProfile(profile, section, sample,
                                                   false, stdout, def);
  if (check.status == querydef::kNoStatement) return check;
  check.statement = def.statement;
  check.definitions = def.columns;

  check.placeholder_count = static_cast<int>(def.placeholder_count);
  if (check.status != querydef::kOk) {
    // Refused: the statement is the one before substitution.
    check.warnings.push_back(
        "tabfetch refuses even the plain terminal name " +
        std::string(kSampleTerminal) + " here: the text in place of " +
        std::string(kPlaceholder) +
        " would change how the server reads the statement (tabfetch prints "
        "\"Terminalname im SQL-Statement nicht zulaessig\" and ends with " +
        ExitCodeText(common::kTerminalRefusedExit) + ")");
  }

  if (section.size() > querydef::kMaxNameLength) {
    check.warnings.push_back(
        "the section name has " + std::to_string(section.size()) +
        " characters: tabfetch refuses names over " +
        std::to_string(querydef::kMaxNameLength) + " characters (" +
        ExitCodeText(common::kNameTooLongExit) + ")");
  }
  CheckStatementLines(profile, section, check.warnings);
  CheckKeys(profile, section, check.warnings);

  if (check.placeholder_count == 0) {
    check.warnings.push_back("the statement holds no " +
                             std::string(kPlaceholder) +
                             ": the terminal name is not used");
  }
  for (std::string& w :
       PlaceholderWarnings(querydef::ReadStatement(profile, section))) {
    check.warnings.push_back(std::move(w));
  }
  // What is left of the placeholder after substitution is written in other
  // letter case (the sample name holds no '$').
  const std::string upper = AsciiUpper(check.statement);
  const std::string wanted = AsciiUpper(kPlaceholder);
  for (std::size_t pos = upper.find(wanted); pos != std::string::npos;
       pos = upper.find(wanted, pos + wanted.size())) {
    const std::string_view found =
        std::string_view(check.statement).substr(pos, kPlaceholder.size());
    if (found != kPlaceholder) {
      check.warnings.push_back(
          "placeholder " + Quoted(found) + " is not replaced: only " +
          std::string(kPlaceholder) + " in exactly that letter case is");
    }
  }

  for (int k = 0; k < querydef::kColumnCount; ++k) {
    ColumnReport& report = check.columns[k];
    report.number = k + 1;
    report.definition = def.columns[k];
    report.used = !def.columns[k].label.empty() ||
                  !def.columns[k].type.empty() || def.columns[k].width != 0;
    CheckColumn(profile, section, def.columns[k], report, check.warnings);
  }
  const extract::RecordLayout layout = extract::CompileLayout(def.columns);
  for (const extract::FieldLayout& field : layout.fields) {
    ColumnReport& report = check.columns[field.slot];
    report.contributes = true;
    report.offset = field.offset;
    report.reason.clear();
  }
  check.record_length = layout.record_length;
  return check;
}

}  // namespace admin
