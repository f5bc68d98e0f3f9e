// tabfetch-admin check SECTION [--run TERMINAL]: the query definition as
// tabfetch loads it, its columns, its record length and its pitfalls; with
// --run, the statement run against the database and its rows measured.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "admin/admin_main.h"
#include "admin/admin_text.h"
#include "admin/column_stats.h"
#include "admin/command_support.h"
#include "admin/commands.h"
#include "admin/definition_check.h"
#include "common/exit_codes.h"
#include "db/db_connection.h"
#include "extract/field_format.h"
#include "querydef/definition_keys.h"
#include "querydef/query_definition.h"
#include "querydef/row_buffer.h"
#include "settings/connection_settings.h"

namespace admin {
namespace {

// "01, 03-05, 07" for the 1-based column numbers in `numbers` (ascending).
std::string Ranges(const std::vector<int>& numbers) {
  std::string text;
  char buf[16];
  for (std::size_t i = 0; i < numbers.size();) {
    std::size_t j = i;
    while (j + 1 < numbers.size() && numbers[j + 1] == numbers[j] + 1) ++j;
    if (!text.empty()) text += ", ";
    if (j == i) {
      std::snprintf(buf, sizeof buf, "%02d", numbers[i]);
    } else {
      std::snprintf(buf, sizeof buf, "%02d-%02d", numbers[i], numbers[j]);
    }
    text += buf;
    i = j + 1;
  }
  return text;
}

// The columns in use, one line each, then one line for the rest.
void PrintColumnTable(const DefinitionCheck& check, std::FILE* out) {
  std::size_t label_width = 5;
  std::size_t type_width = 4;
  std::vector<int> unused;
  for (const ColumnReport& c : check.columns) {
    if (!c.used) {
      unused.push_back(c.number);
      continue;
    }
    label_width =
        std::max(label_width, DisplayWidth(DisplayText(c.definition.label)));
    type_width =
        std::max(type_width, DisplayWidth(DisplayText(c.definition.type)));
  }
  char buf[64];
  PrintLine(out, "Columns:");
  std::string head = "  No  " + PadRight("Label", label_width) + "  " +
                     PadRight("Type", type_width) + "   Width  Offset  " +
                     "Contributes";
  PrintLine(out, head);
  for (const ColumnReport& c : check.columns) {
    if (!c.used) continue;
    std::snprintf(buf, sizeof buf, "  %02d  ", c.number);
    std::string line = buf;
    line += PadRight(DisplayText(c.definition.label), label_width) + "  ";
    line += PadRight(DisplayText(c.definition.type), type_width);
    std::snprintf(buf, sizeof buf, " %7d", c.definition.width);
    line += buf;
    if (c.contributes) {
      std::snprintf(buf, sizeof buf, "  %6zu  yes", c.offset);
    } else {
      std::snprintf(buf, sizeof buf, "  %6s  no: ", "-");
    }
    line += buf;
    if (!c.contributes) line += c.reason;
    PrintLine(out, line);
  }
  if (!unused.empty()) {
    PrintLine(out, "  " + Ranges(unused) + ": not set (" +
                       std::to_string(unused.size()) +
                       (unused.size() == 1 ? " column" : " columns") +
                       " without label, type word or width)");
  }
}

// The measured columns of --run, and the warnings they give.
void PrintRunStats(const ColumnStatistics& stats,
                   const querydef::ColumnDefinitions& columns,
                   std::size_t record_length, std::FILE* out,
                   std::vector<std::string>& warnings) {
  std::size_t label_width = 5;
  for (const ColumnStats& s : stats.columns()) {
    label_width =
        std::max(label_width, DisplayWidth(DisplayText(columns[s.slot].label)));
  }
  PrintLine(out, "  No  " + PadRight("Label", label_width) +
                     "   Width  Longest      Cut  With LF");
  char buf[96];
  for (const ColumnStats& s : stats.columns()) {
    std::snprintf(buf, sizeof buf, "  %02zu  ", s.slot + 1);
    std::string line =
        buf + PadRight(DisplayText(columns[s.slot].label), label_width);
    std::snprintf(buf, sizeof buf, " %7zu %8zu %8llu %8llu", s.width, s.longest,
                  static_cast<unsigned long long>(s.cut),
                  static_cast<unsigned long long>(s.with_lf));
    PrintLine(out, line + buf);
    if (s.cut > 0) {
      warnings.push_back(
          "run: column " + std::to_string(s.slot + 1) + ": " +
          std::to_string(s.cut) + " value(s) longer than the width " +
          std::to_string(s.width) + " (longest " + std::to_string(s.longest) +
          "): they lose their beginning");
    }
    if (s.with_lf > 0) {
      warnings.push_back(
          "run: column " + std::to_string(s.slot + 1) + ": " +
          std::to_string(s.with_lf) +
          " value(s) hold a line feed: each makes its record one byte "
          "longer on disk");
    }
  }
  PrintLine(out, "  extract size: " + std::to_string(stats.rows()) + " x " +
                     std::to_string(record_length) + " bytes + " +
                     std::to_string(stats.LineFeedBytes()) +
                     " for line feeds = " +
                     std::to_string(stats.ExtractBytes()) + " bytes");
}

// Connects as tabfetch does and runs the statement with `terminal`. Adds its
// findings to `warnings`; returns false (after printing why) on failure.
bool RunQuery(const Args& args, std::string_view section,
              const std::string& terminal, const LoadedDefinition& loaded,
              std::FILE* out, std::FILE* err,
              std::vector<std::string>& warnings) {
  if (terminal.size() > querydef::kMaxNameLength) {
    PrintMessage(err,
                 "the terminal name has " + std::to_string(terminal.size()) +
                     " characters: tabfetch refuses names over " +
                     std::to_string(querydef::kMaxNameLength) +
                     " characters (\"Terminalname zu lang, erlaubt: max. " +
                     std::to_string(querydef::kMaxNameLength) + " Zeichen\", " +
                     ExitCodeText(common::kNameTooLongExit) + ")");
    return false;
  }
  db::Connection conn;
  settings::ConnectionSettings values;
  if (!ConnectAsTabfetch(
          args, conn, values,
          " and ends with " + ExitCodeText(common::kRunEndedExit), err)) {
    return false;
  }

  querydef::QueryDefinition def;
  extract::ClearColumnDefinitions(def.columns);
  const querydef::TerminalName name = conn.TerminalNameFor(terminal);
  int status = querydef::GetIniValuesFromProfile(loaded.profile, section, name,
                                                 false, out, def);
  if (status == querydef::kTerminalRefused) {
    PrintMessage(err, "the terminal name " + Quoted(terminal) +
                          " may not stand where $parm01 stands in the "
                          "statement: tabfetch prints \"Terminalname im "
                          "SQL-Statement nicht zulaessig\" and ends with " +
                          ExitCodeText(common::kTerminalRefusedExit));
    return false;
  }
  if (status != querydef::kOk) {
    PrintMessage(err, "the section has no statement: tabfetch ends with " +
                          ExitCodeText(common::kNoStatementExit));
    return false;
  }
  PrintLine(out, "");
  PrintLine(out, "Run with terminal name " + Quoted(terminal) + ":");
  PrintLine(out,
            "  statement as sent: '" + DisplayText(def.statement, false) + "'");
  status = conn.OpenQuery(def.statement);
  if (status != db::kOk) {
    PrintMessage(err, "the server rejected the statement: error " +
                          std::to_string(status) + ": " +
                          DisplayText(conn.LastError(), false) +
                          "; tabfetch writes no record and reports 0 records");
    return false;
  }

  const extract::RecordLayout layout = extract::CompileLayout(def.columns);
  ColumnStatistics stats(layout);
  querydef::RowBuffer row;
  while ((status = conn.FetchRow(row)) == db::kOk) stats.Add(row);
  const int result_columns = conn.ColumnCount();
  // Why the result broke off, read before the close drains the connection.
  const int fetch_error = conn.ErrorNumber();
  const std::string fetch_message = conn.LastError();
  (void)conn.CloseQuery();
  if (status == db::kResultFailed) {
    PrintMessage(err, "the result broke off at row " +
                          std::to_string(stats.rows() + 1) + ": error " +
                          std::to_string(fetch_error) + ": " +
                          DisplayText(fetch_message, false) +
                          ": tabfetch writes no record and reports 0 records");
    return false;
  }
  if (status != db::kNoMoreRows) {
    PrintMessage(err, "reading row " + std::to_string(stats.rows() + 1) +
                          " failed: status " + std::to_string(status) +
                          "; tabfetch prints \"Fehler Lesen in Leseschleife " +
                          std::to_string(status) +
                          "\" and writes the rows before it");
    return false;
  }

  PrintLine(out, "  rows: " + std::to_string(stats.rows()) +
                     ", result columns: " + std::to_string(result_columns));
  PrintRunStats(stats, def.columns, layout.record_length, out, warnings);
  for (const extract::FieldLayout& field : layout.fields) {
    if (static_cast<int>(field.slot) >= result_columns) {
      warnings.push_back("run: column " + std::to_string(field.slot + 1) +
                         " contributes, but the statement returns only " +
                         std::to_string(result_columns) +
                         " columns: it is always padding");
    }
  }
  if (result_columns > querydef::kColumnCount) {
    warnings.push_back(
        "run: the statement returns " + std::to_string(result_columns) +
        " columns: those after the " + std::to_string(querydef::kColumnCount) +
        "th are never used");
  }
  return true;
}

}  // namespace

int RunCheck(const Args& args, std::FILE* out, std::FILE* err) {
  const std::string& section = args.positional[0];
  LoadedDefinition loaded;
  if (!LoadDefinitionFile(args, section, loaded, err)) return kExitError;
  const DefinitionCheck check = CheckDefinition(loaded.profile, section);
  if (check.status == querydef::kNoStatement) {
    PrintMessage(err, "section [" + DisplayText(section) + "] of " +
                          loaded.shown_file + " has no statement (" +
                          querydef::StatementKey(1) +
                          " missing or empty): tabfetch ends with " +
                          ExitCodeText(common::kNoStatementExit));
    return kExitError;
  }
  std::vector<std::string> warnings = loaded.notes;
  warnings.insert(warnings.end(), check.warnings.begin(), check.warnings.end());

  PrintLine(out, "Query definition: section [" + DisplayText(section) +
                     "] of " + loaded.shown_file + " (DB_SYSTEM " +
                     Quoted(loaded.db_system) + ")");
  if (check.status == querydef::kOk) {
    PrintLine(out, "Statement as sent with the sample terminal name " +
                       std::string(kSampleTerminal) + ":");
  } else {
    PrintLine(out, "Statement before substitution (refused, see warnings):");
  }
  PrintLine(out, "  '" + DisplayText(check.statement, false) + "'");
  PrintLine(out, "  $parm01 replaced: " +
                     std::to_string(check.placeholder_count) + " time(s)");
  PrintColumnTable(check, out);
  PrintLine(out, "Record length: " + std::to_string(check.record_length) +
                     " bytes (on disk one more per line feed in a value)");

  bool ok = true;
  if (const std::string* terminal = args.Value("--run")) {
    ok = RunQuery(args, section, *terminal, loaded, out, err, warnings);
  }

  PrintLine(out, "");
  if (warnings.empty()) {
    PrintLine(out, "No warnings.");
  } else {
    PrintLine(out, "Warnings (" + std::to_string(warnings.size()) + "):");
    for (const std::string& w : warnings) PrintLine(out, "  " + w);
  }
  if (!ok) return kExitError;
  return warnings.empty() ? kExitClean : kExitFindings;
}

}  // namespace admin
