#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "qovira/app/diagnosis/diagnosis.h"

namespace qovira {
namespace {

Diagnosis with_issues(std::vector<Issue> issues) {
  Diagnosis diagnosis;
  for (Issue& issue : issues) {
    diagnosis.issues.add(std::move(issue));
  }
  diagnosis.importable = diagnosis.issues.counts().fatal == 0;
  return diagnosis;
}

// The part of a report after the verdict.
std::string issue_section(const Diagnosis& diagnosis) {
  const std::string report = render_report("x.dict.yaml", diagnosis);
  const std::size_t start = report.find("逐项\n----\n");
  return start == std::string::npos
             ? report
             : report.substr(start + std::string_view("逐项\n----\n").size());
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
