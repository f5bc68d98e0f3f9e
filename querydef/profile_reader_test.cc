// Tests of the profile reader against the legacy reader's behaviour.
#include "querydef/profile_reader.h"

#include <gtest/gtest.h>

#include <string>

#include "testsupport/temp_dir.h"

namespace querydef {
namespace {

struct LookupCase {
  const char* what;
  std::string content;
  const char* section;
  const char* key;
  size_t size;
  const char* want;
};

TEST(ProfileTest, Lookups) {
  const LookupCase kCases[] = {
      {"plain", "[S]\nK=v\n", "S", "K", 200, "v"},
      {"section case", "[Sect]\nK=v\n", "sECT", "K", 200, "v"},
      {"key case", "[S]\nsql001=v\n", "S", "SQL001", 200, "v"},
      {"value case kept", "[S]\nK=MiXeD\n", "S", "K", 200, "MiXeD"},
      {"blanks around key and value", "[S]\n \t\vK \t= \v a b \t\n", "S", "K",
       200, "a b"},
      {"blanks inside header", "[ \tS \v]\nK=v\n", "S", "K", 200, "v"},
      {"blanks before header", " \t[S]\nK=v\n", "S", "K", 200, "v"},
      {"request trimmed of spaces", "[S]\nK=v\n", "  S ", " K  ", 200, "v"},
      {"TAB in request fails", "[S]\nK=v\n", "S\t", "K", 200, ""},
      {"double quotes removed", "[S]\nK=\"a b\"\n", "S", "K", 200, "a b"},
      {"single quotes removed", "[S]\nK='A','B'\n", "S", "K", 200, "A','B"},
      {"only one pair", "[S]\nK=\"a\"b\"c\"\"\n", "S", "K", 200, "a\"b\"c\""},
      {"mismatched quotes kept", "[S]\nK='a\"\n", "S", "K", 200, "'a\""},
      {"lone quote kept", "[S]\nK=\"\n", "S", "K", 200, "\""},
      {"quotes after trimming", "[S]\nK= 'x' \n", "S", "K", 200, "x"},
      {"blanks inside quotes kept", "[S]\nK=' x '\n", "S", "K", 200, " x "},
      {"empty quotes", "[S]\nK=''\n", "S", "K", 200, ""},
      {"comment line", "[S]\n;K=v\n", "S", ";K", 200, ""},
      {"indented comment", "[S]\n  ;K=v\n", "S", ";K", 200, ""},
      {"semicolon later is data", "[S]\nK=a ;b\n", "S", "K", 200, "a ;b"},
      {"hash is no comment", "[S]\n#K=v\n", "S", "#K", 200, "v"},
      {"line without =", "[S]\nK\nK=v\n", "S", "K", 200, "v"},
      {"split at first =", "[S]\nK=a=b\n", "S", "K", 200, "a=b"},
      {"first key wins", "[S]\nK=1\nk=2\n", "S", "K", 200, "1"},
      {"first section wins", "[S]\nA=1\n[s]\nA=2\nB=3\n", "S", "B", 200, ""},
      {"first section value", "[S]\nA=1\n[s]\nA=2\n", "S", "A", 200, "1"},
      {"other sections still read", "[S]\n[T]\nA=1\n[S]\n[U]\nA=2\n", "U", "A",
       200, "2"},
      {"CR LF", "[S]\r\nA=1\r\nB=2\r\n", "S", "B", 200, "2"},
      {"CR alone", "[S]\rA=1\rB=2\r", "S", "B", 200, "2"},
      {"LF CR is two ends", "[S]\n\rA=1\n\rB=2", "S", "B", 200, "2"},
      {"no final line end", "[S]\nA=1", "S", "A", 200, "1"},
      {"text after ]", "[S] A=1\nB=2\n", "S", "A", 200, ""},
      {"first ] ends name", "[S]x]\nA=1\n", "S", "A", 200, "1"},
      {"header without ]", "[S  \nA=1\n", "S", "A", 200, "1"},
      {"name with ] unreachable", "[S]x]\nA=1\n", "S]x", "A", 200, ""},
      {"before first header", "A=1\n[S]\n", "", "A", 200, ""},
      {"empty section name", "A=1\n[]\nA=2\n", "", "A", 200, "2"},
      {"BOM skipped", "\xEF\xBB\xBF[S]\nA=1\n", "S", "A", 200, "1"},
      {"BOM only at start",
       "[S]\n\xEF\xBB\xBF"
       "A=1\n",
       "S", "A", 200, ""},
      {"high bytes unchanged", "[S]\nA=Gr\xFCn\x80\n", "S", "A", 200,
       "Gr\xFCn\x80"},
      {"high bytes not folded", "[\xC4]\nA=1\n", "\xE4", "A", 200, ""},
      {"cut to size-1", "[S]\nA=abcdef\n", "S", "A", 4, "abc"},
      {"cut after trim and unquote", "[S]\nA= \"abcdef\" \n", "S", "A", 4,
       "abc"},
      {"size 1", "[S]\nA=abc\n", "S", "A", 1, ""},
      {"size 0", "[S]\nA=abc\n", "S", "A", 0, ""},
      {"exact fit", "[S]\nA=abc\n", "S", "A", 4, "abc"},
      {"NUL ends the value", std::string("[S]\nA=ab\0cd\n", 12), "S", "A", 200,
       "ab"},
      {"missing section", "[S]\nA=1\n", "T", "A", 200, ""},
      {"missing key", "[S]\nA=1\n", "S", "B", 200, ""},
      {"empty value", "[S]\nA=\n", "S", "A", 200, ""},
  };
  for (const LookupCase& c : kCases) {
    Profile profile = Profile::Parse(c.content);
    EXPECT_EQ(profile.Get(c.section, c.key, c.size), c.want) << c.what;
  }
}

TEST(ProfileTest, HasSection) {
  Profile profile = Profile::Parse("A=1\n[One]\n[ two ]\n");
  EXPECT_TRUE(profile.HasSection("ONE"));
  EXPECT_TRUE(profile.HasSection(" Two "));
  EXPECT_FALSE(profile.HasSection("three"));
  EXPECT_FALSE(profile.HasSection(""));
}

TEST(ProfileTest, KeysInFileOrderOfFirstBlock) {
  Profile profile = Profile::Parse(
      "[S]\nB=2\n;C=x\nA='1'\nnoequals\nb=3\n[T]\nX=1\n[s]\nD=4\n");
  const std::vector<Profile::KeyValue> want = {
      {"B", "2"}, {"A", "1"}, {"b", "3"}};
  EXPECT_EQ(profile.Keys("s"), want);
  EXPECT_TRUE(profile.Keys("missing").empty());
}

TEST(ProfileTest, LoadReadsFileAndMissingFileIsEmpty) {
  testsupport::TempDir dir;
  std::string path = dir.Write("a.ini", "[S]\r\nK = v \r\n");
  EXPECT_EQ(Profile::Load(path).Get("S", "K", 200), "v");
  Profile missing = Profile::Load(dir / "missing.ini");
  EXPECT_EQ(missing.Get("S", "K", 200), "");
  EXPECT_FALSE(missing.HasSection("S"));
  // A directory cannot be read as a profile either.
  EXPECT_EQ(Profile::Load(dir.path()).Get("S", "K", 200), "");
}

}  // namespace
}  // namespace querydef
