// Tests of the query definition check: the layout it reports and one
// warning per silent pitfall.
#include "admin/definition_check.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace admin {
namespace {

bool HasWarning(const DefinitionCheck& check, std::string_view part) {
  return std::any_of(
      check.warnings.begin(), check.warnings.end(),
      [&](const std::string& w) { return w.find(part) != std::string::npos; });
}

std::string AllWarnings(const DefinitionCheck& check) {
  std::string all;
  for (const std::string& w : check.warnings) all += w + "\n";
  return all;
}

TEST(CheckDefinitionTest, CleanDefinitionHasLayoutAndNoWarnings) {
  const auto profile = querydef::Profile::Parse(
      "[X]\n"
      "SQL001=select a, b\n"
      "SQL002=from t where k = '$parm01' or j = '$parm01'\n"
      "FELD01=A\nFTYP01=CHAR\nFLEN01=6\n"
      "FELD02=B\nFTYP02=DEC\nFLEN02=4\n"
      "FELD04=D\nFTYP04=TXT\nFLEN04=5\n");
  const DefinitionCheck check = CheckDefinition(profile, "x");
  ASSERT_EQ(check.status, querydef::kOk);
  EXPECT_EQ(check.statement,
            " select a, b from t where k = 'TERM01' or j = 'TERM01' ");
  EXPECT_EQ(check.placeholder_count, 2);
  EXPECT_EQ(check.record_length, 15u);
  EXPECT_TRUE(check.columns[0].contributes);
  EXPECT_EQ(check.columns[1].offset, 6u);
  EXPECT_FALSE(check.columns[2].contributes);
  EXPECT_EQ(check.columns[2].reason, "no label");
  EXPECT_EQ(check.columns[3].offset, 10u);
  EXPECT_TRUE(check.warnings.empty()) << AllWarnings(check);
}

TEST(CheckDefinitionTest, SectionWithoutStatement) {
  const auto profile =
      querydef::Profile::Parse("[X]\nSQL001=\nSQL002=select 1\n");
  EXPECT_EQ(CheckDefinition(profile, "X").status, querydef::kNoStatement);
}

struct PitfallCase {
  const char* name;
  const char* section_body;  // after "[S]\nSQL001=select 1 where '$parm01'\n"
  const char* warning;       // part of the expected warning
  int column;                // 1-based column that must not contribute, or 0
  const char* reason;
};

TEST(CheckDefinitionTest, WarnsAboutEachPitfall) {
  const PitfallCase kCases[] = {
      {"lower-case type", "FELD01=A\nFTYP01=char\nFLEN01=5\n",
       "type word \"char\" is not upper case", 1, "type word not recognised"},
      {"unknown type", "FELD02=B\nFTYP02=NUM\nFLEN02=5\n",
       "type word \"NUM\" is not one of CHAR, DEC, TXT", 2,
       "type word not recognised"},
      {"type cut unrecognised", "FELD01=A\nFTYP01=DECIMAL\nFLEN01=5\n",
       "\"DECIMAL\" is read as its first four characters \"DECI\", which is "
       "not recognised",
       1, "type word not recognised"},
      {"type cut recognised", "FELD01=A\nFTYP01=CHARACTER\nFLEN01=5\n",
       "\"CHARACTER\" is read as its first four characters \"CHAR\"", 0, ""},
      {"label without type", "FELD03=C\nFLEN03=5\n",
       "but no type word (FTYP03)", 3, "no type word"},
      {"type without label", "FTYP04=CHAR\nFLEN04=5\n",
       "FTYP04/FLEN04 are set, but FELD04 is missing or empty", 4, "no label"},
      {"width cut", "FELD01=A\nFTYP01=CHAR\nFLEN01=1000\n",
       "width \"1000\" is read as its first three characters \"100\": width "
       "100",
       0, ""},
      {"negative width", "FELD01=A\nFTYP01=CHAR\nFLEN01=-4\n",
       "negative width -4", 1, "negative width"},
      {"missing width", "FELD01=A\nFTYP01=TXT\n", "width 0 (FLEN01 missing)", 1,
       "width 0"},
      {"key after gap", "SQL002=\nSQL003=from t\n",
       "\"SQL003\" is never read: the statement ends at SQL002, which is empty",
       0, ""},
      {"key after missing line", "SQL003=from t\n",
       "\"SQL003\" is never read: the statement ends at SQL002, which is "
       "missing",
       0, ""},
      {"misnumbered key", "SQL02=from t\n",
       "\"SQL02\" is never read: line 2 of the statement is SQL002", 0, ""},
      {"column key out of range", "FELD31=x\n",
       "\"FELD31\" is never read: column keys are FELD01 to FELD30", 0, ""},
      {"line 0", "SQL000=x\n",
       "\"SQL000\" is never read: statement lines begin at SQL001", 0, ""},
      {"no line number", "SQL1X=x\n",
       "\"SQL1X\" is never read: statement lines are SQL001, SQL002, ...", 0,
       ""},
      {"column number in one digit", "ftyp5=CHAR\n",
       "\"ftyp5\" is never read: column keys are FTYP01 to FTYP30", 0, ""},
      {"column 00", "FLEN00=3\n",
       "\"FLEN00\" is never read: column keys are FLEN01 to FLEN30", 0, ""},
      {"unknown key", "FIELD01=x\n", "\"FIELD01\" is not used by tabfetch", 0,
       ""},
      {"repeated key", "FELD01=A\nFTYP01=CHAR\nFLEN01=2\nfeld01=B\n",
       "\"feld01\" appears more than once: only its first value \"A\" counts",
       0, ""},
      {"placeholder in other case", "SQL002=and x = '$PARM01'\n",
       "placeholder \"$PARM01\" is not replaced", 0, ""},
  };
  for (const PitfallCase& c : kCases) {
    const auto profile = querydef::Profile::Parse(
        std::string("[S]\nSQL001=select 1 where '$parm01'\n") + c.section_body);
    const DefinitionCheck check = CheckDefinition(profile, "S");
    ASSERT_EQ(check.status, querydef::kOk) << c.name;
    EXPECT_TRUE(HasWarning(check, c.warning)) << c.name << ", got:\n"
                                              << AllWarnings(check);
    if (c.column > 0) {
      const ColumnReport& col = check.columns[c.column - 1];
      EXPECT_FALSE(col.contributes) << c.name;
      EXPECT_EQ(col.reason, c.reason) << c.name;
    }
  }
}

TEST(CheckDefinitionTest, StatementWithoutPlaceholderAndCutLine) {
  const std::string long_line(205, 'x');
  const auto profile =
      querydef::Profile::Parse("[S]\nSQL001=select " + long_line + "\n");
  const DefinitionCheck check = CheckDefinition(profile, "S");
  ASSERT_EQ(check.status, querydef::kOk);
  EXPECT_EQ(check.placeholder_count, 0);
  EXPECT_TRUE(HasWarning(check, "the statement holds no $parm01"));
  EXPECT_TRUE(HasWarning(check,
                         "SQL001 has 212 characters: only the first "
                         "199 are used, \"" +
                             std::string(13, 'x') + "\" is dropped"));
}

TEST(CheckDefinitionTest, OverlongSectionName) {
  const std::string name(32, 'S');
  const auto profile =
      querydef::Profile::Parse("[" + name + "]\nSQL001=select '$parm01'\n");
  const DefinitionCheck check = CheckDefinition(profile, name);
  EXPECT_TRUE(HasWarning(check, "tabfetch refuses names over 31 characters"));
}

}  // namespace
}  // namespace admin
