// The 30 output columns of a query definition (FELDnn, FTYPnn, FLENnn), the
// type words, and whether a column contributes to the record.
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

// Whether a column contributes to the record, or the first reason it does
// not, in this order. A column without a label is switched off on purpose;
// every other reason drops a column its author meant to have.
enum class ColumnUse : std::uint8_t {
  kContributes,
  kNoLabel,
  kNoType,             // label, but FTYPnn missing or empty
  kTypeNotRecognised,  // not exactly CHAR, DEC or TXT
  kNegativeWidth,
  kZeroWidth,          // FLENnn missing, or reading 0
};
ColumnUse UseOf(const ColumnDefinition& column);

// A few words for a reason: "no label", "no type word", "type word not
// recognised", "negative width", "width 0"; "" for kContributes.
const char* ColumnUseText(ColumnUse use);

// One line for standard error when column `number` (1-based) has a label but
// contributes nothing: which column, what was read, and that it is left
// out, e.g. "column 02 (FELD02 \"Menge\") is left out of every record: type
// word FTYP02 \"dec\" is not exactly CHAR, DEC or TXT". "" for a column
// that contributes or has no label.
std::string DroppedColumnText(int number, const ColumnDefinition& column);

}  // namespace querydef
