// A temporary directory for one test, removed with everything in it when the
// object goes out of scope.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

// `name` in the temporary directory: TMPDIR, else /tmp.
inline std::string TempPath(std::string_view name) {
  return (std::filesystem::temp_directory_path() / std::string(name)).string();
}

class TempDir {
 public:
  TempDir() {
    std::string pattern = TempPath("tabfetch-test.XXXXXX");
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) == nullptr) {
      throw std::runtime_error("mkdtemp failed");
    }
    path_ = buf.data();
  }
  ~TempDir() {
    std::error_code ec;
    // Give back write permission that a test may have taken away.
    for (auto it = std::filesystem::recursive_directory_iterator(path_, ec);
         !ec && it != std::filesystem::recursive_directory_iterator();
         it.increment(ec)) {
      if (it->is_directory(ec) && !it->is_symlink(ec)) {
        std::filesystem::permissions(it->path(),
                                     std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
      }
    }
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(std::string_view name) const {
    return path_ + "/" + std::string(name);
  }

  // Writes `content` byte for byte to `name` (relative to the directory),
  // creating parent directories. Returns the full path.
  std::string Write(std::string_view name, std::string_view content) const {
    std::filesystem::path p = std::filesystem::path(path_) / std::string(name);
    std::filesystem::create_directories(p.parent_path());
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    f.write(content.data(), static_cast<std::streamsize>(content.size()));
    return p.string();
  }

 private:
  std::string path_;
};

// The whole content of a file, or "<missing>" when it cannot be read.
inline std::string ReadFileBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return "<missing>";
  return std::string(std::istreambuf_iterator<char>(f),
                     std::istreambuf_iterator<char>());
}

}  // namespace testsupport
