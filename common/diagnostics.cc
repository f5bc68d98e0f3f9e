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

}  // namespace common
