#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>

#include "byte_io.h"
#include "qovira/table/import.h"
#include "qovira/table/mb.h"
#include "test_data.h"

namespace qovira {
namespace {

constexpr std::string_view WUBI_ALPHABET = "abcdefghijklmnopqrstuvwxyz/";
constexpr std::uint32_t NO_RECORD = 0xFFFF'FFFF;

CodeTable make_table(std::vector<TableEntry> entries, std::string alphabet = "abc") {
  return {.description = "测试码表",
          .alphabet = std::move(alphabet),
          .phrase_rules = {std::string(DEFAULT_PHRASE_RULE)},
          .entries = std::move(entries)};
}

Bytes build(const CodeTable& table) {
  auto bytes = build_mb(table, DEFAULT_MB_CONTAINER);
  if (!bytes) {
    ADD_FAILURE() << bytes.error().message();
    return {};
  }
  return std::move(*bytes);
}

TableError build_error(const CodeTable& table, ByteView container = DEFAULT_MB_CONTAINER) {
  auto bytes = build_mb(table, container);
  if (bytes) {
    ADD_FAILURE() << "the build succeeded";
    return {};
  }
  return bytes.error();
}

std::uint32_t slot(const Bytes& bytes, std::size_t number) {
  return load_u32le(bytes.data() + MB_HEADER_SIZE + 4 * number);
}

std::u16string header_units(ByteView bytes, std::size_t offset, std::size_t room) {
  std::u16string units;
  for (std::size_t i = 0; i < room; ++i) {
    units.push_back(load_u16le(bytes.data() + offset + 2 * i));
  }
  return units;
}

std::string repeat(std::string_view piece, std::size_t times) {
  std::string text;
  for (std::size_t i = 0; i < times; ++i) {
    text += piece;
  }
  return text;
}

TEST(MbWriter, OrdersRecordsAndFillsIndex) {
  const CodeTable table = make_table(
      {{"b", "乙", 1}, {"a", "甲", 2}, {"ab", "丙", 3}, {"ba", "丁", 4}, {"a", "戊", 5}});
  const Bytes bytes = build(table);
  const auto read_back = read_mb(bytes);
  ASSERT_TRUE(read_back.has_value());
  const std::vector<TableEntry> expected = {
      {"a", "甲", 2}, {"a", "戊", 5}, {"ab", "丙", 3}, {"b", "乙", 1}, {"ba", "丁", 4}};
  EXPECT_EQ(read_back->entries, expected);
  EXPECT_EQ(read_back->description, "测试码表");
  EXPECT_EQ(read_back->alphabet, "abc");

  // Every record here is 3 + code + 2 bytes long.
  const std::map<std::size_t, std::uint32_t> used = {
      {0, 112'162}, {31, 112'174}, {1, 112'181}, {60, 112'187}};
  for (std::size_t number = 0; number < MB_INDEX_SLOTS; ++number) {
    const auto found = used.find(number);
    EXPECT_EQ(slot(bytes, number), found == used.end() ? NO_RECORD : found->second) << number;
  }
  EXPECT_EQ(bytes.size(), 112'194u);
}

TEST(MbWriter, OrdersByAlphabetPositionNotBytes) {
  const CodeTable table = make_table({{"/", "斜", 0},
                                      {"zz", "乙", 0},
                                      {"z", "甲", 0},
                                      {"a/", "丙", 0},
                                      {"ab", "丁", 0},
                                      // Beyond the eighth character the order is still by position.
                                      {"aaaaaaaa/", "戊", 0},
                                      {"aaaaaaaab", "己", 0},
                                      {"aaaaaaaa", "庚", 0},
                                      {"aaaaaaaaa", "辛", 0},
                                      {"aaaaaaaab", "壬", 0}},
                                     std::string(WUBI_ALPHABET));
  const auto read_back = read_mb(build(table));
  ASSERT_TRUE(read_back.has_value());
  std::vector<std::string> texts;
  for (const TableEntry& entry : read_back->entries) {
    texts.emplace_back(entry.text);
  }
  EXPECT_EQ(texts,
            (std::vector<std::string>{"庚", "辛", "己", "壬", "戊", "丁", "丙", "甲", "乙", "斜"}));
}

// Against a plain reference: codes as sequences of alphabet positions, ties in table order.
TEST(MbWriter, OrderMatchesReference) {
  const std::string alphabet = "/ab";
  std::mt19937 random(99);
  std::vector<TableEntry> entries;
  for (int i = 0; i < 2000; ++i) {
    std::string code(6 + random() % 6, 'a');
    for (char& c : code) {
      c = alphabet[random() % 2 + (random() % 8 == 0 ? 1 : 0)];
    }
    entries.push_back({code, std::to_string(i), 0});
  }
  const CodeTable table = make_table(entries, alphabet);
  const auto read_back = read_mb(build(table));
  ASSERT_TRUE(read_back.has_value());
  const auto positions = [&](const TableEntry& entry) {
    std::vector<std::size_t> sequence;
    for (const char c : entry.code) {
      sequence.push_back(alphabet.find(c));
    }
    return std::pair(sequence, std::stoi(std::string(entry.text)));
  };
  std::ranges::stable_sort(entries, {}, positions);
  EXPECT_EQ(read_back->entries, entries);
}

// Each slot holds the offset of the first record with its prefix, or NO_RECORD.
// Each index slot holds the offset of the first record whose code begins with its prefix.
void expect_index_of_records(const Bytes& bytes, std::string_view alphabet) {
  std::vector<std::uint32_t> expected(MB_INDEX_SLOTS, NO_RECORD);
  std::size_t offset = MB_RECORDS_OFFSET;
  while (offset < bytes.size()) {
    const std::size_t code_length = bytes[offset];
    std::size_t p[3] = {};
    for (std::size_t k = 0; k < std::min<std::size_t>(code_length, 3); ++k) {
      p[k] = alphabet.find(static_cast<char>(bytes[offset + 3 + k]));
      const std::size_t number = k == 0   ? p[0]
                                 : k == 1 ? 30 + 30 * p[0] + p[1]
                                          : 930 + 900 * p[0] + 30 * p[1] + p[2];
      if (expected[number] == NO_RECORD) {
        expected[number] = static_cast<std::uint32_t>(offset);
      }
    }
    offset += 3 + code_length + bytes[offset + 1];
  }
  ASSERT_EQ(offset, bytes.size());
  for (std::size_t number = 0; number < MB_INDEX_SLOTS; ++number) {
    ASSERT_EQ(slot(bytes, number), expected[number]) << number;
  }
}

std::vector<TableEntry> random_entries(std::size_t count, std::uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<TableEntry> entries;
  for (std::size_t i = 0; i < count; ++i) {
    std::string code(1 + random() % 5, 'a');
    for (char& c : code) {
      c = WUBI_ALPHABET[random() % WUBI_ALPHABET.size()];
    }
    entries.push_back({code, i % 7 == 0 ? "词组" : "词", static_cast<std::uint8_t>(i)});
  }
  return entries;
}

TEST(MbWriter, IndexPointsAtFirstRecordOfEveryPrefix) {
  expect_index_of_records(build(make_table(random_entries(3000, 7), std::string(WUBI_ALPHABET))),
                          WUBI_ALPHABET);
}

TEST(MbWriter, LargeTablesWriteEveryRecordInOrderWithTheirIndex) {
  // Large enough to be built in two halves, in write order already and not.
  std::vector<TableEntry> entries = random_entries(40'000, 11);
  const auto position = [](char c) { return WUBI_ALPHABET.find(c); };
  const auto in_write_order = [&](const TableEntry& a, const TableEntry& b) {
    return std::ranges::lexicographical_compare(a.code, b.code, {}, position, position);
  };
  std::vector<TableEntry> sorted = entries;
  std::ranges::stable_sort(sorted, in_write_order);
  for (const std::vector<TableEntry>* table : {&entries, &sorted}) {
    const Bytes bytes = build(make_table(*table, std::string(WUBI_ALPHABET)));
    expect_index_of_records(bytes, WUBI_ALPHABET);
    const auto read_back = read_mb(bytes);
    ASSERT_TRUE(read_back.has_value());
    EXPECT_EQ(read_back->entries, sorted);
  }
}

TEST(MbWriter, LargeTablesNameTheFirstFaultInWriteOrder) {
  // Codes of four letters in alphabet order: record i is 9 bytes and starts 9 * i past the first.
  constexpr std::size_t COUNT = 40'000;
  std::vector<TableEntry> entries;
  for (std::size_t i = 0; i < COUNT; ++i) {
    std::string code(4, 'a');
    for (std::size_t k = 0, rest = i; k < 4; ++k, rest /= 26) {
      code[3 - k] = static_cast<char>('a' + rest % 26);
    }
    entries.push_back({code, "字", 0});
  }
  const std::string alphabet(WUBI_ALPHABET.substr(0, 26));
  const auto error_of = [&](const std::vector<TableEntry>& table, std::uint64_t limit) {
    const auto built = detail::build_mb_with_offset_limit(make_table(table, alphabet),
                                                          DEFAULT_MB_CONTAINER, limit);
    return built ? std::string("built") : built.error().message();
  };
  const auto code_of = [&](std::size_t i) { return std::string(entries[i].code.view()); };
  const std::uint64_t no_limit = detail::MB_MAX_RECORD_OFFSET;

  std::vector<TableEntry> faulty = entries;
  faulty[30'000].text = "";
  EXPECT_EQ(error_of(faulty, no_limit),
            "编码 " + code_of(30'000) + " 无法导入：词条 UTF-16 长度必须为 1–255 字节");
  faulty[10'000].code = "a,";
  EXPECT_EQ(error_of(faulty, no_limit), "编码 a, 无法导入：包含字母表外的字符");

  const auto offset_of = [](std::size_t i) { return MB_RECORDS_OFFSET + 9 * i; };
  for (const std::size_t first_too_far : {std::size_t{25'000}, COUNT - 1, std::size_t{1}}) {
    EXPECT_EQ(
        error_of(entries, offset_of(first_too_far) - 1),
        "编码 " + code_of(first_too_far) + " 无法导入：记录总量超出 .mb 的 32 位偏移上限（4 GiB）");
  }
  EXPECT_EQ(error_of(entries, offset_of(COUNT - 1)), "built");
  // A fault before the limit is reached is the one named.
  EXPECT_EQ(error_of(faulty, offset_of(25'000) - 1), "编码 a, 无法导入：包含字母表外的字符");
}

TEST(MbWriter, WritesHeaderFromTableAndVersionFromContainer) {
  CodeTable table = make_table({{"a", "甲", 0}});
  table.description = repeat("说", 131);
  table.phrase_rules = {};
  Bytes container(DEFAULT_MB_CONTAINER.begin(), DEFAULT_MB_CONTAINER.end());
  std::ranges::copy(std::string_view("V9.99"), container.begin() + MB_VERSION_OFFSET);
  std::fill(container.begin() + MB_VERSION_OFFSET + 5, container.end(), std::uint8_t{0xAB});
  auto built = build_mb(table, container);
  ASSERT_TRUE(built.has_value());
  const Bytes& bytes = *built;

  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 23), "Freeime DictionaryV9.99");
  const std::u16string description =
      header_units(bytes, MB_DESCRIPTION_OFFSET, MB_DESCRIPTION_UNITS);
  EXPECT_EQ(description, std::u16string(131, u'说') + u'\0');
  EXPECT_EQ(bytes[MB_ALPHABET_LENGTH_OFFSET], 3);
  EXPECT_EQ(header_units(bytes, MB_ALPHABET_OFFSET, MB_ALPHABET_UNITS),
            u"abc" + std::u16string(41, u'\0'));
  // No phrase rules: a field of zero bytes, whatever the container held.
  EXPECT_EQ(header_units(bytes, MB_PHRASE_RULES_OFFSET, MB_PHRASE_RULES_UNITS),
            std::u16string(MB_PHRASE_RULES_UNITS, u'\0'));
  EXPECT_EQ(slot(bytes, 0), MB_RECORDS_OFFSET);
  EXPECT_EQ(slot(bytes, 1), NO_RECORD);
  EXPECT_EQ(bytes.size(), MB_RECORDS_OFFSET + 3 + 1 + 2);
}

TEST(MbWriter, HeaderFieldLimits) {
  CodeTable table = make_table({{"a", "甲", 0}});
  table.description = repeat("说", 132);
  EXPECT_EQ(build_error(table).message(), "码表说明 太长，无法写入极点容器头部");
  // A description read from a full field cannot be written back.
  Bytes full = build(make_table({{"a", "甲", 0}}));
  for (std::size_t i = 0; i < MB_DESCRIPTION_UNITS; ++i) {
    store_u16le(full.data() + MB_DESCRIPTION_OFFSET + 2 * i, u'说');
  }
  const auto read_back = read_mb(full);
  ASSERT_TRUE(read_back.has_value());
  EXPECT_EQ(build_error(*read_back), TableError::header_field_too_long("码表说明"));

  table.description = "😀";  // two units
  table.phrase_rules = {std::string(16, 'p'), std::string(15, 'q')};
  const Bytes bytes = build(table);
  EXPECT_EQ(header_units(bytes, MB_PHRASE_RULES_OFFSET, MB_PHRASE_RULES_UNITS),
            std::u16string(16, u'p') + u'/' + std::u16string(15, u'q') + u'\0');
  EXPECT_EQ(header_units(bytes, MB_DESCRIPTION_OFFSET, 3),
            std::u16string_view(u"\xD83D\xDE00\0", 3));

  table.phrase_rules = {std::string(16, 'p'), std::string(16, 'q')};
  EXPECT_EQ(build_error(table), TableError::header_field_too_long("词组编码规则"));
  // The phrase rules are checked before the description.
  table.description = repeat("说", 132);
  EXPECT_EQ(build_error(table), TableError::header_field_too_long("词组编码规则"));
}

TEST(MbWriter, FailingStepsInOrder) {
  const CodeTable empty = make_table({}, "aa");
  const Bytes short_container(DEFAULT_MB_CONTAINER.begin(), DEFAULT_MB_CONTAINER.end() - 1);
  EXPECT_EQ(build_error(empty, short_container), TableError::invalid_container());
  Bytes unmarked(DEFAULT_MB_CONTAINER.begin(), DEFAULT_MB_CONTAINER.end());
  unmarked[0] = 'f';
  EXPECT_EQ(build_error(empty, unmarked).message(), "默认极点容器无效，不能安全生成导入表");
  EXPECT_EQ(build_error(empty), TableError::invalid_alphabet("aa"));
  EXPECT_EQ(build_error(make_table({})).message(), "码表没有可导入的有效词条");
}

TEST(MbWriter, EntryLimits) {
  const auto error_for = [](std::string code, std::string text) {
    return build_error(make_table({{"a", "甲", 0}, {std::move(code), std::move(text), 0}}));
  };
  EXPECT_EQ(error_for(std::string(256, 'b'), "乙"),
            TableError::invalid_entry(std::string(256, 'b'), "编码长度必须为 1–255"));
  EXPECT_EQ(error_for("", "乙"), TableError::invalid_entry("", "编码长度必须为 1–255"));
  EXPECT_EQ(error_for("bd", "乙").message(), "编码 bd 无法导入：包含字母表外的字符");
  EXPECT_EQ(error_for("b\xc3\xa9", "乙"), TableError::invalid_entry("bé", "包含字母表外的字符"));
  const TableError too_long = TableError::invalid_entry("b", "词条 UTF-16 长度必须为 1–255 字节");
  EXPECT_EQ(error_for("b", ""), too_long);
  EXPECT_EQ(error_for("b", repeat("字", 128)), too_long);
  EXPECT_EQ(error_for("b", repeat("😀", 64)), too_long);

  // At the limits: 255 code bytes, 127 units of text.
  const CodeTable widest =
      make_table({{std::string(255, 'c'), repeat("字", 127), 9}, {"b", repeat("😀", 63) + "字", 8}});
  const auto read_back = read_mb(build(widest));
  ASSERT_TRUE(read_back.has_value());
  EXPECT_EQ(read_back->entries, (std::vector<TableEntry>{widest.entries[1], widest.entries[0]}));

  // The first bad entry in written order is reported, not the first in the table.
  EXPECT_EQ(build_error(make_table({{"c", "", 0}, {"b", "乙", 0}, {"ad", "甲", 0}})),
            TableError::invalid_entry("ad", "包含字母表外的字符"));
}

TEST(MbWriter, OneEntryFileAndPriorityBytes) {
  for (const int priority : {0, 17, 100, 253, 254, 255}) {
    const CodeTable table =
        make_table({{"abc", "汉字", static_cast<std::uint8_t>(priority)}}, "abc");
    const Bytes bytes = build(table);
    ASSERT_EQ(bytes.size(), 112'165u + 3 + 4);
    EXPECT_EQ(bytes[MB_RECORDS_OFFSET + 2], priority);
    EXPECT_EQ(slot(bytes, 930 + 900 * 0 + 30 * 1 + 2), MB_RECORDS_OFFSET);
    EXPECT_EQ(read_mb(bytes)->entries, table.entries);
  }
}

TEST(MbWriter, RecordOffsetsMustFitThirtyTwoBits) {
  // Records of 3 + 1 + 2 bytes: the third starts at 12 bytes past the first.
  const CodeTable table = make_table({{"a", "甲", 0}, {"b", "乙", 0}, {"c", "丙", 0}});
  const auto fits =
      detail::build_mb_with_offset_limit(table, DEFAULT_MB_CONTAINER, MB_RECORDS_OFFSET + 12);
  EXPECT_TRUE(fits.has_value());
  const auto too_far =
      detail::build_mb_with_offset_limit(table, DEFAULT_MB_CONTAINER, MB_RECORDS_OFFSET + 11);
  ASSERT_FALSE(too_far.has_value());
  EXPECT_EQ(too_far.error().message(),
            "编码 c 无法导入：记录总量超出 .mb 的 32 位偏移上限（4 GiB）");
}

TEST(MbWriter, DefaultContainerHeader) {
  ASSERT_EQ(DEFAULT_MB_CONTAINER.size(), MB_RECORDS_OFFSET);
  const ByteView container = DEFAULT_MB_CONTAINER;
  EXPECT_EQ(std::string(container.begin(), container.begin() + 23), "Freeime Dictionary V6.3");
  // The reader gives the header values as they stand.
  Bytes bytes(container.begin(), container.end());
  const auto header = read_mb(bytes);
  ASSERT_TRUE(header.has_value());
  EXPECT_EQ(header->description,
            "五笔字型极爽词库4.3版 for 极点五笔UniCode版本\r\n生成日期:2011-12-27 14:53");
  EXPECT_EQ(container[MB_ALPHABET_LENGTH_OFFSET], 27);
  EXPECT_EQ(header->alphabet, WUBI_ALPHABET);
  EXPECT_EQ(header->phrase_rules, std::vector<std::string>{"p11+p21+p31+p32"});
  // The index is that of a whole Wubi table: many slots in use, all pointing into its records.
  std::size_t used = 0;
  for (std::size_t number = 0; number < MB_INDEX_SLOTS; ++number) {
    const std::uint32_t offset = load_u32le(container.data() + MB_HEADER_SIZE + 4 * number);
    if (offset != NO_RECORD) {
      ++used;
      EXPECT_GE(offset, MB_RECORDS_OFFSET);
    }
  }
  EXPECT_GT(used, 10'000u);
}

TEST(MbWriter, RealWubiTableReadsBackIdentical) {
  const auto path = test_data::wubi86_dict_path();
  if (!path) {
    GTEST_SKIP() << "rime-data-wubi could not be fetched";
  }
  const auto imported = import_rime(test_data::read_file_bytes(*path));
  ASSERT_TRUE(imported.has_value()) << imported.error().message();
  const CodeTable& table = imported->code_table;
  const auto read_back = read_mb(build(table));
  ASSERT_TRUE(read_back.has_value()) << read_back.error().message();
  // The alphabet is in byte order, so alphabet-position order is the table's own order.
  ASSERT_TRUE(std::ranges::is_sorted(table.alphabet));
  EXPECT_EQ(*read_back, table);
  EXPECT_GT(table.entries.size(), 100'000u);
}

}  // namespace
}  // namespace qovira
