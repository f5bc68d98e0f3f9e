// Finding where $parm01 stands: querydef's lexer says what is code, literal,
// identifier or comment; this file only walks the tokens of the code around
// the placeholder (words, operators, punctuation) to see what it is part of.
#include "admin/placeholder_use.h"

#include <cstddef>
#include <initializer_list>

#include "admin/admin_text.h"
#include "common/ascii_case.h"
#include "querydef/definition_keys.h"
#include "querydef/sql_lexer.h"

namespace admin {
namespace {

using querydef::LexClass;
using querydef::LexKind;
using querydef::LexRole;

// No real statement needs more steps to reach the start of its IN list or
// LIKE operator; a longer walk gives up without a warning.
constexpr int kMaxSteps = 1000;

enum class TokenKind { kNone, kWord, kOperator, kPunct, kLiteral, kName };

struct Token {
  TokenKind kind = TokenKind::kNone;
  std::size_t begin = 0;
  std::size_t end = 0;
};

bool IsWordChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
         (c >= '0' && c <= '9') || c == '_' || c == '$' || c == '.' ||
         static_cast<unsigned char>(c) >= 0x80;
}

bool IsOperatorChar(char c) {
  return c == '=' || c == '<' || c == '>' || c == '!';
}

// Whether `c` continues a code token that begins with `first`: words and
// operators are runs, "||" is one token, anything else stands alone.
bool Continues(char first, char c) {
  if (IsWordChar(first)) return IsWordChar(c);
  if (IsOperatorChar(first)) return IsOperatorChar(c);
  return first == '|' && c == '|';
}

bool IsBlankChar(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' ||
         c == '\f';
}

class TokenWalk {
 public:
  explicit TokenWalk(std::string_view text)
      : text_(text),
        classes_(querydef::ClassifySql(text, querydef::LexMode{})) {}

  const LexClass& At(std::size_t i) const { return classes_[i]; }

  // The token that ends at or before `pos`, skipping blanks and comments.
  Token Before(std::size_t pos) const {
    std::size_t i = pos;
    while (i > 0 && Skipped(i - 1)) --i;
    if (i == 0) return Token{};
    const std::size_t last = i - 1;
    const LexClass& c = classes_[last];
    if (c.kind != LexKind::kCode) return Token{QuotedKind(c.kind), c.token, i};
    std::size_t begin = last;
    while (begin > 0 && classes_[begin - 1].kind == LexKind::kCode &&
           Continues(text_[last], text_[begin - 1])) {
      --begin;
    }
    return Token{CodeKind(text_[last]), begin, i};
  }

  // The token that begins at or after `pos`, skipping blanks and comments.
  Token After(std::size_t pos) const {
    std::size_t i = pos;
    while (i < text_.size() && Skipped(i)) ++i;
    if (i == text_.size()) return Token{};
    const LexClass& c = classes_[i];
    std::size_t end = i + 1;
    if (c.kind != LexKind::kCode) {
      while (end < text_.size() && classes_[end].kind == c.kind &&
             classes_[end].token == c.token) {
        ++end;
      }
      return Token{QuotedKind(c.kind), i, end};
    }
    while (end < text_.size() && classes_[end].kind == LexKind::kCode &&
           Continues(text_[i], text_[end])) {
      ++end;
    }
    return Token{CodeKind(text_[i]), i, end};
  }

  bool Is(const Token& t, std::string_view text) const {
    return t.kind != TokenKind::kNone &&
           text_.substr(t.begin, t.end - t.begin) == text;
  }

  bool IsWord(const Token& t,
              std::initializer_list<std::string_view> words) const {
    if (t.kind != TokenKind::kWord) return false;
    for (std::string_view w : words) {
      if (common::EqualsIgnoreAsciiCase(text_.substr(t.begin, t.end - t.begin),
                                        w)) {
        return true;
      }
    }
    return false;
  }

  // The "(" that encloses `pos`, found by walking back over balanced
  // parentheses.
  Token EnclosingOpen(std::size_t pos) const {
    int depth = 0;
    Token t = Before(pos);
    for (int steps = 0; steps < kMaxSteps && t.kind != TokenKind::kNone;
         ++steps) {
      if (Is(t, ")")) {
        ++depth;
      } else if (Is(t, "(")) {
        if (depth == 0) return t;
        --depth;
      }
      t = Before(t.begin);
    }
    return Token{};
  }

