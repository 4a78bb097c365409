#include "qovira/table/decoding.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qovira {
namespace {

std::string decode_error(std::vector<std::uint8_t> bytes) {
  auto result = decode_text(bytes);
  return result ? "(decoded)" : result.error().message();
}

std::string decoded(std::vector<std::uint8_t> bytes) {
  auto result = decode_text(bytes);
  return result ? *result : "(failed) " + result.error().message();
}

TEST(DecodeText, Utf8IsTakenUnchangedWithItsMark) {
  EXPECT_EQ(decoded({}), "");
  EXPECT_EQ(decoded({0xEF, 0xBB, 0xBF, 'a'}),
            "\xEF\xBB\xBF"
            "a");
  EXPECT_EQ(decoded({0xE5, 0xB7, 0xA5}), "工");
}

TEST(DecodeText, InPlaceViewsUtf8AndConvertsUtf16IntoTheStorage) {
  const std::vector<std::uint8_t> utf8 = {0xE5, 0xB7, 0xA5, 'a'};
  std::string storage;
  auto viewed = decode_text_in_place(utf8, storage);
  ASSERT_TRUE(viewed);
  EXPECT_EQ(*viewed, "工a");
  EXPECT_EQ(static_cast<const void*>(viewed->data()), static_cast<const void*>(utf8.data()));
  EXPECT_TRUE(storage.empty());

  const std::vector<std::uint8_t> utf16 = {0xFF, 0xFE, 0xE5, 0x5D, 'a', 0};
  auto converted = decode_text_in_place(utf16, storage);
  ASSERT_TRUE(converted);
  EXPECT_EQ(*converted, "工a");
  EXPECT_EQ(converted->data(), storage.data());

  const std::vector<std::uint8_t> broken = {'a', 0xFF};
  EXPECT_EQ(decode_text_in_place(broken, storage).error(), decode_text(broken).error());
}

TEST(DecodeText, InvalidUtf8ReportsTheMaximalSubpartAndItsIndex) {
  EXPECT_EQ(decode_error({0xFF}),
            "文本编码无法读取：invalid utf-8 sequence of 1 bytes from index 0");
  EXPECT_EQ(decode_error({'a', 0xE5, 0xB7, 'b'}),
            "文本编码无法读取：invalid utf-8 sequence of 2 bytes from index 1");
  // A surrogate encoded in UTF-8 is invalid from its second byte.
  EXPECT_EQ(decode_error({0xED, 0xA0, 0x80}),
            "文本编码无法读取：invalid utf-8 sequence of 1 bytes from index 0");
  EXPECT_EQ(decode_error({0xF0, 0x9F, 0x98, 'x'}),
            "文本编码无法读取：invalid utf-8 sequence of 3 bytes from index 0");
  std::vector<std::uint8_t> cut(10, 'a');
  cut.push_back(0xE5);
  cut.push_back(0xB7);
  EXPECT_EQ(decode_error(cut), "文本编码无法读取：incomplete utf-8 byte sequence from index 10");
}

TEST(DecodeText, EveryThreeByteFormIsJudgedAtAnyPlaceInAWord) {
  // The rules for three-byte sequences, against every lead byte and the edges of the second and
  // third byte, after ASCII runs of every length up to a word and more.
  const auto valid = [](std::uint8_t lead, std::uint8_t second, std::uint8_t third) {
    const std::uint8_t low = lead == 0xE0 ? 0xA0 : 0x80;
    const std::uint8_t high = lead == 0xED ? 0x9F : 0xBF;
    return second >= low && second <= high && third >= 0x80 && third <= 0xBF;
  };
  for (std::size_t ascii = 0; ascii <= 9; ++ascii) {
    for (unsigned lead = 0xE0; lead <= 0xEF; ++lead) {
      for (const std::uint8_t second : {0x7F, 0x80, 0x9F, 0xA0, 0xBF, 0xC0}) {
        for (const std::uint8_t third : {0x7F, 0x80, 0xBF, 0xC0}) {
          std::vector<std::uint8_t> bytes(ascii, 'a');
          bytes.insert(bytes.end(), {static_cast<std::uint8_t>(lead), second, third});
          bytes.insert(bytes.end(), 10, 'b');
          const std::string error = decode_error(bytes);
          if (valid(static_cast<std::uint8_t>(lead), second, third)) {
            EXPECT_EQ(error, "(decoded)");
          } else {
            EXPECT_NE(error.find("from index " + std::to_string(ascii)), std::string::npos)
                << error;
          }
        }
      }
      std::vector<std::uint8_t> cut(ascii, 'a');
      cut.insert(cut.end(), {static_cast<std::uint8_t>(lead),
                             static_cast<std::uint8_t>(lead == 0xE0 ? 0xA5 : 0x9A)});
      EXPECT_EQ(decode_error(cut), "文本编码无法读取：incomplete utf-8 byte sequence from index " +
                                       std::to_string(ascii));
    }
  }
}

TEST(DecodeText, Utf16WithEitherMark) {
  EXPECT_EQ(decoded({0xFF, 0xFE}), "");
  EXPECT_EQ(decoded({0xFF, 0xFE, 0xE5, 0x5D, 'a', 0, 0x3D, 0xD8, 0x00, 0xDE}), "工a😀");
  EXPECT_EQ(decoded({0xFE, 0xFF, 0x5D, 0xE5, 0xFE, 0xFF}), "工\uFEFF");
  EXPECT_EQ(decode_error({0xFF, 0xFE, 1, 2, 3}), "文本编码无法读取：UTF-16 字节数不是偶数");
  EXPECT_EQ(decode_error({0xFE, 0xFF, 0xD8, 0x00, 0x00, 0x41}),
            "文本编码无法读取：invalid utf-16: lone surrogate found");
  EXPECT_EQ(decode_error({0xFF, 0xFE, 0x00, 0xDC}),
            "文本编码无法读取：invalid utf-16: lone surrogate found");
  EXPECT_EQ(decode_error({0xFF, 0xFE, 0x00, 0xD8}),
            "文本编码无法读取：invalid utf-16: lone surrogate found");
}

}  // namespace
}  // namespace qovira
