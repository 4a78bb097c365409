#include "qovira/table/white_space.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "qovira/table/utf8.h"

namespace qovira {
namespace {

TEST(Trim, RemovesUnicodeWhiteSpaceButNotTheByteOrderMark) {
  EXPECT_EQ(trim("\t \u3000a b\u00A0\u2028\r"), "a b");
  EXPECT_EQ(trim("\uFEFF---"), "\uFEFF---");
  EXPECT_EQ(trim("\u200B"), "\u200B");  // zero width space is not white space
  EXPECT_EQ(trim(" \u3000 "), "");
  EXPECT_EQ(trim_start("  a  "), "a  ");
  EXPECT_EQ(trim_end("  a  "), "  a");
}

TEST(Trim, TakesEveryCharacterOffBothEndsExactlyWhenItIsWhiteSpace) {
  for (char32_t c = 1; c <= 0x10FFFF; c = c == 0xD7FF ? 0xE000 : c + 1) {
    std::string character;
    append_utf8(character, c);
    const std::string text = character + "x" + character;
    const std::string_view expected = is_white_space(c) ? std::string_view("x") : text;
    ASSERT_EQ(trim(text), expected) << static_cast<std::uint32_t>(c);
  }
}

}  // namespace
}  // namespace qovira
