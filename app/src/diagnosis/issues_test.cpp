#include "qovira/app/diagnosis/issues.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qovira {
namespace {

using namespace std::string_literals;

constexpr std::string_view MISSING_COLUMNS_ADVICE = "词与编码之间要用一个 Tab 分隔，不是空格";
constexpr std::string_view CAPITAL_ADVICE = "编码只认小写字母，把大写改成小写";
constexpr std::string_view HALF_WIDTH_ADVICE = "把全角标点换成半角 , . ; /";
constexpr std::string_view STRAY_ADVICE = "编码里混进了不能作码元的字符，多半是打字时手滑";
constexpr std::string_view DUPLICATE_ADVICE = "重复的会被自动去掉，不影响使用";

std::vector<Issue> scan(std::string_view text, TableFormat format = TableFormat::Rime,
                        std::uint64_t* rows = nullptr) {
  IssueList issues;
  std::uint64_t counted = scan_body_lines(TableText::read(text, format), issues);
  if (rows != nullptr) {
    *rows = counted;
  }
  EXPECT_TRUE(issues.folded().empty());
  return issues.shown();
}

TEST(QuoteCodeTest, EscapesQuotesBackslashesAndControls) {
  EXPECT_EQ(quote_code("wqvb"), R"("wqvb")");
  EXPECT_EQ(quote_code(""), R"("")");
  EXPECT_EQ(quote_code(R"(a"b\c)"), R"("a\"b\\c")");
  EXPECT_EQ(quote_code("\t\n\r\0"s), R"("\t\n\r\0")");
  EXPECT_EQ(quote_code("a\x01"
                       "b\x1f\x7f"),
            R"("a\u{1}b\u{1f}\u{7f}")");
  // U+0085 and U+009F are C1 controls; U+00A0 and the rest are shown as they are.
  EXPECT_EQ(quote_code("\u0085\u009f\u00a0，工 <缺少编码>"),
            "\"\\u{85}\\u{9f}\u00a0，工 <缺少编码>\"");
}

TEST(IssueCatalogueTest, TextsLinesAndSeverities) {
  EXPECT_EQ(
      unreadable_text("文本编码无法读取：UTF-16 字节数不是偶数"),
      (Issue{IssueKind::UnreadableText, "文件读不出文本：文本编码无法读取：UTF-16 字节数不是偶数",
             "确认文件是 UTF-8 或带 BOM 的 UTF-16，没有被压缩或损坏", 0, Severity::Fatal}));
  EXPECT_EQ(
      missing_rime_header(),
      (Issue{IssueKind::MissingRimeHeader, "缺少 Rime 头部：正文前必须有独占一行的 `---` 与 `...`",
             "在文件开头补上 `---`、`name:`、`...` 三行；工具的自动修复能替你补", 0,
             Severity::Fatal}));
  EXPECT_EQ(import_failed("码表没有可导入的有效词条"),
            (Issue{IssueKind::ImportFailed, "导入失败：码表没有可导入的有效词条", "", 0,
                   Severity::Fatal}));
  EXPECT_EQ(importer_skipped(12, "Ab\t", "只支持小写字母、空格分隔的音节和 , . ; /"),
            (Issue{IssueKind::ImporterSkipped,
                   "导入器跳过：编码 \"Ab\\t\" —— 只支持小写字母、空格分隔的音节和 , . ; /", "", 12,
                   Severity::Warning}));
  EXPECT_EQ(importer_skipped_summary(5, 3),
            (Issue{IssueKind::ImporterSkippedSummary, "导入器共跳过 5 条，上面只列出前 3 条样本",
                   "", 0, Severity::Info}));
  EXPECT_EQ(missing_columns(4, "工 a"),
            (Issue{IssueKind::MissingColumns, "这一行没有制表符分隔的两列：工 a",
                   std::string(MISSING_COLUMNS_ADVICE), 4, Severity::Warning}));
  EXPECT_EQ(empty_code_or_text(5), (Issue{IssueKind::EmptyCodeOrText, "空的编码或空的词条",
                                          "删掉这一行", 5, Severity::Warning}));
  EXPECT_EQ(
      bad_code_characters(6, "a-b", "工", "-"),
      (Issue{IssueKind::BadCodeCharacters, R"(编码 "a-b"（词条「工」）含不能作码元的字符："-")",
             std::string(STRAY_ADVICE), 6, Severity::Warning}));
  EXPECT_EQ(duplicate_line(9, 7, "工", "a\"a"),
            (Issue{IssueKind::DuplicateLine, R"(与第 7 行完全重复：「工」"a\"a")",
                   std::string(DUPLICATE_ADVICE), 9, Severity::Info}));
  EXPECT_EQ(mb_build_failed("默认极点容器无效，不能安全生成导入表"),
            (Issue{IssueKind::MbBuildFailed, "生成 .mb 失败：默认极点容器无效，不能安全生成导入表",
                   "", 0, Severity::Fatal}));
  const std::string core_advice = "这是核心的问题，不是码表的问题，请把这份报告发给开发";
  EXPECT_EQ(mb_unreadable("x"), (Issue{IssueKind::MbUnreadable, "生成的 .mb 读不回来：x",
                                       core_advice, 0, Severity::Fatal}));
  EXPECT_EQ(mb_mismatch("字母表不同"),
            (Issue{IssueKind::MbMismatch, "生成的 .mb 回读后与导入结果不一致：字母表不同",
                   core_advice, 0, Severity::Fatal}));
}

TEST(IssueCatalogueTest, BadCodeAdviceOrder) {
  EXPECT_EQ(bad_code_characters(1, "Ab，", "，", "A，").advice, CAPITAL_ADVICE);
  EXPECT_EQ(bad_code_characters(1, "a，b", "，", "，").advice, HALF_WIDTH_ADVICE);
  EXPECT_EQ(bad_code_characters(1, "a／。", "／", "／。").advice, HALF_WIDTH_ADVICE);
  EXPECT_EQ(bad_code_characters(1, "a1", "x", "1").advice, STRAY_ADVICE);
}

// The scan reports repeated lines after its warnings, each group in line order.
TEST(LineScanTest, HandEditedRimeBody) {
  const std::string_view text =
      "---\n"                   // 1
      "name: x\n"               // 2
      "...\n"                   // 3
      "工\taaaa\n"              // 4
      "工 aaaa\n"               // 5: a space instead of the tab
      "一\t\n"                  // 6: the code column is empty
      "\t一\t\n"                // 7: the text column is empty
      "  # 注释\t带\t制表符\n"  // 8
      "...\n"                   // 9
      "\n"                      // 10
      "你好\tnv hk\n"           // 11: a space inside a code is fine
      "大\tDD，\n"              // 12
      "大\tdd，\n"              // 13
      "大\td-d-\r\r\n"          // 14
      "工\taaaa\r\n"            // 15
      "工\taaab\n"              // 16
      " 工 \t aaaa \t99\n"      // 17: the importer keeps the text's spaces: no repeat
      "甲乙丙丁戊己庚辛壬癸甲乙丙丁戊己庚辛壬癸甲乙丙丁戊己庚辛壬癸\n"     // 18: 30 characters
      "甲乙丙丁戊己庚辛壬癸甲乙丙丁戊己庚辛壬癸甲乙丙丁戊己庚辛壬癸子\n";  // 19: 31
  std::uint64_t rows = 0;
  std::vector<Issue> issues = scan(text, TableFormat::Rime, &rows);
  const std::vector<Issue> expected = {
      missing_columns(5, "工 aaaa"),
      empty_code_or_text(6),
      empty_code_or_text(7),
      bad_code_characters(12, "DD，", "大", "DD，"),
      bad_code_characters(13, "dd，", "大", "，"),
      bad_code_characters(14, "d-d-", "大", "--"),
      missing_columns(18, "甲乙丙丁戊己庚辛壬癸甲乙丙丁戊己庚辛壬癸甲乙丙丁戊己庚辛壬癸"),
      missing_columns(19, "甲乙丙丁戊己庚辛壬癸甲乙丙丁戊己庚辛壬癸甲乙丙丁戊己庚辛壬癸…"),
      duplicate_line(15, 4, "工", "aaaa"),
  };
  EXPECT_EQ(issues, expected);
  // Lines 4, 6, 7, 11, 12, 13, 14, 15, 16, 17 have two columns.
  EXPECT_EQ(rows, 10u);
}

TEST(LineScanTest, BinglingScansTheBodySectionOnly) {
  // Settings, section lines and comments are no rows, whatever letter case the section is in.
  const std::string_view text =
      "[CODETABLEHEADER]\n"
      "Name=五笔\t86\n"
      "CodeLength=4\t\n"
      "[codetable]\n"
      "a\t工\n"
      "; 注释\n"
      "\ta\t工\n"
      "aa*\t工\n"
      "工\ta\n"
      "[CODETABLEHEADER]\n"
      "Name\t二\n";
  std::uint64_t rows = 0;
  std::vector<Issue> issues = scan(text, TableFormat::Bingling, &rows);
  const std::vector<Issue> expected = {
      bad_code_characters(9, "工", "a", "工"),
      duplicate_line(7, 5, "工", "a"),
  };
  EXPECT_EQ(issues, expected);
  EXPECT_EQ(rows, 4u);
}

TEST(LineScanTest, RimeCodesMayHoldAnyWhiteSpace) {
  // The importer joins every white-space character out of a code.
  const std::vector<Issue> issues =
      scan("---\n...\n字\tax\u3000yz\n字\tax\u00a0y\u2003z\n字\ta\x0bx\n");
  const std::vector<Issue> expected = {duplicate_line(4, 3, "字", "axyz")};
  EXPECT_EQ(issues, expected);
}

// Scans the lines as a headerless table and checks the repeats against a map of each pair's last
// line: the first ones in full, all of them counted.
void expect_repeats_name_their_previous_line(
    const std::vector<std::pair<std::string, std::string>>& pairs) {
  std::string text;
  std::map<std::pair<std::string, std::string>, std::uint64_t> last_line;
  std::vector<Issue> expected;
  std::uint64_t line = 0;
  for (const auto& [word, code] : pairs) {
    text.append(word).append("\t").append(code).append("\n");
    auto [stored, inserted] = last_line.try_emplace({word, code}, ++line);
    if (!inserted) {
      expected.push_back(duplicate_line(line, stored->second, word, code));
      stored->second = line;
    }
  }
  ASSERT_GT(expected.size(), IssueList::SHOWN_PER_KIND);
  IssueList issues;
  scan_body_lines(TableText::read(text, TableFormat::Unknown), issues);
  const std::vector<Issue> first(expected.begin(), expected.begin() + IssueList::SHOWN_PER_KIND);
  EXPECT_EQ(issues.shown(), first);
  const std::vector<IssueList::Folded> rest = {{Severity::Info, DUPLICATE_ADVICE,
                                                IssueKind::DuplicateLine,
                                                expected.size() - IssueList::SHOWN_PER_KIND}};
  EXPECT_EQ(issues.folded(), rest);
}

TEST(LineScanTest, RepeatsNameThePreviousLineOfTheirPair) {
  // Few texts and codes, so most pairs repeat many times, interleaved with other pairs.
  const std::string_view texts[] = {"工", "式", "戈"};
  const std::string_view codes[] = {"a", "aa", "aaa", "b"};
  std::vector<std::pair<std::string, std::string>> pairs;
  std::uint32_t state = 12345;
  for (int line = 1; line <= 2000; ++line) {
    state = state * 1103515245 + 12345;
    pairs.emplace_back(texts[(state >> 8) % 3], codes[(state >> 16) % 4]);
  }
  expect_repeats_name_their_previous_line(pairs);
}

// Pairs that repeat at once and again after thousands of other pairs have pushed them out of
// what the scan remembers of recent lines.
TEST(LineScanTest, RepeatsFarApartNameTheirPreviousLine) {
  const auto word = [](std::string_view head, int number) {
    std::string text(head);
    text.append(std::to_string(number));
    return text;
  };
  std::vector<std::pair<std::string, std::string>> pairs;
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 20; ++i) {
      pairs.emplace_back(word("词", i), "abc");
      pairs.emplace_back(word("词", i), "abc");
    }
    for (int i = 0; i < 20000; ++i) {
      pairs.emplace_back(word("字", i * 7 + round), "xyz");
    }
  }
  expect_repeats_name_their_previous_line(pairs);
}

