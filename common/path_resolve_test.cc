#include "common/path_resolve.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "testsupport/temp_dir.h"

namespace common {
namespace {

TEST(ResolvePathTest, MapsBackslashesAndResolvesCaseInsensitively) {
  testsupport::TempDir dir;
  dir.Write("Files/Palventra.Ini", "x");
  dir.Write("TABFETCH.MYSQL.INI", "x");
  dir.Write("sub/tabfetch.mysql.ini", "x");
  dir.Write("sub/Tabfetch.MySQL.ini", "x");
  dir.Write("sub/TABFETCH.MYSQL.INI", "x");
  dir.Write("two/b.INI", "x");
  dir.Write("two/B.ini", "x");
  const std::string root = dir.path();

  struct Case {
    std::string in, want;
  };
  const Case kCases[] = {
      {root + "\\files\\PALVENTRA.INI", root + "/Files/Palventra.Ini"},
      {root + "/Files/Palventra.Ini", root + "/Files/Palventra.Ini"},
      {root + "/tabfetch.MySql.ini", root + "/TABFETCH.MYSQL.INI"},
      // The exact name wins over other matches.
      {root + "/sub/Tabfetch.MySQL.ini", root + "/sub/Tabfetch.MySQL.ini"},
      // Otherwise the first match in byte order.
      {root + "/sub/TabFetch.MySql.Ini", root + "/sub/TABFETCH.MYSQL.INI"},
      {root + "/two/b.ini", root + "/two/B.ini"},
      // Nothing matches: kept as written from there on.
      {root + "/Missing\\files\\x.ini", root + "/Missing/files/x.ini"},
      {root + "/FILES/./../files/palventra.ini",
       root + "/Files/./../Files/Palventra.Ini"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(ResolvePath(c.in), c.want) << c.in;
  }
}

TEST(ResolvePathTest, ResolvesRelativeToTheWorkingDirectory) {
  testsupport::TempDir dir;
  dir.Write("a/Work/Here/keep", "");
  dir.Write("a/FILES/PALVENTRA.INI", "x");
  auto old = std::filesystem::current_path();
  std::filesystem::current_path(dir.path() + "/a/Work/Here");
  EXPECT_EQ(ResolvePath("..\\..\\Files\\Palventra.Ini"),
            "../../FILES/PALVENTRA.INI");
  EXPECT_EQ(ResolvePath(".\\keep"), "./keep");
  EXPECT_EQ(ResolvePath("KEEP"), "keep");
  std::filesystem::current_path(old);
}

}  // namespace
}  // namespace common