 private:
  bool Skipped(std::size_t i) const {
    switch (classes_[i].kind) {
      case LexKind::kLineComment:
      case LexKind::kBlockComment:
      case LexKind::kExecMarker:
        return true;
      case LexKind::kCode:
        return IsBlankChar(text_[i]);
      default:
        return false;
    }
  }

  static TokenKind QuotedKind(LexKind kind) {
    return kind == LexKind::kSingleQuoted || kind == LexKind::kDoubleQuoted
               ? TokenKind::kLiteral
               : TokenKind::kName;
  }

  static TokenKind CodeKind(char c) {
    if (IsWordChar(c)) return TokenKind::kWord;
    if (IsOperatorChar(c)) return TokenKind::kOperator;
    return TokenKind::kPunct;
  }

  std::string_view text_;
  std::vector<LexClass> classes_;
};

// Whether the literal `literal` is a LIKE pattern, or part of one built by a
// function (CONCAT('%', '$parm01')) or by "||".
bool InLikePattern(const TokenWalk& walk, const Token& literal,
                   std::size_t& start) {
  std::size_t at = literal.begin;
  for (int steps = 0; steps < kMaxSteps; ++steps) {
    const Token t = walk.Before(at);
    if (walk.IsWord(t, {"LIKE"})) {
      start = walk.Before(t.begin).kind == TokenKind::kNone
                  ? t.begin
                  : walk.Before(t.begin).begin;
      return true;
    }
    if (walk.IsWord(t, {"BINARY"})) {
      at = t.begin;
    } else if (walk.Is(t, "||")) {
      at = walk.Before(t.begin).begin;  // over the left operand
    } else if (walk.Is(t, "(") || walk.Is(t, ",")) {
      const Token open = walk.Is(t, "(") ? t : walk.EnclosingOpen(t.begin);
      const Token function = walk.Before(open.begin);
      if (open.kind == TokenKind::kNone || function.kind != TokenKind::kWord ||
          walk.IsWord(function, {"IN"})) {
        return false;
      }
      if (walk.IsWord(function, {"LIKE"})) {  // LIKE ('%' || '$parm01')
        start = function.begin;
        return true;
      }
      at = function.begin;
    } else {
      return false;
    }
  }
  return false;
}

// Whether the list item before `t` ("(" or ",") belongs to an IN list.
bool InInList(const TokenWalk& walk, Token t, std::size_t& start) {
  for (int steps = 0; steps < kMaxSteps && t.kind != TokenKind::kNone;
       ++steps) {
    if (walk.Is(t, "(")) {
      const Token in = walk.Before(t.begin);
      start = in.begin;
      return walk.IsWord(in, {"IN"});
    }
    if (!walk.Is(t, ",") && t.kind != TokenKind::kLiteral &&
        t.kind != TokenKind::kWord && t.kind != TokenKind::kName) {
      return false;
    }
    t = walk.Before(t.begin);
  }
  return false;
}

// Whether the unquoted placeholder at [pos, end) is a compared value; sets
// [start, stop) to the comparison to show.
bool ComparedValue(const TokenWalk& walk, std::size_t pos, std::size_t end,
                   std::size_t& start, std::size_t& stop) {
  const Token prev = walk.Before(pos);
  const Token next = walk.After(end);
  start = pos;
  stop = end;
  if (prev.kind == TokenKind::kOperator ||
      walk.IsWord(prev, {"LIKE", "REGEXP", "RLIKE", "BETWEEN"})) {
    start = walk.Before(prev.begin).kind == TokenKind::kNone
                ? prev.begin
                : walk.Before(prev.begin).begin;
    return true;
  }
  const Token after_not =
      walk.IsWord(next, {"NOT"}) ? walk.After(next.end) : next;
  if (next.kind == TokenKind::kOperator ||
      walk.IsWord(after_not, {"LIKE", "REGEXP", "RLIKE", "BETWEEN", "IN"})) {
    const Token operand = walk.After(after_not.end);
    stop = operand.kind == TokenKind::kNone ? after_not.end : operand.end;
    return true;
  }
  if (walk.IsWord(prev, {"AND"})) {
    const Token low = walk.Before(prev.begin);
    const Token between = walk.Before(low.begin);
    start = between.begin;
    return low.kind != TokenKind::kNone && walk.IsWord(between, {"BETWEEN"});
  }
  if (walk.Is(prev, "(") || walk.Is(prev, ",")) {
    return InInList(walk, prev, start);
  }
  return false;
}

// The whole name [pos, end) stands in: the quoted identifier with its
// quotes, or the word it is glued into.
std::string_view NameAround(const TokenWalk& walk, std::string_view statement,
                            std::size_t pos, std::size_t end) {
  const LexKind kind = walk.At(pos).kind;
  std::size_t begin = pos;
  std::size_t stop = end;
  if (kind == LexKind::kCode) {
    while (begin > 0 && walk.At(begin - 1).kind == LexKind::kCode &&
           IsWordChar(statement[begin - 1])) {
      --begin;
    }
    while (stop < statement.size() && walk.At(stop).kind == LexKind::kCode &&
           IsWordChar(statement[stop])) {
      ++stop;
    }
  } else {
    while (begin > 0 && walk.At(begin - 1).kind == kind &&
           walk.At(begin).role != LexRole::kOpen) {
      --begin;
    }
    while (stop < statement.size() && walk.At(stop).kind == kind &&
           walk.At(stop - 1).role != LexRole::kClose) {
      ++stop;
    }
  }
  return statement.substr(begin, stop - begin);
}

std::string Shown(std::string_view text) {
  return "\"" + DisplayText(text, false) + "\"";
}

}  // namespace

