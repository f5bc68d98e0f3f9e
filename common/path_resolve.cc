// Case-insensitive path resolution for files named the way the legacy
// platform allowed (its file names ignored letter case).
#include "common/path_resolve.h"

#include <dirent.h>
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

}  // namespace common
