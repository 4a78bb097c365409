#include "qovira/table/ascii.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string_view>

namespace qovira {
namespace {

TEST(ParseUnsigned, DigitsWithOptionalPlusAndNoOverflow) {
  EXPECT_EQ(parse_unsigned("+7"), 7u);
  EXPECT_EQ(parse_unsigned("18446744073709551615"), UINT64_MAX);
  EXPECT_EQ(parse_unsigned("18446744073709551616"), std::nullopt);
  for (std::string_view bad : {"", "+", "-", "-7", "5%", " 5", "1e3"}) {
    EXPECT_EQ(parse_unsigned(bad), std::nullopt) << bad;
  }
}

}  // namespace
}  // namespace qovira
