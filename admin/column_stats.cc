// Column statistics over fetched rows, with the formatter's own trim and cut.
#include "admin/column_stats.h"

#include <algorithm>
#include <string_view>

namespace admin {

ColumnStatistics::ColumnStatistics(const extract::RecordLayout& layout)
    : fields_(layout.fields), record_length_(layout.record_length) {
  for (const extract::FieldLayout& field : fields_) {
    ColumnStats s;
    s.slot = field.slot;
    s.width = field.width;
    columns_.push_back(s);
  }
}

void ColumnStatistics::Add(const querydef::RowBuffer& row) {
  ++rows_;
  for (std::size_t i = 0; i < fields_.size(); ++i) {
    const extract::FieldLayout& field = fields_[i];
    ColumnStats& s = columns_[i];
    const std::string_view value = row.slots[field.slot];
    const std::string_view trimmed = extract::TrimForKind(field.kind, value);
    s.longest = std::max(s.longest, trimmed.size());
    if (trimmed.size() > field.width) ++s.cut;
    // Padding holds no LF: only the kept part of the value can.
    const std::string_view kept =
        extract::KeptPart(field.kind, field.width, value);
    const auto lfs =
        static_cast<std::uint64_t>(std::count(kept.begin(), kept.end(), '\n'));
    if (lfs > 0) ++s.with_lf;
    s.lf_bytes += lfs;
  }
}

std::uint64_t ColumnStatistics::LineFeedBytes() const {
  std::uint64_t total = 0;
  for (const ColumnStats& s : columns_) total += s.lf_bytes;
  return total;
}

std::uint64_t ColumnStatistics::ExtractBytes() const {
  return rows_ * record_length_ + LineFeedBytes();
}

}  // namespace admin
