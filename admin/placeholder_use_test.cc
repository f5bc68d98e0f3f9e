// Tests of the warnings about where $parm01 stands in a statement.
#include "admin/placeholder_use.h"

#include <gtest/gtest.h>

namespace admin {
namespace {

TEST(PlaceholderWarningsTest, LikePatternsAndComparedValues) {
  constexpr char kLike[] = "$parm01 stands in a LIKE pattern (";
  constexpr char kCompared[] = "$parm01 stands outside quotes where a value";
  constexpr char kName[] = "$parm01 stands inside a name (";
  struct Case {
    const char* statement;
    const char* warning;  // beginning of the one expected warning, or ""
    const char* shown;    // the part of the statement it quotes
  };
  const Case kCases[] = {
      {" select a from t where name like '$parm01%' ", kLike,
       "\"name like '$parm01%'\""},
      {" where name NOT LIKE \"%$parm01\" ", kLike,
       "\"NOT LIKE \"%$parm01\"\""},
      {" where n like concat('%', '$parm01', '%') ", kLike,
       "\"n like concat('%', '$parm01'\""},
      {" where n like binary '$parm01' ", kLike, "\"n like binary '$parm01'\""},
      {" where n like '%' || '$parm01' ", kLike, "\"n like '%' || '$parm01'\""},
      {" where n like /* c */ '$parm01' ", kLike,
       "\"n like /* c */ '$parm01'\""},
      {" where MENGE = $parm01 ", kCompared, "\"MENGE = $parm01\""},
      {" where MENGE>$parm01 ", kCompared, "\"MENGE>$parm01\""},
      {" where $parm01 <> MENGE ", kCompared, "\"$parm01 <> MENGE\""},
      {" where $parm01 not in (a, b) ", kCompared, "\"$parm01 not in (\""},
      {" where n in ('x', $parm01) ", kCompared, "\"in ('x', $parm01\""},
      {" where n between 1 and $parm01 ", kCompared,
       "\"between 1 and $parm01\""},
      {" where n like $parm01 ", kCompared, "\"n like $parm01\""},
      // The terminal name picks the table, column or function.
      {" select a from T_$parm01 where x = 1 ", kName, "\"T_$parm01\""},
      {" select seq from seq_1_to_$parm01 ", kName, "\"seq_1_to_$parm01\""},
      {" where `T_$parm01` = 1 ", kName, "\"`T_$parm01`\""},
      {" where `$parm01`.a = 1 ", kName, "\"`$parm01`\""},
      // Quoted, or not compared: no warning.
      {" where name = '$parm01' ", "", ""},
      {" where name like 'x%' and term = '$parm01' ", "", ""},
      {" where n in ('$parm01') ", "", ""},
      {" where (a like 'x') or ('$parm01' = t) ", "", ""},
      {" select $parm01 as term from t ", "", ""},
      {" where n = 1 -- and m = $parm01\n ", "", ""},
      {" where n in (select $parm01) ", "", ""},
  };
  for (const Case& c : kCases) {
    const std::vector<std::string> w = PlaceholderWarnings(c.statement);
    if (*c.warning == '\0') {
      EXPECT_TRUE(w.empty()) << c.statement << ": " << w.front();
      continue;
    }
    ASSERT_EQ(w.size(), 1u) << c.statement;
    EXPECT_EQ(w[0].rfind(c.warning, 0), 0u) << c.statement << ": " << w[0];
    EXPECT_NE(w[0].find(c.shown), std::string::npos) << w[0];
  }
}

TEST(PlaceholderWarningsTest, OneWarningPerPlaceholder) {
  const std::vector<std::string> w = PlaceholderWarnings(
      " where a = $parm01 or b like '$parm01' or c = '$parm01' ");
  ASSERT_EQ(w.size(), 2u);
  EXPECT_NE(w[0].find("outside quotes"), std::string::npos);
  EXPECT_NE(w[1].find("LIKE pattern"), std::string::npos);
}

}  // namespace
}  // namespace admin
