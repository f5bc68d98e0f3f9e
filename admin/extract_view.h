// Reading an extract file back into its records and showing them as a table
// or as CSV.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
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

// Splits an extract's bytes into records of `record_length` (> 0) logical
// bytes as they arrive, in pieces of any size: CR LF counts as one LF byte,
// any other byte (a lone CR or LF, too) as itself. Holds one record at a
// time, whatever the file's size.
class RecordSplitter {
 public:
  using Each = std::function<void(const std::string& record)>;
  explicit RecordSplitter(std::size_t record_length)
      : record_length_(record_length) {}

  // Takes the next bytes of the file; `each` gets every record they
  // complete.
  void Feed(std::string_view bytes, const Each& each);
  // After the last bytes: completes what they left open (a CR at the very
  // end is a CR of the data) and fills the partial-record fields of
  // `result` when bytes remain that make no whole record.
  void Finish(const Each& each, ExtractRecords& result);

 private:
  void Add(char byte, const Each& each);

  std::size_t record_length_;
  std::string record_;
  bool pending_cr_ = false;        // a CR whose next byte is not yet known
  std::uint64_t offset_ = 0;       // bytes fed so far
  std::uint64_t record_start_ = 0; // where record_ begins in the file
};

// The records of `file_bytes` in memory, by RecordSplitter.
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
// A column is as wide as its widest text: TableWidths of the labels, widened
// by WidenTable for every record, then the head and the rows.
std::vector<std::size_t> TableWidths(const std::vector<ViewColumn>& columns);
void WidenTable(const std::vector<ViewColumn>& columns,
                const std::string& record, std::vector<std::size_t>& widths);
void PrintTableHead(const std::vector<ViewColumn>& columns,
                    const std::vector<std::size_t>& widths, std::FILE* out);
void PrintTableRow(const std::vector<ViewColumn>& columns,
                   const std::vector<std::size_t>& widths,
                   const std::string& record, std::FILE* out);
void PrintTable(const std::vector<ViewColumn>& columns,
                const std::vector<std::string>& records, std::FILE* out);

// RFC 4180 CSV: a header row of labels, then one row per record; rows end
// with CR LF. Fields are the record's bytes (padding included), in UTF-8
// (Latin1ToUtf8), or unchanged with `latin1`.
void PrintCsvHead(const std::vector<ViewColumn>& columns, bool latin1,
                  std::FILE* out);
void PrintCsvRow(const std::vector<ViewColumn>& columns,
                 const std::string& record, bool latin1, std::FILE* out);
void PrintCsv(const std::vector<ViewColumn>& columns,
              const std::vector<std::string>& records, bool latin1,
              std::FILE* out);

}  // namespace admin
