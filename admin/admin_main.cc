// The command line of tabfetch-admin and its five commands. Everything that
// decides what tabfetch does is the libraries' own: the settings reader and
// cipher, the query definition loader, the formatter and the connection.
#include "admin/admin_main.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "admin/admin_text.h"
#include "admin/definition_check.h"
#include "admin/extract_view.h"
#include "admin/setting_report.h"
#include "common/path_resolve.h"
#include "db/db_connection.h"
#include "db/row_buffer.h"
#include "extract/field_format.h"
#include "querydef/profile_reader.h"
#include "querydef/query_definition.h"
#include "run/command_line.h"
#include "run/connection_settings.h"
#include "settings/settings_reader.h"
#include "settings/value_cipher.h"

#ifndef TABFETCH_VERSION
#define TABFETCH_VERSION "unknown"
#endif

namespace admin {
namespace {

// The settings file's value field held 200 characters: 12 blocks of 16 hex
// characters, 96 characters of plain text.
constexpr std::size_t kMaxPlainValue = 96;

// ---------------------------------------------------------------------------
// Help texts.

constexpr char kToolHelp[] =
    "Usage: tabfetch-admin COMMAND [ARGUMENTS] [OPTIONS]\n"
    "       tabfetch-admin COMMAND --help\n"
    "       tabfetch-admin --help | --version\n"
    "\n"
    "Shows what tabfetch will do with its settings file, its query "
    "definitions\n"
    "and its extract files. Reads files and, with check --run, the "
    "database;\n"
    "writes nothing.\n"
    "\n"
    "Commands:\n"
    "  encipher VALUE        print the value text of VALUE for the settings "
    "file\n"
    "  decipher HEX          print the plain text of a settings value text\n"
    "  setting KEY           show which settings record tabfetch's lookup of "
    "KEY\n"
    "                        finds, and why\n"
    "  check SECTION         check a query definition: statement, columns,\n"
    "                        record length and silent pitfalls\n"
    "  view EXTRACT SECTION  show an extract file as a table, or as CSV\n"
    "\n"
    "Files, relative to the working directory as tabfetch uses them:\n"
    "  ../../Files/Palventra.Ini  settings file (NET8, LOGIN, PASS, "
    "DB_SYSTEM)\n"
    "  TABFETCH.<DB_SYSTEM>.INI   query definition file\n"
    "\n"
    "Options that take a value accept --name VALUE and --name=VALUE. An\n"
    "argument that begins with '-' must follow '--'.\n"
    "\n"
    "Exit codes:\n"
    "  0  done, nothing to report\n"
    "  1  done, with findings: check found warnings; setting found another\n"
    "     record than KEY's own, or none; encipher or decipher was given a\n"
    "     value tabfetch cannot use as it is; view found a trailing partial\n"
    "     record\n"
    "  2  usage error, or the command could not be carried out (file "
    "missing,\n"
    "     section without statement, no database connection, ...)\n";

constexpr char kEncipherHelp[] =
    "Usage: tabfetch-admin encipher VALUE\n"
    "\n"
    "Prints the value text of VALUE for the settings file: VALUE enciphered\n"
    "with Blowfish under the settings file's fixed key, as upper-case\n"
    "hexadecimal text, 16 characters per 8 bytes. It belongs after the second\n"
    "';' of an entry line:  <entry number>;<KEY>;<value text>\n"
    "\n"
    "Exit codes: 0 done; 1 done, but VALUE has more than 96 characters, more\n"
    "than the settings file's value field holds; 2 usage error.\n";

constexpr char kDecipherHelp[] =
    "Usage: tabfetch-admin decipher HEX\n"
    "\n"
    "Prints the plain text tabfetch reads from the value text HEX, deciphered\n"
    "as tabfetch deciphers it (up to the first zero byte), and a line end.\n"
    "\n"
    "Exit codes: 0 done; 1 done, but HEX is no proper value text (characters\n"
    "other than 0-9 and A-F, lower-case letters included, or a length that "
    "is\n"
    "not a multiple of 16) or the plain text holds control characters (wrong\n"
    "key or damaged text); 2 usage error.\n";

constexpr char kSettingHelp[] =
    "Usage: tabfetch-admin setting KEY [--settings PATH] [--show]\n"
    "\n"
    "Performs the lookup tabfetch performs for KEY (NET8, LOGIN, PASS or\n"
    "DB_SYSTEM): the first record of the settings file whose heading name is\n"
    "empty, whose key name is KEY or whose entry number is 0 supplies the\n"
    "value. Prints that record's line numbers, heading name, key name, entry\n"
    "number and value, and why it matched. When it is not KEY's own record,\n"
    "also shows where KEY's own record stands: tabfetch never reaches it.\n"
    "The value of a PASS record is masked unless --show is given.\n"
    "\n"
    "Options:\n"
    "  --settings PATH  the settings file (default ../../Files/Palventra.Ini,\n"
    "                   relative to the working directory, as tabfetch reads "
    "it)\n"
    "  --show           show a password instead of masking it\n"
    "\n"
    "Exit codes: 0 KEY's own record matched; 1 another record matched first,\n"
    "or none matched (tabfetch then uses the empty text); 2 usage error, or\n"
    "the settings file cannot be read.\n";

constexpr char kCheckHelp[] =
    "Usage: tabfetch-admin check SECTION [--db-system NAME] [--settings PATH]\n"
    "                                    [--run TERMINAL]\n"
    "\n"
    "Loads SECTION of the query definition file TABFETCH.<DB_SYSTEM>.INI in\n"
    "the working directory as tabfetch does and prints the statement as it\n"
    "will be sent (with the sample terminal name TERM01), the 30 columns\n"
    "(label, type word, width, offset in the record, whether the column\n"
    "contributes), the record length, and a warning for every pitfall that\n"
    "tabfetch passes over in silence: a label with an unrecognised, "
    "lower-case,\n"
    "cut or missing type word; a type word or width without label; a width\n"
    "text cut to three characters; a width of 0 or below; an SQLnnn key after\n"
    "the first missing or empty one; a statement line cut to 199 characters;\n"
    "misspelt, unknown or repeated keys; no $parm01 in the statement, or one\n"
    "in other letter case; a section name tabfetch refuses.\n"
    "\n"
    "With --run TERMINAL it also connects as tabfetch does (NET8, LOGIN and\n"
    "PASS from the settings file, database PALVDATA), runs the statement\n"
    "with TERMINAL in place of $parm01 and counts per column the values that\n"
    "are cut (longer than the width: they lose their beginning) and the\n"
    "values holding a line feed (each makes the record one byte longer on\n"
    "disk). Nothing is written and nothing is committed.\n"
    "\n"
    "Options:\n"
    "  --db-system NAME  the database system (default: DB_SYSTEM from the\n"
    "                    settings file, looked up as tabfetch does)\n"
    "  --settings PATH   the settings file (default "
    "../../Files/Palventra.Ini)\n"
    "  --run TERMINAL    run the statement against the database\n"
    "\n"
    "Exit codes: 0 no warnings; 1 warnings; 2 usage error, or the definition\n"
    "cannot be loaded (file or section missing, no statement: tabfetch ends\n"
    "with exit code 3 there), the terminal name is refused, or the\n"
    "connection, the statement or the fetch failed.\n";

constexpr char kViewHelp[] =
    "Usage: tabfetch-admin view EXTRACT SECTION [--db-system NAME]\n"
    "                                   [--settings PATH] [--csv]\n"
    "\n"
    "Splits the extract file EXTRACT into its records by the record length of\n"
    "SECTION's query definition (see check), turning the CR LF that tabfetch\n"
    "wrote for a line feed inside a record back into the line feed, and\n"
    "shows the records as an aligned table: a header row of the labels of\n"
    "the contributing columns, then one record per line. Fields are shown as\n"
    "they stand in the record, padding included; characters are shown from\n"
    "code page 1252 in UTF-8, a line feed as \\n, a carriage return as \\r, a\n"
    "tab as \\t, a backslash as \\\\ and other control bytes as \\xNN.\n"
    "\n"
    "Options:\n"
    "  --db-system NAME  the database system (default: DB_SYSTEM from the\n"
    "                    settings file, looked up as tabfetch does)\n"
    "  --settings PATH   the settings file (default "
    "../../Files/Palventra.Ini)\n"
    "  --csv             print CSV (RFC 4180: a header row of labels, rows\n"
    "                    ending in CR LF, fields quoted where needed) with "
    "the\n"
    "                    record's bytes unchanged\n"
    "\n"
    "Exit codes: 0 done; 1 the file ends with a partial record (the whole\n"
    "records are shown, the error goes to standard error); 2 usage error, or\n"
    "the file or the definition cannot be read, or no column contributes.\n";

// ---------------------------------------------------------------------------
// Command-line parsing.

struct OptionSpec {
  std::string_view name;  // with the leading "--"
  bool takes_value;
};

struct Args {
  std::vector<std::string> positional;
  std::map<std::string, std::string, std::less<>> values;
  std::set<std::string, std::less<>> flags;
  bool help = false;