std::vector<std::string> PlaceholderWarnings(std::string_view statement) {
  std::vector<std::string> warnings;
  const TokenWalk walk(statement);
  const std::size_t length = querydef::kPlaceholder.size();
  for (std::size_t pos = statement.find(querydef::kPlaceholder);
       pos != std::string_view::npos;
       pos = statement.find(querydef::kPlaceholder, pos + length)) {
    const LexClass& at = walk.At(pos);
    if (at.kind == LexKind::kSingleQuoted ||
        at.kind == LexKind::kDoubleQuoted) {
      const Token literal = walk.After(at.token);
      std::size_t start = literal.begin;
      if (InLikePattern(walk, literal, start)) {
        warnings.push_back(
            "$parm01 stands in a LIKE pattern (" +
            Shown(statement.substr(start, literal.end - start)) +
            "): '%' and '_' in a terminal name match more than the name "
            "itself (KASSE_ also fetches the rows of KASSE2)");
      }
      continue;
    }
    const std::size_t end = pos + length;
    const bool quoted_name = at.kind == LexKind::kBacktick ||
                             at.kind == LexKind::kAnsiIdentifier ||
                             at.kind == LexKind::kBracket;
    // Part of a longer word ("T_$parm01"): a name built from the terminal
    // name.
    const bool glued =
        at.kind == LexKind::kCode &&
        ((pos > 0 && walk.At(pos - 1).kind == LexKind::kCode &&
          IsWordChar(statement[pos - 1])) ||
         (end < statement.size() && walk.At(end).kind == LexKind::kCode &&
          IsWordChar(statement[end])));
    if (quoted_name || glued) {
      warnings.push_back(
          "$parm01 stands inside a name (" + Shown(NameAround(walk, statement, pos, end)) +
          "): the terminal name picks the table, column or function the "
          "statement uses (with seq_1_to_$parm01 a large number as terminal "
          "name makes an unbounded result)");
      continue;
    }
    if (at.kind != LexKind::kCode) continue;  // comment
    std::size_t start = pos;
    std::size_t stop = end;
    if (!glued && ComparedValue(walk, pos, end, start, stop)) {
      warnings.push_back(
          "$parm01 stands outside quotes where a value is compared (" +
          Shown(statement.substr(start, stop - start)) +
          "): a terminal name that is a column name compares that column "
          "with itself (the name MENGE in WHERE MENGE = $parm01 fetches every "
          "row); write '$parm01'");
    }
  }
  return warnings;
}

}  // namespace admin
