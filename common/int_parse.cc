// atoi with the legacy runtime's wrap-around on overflow.
#include "common/int_parse.h"

#include <limits>

namespace common {

int32_t AtoiWrap(std::string_view text) {
  size_t i = 0;
  while (i < text.size() &&
         (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  // Unsigned arithmetic wraps by definition; the cast back to int32_t is
  // modulo 2^32 (two's complement) from C++20 on and on every compiler we use.
  uint32_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10u + static_cast<uint32_t>(text[i] - '0');
  }
  if (negative) value = 0u - value;
  return static_cast<int32_t>(value);
}

bool ParseDigits(std::string_view text, std::uint64_t& value,
                 bool& saturated) {
  if (text.empty()) return false;
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  value = 0;
  saturated = false;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    const auto digit = static_cast<std::uint64_t>(c - '0');
    // Once saturated, every further digit keeps the largest value.
    if (value > (kMax - digit) / 10) {
      saturated = true;
      value = kMax;
    } else {
      value = value * 10 + digit;
    }
  }
  return true;
}

}  // namespace common
