// Loading a query definition and putting the terminal name into its
// statement.
#include "querydef/query_definition.h"

#include <vector>

#include "common/int_parse.h"
#include "common/path_resolve.h"
#include "querydef/definition_keys.h"
#include "querydef/sql_lexer.h"

namespace querydef {
namespace {

// Value sizes of the legacy buffers: the characters that count and a NUL.
constexpr size_t kSqlLineSize = kStatementLineChars + 1;
constexpr size_t kLabelSize = kLabelChars + 1;
constexpr size_t kTypeSize = kTypeChars + 1;
constexpr size_t kWidthTextSize = kWidthChars + 1;

bool IsPlainName(std::string_view name) {
  for (char c : name) {
    bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
              (c >= '0' && c <= '9') || c == '_';
    if (!ok) return false;
  }
  return true;
}

bool IsStringLiteral(LexKind kind) {
  return kind == LexKind::kSingleQuoted || kind == LexKind::kDoubleQuoted;
}

// Without a known server version, a statement must read the same for every
// version its versioned comments mention; more distinct versions than this
// are refused rather than tried one by one (no real statement has them).
constexpr size_t kMaxUnknownVersions = 16;

// The ways the server may read the statement: with and without ANSI_QUOTES,
// and, when its version is unknown, every server version (and kind) that
// matters for the versioned comments. Empty when there are too many.
std::vector<LexMode> ReadingsOf(const std::vector<std::string_view>& texts,
                                const TerminalName& terminal) {
  std::vector<LexMode> modes;
  auto add = [&](uint32_t version, bool mysql) {
    for (bool ansi : {false, true}) {
      modes.push_back(
          LexMode{terminal.backslash_escapes, ansi, version, mysql});
    }
  };
  if (terminal.server_version != 0) {
    add(terminal.server_version, terminal.mysql_server);
    return modes;
  }
  const std::vector<uint32_t> versions = CandidateServerVersions(texts);
  if (versions.size() > kMaxUnknownVersions) return modes;
  for (uint32_t version : versions) {
    add(version, false);
    add(version, true);
  }
  return modes;
}

struct Insertion {
  size_t original_pos;  // of the placeholder in the original statement
  size_t result_pos;    // of the inserted text in the result
  size_t length;        // of the inserted text
};

// Where each byte of the original statement went in the result; kNoToken
// for the bytes of a placeholder.
std::vector<size_t> ResultPositions(size_t original_size,
                                    const std::vector<Insertion>& insertions) {
  std::vector<size_t> where(original_size, kNoToken);
  size_t from = 0;  // next original byte to place
  size_t to = 0;    // its position in the result
  for (const Insertion& ins : insertions) {
    for (; from < ins.original_pos; ++from) where[from] = to++;
    from += kPlaceholder.size();
    to += ins.length;
  }
  for (; from < original_size; ++from) where[from] = to++;
  return where;
}

// Whether `result` reads as `original` did under `mode`.
bool KeepsItsReading(std::string_view original, std::string_view result,
                     const std::vector<Insertion>& insertions,
                     const std::vector<size_t>& where, const LexMode& mode) {
  const std::vector<LexClass> before = ClassifySql(original, mode);
  const std::vector<LexClass> after = ClassifySql(result, mode);

  auto same_token = [&](size_t before_token, size_t after_token) {
    if (before_token == kNoToken) return after_token == kNoToken;
    return where[before_token] != kNoToken &&
           where[before_token] == after_token;
  };

  size_t next = 0;  // next insertion
  for (size_t i = 0; i < original.size();) {
    if (next < insertions.size() && i == insertions[next].original_pos) {
      const Insertion& ins = insertions[next];
      const LexClass& at = before[i];
      for (size_t k = ins.result_pos; k < ins.result_pos + ins.length; ++k) {
        if (after[k].kind != at.kind || after[k].role != LexRole::kBody ||
            !same_token(at.token, after[k].token)) {
          return false;
        }
      }
      i += kPlaceholder.size();
      ++next;
      continue;
    }
    const LexClass& was = before[i];
    const LexClass& is = after[where[i]];
    if (was.kind != is.kind || was.role != is.role ||
        was.escaped != is.escaped || !same_token(was.token, is.token)) {
      return false;
    }
    ++i;
  }
  return true;
}

}  // namespace

std::string QueryDefinitionFileName(std::string_view db_system) {
  std::string name = "TABFETCH.";
  name += db_system;
  name += ".INI";
  return common::ResolvePath(name);
}

int SubstituteTerminal(std::string& statement, const TerminalName& terminal,
                       size_t* placeholder_count) {
  const std::string_view original = statement;
  std::vector<size_t> found;
  for (size_t pos = original.find(kPlaceholder); pos != std::string::npos;
       pos = original.find(kPlaceholder, pos + kPlaceholder.size())) {
    found.push_back(pos);
  }
  if (placeholder_count != nullptr) *placeholder_count = found.size();
  if (found.empty()) return kOk;

  const std::vector<LexMode> readings = ReadingsOf({original}, terminal);
  if (readings.empty()) return kTerminalRefused;
  // A literal position only when every reading agrees on it; a byte behind
  // an escaping backslash would swallow the first inserted one. One reading
  // at a time, so memory stays proportional to the statement.
  std::vector<char> in_literal(found.size(), 1);
  std::vector<char> double_quoted(found.size(), 0);
  for (const LexMode& mode : readings) {
    const std::vector<LexClass> classes = ClassifySql(original, mode);
    for (size_t k = 0; k < found.size(); ++k) {
      const LexClass& at = classes[found[k]];
      const bool literal_here =
          !at.escaped && (IsStringLiteral(at.kind) ||
                          at.kind == LexKind::kAnsiIdentifier);
      if (!literal_here) in_literal[k] = 0;
      if (at.kind == LexKind::kDoubleQuoted ||
          at.kind == LexKind::kAnsiIdentifier) {
        double_quoted[k] = 1;
      }
    }
  }

  const bool plain_ok = IsPlainName(terminal.plain);
  const bool has_double_quote =
      terminal.plain.find('"') != std::string_view::npos;
  std::string result;
  std::vector<Insertion> insertions;
  size_t copied = 0;
  for (size_t k = 0; k < found.size(); ++k) {
    const size_t pos = found[k];
    // The server may also read a double-quoted literal as an identifier
    // (ANSI_QUOTES), in which backslashes do not escape: a '"' would end it.
    std::string_view text;
    if (in_literal[k] && !(double_quoted[k] && has_double_quote)) {
      text = terminal.escaped;
    } else if (!in_literal[k] && plain_ok) {
      text = terminal.plain;
    } else {
      return kTerminalRefused;
    }
    result.append(original, copied, pos - copied);
    insertions.push_back(Insertion{pos, result.size(), text.size()});
    result.append(text);
    copied = pos + kPlaceholder.size();
  }
  result.append(original, copied, std::string_view::npos);

  const std::vector<size_t> where =
      ResultPositions(original.size(), insertions);
  const std::vector<LexMode> final_readings =
      ReadingsOf({original, result}, terminal);
  if (final_readings.empty()) return kTerminalRefused;
  for (const LexMode& mode : final_readings) {
    if (!KeepsItsReading(original, result, insertions, where, mode)) {
      return kTerminalRefused;
    }
  }
  statement = std::move(result);
  return kOk;
}

std::string ReadStatement(const Profile& profile, std::string_view section) {
  // Each line is preceded by one space, and the read that ends the
  // statement (missing or empty key) has appended its space too, so the
  // statement always ends with a space.
  std::string statement;
  for (size_t line = 1;; ++line) {
    std::string value = profile.Get(section, StatementKey(line), kSqlLineSize);
    statement += ' ';
    if (value.empty()) break;
    statement += value;
  }
  return statement;
}

int GetIniValuesFromProfile(const Profile& profile, std::string_view section,
                            const TerminalName& terminal, bool debug,
                            std::FILE* out, QueryDefinition& def) {
  // The statement is built from scratch; nothing of an earlier one remains.
  def.statement.clear();
  def.placeholder_count = 0;
  if (debug) std::fputs("Str GetIniValues\n", out);

  def.statement = ReadStatement(profile, section);
  if (def.statement == " ") return kNoStatement;

  if (debug) {
    std::fputs("  >>>>> SQL-Statement <<<<<\n", out);
    std::fprintf(out, "  '%s'\n", def.statement.c_str());
  }

  for (int column = 1; column <= kColumnCount; ++column) {
    def.columns[column - 1].label =
        profile.Get(section, ColumnKey(kLabelKey, column), kLabelSize);
  }
  for (int column = 1; column <= kColumnCount; ++column) {
    def.columns[column - 1].type =
        profile.Get(section, ColumnKey(kTypeKey, column), kTypeSize);
  }
  for (int column = 1; column <= kColumnCount; ++column) {
    // Only the first three characters of FLENnn count: "1000" gives 100.
    def.columns[column - 1].width = common::AtoiWrap(
        profile.Get(section, ColumnKey(kWidthKey, column), kWidthTextSize));
  }

  int status =
      SubstituteTerminal(def.statement, terminal, &def.placeholder_count);
  if (status != kOk) return status;

  if (debug) std::fputs("End GetIniValues\n", out);
  return kOk;
}

int GetIniValues(std::string_view section, std::string_view db_system,
                 const TerminalName& terminal, bool debug, std::FILE* out,
                 QueryDefinition& def) {
  // The file is parsed once; every key is then looked up in memory.
  const Profile profile = Profile::Load(QueryDefinitionFileName(db_system));
  return GetIniValuesFromProfile(profile, section, terminal, debug, out, def);
}

}  // namespace querydef
