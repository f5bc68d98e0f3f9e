// The whole run, end to end: the real tabfetch binary in prepared working
// directories against the throwaway MariaDB server. Console output, exit code
// and extract file are compared byte for byte.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "testsupport/legacy_texts.h"
#include "testsupport/throwaway_mariadb.h"
#include "testsupport/workspace.h"

namespace {

using testsupport::DebugTrace;
using testsupport::Summary;
using testsupport::ToolResult;

std::string TableName() { return testsupport::TestTable("e2e"); }

std::string RealPath(const std::string& path) {
  return std::filesystem::canonical(path).string();
}

const char kSelect[] = "SELECT TERMINAL, ARTIKEL, MENGE, BETRAG, NOTIZ";

// UMSATZ and MENGE write CHAR 8, TXT 12, DEC 5, DEC 9, CHAR 10 = 44 bytes;
// CAHR, KLEIN, NULL and AUS drop (or switch off) their first column and
// write their second.
std::string QueryDefinition() {
  using testsupport::Section;
  const std::vector<testsupport::Column> columns = {
      {"Terminal", "CHAR", 8}, {"Artikel", "TXT", 12}, {"Menge", "DEC", 5},
      {"Betrag", "DEC", 9},    {"Notiz", "CHAR", 10}};
  const std::string from = "FROM " + TableName();
  auto dropping = [](const char* name, const testsupport::Column& first) {
    return Section(name, {"SELECT 'x', 'x'"}, {first, {"B", "CHAR", 2}});
  };
  return Section("UMSATZ", {kSelect, from, "WHERE TERMINAL = '$parm01'"},
                 columns) +
         Section("MENGE", {kSelect, from, "WHERE MENGE = $parm01"}, columns) +
         Section("NICHTS", {"SET @tabfetch_nothing = 1"}, {{"A", "CHAR", 3}}) +
         Section("FALSCH", {"SELEKT 1"}, {}) +
         Section("OHNE", {}, {{"A", "CHAR", 4}}) +
         Section("LEER", {"", "SELECT 1"}, {}) +
         dropping("CAHR", {"A", "CAHR", 4}) +
         dropping("KLEIN", {"A", "dec", 4}) +
         dropping("NULL", {"A", "DEC", 0}) + dropping("AUS", {"", "CAHR", 4});
}

// The formatted records of the rows inserted by SetUp, as they sort.
const std::string kBrot =
    "KASSE1  " "Brot        " "00001" "000002.20" "frisch    ";
const std::string kApfel =
    "KASSE1  " "\xC4" "pfel       " "00003" "000004.50" "          ";
const std::string kKasse1 = kBrot + kApfel + kApfel;

class TabfetchTest : public testsupport::WorkspaceTest {
 protected:
  void SetUp() override {
    ServerTest::SetUp();
    if (HasFatalFailure()) return;
    const std::string t = "PALVDATA." + TableName();
    Sql("CREATE OR REPLACE TABLE " + t +
        " (TERMINAL VARCHAR(20), ARTIKEL VARCHAR(40), MENGE INT,"
        " BETRAG DECIMAL(8,2), NOTIZ VARCHAR(80) NULL)"
        " CHARACTER SET utf8mb4; INSERT INTO " + t +
        " VALUES ('KASSE1', '\xC4pfel', 3, 4.50, NULL),"
        " ('KASSE2', 'Milch', 2, 1.10, 'kalt'),"
        " ('KASSE1', 'Brot', 1, 2.20, 'frisch'),"
        " ('KASSE1', '\xC4pfel', 3, 4.50, NULL),"
        " ('KASSE3', 'Gr\xFCn\nzeug', 12345, -7.5, 'a\nb')");
    ws_.WriteQueryDefinition("MARIADB", QueryDefinition());
  }
};

// Each run as the callers see it: standard output, standard error, the file,
// the legacy exit code (also with TABFETCH_STRICT_EXIT unset, 0 or a bad
// value, which is named first) and the strict one (TABFETCH_STRICT_EXIT=1),
// every run starting from the same file.
TEST_F(TabfetchTest, RunsAsTheCallersSeeThem) {
  using testsupport::SettingsRecord;
  const char* const kMissing = nullptr;
  const std::string trace = DebugTrace(" " + std::string(kSelect) + " FROM " +
                                       TableName() +
                                       " WHERE TERMINAL = '$parm01' ");
  auto settings = [this](const std::string& host, const std::string& password,
                         bool login = true, const char* system = "MARIADB") {
    return SettingsRecord("Rechner", 1, "NET8", host) +
           (login ? SettingsRecord("Benutzer", 2, "LOGIN", server().user)
                  : "") +
           SettingsRecord("Kennwort", 3, "PASS", password) +
           (system ? SettingsRecord("System", 4, "DB_SYSTEM", system) : "");
  };
  const std::string kNoFile = "<missing>";
  const std::string kDirectory = "<directory>";
  const std::string no_definition =
      ": No such file or directory (TABFETCH.<DB_SYSTEM>.INI in the working "
      "directory; where no file has exactly that name, one whose name "
      "differs only in letter case is taken)\n";
  const std::string no_section =
      "tabfetch: query definition file {cwd}/TABFETCH.MARIADB.INI has no "
      "section [GIBTESNICHT] (section names are compared ignoring letter "
      "case and surrounding spaces)\n";
  const std::string dropped =
      "tabfetch: column 01 (FELD01 \"A\") is left out of every record: ";
  struct Case {
    const char* name;
    std::vector<std::string> args;  // the extract file is args[2]
    const char* before;             // kMissing: no file before the run
    int exit_code;
    int strict_code;
    std::string out;
    std::string file;  // afterwards, "<missing>" for none
    // Standard error (MatchesPattern; {root} and {cwd} stand for the real
    // paths).
    std::string err;
    std::string settings = "";  // "": the server's, over the socket
  };
  const Case kCases[] = {
      // Duplicates are kept and counted.
      {"replace", {"UMSATZ", "KASSE1", "out.txt", "1"}, "OLD CONTENT", 0, 0,
       Summary(3, "out.txt"), kKasse1, ""},
      {"append", {"UMSATZ", "KASSE1", "out.txt", "0"}, kKasse1.c_str(), 0, 0,
       Summary(3, "out.txt"), kKasse1 + kKasse1, ""},
      {"append creates a missing file", {"UMSATZ", "KASSE2", "new.txt", "0"},
       kMissing, 0, 0, Summary(1, "new.txt"),
       "KASSE2  Milch       00002000001.10kalt      ", ""},
      {"debug trace", {"UMSATZ", "KASSE1", "out.txt", "1", "/d"}, kMissing, 0,
       0, trace + "Str WriteFile\nEnd WriteFile\n" + Summary(3, "out.txt"),
       kKasse1, ""},
      // Over TCP; the umlaut as one latin1 byte, each LF written as CR LF.
      {"line feeds as CR LF", {"UMSATZ", "KASSE3", "out.txt", "1"}, kMissing,
       0, 0, Summary(1, "out.txt"),
       "KASSE3  " "Gr\xFC" "n\r\nzeug   " "12345" "0000-7.50" "a\r\nb       ",
       "", settings("127.0.0.1", server().password)},
      // Runs that write no record leave the file as it was, or missing; with
      // no rows WriteFile is not called at all, so no trace of it either.
      {"no rows", {"UMSATZ", "KASSE9", "out.txt", "1", "/D"}, "OLD", 0, 0,
       trace + Summary(0, "out.txt"), "OLD", ""},
      {"no rows, appending", {"UMSATZ", "KASSE9", "missing.txt", "0"},
       kMissing, 0, 0, Summary(0, "missing.txt"), "<missing>", ""},
      // No line break after the read error: the summary line continues it.
      {"statement without result set", {"NICHTS", "KASSE1", "out.txt", "1"},
       kMissing, 0, 12,
       "Fehler Lesen in Leseschleife -1" + Summary(0, "out.txt"), "<missing>",
       "tabfetch: the statement returned no result set (no rows to read: SET, "
       "DO, UPDATE and the like return none)\n"},
      {"rejected statement", {"FALSCH", "KASSE1", "out.txt", "1"}, "OLD", 0,
       11, Summary(0, "out.txt"), "OLD",
       "tabfetch: the server rejected the statement: error 1064: *\n"},
      {"refused login", {"UMSATZ", "KASSE1", "out.txt", "1"}, "OLD", 0, 10,
       "dbConnect_Status: 1045\n", "OLD",
       "tabfetch: cannot connect to the database on host \"localhost\": error "
       "1045: Access denied for user *\n",
       settings("localhost", "falsch")},
      {"extract file cannot be opened",
       {"UMSATZ", "KASSE1", "missing/out.txt", "1"}, kMissing, 0, 13,
       testsupport::kOpenFailed + Summary(0, "missing/out.txt"), "<missing>",
       testsupport::OpenFailedLine("missing/out.txt", ENOENT)},
      {"section missing", {"GIBTESNICHT", "KASSE1", "out.txt", "1"},
       kMissing, 3, 3, "", "<missing>", no_section},
      {"section missing, the trace ends early",
       {"GIBTESNICHT", "KASSE1", "out.txt", "1", "/D"}, kMissing, 3, 3,
       " Aktiviert Debugger\nStr GetIniValues\n", "<missing>", no_section},
      {"no SQL001", {"OHNE", "KASSE1", "out.txt", "1"}, kMissing, 3, 3, "",
       "<missing>",
       "tabfetch: section [OHNE] of query definition file "
       "{cwd}/TABFETCH.MARIADB.INI has no SQL001: no statement to run\n"},
      {"empty SQL001", {"LEER", "KASSE1", "out.txt", "1"}, kMissing, 3, 3, "",
       "<missing>",
       "tabfetch: section [LEER] of query definition file "
       "{cwd}/TABFETCH.MARIADB.INI has an empty SQL001: no statement to run\n"},
      {"definition file missing", {"UMSATZ", "KASSE1", "out.txt", "1"},
       kMissing, 3, 3, "", "<missing>",
       "tabfetch: cannot read query definition file "
       "{cwd}/TABFETCH.ANDERS.INI" + no_definition,
       settings("localhost", server().password, true, "ANDERS")},
      {"no DB_SYSTEM record", {"UMSATZ", "KASSE1", "out.txt", "1"}, kMissing,
       3, 3, "", "<missing>",
       "tabfetch: settings file {root}/Files/Palventra.Ini: no record matches "
       "DB_SYSTEM (key name DB_SYSTEM, an empty heading name or entry number "
       "0)\ntabfetch: cannot read query definition file {cwd}/TABFETCH..INI" +
           no_definition,
       settings("localhost", server().password, true, nullptr)},
      {"settings file missing", {"UMSATZ", "KASSE1", "out.txt", "1"}, kMissing,
       0, 10, "dbConnect_Status: 1045\n", "<missing>",
       "tabfetch: cannot read settings file {root}/Files/Palventra.Ini: No "
       "such file or directory\n" + std::string(testsupport::kNoUserLine),
       kNoFile},
      {"settings file unreadable", {"UMSATZ", "KASSE1", "out.txt", "1"},
       kMissing, 0, 10, "dbConnect_Status: 1045\n", "<missing>",
       "tabfetch: cannot read settings file {root}/Files/Palventra.Ini: Is a "
       "directory\n" + std::string(testsupport::kNoUserLine),
       kDirectory},
      {"no LOGIN record", {"UMSATZ", "KASSE1", "out.txt", "1"}, kMissing, 0,
       10, "dbConnect_Status: 1045\n", "<missing>",
       "tabfetch: settings file {root}/Files/Palventra.Ini: no record matches "
       "LOGIN (key name LOGIN, an empty heading name or entry number 0)\n" +
           std::string(testsupport::kNoUserLine),
       settings("localhost", server().password, false)},
      {"unquoted terminal name must be an identifier",
       {"MENGE", "1 OR 1=1", "out.txt", "1", "/D"}, "OLD", 1, 1,
       " Aktiviert Debugger\n"
       "Str GetIniValues\n"
       "  >>>>> SQL-Statement <<<<<\n"
       "  ' " + std::string(kSelect) + " FROM " + TableName() +
           " WHERE MENGE = $parm01 '\n"
           "Terminalname im SQL-Statement nicht zulaessig\n",
       "OLD",
       "tabfetch: terminal name refused at $parm01 no. 1 (byte # of the "
       "statement): not a plain name *\n"},
      {"unquoted identifier", {"MENGE", "3", "out.txt", "1"}, "OLD", 0, 0,
       Summary(2, "out.txt"), kApfel + kApfel, ""},
      // Unusable command lines end before the settings.
      {"three arguments", {"UMSATZ", "KASSE1", "out.txt"}, kMissing, 1, 1,
       std::string(testsupport::kBanner) + "Falsche Anzahl Parameter\n\n" +
           testsupport::kUsage,
       "<missing>", ""},
      {"replace flag 2", {"UMSATZ", "KASSE1", "out.txt", "2"}, kMissing, 2, 2,
       std::string(testsupport::kBanner) +
           "Falsches ReplaceFlag, erlaubt: '0' oder '1'\n\n" +
           testsupport::kUsage,
       "<missing>", ""},
      // Columns dropped for their type word or width are named; one switched
      // off by an empty label is not.
      {"type word misspelt", {"CAHR", "KASSE1", "out.txt", "1"}, kMissing, 0,
       0, Summary(1, "out.txt"), "x ",
       dropped + "type word FTYP01 \"CAHR\" is not exactly CHAR, DEC or TXT\n"},
      {"type word in lower case", {"KLEIN", "KASSE1", "out.txt", "1"},
       kMissing, 0, 0, Summary(1, "out.txt"), "x ",
       dropped + "type word FTYP01 \"dec\" is not exactly CHAR, DEC or TXT\n"},
      {"width 0", {"NULL", "KASSE1", "out.txt", "1"}, kMissing, 0, 0,
       Summary(1, "out.txt"), "x ", dropped + "width FLEN01 reads 0\n"},
      {"column switched off by an empty label",
       {"AUS", "KASSE1", "out.txt", "1"}, kMissing, 0, 0,
       Summary(1, "out.txt"), "x ", ""},
  };
  const std::string settings_file = ws_.SettingsPath();
  for (const Case& c : kCases) {
    std::filesystem::remove_all(settings_file);
    if (c.settings == kDirectory) {
      std::filesystem::create_directories(settings_file);
    } else if (c.settings != kNoFile) {
      ws_.WriteSettingsText(c.settings.empty()
                                ? settings("localhost", server().password)
                                : c.settings);
    }
    const std::string err = testsupport::ReplaceAll(
        testsupport::ReplaceAll(c.err, "{root}", RealPath(ws_.root())),
        "{cwd}", RealPath(ws_.cwd()));
    for (const char* strict : {"", "0", "ja", "1"}) {
      SCOPED_TRACE(std::string(c.name) + ", TABFETCH_STRICT_EXIT " +
                   (*strict ? strict : "unset"));
      std::filesystem::remove(ws_.At(c.args[2]));
      if (c.before != kMissing) ws_.WriteFile(c.args[2], c.before);
      const ToolResult r = ws_.Run(
          c.args, *strict == '\0' ? std::vector<std::string>{}
                                  : std::vector<std::string>{
                                        std::string("TABFETCH_STRICT_EXIT=") +
                                        strict});
      EXPECT_EQ(r.exit_code, *strict == '1' ? c.strict_code : c.exit_code);
      EXPECT_EQ(r.out, c.out);
      EXPECT_EQ(ws_.ReadFile(c.args[2]), c.file);
      EXPECT_TRUE(testsupport::MatchesPattern(
          r.err, (*strict == 'j' ? "tabfetch: TABFETCH_STRICT_EXIT=ja is "
                                   "neither 0 nor 1; the legacy exit codes "
                                   "apply\n"
                                 : "") +
                     err))
          << r.err;
    }
  }
}

}  // namespace
