// Decimal text-to-integer conversion as the legacy runtime's atoi did it.
#pragma once

#include <cstdint>
#include <string_view>

namespace common {

// Skips leading white space (space and 0x09-0x0D), takes one optional '+' or
// '-', then decimal digits up to the first other character; 0 when there are
// no digits. Overflow wraps modulo 2^32, as the legacy runtime's atoi did, so
// "4294967296" reads as 0 and "2147483648" as -2147483648.
int32_t AtoiWrap(std::string_view text);

// Decimal digits and nothing else (no blank, no sign; leading zeros are
// fine): false for anything else, the empty text included. A number too
// large for 64 bits reads as the largest value, with `saturated` set.
bool ParseDigits(std::string_view text, std::uint64_t& value, bool& saturated);

}  // namespace common
