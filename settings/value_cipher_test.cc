// Tests of the value cipher: the published Blowfish vectors (which prove the
// initial tables and the key schedule), our block layout and the hex form.
#include "settings/value_cipher.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

namespace settings {
namespace {

std::vector<unsigned char> Bytes(std::string_view hex) {
  std::vector<unsigned char> out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<unsigned char>(
        std::stoul(std::string(hex.substr(i, 2)), nullptr, 16)));
  }
  return out;
}

uint32_t BigEndian(const unsigned char* b) {
  return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 |
         uint32_t{b[3]};
}

std::string Hex(uint32_t left, uint32_t right) {
  char buf[17];
  std::snprintf(buf, sizeof buf, "%08X%08X", left, right);
  return buf;
}

// Encrypts one block in the big-endian layout of the published vectors.
std::string EncryptStandard(std::string_view key_hex,
                            std::string_view plain_hex) {
  const std::vector<unsigned char> key = Bytes(key_hex);
  const std::vector<unsigned char> plain = Bytes(plain_hex);
  CipherState state;
  BlowfishInit(state, key.data(), key.size());
  uint32_t left = BigEndian(plain.data());
  uint32_t right = BigEndian(plain.data() + 4);
  BlowfishEncrypt(state, left, right);
  const std::string cipher = Hex(left, right);
  BlowfishDecrypt(state, left, right);
  EXPECT_EQ(Hex(left, right), plain_hex) << "decrypt of " << cipher;
  return cipher;
}

struct Vector {
  const char* key;
  const char* plain;
  const char* cipher;
};

