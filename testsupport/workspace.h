// A prepared working directory for running the real tabfetch binary: the
// settings file two levels up (Files/Palventra.Ini), the query definition
// file beside the working directory's extract files.
#pragma once

#include <string>
#include <vector>

#include "testsupport/temp_dir.h"
#include "testsupport/throwaway_mariadb.h"
#include "testsupport/tool_runner.h"

namespace testsupport {

struct ConnectionValues {
  std::string host;       // NET8
  std::string user;       // LOGIN
  std::string password;   // PASS
  std::string db_system;  // DB_SYSTEM
};

// One settings record: a heading line "[DB];<heading>;" and an entry line
// "<number>;<key>;<value enciphered>".
std::string SettingsRecord(const std::string& heading, int number,
                           const std::string& key, const std::string& value);

// A column of a query definition section: FELDnn, FTYPnn and FLENnn.
struct Column {
  std::string label;
  std::string type;
  int width;
};
// A query definition section: "[name]", the statement's lines as SQL001,
// SQL002, ..., then the lines of each column.
std::string Section(const std::string& name,
                    const std::vector<std::string>& statement,
                    const std::vector<Column>& columns);

// The summary line of a run: "<n> Saetze kopiert in Datei <path> \n".
std::string Summary(int records, const std::string& path);

// The writer's cause lines on standard error when the extract file cannot
// be opened or written.
std::string OpenFailedLine(const std::string& path, int error);
std::string WriteFailedLine(const std::string& path, int error);

// Whether `text` is `pattern`, in which '#' stands for a decimal number and
// '*' for any text of one line (one character at least).
bool MatchesPattern(const std::string& text, const std::string& pattern);

// The cause line of a run whose settings name no user.
inline constexpr char kNoUserLine[] =
    "tabfetch: no connection attempted: the settings name no user (LOGIN), "
    "and an empty one would connect as the operating-system user\n";

// `text` with every `from` replaced by `to`.
std::string ReplaceAll(std::string text, const std::string& from,
                       const std::string& to);

class Workspace {
 public:
  Workspace();

  // The workspace's top directory: <root>/Files holds the settings file.
  const std::string& root() const { return dir_.path(); }
  // <root>/work/tabfetch: where tabfetch runs.
  const std::string& cwd() const { return cwd_; }
  // A path in the working directory.
  std::string At(const std::string& name) const { return cwd_ + "/" + name; }

  // <root>/Files/Palventra.Ini.
  std::string SettingsPath() const { return root() + "/Files/Palventra.Ini"; }
  // Writes the settings file with the four values enciphered, each record
  // under a heading of its own with a non-zero entry number.
  void WriteSettings(const ConnectionValues& values) const;
  // Writes `text` byte for byte as the settings file.
  void WriteSettingsText(const std::string& text) const;
  // Writes TABFETCH.<db_system>.INI into the working directory.
  void WriteQueryDefinition(const std::string& db_system,
                            const std::string& content) const;
  void WriteFile(const std::string& name, const std::string& content) const;
  std::string ReadFile(const std::string& name) const;

  // The tabfetch executable under test.
  static std::string Binary();

  // Runs tabfetch with `args` in the working directory.
  ToolResult Run(const std::vector<std::string>& args,
                 const std::vector<std::string>& extra_env = {}) const;

 private:
  TempDir dir_;
  std::string cwd_;
};

// "<prefix>_<name of the running test>": a table of the test's own, since
// tests run in parallel.
std::string TestTable(const std::string& prefix);

// A test that runs tabfetch in a workspace of its own against the throwaway
// server (failing, never skipping, without it).
class WorkspaceTest : public ServerTest {
 protected:
  // NET8 `host`, the server's user and password, DB_SYSTEM MARIADB.
  ConnectionValues ServerSettings(const std::string& host = "localhost") const {
    return {host, server().user, server().password, "MARIADB"};
  }
  // Writes the server's settings and `definition` as TABFETCH.MARIADB.INI.
  void WriteServerFiles(const std::string& definition) const {
    ws_.WriteSettings(ServerSettings());
    ws_.WriteQueryDefinition("MARIADB", definition);
  }
  Workspace ws_;
};

}  // namespace testsupport