// Repeats tens of millions of lines after their pairs, further than a line's step is packed in.
TEST(LineScanTest, RepeatsMillionsOfLinesApartNameTheirPreviousLine) {
  constexpr std::uint64_t PAIRS = 5000;  // more than the scan keeps of recent lines
  constexpr std::uint64_t BLANK_LINES = 70'000'000;
  std::string pairs;
  for (std::uint64_t i = 0; i < PAIRS; ++i) {
    pairs.append("字").append(std::to_string(i)).append("\txyz\n");
  }
  std::string text = pairs;
  text.append(BLANK_LINES, '\n');
  text.append(pairs);

  IssueList issues;
  scan_body_lines(TableText::read(text, TableFormat::Unknown), issues);
  std::vector<Issue> first;
  for (std::uint64_t i = 0; i < IssueList::SHOWN_PER_KIND; ++i) {
    first.push_back(
        duplicate_line(PAIRS + BLANK_LINES + 1 + i, 1 + i, "字" + std::to_string(i), "xyz"));
  }
  EXPECT_EQ(issues.shown(), first);
  const std::vector<IssueList::Folded> rest = {{Severity::Info, DUPLICATE_ADVICE,
                                                IssueKind::DuplicateLine,
                                                PAIRS - IssueList::SHOWN_PER_KIND}};
  EXPECT_EQ(issues.folded(), rest);
}

