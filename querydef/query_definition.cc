// Loading a query definition and putting the terminal name into its
// statement.
#include "querydef/query_definition.h"

#include <cstring>
#include <utility>
#include <vector>

#include "common/ascii_case.h"
#include "common/diagnostics.h"
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

// The strict form, for a session whose reading the lexer cannot vouch
// for: a name without any character that could quote, escape or comment,
// and not empty, which could join the text around it into one (in sjis a
// lead byte before the placeholder would swallow a backslash behind it).
bool IsStrictPlainName(std::string_view name) {
  return !name.empty() && IsPlainName(name);
}

bool IsStringLiteral(LexKind kind) {
  return kind == LexKind::kSingleQuoted || kind == LexKind::kDoubleQuoted;
}

// Without a known server version, a statement must read the same for every
// version its versioned comments mention; more distinct versions than this
// are refused rather than tried one by one (no real statement has them).
constexpr size_t kMaxUnknownVersions = 16;

// Why every placeholder of a session may take only a strict plain name, or
// kNone when the lexer models the session.
// The ways the server may read the statement: the session's sql_mode flags
// (every combination of them when the session is unknown) and, when its
// version is unknown, every server version (and kind) that matters for the
// versioned comments. Empty when there are too many versions.
std::vector<LexMode> ReadingsOf(const std::vector<std::string_view>& texts,
                                const SqlSession& session) {
  std::vector<LexMode> flags;
  if (session.known) {
    LexMode m;
    m.backslash_escapes = session.backslash_escapes;
    m.ansi_quotes = session.ansi_quotes;
    m.mssql_brackets = session.mssql_brackets;
    flags.push_back(m);
  } else {
    for (bool backslash : {true, false}) {
      for (bool ansi : {false, true}) {
        for (bool brackets : {false, true}) {
          LexMode m;
          m.backslash_escapes = backslash;
          m.ansi_quotes = ansi;
          m.mssql_brackets = brackets;
          flags.push_back(m);
        }
      }
    }
  }
  std::vector<std::pair<uint32_t, bool>> servers;
  if (session.server_version != 0) {
    servers.emplace_back(session.server_version, session.mysql_server);
  } else {
    const std::vector<uint32_t> versions = CandidateServerVersions(texts);
    if (versions.size() > kMaxUnknownVersions) return {};
    for (uint32_t version : versions) {
      servers.emplace_back(version, false);
      servers.emplace_back(version, true);
    }
  }
  std::vector<LexMode> modes;
  for (const auto& server : servers) {
    for (LexMode m : flags) {
      m.server_version = server.first;
      m.mysql = server.second;
      modes.push_back(m);
    }
  }
  return modes;
}

// `text` for a literal under NO_BACKSLASH_ESCAPES: its quote doubled, every
// other byte as it is.
std::string DoubledQuotes(std::string_view text, char quote) {
  std::string out;
  out.reserve(text.size() + 4);
  for (char c : text) {
    out += c;
    if (c == quote) out += c;
  }
  return out;
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

// The insertion nearest to the original byte `i`: the one that changed how
// it reads.
size_t NearestInsertion(const std::vector<Insertion>& insertions, size_t i) {
  size_t best = 0;
  size_t best_distance = static_cast<size_t>(-1);
  for (size_t k = 0; k < insertions.size(); ++k) {
    const size_t from = insertions[k].original_pos;
    const size_t to = from + kPlaceholder.size();
    const size_t distance = i < from ? from - i : (i >= to ? i - to + 1 : 0);
    if (distance < best_distance) {
      best = k;
      best_distance = distance;
    }
  }
  return best;
}

// Whether `result` reads as `original` did under `mode`: kNoToken, or the
// index of the insertion that changed it.
size_t ChangedReading(std::string_view original, std::string_view result,
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
          return next;
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
      return NearestInsertion(insertions, i);
    }
    ++i;
  }
  return kNoToken;
}