  const std::string* Value(std::string_view name) const {
    auto it = values.find(name);
    return it == values.end() ? nullptr : &it->second;
  }
  bool Flag(std::string_view name) const { return flags.count(name) > 0; }
};

bool ParseArgs(const std::vector<std::string>& in,
               const std::vector<OptionSpec>& specs, Args& args,
               std::string& error) {
  bool options_end = false;
  for (std::size_t i = 0; i < in.size(); ++i) {
    const std::string& arg = in[i];
    if (options_end || arg.size() < 2 || arg[0] != '-') {
      args.positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_end = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      args.help = true;
      continue;
    }
    const std::size_t eq = arg.find('=');
    const std::string name = arg.substr(0, eq);
    auto known =
        std::find_if(specs.begin(), specs.end(),
                     [&](const OptionSpec& s) { return s.name == name; });
    if (known == specs.end()) {
      error = "unknown option " + Quoted(name);
      return false;
    }
    if (!known->takes_value) {
      if (eq != std::string::npos) {
        error = "option " + name + " takes no value";
        return false;
      }
      args.flags.insert(name);
      continue;
    }
    if (eq != std::string::npos) {
      args.values[name] = arg.substr(eq + 1);
    } else if (i + 1 < in.size()) {
      args.values[name] = in[++i];
    } else {
      error = "option " + name + " needs a value";
      return false;
    }
  }
  return true;
}

struct Command {
  std::string_view name;
  const char* help;
  std::vector<OptionSpec> options;
  std::size_t positional;  // exact number of positional arguments
  std::string_view positional_names;
  int (*run)(const Args&, std::FILE*, std::FILE*);
};

int UsageError(std::FILE* err, std::string_view command,
               const std::string& message) {
  std::fprintf(err, "tabfetch-admin %.*s: %s\n",
               static_cast<int>(command.size()), command.data(),
               message.c_str());
  std::fprintf(err, "Run 'tabfetch-admin %.*s --help' for usage.\n",
               static_cast<int>(command.size()), command.data());
  return kExitError;
}

void Fail(std::FILE* err, const std::string& message) {
  std::fprintf(err, "tabfetch-admin: %s\n", message.c_str());
}

void PrintLine(std::FILE* out, const std::string& line) {
  std::fputs(line.c_str(), out);
  std::fputc('\n', out);
}

std::string SettingsPath(const Args& args) {
  const std::string* path = args.Value("--settings");
  return path != nullptr ? *path : std::string(settings::kSettingsPath);
}

bool FileReadable(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  // A directory opens but does not read.
  char byte;
  const bool ok = std::fread(&byte, 1, 1, f) == 1 || std::feof(f) != 0;
  std::fclose(f);
  return ok;
}

bool ReadWholeFile(const std::string& path, std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  std::vector<char> chunk(1 << 16);
  std::size_t got;
  while ((got = std::fread(chunk.data(), 1, chunk.size(), f)) > 0) {
    bytes.append(chunk.data(), got);
  }
  const bool ok = std::ferror(f) == 0;
  std::fclose(f);
  return ok;
}

std::string Lines(const settings::SettingMatch& m) {
  return "lines " + std::to_string(m.heading_line) + "-" +
         std::to_string(m.entry_line);
}

// ---------------------------------------------------------------------------
// encipher, decipher

int RunEncipher(const Args& args, std::FILE* out, std::FILE* err) {
  const std::string& value = args.positional[0];
  PrintLine(out, settings::EncipherValue(value, settings::kValueKey));
  if (value.size() > kMaxPlainValue) {
    Fail(err, "warning: the value has " + std::to_string(value.size()) +
                  " characters; the settings file's value field holds 96 "
                  "(192 hex characters), programs sharing the file cut it");
    return kExitFindings;
  }
  return kExitClean;
}

int RunDecipher(const Args& args, std::FILE* out, std::FILE* err) {
  const std::string& hex = args.positional[0];
  const std::string plain = settings::DecipherValue(hex, settings::kValueKey);
  std::fwrite(plain.data(), 1, plain.size(), out);
  std::fputc('\n', out);
  int code = kExitClean;
  const std::size_t bad = hex.find_first_not_of("0123456789ABCDEF");
  if (bad != std::string::npos) {
    const bool lower = hex.find_first_of("abcdef") != std::string::npos;
    Fail(err,
         "warning: character " + Quoted(hex.substr(bad, 1)) + " at position " +
             std::to_string(bad + 1) + " is no hex digit to tabfetch" +
             (lower ? " (lower-case letters are not hex digits to it)" : "") +
             ": the plain text is meaningless");
    code = kExitFindings;
  }
  if (hex.size() % 16 != 0) {
    Fail(err, "warning: the length " + std::to_string(hex.size()) +
                  " is not a multiple of 16: the last " +
                  std::to_string(hex.size() % 16) +
                  " characters form no whole block and are ignored");
    code = kExitFindings;
  }
  for (char c : plain) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      Fail(err, "warning: the plain text holds control characters (" +
                    Quoted(plain) +
                    "): the value text was enciphered with another key or "
                    "is damaged");
      code = kExitFindings;
      break;
    }
  }
  return code;
}

