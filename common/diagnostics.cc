// One line per cause on standard error.
#include "common/diagnostics.h"

#include <cstdarg>
#include <cstddef>
#include <string>

namespace common {

void Diagnose(std::FILE* err, const char* format, ...) {
  if (err == nullptr) return;
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int size = std::vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text(size > 0 ? static_cast<std::size_t>(size) : 0, '\0');
  if (size > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
  va_end(again);
  // A cause is one line whatever it quotes: a host, a path or a server's
  // message with a line feed in it must not start a line of its own.
  std::fputs("tabfetch: ", err);
  std::fputs(Printable(text).c_str(), err);
  std::fputc('\n', err);
}

std::string Printable(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string shown;
  shown.reserve(text.size());
  for (const char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      shown += "\\x";
      shown += kHex[byte >> 4];
      shown += kHex[byte & 0xF];
    } else {
      shown += c;
    }
  }
  return shown;
}

}  // namespace common
