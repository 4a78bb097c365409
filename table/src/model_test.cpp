#include "qovira/table/model.h"

#include <gtest/gtest.h>

#include <compare>
#include <string>
#include <string_view>
#include <utility>

namespace qovira {
namespace {

template <typename String>
class EntryStringTest : public testing::Test {};
using EntryStrings = testing::Types<EntryString, CodeString>;
TYPED_TEST_SUITE(EntryStringTest, EntryStrings);

TYPED_TEST(EntryStringTest, KeepsShortAndLongValuesThroughCopiesMovesAndSwaps) {
  using String = TypeParam;
  for (const std::size_t length : {0, 1, 13, 14, 15, 16, 300}) {
    const std::string value(length, 'x');
    String held(value);
    EXPECT_EQ(held.view(), value);
    String copy = held;
    String moved = std::move(held);
    EXPECT_EQ(copy, value);
    EXPECT_EQ(moved, value);
    EXPECT_TRUE(held.empty());
    String other("工");
    swap(other, moved);
    EXPECT_EQ(other, value);
    EXPECT_EQ(moved, "工");
    other = other;  // self-assignment keeps the value
    EXPECT_EQ(other, value);
    moved = std::move(copy);
    EXPECT_EQ(moved, value);
    EXPECT_EQ(moved <=> std::string(length + 1, 'x'), std::strong_ordering::less);
  }
  // Values with zero bytes keep them.
  EXPECT_EQ(String(std::string_view("a\0b", 3)).size(), 3u);
}

TEST(ValidateAlphabet, AcceptsUpToThirtyDistinctAllowedCharacters) {
  EXPECT_TRUE(validate_alphabet("abcdefghijklmnopqrstuvwxyz,./;").has_value());
  EXPECT_TRUE(validate_alphabet("a").has_value());
}

TEST(ValidateAlphabet, RejectsWithTheAlphabetAsPassed) {
  for (std::string_view bad : {"", "abcdefghijklmnopqrstuvwxyz,./;a", "aba", "ab-", "ab甲", "A"}) {
    auto result = validate_alphabet(bad);
    ASSERT_FALSE(result.has_value()) << bad;
    EXPECT_EQ(result.error().message(), "码表字母表无效：" + std::string(bad));
  }
}

TEST(TableError, MessagesFillTheirFields) {
  EXPECT_EQ(TableError::invalid_container().message(), "默认极点容器无效，不能安全生成导入表");
  EXPECT_EQ(TableError::header_field_too_long("码表说明").message(),
            "码表说明 太长，无法写入极点容器头部");
  EXPECT_EQ(TableError::too_many_invalid_records(1009, 101).message(),
            "无效记录过多（有效 1009 条、无效 101 条），疑似列错位或码表严重损坏");
  EXPECT_EQ(TableError::not_rime_dict().message(), "不是完整的 Rime .dict.yaml（缺少 --- 或 ...）");
  EXPECT_EQ(TableError::not_bingling_table().message(),
            "不是冰凌文本码表（缺少 [CODETABLEHEADER] 或 [CODETABLE]）");
  EXPECT_EQ(TableError::invalid_metadata("CodeLength=x 不是整数").message(),
            "码表方案元数据无效：CodeLength=x 不是整数");
  EXPECT_EQ(TableError::undecodable_text("UTF-16 字节数不是偶数").message(),
            "文本编码无法读取：UTF-16 字节数不是偶数");
}

TEST(TableError, HugeValuesAreCutInMessages) {
  const std::string code(300, 'a');
  EXPECT_EQ(TableError::invalid_entry(code, "编码长度必须为 1–255").message(),
            "编码 " + code.substr(0, 256) + "… 无法导入：编码长度必须为 1–255");
  const std::string alphabet(300, '\0');
  EXPECT_EQ(TableError::invalid_alphabet(alphabet).message(),
            "码表字母表无效：" + alphabet.substr(0, 256) + "…");
  const std::string exact(256, 'x');
  EXPECT_EQ(TableError::invalid_alphabet(exact).message(), "码表字母表无效：" + exact);
}

TEST(SkipLog, CountsEverythingKeepsThreeCleanedSamples) {
  SkipLog log;
  log.add(4, "a\tb\r\n", "原因");
  log.add(5, "\t\r", "原因");
  log.add(6, std::string(60, 'x'), "原因");
  log.add(7, "d", "原因");
  EXPECT_EQ(log.total, 4u);
  ASSERT_EQ(log.samples.size(), 3u);
  EXPECT_EQ(log.samples[0], (SkippedSample{"ab", "原因", 4}));
  EXPECT_EQ(log.samples[1].code_shown, "<缺少编码>");
  EXPECT_EQ(log.samples[2].code_shown, std::string(48, 'x'));
}

}  // namespace
}  // namespace qovira