// Why ReadStatement found nothing in `section`.
NoStatementReason WhyNoStatement(const Profile& profile,
                                 std::string_view section) {
  if (profile.load_error() != 0) return NoStatementReason::kFileUnreadable;
  if (!profile.HasSection(section)) return NoStatementReason::kNoSection;
  for (const auto& entry : profile.Keys(section)) {
    if (common::EqualsIgnoreAsciiCase(entry.first, StatementKey(1))) {
      return NoStatementReason::kEmptyFirstLine;
    }
  }
  return NoStatementReason::kNoFirstLine;
}

int Refuse(Refusal* why, RefusalReason reason, size_t index, size_t offset) {
  if (why != nullptr) *why = Refusal{reason, index + 1, offset};
  return kTerminalRefused;
}

}  // namespace

std::string LegacyQueryDefinitionName(std::string_view db_system) {
  std::string name = "TABFETCH.";
  name += db_system;
  name += ".INI";
  return name;
}

std::string QueryDefinitionFileName(std::string_view db_system) {
  return common::ResolvePath(LegacyQueryDefinitionName(db_system));
}

std::string NoStatementText(const QueryDefinition& def,
                            std::string_view section) {
  const std::string file = common::Printable(common::AbsolutePath(def.file));
  const std::string shown_section = common::Printable(section);
  const std::string where =
      "section [" + shown_section + "] of query definition file " + file;
  switch (def.no_statement) {
    case NoStatementReason::kFileUnreadable:
      return "cannot read query definition file " + file + ": " +
             std::strerror(def.file_error) +
             " (TABFETCH.<DB_SYSTEM>.INI in the working directory; where no "
             "file has exactly that name, one whose name differs only in "
             "letter case is taken)";
    case NoStatementReason::kNoSection:
      return "query definition file " + file + " has no section [" +
             shown_section +
             "] (section names are compared ignoring letter case and "
             "surrounding spaces)";
    case NoStatementReason::kNoFirstLine:
      return where + " has no " + StatementKey(1) + ": no statement to run";
    case NoStatementReason::kEmptyFirstLine:
      return where + " has an empty " + StatementKey(1) +
             ": no statement to run";
    case NoStatementReason::kNone:
      break;
  }
  return where + " has no statement";
}

RefusalReason StrictReason(const SqlSession& session) {
  if (!session.known) return RefusalReason::kSessionUnknown;
  if (!session.latin1) return RefusalReason::kSessionNotLatin1;
  if (!session.unmodelled_flag.empty()) return RefusalReason::kUnmodelledMode;
  return RefusalReason::kNone;
}

std::string ReasonText(RefusalReason reason, const SqlSession& session) {
  switch (reason) {
    case RefusalReason::kNotPlain:
      return "not a plain name (ASCII letters, digits, _) where it would be "
             "code, an identifier or a comment";
    case RefusalReason::kSessionUnknown:
      return "the session's character set and sql_mode are unknown, so only "
             "plain names (ASCII letters, digits, _) are accepted";
    case RefusalReason::kSessionNotLatin1:
      return "the session is not latin1 (character_set_client " +
             session.character_set_client + ", character_set_connection " +
             session.character_set_connection +
             "), so only plain names (ASCII letters, digits, _) are accepted";
    case RefusalReason::kUnmodelledMode:
      return "sql_mode flag " + session.unmodelled_flag +
             " changes how the server reads a statement in ways not checked "
             "here, so only plain names (ASCII letters, digits, _) are "
             "accepted";
    case RefusalReason::kChangesReading:
      return "the name would change how the server reads the statement";
    case RefusalReason::kTooManyVersions:
      return "too many versioned comments (/*!NNNNN) to check every way the "
             "statement can read";
    case RefusalReason::kNone:
      break;
  }
  return "no reason";
}

std::string RefusalText(const Refusal& refusal, const SqlSession& session) {
  return "terminal name refused at $parm01 no. " +
         std::to_string(refusal.occurrence) + " (byte " +
         std::to_string(refusal.offset) + " of the statement): " +
         ReasonText(refusal.reason, session);
}

