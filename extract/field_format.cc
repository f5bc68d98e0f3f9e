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

}  // namespace

void ClearColumnDefinitions(querydef::ColumnDefinitions& columns) {
  for (auto& column : columns) {
    column.label.clear();
    column.type.clear();
    column.width = 0;
  }
}

std::string_view Trim(std::string_view text) {
  text = TrimRight(text);
  std::size_t start = 0;
  while (start < text.size() && IsBlank(text[start])) ++start;
  return text.substr(start);
}

std::string_view TrimRight(std::string_view text) {
  std::size_t end = text.size();
  while (end > 0 && IsBlank(text[end - 1])) --end;
  return text.substr(0, end);
}

std::string_view TrimForKind(FieldKind kind, std::string_view value) {
  // TXT keeps leading blanks; a TXT value of blanks only still becomes the
  // empty text, so it ends up as padding like the other two kinds.
  return kind == FieldKind::kTxt ? TrimRight(value) : Trim(value);
}

std::string_view KeptPart(FieldKind kind, std::size_t width,
                          std::string_view value) {
  value = TrimForKind(kind, value);
  // Too long: the value loses its beginning, not its end.
  return value.size() > width ? value.substr(value.size() - width) : value;
}

RecordLayout CompileLayout(const querydef::ColumnDefinitions& columns) {
  RecordLayout layout;
  for (std::size_t k = 0; k < columns.size(); ++k) {
    const auto& column = columns[k];
    const std::optional<FieldKind> kind = querydef::ParseFieldKind(column.type);
    if (column.label.empty() || !kind || column.width <= 0) continue;
    const std::size_t width = static_cast<std::size_t>(column.width);
    layout.fields.push_back(FieldLayout{k, *kind, width, layout.record_length});
    layout.record_length += width;
  }
  return layout;
}

void FormatCompiledRecord(const RecordLayout& layout,
                          const querydef::RowBuffer& row, char* out) {
  for (const FieldLayout& field : layout.fields) {
    const std::string_view kept =
        KeptPart(field.kind, field.width, row.slots[field.slot]);
    char* at = out + field.offset;
    const std::size_t pad = field.width - kept.size();
    if (field.kind == FieldKind::kDec) {
      FillBytes(at, '0', pad);
      CopyBytes(at + pad, kept.data(), kept.size());
    } else {
      CopyBytes(at, kept.data(), kept.size());
      FillBytes(at + kept.size(), ' ', pad);
    }
  }
}

}  // namespace extract
