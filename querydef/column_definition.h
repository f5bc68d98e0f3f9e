// The 30 output columns of a query definition (FELDnn, FTYPnn, FLENnn).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace querydef {

inline constexpr int kColumnCount = 30;

struct ColumnDefinition {
  std::string label;  // FELDnn, at most 99 characters; empty = column off
  std::string type;   // FTYPnn, at most 4 characters: one of kTypeWords
  int width = 0;      // FLENnn, read from at most 3 characters; 0 if missing
};

// The three type words of FTYPnn, in the order of FieldKind.
enum class FieldKind : std::uint8_t { kChar, kDec, kTxt };
inline constexpr std::array<std::string_view, 3> kTypeWords = {"CHAR", "DEC",
                                                               "TXT"};

// The kind a type word names, compared byte for byte: "char", "DECIMAL" cut
// to "DECI" or an empty word name none, and a column with it contributes
// nothing.
inline std::optional<FieldKind> ParseFieldKind(std::string_view word) {
  for (std::size_t k = 0; k < kTypeWords.size(); ++k) {
    if (word == kTypeWords[k]) return static_cast<FieldKind>(k);
  }
  return std::nullopt;
}

// Column k (1-based) is element k-1 and always takes result column k.
using ColumnDefinitions = std::array<ColumnDefinition, kColumnCount>;

}  // namespace querydef
