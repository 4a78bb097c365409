#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "qovira/app/repair/repair.h"

namespace qovira {
namespace {

// Three-character words that begin with 中, coded with `agreeing` times g and `other` times h at
// position 0.
std::vector<std::string> three_character_lines(int agreeing, int other) {
  static constexpr std::string_view SECOND[] = {"国", "人", "文", "心", "间", "学",
                                                "央", "华", "东", "西", "南", "北"};
  std::vector<std::string> lines;
  for (int i = 0; i < agreeing + other; ++i) {
    const char letter = i < agreeing ? 'g' : 'h';
    lines.push_back(std::string("中") + std::string(SECOND[i % 12]) + "们\t" + letter + "wwu");
  }
  return lines;
}

CodeStats stats_of(const std::vector<std::string>& lines, TableFormat format = TableFormat::Rime) {
  std::string text;
  for (const std::string& line : lines) {
    text.append(line).push_back('\n');
  }
  const std::string header =
      format == TableFormat::Rime ? "---\n...\n" : "[CODETABLEHEADER]\n[CODETABLE]\n";
  return collect_code_stats(TableText::read(header + text, format));
}

TEST(CodeInference, AcceptsNineOfTenOnlyAndAtLeastFive) {
  const auto inferred = infer_code(stats_of(three_character_lines(9, 1)), "中华们", "1wwu");
  ASSERT_TRUE(inferred.has_value());
  EXPECT_EQ(inferred->code, "gwwu");
  EXPECT_EQ(inferred->basis, "同为 3 字词、4 码、第 1 码对应「中」的词条共 10 条，其中 9 条用 g");
  EXPECT_FALSE(infer_code(stats_of(three_character_lines(8, 1)), "中华们", "1wwu"));
  EXPECT_FALSE(infer_code(stats_of(three_character_lines(4, 0)), "中华们", "1wwu"));
  EXPECT_TRUE(infer_code(stats_of(three_character_lines(5, 0)), "中华们", "1wwu"));
  // Another shape is another slot.
  EXPECT_FALSE(infer_code(stats_of(three_character_lines(10, 0)), "中华", "1wwu"));
  EXPECT_FALSE(infer_code(stats_of(three_character_lines(10, 0)), "中华们", "1ww"));
}

TEST(CodeInference, PositionsPastTheWordHaveNoSlot) {
  std::vector<std::string> lines;
  for (int i = 0; i < 20; ++i) {
    lines.push_back("工人\tawwa");
  }
  const CodeStats stats = stats_of(lines);
  EXPECT_FALSE(infer_code(stats, "工人", "aw2a"));
  // The last position stands for the last character, here 人.
  const auto last = infer_code(stats, "工人", "aww9");
  ASSERT_TRUE(last.has_value());
  EXPECT_EQ(last->code, "awwa");
  EXPECT_EQ(last->basis, "同为 2 字词、4 码、第 4 码对应「人」的词条共 20 条，其中 20 条用 a");
}

TEST(CodeInference, OneLetterCodeStandsForTheCharacter) {
  const std::vector<std::string> lines(5, "工\ta");
  const auto inferred = infer_code(stats_of(lines), "工", "Ａ");
  ASSERT_TRUE(inferred.has_value());
  EXPECT_EQ(inferred->code, "a");
  EXPECT_EQ(inferred->basis, "同为 1 字词、1 码、第 1 码对应「工」的词条共 5 条，其中 5 条用 a");
}

TEST(CodeInference, EveryIllegalPositionMustBeGuessed) {
  std::vector<std::string> lines = three_character_lines(10, 0);
  const CodeStats stats = stats_of(lines);
  const auto both = infer_code(stats, "中华们", "1w#u");
  ASSERT_TRUE(both.has_value());  // position 2 stands for 们, which every entry codes w
  EXPECT_EQ(both->code, "gwwu");
  EXPECT_EQ(both->basis,
            "同为 3 字词、4 码、第 1 码对应「中」的词条共 10 条，其中 10 条用 g；"
            "同为 3 字词、4 码、第 3 码对应「们」的词条共 10 条，其中 10 条用 w");
  // Position 0 could be guessed, but no entry of this shape ends in 天.
  EXPECT_FALSE(infer_code(stats, "中华天", "1ww*"));
}

TEST(CodeInference, OnlyValidEntriesTeach) {
  std::vector<std::string> lines = three_character_lines(4, 0);
  lines.push_back("中国们\tGwwu");   // a capital
  lines.push_back("中国们\tg，wu");  // full-width punctuation
  lines.push_back("中国们\tg9wu");   // a digit
  lines.push_back("中国们\t");       // no code
  lines.push_back("中国们 gwwu");    // no tab
  lines.push_back("gwwu\t中国们");   // the other column order
  EXPECT_FALSE(infer_code(stats_of(lines), "中华们", "1wwu"));
  lines.push_back("中国们\tgwwu\t100");
  EXPECT_TRUE(infer_code(stats_of(lines), "中华们", "1wwu"));
}

TEST(CodeInference, StatisticsCountEveryPosition) {
  const std::vector<std::string> lines = {"中华人民\tkwwn", "中华人民\tkwwn"};
  const CodeStats stats = stats_of(lines);
  EXPECT_EQ(stats.size(), 4u);
  EXPECT_EQ(stats.at({4, 4, 0, U'中'}).at(U'k'), 2u);
  EXPECT_EQ(stats.at({4, 4, 2, U'人'}).at(U'w'), 2u);
  EXPECT_EQ(stats.at({4, 4, 3, U'民'}).at(U'n'), 2u);
}

}  // namespace
}  // namespace qovira
