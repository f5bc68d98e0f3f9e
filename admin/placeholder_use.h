// Where $parm01 stands in a statement, as querydef's lexer reads it, and what
// a terminal name that tabfetch accepts can do there beyond naming the
// terminal.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace admin {

// One warning for each $parm01 in `statement` (the statement before the
// substitution, as querydef::ReadStatement gives it) that stands
// - inside the string literal of a LIKE pattern (directly, or as an argument
//   of a function such as CONCAT): a name with '%' or '_' matches more than
//   itself, "KASSE_" also matches KASSE2;
// - outside quotes, as a whole token, where a value is compared (next to a
//   comparison operator, after LIKE, REGEXP or BETWEEN ... AND, or in an IN
//   list): a name that is a column name, such as MENGE in
//   "WHERE MENGE = $parm01", compares that column with itself.
// The statement is read with the server's default modes.
std::vector<std::string> PlaceholderWarnings(std::string_view statement);

}  // namespace admin
