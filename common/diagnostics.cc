// One line per cause on standard error.
#include "common/diagnostics.h"

#include <cstdarg>

namespace common {

void Diagnose(std::FILE* err, const char* format, ...) {
  if (err == nullptr) return;
  std::fputs("tabfetch: ", err);
  va_list args;
  va_start(args, format);
  std::vfprintf(err, format, args);
  va_end(args);
  std::fputc('\n', err);
}

std::string Printable(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) {
      out += "\\x";
      out += kHex[u >> 4];
      out += kHex[u & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace common
