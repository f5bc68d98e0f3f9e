// The initial Blowfish tables (hexadecimal digits of pi), used only by the
// key schedule in value_cipher.cc.
#pragma once

#include <array>
#include <cstdint>

namespace settings {

extern const std::array<uint32_t, 18> kInitialP;
extern const std::array<std::array<uint32_t, 256>, 4> kInitialS;

}  // namespace settings