// ---------------------------------------------------------------------------
// setting

int RunSetting(const Args& args, std::FILE* out, std::FILE* err) {
  const std::string& key = args.positional[0];
  const std::string path = SettingsPath(args);
  const std::string resolved = common::ResolvePath(path);
  if (!FileReadable(resolved)) {
    Fail(err, "the settings file " + Quoted(path) +
                  " cannot be read (tabfetch then uses the empty text for "
                  "every key)");
    return kExitError;
  }
  const SettingExplanation e = ExplainSetting(key, path);
  PrintLine(out, "Settings file: " + resolved);
  PrintLine(out, "Lookup:        key name " + Quoted(key) +
                     ", heading name \"\", entry number 0 (as tabfetch)");
  if (!e.match.found) {
    PrintLine(out, "No record matches: tabfetch uses the empty text.");
    return kExitFindings;
  }
  const bool secret = IsSecret(e, key) && !args.Flag("--show");
  const settings::SettingMatch& m = e.match;
  PrintLine(out, "Match:         " + Lines(m));
  PrintLine(out, "  heading name " + Quoted(m.heading_name));
  PrintLine(out, "  key name     " + Quoted(m.key_name));
  PrintLine(out, "  entry number " + std::to_string(m.entry_number));
  PrintLine(out, "  value text   " + (secret ? MaskedValue(m.value_text)
                                             : Quoted(m.value_text)));
  PrintLine(out, "  value        " +
                     (secret ? MaskedValue(m.value) + ", --show shows it"
                             : Quoted(m.value)));
  PrintLine(out, "Why:           " + MatchReason(e, key) + ".");
  int code = kExitClean;
  if (!e.by_key) {
    code = kExitFindings;
    if (e.own_record.found) {
      PrintLine(out, "The record with key name " + key + " at " +
                         Lines(e.own_record) +
                         " is never reached: this one comes first.");
    } else {
      PrintLine(out, "No record has the key name " + key + ".");
    }
  }
  return code;
}

