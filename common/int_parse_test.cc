#include "common/int_parse.h"

#include <gtest/gtest.h>

#include <string_view>

namespace common {
namespace {

struct AtoiCase {
  std::string_view text;
  int32_t want;
};

const AtoiCase kAtoiCases[] = {
    {"  12", 12},
    {"\t-7x", -7},
    {"1a", 1},
    {"0x1F", 0},
    {"- 5", 0},
    {"+-3", 0},
    {"", 0},
    {"\xA0" "7", 0},
    {"+42", 42},
    {"\v\f\r 9", 9},
    {"007", 7},
    {"2147483647", 2147483647},
    {"2147483648", INT32_MIN},
    {"4294967296", 0},
    {"-2147483649", 2147483647},
    {"99999999999", 1215752191},
    {"-0", 0},
    {std::string_view("12345", 3), 123},  // stops at the view's end
};

TEST(AtoiWrapTest, ConvertsLikeTheLegacyRuntime) {
  for (const auto& c : kAtoiCases) {
    EXPECT_EQ(AtoiWrap(c.text), c.want) << "text '" << c.text << "'";
  }
}

}  // namespace
}  // namespace common
