// tabfetch-admin encipher VALUE / decipher HEX: the settings file's value
// texts, made and read with the settings library's own cipher.
#include <cstddef>
#include <string>

#include "admin/admin_main.h"
#include "admin/admin_text.h"
#include "admin/command_support.h"
#include "admin/commands.h"
#include "settings/value_cipher.h"

namespace admin {
namespace {

// The settings file's value field held 200 characters: 12 blocks of 16 hex
// characters, 96 characters of plain text.
constexpr std::size_t kMaxPlainValue = 96;

}  // namespace

int RunEncipher(const Args& args, std::FILE* out, std::FILE* err) {
  const std::string& value = args.positional[0];
  PrintLine(out, settings::EncipherValue(value, settings::kValueKey));
  if (value.size() > kMaxPlainValue) {
    PrintMessage(err, "warning: the value has " + std::to_string(value.size()) +
                          " characters; the settings file's value field "
                          "holds 96 (192 hex characters), programs sharing "
                          "the file cut it");
    return kExitFindings;
  }
  return kExitClean;
}

int RunDecipher(const Args& args, std::FILE* out, std::FILE* err) {
  const std::string& hex = args.positional[0];
  const std::string plain = settings::DecipherValue(hex, settings::kValueKey);
  std::fwrite(plain.data(), 1, plain.size(), out);
  std::fputc('\n', out);
  int code = kExitClean;
  const std::size_t bad = hex.find_first_not_of("0123456789ABCDEF");
  if (bad != std::string::npos) {
    const bool lower = hex.find_first_of("abcdef") != std::string::npos;
    PrintMessage(
        err,
        "warning: character " + Quoted(hex.substr(bad, 1)) + " at position " +
            std::to_string(bad + 1) + " is no hex digit to tabfetch" +
            (lower ? " (lower-case letters are not hex digits to it)" : "") +
            ": the plain text is meaningless");
    code = kExitFindings;
  }
  if (hex.size() % 16 != 0) {
    PrintMessage(err, "warning: the length " + std::to_string(hex.size()) +
                          " is not a multiple of 16: the last " +
                          std::to_string(hex.size() % 16) +
                          " characters form no whole block and are ignored");
    code = kExitFindings;
  }
  for (char c : plain) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      PrintMessage(err, "warning: the plain text holds control characters (" +
                            Quoted(plain) +
                            "): the value text was enciphered with another "
                            "key or is damaged");
      code = kExitFindings;
      break;
    }
  }
  return code;
}

}  // namespace admin