// ---------------------------------------------------------------------------
// check, view: loading the query definition

struct LoadedDefinition {
  std::string db_system;
  std::string file;
  querydef::Profile profile;
  std::vector<std::string> notes;  // warnings about where DB_SYSTEM came from
};

// Finds DB_SYSTEM and the query definition file as tabfetch does. Prints
// the failure and returns false when the section cannot be loaded.
bool LoadDefinitionFile(const Args& args, std::string_view section,
                        LoadedDefinition& loaded, std::FILE* err) {
  if (const std::string* name = args.Value("--db-system")) {
    loaded.db_system = *name;
  } else {
    const std::string path = SettingsPath(args);
    const SettingExplanation e = ExplainSetting("DB_SYSTEM", path);
    loaded.db_system = e.match.value;
    if (!e.match.found) {
      loaded.notes.push_back(
          "no record of the settings file " + Quoted(path) +
          " matches DB_SYSTEM: tabfetch uses the empty database system name");
    } else if (!e.by_key) {
      loaded.notes.push_back("DB_SYSTEM comes from the settings record at " +
                             Lines(e.match) + " with key name " +
                             Quoted(e.match.key_name) + ": " +
                             MatchReason(e, "DB_SYSTEM"));
    }
  }
  loaded.file = querydef::QueryDefinitionFileName(loaded.db_system);
  auto print_notes = [&] {
    for (const std::string& note : loaded.notes) Fail(err, "note: " + note);
  };
  if (!FileReadable(loaded.file)) {
    print_notes();
    Fail(err, "the query definition file " + Quoted(loaded.file) +
                  " (DB_SYSTEM " + Quoted(loaded.db_system) +
                  ") cannot be read: tabfetch ends with exit code 3");
    return false;
  }
  loaded.profile = querydef::Profile::Load(loaded.file);
  if (!loaded.profile.HasSection(section)) {
    print_notes();
    Fail(err, "there is no section [" + DisplayText(section) + "] in " +
                  Quoted(loaded.file) + ": tabfetch ends with exit code 3");
    return false;
  }
  return true;
}

