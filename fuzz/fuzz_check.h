// Shared bits of the fuzz targets: cutting an input into lines and stopping
// with a message when a property does not hold (libFuzzer then keeps the
// input as a crash artifact).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace fuzz {

// Removes the first line (up to and without its '\n') from `rest` and
// returns it; the whole of `rest` when it holds no '\n'.
inline std::string_view TakeLine(std::string_view& rest) {
  const size_t lf = rest.find('\n');
  std::string_view line = rest.substr(0, lf);
  rest.remove_prefix(lf == std::string_view::npos ? rest.size() : lf + 1);
  return line;
}

// Aborts with `what` when `ok` is false.
inline void Check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "property violated: %s\n", what);
  std::abort();
}

}  // namespace fuzz
