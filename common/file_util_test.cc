#include "common/file_util.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "testsupport/temp_dir.h"

namespace common {
namespace {

TEST(ReadWholeFileTest, ReadsEveryByteOrFails) {
  testsupport::TempDir dir;
  const std::string big(100000, '\x1A');
  struct Case {
    std::string path;
    bool ok;
    std::string want;
    int error;
  };
  const Case kCases[] = {
      {dir.Write("small", std::string("a\0b\r\n", 5)), true,
       std::string("a\0b\r\n", 5), 0},
      {dir.Write("empty", ""), true, "", 0},
      {dir.Write("big", big), true, big, 0},
      {dir.path(), false, "", EISDIR},
      {dir / "missing", false, "", ENOENT},
  };
  for (const Case& c : kCases) {
    std::string bytes = "left over";
    errno = 0;
    const bool ok = ReadWholeFile(c.path, bytes);
    const int error = errno;
    EXPECT_EQ(ok, c.ok) << c.path;
    EXPECT_EQ(bytes, c.want) << c.path;
    if (!c.ok) {
      EXPECT_EQ(error, c.error) << c.path;
    }
  }
}

}  // namespace
}  // namespace common
