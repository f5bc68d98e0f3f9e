// Test oracles of the extract output, for the tests and the fuzz targets
// (header only: the fuzz targets do not link the test library). The record
// that the CHAR, DEC and TXT rules make of a row, written out independently
// of the record layout, and storing a finished record in a record list.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

#include "extract/record_list.h"
#include "querydef/column_definition.h"
#include "querydef/row_buffer.h"

namespace testsupport {

// The record of `row`: every column with a label, an upper-case type word
// CHAR, DEC or TXT and a width above 0 contributes its slot, blanks (space,
// TAB) trimmed on both sides (CHAR, DEC) or on the right (TXT), cut to its
// last `width` characters, padded with '0' on the left (DEC) or with spaces
// on the right.
inline std::string ExpectedRecord(const querydef::ColumnDefinitions& columns,
                                  const querydef::RowBuffer& row) {
  auto is_blank = [](char c) { return c == ' ' || c == '\t'; };
  std::string record;
  for (std::size_t k = 0; k < columns.size(); ++k) {
    const querydef::ColumnDefinition& column = columns[k];
    const bool known =
        column.type == "CHAR" || column.type == "DEC" || column.type == "TXT";
    if (column.label.empty() || !known || column.width <= 0) continue;
    const std::size_t width = static_cast<std::size_t>(column.width);
    std::string_view value = row.slots[k];
    while (!value.empty() && is_blank(value.back())) value.remove_suffix(1);
    if (column.type != "TXT") {
      while (!value.empty() && is_blank(value.front())) value.remove_prefix(1);
    }
    if (value.size() >= width) {
      record.append(value.substr(value.size() - width));
    } else if (column.type == "DEC") {
      record.append(width - value.size(), '0');
      record.append(value);
    } else {
      record.append(value);
      record.append(width - value.size(), ' ');
    }
  }
  return record;
}

// Stores a copy of `record`. Returns 1 when stored, 0 when not (its length
// differs from the records already stored, or memory ran out).
inline int InsertRecord(extract::RecordList& list, std::string_view record) {
  char* slot = list.AppendSlot(record.size());
  if (slot == nullptr) return 0;
  if (!record.empty()) std::memcpy(slot, record.data(), record.size());
  return 1;
}

}  // namespace testsupport