// Eric Young's Blowfish ECB test data.
const Vector kEcbVectors[] = {
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
    {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
    {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
    {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
    {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
    {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
    {"0131D9619DC1376E", "5CD54CA83DEF57DA", "B1B8CC0B250F09A0"},
    {"07A1133E4A0B2686", "0248D43806F67172", "1730E5778BEA1DA4"},
    {"3849674C2602319E", "51454B582DDF440A", "A25E7856CF2651EB"},
    {"04B915BA43FEB5B6", "42FD443059577FA2", "353882B109CE8F1A"},
    {"0113B970FD34F2CE", "059B5E0851CF143A", "48F4D0884C379918"},
    {"0170F175468FB5E6", "0756D8E0774761D2", "432193B78951FC98"},
    {"43297FAD38E373FE", "762514B829BF486A", "13F04154D69D1AE5"},
    {"07A7137045DA2A16", "3BDD119049372802", "2EEDDA93FFD39C79"},
    {"04689104C2FD3B2F", "26955F6835AF609A", "D887E0393C2DA6E3"},
    {"37D06BB516CB7546", "164D5E404F275232", "5F99D04F5B163969"},
    {"1F08260D1AC2465E", "6B056E18759F5CCA", "4A057A3B24D3977B"},
    {"584023641ABA6176", "004BD6EF09176062", "452031C1E4FADA8E"},
    {"025816164629B007", "480D39006EE762F2", "7555AE39F59B87BD"},
    {"49793EBC79B3258F", "437540C8698F3CFA", "53C55F9CB49FC019"},
    {"4FB05E1515AB73A7", "072D43A077075292", "7A8E7BFA937E89A3"},
    {"49E95D6D4CA229BF", "02FE55778117F12A", "CF9C5D7A4986ADB5"},
    {"018310DC409B26D6", "1D9D5C5018F728C2", "D1ABB290658BC778"},
    {"1C587F1C13924FEF", "305532286D6F295A", "55CB3774D13EF201"},
    {"0101010101010101", "0123456789ABCDEF", "FA34EC4847B268B2"},
    {"1F1F1F1F0E0E0E0E", "0123456789ABCDEF", "A790795108EA3CAE"},
    {"E0FEE0FEF1FEF1FE", "0123456789ABCDEF", "C39E072D9FAC631D"},
    {"0000000000000000", "FFFFFFFFFFFFFFFF", "014933E0CDAFF6E4"},
    {"FFFFFFFFFFFFFFFF", "0000000000000000", "F21E9A77B71C49BC"},
    {"0123456789ABCDEF", "0000000000000000", "245946885754369A"},
    {"FEDCBA9876543210", "FFFFFFFFFFFFFFFF", "6B5C5A9C5D9E0A5A"},
};

TEST(BlowfishTest, PublishedEcbVectors) {
  for (const Vector& v : kEcbVectors) {
    EXPECT_EQ(EncryptStandard(v.key, v.plain), v.cipher) << "key " << v.key;
  }
}

// Eric Young's variable key length data: the first n bytes of kLongKey,
// plaintext FEDCBA9876543210. n = 7 is the length of our key text.
constexpr char kLongKey[] = "F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677";
const char* const kSetKeyCiphers[] = {
    "F9AD597C49DB005E", "E91D21C1D961A6D6", "E9C2B70A1BC65CF3",
    "BE1E639408640F05", "B39E44481BDB1E6E", "9457AA83B1928C0D",
    "8BB77032F960629D", "E87A244E2CC85E82", "15750E7A4F4EC577",
    "122BA70B3AB64AE0", "3A833C9AFFC537F6", "9409DA87A90F6BF2",
    "884F80625060B8B4", "1F85031C19E11968", "79D9373A714CA34F",
    "93142887EE3BE15C", "03429E838CE2D14B", "A4299E27469FF67B",
    "AFD5AED1C1BC96A8", "10851C0E3858DA9F", "E6F51ED79B9DB21F",
    "64A6E14AFD36B46F", "80C7D7D45A5479AD", "05044B62FA52D080",
};

TEST(BlowfishTest, PublishedVariableKeyLengthVectors) {
  for (size_t n = 1; n <= std::size(kSetKeyCiphers); ++n) {
    const std::string key(kLongKey, 2 * n);
    EXPECT_EQ(EncryptStandard(key, "FEDCBA9876543210"), kSetKeyCiphers[n - 1])
        << "key " << key;
  }
}

// Our layout reads each half of a block least significant byte first, so a
// published block with each 4-byte half reversed must decipher to the
// published plain text with each half reversed (7-byte key F0E1D2C3B4A596).
TEST(ValueCipherTest, LayoutIsStandardBlowfishWithHalvesReversed) {
  const std::string key("\xF0\xE1\xD2\xC3\xB4\xA5\x96", 7);
  // 8BB77032 F960629D reversed per half; FEDCBA98 76543210 likewise.
  const std::string plain("\x98\xBA\xDC\xFE\x10\x32\x54\x76", 8);
  EXPECT_EQ(DecipherValue("3270B78B9D6260F9", key), plain);
  EXPECT_EQ(EncipherValue(plain, key), "3270B78B9D6260F9");
}

TEST(ValueCipherTest, RoundTripsValuesOfEveryBlockShape) {
  const std::string kValues[] = {
      "",
      "x",
      "G\xFC\xDFli\xE4r",  // 7 characters with latin1 umlauts
      "dbhost01",
      "Gr\xFC\xDFt\xC4\xD6\xDC!",
      "0123456789ABCDEF",
      std::string(90, 'p') + "\xE4\xF6\xFC\xC4\xD6\xDC",  // 96 characters
  };
  for (const std::string& value : kValues) {
    const std::string hex = EncipherValue(value, kValueKey);
    EXPECT_EQ(hex.size(), (value.size() + 7) / 8 * 16) << value;
    EXPECT_EQ(hex.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    EXPECT_EQ(DecipherValue(hex, kValueKey), value);
    // Blocks do not depend on earlier calls.
    EXPECT_EQ(DecipherValue(hex, kValueKey), value);
  }
}

TEST(ValueCipherTest, ValueEndsAtFirstZeroByte) {
  const std::string hex =
      EncipherValue(std::string("ab\0cdefghij", 11), kValueKey);
  EXPECT_EQ(DecipherValue(hex, kValueKey), "ab");
}

TEST(ValueCipherTest, StateIsZeroAfterEveryCall) {
  const std::string hexes[] = {"", EncipherValue("pass", kValueKey),
                               "0123456789ABCDEF01"};
  for (const std::string& hex : hexes) {
    CipherState state;
    state.p.fill(0xA5A5A5A5u);
    for (auto& box : state.s) box.fill(0x5A5A5A5Au);
    DecipherValue(hex, kValueKey, state);
    for (uint32_t word : state.p) ASSERT_EQ(word, 0u) << hex;
    for (const auto& box : state.s) {
      for (uint32_t word : box) ASSERT_EQ(word, 0u) << hex;
    }
  }
}

TEST(ValueCipherTest, HexDigitRule) {
  struct Case {
    const char* text;
    size_t count;
    std::vector<unsigned char> want;
  };
  const Case kCases[] = {
      {"00FF7A", 6, {0x00, 0xFF, 0x7A}},
      {"0a", 2, {0x31}},   // lower case is no digit: 'a' counts 0x31
      {"a0", 2, {0x10}},   // 0x31 * 16 modulo 256
      {"fF", 2, {0x6F}},   // (0x36 * 16 + 15) modulo 256
      {"G1", 2, {0x71}},   // 'G' counts 0x17
      {"ABC", 3, {0xAB}},  // an odd last character is ignored
      {"1234", 2, {0x12}},
      {"12", 10, {0x12}},  // never past the text
  };
  for (const Case& c : kCases) {
    std::vector<unsigned char> out(c.want.size() + 1, 0xEE);
    HexToBytes(c.text, c.count, out.data());
    EXPECT_EQ(std::vector<unsigned char>(out.begin(), out.end() - 1), c.want)
        << c.text;
    EXPECT_EQ(out.back(), 0xEE) << c.text << ": wrote too much";
  }
}

TEST(ValueCipherTest, IncompleteBlockIsIgnored) {
  const std::string hex = EncipherValue("12345678ABCDEFGH", kValueKey);
  ASSERT_EQ(hex.size(), 32u);
  const std::string_view view(hex);
  // Views into a longer text: the characters behind the view are never used.
  EXPECT_EQ(DecipherValue(view.substr(0, 15), kValueKey), "");
  EXPECT_EQ(DecipherValue(view.substr(0, 16), kValueKey), "12345678");
  EXPECT_EQ(DecipherValue(view.substr(0, 31), kValueKey), "12345678");
  EXPECT_EQ(DecipherValue(view.substr(0, 1), kValueKey), "");
}

}  // namespace
}  // namespace settings
