// Fuzz target for the settings file reader. The input is the whole settings
// file; each of the four keys a run asks for is looked up in it the way the
// run does (empty heading, entry number 0).
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "settings/settings_reader.h"
#include "settings/value_cipher.h"

namespace {

using fuzz::Check;

const char* const kKeys[] = {"NET8", "LOGIN", "PASS", "DB_SYSTEM"};

// Two files per process in the temporary directory, made once and rewritten for each input: the
// input as it is, and other bytes that read as the same text.
std::string& FilePath(int which) {
  static std::string paths[2];
  return paths[which];
}

void RemoveFiles() {
  for (int i = 0; i < 2; ++i) {
    if (!FilePath(i).empty()) ::unlink(FilePath(i).c_str());
  }
}

// In the temporary directory: TMPDIR, else /tmp.
std::string MakeTempFile() {
  std::error_code ec;
  std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
  if (ec) dir = "/tmp";
  std::string name = (dir / "tabfetch-fuzz-settings-XXXXXX").string();
  const int fd = ::mkstemp(name.data());
  Check(fd >= 0, "cannot create a file in the temporary directory");
  ::close(fd);
  return name;
}

// Rewrites the file in place: truncating it to zero first would make the
// file system flush it on every close, which slows fuzzing to a crawl.
void WriteFile(const std::string& path, std::string_view bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY);
  Check(fd >= 0, "cannot open the settings file for writing");
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::pwrite(fd, bytes.data() + done, bytes.size() - done,
                               static_cast<off_t>(done));
    Check(n > 0, "cannot write the settings file");
    done += static_cast<size_t>(n);
  }
  Check(::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0,
        "cannot cut the settings file");
  ::close(fd);
}

// The text the legacy runtime's text mode delivered: the input ends at the
// first Ctrl-Z, CR LF reads as LF (in one pass: CR CR LF gives CR LF).
std::string TextMode(std::string_view raw) {
  raw = raw.substr(0, raw.find('\x1A'));
  std::string text;
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\r' && i + 1 < raw.size() && raw[i + 1] == '\n') continue;
    text += raw[i];
  }
  return text;
}

// Another file that text mode reads as `raw`: each line end of its text
// written as CR LF, then a Ctrl-Z and the input once more behind it.
std::string SameTextOtherBytes(std::string_view raw) {
  std::string file;
  for (char c : TextMode(raw)) {
    if (c == '\n') file += '\r';
    file += c;
  }
  file += '\x1A';
  file += raw;
  return file;
}

bool SameMatch(const settings::SettingMatch& a,
               const settings::SettingMatch& b) {
  return a.found == b.found && a.heading_line == b.heading_line &&
         a.entry_line == b.entry_line && a.heading_name == b.heading_name &&
         a.key_name == b.key_name && a.value_text == b.value_text &&
         a.entry_number == b.entry_number && a.value == b.value;
}

void CheckMatch(const settings::SettingMatch& m, std::string_view key) {
  if (!m.found) {
    Check(SameMatch(m, settings::SettingMatch{}), "a miss carries data");
    return;
  }
  Check(m.heading_line >= 1 && m.entry_line >= m.heading_line,
        "line numbers of a match");
  // The run asks with an empty heading and entry number 0.
  Check(m.heading_name.empty() || m.key_name == key || m.entry_number == 0,
        "a record that matches nothing was taken");
  Check(m.heading_name.find(';') == std::string::npos &&
            m.key_name.find(';') == std::string::npos,
        "a field holds its separator");
  Check(m.key_name.find('\n') == std::string::npos &&
            m.value_text.find('\n') == std::string::npos,
        "a field holds a line end");
  Check(m.value_text.size() < 399, "value text longer than its line");
  // Deciphering needs a whole block of 16 characters.
  const std::string value =
      m.value_text.size() < 16
          ? std::string()
          : settings::DecipherValue(m.value_text, settings::kValueKey);
  Check(m.value == value, "value is not the deciphered value text");
  Check(m.value.find('\0') == std::string::npos, "value holds a NUL byte");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  FilePath(0) = MakeTempFile();
  FilePath(1) = MakeTempFile();
  std::atexit(RemoveFiles);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  WriteFile(FilePath(0), input);
  WriteFile(FilePath(1), SameTextOtherBytes(input));

  for (const char* key : kKeys) {
    const settings::SettingMatch m =
        settings::FindSetting("", key, 0, FilePath(0));
    CheckMatch(m, key);
    Check(SameMatch(settings::FindSetting("", key, 0, FilePath(1)), m),
          "Ctrl-Z or CR LF not read as the legacy text mode did");
  }
  return 0;
}
