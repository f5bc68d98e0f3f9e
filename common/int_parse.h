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

}  // namespace common
