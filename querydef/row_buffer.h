// One fetched result row, as the formatter reads it: the connection fills
// it, the record layout reads it.
#pragma once

#include <array>
#include <string_view>

#include "querydef/column_definition.h"

namespace querydef {

// The legacy row buffer had 30 slots of 100 bytes; the formatter reads slot k
// for column definition k. Values are no longer cut at 99 characters: each
// slot views the library's text of the column up to its first NUL byte.
inline constexpr int kRowSlots = kColumnCount;

struct RowBuffer {
  // Slot i (0-based) holds result column i+1. An SQL NULL, an empty value and
  // every slot behind the last column are empty views. The views point into
  // the library's row and stay valid until the next fetch.
  std::array<std::string_view, kRowSlots> slots{};

  void Clear() { slots.fill(std::string_view()); }
};

}  // namespace querydef
