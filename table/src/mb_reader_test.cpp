#include <gtest/gtest.h>

#include <random>
#include <string>

#include "byte_io.h"
#include "qovira/table/mb.h"

namespace qovira {
namespace {

// A header-and-index image with the given alphabet (one unit per byte) and no records.
Bytes make_file(std::u16string_view alphabet = u"abc",
                std::string_view magic = "Freeime Dictionary", std::string_view version = " V6.3") {
  Bytes bytes(MB_RECORDS_OFFSET, 0);
  std::ranges::copy(magic, bytes.begin());
  std::ranges::copy(version, bytes.begin() + MB_VERSION_OFFSET);
  bytes[MB_ALPHABET_LENGTH_OFFSET] = static_cast<std::uint8_t>(alphabet.size());
  for (std::size_t i = 0; i < alphabet.size(); ++i) {
    store_u16le(bytes.data() + MB_ALPHABET_OFFSET + 2 * i, alphabet[i]);
  }
  return bytes;
}

void put_units(Bytes& bytes, std::size_t offset, std::u16string_view units) {
  for (std::size_t i = 0; i < units.size(); ++i) {
    store_u16le(bytes.data() + offset + 2 * i, units[i]);
  }
}

void append_record(Bytes& bytes, std::string_view code, std::u16string_view text,
                   std::uint8_t priority = 100) {
  bytes.push_back(static_cast<std::uint8_t>(code.size()));
  bytes.push_back(static_cast<std::uint8_t>(2 * text.size()));
  bytes.push_back(priority);
  bytes.insert(bytes.end(), code.begin(), code.end());
  for (const char16_t unit : text) {
    bytes.push_back(static_cast<std::uint8_t>(unit));
    bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
}

// The error of a read that must fail (a default error when it unexpectedly succeeds).
MbReadError read_error(ByteView bytes) {
  auto result = read_mb(bytes);
  if (result) {
    ADD_FAILURE() << "the read succeeded with " << result->entries.size() << " entries";
    return {};
  }
  return result.error();
}

// The table of a read that must succeed (an empty table when it fails).
CodeTable read_table(ByteView bytes) {
  auto result = read_mb(bytes);
  if (!result) {
    ADD_FAILURE() << result.error().message();
    return {};
  }
  return std::move(*result);
}

MbReadError lost_sync(std::uint64_t offset, std::uint64_t records_read) {
  return {.kind = MbReadErrorKind::LostSync, .offset = offset, .records_read = records_read};
}

TEST(MbReader, HeaderChecksInOrder) {
  Bytes bytes = make_file();
  const CodeTable empty = read_table(bytes);
  EXPECT_TRUE(empty.entries.empty());
  EXPECT_EQ(empty.alphabet, "abc");

  bytes.pop_back();
  EXPECT_EQ(read_error(bytes).message(), "文件太小，不足以容纳头部与索引");
  EXPECT_EQ(read_error({}).kind, MbReadErrorKind::TooSmall);

  EXPECT_TRUE(read_mb(make_file(u"abc", "Freeime Dictionary", "xyz!?")).has_value());
  EXPECT_EQ(read_error(make_file(u"abc", "Freeime dictionary")).message(),
            "缺少 Freeime Dictionary 魔数");

  // A zero length wins even when alphabet units follow.
  Bytes no_alphabet = make_file(u"abc");
  no_alphabet[MB_ALPHABET_LENGTH_OFFSET] = 0;
  EXPECT_EQ(read_error(no_alphabet).message(), "头部声明的字母表为空");
}

TEST(MbReader, ReadsRecordsInFileOrderWithPriorities) {
  Bytes bytes = make_file(u"abc/");
  append_record(bytes, "b", u"乙", 7);
  append_record(bytes, "a/", u"\xD840\xDC00", 254);  // U+20000 as a surrogate pair
  append_record(bytes, "b", u"乙", 0);
  const std::vector<TableEntry> expected = {
      {"b", "乙", 7}, {"a/", "\U00020000", 254}, {"b", "乙", 0}};
  EXPECT_EQ(read_table(bytes).entries, expected);

  // Record by record, the same entries; the storage of the entry is reused.
  auto records = MbRecordReader::open(bytes);
  ASSERT_TRUE(records.has_value());
  EXPECT_EQ(records->size(), 3u);
  EXPECT_EQ(records->alphabet(), "abc/");
  std::vector<TableEntry> one_by_one;
  for (TableEntry entry; records->next(entry);) {
    one_by_one.push_back(entry);
  }
  EXPECT_EQ(one_by_one, expected);
}

TEST(MbReader, CodeBytesAreLatin1Characters) {
  Bytes bytes = make_file(u"a\u00e9");
  append_record(bytes, "a\xe9", u"字");
  const CodeTable table = read_table(bytes);
  EXPECT_EQ(table.alphabet, "aé");
  ASSERT_EQ(table.entries.size(), 1u);
  EXPECT_EQ(table.entries[0].code, "aé");
}

TEST(MbReader, DescriptionEndsAtZeroOrFieldEnd) {
  Bytes bytes = make_file();
  const std::u16string full(MB_DESCRIPTION_UNITS, u'说');
  put_units(bytes, MB_DESCRIPTION_OFFSET, full);
  // The alphabet length byte follows the field directly, so no zero unit ends the text.
  std::string expected;
  for (std::size_t i = 0; i < MB_DESCRIPTION_UNITS; ++i) {
    expected += "说";
  }
  EXPECT_EQ(read_table(bytes).description, expected);

  put_units(bytes, MB_DESCRIPTION_OFFSET, std::u16string_view(u"甲乙\0丙", 4));
  EXPECT_EQ(read_table(bytes).description, "甲乙");

  // Unpaired surrogates become U+FFFD, pairs are decoded, also right after an unpaired one.
  put_units(bytes, MB_DESCRIPTION_OFFSET,
            std::u16string_view(u"\xDC00x\xD800\xD83D\xDE00\xD800\0", 7));
  EXPECT_EQ(read_table(bytes).description, "\uFFFDx\uFFFD\U0001F600\uFFFD");
}

TEST(MbReader, PhraseRulesSplitAtSlashesWithoutEmptyPieces) {
  Bytes bytes = make_file();
  put_units(bytes, MB_PHRASE_RULES_OFFSET, u"/p11+p12//p21+p22//p31/");
  EXPECT_EQ(read_table(bytes).phrase_rules,
            (std::vector<std::string>{"p11+p12", "p21+p22", "p31"}));

  // Only 32 of the field's 33 units are read.
  put_units(bytes, MB_PHRASE_RULES_OFFSET, std::u16string(MB_PHRASE_RULES_UNITS, u'p'));
  EXPECT_EQ(read_table(bytes).phrase_rules,
            std::vector<std::string>{std::string(MB_PHRASE_RULES_READ_UNITS, 'p')});

  put_units(bytes, MB_PHRASE_RULES_OFFSET, std::u16string(MB_PHRASE_RULES_UNITS, 0));
  EXPECT_TRUE(read_table(bytes).phrase_rules.empty());
}

TEST(MbReader, LongAlphabetReadsOnIntoFollowingFields) {
  // Each unit is one character, so even a surrogate pair gives two U+FFFD.
  Bytes bytes = make_file(
      u"\xD83D\xDE00"
      u"b");
  bytes[MB_ALPHABET_LENGTH_OFFSET] = 46;
  put_units(bytes, MB_PHRASE_RULES_OFFSET, u"pq");
  // Three units given, 41 zero units of padding, then the first two phrase-rule units.
  EXPECT_EQ(read_table(bytes).alphabet, "\uFFFD\uFFFDb" + std::string(41, '\0') + "pq");

  bytes[MB_ALPHABET_LENGTH_OFFSET] = 255;
  EXPECT_TRUE(read_mb(bytes).has_value());
}

TEST(MbReader, UpToFourTrailingBytesAreIgnored) {
  Bytes bytes = make_file();
  append_record(bytes, "ab", u"甲");
  append_record(bytes, "c", u"乙丙");
  const std::size_t end = bytes.size();
  for (std::size_t extra = 1; extra <= 4; ++extra) {
    Bytes padded = bytes;
    padded.resize(end + extra, 0xFF);
    EXPECT_EQ(read_table(padded).entries.size(), 2u) << extra;
  }
  Bytes padded = bytes;
  padded.resize(end + 5, 0);
  const MbReadError failed = read_error(padded);
  EXPECT_EQ(failed, lost_sync(end, 2));
  EXPECT_EQ(failed.message(), "解析在偏移 " + std::to_string(end) + " 处失步，此前已读出 2 条");
}

TEST(MbReader, BadRecordsLoseSyncAtTheirOffset) {
  Bytes good = make_file(u"abc");
  append_record(good, "a", u"甲");
  const std::size_t at = good.size();
  const auto with_bad_record = [&](std::uint8_t code_length, std::uint8_t text_length,
                                   std::string_view code, std::u16string_view text) {
    Bytes bytes = good;
    bytes.push_back(code_length);
    bytes.push_back(text_length);
    bytes.push_back(0);
    bytes.insert(bytes.end(), code.begin(), code.end());
    for (const char16_t unit : text) {
      bytes.push_back(static_cast<std::uint8_t>(unit));
      bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    append_record(bytes, "b", u"乙");  // never reached
    return read_error(bytes);
  };
  EXPECT_EQ(with_bad_record(1, 3, "a", u"甲乙"), lost_sync(at, 1));    // odd text length
  EXPECT_EQ(with_bad_record(0, 2, "", u"甲"), lost_sync(at, 1));       // no code
  EXPECT_EQ(with_bad_record(1, 0, "a", u""), lost_sync(at, 1));        // no text
  EXPECT_EQ(with_bad_record(1, 2, "d", u"甲"), lost_sync(at, 1));      // not in alphabet
  EXPECT_EQ(with_bad_record(1, 2, "a", u"\xDC00"), lost_sync(at, 1));  // lone low
  EXPECT_EQ(with_bad_record(1, 4, "a", u"\xD800x"), lost_sync(at, 1));
  EXPECT_EQ(with_bad_record(1, 2, "a", u"\xD800"), lost_sync(at, 1));  // high at end

  // A record running past the end is only padding when at most four bytes remain.
  Bytes cut = good;
  append_record(cut, "ab", u"甲乙");
  cut.resize(at + 4);
  EXPECT_EQ(read_table(cut).entries.size(), 1u);
  cut = good;
  append_record(cut, "ab", u"甲乙");
  cut.pop_back();
  EXPECT_EQ(read_error(cut), lost_sync(at, 1));
}

// Whatever the bytes, reading returns a table or an error: no crash, no runaway allocation.
TEST(MbReader, SurvivesDamagedFiles) {
  Bytes valid = make_file(u"abcdefghijklmnopqrstuvwxyz");
  std::mt19937 random(20240611);
  for (int i = 0; i < 2000; ++i) {
    append_record(valid, std::string(1 + i % 4, static_cast<char>('a' + i % 26)), u"词语");
  }
  for (int round = 0; round < 300; ++round) {
    Bytes damaged = valid;
    const int flips = 1 + static_cast<int>(random() % 8);
    for (int k = 0; k < flips; ++k) {
      const std::size_t at = MB_ALPHABET_LENGTH_OFFSET + random() % (damaged.size() - 287);
      damaged[at] = static_cast<std::uint8_t>(random());
    }
    damaged.resize(MB_RECORDS_OFFSET + random() % (damaged.size() - MB_RECORDS_OFFSET + 1));
    const auto table = read_mb(damaged);
    if (table) {
      EXPECT_LE(table->entries.size(), (damaged.size() - MB_RECORDS_OFFSET) / 6);
    } else {
      EXPECT_TRUE(table.error().kind == MbReadErrorKind::LostSync ||
                  table.error().kind == MbReadErrorKind::EmptyAlphabet);
    }
  }
}

}  // namespace
}  // namespace qovira
