// Byte classification of SQL text after the MariaDB server's lexer, for the
// latin1 session this tool sets up.
#include "querydef/sql_lexer.h"

#include <algorithm>

namespace querydef {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "--" starts a comment only when a white-space or control character (in
// latin1: 0x00-0x20, 0x7F and the no-break space 0xA0) or the end of the
// text follows; "--x" is two minus signs.
bool StartsDashComment(std::string_view text, size_t i) {
  if (i + 1 >= text.size() || text[i] != '-' || text[i + 1] != '-') {
    return false;
  }
  if (i + 2 >= text.size()) return true;
  unsigned char c = static_cast<unsigned char>(text[i + 2]);
  return c <= 0x20 || c == 0x7F || c == 0xA0;
}

// The length of the marker "/*!" or "/*M!" at `i`, or 0.
size_t ExecMarkerLength(std::string_view text, size_t i) {
  if (text.substr(i, 3) == "/*!") return 3;
  if (text.substr(i, 4) == "/*M!") return 4;
  return 0;
}

// The number of version digits behind a marker: exactly 5 or 6, else 0 (the
// server reads a shorter digit run as code).
size_t VersionDigits(std::string_view text, size_t i) {
  size_t n = 0;
  while (n < 6 && i + n < text.size() && IsDigit(text[i + n])) ++n;
  return n >= 5 ? n : 0;
}

uint32_t ParseVersion(std::string_view digits) {
  uint32_t v = 0;
  for (char c : digits) v = v * 10 + static_cast<uint32_t>(c - '0');
  return v;
}

class Classifier {
 public:
  Classifier(std::string_view text, const LexMode& mode)
      : text_(text), mode_(mode), out_(text.size()) {}

  std::vector<LexClass> Run() {
    size_t i = 0;
    while (i < text_.size()) {
      char c = text_[i];
      if (c == '\'') {
        i = Quoted(i, LexKind::kSingleQuoted, mode_.backslash_escapes);
      } else if (c == '"') {
        i = mode_.ansi_quotes
                ? Quoted(i, LexKind::kAnsiIdentifier, false)
                : Quoted(i, LexKind::kDoubleQuoted, mode_.backslash_escapes);
      } else if (c == '`') {
        i = Quoted(i, LexKind::kBacktick, false);
      } else if (c == '[' && mode_.mssql_brackets) {
        i = Quoted(i, LexKind::kBracket, false, ']');
      } else if (c == '#' || StartsDashComment(text_, i)) {
        i = LineComment(i);
      } else if (c == '/' && i + 1 < text_.size() && text_[i + 1] == '*') {
        i = SlashStar(i);
      } else if (c == '*' && in_exec_ && i + 1 < text_.size() &&
                 text_[i + 1] == '/') {
        Mark(i, i + 2, LexKind::kExecMarker, kNoToken);
        in_exec_ = false;
        i += 2;
      } else {
        ++i;  // code, already marked so
      }
    }
    return std::move(out_);
  }

 private:
  void Mark(size_t from, size_t to, LexKind kind, size_t token) {
    for (size_t k = from; k < to; ++k) {
      out_[k] = LexClass{kind, LexRole::kBody, false, token};
    }
  }

  // A quoted literal or identifier from its opening quote at `start` up to
  // `close` (by default the opening quote itself); a doubled closing quote
  // stands for one. Returns the index behind it.
  size_t Quoted(size_t start, LexKind kind, bool backslash, char close = 0) {
    const char quote = close != 0 ? close : text_[start];
    out_[start] = LexClass{kind, LexRole::kOpen, false, start};
    size_t i = start + 1;
    while (i < text_.size()) {
      char c = text_[i];
      if (backslash && c == '\\') {
        out_[i] = LexClass{kind, LexRole::kBody, false, start};
        if (i + 1 < text_.size()) {
          out_[i + 1] = LexClass{kind, LexRole::kBody, true, start};
        }
        i += 2;
      } else if (c == quote && i + 1 < text_.size() && text_[i + 1] == quote) {
        Mark(i, i + 2, kind, start);
        i += 2;
      } else if (c == quote) {
        out_[i] = LexClass{kind, LexRole::kClose, false, start};
        return i + 1;
      } else {
        out_[i] = LexClass{kind, LexRole::kBody, false, start};
        ++i;
      }
    }
    return text_.size();
  }

  // Up to (not including) the next line feed.
  size_t LineComment(size_t start) {
    size_t end = text_.find('\n', start);
    if (end == std::string_view::npos) end = text_.size();
    Mark(start, end, LexKind::kLineComment, start);
    out_[start].role = LexRole::kOpen;
    return end;
  }

  // "/*" at `start`: an executable comment's marker or a comment.
  size_t SlashStar(size_t start) {
    size_t marker = ExecMarkerLength(text_, start);
    bool maria = marker == 4;
    if (marker == 0 || (maria && mode_.mysql)) {
      return BlockComment(start, start + 2, 0);
    }
    size_t digits = VersionDigits(text_, start + marker);
    if (digits != 0) {
      uint32_t version = ParseVersion(text_.substr(start + marker, digits));
      // The server skips versioned comments for newer servers, and those
      // with MySQL 5.7+ numbers unless they are marked as its own ("M!").
      bool runs = version <= mode_.server_version &&
                  (mode_.mysql || version < 50700 || version > 99999 || maria);
      if (!runs) {
        return BlockComment(start, start + marker + digits, mode_.mysql ? 0 : 1);
      }
    }
    Mark(start, start + marker + digits, LexKind::kExecMarker, kNoToken);
    in_exec_ = true;
    return start + marker + digits;
  }

  // A comment from `start` whose text begins at `body`; it ends at the first
  // "*/" that is not the end of one of the `nesting` levels of inner
  // comments the server allows (one inside a skipped versioned comment).
  size_t BlockComment(size_t start, size_t body, int nesting) {
    size_t i = body;
    int depth = 0;
    bool closed = false;
    while (i < text_.size()) {
      if (depth < nesting && text_.substr(i, 2) == "/*") {
        ++depth;
        i += 2;
      } else if (text_.substr(i, 2) == "*/") {
        i += 2;
        if (depth == 0) {
          closed = true;
          break;
        }
        --depth;
      } else {
        ++i;
      }
    }
    Mark(start, i, LexKind::kBlockComment, start);
    out_[start].role = LexRole::kOpen;
    if (closed) out_[i - 1].role = LexRole::kClose;
    return i;
  }

  std::string_view text_;
  LexMode mode_;
  std::vector<LexClass> out_;
  bool in_exec_ = false;  // inside "/*!...": its "*/" is a marker
};

}  // namespace

std::vector<LexClass> ClassifySql(std::string_view text, const LexMode& mode) {
  return Classifier(text, mode).Run();
}

std::vector<uint32_t> CandidateServerVersions(
    const std::vector<std::string_view>& texts) {
  std::vector<uint32_t> versions{0};
  for (std::string_view text : texts) {
    for (size_t i = text.find("/*"); i != std::string_view::npos;
         i = text.find("/*", i + 1)) {
      size_t marker = ExecMarkerLength(text, i);
      if (marker == 0) continue;
      size_t digits = VersionDigits(text, i + marker);
      if (digits != 0) {
        versions.push_back(ParseVersion(text.substr(i + marker, digits)));
      }
    }
  }
  std::sort(versions.begin(), versions.end());
  versions.erase(std::unique(versions.begin(), versions.end()), versions.end());
  return versions;
}

}  // namespace querydef
