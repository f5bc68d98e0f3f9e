// Case-insensitive path resolution for files named the way the legacy
// platform allowed (its file names ignored letter case).
#include "common/path_resolve.h"

#include <dirent.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <memory>
#include <optional>

#include "common/ascii_case.h"

namespace common {
namespace {

bool Exists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

struct CloseDir {
  void operator()(DIR* d) const { ::closedir(d); }
};

// The first entry of `dir` in byte order whose name equals `name` ignoring
// ASCII case, if any.
std::optional<std::string> FindIgnoringCase(const std::string& dir,
                                            std::string_view name) {
  std::unique_ptr<DIR, CloseDir> d(::opendir(dir.empty() ? "." : dir.c_str()));
  if (!d) return std::nullopt;
  std::optional<std::string> best;
  while (const dirent* e = ::readdir(d.get())) {
    std::string_view entry(e->d_name);
    if (!EqualsIgnoreAsciiCase(entry, name)) continue;
    if (!best || entry < *best) best = std::string(entry);
  }
  return best;
}

}  // namespace

std::string ResolvePath(std::string_view legacy_path) {
  std::string path(legacy_path);
  for (char& c : path) {
    if (c == '\\') c = '/';
  }

  std::string result;
  size_t pos = 0;
  if (!path.empty() && path[0] == '/') {
    result = "/";
    pos = 1;
  }
  bool resolving = true;  // stop looking once a component is missing
  while (pos <= path.size()) {
    size_t end = path.find('/', pos);
    if (end == std::string::npos) end = path.size();
    std::string_view component(path.data() + pos, end - pos);
    std::string dir = result;  // the directory that holds this component
    std::string chosen(component);
    if (resolving && !component.empty() && component != "." &&
        component != "..") {
      if (!Exists(dir + chosen)) {
        if (auto match = FindIgnoringCase(dir, component)) {
          chosen = *match;
        } else {
          resolving = false;
        }
      }
    }
    result += chosen;
    if (end == path.size()) break;
    result += '/';
    pos = end + 1;
  }
  return result;
}

std::string AbsolutePath(const std::string& path) {
  // Walk back from the whole path to the longest prefix realpath accepts;
  // the components after it do not exist and are kept as written.
  std::string head = path;
  std::string tail;
  for (;;) {
    std::unique_ptr<char, decltype(&::free)> real(
        ::realpath(head.empty() ? "." : head.c_str(), nullptr), &::free);
    if (real) {
      std::string result(real.get());
      if (tail.empty()) return result;
      if (result.back() != '/') result += '/';
      return result + tail;
    }
    const size_t slash = head.find_last_of('/');
    if (head.empty() || head == "/") return path;  // nothing resolves
    const std::string component =
        slash == std::string::npos ? head : head.substr(slash + 1);
    head = slash == std::string::npos ? "" : head.substr(0, slash == 0 ? 1 : slash);
    if (!component.empty()) {
      tail = tail.empty() ? component : component + "/" + tail;
    }
  }
}

}  // namespace common