// Lists appended together keep of each kind the first by line, wherever each came from, and
// count all of them.
TEST(IssueListTest, AppendedListsKeepTheFirstOfEachKindByLine) {
  IssueList odd;
  IssueList even;
  std::vector<Issue> expected;
  for (std::uint64_t line = 1; line <= 40; ++line) {
    Issue issue = missing_columns(line, "x");
    if (expected.size() < IssueList::SHOWN_PER_KIND) {
      expected.push_back(issue);
    }
    (line % 2 == 0 ? even : odd).add(std::move(issue));
  }
  even.add(import_failed("坏了"));
  odd.append(std::move(even));
  odd.sort();
  expected.insert(expected.begin(), import_failed("坏了"));
  EXPECT_EQ(odd.shown(), expected);
  const IssueCounts counts = odd.counts();
  EXPECT_EQ(counts.fatal, 1u);
  EXPECT_EQ(counts.warnings, 40u);
  ASSERT_EQ(odd.folded().size(), 1u);
  EXPECT_EQ(odd.folded()[0].count, 40 - IssueList::SHOWN_PER_KIND);
}

TEST(LineScanTest, SkipCoveringEveryLineScansNothing) {
  std::uint64_t rows = 99;
  EXPECT_TRUE(scan("---\n...\n", TableFormat::Rime, &rows).empty());
  EXPECT_EQ(rows, 0u);
  EXPECT_TRUE(scan("", TableFormat::Rime, &rows).empty());
  EXPECT_EQ(rows, 0u);
}

