#include "qovira/table/safe_text.h"

#include <gtest/gtest.h>

#include <string>

namespace qovira {
namespace {

TEST(DisplayTest, OrdinaryTextIsKeptByteForByte) {
  const std::string texts[] = {
      "",
      "wubi86.dict.yaml",
      "工\taaaa\t100",                         // tabs stay: rebuilt lines show one
      "全角\u3000空格",                        // U+3000
      "👨\u200d👩\u200d👧 e\u0301 \u200b\ufeff",  // joiners, combining mark, zero width, BOM
      "\u00a0\u2027\u202f\u2065\u206a",        // next to the escaped ranges
      "C:\\表\\码表.txt \"quoted\" \\u{1b}",   // backslashes and quotes are not escaped
      "\xef\xbf\xbd",                          // a real U+FFFD
  };
  for (const std::string& text : texts) {
    EXPECT_FALSE(needs_display_escape(text)) << text;
    EXPECT_EQ(displayable(text), text);
  }
}

TEST(DisplayTest, ControlsAreEscapedAsCodesAreQuoted) {
  EXPECT_EQ(displayable("a\nb\rc"), "a\\nb\\rc");
  EXPECT_EQ(displayable(std::string("x\0y", 3)), "x\\0y");
  EXPECT_EQ(displayable("\x01\x08\x0b\x0c\x1f\x7f"), "\\u{1}\\u{8}\\u{b}\\u{c}\\u{1f}\\u{7f}");
  // A terminal title sequence and a screen clear from a table line.
  EXPECT_EQ(displayable("x\x1b]0;pwned\x07 no tab\x1b[2J"),
            "x\\u{1b}]0;pwned\\u{7} no tab\\u{1b}[2J");
  // C1 controls: U+0080, NEL U+0085, CSI U+009B, U+009F.
  EXPECT_EQ(displayable("\u0080\u0085\u009b\u009f"), "\\u{80}\\u{85}\\u{9b}\\u{9f}");
  // Bidirectional embeddings, overrides and isolates, amid Chinese text.
  EXPECT_EQ(displayable("码\u202a\u202b\u202c\u202d\u202e表"),
            "码\\u{202a}\\u{202b}\\u{202c}\\u{202d}\\u{202e}表");
  EXPECT_EQ(displayable("\u2066\u2067\u2068\u2069"), "\\u{2066}\\u{2067}\\u{2068}\\u{2069}");
  // Line and paragraph separators (a viewer breaks lines there) and the direction marks.
  EXPECT_EQ(displayable("a\u2028b\u2029c\u200e\u200f\u061c"),
            "a\\u{2028}b\\u{2029}c\\u{200e}\\u{200f}\\u{61c}");
  // A forged output line from a file name.
  EXPECT_EQ(displayable("a.txt\nFAKE 可导入"), "a.txt\\nFAKE 可导入");
  EXPECT_TRUE(needs_display_escape("ok\x1b"));
  EXPECT_TRUE(needs_display_escape("\u202e"));
}

TEST(DisplayTest, BytesThatAreNotUtf8AreEscapedOneByOne) {
  EXPECT_EQ(displayable("bad\xff.dict.yaml"), "bad\\x{ff}.dict.yaml");
  // A C1 control in Latin-1 (a lone 0x9B) and a cut-off sequence at the end.
  EXPECT_EQ(displayable("\x9b[2J\xe5\xb7"), "\\x{9b}[2J\\x{e5}\\x{b7}");
  // Overlong and surrogate forms are not UTF-8 either.
  EXPECT_EQ(displayable("\xc0\x8a\xed\xa0\x80"), "\\x{c0}\\x{8a}\\x{ed}\\x{a0}\\x{80}");
  EXPECT_TRUE(needs_display_escape("\x80"));
}

TEST(DisplayTest, NothingEscapedReachesTheResult) {
  // Every escaped output is printable ASCII plus the untouched characters around it.
  std::string all;
  for (int byte = 0; byte < 256; ++byte) {
    all.push_back(static_cast<char>(byte));
  }
  const std::string shown = displayable(all);
  EXPECT_FALSE(needs_display_escape(shown));
  for (const char c : shown) {
    const auto byte = static_cast<unsigned char>(c);
    EXPECT_TRUE(byte == '\t' || (byte >= 0x20 && byte < 0x7F)) << int{byte};
  }
}

}  // namespace
}  // namespace qovira
