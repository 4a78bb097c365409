#include "qovira/table/text_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "qovira/table/import.h"
#include "qovira/table/mb.h"
#include "test_data.h"

namespace qovira {
namespace {

constexpr TableFormat RIME = TableFormat::Rime;
constexpr TableFormat BINGLING = TableFormat::Bingling;

CodeTable table_of(std::vector<TableEntry> entries, std::string description = "Rime 词典：测试") {
  return {.description = std::move(description),
          .alphabet = "abcdefghijklmnopqrstuvwxyz/",
          .phrase_rules = {std::string(DEFAULT_PHRASE_RULE)},
          .entries = std::move(entries)};
}

std::expected<TableImport, TableError> import_as(std::string_view text, TableFormat format) {
  return format == RIME ? import_rime(text) : import_bingling(text);
}

std::vector<int> priorities_of(const CodeTable& table) {
  std::vector<int> priorities;
  for (const TableEntry& entry : table.entries) {
    priorities.push_back(entry.priority);
  }
  return priorities;
}

TEST(TextWriter, ImportsBackEveryEntryInOrderWithTheNearestPriorities) {
  struct Case {
    const char* name;
    TableFormat format;
    std::vector<TableEntry> entries;
    std::vector<int> priorities;  // what the import gives back
    std::uint64_t inexact;
  };
  const std::vector<TableEntry> weighted{
      {"a", "甲", 253}, {"a", "乙", 100}, {"a", "丙", 0}, {"b", "丁", 17}};
  const std::vector<TableEntry> pinned{
      {"a", "甲", 100}, {"a", "乙", 254}, {"a", "丙", 17}, {"b", "丁", 254}, {"b", "戊", 253}};
  const std::vector<TableEntry> unweighted{{"a", "甲", 100}, {"a", "乙", 100}, {"b", "丙", 100}};
  const std::vector<TableEntry> rising{
      {"a", "甲", 17}, {"a", "乙", 200}, {"a", "丙", 255}, {"a", "丁", 5}, {"a", "戊", 0}};
  const std::vector<TableEntry> without_heaviest{
      {"a", "甲", 100}, {"b", "乙", 50}, {"b", "丙", 20}};
  const std::vector<TableEntry> odd_texts{
      {"a", "#号", 253}, {"a", " 空格 ", 100}, {"b", "[CODE]", 0}, {"c", "$钱", 30}};
  const std::vector<Case> cases{
      {"weighted to Rime", RIME, weighted, {253, 100, 0, 17}, 0},
      {"weighted to 冰凌", BINGLING, weighted, {253, 100, 0, 17}, 0},
      {"pins to 冰凌", BINGLING, pinned, {100, 254, 17, 254, 253}, 0},
      {"pins to Rime", RIME, pinned, {100, 100, 17, 253, 253}, 2},
      {"unweighted to Rime", RIME, unweighted, {100, 100, 100}, 0},
      {"unweighted to 冰凌", BINGLING, unweighted, {253, 100, 100}, 1},
      {"rising to Rime", RIME, rising, {253, 200, 200, 0, 0}, 3},
      {"rising to 冰凌", BINGLING, rising, {253, 200, 200, 0, 0}, 3},
      {"all zero to 冰凌", BINGLING, {{"a", "甲", 0}, {"b", "乙", 0}}, {0, 0}, 0},
      {"no 253 to Rime", RIME, without_heaviest, {253, 50, 20}, 1},
      {"texts only Rime keeps", RIME, odd_texts, {253, 100, 0, 30}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto written = write_table_text(table_of(c.entries), c.format);
    ASSERT_TRUE(written) << written.error().message();
    EXPECT_FALSE(first_unwritable_entry(*written, c.format));
    EXPECT_EQ(priorities_of(written->table), c.priorities);
    EXPECT_EQ(written->inexact_priorities, c.inexact);
    auto imported = import_as(written->text, c.format);
    ASSERT_TRUE(imported) << imported.error().message() << "\n" << written->text;
    EXPECT_EQ(imported->code_table.entries, written->table.entries) << written->text;
  }
}

TEST(TextWriter, RefusesAnEntryTheFormatCannotHold) {
  struct Case {
    const char* name;
    TableFormat format;
    std::vector<TableEntry> entries;
    std::string refused_text;
  };
  const std::vector<Case> cases{
      {"a digit in a Rime code", RIME, {{"a", "甲", 0}, {"a1", "乙", 0}}, "乙"},
      {"a semicolon in a 冰凌 code", BINGLING, {{"a;", "甲", 0}}, "甲"},
      {"a tab in a text", RIME, {{"a", "甲\t乙", 0}}, "甲\t乙"},
      {"a line feed in a text", BINGLING, {{"a", "甲\n", 0}}, "甲\n"},
      {"a text twice under one code", RIME, {{"a", "甲", 9}, {"b", "乙", 0}, {"a", "甲", 0}}, "甲"},
      {"white space around a 冰凌 text", BINGLING, {{"a", " 甲", 0}}, " 甲"},
      {"a 冰凌 text of a dollar", BINGLING, {{"a", "$甲", 0}}, "$甲"},
      {"a 冰凌 text ending in a tag", BINGLING, {{"a", "好[ab]", 0}}, "好[ab]"},
      {"a text longer than a .mb holds",
       RIME,
       {{"a", std::string(128, 'x'), 0}},
       std::string(128, 'x')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Refused at once, or named once the text is read back.
    auto written = write_table_text(table_of(c.entries), c.format);
    const std::optional<UnwritableEntry> refused =
        written ? first_unwritable_entry(*written, c.format) : written.error();
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->text, c.refused_text);
    EXPECT_FALSE(refused->reason.empty());
  }
}

TEST(TextWriter, NamesTheTableByItsDescription) {
  struct Case {
    std::string description;
    TableFormat format;
    std::string imported;
  };
  const std::string marked = "Rime 词典：x\n[lanqi-phrase-codes:table-only-v1]";
  const std::vector<Case> cases{
      {"Rime 词典：wubi86", RIME, "Rime 词典：wubi86"},
      {"Rime 词典：wubi86", BINGLING, "冰凌码表：wubi86"},
      {"冰凌码表：样例", RIME, "Rime 词典：样例"},
      {"冰凌码表：", BINGLING, "冰凌码表："},
      {marked, RIME, marked},
      {marked, BINGLING, "冰凌码表：x"},
      {"五笔\r\n生成日期: 2011 #1", RIME, "Rime 词典：五笔 生成日期: 2011 ＃1"},
      {"五笔\r\n生成日期: 2011 #1", BINGLING, "冰凌码表：五笔 生成日期: 2011 #1"},
      {"\"引号\"", RIME, "Rime 词典：引号"},
      {std::string(200, 'n'), BINGLING, "冰凌码表：" + std::string(126, 'n')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.description);
    auto written = write_table_text(table_of({{"a", "甲", 0}}, c.description), c.format);
    ASSERT_TRUE(written);
    auto imported = import_as(written->text, c.format);
    ASSERT_TRUE(imported) << written->text;
    EXPECT_EQ(imported->code_table.description, c.imported);
  }
}

// Debian's dictionaries through .mb and both text formats: a .mb written as text and built again
// is the same file, but for the description a 冰凌 table names in its own way.
TEST(TextWriter, RealDictionariesComeBackAsTheSameMb) {
  const std::vector<std::pair<const char*, const char*>> dictionaries{
      {"rime-data-wubi", "usr/share/rime-data/wubi86.dict.yaml"},
      {"rime-data-cangjie5", "usr/share/rime-data/cangjie5.dict.yaml"},
      {"rime-data-array30", "usr/share/rime-data/array30_main.dict.yaml"},
      {"rime-data-quick5", "usr/share/rime-data/quick5.dict.yaml"},
      {"rime-data-stroke", "usr/share/rime-data/stroke.dict.yaml"},
      {"rime-data-luna-pinyin", "usr/share/rime-data/luna_pinyin.dict.yaml"},
  };
  std::size_t checked = 0;
  for (const auto& [package, path] : dictionaries) {
    const auto file = test_data::debian_package_file(package, path);
    if (!file) {
      continue;
    }
    SCOPED_TRACE(path);
    ++checked;
    const auto source = import_rime(test_data::read_file_bytes(*file));
    ASSERT_TRUE(source);
    const auto mb = build_mb(source->code_table, DEFAULT_MB_CONTAINER);
    ASSERT_TRUE(mb);
    const auto read = read_mb(*mb);
    ASSERT_TRUE(read);
    CodeTable through_bingling;
    for (const TableFormat format : {RIME, BINGLING}) {
      auto written = write_table_text(*read, format);
      const std::optional<UnwritableEntry> refused =
          written ? first_unwritable_entry(*written, format) : written.error();
      if (refused) {
        // Array codes use , . ; and some texts are white space alone, neither of which a 冰凌
        // table holds.
        EXPECT_EQ(format, BINGLING) << refused->message();
        continue;
      }
      EXPECT_EQ(written->inexact_priorities, 0u);
      auto imported = import_as(written->text, format);
      ASSERT_TRUE(imported);
      const auto again = build_mb(imported->code_table, DEFAULT_MB_CONTAINER);
      ASSERT_TRUE(again);
      if (format == RIME) {
        EXPECT_TRUE(*again == *mb);
        continue;
      }
      const auto description_end = MB_ALPHABET_LENGTH_OFFSET;
      EXPECT_TRUE(std::equal(mb->begin() + description_end, mb->end(),
                             again->begin() + description_end, again->end()));
      through_bingling = std::move(imported->code_table);
    }
    if (!through_bingling.entries.empty()) {
      // Rime → 冰凌 → Rime imports the very table the dictionary gave.
      auto back = write_table_text(through_bingling, RIME);
      ASSERT_TRUE(back);
      auto imported = import_rime(back->text);
      ASSERT_TRUE(imported);
      EXPECT_TRUE(imported->code_table == source->code_table);
    }
  }
  if (checked == 0) {
    GTEST_SKIP() << "no Debian dictionary could be fetched";
  }
}

}  // namespace
}  // namespace qovira
