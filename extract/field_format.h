// Field formatting: turns one fetched row into one fixed-width record by the
// CHAR, DEC and TXT rules of the 30 column definitions. The definitions are
// compiled once per run into a record layout; every record is formatted
// through it.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "querydef/column_definition.h"
#include "querydef/row_buffer.h"

namespace extract {

using querydef::FieldKind;

// Empties every label and type word and sets every width to 0.
void ClearColumnDefinitions(querydef::ColumnDefinitions& columns);

// `value` without its blanks: on both sides for CHAR and DEC, on the right
// only for TXT. Blanks are the space and the TAB, nothing else (no LF, CR,
// VT or 0xA0); a text of blanks only becomes the empty text.
std::string_view TrimForKind(FieldKind kind, std::string_view value);

// The part of `value` that a field of `kind` and `width` (> 0) keeps in the
// record, before its padding: TrimForKind, then cut to its last `width`
// characters.
std::string_view KeptPart(FieldKind kind, std::size_t width,
                          std::string_view value);

// One column that contributes to the record: it has a label, a type word of
// querydef::kTypeWords and a width above 0.
struct FieldLayout {
  std::size_t slot = 0;  // row slot (0-based) the column reads
  FieldKind kind = FieldKind::kChar;
  std::size_t width = 0;   // always > 0
  std::size_t offset = 0;  // where the field begins in the record
};

struct RecordLayout {
  std::vector<FieldLayout> fields;  // contributing columns, in column order
  std::size_t record_length = 0;    // sum of the field widths
};

// The layout of the records that `columns` produce; the columns that
// contribute nothing are left out.
RecordLayout CompileLayout(const querydef::ColumnDefinitions& columns);

// Writes the record of `row` to `out`: exactly layout.record_length bytes
// and no terminating NUL. Each field holds the KeptPart of its slot, padded
// to its width with spaces on the right (CHAR, TXT) or with '0' on the left
// (DEC).
void FormatCompiledRecord(const RecordLayout& layout,
                          const querydef::RowBuffer& row, char* out);

}  // namespace extract