void PrintColumnTable(const DefinitionCheck& check, std::FILE* out) {
  std::size_t label_width = 5;
  std::size_t type_width = 4;
  for (const ColumnReport& c : check.columns) {
    label_width =
        std::max(label_width, DisplayWidth(DisplayText(c.definition.label)));
    type_width =
        std::max(type_width, DisplayWidth(DisplayText(c.definition.type)));
  }
  char buf[64];
  PrintLine(out, "Columns:");
  std::string head = "  No  " + PadRight("Label", label_width) + "  " +
                     PadRight("Type", type_width) + "   Width  Offset  " +
                     "Contributes";
  PrintLine(out, head);
  for (const ColumnReport& c : check.columns) {
    std::snprintf(buf, sizeof buf, "  %02d  ", c.number);
    std::string line = buf;
    line += PadRight(DisplayText(c.definition.label), label_width) + "  ";
    line += PadRight(DisplayText(c.definition.type), type_width);
    std::snprintf(buf, sizeof buf, " %7d", c.definition.width);
    line += buf;
    if (c.contributes) {
      std::snprintf(buf, sizeof buf, "  %6zu  yes", c.offset);
    } else {
      std::snprintf(buf, sizeof buf, "  %6s  no: ", "-");
    }
    line += buf;
    if (!c.contributes) line += c.reason;
    PrintLine(out, line);
  }
}

// What one column of the fetched rows looked like.
struct ColumnRunStats {
  std::size_t slot = 0;
  std::size_t width = 0;
  extract::FieldKind kind = extract::FieldKind::kChar;
  std::string label;
  std::uint64_t cut = 0;      // values longer than the width
  std::uint64_t with_lf = 0;  // values with a LF in what the record keeps
  std::uint64_t lf_bytes = 0;
  std::size_t longest = 0;  // longest value after trimming
};

