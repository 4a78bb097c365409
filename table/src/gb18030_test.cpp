#include "qovira/table/gb18030.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "qovira/table/utf8.h"
#include "test_data.h"

namespace qovira {
namespace {

using Bytes = std::vector<std::uint8_t>;

// glibc's converter, the source of the mapping data, as the reference.
class Iconv {
 public:
  Iconv(const char* to, const char* from) : handle_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) {
      iconv_close(handle_);
    }
  }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;

  bool ok() const { return handle_ != reinterpret_cast<iconv_t>(-1); }

  // Nothing when iconv rejects the input or stops inside it.
  std::optional<std::string> convert(std::string_view input) {
    iconv(handle_, nullptr, nullptr, nullptr, nullptr);
    std::string in(input);
    std::string out(input.size() * 4 + 16, '\0');
    char* in_pointer = in.data();
    std::size_t in_left = in.size();
    char* out_pointer = out.data();
    std::size_t out_left = out.size();
    if (iconv(handle_, &in_pointer, &in_left, &out_pointer, &out_left) ==
            static_cast<std::size_t>(-1) ||
        in_left != 0) {
      return std::nullopt;
    }
    out.resize(out.size() - out_left);
    return out;
  }

 private:
  iconv_t handle_;
};

std::string as_string(const Bytes& bytes) {
  return {bytes.begin(), bytes.end()};
}

std::string decoded(const Bytes& bytes) {
  auto result = decode_gb18030(bytes);
  return result ? *result : "(failed) " + result.error().message();
}

std::string utf8(char32_t c) {
  std::string out;
  append_utf8(out, c);
  return out;
}

std::string invalid(int length, int index) {
  return "(failed) 文本编码无法读取：invalid gb18030 sequence of " + std::to_string(length) +
         " bytes from index " + std::to_string(index);
}

std::string incomplete(int index) {
  return "(failed) 文本编码无法读取：incomplete gb18030 byte sequence from index " +
         std::to_string(index);
}

Bytes four_byte_code(std::uint32_t index) {
  return {static_cast<std::uint8_t>(0x81 + index / 12600),
          static_cast<std::uint8_t>(0x30 + index / 1260 % 10),
          static_cast<std::uint8_t>(0x81 + index / 10 % 126),
          static_cast<std::uint8_t>(0x30 + index % 10)};
}

std::string hex(const Bytes& bytes) {
  std::string out = "0x";
  for (std::uint8_t b : bytes) {
    constexpr char DIGITS[] = "0123456789ABCDEF";
    out += DIGITS[b >> 4];
    out += DIGITS[b & 0xF];
  }
  return out;
}

TEST(DecodeGb18030, KnownCharactersOfEachLength) {
  EXPECT_EQ(decoded({}), "");
  EXPECT_EQ(decoded({0xCE, 0xE5, 0xB1, 0xCA, 0xD7, 0xD6, 0xD0, 0xCD, '\t', 'g', 'g'}),
            "五笔字型\tgg");
  EXPECT_EQ(decoded({0xA2, 0xE3}), "€");
  EXPECT_EQ(decoded({0xFE, 0x51}), utf8(0x20087));
  EXPECT_EQ(decoded({0x81, 0x30, 0x81, 0x30}), utf8(0x80));
  EXPECT_EQ(decoded({0x84, 0x31, 0x95, 0x33, 'a'}),
            "\xEF\xBB\xBF"
            "a");
  EXPECT_EQ(decoded({0x84, 0x31, 0xA4, 0x39}), utf8(0xFFFF));
  EXPECT_EQ(decoded({0x90, 0x30, 0x81, 0x30}), utf8(0x10000));
  EXPECT_EQ(decoded({0x95, 0x32, 0x90, 0x31}), utf8(0x20087));
  EXPECT_EQ(decoded({0xE3, 0x32, 0x9A, 0x35}), utf8(0x10FFFF));
}

TEST(DecodeGb18030, AsciiPassesThroughUnchanged) {
  Bytes all_ascii;
  for (int b = 0; b < 0x80; ++b) {
    all_ascii.push_back(static_cast<std::uint8_t>(b));
  }
  EXPECT_EQ(decoded(all_ascii), as_string(all_ascii));
  // ASCII runs of every length around a two-byte code, so runs start and end at any offset.
  for (std::size_t before = 0; before < 20; ++before) {
    Bytes bytes(before, 'x');
    bytes.insert(bytes.end(), {0xB9, 0xA4});
    bytes.insert(bytes.end(), 19 - before, 'y');
    EXPECT_EQ(decoded(bytes), std::string(before, 'x') + "工" + std::string(19 - before, 'y'));
  }
}

