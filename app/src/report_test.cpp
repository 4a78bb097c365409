#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "qovira/app/diagnosis.h"

namespace qovira {
namespace {

constexpr std::string_view HEADER =
    "岚栖输入法编码导入器 · 诊断报告\n"
    "==============================\n"
    "\n"
    "文件：C:\\码表\\x.dict.yaml\n";

Diagnosis with_issues(std::vector<Issue> issues) {
  Diagnosis diagnosis;
  diagnosis.issues = std::move(issues);
  diagnosis.importable = count_issues(diagnosis.issues).fatal == 0;
  return diagnosis;
}

// The part of a report after the verdict.
std::string issue_section(const Diagnosis& diagnosis) {
  const std::string report = render_report("C:\\码表\\x.dict.yaml", diagnosis);
  const std::size_t start = report.find("逐项\n----\n");
  return start == std::string::npos
             ? report
             : report.substr(start + std::string_view("逐项\n----\n").size());
}

TEST(ReportTest, FiguresAlphabetAndVerdict) {
  Diagnosis diagnosis;
  diagnosis.format = TableFormat::Bingling;
  diagnosis.alphabet = "abcdefghijklmnopqrstuvwxyz/;";
  diagnosis.body_rows = 12;
  diagnosis.imported_entries = 11;
  diagnosis.importable = true;
  diagnosis.issues = {duplicate_line(7, 3, "工", "a"), importer_skipped_summary(9, 3)};
  const std::string expected = std::string(HEADER) +
                               "格式：冰凌文本码表\n"
                               "正文行数：12\n"
                               "导入词条：11\n"
                               "字母表（28 个码元）：abcdefghijklmnopqrstuvwxyz/;\n"
                               "问题：致命 0，警告 0，提示 2\n"
                               "\n"
                               ">>> 结论：这份码表可以被岚栖输入法导入。\n"
                               "\n"
                               "逐项\n"
                               "----\n"
                               "[提示] 第 7 行：与第 3 行完全重复：「工」\"a\"\n"
                               "        → 重复的会被自动去掉，不影响使用\n"
                               "[提示] 导入器共跳过 9 条，上面只列出前 3 条样本\n";
  EXPECT_EQ(render_report("C:\\码表\\x.dict.yaml", diagnosis), expected);
}

TEST(ReportTest, NoTableNoAlphabetLine) {
  const std::string expected = std::string(HEADER) +
                               "格式：认不出来的格式\n"
                               "正文行数：0\n"
                               "导入词条：0\n"
                               "问题：致命 0，警告 0，提示 0\n"
                               "\n"
                               ">>> 结论：这份码表**导入不进去**，原因见下面的[致命]条目。\n"
                               "\n"
                               "没有发现任何问题。\n";
  EXPECT_EQ(render_report("C:\\码表\\x.dict.yaml", Diagnosis{}), expected);
}

TEST(ReportTest, SixteenDuplicatesFoldAfterFifteen) {
  std::vector<Issue> issues;
  for (std::uint64_t line = 2; line < 18; ++line) {
    issues.push_back(duplicate_line(line, line - 1, "工", "a"));
  }
  const std::string section = issue_section(with_issues(issues));
  EXPECT_EQ(std::ranges::count(section, '\n'), 31);
  EXPECT_NE(section.find("第 16 行"), std::string::npos);
  EXPECT_EQ(section.find("第 17 行"), std::string::npos);
  EXPECT_TRUE(section.ends_with(
      "        → 重复的会被自动去掉，不影响使用\n"
      "[提示] 同类问题还有 1 处（已折叠）　修法同上：重复的会被自动去掉，不影响使用\n"));
}

TEST(ReportTest, FoldLinesFollowKeyOrder) {
  // Raised here in an order unlike the key order: stray characters before capitals, infos first.
  std::vector<Issue> issues;
  for (std::uint64_t line = 1; line <= 17; ++line) {
    issues.push_back(importer_skipped_summary(line, 3));
  }
  for (std::uint64_t line = 1; line <= 16; ++line) {
    issues.push_back(bad_code_characters(line, "a-", "工", "-"));
  }
  for (std::uint64_t line = 1; line <= 18; ++line) {
    issues.push_back(bad_code_characters(line, "A", "工", "A"));
  }
  for (std::uint64_t line = 1; line <= 16; ++line) {
    issues.push_back(import_failed("x"));
  }
  const std::string section = issue_section(with_issues(issues));
  // The capital-letter advice sorts before the stray-character advice byte by byte.
  EXPECT_TRUE(section.ends_with(
      "[致命] 同类问题还有 1 处（已折叠）\n"
      "[警告] 同类问题还有 3 处（已折叠）　修法同上：编码只认小写字母，把大写改成小写\n"
      "[警告] 同类问题还有 1 "
      "处（已折叠）　修法同上：编码里混进了不能作码元的字符，多半是打字时手滑\n"
      "[提示] 同类问题还有 2 处（已折叠）\n"))
      << section;
  EXPECT_TRUE(section.starts_with("[提示] 导入器共跳过 1 条，上面只列出前 3 条样本\n"));
}

}  // namespace
}  // namespace qovira
