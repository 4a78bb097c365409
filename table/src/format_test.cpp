#include "qovira/table/format.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace qovira {
namespace {

using namespace std::string_literals;

ByteView bytes_of(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Detection of a text file as the pipeline sees it: raw bytes and their decoded text alike.
TableFormat detect_text(std::string_view text) {
  return detect_format(bytes_of(text), text);
}

TEST(FormatTest, DisplayNames) {
  EXPECT_EQ(format_display_name(TableFormat::Rime), "Rime 词典（.dict.yaml）");
  EXPECT_EQ(format_display_name(TableFormat::Bingling), "冰凌文本码表");
  EXPECT_EQ(format_display_name(TableFormat::Mb), "极点 .mb 二进制");
  EXPECT_EQ(format_display_name(TableFormat::Unknown), "认不出来的格式");
}

TEST(FormatTest, MagicOnRawBytesComesFirst) {
  EXPECT_EQ(detect_format(bytes_of("Freeime Dictionary"), ""), TableFormat::Mb);
  EXPECT_EQ(detect_text("Freeime Dictionar"), TableFormat::Unknown);
  const std::string mb_with_marker = "Freeime Dictionary\0\0[CODETABLE]\n---\n"s;
  EXPECT_EQ(detect_format(bytes_of(mb_with_marker), ""), TableFormat::Mb);
  // A text file whose first line happens to be the magic.
  EXPECT_EQ(detect_text("Freeime Dictionary\n---\n...\n"), TableFormat::Mb);
  // The same words in UTF-16 never carry the magic bytes.
  const std::string utf16 =
      "\xFF\xFE"
      "F\0r\0e\0e\0i\0m\0e\0 \0D\0i\0c\0t\0i\0o\0n\0a\0r\0y\0"s;
  EXPECT_EQ(detect_format(bytes_of(utf16), "Freeime Dictionary"), TableFormat::Unknown);
}

TEST(FormatTest, BinglingMarkersAnywhereWinOverRime) {
  EXPECT_EQ(detect_text("[CODETABLEHEADER]\nName=x\n"), TableFormat::Bingling);
  EXPECT_EQ(detect_text("Name=x\n  [CODETABLE]\na\t啊\n"), TableFormat::Bingling);
  EXPECT_EQ(detect_text("---\n# see [CODETABLE] in the other format\n...\n"),
            TableFormat::Bingling);
  EXPECT_EQ(detect_text("---\n# [codetable] is not a marker\n...\n"), TableFormat::Rime);
}

TEST(FormatTest, RimeNeedsALineOfExactlyThreeDashes) {
  EXPECT_EQ(detect_text("# banner\n \t---\u3000\r\nname: x\n"), TableFormat::Rime);
  EXPECT_EQ(detect_text("----\nname: x\n...\n"), TableFormat::Unknown);
  EXPECT_EQ(detect_text("--- # header\nname: x\n...\n"), TableFormat::Unknown);
  EXPECT_EQ(detect_text("---"), TableFormat::Rime);
  EXPECT_EQ(detect_text(""), TableFormat::Unknown);
  EXPECT_EQ(detect_text("\n\n"), TableFormat::Unknown);
}

TEST(FormatTest, RimeHeaderEnd) {
  struct Case {
    std::string_view text;
    bool found;
    std::uint64_t line_count;
  };
  const Case cases[] = {
      {"---\nname: x\n...\n啊\ta\n", true, 3},
      // A "..." before the header started does not end it.
      {"...\n---\nname: x\n ... \r\n啊\ta\n", true, 4},
      // Several "---" lines keep the header open.
      {"---\n---\n...\n", true, 3},
      {"---\nname: x\n啊\ta\n", false, 3},
      {"---\nname: x\n啊\ta", false, 3},
      {"...\n", false, 1},
      {"", false, 0},
      {"\n", false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    RimeHeaderEnd from_text = find_rime_header_end(c.text);
    EXPECT_EQ(from_text.found, c.found);
    EXPECT_EQ(from_text.line_count, c.line_count);
    // The model finds the body exactly where the header ends.
    const TableText read = TableText::read(c.text, TableFormat::Rime);
    EXPECT_EQ(read.has_body(), c.found);
    EXPECT_EQ(read.header_lines(), c.line_count);
  }
}

}  // namespace
}  // namespace qovira