// Connects as tabfetch does and runs the statement with `terminal`. Adds its
// findings to `warnings`; returns false (after printing why) on failure.
bool RunQuery(const Args& args, std::string_view section,
              const std::string& terminal, const LoadedDefinition& loaded,
              std::FILE* out, std::FILE* err,
              std::vector<std::string>& warnings) {
  if (terminal.size() > run::kMaxNameLength) {
    Fail(err, "the terminal name has " + std::to_string(terminal.size()) +
                  " characters: tabfetch refuses names over 31 characters "
                  "(\"Terminalname zu lang, erlaubt: max. 31 Zeichen\", exit "
                  "code 1)");
    return false;
  }
  const std::string path = SettingsPath(args);
  run::ConnectionSettings values = run::ReadConnectionSettings(path);
  const std::string& host = values.host;
  const std::string& user = values.user;
  db::Connection conn;
  int status =
      db::dbConnect(conn, user, values.password, host, run::kDatabaseName);
  run::WipeSecret(values.password);
  if (status != db::kOk) {
    Fail(err,
         "cannot connect to the database (host " + Quoted(host) + ", user " +
             Quoted(user) + "): status " + std::to_string(status) +
             "; tabfetch prints \"dbConnect_Status: " + std::to_string(status) +
             "\" and ends with exit code 0");
    return false;
  }

  querydef::QueryDefinition def;
  extract::ClearColumnDefinitions(def.columns);
  const std::string escaped = db::dbEscapeLiteral(conn, terminal);
  const querydef::TerminalName name{
      terminal, escaped, db::dbBackslashEscapes(conn),
      db::dbServerVersion(conn), db::dbServerIsMySql(conn)};
  status = querydef::GetIniValuesFromProfile(loaded.profile, section, name,
                                             false, out, def);
  if (status == querydef::kTerminalRefused) {
    Fail(err, "the terminal name " + Quoted(terminal) +
                  " may not stand where $parm01 stands in the statement: "
                  "tabfetch prints \"Terminalname im SQL-Statement nicht "
                  "zulaessig\" and ends with exit code 1");
    return false;
  }
  if (status != querydef::kOk) {
    Fail(err, "the section has no statement: tabfetch ends with exit code 3");
    return false;
  }
  PrintLine(out, "");
  PrintLine(out, "Run with terminal name " + Quoted(terminal) + ":");
  PrintLine(out,
            "  statement as sent: '" + DisplayText(def.statement, false) + "'");
  status = db::dbOpenQuery(conn, def.statement);
  if (status != db::kOk) {
    Fail(err, "the server rejected the statement: status " +
                  std::to_string(status) +
                  "; tabfetch writes no record and reports 0 records");
    return false;
  }

  const extract::RecordLayout layout = extract::CompileLayout(def.columns);
  std::vector<ColumnRunStats> stats;
  for (const extract::FieldLayout& field : layout.fields) {
    ColumnRunStats s;
    s.slot = field.slot;
    s.width = field.width;
    s.kind = field.kind;
    s.label = def.columns[field.slot].label;
    stats.push_back(s);
  }
  std::uint64_t rows = 0;
  db::RowBuffer row;
  std::string formatted;
  while ((status = db::dbFetchRow(conn, row)) == db::kOk) {
    ++rows;
    for (ColumnRunStats& s : stats) {
      const std::string_view value = row.slots[s.slot];
      // TXT keeps its leading blanks; CHAR and DEC lose blanks on both
      // sides before the width is applied.
      const std::string_view trimmed = s.kind == extract::FieldKind::kTxt
                                           ? extract::TrimRight(value)
                                           : extract::Trim(value);
      s.longest = std::max(s.longest, trimmed.size());
      if (trimmed.size() > s.width) ++s.cut;
      formatted.clear();
      extract::FormatField(value, static_cast<int>(s.width),
                           def.columns[s.slot].type, formatted);
      const auto lfs = static_cast<std::uint64_t>(
          std::count(formatted.begin(), formatted.end(), '\n'));
      if (lfs > 0) ++s.with_lf;
      s.lf_bytes += lfs;
    }
  }
  const int result_columns = db::dbColumnCount(conn);
  (void)db::dbCloseQuery(conn);
  if (status == db::kResultFailed) {
    Fail(err, "the result broke off at row " + std::to_string(rows + 1) +
                  ": tabfetch writes no record and reports 0 records");
    return false;
  }
  if (status != db::kNoMoreRows) {
    Fail(err, "reading row " + std::to_string(rows + 1) + " failed: status " +
                  std::to_string(status) +
                  "; tabfetch prints \"Fehler Lesen in Leseschleife " +
                  std::to_string(status) + "\" and writes the rows before it");
    return false;
  }

  PrintLine(out, "  rows: " + std::to_string(rows) +
                     ", result columns: " + std::to_string(result_columns));
  std::size_t label_width = 5;
  for (const ColumnRunStats& s : stats) {
    label_width = std::max(label_width, DisplayWidth(DisplayText(s.label)));
  }
  PrintLine(out, "  No  " + PadRight("Label", label_width) +
                     "   Width  Longest      Cut  With LF");
  std::uint64_t lf_bytes = 0;
  char buf[96];
  for (const ColumnRunStats& s : stats) {
    std::snprintf(buf, sizeof buf, "  %02zu  ", s.slot + 1);
    std::string line = buf + PadRight(DisplayText(s.label), label_width);
    std::snprintf(buf, sizeof buf, " %7zu %8zu %8llu %8llu", s.width, s.longest,
                  static_cast<unsigned long long>(s.cut),
                  static_cast<unsigned long long>(s.with_lf));
    PrintLine(out, line + buf);
    lf_bytes += s.lf_bytes;
    if (s.cut > 0) {
      warnings.push_back(
          "run: column " + std::to_string(s.slot + 1) + ": " +
          std::to_string(s.cut) + " value(s) longer than the width " +
          std::to_string(s.width) + " (longest " + std::to_string(s.longest) +
          "): they lose their beginning");
    }
    if (s.with_lf > 0) {
      warnings.push_back(
          "run: column " + std::to_string(s.slot + 1) + ": " +
          std::to_string(s.with_lf) +
          " value(s) hold a line feed: each makes its record one byte "
          "longer on disk");
    }
  }
  PrintLine(out, "  extract size: " + std::to_string(rows) + " x " +
                     std::to_string(layout.record_length) + " bytes + " +
                     std::to_string(lf_bytes) + " for line feeds = " +
                     std::to_string(rows * layout.record_length + lf_bytes) +
                     " bytes");
  for (const extract::FieldLayout& field : layout.fields) {
    if (static_cast<int>(field.slot) >= result_columns) {
      warnings.push_back("run: column " + std::to_string(field.slot + 1) +
                         " contributes, but the statement returns only " +
                         std::to_string(result_columns) +
                         " columns: it is always padding");
    }
  }
  if (result_columns > querydef::kColumnCount) {
    warnings.push_back("run: the statement returns " +
                       std::to_string(result_columns) +
                       " columns: those after the 30th are never used");
  }
  return true;
}

