#include "run/command_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "testsupport/legacy_texts.h"

namespace run {
namespace {

using testsupport::kBanner;
using testsupport::kUsage;

std::string Rejected(const std::string& error_line) {
  return std::string(kBanner) + error_line + "\n" + kUsage;
}

// Console output of one GetParameters call.
struct Outcome {
  int status;
  std::string output;
  RunState run;
};

Outcome Parse(std::vector<std::string> args) {
  args.insert(args.begin(), "tabfetch");
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);

  char* buf = nullptr;
  size_t len = 0;
  Outcome o{};
  o.run.out = open_memstream(&buf, &len);
  o.status = GetParameters(static_cast<int>(args.size()), argv.data(), o.run);
  std::fclose(o.run.out);
  o.run.out = nullptr;
  o.output.assign(buf, len);
  std::free(buf);
  return o;
}

const std::string k31(31, 'S');
const std::string k32(32, 'S');

struct RejectCase {
  std::vector<std::string> args;
  int status;
  const char* error_line;
};

constexpr char kCount[] = "Falsche Anzahl Parameter\n";
constexpr char kFlag[] = "Falsches ReplaceFlag, erlaubt: '0' oder '1'\n";
constexpr char kSection[] = "Sektionsname zu lang, erlaubt: max. 31 Zeichen\n";
constexpr char kTerminal[] = "Terminalname zu lang, erlaubt: max. 31 Zeichen\n";

TEST(GetParametersTest, RejectsUnusableCommandLines) {
  const RejectCase kCases[] = {
      {{}, kTooFewArguments, kCount},
      {{"SEC", "T1", "1"}, kTooFewArguments, kCount},
      {{"SEC", "T1", "out.txt", "2"}, kBadReplaceFlag, kFlag},
      {{"SEC", "T1", "out.txt", "01"}, kBadReplaceFlag, kFlag},
      {{"SEC", "T1", "out.txt", "+1"}, kBadReplaceFlag, kFlag},
      {{"SEC", "T1", "out.txt", "1 "}, kBadReplaceFlag, kFlag},
      {{"SEC", "T1", "out.txt", ""}, kBadReplaceFlag, kFlag},
      // The flag is checked before the name lengths.
      {{k32, k32, "out.txt", "x"}, kBadReplaceFlag, kFlag},
      {{k32, "T1", "out.txt", "1"}, kNameTooLong, kSection},
      {{"SEC", k32, "out.txt", "0"}, kNameTooLong, kTerminal},
      // Section name first; nothing traced before the rejection.
      {{k32, k32, "out.txt", "1", "/D"}, kNameTooLong, kSection},
      // Lengths count bytes: 16 two-byte characters are 32 bytes.
      {{"SEC", std::string(16, '\xC3') + std::string(16, '\xBC'), "out.txt",
        "1"},
       kNameTooLong, kTerminal},
  };
  for (const auto& c : kCases) {
    Outcome o = Parse(c.args);
    SCOPED_TRACE(c.error_line);
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(o.output, Rejected(c.error_line));
    EXPECT_TRUE(o.run.extract_path.empty());
    EXPECT_TRUE(o.run.section.empty());
    EXPECT_FALSE(o.run.debug);
  }
}

struct AcceptCase {
  std::vector<std::string> args;
  int16_t replace_flag;
  bool debug;
};

TEST(GetParametersTest, StoresUsableCommandLines) {
  const AcceptCase kCases[] = {
      {{"EXTRCT08", "ZutCtrl", "extrct08.txt", "1"}, 1, false},
      {{"EXTRCT08", "ZutCtrl", "extrct08.txt", "0"}, 0, false},
      {{"EXTRCT08", "ZutCtrl", "extrct08.txt", "1", "/D"}, 1, true},
      {{"EXTRCT08", "ZutCtrl", "extrct08.txt", "0", "/d"}, 0, true},
      {{"EXTRCT08", "ZutCtrl", "extrct08.txt", "1", "/X"}, 1, false},
      {{"EXTRCT08", "ZutCtrl", "extrct08.txt", "1", "D"}, 1, false},
      {{"EXTRCT08", "ZutCtrl", "extrct08.txt", "1", "-D"}, 1, false},
      {{"EXTRCT08", "ZutCtrl", "extrct08.txt", "1", "/DEBUG"}, 1, false},
      {{"EXTRCT08", "ZutCtrl", "extrct08.txt", "1", "/D "}, 1, false},
      {{"EXTRCT08", "ZutCtrl", "extrct08.txt", "1", "/D", "x", "y"}, 1, true},
      {{"EXTRCT08", "ZutCtrl", "extrct08.txt", "1", "x", "/D"}, 1, false},
  };
  for (const auto& c : kCases) {
    Outcome o = Parse(c.args);
    SCOPED_TRACE(c.args.size() > 4 ? c.args[4] : c.args[3]);
    EXPECT_EQ(o.status, kUsable);
    EXPECT_EQ(o.output, c.debug ? " Aktiviert Debugger\n" : "");
    EXPECT_EQ(o.run.section, "EXTRCT08");
    EXPECT_EQ(o.run.terminal, "ZutCtrl");
    EXPECT_EQ(o.run.extract_path, "extrct08.txt");
    EXPECT_EQ(o.run.replace_flag, c.replace_flag);
    EXPECT_EQ(o.run.debug, c.debug);
  }
}

TEST(GetParametersTest, AcceptsEmptyAndMaximalNamesAndLongPaths) {
  const std::string long_path(4000, 'p');
  Outcome o = Parse({"", k31, long_path, "1"});
  EXPECT_EQ(o.status, kUsable);
  EXPECT_EQ(o.output, "");
  EXPECT_EQ(o.run.section, "");
  EXPECT_EQ(o.run.terminal, k31);
  EXPECT_EQ(o.run.extract_path, long_path);
}

TEST(StrToUpperTest, ChangesOnlyAsciiLetters) {
  std::string text = "/d a-z\xE4\xFC\xDF{}`";
  EXPECT_EQ(StrToUpper(text), "/D A-Z\xE4\xFC\xDF{}`");
  EXPECT_EQ(&StrToUpper(text), &text);
}

}  // namespace
}  // namespace run
