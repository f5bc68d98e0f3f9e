// Fuzz target for the formatter and the record list: arbitrary column
// definitions and row values become records, which are put in order.
//
// Input: the bytes up to the first 0x1E define the columns, one line each
// ("label;type;width", cut as the query definition reader cuts them: the
// label to 99 characters, the type word to 4, the width read from its first
// 3 characters). Every following piece, up to the next 0x1E, is one row, its
// slot values separated by 0x1F (slots past 30 are dropped).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/int_parse.h"
#include "extract/field_format.h"
#include "extract/record_list.h"
#include "fuzz/fuzz_check.h"
#include "querydef/column_definition.h"
#include "querydef/definition_keys.h"
#include "querydef/row_buffer.h"
#include "testsupport/record_oracle.h"

namespace {

using fuzz::Check;
using testsupport::InsertRecord;

constexpr char kRowSeparator = '\x1E';
constexpr char kSlotSeparator = '\x1F';
// Enough rows for every path of the sort, few enough bytes to stay fast.
constexpr size_t kMaxRows = 300;
constexpr size_t kMaxListBytes = 256 * 1024;

// Removes the text up to the first `sep` (and the separator) from `rest`.
std::string_view Take(std::string_view& rest, char sep) {
  const size_t at = rest.find(sep);
  std::string_view piece = rest.substr(0, at);
  rest.remove_prefix(at == std::string_view::npos ? rest.size() : at + 1);
  return piece;
}

querydef::ColumnDefinitions ParseColumns(std::string_view text) {
  querydef::ColumnDefinitions columns;
  for (querydef::ColumnDefinition& column : columns) {
    if (text.empty()) break;
    std::string_view line = fuzz::TakeLine(text);
    column.label =
        std::string(Take(line, ';').substr(0, querydef::kLabelChars));
    column.type = std::string(Take(line, ';').substr(0, querydef::kTypeChars));
    column.width = common::AtoiWrap(line.substr(0, querydef::kWidthChars));
  }
  return columns;
}

querydef::RowBuffer ParseRow(std::string_view text) {
  querydef::RowBuffer row;
  for (std::string_view& slot : row.slots) {
    if (text.empty()) break;
    slot = Take(text, kSlotSeparator);
  }
  return row;
}

void CheckSorted(extract::RecordList& list,
                 const std::vector<std::string>& records) {
  // std::string compares as unsigned bytes, the order of the extract.
  std::vector<std::string> want = records;
  std::sort(want.begin(), want.end());

  Check(list.Sort(), "Sort failed");
  Check(list.sorted(), "not sorted after Sort");
  Check(list.count() == want.size(), "record count after Sort");
  if (list.record_length() == 0) return;
  // Twice: the writer may read the list a second time.
  for (int pass = 0; pass < 2; ++pass) {
    Check(list.Rewind(), "Rewind failed");
    std::string_view rec;
    for (size_t i = 0; i < want.size(); ++i) {
      Check(list.NextRecord(rec) == 1 && rec == want[i],
            "sorted order differs from std::sort");
    }
    Check(list.NextRecord(rec) == 0, "records behind the last");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  const querydef::ColumnDefinitions columns =
      ParseColumns(Take(rest, kRowSeparator));

  const extract::RecordLayout layout = extract::CompileLayout(columns);
  const size_t length = layout.record_length;
  querydef::ColumnDefinitions cleared = columns;
  extract::ClearColumnDefinitions(cleared);
  Check(extract::CompileLayout(cleared).record_length == 0,
        "cleared columns make records");

  std::vector<querydef::RowBuffer> rows;
  while (!rest.empty() && rows.size() < kMaxRows &&
         (rows.size() + 1) * length <= kMaxListBytes) {
    rows.push_back(ParseRow(Take(rest, kRowSeparator)));
  }

  // Both ways to hold the records: one run, or runs of a few records each,
  // some of them in the temporary file.
  extract::RecordListOptions options;
  if (rows.size() % 2 == 1) {
    options.chunk_bytes = 3 * length;
    options.memory_budget = 4 * length;
  }
  extract::RecordList list(options);

  std::vector<std::string> records;
  for (const querydef::RowBuffer& row : rows) {
    const std::string record = testsupport::ExpectedRecord(columns, row);
    Check(record.size() == length, "record length differs from the layout's");
    // Exactly the record's bytes, so that a write behind them is caught.
    auto formatted = std::make_unique<char[]>(length);
    extract::FormatCompiledRecord(layout, row, formatted.get());
    Check(std::string_view(formatted.get(), length) == record,
          "formatted field bytes");

    Check(InsertRecord(list, record) == 1, "InsertRecord refused");
    records.push_back(record);
  }
  Check(list.count() == records.size(), "record count");
  if (!records.empty()) {
    Check(list.record_length() == length, "record length of the list");
    Check(InsertRecord(list, records[0] + "x") == 0,
          "a record of another length was stored");
    Check(list.count() == records.size(), "refused record counted");
  }

  CheckSorted(list, records);
  if (!records.empty()) {
    // Appending after the sort returns to append order, and a new sort
    // takes in the new record.
    Check(InsertRecord(list, records.back()) == 1,
          "InsertRecord after Sort refused");
    records.push_back(records.back());
    Check(!list.sorted(), "still sorted after an append");
    CheckSorted(list, records);
  }

  Check(extract::FreeRecordList(list) == 0 && list.empty(), "FreeRecordList");
  return 0;
}
