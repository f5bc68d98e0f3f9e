// Presentation helpers of tabfetch-admin.
#include "admin/admin_text.h"

#include <cstdint>
#include <cstdio>
#include <iterator>

namespace admin {
namespace {

// Code page 1252 at 0x80..0x9F; 0 where the code page defines no character.
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void AppendUtf8(uint32_t code_point, std::string& out) {
  if (code_point < 0x80) {
    out += static_cast<char>(code_point);
  } else if (code_point < 0x800) {
    out += static_cast<char>(0xC0 | (code_point >> 6));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (code_point >> 12));
    out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  }
}

void AppendHexEscape(unsigned char byte, std::string& out) {
  char buf[5];
  std::snprintf(buf, sizeof buf, "\\x%02X", byte);
  out += buf;
}

}  // namespace

std::string DisplayText(std::string_view bytes, bool escape_backslash) {
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '\n') {
      out += "\\n";
    } else if (byte == '\r') {
      out += "\\r";
    } else if (byte == '\t') {
      out += "\\t";
    } else if (byte == '\\' && escape_backslash) {
      out += "\\\\";
    } else if (byte < 0x20 || byte == 0x7F) {
      AppendHexEscape(byte, out);
    } else if (byte < 0x80) {
      out += c;
    } else if (byte < 0xA0) {
      const uint16_t code_point = kCp1252High[byte - 0x80];
      if (code_point == 0) {
        AppendHexEscape(byte, out);
      } else {
        AppendUtf8(code_point, out);
      }
    } else {
      AppendUtf8(byte, out);  // 0xA0..0xFF are U+00A0..U+00FF
    }
  }
  return out;
}

std::string Latin1ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 8);
  for (char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      out += c;
    } else if (byte < 0xA0 && kCp1252High[byte - 0x80] != 0) {
      AppendUtf8(kCp1252High[byte - 0x80], out);
    } else {
      AppendUtf8(byte, out);
    }
  }
  return out;
}

std::string Quoted(std::string_view bytes) {
  return "\"" + DisplayText(bytes) + "\"";
}

std::size_t DisplayWidth(std::string_view display_text) {
  std::size_t width = 0;
  for (char c : display_text) {
    // Count every byte except UTF-8 continuation bytes.
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++width;
  }
  return width;
}

std::string PadRight(std::string_view display_text, std::size_t width) {
  std::string out(display_text);
  const std::size_t have = DisplayWidth(display_text);
  if (have < width) out.append(width - have, ' ');
  return out;
}

std::string CsvField(std::string_view bytes) {
  if (bytes.find_first_of(",\"\r\n") == std::string_view::npos) {
    return std::string(bytes);
  }
  std::string out = "\"";
  for (char c : bytes) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

std::string CountWord(std::size_t n) {
  static const char* const kWords[] = {
      "zero",  "one",   "two",  "three", "four",   "five",  "six",
      "seven", "eight", "nine", "ten",   "eleven", "twelve"};
  return n < std::size(kWords) ? kWords[n] : std::to_string(n);
}

std::string ExitCodeText(int code) {
  return "exit code " + std::to_string(code);
}

std::string MaskedValue(std::string_view value) {
  return "******** (" + std::to_string(value.size()) + " characters)";
}

}  // namespace admin
