#include "qovira/table/lines.h"

#include <gtest/gtest.h>

#include <string_view>
#include <vector>

namespace qovira {
namespace {

TEST(SplitLines, CutsAtLineFeedsAndDropsOneCarriageReturn) {
  using Lines = std::vector<std::string_view>;
  EXPECT_EQ(split_lines(""), Lines{});
  EXPECT_EQ(split_lines("a\nb"), (Lines{"a", "b"}));
  EXPECT_EQ(split_lines("a\r\nb\n"), (Lines{"a", "b"}));
  EXPECT_EQ(split_lines("a\r\r\n\n"), (Lines{"a\r", ""}));
  EXPECT_EQ(split_lines("a\rb"), (Lines{"a\rb"}));
  EXPECT_EQ(split_lines("\n"), (Lines{""}));
}

}  // namespace
}  // namespace qovira
