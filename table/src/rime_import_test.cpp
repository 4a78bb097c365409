#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "qovira/table/decoding.h"
#include "qovira/table/import.h"
#include "test_data.h"

namespace qovira {
namespace {

constexpr std::string_view MINIMAL_HEADER = "---\nname: demo\n...\n";

RimeImport import_ok(std::string_view text) {
  auto result = import_rime(text);
  EXPECT_TRUE(result.has_value()) << (result ? "" : result.error().message());
  return result ? std::move(*result) : RimeImport{};
}

std::vector<std::string> codes_of(const CodeTable& table) {
  std::vector<std::string> codes;
  for (const TableEntry& entry : table.entries) {
    codes.push_back(std::string(entry.code) + ":" + std::string(entry.text));
  }
  return codes;
}

std::string repeat(std::string_view piece, std::size_t count) {
  std::string out;
  for (std::size_t i = 0; i < count; ++i) {
    out += piece;
  }
  return out;
}

TEST(RimeImport, ReadsHeaderAndBody) {
  const RimeImport result = import_ok(
      "# Rime dictionary\n"
      "banner: not yaml yet\n"
      "---\n"
      "name: \"wubi_demo\"  # comment\n"
      "version: \"1.0\"\n"
      "...\n"
      "\n"
      "# comment row\n"
      "工\ta\t100\n"
      "式\taa\t50\n"
      "戈\ta\t200\n");
  EXPECT_EQ(result.code_table.description, "Rime 词典：wubi_demo");
  EXPECT_EQ(result.code_table.alphabet, "abcdefghijklmnopqrstuvwxyz");
  EXPECT_EQ(result.code_table.phrase_rules, std::vector<std::string>{"p11+p21+p31+p32"});
  EXPECT_EQ(codes_of(result.code_table), (std::vector<std::string>{"a:戈", "a:工", "aa:式"}));
  EXPECT_EQ(result.code_table.entries[0].priority, 253);
  EXPECT_EQ(result.skipped.total, 0u);
  EXPECT_TRUE(result.length_rules.empty());
  EXPECT_FALSE(result.code_length || result.wildcard || result.special_prefix ||
               result.phrase_rule_text);
}

TEST(RimeImport, NeedsBothHeaderMarks) {
  EXPECT_EQ(import_rime("---\nname: x\n你\tni\n").error(), TableError::not_rime_dict());
  EXPECT_EQ(import_rime("你\tni\n").error(), TableError::not_rime_dict());
  EXPECT_EQ(import_rime("").error(), TableError::not_rime_dict());
  // A byte-order mark is not white space, so "\uFEFF---" does not open the header.
  EXPECT_EQ(import_rime("\xEF\xBB\xBF---\n...\n你\tni\n").error(), TableError::not_rime_dict());
  // Once in the body, "---" and "..." are ordinary (bad) rows.
  const RimeImport result = import_ok("---\n...\n你\tni\n---\n...\n");
  EXPECT_EQ(result.skipped.total, 2u);
  EXPECT_EQ(result.code_table.entries.size(), 1u);
}

TEST(RimeImport, ColumnsListSetsPositions) {
  const std::string text =
      "---\n"
      "columns:\n"
      "  - Code\n"
      "  -- text\n"
      "sort: by_weight\n"
      "...\n"
      "ni\t你\t900\n"
      "ni\t尼\t5\n";
  const RimeImport result = import_ok(text);
  const TableText read = TableText::read(text, TableFormat::Rime);
  EXPECT_EQ(read.columns(), (ColumnLayout{.text = 1, .code = 0, .weight = std::nullopt}));
  EXPECT_TRUE(read.weighted());
  // Without a weight column every weight is 0, so first-seen order stands.
  EXPECT_EQ(codes_of(result.code_table), (std::vector<std::string>{"ni:你", "ni:尼"}));
  EXPECT_EQ(result.code_table.entries[0].priority, 0);
  EXPECT_EQ(result.code_table.description, "Rime 词典：未命名词典");
}

TEST(RimeImport, ColumnsListSurvivesEncoderBlock) {
  const std::string text =
      "---\n"
      "columns:\n"
      "  - weight\n"
      "encoder:\n"
      "  rules:\n"
      "- code\n"
      "- text\n"
      "...\n"
      "7\tni\t你\n";
  const RimeImport result = import_ok(text);
  EXPECT_EQ(TableText::read(text, TableFormat::Rime).columns(),
            (ColumnLayout{.text = 2, .code = 1, .weight = 0}));
  EXPECT_EQ(TableText::read("---\nname: x\n...\n", TableFormat::Rime).columns(), ColumnLayout{});
  EXPECT_FALSE(TableText::read("---\nsort: Original\n...\n", TableFormat::Rime).weighted());
  ASSERT_EQ(result.code_table.entries.size(), 1u);
  EXPECT_EQ(result.code_table.entries[0].text, "你");
  EXPECT_EQ(result.code_table.entries[0].priority, 253);
}

TEST(RimeImport, JoinsSyllablesAndParsesWeights) {
  const RimeImport result = import_ok(std::string(MINIMAL_HEADER) +
                                      "你好\tni hao\t100\n"
                                      "中国\tzhong\u3000guo\t+136\n"
                                      "甲\tjia\t5%\n"
                                      "乙\tyi\t-7\n"
                                      "丙\tbing\t 236 \n"
                                      "丁\tding\t+\n"
                                      "戊\twu\t99999999999999999999999\n");
  std::vector<std::string> shown;
  for (const TableEntry& entry : result.code_table.entries) {
    shown.push_back(std::string(entry.code) + "=" + std::to_string(entry.priority));
  }
  // Maximum weight 236, so priority is 17 + weight.
  EXPECT_EQ(shown, (std::vector<std::string>{"bing=253", "ding=0", "jia=0", "nihao=117", "wu=0",
                                             "yi=0", "zhongguo=153"}));
}

struct SkipCase {
  std::string row;
  std::string shown;
  std::string reason;
};

TEST(RimeImport, SkipsBadRowsWithReasons) {
  const std::vector<SkipCase> cases = {
      {"\tni", "ni", "缺少 text 文字列"},
      {"你", "<缺少编码>", "缺少 code 编码列"},
      {"你\t", "<缺少编码>", "缺少 code 编码列"},
      {"你\t \u3000", " \u3000", "编码为空"},
      {"你\tNi", "Ni", "只支持小写字母、空格分隔的音节和 , . ; /"},
      {"你\tn i2", "ni2", "只支持小写字母、空格分隔的音节和 , . ; /"},
      {"你\t" + repeat("a", 256), repeat("a", 48), "编码长度超过 255"},
      {repeat("字", 128) + "\tzi", "zi", "词条 UTF-16 长度必须为 1–255 字节"},
      {repeat("\U00020000", 64) + "\tzi", "zi", "词条 UTF-16 长度必须为 1–255 字节"},
  };
  for (const SkipCase& bad : cases) {
    const RimeImport result = import_ok(std::string(MINIMAL_HEADER) + "好\thao\n" + bad.row + "\n");
    ASSERT_EQ(result.skipped.total, 1u) << bad.row;
    EXPECT_EQ(result.skipped.samples[0],
              (SkippedSample{.code_shown = bad.shown, .reason = bad.reason, .line = 5}))
        << bad.row;
  }
}

TEST(RimeImport, AcceptsLimitLengths) {
  const RimeImport result =
      import_ok(std::string(MINIMAL_HEADER) + repeat("字", 127) + "\t" + repeat("z", 255) + "\n" +
                repeat("\U00020000", 63) + "字\tzi\n");
  EXPECT_EQ(result.skipped.total, 0u);
  EXPECT_EQ(result.code_table.entries.size(), 2u);
}

// A dictionary of `good` rows with distinct codes followed by `bad` rows with upper-case codes.
std::string rows(std::size_t good, std::size_t bad) {
  std::string text(MINIMAL_HEADER);
  for (std::size_t i = 0; i < good; ++i) {
    text += "字\t";
    for (std::size_t n = i;; n /= 26) {
      text += static_cast<char>('a' + n % 26);
      if (n < 26) {
        break;
      }
    }
    text += "\n";
  }
  return text + repeat("字\tBAD\n", bad);
}

TEST(RimeImport, TooManyInvalidRecords) {
  EXPECT_EQ(import_ok(rows(0, 100) + "字\tok\n").skipped.total, 100u);
  EXPECT_EQ(import_ok(rows(1010, 101)).code_table.entries.size(), 1010u);
  EXPECT_EQ(import_rime(rows(1009, 101)).error(), TableError::too_many_invalid_records(1009, 101));
  EXPECT_EQ(import_rime(rows(0, 101)).error(), TableError::too_many_invalid_records(0, 101));
}

TEST(RimeImport, OriginalSortIsUnweighted) {
  const RimeImport result = import_ok(
      "---\nsort: Original\n...\n"
      "甲\ta\t5\n"
      "乙\ta\t9\n"
      "甲\ta\t50\n");
  EXPECT_EQ(codes_of(result.code_table), (std::vector<std::string>{"a:甲", "a:乙"}));
  EXPECT_EQ(result.code_table.entries[0].priority, 100);
  EXPECT_EQ(result.code_table.entries[1].priority, 100);
}

TEST(RimeImport, TableOnlyMarkerAddsSecondLine) {
  const auto description = [](std::string_view value) {
    return import_ok("---\nname: 'x'\nlanqi_phrase_codes: " + std::string(value) + "\n...\n字\ta\n")
        .code_table.description;
  };
  EXPECT_EQ(description("table_only"), "Rime 词典：x\n[lanqi-phrase-codes:table-only-v1]");
  EXPECT_EQ(description("\"table_only\""), "Rime 词典：x\n[lanqi-phrase-codes:table-only-v1]");
  EXPECT_EQ(description("table_only_v2"), "Rime 词典：x");
  EXPECT_EQ(import_ok("---\nname:\n...\n字\ta\n").code_table.description, "Rime 词典：");
}

TEST(RimeImport, AlphabetTakesPunctuationSeenInAcceptedCodes) {
  const RimeImport result = import_ok(std::string(MINIMAL_HEADER) +
                                      "甲\ta/\n"
                                      "乙\t;b\n"
                                      "丙\tc,\t1\n" +
                                      repeat("字", 128) + "\td.\n");
  EXPECT_EQ(result.code_table.alphabet, "abcdefghijklmnopqrstuvwxyz,;/");
}

TEST(RimeImport, RendersLengthRules) {
  const RimeImport result = import_ok(
      "---\n"
      "encoder:\n"
      "  exclude_patterns:\n"
      "    - '^z.*$'\n"
      "  rules:\n"
      "    - length_in_range: [4, 10]\n"
      "      formula: \"AaBaCaZa\"\n"
      "    - length_equal: 3\n"
      "      formula: 'Aa1'\n"           // not letters: ignored, 3 stays pending
      "      formula: \"'AaBaCaCb'\"\n"  // binds the pending 3
      "    - length_equal: 1\n"
      "      formula: \"Aa\"\n"
      "    - length_equal: 2  # two characters\n"
      "      formula: AaAbBaBb\n"
      "    - length_equal: +\n"
      "      formula: \"Zz\"\n"
      "    - length_equal: 5\n"
      "      formula: \"\"\n"
      "...\n"
      "字\ta\n");
  EXPECT_EQ(result.length_rules,
            (std::vector<std::string>{"2=AaAbBaBb", "3=AaBaCaCb", "4+=AaBaCaZa"}));
}

TEST(RimeImport, UnindentedLineEndsEncoderBlock) {
  const RimeImport result = import_ok(
      "---\n"
      "encoder:\n"
      "  rules:\n"
      "    - length_equal: 2\n"
      "\n"
      "      formula: \"AaAb\"\n"
      "    - length_equal: 3\n"
      "      formula: \"AaBaCa\"\n"
      "...\n"
      "字\ta\n");
  EXPECT_TRUE(result.length_rules.empty());
}

TEST(RimeImport, RealWubi86Dictionary) {
  const auto path = test_data::wubi86_dict_path();
  if (!path) {
    GTEST_SKIP() << "rime-data-wubi could not be fetched";
  }
  const std::string bytes = test_data::read_file_bytes(*path);
  const auto text =
      decode_text(ByteView(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
  ASSERT_TRUE(text.has_value());
  const RimeImport result = import_ok(*text);
  EXPECT_EQ(result.code_table.description, "Rime 词典：wubi86");
  EXPECT_EQ(result.code_table.alphabet, "abcdefghijklmnopqrstuvwxyz");
  EXPECT_EQ(result.code_table.entries.size(), 136'753u);
  EXPECT_EQ(result.skipped.total, 0u);
  EXPECT_EQ(result.length_rules,
            (std::vector<std::string>{"2=AaAbBaBb", "3=AaBaCaCb", "4+=AaBaCaZa"}));
}

TEST(RimeImport, TonedPinyinHasTooManyInvalidRows) {
  const auto path = test_data::debian_package_file("rime-data-terra-pinyin",
                                                   "usr/share/rime-data/terra_pinyin.dict.yaml");
  if (!path) {
    GTEST_SKIP() << "rime-data-terra-pinyin could not be fetched";
  }
  // Every code carries a tone digit ("ling2"), so no row is usable.
  EXPECT_EQ(import_rime(test_data::read_file_bytes(*path)).error(),
            TableError::too_many_invalid_records(0, 99'364));
}

}  // namespace
}  // namespace qovira