TEST(DecodeGb18030, BadBytesAreReportedWithTheirPosition) {
  EXPECT_EQ(decoded({0x80}), invalid(1, 0));
  EXPECT_EQ(decoded({'a', 0xFF, 'b'}), invalid(1, 1));
  // A lead byte followed by no trail: at the end, before a line break, before a bad byte.
  EXPECT_EQ(decoded({0xD6, 0xD0, 0xCE, 0xC4, 0x81}), incomplete(4));
  EXPECT_EQ(decoded({'a', 0x81, '\n', 'b'}), invalid(1, 1));
  EXPECT_EQ(decoded({0x81, 0x7F}), invalid(1, 0));
  EXPECT_EQ(decoded({0x81, 0xFF}), invalid(1, 0));
  // Four-byte codes cut short or broken after two or three bytes.
  EXPECT_EQ(decoded({'a', 0x81, 0x30}), incomplete(1));
  EXPECT_EQ(decoded({0x81, 0x30, 0x81}), incomplete(0));
  EXPECT_EQ(decoded({0x81, 0x30, 0x30, 0x30}), invalid(2, 0));
  EXPECT_EQ(decoded({0x81, 0x30, 0x81, 0x81}), invalid(3, 0));
  // Well-formed four-byte codes that stand for nothing: past U+FFFF's codes, before U+10000's,
  // past U+10FFFF, the last code of all.
  EXPECT_EQ(decoded({0xB9, 0xA4, 0x84, 0x31, 0xA5, 0x30}), invalid(4, 2));
  EXPECT_EQ(decoded({0x8F, 0x39, 0xFE, 0x39}), invalid(4, 0));
  EXPECT_EQ(decoded({0xE3, 0x32, 0x9A, 0x36}), invalid(4, 0));
  EXPECT_EQ(decoded({0xFE, 0x39, 0xFE, 0x39}), invalid(4, 0));

  const auto error = decode_gb18030(Bytes{0x80});
  ASSERT_FALSE(error);
  EXPECT_EQ(error.error(),
            TableError::undecodable_text("invalid gb18030 sequence of 1 bytes from index 0"));
}

TEST(DecodeGb18030, EveryTwoByteCodeMatchesIconv) {
  Iconv reference("UTF-8", "GB18030");
  if (!reference.ok()) {
    GTEST_SKIP() << "iconv has no GB18030";
  }
  Bytes all;
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      if (trail == 0x7F) {
        continue;
      }
      const Bytes code = {static_cast<std::uint8_t>(lead), static_cast<std::uint8_t>(trail)};
      const std::optional<std::string> expected = reference.convert(as_string(code));
      ASSERT_EQ(decoded(code), expected ? *expected : invalid(2, 0)) << hex(code);
      all.insert(all.end(), code.begin(), code.end());
    }
  }
  // All of them in one text, as a table would hold them.
  EXPECT_EQ(decoded(all), reference.convert(as_string(all)).value_or("(iconv failed)"));
}

TEST(DecodeGb18030, EveryFourByteCodeMatchesIconv) {
  Iconv reference("UTF-8", "GB18030");
  Iconv encoder("GB18030", "UTF-8");
  if (!reference.ok() || !encoder.ok()) {
    GTEST_SKIP() << "iconv has no GB18030";
  }
  // iconv rejects these GB18030-2005 codes because their characters moved to two-byte codes;
  // they decode to those characters.
  struct MovedCodes {
    std::uint32_t first_index;
    char32_t first_character;
  };
  constexpr MovedCodes MOVED[] = {{19057, 0x9FB4}, {39076, 0xFE10}};
  std::size_t moved_seen = 0;
  for (std::uint32_t index = 0; index < 126 * 10 * 126 * 10; ++index) {
    const Bytes code = four_byte_code(index);
    const std::optional<std::string> expected = reference.convert(as_string(code));
    if (expected) {
      ASSERT_EQ(decoded(code), *expected) << hex(code);
      continue;
    }
    std::string want = invalid(4, 0);
    for (const MovedCodes& moved : MOVED) {
      const char32_t c = moved.first_character + (index - moved.first_index);
      if (index >= moved.first_index && c < moved.first_character + 10) {
        const std::optional<std::string> twin = encoder.convert(utf8(c));
        ASSERT_TRUE(twin.has_value());
        EXPECT_EQ(twin->size(), 2u) << hex(code);
        want = utf8(c);
        ++moved_seen;
      }
    }
    ASSERT_EQ(decoded(code), want) << hex(code);
  }
  EXPECT_EQ(moved_seen, 18u);
}

TEST(DecodeGb18030, Wubi86ConvertedByIconvDecodesToTheOriginal) {
  Iconv encoder("GB18030", "UTF-8");
  if (!encoder.ok()) {
    GTEST_SKIP() << "iconv has no GB18030";
  }
  const auto path = test_data::wubi86_dict_path();
  if (!path) {
    GTEST_SKIP() << "rime-data-wubi could not be fetched";
  }
  const std::string original = test_data::read_file_bytes(*path);
  const std::optional<std::string> gb18030 = encoder.convert(original);
  ASSERT_TRUE(gb18030.has_value());
  ASSERT_NE(*gb18030, original);
  const Bytes bytes(gb18030->begin(), gb18030->end());
  const auto result = decode_gb18030(bytes);
  ASSERT_TRUE(result.has_value()) << result.error().message();
  EXPECT_TRUE(*result == original);  // not EXPECT_EQ: a failure would print megabytes
}

}  // namespace
}  // namespace qovira
