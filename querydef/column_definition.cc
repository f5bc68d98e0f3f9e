// Type words and the rules that drop a column.
#include "querydef/column_definition.h"

#include "common/diagnostics.h"
#include "querydef/definition_keys.h"

namespace querydef {

ColumnUse UseOf(const ColumnDefinition& column) {
  if (column.label.empty()) return ColumnUse::kNoLabel;
  if (column.type.empty()) return ColumnUse::kNoType;
  if (!ParseFieldKind(column.type)) return ColumnUse::kTypeNotRecognised;
  if (column.width < 0) return ColumnUse::kNegativeWidth;
  if (column.width == 0) return ColumnUse::kZeroWidth;
  return ColumnUse::kContributes;
}

const char* ColumnUseText(ColumnUse use) {
  switch (use) {
    case ColumnUse::kContributes:
      return "";
    case ColumnUse::kNoLabel:
      return "no label";
    case ColumnUse::kNoType:
      return "no type word";
    case ColumnUse::kTypeNotRecognised:
      return "type word not recognised";
    case ColumnUse::kNegativeWidth:
      return "negative width";
    case ColumnUse::kZeroWidth:
      return "width 0";
  }
  return "";
}

std::string DroppedColumnText(int number, const ColumnDefinition& column) {
  const ColumnUse use = UseOf(column);
  if (use == ColumnUse::kContributes || use == ColumnUse::kNoLabel) return "";
  auto quoted = [](std::string_view text) {
    return "\"" + common::Printable(text) + "\"";
  };
  std::string text = "column " + ColumnKey("", number) + " (" +
                     ColumnKey(kLabelKey, number) + " " +
                     quoted(column.label) + ") is left out of every record: ";
  const std::string type_key = ColumnKey(kTypeKey, number);
  const std::string width_key = ColumnKey(kWidthKey, number);
  switch (use) {
    case ColumnUse::kNoType:
      return text + "type word " + type_key + " is missing or empty";
    case ColumnUse::kTypeNotRecognised:
      return text + "type word " + type_key + " " + quoted(column.type) +
             " is not exactly CHAR, DEC or TXT";
    case ColumnUse::kNegativeWidth:
    case ColumnUse::kZeroWidth:
      return text + "width " + width_key + " reads " +
             std::to_string(column.width);
    case ColumnUse::kContributes:
    case ColumnUse::kNoLabel:
      break;
  }
  return "";
}

}  // namespace querydef