int RunCheck(const Args& args, std::FILE* out, std::FILE* err) {
  const std::string& section = args.positional[0];
  LoadedDefinition loaded;
  if (!LoadDefinitionFile(args, section, loaded, err)) return kExitError;
  const DefinitionCheck check = CheckDefinition(loaded.profile, section);
  if (check.status == querydef::kNoStatement) {
    Fail(err, "section [" + DisplayText(section) + "] of " +
                  Quoted(loaded.file) +
                  " has no statement (SQL001 missing or empty): tabfetch "
                  "ends with exit code 3");
    return kExitError;
  }
  std::vector<std::string> warnings = loaded.notes;
  warnings.insert(warnings.end(), check.warnings.begin(), check.warnings.end());

  PrintLine(out, "Query definition: section [" + DisplayText(section) +
                     "] of " + loaded.file + " (DB_SYSTEM " +
                     Quoted(loaded.db_system) + ")");
  if (check.status == querydef::kOk) {
    PrintLine(out, "Statement as sent with the sample terminal name " +
                       std::string(kSampleTerminal) + ":");
  } else {
    PrintLine(out, "Statement before substitution (refused, see warnings):");
  }
  PrintLine(out, "  '" + DisplayText(check.statement, false) + "'");
  PrintLine(out, "  $parm01 replaced: " +
                     std::to_string(check.placeholder_count) + " time(s)");
  PrintColumnTable(check, out);
  PrintLine(out, "Record length: " + std::to_string(check.record_length) +
                     " bytes (on disk one more per line feed in a value)");

  bool ok = true;
  if (const std::string* terminal = args.Value("--run")) {
    ok = RunQuery(args, section, *terminal, loaded, out, err, warnings);
  }

  PrintLine(out, "");
  if (warnings.empty()) {
    PrintLine(out, "No warnings.");
  } else {
    PrintLine(out, "Warnings (" + std::to_string(warnings.size()) + "):");
    for (const std::string& w : warnings) PrintLine(out, "  " + w);
  }
  if (!ok) return kExitError;
  return warnings.empty() ? kExitClean : kExitFindings;
}

