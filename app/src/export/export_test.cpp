#include "qovira/app/export/export.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "qovira/table/mb.h"
#include "qovira/table/utf8.h"

namespace qovira {
namespace {

constexpr std::string_view WUBI_ALPHABET = "abcdefghijklmnopqrstuvwxyz/";

CodeTable make_table(std::vector<TableEntry> entries,
                     std::string alphabet = std::string(WUBI_ALPHABET)) {
  return {.description = "测试码表",
          .alphabet = std::move(alphabet),
          .phrase_rules = {std::string(DEFAULT_PHRASE_RULE)},
          .entries = std::move(entries)};
}

CodeTable read_back_of(const Bytes& bytes) {
  auto table = read_mb(bytes);
  if (!table) {
    ADD_FAILURE() << table.error().message();
    return {};
  }
  return std::move(*table);
}

TEST(ExportMb, VerifiedExport) {
  const CodeTable table = make_table({{"a", "工", 100}, {"z/", "乙", 3}, {"/", "斜", 254}});
  const auto result = export_mb(table);
  ASSERT_TRUE(result.has_value()) << result.error();
  EXPECT_TRUE(result->verified);
  EXPECT_EQ(result->verdict, "已回读校验：3 条词条、27 个码元，与导入结果一致");
  EXPECT_EQ(result->entries, 3u);
  EXPECT_EQ(result->bytes, build_mb(table, DEFAULT_MB_CONTAINER).value());
  EXPECT_EQ(compare_readback(table, read_back_of(result->bytes)), std::nullopt);
}

TEST(ExportMb, BuildFailuresAreTheBuildMessage) {
  std::string text;
  for (int i = 0; i < 128; ++i) {
    text += "字";
  }
  const auto too_long = export_mb(make_table({{"ab", "工", 0}, {"ab", text, 0}}));
  ASSERT_FALSE(too_long.has_value());
  EXPECT_EQ(too_long.error(), "编码 ab 无法导入：词条 UTF-16 长度必须为 1–255 字节");
  EXPECT_EQ(export_mb(make_table({})).error(), "码表没有可导入的有效词条");
}

TEST(CompareReadback, FirstDifferenceWins) {
  const CodeTable imported =
      make_table({{"a", "工", 9}, {"a", "戈", 8}, {"b", "子", 7}, {"c", "以", 6}});
  EXPECT_EQ(compare_readback(imported, imported), std::nullopt);

  // Codes may come back in another order; candidates of one code may not.
  CodeTable reordered = imported;
  std::ranges::reverse(reordered.entries);
  std::swap(reordered.entries[2], reordered.entries[3]);
  EXPECT_EQ(compare_readback(imported, reordered), std::nullopt);

  CodeTable swapped = imported;
  std::swap(swapped.entries[0], swapped.entries[1]);
  EXPECT_EQ(compare_readback(imported, swapped), "编码 a 下的候选次序或内容变了");

  CodeTable reprioritised = imported;
  reprioritised.entries[2].priority = 0;
  EXPECT_EQ(compare_readback(imported, reprioritised), "编码 b 下的候选次序或内容变了");

  CodeTable moved = imported;
  moved.entries[1].code = "b";  // "a" loses a candidate, the count stays
  EXPECT_EQ(compare_readback(imported, moved), "编码 a 下的候选次序或内容变了");

  CodeTable renamed = imported;
  renamed.entries[3].code = "d";
  renamed.entries[2].code = "e";
  EXPECT_EQ(compare_readback(imported, renamed), "编码 b 回读后不存在");

  CodeTable shorter = imported;
  shorter.entries.pop_back();
  EXPECT_EQ(compare_readback(imported, shorter), "条数不同（导入 4，回读 3）");

  shorter.alphabet = "abc";
  EXPECT_EQ(compare_readback(imported, shorter), "字母表不同");
}

TEST(CompareReadback, CodesComparedByteWise) {
  // Byte-wise "/" comes before "a": the first missing code in that order is reported.
  const CodeTable imported = make_table({{"a", "工", 0}, {"/", "斜", 0}, {"b", "子", 0}});
  CodeTable read_back = imported;
  for (TableEntry& entry : read_back.entries) {
    entry.code = std::string(entry.code) + "z";
  }
  EXPECT_EQ(compare_readback(imported, read_back), "编码 / 回读后不存在");
}

TEST(CompareReadback, CodesWithZeroBytes) {
  // A .mb alphabet may hold U+0000, so a code may end in a zero byte.
  using namespace std::string_literals;
  const CodeTable imported = make_table({{"a\0"s, "甲", 0}, {"a", "乙", 0}, {"a\0"s, "丙", 0}});
  CodeTable read_back = imported;
  std::swap(read_back.entries[0], read_back.entries[1]);
  EXPECT_EQ(compare_readback(imported, read_back), std::nullopt);
  std::swap(read_back.entries[1], read_back.entries[2]);
  EXPECT_EQ(compare_readback(imported, read_back), "编码 a\0"s + " 下的候选次序或内容变了");
}

// Random tables of every shape the writer accepts come back exactly as they went in.
TEST(ExportMb, RandomTablesSurviveTheRoundTrip) {
  std::mt19937 random(1234567);
  const std::u32string characters = U"工了以在有地一上不是中国同民为这我的要和产发人经主𠀀𪚥😀,/a";
  for (int round = 0; round < 40; ++round) {
    std::string alphabet(WUBI_ALPHABET.substr(0, 1 + random() % 27));
    if (random() % 2 == 0) {
      std::ranges::shuffle(alphabet, random);
    }
    std::vector<TableEntry> entries;
    const std::size_t count = 1 + random() % 400;
    for (std::size_t i = 0; i < count; ++i) {
      std::string code(1 + random() % (random() % 8 == 0 ? 255 : 5), ' ');
      for (char& c : code) {
        c = alphabet[random() % alphabet.size()];
      }
      std::string text;
      for (std::size_t n = 1 + random() % 6; n > 0; --n) {
        append_utf8(text, characters[random() % characters.size()]);
      }
      entries.push_back({std::move(code), std::move(text), static_cast<std::uint8_t>(random())});
    }
    // Repeat some entries whole, as a table read from a .mb file may.
    for (std::size_t i = 0; i < count / 10; ++i) {
      entries.push_back(entries[random() % count]);
    }
    const CodeTable table = make_table(std::move(entries), alphabet);
    const auto result = export_mb(table);
    ASSERT_TRUE(result.has_value()) << result.error();
    ASSERT_TRUE(result->verified) << result->verdict;
    ASSERT_EQ(compare_readback(table, read_back_of(result->bytes)), std::nullopt) << round;
    const auto built = compare_built_mb(table, result->bytes);
    ASSERT_TRUE(built.has_value()) << round;
    ASSERT_EQ(*built, std::nullopt) << round;
  }
}

// A large table is proven in two halves side by side: a difference in either is found, and a
// table out of order in one half only is still proven code by code.
TEST(CompareBuiltMb, FindsADifferenceInEitherHalfOfALargeTable) {
  std::vector<TableEntry> entries;
  for (std::size_t i = 0; i < 40'000; ++i) {
    std::string code;
    for (std::size_t n = i; code.size() < 4; n /= 26) {
      code.insert(code.begin(), static_cast<char>('a' + n % 26));
    }
    entries.push_back({code, "工", static_cast<std::uint8_t>(i % 200)});
  }
  const CodeTable table = make_table(entries);
  const Bytes bytes = build_mb(table, DEFAULT_MB_CONTAINER).value();
  ASSERT_EQ(compare_built_mb(table, bytes).value(), std::nullopt);

  for (const std::size_t changed_entry : {std::size_t{0}, entries.size() - 1}) {
    CodeTable changed = table;
    changed.entries[changed_entry].priority = 250;
    EXPECT_EQ(compare_built_mb(changed, bytes).value(),
              compare_readback(changed, read_back_of(bytes)));
    EXPECT_NE(compare_built_mb(changed, bytes).value(), std::nullopt) << changed_entry;
  }

  CodeTable upper_swapped = table;
  std::swap(upper_swapped.entries[entries.size() - 1], upper_swapped.entries[entries.size() - 2]);
  EXPECT_EQ(compare_built_mb(upper_swapped, bytes).value(), std::nullopt);
}

TEST(CompareBuiltMb, NamesADifferenceOrAReadFailureAsTheFullReadBackWould) {
  const CodeTable table = make_table({{"a", "工", 9}, {"a", "戈", 8}, {"b", "子", 7}});
  Bytes bytes = build_mb(table, DEFAULT_MB_CONTAINER).value();
  ASSERT_EQ(compare_built_mb(table, bytes).value(), std::nullopt);

  Bytes changed = bytes;
  changed[MB_RECORDS_OFFSET + 2] = 1;  // the first record's priority
  EXPECT_EQ(compare_built_mb(table, changed).value(),
            std::optional<std::string>("编码 a 下的候选次序或内容变了"));
  EXPECT_EQ(compare_built_mb(table, changed).value(),
            compare_readback(table, read_back_of(changed)));

  // The two candidates of "a" swapped in the file (records a/工 and a/戈 are 3 + 1 + 2 bytes).
  Bytes swapped = bytes;
  std::swap_ranges(swapped.begin() + MB_RECORDS_OFFSET, swapped.begin() + MB_RECORDS_OFFSET + 6,
                   swapped.begin() + MB_RECORDS_OFFSET + 6);
  EXPECT_EQ(compare_built_mb(table, swapped).value(),
            std::optional<std::string>("编码 a 下的候选次序或内容变了"));

  // Codes in another order across codes are no difference: only each code's candidates count.
  const CodeTable reordered = make_table({{"b", "子", 7}, {"a", "工", 9}, {"a", "戈", 8}});
  EXPECT_EQ(compare_built_mb(reordered, bytes).value(), std::nullopt);

  // Another table's file: same count, codes renamed.
  const CodeTable renamed = make_table({{"c", "工", 9}, {"c", "戈", 8}, {"b", "子", 7}});
  EXPECT_EQ(compare_built_mb(renamed, bytes).value(),
            std::optional<std::string>("编码 c 回读后不存在"));

  Bytes broken = bytes;
  broken[MB_RECORDS_OFFSET] = 0;  // the first record's code length
  ASSERT_FALSE(read_mb(broken).has_value());
  EXPECT_EQ(compare_built_mb(table, broken).error(), read_mb(broken).error());
}

TEST(ExportSummary, VerifiedAndUnverified) {
  ExportResult result;
  result.bytes = Bytes(112'171);
  result.verdict = "已回读校验：1 条词条、27 个码元，与导入结果一致";
  result.entries = 1;
  result.verified = true;
  EXPECT_EQ(export_summary("C:\\码表\\wubi86.dict.yaml", "C:\\码表\\wubi86.mb", result),
            "导出 .mb\n"
            "========\n"
            "\n"
            "来源：C:\\码表\\wubi86.dict.yaml\n"
            "输出：C:\\码表\\wubi86.mb\n"
            "大小：112171 字节，词条 1\n"
            "校验：已回读校验：1 条词条、27 个码元，与导入结果一致\n"
            "\n"
            "这份 .mb 是运行时格式，把它交给用户在 App 里「从本机文件导入」即可，\n"
            "不必等新版本。生成它用的是与 App 内部完全相同的写盘函数。\n");

  result.verified = false;
  result.verdict = "回读对不上：导入 2 条 / 回读 1 条";
  result.entries = 2;
  EXPECT_EQ(export_summary("/src/a.txt", "/out/a.mb", result),
            "导出 .mb\n"
            "========\n"
            "\n"
            "来源：/src/a.txt\n"
            "输出：/out/a.mb\n"
            "大小：112171 字节，词条 2\n"
            "校验：回读对不上：导入 2 条 / 回读 1 条\n"
            "\n"
            "回读没通过，**不要**把这份文件发出去，请把这段报告交给开发。\n");
}

}  // namespace
}  // namespace qovira
