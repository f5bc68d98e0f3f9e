// Fuzz target for the value cipher: hexadecimal decoding and deciphering of
// arbitrary value texts, and enciphering followed by deciphering.
//
// Input: the whole input is taken as a value text and as a plain value under
// the settings key; where it holds a line end, the part before the first one
// is also used as a key for the part after it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "settings/value_cipher.h"

namespace {

using fuzz::Check;

// The digit rule of the legacy reader, written out independently: 'A'..'F'
// count from 10, every other character is its code minus '0'.
int DigitValue(unsigned char c) {
  return (c >= 'A' && c <= 'F') ? c - 0x37 : c - 0x30;
}

void CheckHexToBytes(std::string_view text, size_t count) {
  const size_t used = std::min(count, text.size());
  // Exactly the bytes the call may write, so that a write behind them is
  // caught.
  auto out = std::make_unique<unsigned char[]>(used / 2);
  settings::HexToBytes(text, count, out.get());
  for (size_t i = 0; i < used / 2; ++i) {
    const int high = DigitValue(static_cast<unsigned char>(text[2 * i]));
    const int low = DigitValue(static_cast<unsigned char>(text[2 * i + 1]));
    Check(out[i] == static_cast<unsigned char>(high * 16 + low),
          "HexToBytes byte");
  }
}

bool IsUpperHex(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
  });
}

void CheckRoundTrip(std::string_view plain, std::string_view key) {
  const std::string hex = settings::EncipherValue(plain, key);
  Check(hex.size() == (plain.size() + 7) / 8 * 16, "enciphered length");
  Check(IsUpperHex(hex), "enciphered text is not upper-case hexadecimal");
  Check(settings::DecipherValue(hex, key) == plain.substr(0, plain.find('\0')),
        "deciphering does not undo enciphering");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  for (size_t count : {size, size > 0 ? size - 1 : 0, size / 2, size + 5}) {
    CheckHexToBytes(input, count);
  }

  const std::string value = settings::DecipherValue(input, settings::kValueKey);
  Check(value.size() <= size / 16 * 8, "deciphered value too long");
  Check(value.find('\0') == std::string::npos, "deciphered value holds NUL");
  Check(settings::DecipherValue(input.substr(0, size / 16 * 16),
                                settings::kValueKey) == value,
        "characters after the last whole block count");
  settings::CipherState state;
  state.p.fill(0xA5A5A5A5u);
  for (auto& box : state.s) box.fill(0x5A5A5A5Au);
  Check(settings::DecipherValue(input, settings::kValueKey, state) == value,
        "deciphering with a given state differs");
  bool wiped = std::all_of(state.p.begin(), state.p.end(),
                           [](uint32_t w) { return w == 0; });
  for (const auto& box : state.s) {
    wiped = wiped && std::all_of(box.begin(), box.end(),
                                 [](uint32_t w) { return w == 0; });
  }
  Check(wiped, "cipher state not wiped");

  CheckRoundTrip(input, settings::kValueKey);
  const size_t lf = input.find('\n');
  if (lf != std::string_view::npos) {
    CheckRoundTrip(input.substr(lf + 1), input.substr(0, lf));
  }
  return 0;
}
