#include "qovira/table/utf8.h"

#include <gtest/gtest.h>

#include <string>

#include "qovira/table/utf16.h"
#include "qovira/table/white_space.h"

namespace qovira {
namespace {

TEST(Utf8Helpers, CountAndConvert) {
  EXPECT_EQ(count_chars("a工😀"), 3u);
  EXPECT_EQ(utf16_length("a工😀"), 4u);
  EXPECT_EQ(first_chars("工作ab", 3), "工作a");
  EXPECT_EQ(to_utf16("a😀"), (std::u16string{u'a', 0xD83D, 0xDE00}));
  EXPECT_EQ(from_utf16_lenient(std::u16string{u'a', 0xD83D}), "a\uFFFD");
  EXPECT_EQ(from_utf16_lenient(std::u16string{0xDE00, u'b'}),
            "\uFFFD"
            "b");
  // Malformed bytes never crash the helpers.
  EXPECT_EQ(count_chars("\xE5\xB7"), 2u);
  EXPECT_EQ(trim("\xE5 "), "\xE5");
}

}  // namespace
}  // namespace qovira
