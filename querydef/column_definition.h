// The 30 output columns of a query definition (FELDnn, FTYPnn, FLENnn).
#pragma once

#include <array>
#include <string>

namespace querydef {

inline constexpr int kColumnCount = 30;

struct ColumnDefinition {
  std::string label;  // FELDnn, at most 99 characters; empty = column off
  std::string type;   // FTYPnn, at most 4 characters: "CHAR", "DEC", "TXT"
  int width = 0;      // FLENnn, read from at most 3 characters; 0 if missing
};

// Column k (1-based) is element k-1 and always takes result column k.
using ColumnDefinitions = std::array<ColumnDefinition, kColumnCount>;

}  // namespace querydef
