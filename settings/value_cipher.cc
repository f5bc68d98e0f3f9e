// Blowfish and the hexadecimal value form of the settings file.
#include "settings/value_cipher.h"

#include <utility>

#include "settings/blowfish_tables.h"

namespace settings {
namespace {

constexpr size_t kBlockBytes = 8;
constexpr size_t kBlockHexChars = 2 * kBlockBytes;

// The settings values store each half of a block least significant byte
// first, unlike the big-endian convention of the published test vectors.
uint32_t LoadLittleEndian(const unsigned char* b) {
  return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
         static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
}

void StoreLittleEndian(uint32_t word, char* out) {
  for (int i = 0; i < 4; ++i) {
    out[i] = static_cast<char>(static_cast<unsigned char>(word >> (8 * i)));
  }
}

uint32_t HexDigitValue(unsigned char c) {
  // Only upper-case letters are taken as letters: the legacy writer never
  // produced lower case, and its reader computed 'a' as 0x61 - 0x30 = 0x31.
  // Unsigned wrap-around keeps the result equal modulo 256 to what the
  // legacy signed arithmetic gave for bytes above 0x7F.
  if (c >= 'A' && c <= 'F') return static_cast<uint32_t>(c) - 0x37u;
  return static_cast<uint32_t>(c) - 0x30u;
}

// Wipes the state when a call ends, however it ends.
class StateWiper {
 public:
  explicit StateWiper(CipherState& state) : state_(state) {}
  ~StateWiper() { WipeCipherState(state_); }
  StateWiper(const StateWiper&) = delete;
  StateWiper& operator=(const StateWiper&) = delete;

 private:
  CipherState& state_;
};

}  // namespace

uint32_t BlowfishF(const CipherState& state, uint32_t x) {
  const uint32_t a = (x >> 24) & 0xFFu;
  const uint32_t b = (x >> 16) & 0xFFu;
  const uint32_t c = (x >> 8) & 0xFFu;
  const uint32_t d = x & 0xFFu;
  return ((state.s[0][a] + state.s[1][b]) ^ state.s[2][c]) + state.s[3][d];
}

void BlowfishEncrypt(const CipherState& state, uint32_t& left,
                     uint32_t& right) {
  uint32_t l = left;
  uint32_t r = right;
  for (int i = 0; i < 16; ++i) {
    l ^= state.p[i];
    r ^= BlowfishF(state, l);
    std::swap(l, r);
  }
  std::swap(l, r);  // undo the last exchange
  r ^= state.p[16];
  l ^= state.p[17];
  left = l;
  right = r;
}

void BlowfishDecrypt(const CipherState& state, uint32_t& left,
                     uint32_t& right) {
  uint32_t l = left;
  uint32_t r = right;
  for (int i = 17; i > 1; --i) {
    l ^= state.p[i];
    r ^= BlowfishF(state, l);
    std::swap(l, r);
  }
  std::swap(l, r);
  r ^= state.p[1];
  l ^= state.p[0];
  left = l;
  right = r;
}

void BlowfishInit(CipherState& state, const unsigned char* key,
                  size_t key_len) {
  state.s = kInitialS;
  size_t k = 0;
  for (size_t i = 0; i < state.p.size(); ++i) {
    uint32_t word = 0;
    for (int j = 0; j < 4; ++j) {
      const uint32_t byte = key_len == 0 ? 0u : key[k];
      word = (word << 8) | byte;
      if (key_len != 0 && ++k == key_len) k = 0;
    }
    state.p[i] = kInitialP[i] ^ word;
  }
  uint32_t l = 0;
  uint32_t r = 0;
  for (size_t i = 0; i < state.p.size(); i += 2) {
    BlowfishEncrypt(state, l, r);
    state.p[i] = l;
    state.p[i + 1] = r;
  }
  for (auto& box : state.s) {
    for (size_t j = 0; j < box.size(); j += 2) {
      BlowfishEncrypt(state, l, r);
      box[j] = l;
      box[j + 1] = r;
    }
  }
}

void WipeCipherState(CipherState& state) {
  // Volatile stores: the state is dead after the wipe, so plain stores could
  // be removed as such.
  volatile uint32_t* p = state.p.data();
  for (size_t i = 0; i < state.p.size(); ++i) p[i] = 0;
  for (auto& box : state.s) {
    volatile uint32_t* s = box.data();
    for (size_t i = 0; i < box.size(); ++i) s[i] = 0;
  }
}

void HexToBytes(std::string_view text, size_t count, unsigned char* out) {
  if (count > text.size()) count = text.size();
  for (size_t i = 0; i + 1 < count; i += 2) {
    const uint32_t high = HexDigitValue(static_cast<unsigned char>(text[i]));
    const uint32_t low = HexDigitValue(static_cast<unsigned char>(text[i + 1]));
    out[i / 2] = static_cast<unsigned char>((high * 16u + low) & 0xFFu);
  }
}

std::string DecipherValue(std::string_view hex, std::string_view key) {
  CipherState state;
  return DecipherValue(hex, key, state);
}

std::string DecipherValue(std::string_view hex, std::string_view key,
                          CipherState& state) {
  StateWiper wiper(state);
  BlowfishInit(state, reinterpret_cast<const unsigned char*>(key.data()),
               key.size());
  // Only whole blocks: the legacy reader read past the end of the text for a
  // last block of fewer than 16 characters.
  const size_t blocks = hex.size() / kBlockHexChars;
  std::string plain(blocks * kBlockBytes, '\0');
  for (size_t b = 0; b < blocks; ++b) {
    unsigned char bytes[kBlockBytes];
    HexToBytes(hex.substr(b * kBlockHexChars, kBlockHexChars), kBlockHexChars,
               bytes);
    uint32_t left = LoadLittleEndian(bytes);
    uint32_t right = LoadLittleEndian(bytes + 4);
    BlowfishDecrypt(state, left, right);
    StoreLittleEndian(left, &plain[b * kBlockBytes]);
    StoreLittleEndian(right, &plain[b * kBlockBytes + 4]);
  }
  // The value ends at its first zero byte (the padding of the last block).
  const size_t end = plain.find('\0');
  if (end != std::string::npos) plain.resize(end);
  return plain;
}

std::string EncipherValue(std::string_view plain, std::string_view key) {
  CipherState state;
  StateWiper wiper(state);
  BlowfishInit(state, reinterpret_cast<const unsigned char*>(key.data()),
               key.size());
  std::string padded(plain);
  padded.resize((padded.size() + kBlockBytes - 1) / kBlockBytes * kBlockBytes,
                '\0');
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  hex.reserve(padded.size() * 2);
  for (size_t b = 0; b < padded.size(); b += kBlockBytes) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(&padded[b]);
    uint32_t left = LoadLittleEndian(bytes);
    uint32_t right = LoadLittleEndian(bytes + 4);
    BlowfishEncrypt(state, left, right);
    char out[kBlockBytes];
    StoreLittleEndian(left, out);
    StoreLittleEndian(right, out + 4);
    for (char c : out) {
      const auto u = static_cast<unsigned char>(c);
      hex += kDigits[u >> 4];
      hex += kDigits[u & 0x0F];
    }
  }
  return hex;
}

}  // namespace settings
