// What the fetched rows of check --run look like, column by column, against
// the record layout: values cut to the width, values holding a line feed, and
// the size of the extract file they would make. A pure fold over the rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "extract/field_format.h"
#include "querydef/row_buffer.h"

namespace admin {

// One contributing column over all rows added.
struct ColumnStats {
  std::size_t slot = 0;  // row slot (0-based) the column reads
  std::size_t width = 0;
  std::uint64_t cut = 0;       // values longer than the width after trimming
  std::uint64_t with_lf = 0;   // values with a LF in what the record keeps
  std::uint64_t lf_bytes = 0;  // those LFs: one more byte each on disk
  std::size_t longest = 0;     // longest value after trimming
};

class ColumnStatistics {
 public:
  explicit ColumnStatistics(const extract::RecordLayout& layout);

  // Counts one row, trimming and cutting each value as the formatter does.
  void Add(const querydef::RowBuffer& row);

  std::uint64_t rows() const { return rows_; }
  // The contributing columns of the layout, in record order.
  const std::vector<ColumnStats>& columns() const { return columns_; }
  // The extract file the rows make: one record each, plus one byte per LF.
  std::uint64_t ExtractBytes() const;
  std::uint64_t LineFeedBytes() const;

 private:
  std::vector<extract::FieldLayout> fields_;
  std::size_t record_length_ = 0;
  std::vector<ColumnStats> columns_;
  std::uint64_t rows_ = 0;
};

}  // namespace admin