TEST(LineScanTest, AHugeLineGivesABoundedMessage) {
  const std::string code(1'000'000, 'A');
  const std::string word(1'000'000, 'x');
  const std::vector<Issue> issues = scan("---\n...\n" + word + "\t" + code + "\n");
  ASSERT_EQ(issues.size(), 1u);
  std::string quoted(1, '"');
  quoted.append(256, 'A').append("\"…");
  EXPECT_EQ(issues[0].message, "编码 " + quoted + "（词条「" + std::string(256, 'x') +
                                   "…」）含不能作码元的字符：" + quoted);
  EXPECT_EQ(issues[0].advice, CAPITAL_ADVICE);
}

TEST(SortIssuesTest, SeverityThenLineKeepingRaisedOrder) {
  std::vector<Issue> issues = {
      duplicate_line(5, 2, "工", "a"),
      empty_code_or_text(9),
      import_failed("x"),
      importer_skipped(4, "A", "r"),
      importer_skipped_summary(9, 3),
      missing_columns(4, "p"),
      mb_build_failed("y"),
      empty_code_or_text(2),
  };
  sort_issues(issues);
  const std::vector<Issue> expected = {
      import_failed("x"),
      mb_build_failed("y"),
      empty_code_or_text(2),
      importer_skipped(4, "A", "r"),
      missing_columns(4, "p"),
      empty_code_or_text(9),
      importer_skipped_summary(9, 3),
      duplicate_line(5, 2, "工", "a"),
  };
  EXPECT_EQ(issues, expected);
}

// Many issues in scrambled order land where a stable sort puts them, already sorted ones included.
TEST(SortIssuesTest, ManyIssuesMatchAStableSort) {
  std::vector<Issue> issues;
  for (std::uint64_t i = 0; i < 2000; ++i) {
    const std::uint64_t line = (i * 7919) % 97;
    issues.push_back(i % 3 == 0   ? duplicate_line(line, i, "工", "a")
                     : i % 3 == 1 ? empty_code_or_text(line)
                                  : mb_build_failed("y"));
  }
  // What a stable sort gives: by severity, then by line, then in raised order.
  std::vector<Issue> expected;
  for (const Severity severity : {Severity::Fatal, Severity::Warning, Severity::Info}) {
    for (std::uint64_t line = 0; line < 97; ++line) {
      for (const Issue& issue : issues) {
        if (issue.severity == severity && issue.line == line) {
          expected.push_back(issue);
        }
      }
    }
  }
  sort_issues(issues);
  EXPECT_EQ(issues, expected);
  sort_issues(issues);
  EXPECT_EQ(issues, expected);
}

}  // namespace
}  // namespace qovira