int RunView(const Args& args, std::FILE* out, std::FILE* err) {
  const std::string& extract_path = args.positional[0];
  const std::string& section = args.positional[1];
  LoadedDefinition loaded;
  if (!LoadDefinitionFile(args, section, loaded, err)) return kExitError;
  querydef::QueryDefinition def;
  extract::ClearColumnDefinitions(def.columns);
  const querydef::TerminalName sample{kSampleTerminal, kSampleTerminal, true};
  // The terminal name does not change the layout; a refused one still
  // loads the columns.
  if (querydef::GetIniValuesFromProfile(loaded.profile, section, sample, false,
                                        out, def) == querydef::kNoStatement) {
    Fail(err, "section [" + DisplayText(section) + "] of " +
                  Quoted(loaded.file) +
                  " has no statement: tabfetch never wrote an extract for it");
    return kExitError;
  }
  const std::vector<ViewColumn> columns = ViewColumns(def.columns);
  const std::size_t record_length = extract::RecordLength(def.columns);
  if (record_length == 0) {
    Fail(err, "no column of section [" + DisplayText(section) +
                  "] contributes to the record (record length 0): the "
                  "extract cannot be split");
    return kExitError;
  }
  std::string bytes;
  if (!ReadWholeFile(extract_path, bytes)) {
    Fail(err, "the extract file " + Quoted(extract_path) + " cannot be read");
    return kExitError;
  }
  const ExtractRecords split = SplitExtract(bytes, record_length);
  if (args.Flag("--csv")) {
    PrintCsv(columns, split.records, out);
  } else {
    PrintTable(columns, split.records, out);
    const std::size_t count = split.records.size();
    PrintLine(out, "(" + std::to_string(count) +
                       (count == 1 ? " record of " : " records of ") +
                       std::to_string(record_length) + " bytes)");
  }
  for (const std::string& note : loaded.notes) {
    Fail(err, "warning: " + note);
  }
  if (split.partial) {
    Fail(err, "the extract file " + Quoted(extract_path) +
                  " ends with a partial record: " +
                  std::to_string(split.partial_bytes) + " bytes at offset " +
                  std::to_string(split.partial_offset) +
                  " do not make a record of " + std::to_string(record_length) +
                  " bytes (another record length, or a damaged file)");
    return kExitFindings;
  }
  return kExitClean;
}

const std::vector<Command>& Commands() {
  static const std::vector<Command> kCommands = {
      {"encipher", kEncipherHelp, {}, 1, "VALUE", RunEncipher},
      {"decipher", kDecipherHelp, {}, 1, "HEX", RunDecipher},
      {"setting",
       kSettingHelp,
       {{"--settings", true}, {"--show", false}},
       1,
       "KEY",
       RunSetting},
      {"check",
       kCheckHelp,
       {{"--db-system", true}, {"--settings", true}, {"--run", true}},
       1,
       "SECTION",
       RunCheck},
      {"view",
       kViewHelp,
       {{"--db-system", true}, {"--settings", true}, {"--csv", false}},
       2,
       "EXTRACT SECTION",
       RunView},
  };
  return kCommands;
}

}  // namespace

int AdminMain(int argc, const char* const* argv, std::FILE* out,
              std::FILE* err) {
  if (argc < 2) {
    std::fputs("tabfetch-admin: no command given\n", err);
    std::fputs("Run 'tabfetch-admin --help' for usage.\n", err);
    return kExitError;
  }
  const std::string_view first = argv[1];
  if (first == "--help" || first == "-h" || first == "help") {
    std::fputs(kToolHelp, out);
    return kExitClean;
  }
  if (first == "--version") {
    std::fputs("tabfetch-admin " TABFETCH_VERSION "\n", out);
    return kExitClean;
  }
  const auto& commands = Commands();
  auto command =
      std::find_if(commands.begin(), commands.end(),
                   [&](const Command& c) { return c.name == first; });
  if (command == commands.end()) {
    std::fprintf(err, "tabfetch-admin: unknown command %s\n",
                 Quoted(first).c_str());
    std::fputs("Run 'tabfetch-admin --help' for usage.\n", err);
    return kExitError;
  }
  const std::vector<std::string> rest(argv + 2, argv + argc);
  Args args;
  std::string error;
  if (!ParseArgs(rest, command->options, args, error)) {
    return UsageError(err, command->name, error);
  }
  if (args.help) {
    std::fputs(command->help, out);
    return kExitClean;
  }
  if (args.positional.size() != command->positional) {
    return UsageError(
        err, command->name,
        (args.positional.size() < command->positional ? "missing "
                                                      : "too many arguments; "
                                                        "expected ") +
            std::string(command->positional_names));
  }
  return command->run(args, out, err);
}

}  // namespace admin
