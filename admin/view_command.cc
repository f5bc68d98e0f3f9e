// tabfetch-admin view EXTRACT SECTION [--csv]: an extract file split into
// its records by the section's record layout, as a table or as CSV.
#include <cstddef>
#include <string>
#include <vector>

#include "admin/admin_main.h"
#include "admin/admin_text.h"
#include "admin/command_support.h"
#include "admin/commands.h"
#include "admin/definition_check.h"
#include "admin/extract_view.h"
#include "common/file_util.h"
#include "extract/field_format.h"
#include "querydef/query_definition.h"

namespace admin {
int RunView(const Args& args, std::FILE* out, std::FILE* err) {
  const std::string& extract_path = args.positional[0];
  const std::string& section = args.positional[1];
  LoadedDefinition loaded;
  if (!LoadDefinitionFile(args, section, loaded, err)) return kExitError;
  querydef::QueryDefinition def;
  extract::ClearColumnDefinitions(def.columns);
  const querydef::TerminalName sample{kSampleTerminal, kSampleTerminal, {}};
  // The terminal name does not change the layout; a refused one still
  // loads the columns.
  if (querydef::GetIniValuesFromProfile(loaded.profile, section, sample, false,
                                        out, def) == querydef::kNoStatement) {
    PrintMessage(err, "section [" + DisplayText(section) + "] of " +
                          Quoted(loaded.file) +
                          " has no statement: tabfetch never wrote an "
                          "extract for it");
    return kExitError;
  }
  const std::vector<ViewColumn> columns = ViewColumns(def.columns);
  const std::size_t record_length =
      extract::CompileLayout(def.columns).record_length;
  if (record_length == 0) {
    PrintMessage(err, "no column of section [" + DisplayText(section) +
                          "] contributes to the record (record length 0): "
                          "the extract cannot be split");
    return kExitError;
  }
  std::string bytes;
  if (!common::ReadWholeFile(extract_path, bytes)) {
    PrintMessage(
        err, "the extract file " + Quoted(extract_path) + " cannot be read");
    return kExitError;
  }
  const ExtractRecords split = SplitExtract(bytes, record_length);
  if (args.Flag("--csv")) {
    PrintCsv(columns, split.records, out);
  } else {
    PrintTable(columns, split.records, out);
    const std::size_t count = split.records.size();
    PrintLine(out, "(" + std::to_string(count) +
                       (count == 1 ? " record of " : " records of ") +
                       std::to_string(record_length) + " bytes)");
  }
  for (const std::string& note : loaded.notes) {
    PrintMessage(err, "warning: " + note);
  }
  if (split.partial) {
    PrintMessage(
        err, "the extract file " + Quoted(extract_path) +
                 " ends with a partial record: " +
                 std::to_string(split.partial_bytes) + " bytes at offset " +
                 std::to_string(split.partial_offset) +
                 " do not make a record of " + std::to_string(record_length) +
                 " bytes (another record length, or a damaged file)");
    return kExitFindings;
  }
  return kExitClean;
}

}  // namespace admin
