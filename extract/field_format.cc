// Field formatting by the CHAR, DEC and TXT rules.
#include "extract/field_format.h"

#include <cstdint>
#include <cstring>
#include <optional>

namespace extract {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The fields of a record are short: whole 8-byte moves, the last one
// overlapping the one before, beat a library call per field. Every move
// stays inside the `n` bytes given.
void CopyBytes(char* out, const char* in, std::size_t n) {
  if (n >= 8) {
    for (std::size_t i = 0; i + 8 < n; i += 8) std::memcpy(out + i, in + i, 8);
    std::memcpy(out + n - 8, in + n - 8, 8);
  } else if (n >= 4) {
    std::memcpy(out, in, 4);
    std::memcpy(out + n - 4, in + n - 4, 4);
  } else {
    for (std::size_t i = 0; i < n; ++i) out[i] = in[i];
  }
}

void FillBytes(char* out, char c, std::size_t n) {
  if (n >= 8) {
    const std::uint64_t pattern =
        0x0101010101010101ull * static_cast<unsigned char>(c);
    for (std::size_t i = 0; i + 8 < n; i += 8)
      std::memcpy(out + i, &pattern, 8);
    std::memcpy(out + n - 8, &pattern, 8);
  } else {
    for (std::size_t i = 0; i < n; ++i) out[i] = c;
  }
}

// The trim runs for every field of every record: plain pointer steps, no
// bounds-checked substr, and inline in the formatter's loop. TXT keeps
// leading blanks; a TXT value of blanks only still becomes the empty text,
// so it ends up as padding like the other two kinds.
inline std::string_view TrimFor(FieldKind kind, std::string_view text) {
  const char* value = text.data();
  std::size_t len = text.size();
  while (len > 0 && IsBlank(value[len - 1])) --len;
  if (kind != FieldKind::kTxt) {
    while (len > 0 && IsBlank(*value)) {
      ++value;
      --len;
    }
  }
  return std::string_view(value, len);
}

}  // namespace

void ClearColumnDefinitions(querydef::ColumnDefinitions& columns) {
  for (auto& column : columns) {
    column.label.clear();
    column.type.clear();
    column.width = 0;
  }
}

std::string_view TrimForKind(FieldKind kind, std::string_view value) {
  return TrimFor(kind, value);
}

std::string_view KeptPart(FieldKind kind, std::size_t width,
                          std::string_view value) {
  value = TrimFor(kind, value);
  // Too long: the value loses its beginning, not its end.
  if (value.size() <= width) return value;
  return std::string_view(value.data() + (value.size() - width), width);
}

RecordLayout CompileLayout(const querydef::ColumnDefinitions& columns) {
  RecordLayout layout;
  for (std::size_t k = 0; k < columns.size(); ++k) {
    const auto& column = columns[k];
    if (querydef::UseOf(column) != querydef::ColumnUse::kContributes) continue;
    const FieldKind kind = *querydef::ParseFieldKind(column.type);
    const std::size_t width = static_cast<std::size_t>(column.width);
    layout.fields.push_back(FieldLayout{k, kind, width, layout.record_length});
    layout.record_length += width;
  }
  return layout;
}

void FormatCompiledRecord(const RecordLayout& layout,
                          const querydef::RowBuffer& row, char* out) {
  for (const FieldLayout& field : layout.fields) {
    // The KeptPart of the slot: trimmed for its kind, and a value longer
    // than the field keeps its last `w` characters (the first branch).
    const std::string_view value = TrimFor(field.kind, row.slots[field.slot]);
    const std::size_t len = value.size();
    const std::size_t w = field.width;
    char* at = out + field.offset;
    if (len >= w) {
      CopyBytes(at, value.data() + (len - w), w);
    } else if (field.kind == FieldKind::kDec) {
      // Padding first, over the whole field, then the value over it: whole
      // 8-byte moves beat filling only the gap.
      FillBytes(at, '0', w);
      CopyBytes(at + (w - len), value.data(), len);
    } else {
      FillBytes(at, ' ', w);
      CopyBytes(at, value.data(), len);
    }
  }
}

}  // namespace extract
