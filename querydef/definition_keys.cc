// Reading a key name back into what it names.
#include "querydef/definition_keys.h"

#include <cstdint>

#include "common/ascii_case.h"
#include "common/int_parse.h"
#include "querydef/column_definition.h"

namespace querydef {
namespace {

// The number of 1 to 9 decimal digits, -1 for anything else.
int DigitsValue(std::string_view digits) {
  std::uint64_t value = 0;
  bool saturated = false;
  if (digits.size() > 9 || !common::ParseDigits(digits, value, saturated)) {
    return -1;
  }
  return static_cast<int>(value);
}

}  // namespace

ParsedKey ParseKey(std::string_view name) {
  const std::string upper = common::AsciiUpper(name);
  const std::string_view key = upper;
  struct Prefix {
    KeyKind kind;
    std::string_view text;
  };
  for (const Prefix& p :
       {Prefix{KeyKind::kStatementLine, kStatementKeyPrefix},
        Prefix{KeyKind::kLabel, kLabelKey}, Prefix{KeyKind::kType, kTypeKey},
        Prefix{KeyKind::kWidth, kWidthKey}}) {
    if (key.substr(0, p.text.size()) != p.text) continue;
    ParsedKey parsed;
    parsed.kind = p.kind;
    parsed.prefix = p.text;
    parsed.number = DigitsValue(key.substr(p.text.size()));
    if (p.kind == KeyKind::kStatementLine) {
      parsed.read =
          parsed.number >= 1 &&
          key == StatementKey(static_cast<std::size_t>(parsed.number));
    } else {
      parsed.read = parsed.number >= 1 && parsed.number <= kColumnCount &&
                    key == ColumnKey(p.text, parsed.number);
    }
    return parsed;
  }
  return ParsedKey();
}

}  // namespace querydef
