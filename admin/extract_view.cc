// Reading an extract file back into its records.
#include "admin/extract_view.h"

#include <algorithm>

#include "admin/admin_text.h"
#include "extract/field_format.h"

namespace admin {

ExtractRecords SplitExtract(std::string_view file_bytes,
                            std::size_t record_length) {
  ExtractRecords result;
  if (record_length == 0) return result;
  std::size_t pos = 0;
  while (pos < file_bytes.size()) {
    const std::size_t start = pos;
    std::string record;
    record.reserve(record_length);
    while (record.size() < record_length && pos < file_bytes.size()) {
      // The writer turned each LF into CR LF and changed nothing else, so a
      // CR LF on disk is always one LF of the record; a CR before anything
      // else is a CR of the data.
      if (file_bytes[pos] == '\r' && pos + 1 < file_bytes.size() &&
          file_bytes[pos + 1] == '\n') {
        record += '\n';
        pos += 2;
      } else {
        record += file_bytes[pos];
        ++pos;
      }
    }
    if (record.size() < record_length) {
      result.partial = true;
      result.partial_offset = start;
      result.partial_bytes = file_bytes.size() - start;
      break;
    }
    result.records.push_back(std::move(record));
  }
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

void PrintTable(const std::vector<ViewColumn>& columns,
                const std::vector<std::string>& records, std::FILE* out) {
  std::vector<std::size_t> widths;
  for (const ViewColumn& column : columns) {
    widths.push_back(DisplayWidth(DisplayText(column.label)));
  }
  for (const std::string& record : records) {
    for (std::size_t c = 0; c < columns.size(); ++c) {
      widths[c] = std::max(
          widths[c], DisplayWidth(DisplayText(FieldOf(record, columns[c]))));
    }
  }

  auto print_row = [&](auto cell_text) {
    std::string line;
    for (std::size_t c = 0; c < columns.size(); ++c) {
      if (c > 0) line += " | ";
      // The last cell is not padded: no trailing blanks on the line.
      line += c + 1 < columns.size() ? PadRight(cell_text(c), widths[c])
                                     : cell_text(c);
    }
    line += '\n';
    std::fputs(line.c_str(), out);
  };

  print_row([&](std::size_t c) { return DisplayText(columns[c].label); });
  std::string rule;
  for (std::size_t c = 0; c < columns.size(); ++c) {
    if (c > 0) rule += "-+-";
    rule.append(widths[c], '-');
  }
  rule += '\n';
  std::fputs(rule.c_str(), out);
  for (const std::string& record : records) {
    print_row([&](std::size_t c) {
      return DisplayText(FieldOf(record, columns[c]));
    });
  }
}

void PrintCsv(const std::vector<ViewColumn>& columns,
              const std::vector<std::string>& records, std::FILE* out) {
  auto print_row = [&](auto field) {
    std::string line;
    for (std::size_t c = 0; c < columns.size(); ++c) {
      if (c > 0) line += ',';
      line += CsvField(field(c));
    }
    line += "\r\n";
    // The fields may hold NUL bytes: write the bytes, not a C string.
    std::fwrite(line.data(), 1, line.size(), out);
  };
  print_row([&](std::size_t c) { return std::string_view(columns[c].label); });
  for (const std::string& record : records) {
    print_row([&](std::size_t c) { return FieldOf(record, columns[c]); });
  }
}

}  // namespace admin
