// Reading an extract file back into its records.
#include "admin/extract_view.h"

#include <algorithm>

#include "admin/admin_text.h"
#include "extract/field_format.h"

namespace admin {

void RecordSplitter::Add(char byte, const Each& each) {
  record_ += byte;
  if (record_.size() < record_length_) return;
  each(record_);
  record_.clear();
  record_start_ = offset_;
}

void RecordSplitter::Feed(std::string_view bytes, const Each& each) {
  if (record_length_ == 0) return;
  for (const char c : bytes) {
    ++offset_;
    if (pending_cr_) {
      pending_cr_ = false;
      // The writer turned each LF into CR LF and changed nothing else, so a
      // CR LF on disk is always one LF of the record; a CR before anything
      // else is a CR of the data.
      if (c == '\n') {
        Add('\n', each);
        continue;
      }
      --offset_;  // the CR completes a record before this byte
      Add('\r', each);
      ++offset_;
    }
    if (c == '\r') {
      pending_cr_ = true;
    } else {
      Add(c, each);
    }
  }
}

void RecordSplitter::Finish(const Each& each, ExtractRecords& result) {
  if (pending_cr_) {
    pending_cr_ = false;
    Add('\r', each);
  }
  if (record_.empty()) return;
  result.partial = true;
  result.partial_offset = static_cast<std::size_t>(record_start_);
  result.partial_bytes = static_cast<std::size_t>(offset_ - record_start_);
}

ExtractRecords SplitExtract(std::string_view file_bytes,
                            std::size_t record_length) {
  ExtractRecords result;
  if (record_length == 0) return result;
  RecordSplitter splitter(record_length);
  const RecordSplitter::Each keep = [&](const std::string& record) {
    result.records.push_back(record);
  };
  splitter.Feed(file_bytes, keep);
  splitter.Finish(keep, result);
  return result;
}

std::vector<ViewColumn> ViewColumns(
    const querydef::ColumnDefinitions& columns) {
  std::vector<ViewColumn> view;
  for (const extract::FieldLayout& field :
       extract::CompileLayout(columns).fields) {
    view.push_back(
        ViewColumn{columns[field.slot].label, field.offset, field.width});
  }
  return view;
}

namespace {

std::string_view FieldOf(const std::string& record, const ViewColumn& column) {
  return std::string_view(record).substr(column.offset, column.width);
}

}  // namespace

std::vector<std::size_t> TableWidths(const std::vector<ViewColumn>& columns) {
  std::vector<std::size_t> widths;
  for (const ViewColumn& column : columns) {
    widths.push_back(DisplayWidth(DisplayText(column.label)));
  }
  return widths;
}

void WidenTable(const std::vector<ViewColumn>& columns,
                const std::string& record, std::vector<std::size_t>& widths) {
  for (std::size_t c = 0; c < columns.size(); ++c) {
    widths[c] = std::max(
        widths[c], DisplayWidth(DisplayText(FieldOf(record, columns[c]))));
  }
}

namespace {

template <typename CellText>
void PrintRow(const std::vector<ViewColumn>& columns,
              const std::vector<std::size_t>& widths, CellText cell_text,
              std::FILE* out) {
  std::string line;
  for (std::size_t c = 0; c < columns.size(); ++c) {
    if (c > 0) line += " | ";
    // The last cell is not padded: no trailing blanks on the line.
    line += c + 1 < columns.size() ? PadRight(cell_text(c), widths[c])
                                   : cell_text(c);
  }
  line += '\n';
  std::fputs(line.c_str(), out);
}

template <typename Field>
void PrintCsvLine(const std::vector<ViewColumn>& columns, Field field,
                  bool latin1, std::FILE* out) {
  std::string line;
  for (std::size_t c = 0; c < columns.size(); ++c) {
    if (c > 0) line += ',';
    line += CsvField(latin1 ? std::string(field(c)) : Latin1ToUtf8(field(c)));
  }
  line += "\r\n";
  // The fields may hold NUL bytes: write the bytes, not a C string.
  std::fwrite(line.data(), 1, line.size(), out);
}

}  // namespace

void PrintTableHead(const std::vector<ViewColumn>& columns,
                    const std::vector<std::size_t>& widths, std::FILE* out) {
  PrintRow(columns, widths,
           [&](std::size_t c) { return DisplayText(columns[c].label); }, out);
  std::string rule;
  for (std::size_t c = 0; c < columns.size(); ++c) {
    if (c > 0) rule += "-+-";
    rule.append(widths[c], '-');
  }
  rule += '\n';
  std::fputs(rule.c_str(), out);
}

void PrintTableRow(const std::vector<ViewColumn>& columns,
                   const std::vector<std::size_t>& widths,
                   const std::string& record, std::FILE* out) {
  PrintRow(columns, widths,
           [&](std::size_t c) {
             return DisplayText(FieldOf(record, columns[c]));
           },
           out);
}

void PrintTable(const std::vector<ViewColumn>& columns,
                const std::vector<std::string>& records, std::FILE* out) {
  std::vector<std::size_t> widths = TableWidths(columns);
  for (const std::string& record : records) WidenTable(columns, record, widths);
  PrintTableHead(columns, widths, out);
  for (const std::string& record : records) {
    PrintTableRow(columns, widths, record, out);
  }
}

void PrintCsvHead(const std::vector<ViewColumn>& columns, bool latin1,
                  std::FILE* out) {
  PrintCsvLine(columns,
               [&](std::size_t c) { return std::string_view(columns[c].label); },
               latin1, out);
}

void PrintCsvRow(const std::vector<ViewColumn>& columns,
                 const std::string& record, bool latin1, std::FILE* out) {
  PrintCsvLine(columns,
               [&](std::size_t c) { return FieldOf(record, columns[c]); },
               latin1, out);
}

void PrintCsv(const std::vector<ViewColumn>& columns,
              const std::vector<std::string>& records, bool latin1,
              std::FILE* out) {
  PrintCsvHead(columns, latin1, out);
  for (const std::string& record : records) {
    PrintCsvRow(columns, record, latin1, out);
  }
}

}  // namespace admin
