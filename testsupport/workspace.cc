// The end-to-end tests' working directories.
#include "testsupport/workspace.h"

#include <cstring>
#include <filesystem>

#include "settings/value_cipher.h"

#ifndef TABFETCH_BINARY
#error "TABFETCH_BINARY must name the tabfetch executable"
#endif

namespace testsupport {

std::string SettingsRecord(const std::string& heading, int number,
                           const std::string& key, const std::string& value) {
  return "[DB];" + heading + ";\n" + std::to_string(number) + ";" + key +
         ";" + settings::EncipherValue(value, settings::kValueKey) + "\n";
}

std::string Section(const std::string& name,
                    const std::vector<std::string>& statement,
                    const std::vector<Column>& columns) {
  auto numbered = [](const char* key, std::size_t n, std::size_t digits) {
    std::string number = std::to_string(n);
    if (number.size() < digits) number.insert(0, digits - number.size(), '0');
    return key + number + "=";
  };
  std::string text = "[" + name + "]\n";
  for (std::size_t k = 0; k < statement.size(); ++k) {
    text += numbered("SQL", k + 1, 3) + statement[k] + "\n";
  }
  for (std::size_t k = 0; k < columns.size(); ++k) {
    text += numbered("FELD", k + 1, 2) + columns[k].label + "\n" +
            numbered("FTYP", k + 1, 2) + columns[k].type + "\n" +
            numbered("FLEN", k + 1, 2) + std::to_string(columns[k].width) +
            "\n";
  }
  return text;
}

std::string Summary(int records, const std::string& path) {
  return std::to_string(records) + " Saetze kopiert in Datei " + path + " \n";
}

std::string OpenFailedLine(const std::string& path, int error) {
  return "tabfetch: cannot open extract file " + path + ": " +
         std::strerror(error) + "\n";
}

std::string WriteFailedLine(const std::string& path, int error) {
  return "tabfetch: cannot write extract file " + path + ": " +
         std::strerror(error) + "\n";
}

namespace {

bool Matches(const char* text, const char* pattern) {
  if (*pattern != '#' && *pattern != '*') {
    return *text == *pattern && (*text == '\0' || Matches(text + 1, pattern + 1));
  }
  auto fits = [pattern](char c) {
    return c != '\0' && (*pattern == '#' ? c >= '0' && c <= '9' : c != '\n');
  };
  while (fits(*text)) {
    if (Matches(++text, pattern + 1)) return true;
  }
  return false;
}

}  // namespace

bool MatchesPattern(const std::string& text, const std::string& pattern) {
  return text.find('\0') == std::string::npos &&
         Matches(text.c_str(), pattern.c_str());
}

std::string ReplaceAll(std::string text, const std::string& from,
                       const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

Workspace::Workspace() : cwd_(dir_.path() + "/work/tabfetch") {
  std::filesystem::create_directories(cwd_);
}

void Workspace::WriteSettings(const ConnectionValues& v) const {
  WriteSettingsText(SettingsRecord("Rechner", 1, "NET8", v.host) +
                    SettingsRecord("Benutzer", 2, "LOGIN", v.user) +
                    SettingsRecord("Kennwort", 3, "PASS", v.password) +
                    SettingsRecord("System", 4, "DB_SYSTEM", v.db_system));
}

void Workspace::WriteSettingsText(const std::string& text) const {
  dir_.Write("Files/Palventra.Ini", text);
}

void Workspace::WriteQueryDefinition(const std::string& db_system,
                                     const std::string& content) const {
  WriteFile("TABFETCH." + db_system + ".INI", content);
}

void Workspace::WriteFile(const std::string& name,
                          const std::string& content) const {
  dir_.Write("work/tabfetch/" + name, content);
}

std::string Workspace::ReadFile(const std::string& name) const {
  return ReadFileBytes(At(name));
}

std::string Workspace::Binary() { return TABFETCH_BINARY; }

ToolResult Workspace::Run(const std::vector<std::string>& args,
                          const std::vector<std::string>& extra_env) const {
  return RunTool(TABFETCH_BINARY, cwd_, args, extra_env);
}

std::string TestTable(const std::string& prefix) {
  return prefix + "_" +
         ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

}  // namespace testsupport
