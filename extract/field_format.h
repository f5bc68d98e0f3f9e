// Field formatting: turns one fetched row into one fixed-width record by the
// CHAR, DEC and TXT rules of the 30 column definitions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/row_buffer.h"
#include "querydef/column_definition.h"

namespace extract {

// The type words are the query definition's (querydef/column_definition.h).
using querydef::FieldKind;
using querydef::ParseFieldKind;

// Empties every label and type word and sets every width to 0.
void ClearColumnDefinitions(querydef::ColumnDefinitions& columns);

// Blanks are the space and the TAB, nothing else (no LF, CR, VT or 0xA0).
// Trim drops leading and trailing blanks, TrimRight trailing blanks only. A
// text of blanks only becomes the empty text with either.
std::string_view Trim(std::string_view text);
std::string_view TrimRight(std::string_view text);

// The part of `value` that a field of `kind` and `width` (> 0) keeps in the
// record, before its padding: the value trimmed for its kind (CHAR and DEC on
// both sides, TXT on the right), then cut to its last `width` characters.
std::string_view TrimForKind(FieldKind kind, std::string_view value);
std::string_view KeptPart(FieldKind kind, std::size_t width,
                          std::string_view value);

// Appends the formatted value to `record`. `type` must be exactly "CHAR",
// "DEC" or "TXT", otherwise nothing is appended. CHAR and DEC are trimmed on
// both sides, TXT on the right only. A trimmed value shorter than `width` is
// padded with spaces on the right (CHAR, TXT) or with '0' on the left (DEC);
// a longer one keeps its last `width` characters. A width of 0 or below
// appends nothing.
void FormatField(std::string_view value, int width, std::string_view type,
                 std::string& record);

// Replaces `record` with the record of `row`: column k contributes when its
// label is not empty, formatting slot k of the row by FormatField.
void FormatRecord(const querydef::ColumnDefinitions& columns,
                  const db::RowBuffer& row, std::string& record);

// The length of every record that `columns` produce: the sum of the widths of
// the columns with a label, a recognised type word and a width above 0.
std::size_t RecordLength(const querydef::ColumnDefinitions& columns);

// The same layout, prepared once per run so that each row is formatted
// without looking at type words or touching columns that contribute nothing.

struct FieldLayout {
  std::size_t slot = 0;  // row slot (0-based) the column reads
  FieldKind kind = FieldKind::kChar;
  std::size_t width = 0;  // always > 0
};

struct RecordLayout {
  std::vector<FieldLayout> fields;  // contributing columns, in column order
  std::size_t record_length = 0;    // sum of the field widths
};

RecordLayout CompileLayout(const querydef::ColumnDefinitions& columns);

// Writes the record of `row` to `out`: exactly layout.record_length bytes,
// the same bytes as the FormatRecord above, and no terminating NUL.
void FormatCompiledRecord(const RecordLayout& layout,
                          const db::RowBuffer& row, char* out);

}  // namespace extract
