// Fuzz target for the query definition side: the profile reader, loading a
// query definition from a parsed profile, and putting a terminal name in
// place of $parm01.
//
// Input: line 1 is the section, line 2 the key, line 3 the terminal name;
// the rest is the profile text and, a second time, one SQL statement.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>
#include <string_view>
#include <unordered_set>

#include "common/ascii_case.h"
#include "fuzz/fuzz_check.h"
#include "querydef/definition_keys.h"
#include "querydef/profile_reader.h"
#include "querydef/query_definition.h"

namespace {

using common::AsciiLower;
using common::AsciiUpper;
using fuzz::Check;
using querydef::kPlaceholder;
using querydef::Profile;
using querydef::TerminalName;

constexpr size_t kWhole = std::numeric_limits<size_t>::max();

// What mysql_real_escape_string makes of a name for a single-byte character
// set: with backslash escapes NUL, LF, CR, '\', quotes and Ctrl-Z get a
// backslash; under NO_BACKSLASH_ESCAPES only the single quote is doubled.
std::string EscapeForLiteral(std::string_view name, bool backslash_escapes) {
  static constexpr std::string_view kSpecial("\0\n\r\\'\"\x1A", 7);
  static constexpr const char* kEscaped[] = {"\\0", "\\n",  "\\r", "\\\\",
                                             "\\'", "\\\"", "\\Z"};
  std::string out;
  for (char c : name) {
    if (!backslash_escapes) {
      if (c == '\'') out += '\'';
      out += c;
      continue;
    }
    const size_t special = kSpecial.find(c);
    if (special == std::string_view::npos) {
      out += c;
    } else {
      out += kEscaped[special];
    }
  }
  return out;
}

std::string_view UpToNul(std::string_view s) {
  return s.substr(0, s.find('\0'));
}

void CheckLookups(const Profile& profile, std::string_view section,
                  std::string_view key) {
  const std::string full = profile.Get(section, key, kWhole);
  Check(full.find('\0') == std::string::npos, "Get gave a NUL byte");
  for (size_t size : {0, 1, 2, 5, 100, 200}) {
    const std::string cut = profile.Get(section, key, size);
    Check(cut == full.substr(0, size == 0 ? 0 : size - 1),
          "Get with a small buffer is not the cut whole value");
  }
  // Names are matched without surrounding spaces and ignoring ASCII case.
  const std::string spaced_section = " " + std::string(section) + "  ";
  const std::string spaced_key = "  " + std::string(key) + " ";
  Check(profile.Get(spaced_section, spaced_key, kWhole) == full,
        "spaces around the requested names matter");
  Check(profile.Get(AsciiUpper(section), AsciiUpper(key), kWhole) == full,
        "letter case of the requested names matters");

  const bool has_section = profile.HasSection(section);
  const std::vector<Profile::KeyValue>& keys = profile.Keys(section);
  Check(has_section || keys.empty(), "keys of a section that does not exist");
  Check(has_section || full.empty(), "value in a section that does not exist");
  Check(profile.HasSection(AsciiUpper(section)) == has_section,
        "HasSection depends on letter case");

  // The first line of each key name is the one Get finds.
  std::unordered_set<std::string> seen;
  for (const Profile::KeyValue& kv : keys) {
    if (!seen.insert(AsciiLower(kv.first)).second) continue;
    Check(profile.Get(section, kv.first, kWhole) == UpToNul(kv.second),
          "Get does not give the first line of a listed key");
  }
}

// Runs GetIniValuesFromProfile with its trace going to `trace`.
int Load(const Profile& profile, std::string_view section,
         const TerminalName& terminal, bool debug,
         querydef::QueryDefinition& def, std::string& trace) {
  char* data = nullptr;
  size_t size = 0;
  std::FILE* out = ::open_memstream(&data, &size);
  Check(out != nullptr, "open_memstream failed");
  const int status = querydef::GetIniValuesFromProfile(
      profile, section, terminal, debug, out, def);
  std::fclose(out);
  trace.assign(data, size);
  std::free(data);
  return status;
}

void CheckQueryDefinition(const Profile& profile, std::string_view section,
                          const TerminalName& terminal, bool also_quiet) {
  querydef::QueryDefinition def;
  std::string trace;
  const int status = Load(profile, section, terminal, true, def, trace);

  Check(status == querydef::kOk || status == querydef::kNoStatement ||
            status == querydef::kTerminalRefused,
        "GetIniValuesFromProfile status");
  const std::string_view kStart = "Str GetIniValues\n";
  const std::string_view kEnd = "End GetIniValues\n";
  Check(trace.compare(0, kStart.size(), kStart) == 0, "trace start");
  const bool ends =
      trace.size() >= kEnd.size() &&
      trace.compare(trace.size() - kEnd.size(), kEnd.size(), kEnd) == 0;
  Check(ends == (status == querydef::kOk), "trace end");
  if (status == querydef::kTerminalRefused) {
    // A refused name leaves the statement as it was read.
    Check(trace == std::string(kStart) + "  >>>>> SQL-Statement <<<<<\n  '" +
                       def.statement + "'\n",
          "trace of a refused name");
  }

  if (also_quiet) {
    // Without the trace the same definition comes out and nothing is
    // printed.
    querydef::QueryDefinition quiet;
    std::string quiet_trace;
    const int quiet_status =
        Load(profile, section, terminal, false, quiet, quiet_trace);
    Check(quiet_status == status && quiet.statement == def.statement,
          "the trace changes the result");
    Check(quiet_trace.empty(), "output without the debug switch");
  }

  if (status == querydef::kNoStatement) {
    Check(trace == kStart, "trace of a missing statement");
    Check(def.statement == " ", "statement when there is none");
    return;
  }
  Check(def.statement.size() >= 2 && def.statement.front() == ' ' &&
            def.statement.back() == ' ',
        "statement not framed by spaces");
  for (const querydef::ColumnDefinition& column : def.columns) {
    Check(column.label.size() <= 99, "label longer than 99");
    Check(column.type.size() <= 4, "type word longer than 4");
    Check(column.width >= -99 && column.width <= 999, "width out of range");
  }
}

size_t CountPlaceholders(std::string_view s) {
  size_t n = 0;
  for (size_t pos = s.find(kPlaceholder); pos != std::string_view::npos;
       pos = s.find(kPlaceholder, pos + kPlaceholder.size())) {
    ++n;
  }
  return n;
}

void CheckSubstitution(std::string_view statement,
                       const TerminalName& terminal) {
  std::string s(statement);
  const int status = querydef::SubstituteTerminal(s, terminal);
  Check(status == querydef::kOk || status == querydef::kTerminalRefused,
        "SubstituteTerminal status");
  const size_t n = CountPlaceholders(statement);
  if (status != querydef::kOk) {
    Check(s == statement, "a refused substitution changed the statement");
    Check(n > 0, "refused a statement without placeholder");
    return;
  }
  if (n == 0) {
    Check(s == statement, "a statement without placeholder changed");
    return;
  }
  // Without backslash escapes a literal doubles its own quote, which may be
  // either; the length then says little.
  if (!terminal.session.backslash_escapes) return;
  // Each placeholder became either the plain or the escaped form.
  const size_t rest = statement.size() - n * kPlaceholder.size();
  bool length_fits = false;
  for (size_t plain = 0; plain <= n && !length_fits; ++plain) {
    length_fits = s.size() == rest + plain * terminal.plain.size() +
                                  (n - plain) * terminal.escaped.size();
  }
  Check(length_fits, "substituted statement has an impossible length");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  const std::string_view section = fuzz::TakeLine(rest);
  const std::string_view key = fuzz::TakeLine(rest);
  const std::string_view name = fuzz::TakeLine(rest);

  const Profile profile = Profile::Parse(rest);
  CheckLookups(profile, section, key);

  const std::string with_backslash = EscapeForLiteral(name, true);
  const std::string without_backslash = EscapeForLiteral(name, false);
  const querydef::SqlSession backslash =
      querydef::DescribeSession("latin1", "latin1", "", 0, false);
  const querydef::SqlSession no_backslash = querydef::DescribeSession(
      "latin1", "latin1", "NO_BACKSLASH_ESCAPES", 0, false);
  const querydef::SqlSession mssql = querydef::DescribeSession(
      "latin1", "latin1", "ANSI_QUOTES,MSSQL", 0, false);
  const TerminalName terminals[] = {
      {name, with_backslash, backslash},
      {name, without_backslash, no_backslash},
      // A caller that forgot to escape: the checks must still hold.
      {name, std::string(name), backslash},
      {name, with_backslash, mssql},
      // Unknown session: plain names only.
      {name, with_backslash, querydef::SqlSession()},
  };
  CheckQueryDefinition(profile, section, terminals[0], true);
  CheckQueryDefinition(profile, section, terminals[1], false);
  for (const TerminalName& terminal : terminals) {
    CheckSubstitution(rest, terminal);
  }
  return 0;
}
