#include "qovira/table/encoding.h"

#include <gtest/gtest.h>

#include <string_view>

namespace qovira {
namespace {

ByteView bytes_of(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

TEST(JudgeEncoding, DecidesOnTheWholeFile) {
  const struct {
    std::string_view bytes;
    TextEncoding encoding;
  } cases[] = {
      {"", TextEncoding::Utf8},
      {"\xEF\xBB\xBF---\n中国\tkhlg\n", TextEncoding::Utf8},
      {"\xFF\xFE\xE5\x5D", TextEncoding::Utf16},
      {"\xFF\xFE\xE5", TextEncoding::Undecodable},  // a mark, then an odd byte count
      // UTF-8 cut inside its last character: every other character is whole.
      {"中国\tkhlg\n工作\taawt\n我\xE4", TextEncoding::DamagedUtf8},
      // GBK, though some of its characters form valid UTF-8 sequences ("\xBB\xAA", "\xC8\xCB"…).
      {"\xD6\xD0\xBB\xAA\xC8\xCB\xC3\xF1\xB9\xB2\xBA\xCD\xB9\xFA\tmlwl\n", TextEncoding::Gb18030},
      {"\xB9\xA4\taaaa\n", TextEncoding::Gb18030},
      // One damaged byte among as few valid ones is no evidence of UTF-8.
      {"中\xE4", TextEncoding::Gb18030},
      {"---\n\x80\taaaa\n", TextEncoding::DamagedUtf8},
      // GBK whose characters of one row also form two-byte UTF-8 (Syriac letters): read as GBK.
      {"\xDD\x80\t\xDD\x81\t\xDD\x82\t\xDD\x83\t\xDD\x84\t\xDD\x85\t\xDD\x86\t\xDD\x87\t\xB9\xA4\n",
       TextEncoding::Gb18030},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(judge_encoding(bytes_of(c.bytes)).encoding, c.encoding);
  }
}

TEST(JudgeEncoding, DamagedUtf8IsRecoveredWithEveryDamagedPieceReplaced) {
  const std::string_view bytes = "中国工作中国工作\xE6\x88\n人\xFF\t我们\xE4";
  const EncodingVerdict verdict = judge_encoding(bytes_of(bytes));
  ASSERT_EQ(verdict.encoding, TextEncoding::DamagedUtf8);
  EXPECT_EQ(verdict.damaged, (std::vector<DamagedBytes>{{24, 2}, {30, 1}, {38, 1}}));
  const RecoveredUtf8 recovered = recover_damaged_utf8(bytes_of(bytes), verdict.damaged);
  EXPECT_EQ(recovered.text, "中国工作中国工作\uFFFD\n人\uFFFD\t我们\uFFFD");
  EXPECT_EQ(recovered.replaced_at, (std::vector<std::size_t>{24, 31, 41}));
}

TEST(MarkerBehindByteOrderMark, OnlyTheFirstLineCounts) {
  EXPECT_EQ(marker_behind_byte_order_mark("\uFEFF---\nname: t\n"), "---");
  EXPECT_EQ(marker_behind_byte_order_mark("\uFEFF [codetableheader] \r\n"), "[CODETABLEHEADER]");
  EXPECT_FALSE(marker_behind_byte_order_mark("---\n"));
  EXPECT_FALSE(marker_behind_byte_order_mark("\uFEFF中国\tkhlg\n---\n"));
}

}  // namespace
}  // namespace qovira
