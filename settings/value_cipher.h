// The value cipher of the settings file: Blowfish in ECB mode with a block
// layout of its own (little-endian words), values written as hexadecimal text.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace settings {

// The key text of every value in the settings file (7 bytes, a 56-bit key).
inline constexpr char kValueKey[] = "QUENTAR";

// The Blowfish P-array and the four S-boxes (18 + 1024 words).
struct CipherState {
  std::array<uint32_t, 18> p;
  std::array<std::array<uint32_t, 256>, 4> s;
};

// The round function: ((S0[a] + S1[b]) ^ S2[c]) + S3[d], a being the most
// significant byte of x.
uint32_t BlowfishF(const CipherState& state, uint32_t x);

// The published Blowfish key schedule. The key bytes are used cyclically,
// the first of each four as the most significant byte of a word. An empty key
// counts as key bytes of zero.
void BlowfishInit(CipherState& state, const unsigned char* key, size_t key_len);

// Encrypt or decrypt one block, given as two words, in place (16 rounds).
void BlowfishEncrypt(const CipherState& state, uint32_t& left, uint32_t& right);
void BlowfishDecrypt(const CipherState& state, uint32_t& left, uint32_t& right);

// Sets every word of `state` to zero in a way the optimiser keeps.
void WipeCipherState(CipherState& state);

// Converts the first `count` characters of `text` (at most its length)
// pairwise into count / 2 bytes at `out`; an odd last character is ignored.
// A character in 'A'..'F' has the digit value code - 0x37, every other one
// code - 0x30, so lower-case letters are no hex digits ('a' counts as 0x31);
// the byte is (high * 16 + low) modulo 256.
void HexToBytes(std::string_view text, size_t count, unsigned char* out);

// Deciphers a value text with `key` (normally kValueKey) and returns the
// plain text up to its first zero byte. Each 16 characters form one block: the
// 8 bytes b0..b7 give the words b0 + b1*2^8 + b2*2^16 + b3*2^24 (left) and
// b4..b7 likewise (right), and the decrypted words are written back in the
// same order. Characters after the last whole block are ignored. Never fails:
// a wrong key or damaged text gives meaningless bytes.
std::string DecipherValue(std::string_view hex, std::string_view key);

// The same, keying `state`; every word of `state` is zero when it returns.
std::string DecipherValue(std::string_view hex, std::string_view key,
                          CipherState& state);

// The reverse, for tests and tools: pads `plain` with zero bytes to a
// multiple of 8, encrypts each block in the layout above and returns
// upper-case hexadecimal text (the empty text for an empty `plain`).
std::string EncipherValue(std::string_view plain, std::string_view key);

}  // namespace settings
