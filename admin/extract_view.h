// Reading an extract file back into its records and showing them as a table
// or as CSV.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "querydef/column_definition.h"

namespace admin {

// The records of an extract file. tabfetch wrote every LF inside a record as
// CR LF, so a record takes record_length bytes plus one per LF on disk.
struct ExtractRecords {
  std::vector<std::string> records;  // each record_length bytes, LF restored
  bool partial = false;              // bytes after the last whole record
  std::size_t partial_offset = 0;    // where they begin in the file
  std::size_t partial_bytes = 0;     // how many there are
};

// Splits `file_bytes` into records of `record_length` (> 0) logical bytes,
// reading sequentially: CR LF counts as one LF byte, any other byte (a lone
// CR or LF, too) as itself. Bytes that do not complete a record are
// reported as a partial record.
ExtractRecords SplitExtract(std::string_view file_bytes,
                            std::size_t record_length);

// One contributing column as it stands in every record.
struct ViewColumn {
  std::string label;
  std::size_t offset = 0;
  std::size_t width = 0;
};

// The columns that contribute to the records of `columns`, in record order,
// with their labels. Their widths add up to the record length.
std::vector<ViewColumn> ViewColumns(const querydef::ColumnDefinitions& columns);

// An aligned table: a header row of labels, a rule, one record per line.
// Fields are shown as they stand in the record (padding included), through
// DisplayText, so a LF shows as "\n"; columns are separated by " | ".
void PrintTable(const std::vector<ViewColumn>& columns,
                const std::vector<std::string>& records, std::FILE* out);

// RFC 4180 CSV: a header row of labels, then one row per record; rows end
// with CR LF. Fields are the record's bytes unchanged (padding included).
void PrintCsv(const std::vector<ViewColumn>& columns,
              const std::vector<std::string>& records, std::FILE* out);

}  // namespace admin