int SubstituteTerminal(std::string& statement, const TerminalName& terminal,
                       Refusal* why, size_t* placeholder_count) {
  const std::string_view original = statement;
  std::vector<size_t> found;
  for (size_t pos = original.find(kPlaceholder); pos != std::string::npos;
       pos = original.find(kPlaceholder, pos + kPlaceholder.size())) {
    found.push_back(pos);
  }
  if (placeholder_count != nullptr) *placeholder_count = found.size();
  if (found.empty()) return kOk;

  const SqlSession& session = terminal.session;
  const RefusalReason strict = StrictReason(session);
  if (strict != RefusalReason::kNone && !IsStrictPlainName(terminal.plain)) {
    return Refuse(why, strict, 0, found[0]);
  }

  const std::vector<LexMode> readings = ReadingsOf({original}, session);
  if (readings.empty()) {
    return Refuse(why, RefusalReason::kTooManyVersions, 0, found[0]);
  }
  // A literal position only when every reading agrees on it and on its
  // quote; a byte behind an escaping backslash would swallow the first
  // inserted one. One reading at a time, so memory stays proportional to
  // the statement.
  std::vector<char> in_literal(found.size(), 1);
  std::vector<LexKind> literal_kind(found.size(), LexKind::kCode);
  for (size_t r = 0; r < readings.size(); ++r) {
    const std::vector<LexClass> classes = ClassifySql(original, readings[r]);
    for (size_t k = 0; k < found.size(); ++k) {
      const LexClass& at = classes[found[k]];
      if (r == 0) literal_kind[k] = at.kind;
      if (at.escaped || !IsStringLiteral(at.kind) ||
          at.kind != literal_kind[k]) {
        in_literal[k] = 0;
      }
    }
  }

  std::string result;
  std::vector<Insertion> insertions;
  size_t copied = 0;
  for (size_t k = 0; k < found.size(); ++k) {
    const size_t pos = found[k];
    std::string doubled;
    std::string_view text;
    if (strict != RefusalReason::kNone) {
      text = terminal.plain;  // checked above
    } else if (in_literal[k] && session.backslash_escapes) {
      text = terminal.escaped;
    } else if (in_literal[k]) {
      // Without backslash escapes the literal's own quote is doubled: a '
      // inside "..." is an ordinary character there.
      doubled =
          DoubledQuotes(terminal.plain,
                        literal_kind[k] == LexKind::kDoubleQuoted ? '"' : '\'');
      text = doubled;
    } else if (IsPlainName(terminal.plain)) {
      text = terminal.plain;
    } else {
      return Refuse(why, RefusalReason::kNotPlain, k, pos);
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
      ReadingsOf({original, result}, session);
  if (final_readings.empty()) {
    return Refuse(why, RefusalReason::kTooManyVersions, 0, found[0]);
  }
  for (const LexMode& mode : final_readings) {
    const size_t changed =
        ChangedReading(original, result, insertions, where, mode);
    if (changed != kNoToken) {
      return Refuse(why, RefusalReason::kChangesReading, changed,
                    found[changed]);
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

  def.no_statement = NoStatementReason::kNone;
  def.statement = ReadStatement(profile, section);
  if (def.statement == " ") {
    def.no_statement = WhyNoStatement(profile, section);
    return kNoStatement;
  }

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

  def.refusal = Refusal();
  int status = SubstituteTerminal(def.statement, terminal, &def.refusal,
                                  &def.placeholder_count);
  if (status != kOk) return status;

  if (debug) std::fputs("End GetIniValues\n", out);
  return kOk;
}

int GetIniValues(std::string_view section, std::string_view db_system,
                 const TerminalName& terminal, bool debug, std::FILE* out,
                 QueryDefinition& def) {
  // The file is parsed once; every key is then looked up in memory.
  def.file = QueryDefinitionFileName(db_system);
  const Profile profile = Profile::Load(def.file);
  def.file_error = profile.load_error();
  return GetIniValuesFromProfile(profile, section, terminal, debug, out, def);
}

}  // namespace querydef
