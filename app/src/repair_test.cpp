#include "qovira/app/repair.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "../../table/src/test_data.h"
#include "qovira/table/import.h"
#include "qovira/table/text.h"

namespace qovira {
namespace {

constexpr std::string_view RIME_HEADER = "---\nname: t\nversion: \"1.0\"\nsort: original\n...\n";

RepairResult repair_rime_body(std::string_view body) {
  return repair_text(std::string(RIME_HEADER) + std::string(body), TableFormat::Rime, "t");
}

std::vector<std::uint64_t> lines_of(const std::vector<RepairItem>& items) {
  std::vector<std::uint64_t> lines;
  for (const RepairItem& item : items) {
    lines.push_back(item.line);
  }
  return lines;
}

TEST(RepairHeader, AddedWhenMissingAndLinesShiftByFive) {
  const RepairResult result = repair_text("工 aaaa\n", TableFormat::Rime, "wubi86");
  EXPECT_EQ(result.text, "---\nname: wubi86\nversion: \"1.0\"\nsort: original\n...\n工\taaaa\n");
  ASSERT_EQ(result.changes.size(), 2u);
  EXPECT_EQ(result.changes[0],
            (RepairItem{"补上了 Rime 头部（--- / name / sort / ...）",
                        "原文件缺少独占一行的 `---` 与 `...`，导入器认不出这是 Rime 词典", 0}));
  EXPECT_EQ(result.changes[1], (RepairItem{"列分隔改成 Tab：工\taaaa",
                                           "原行用空格分列，Rime/冰凌都要求一个制表符", 6}));
  EXPECT_TRUE(result.kept.empty());
}

TEST(RepairHeader, ExistingHeaderCopiedWithoutReport) {
  const std::string text = "# banner\n---\nname: x\ncolumns:\n  - text\n  - code\n...\n工\taaaa\n";
  const RepairResult result = repair_text(text, TableFormat::Rime, "ignored");
  EXPECT_EQ(result.text, text);
  EXPECT_TRUE(result.changes.empty());
  EXPECT_TRUE(result.kept.empty());
}

TEST(RepairHeader, EmptyTexts) {
  EXPECT_EQ(repair_text("", TableFormat::Rime, "t").text, RIME_HEADER);
  EXPECT_EQ(repair_text("", TableFormat::Bingling, "t").text, "\n");
  EXPECT_EQ(repair_text("", TableFormat::Unknown, "t").text, "\n");
  // Every line dropped still leaves one line end.
  EXPECT_EQ(repair_text("工\t\n", TableFormat::Unknown, "t").text, "\n");
}

TEST(RepairHeader, ByteOrderMarkKeepsFirstLineFromOpeningHeader) {
  const RepairResult result =
      repair_text("\xEF\xBB\xBF---\nname: x\n...\n工\taaaa\n", TableFormat::Rime, "t");
  ASSERT_FALSE(result.changes.empty());
  EXPECT_EQ(result.changes[0].line, 0u);
  EXPECT_EQ(result.kept.size(), 3u);  // the three header lines, now body lines that are no entries
  EXPECT_EQ(result.kept[0].line, 6u);
}

TEST(RepairLines, LineEndsBecomeLfWithOneFinalLf) {
  const RepairResult result =
      repair_text("工\taaaa\r\n# note\r\n\r\n人\twwww", TableFormat::Unknown, "t");
  EXPECT_EQ(result.text, "工\taaaa\n# note\n\n人\twwww\n");
  EXPECT_TRUE(result.changes.empty());
}

TEST(RepairLines, BlankAndCommentLinesPassWithTheirWhiteSpace) {
  const std::string body = "   \n\t\n   # 注释\tabc\n";
  const RepairResult result = repair_rime_body(body);
  EXPECT_EQ(result.text, std::string(RIME_HEADER) + body);
  EXPECT_TRUE(result.changes.empty());
  EXPECT_TRUE(result.kept.empty());
}

TEST(RepairRules, SpaceSeparatedColumnsInEitherOrder) {
  const RepairResult result = repair_rime_body("工 aaaa\naaaa 工\n工\u3000aaab\n");
  EXPECT_EQ(result.text, std::string(RIME_HEADER) + "工\taaaa\n工\taaab\n");
  EXPECT_EQ(lines_of(result.changes), (std::vector<std::uint64_t>{6, 7, 7, 8}));
  EXPECT_EQ(result.changes[1].summary, "列分隔改成 Tab：工\taaaa");
  EXPECT_EQ(result.changes[2].summary, "删掉与第 6 行完全重复的「工」aaaa");
}

TEST(RepairRules, BinglingKeepsCodeFirstAndListsItsSections) {
  const std::string text = "[CODETABLEHEADER]\nName=五笔\n[CODETABLE]\n工 a\na\t工\t5\n";
  const RepairResult result = repair_text(text, TableFormat::Bingling, "t");
  EXPECT_EQ(result.text, "[CODETABLEHEADER]\nName=五笔\n[CODETABLE]\na\t工\n");
  EXPECT_EQ(lines_of(result.kept), (std::vector<std::uint64_t>{1, 2, 3}));
  EXPECT_EQ(result.kept[0].summary, "这一行不是两列，原样留着：[CODETABLEHEADER]");
  EXPECT_EQ(result.kept[0].basis, "看不出哪段是词、哪段是编码，猜错会造出错误词条");
  // "a\t工\t5" duplicates the rebuilt "a\t工" of line 4.
  EXPECT_EQ(result.changes.back().summary, "删掉与第 4 行完全重复的「工」a");
}

TEST(RepairRules, LinesThatAreNotTwoColumnsAreKeptUnchanged) {
  const std::string body = "abc def\n工 作 aaaa\n工作\n";
  const RepairResult result = repair_rime_body(body);
  EXPECT_EQ(result.text, std::string(RIME_HEADER) + body);
  EXPECT_TRUE(result.changes.empty());
  ASSERT_EQ(result.kept.size(), 3u);
  EXPECT_EQ(result.kept[1].summary, "这一行不是两列，原样留着：工 作 aaaa");
}

TEST(RepairRules, LongLinesAreClippedInSummaries) {
  const std::string word(31 * 3, 'x');
  EXPECT_EQ(clip_line("  " + std::string(30, 'a') + " "), std::string(30, 'a'));
  EXPECT_EQ(clip_line(std::string(31, 'a')), std::string(30, 'a') + "…");
  std::string chinese;
  for (int i = 0; i < 31; ++i) {
    chinese += "字";
  }
  EXPECT_EQ(clip_line(chinese), chinese.substr(0, 90) + "…");
}

TEST(RepairRules, EmptyColumnsAreDropped) {
  const RepairResult result = repair_rime_body("工\t\n\taaaa\n工\t \t100\n");
  EXPECT_EQ(result.text, RIME_HEADER);
  ASSERT_EQ(result.changes.size(), 3u);
  EXPECT_EQ(result.changes[0],
            (RepairItem{"删掉空编码/空词条的行", "两列缺一列的记录没有意义，导入器也会跳过", 6}));
}

TEST(RepairRules, FullWidthPunctuationAndCapitals) {
  const RepairResult result = repair_rime_body("工\taa，\n工\tAAAA\n工\t。、／；\n工\tA；\n");
  EXPECT_EQ(result.text, std::string(RIME_HEADER) + "工\taa,\n工\taaaa\n工\t.//;\n工\ta;\n");
  ASSERT_EQ(result.changes.size(), 5u);
  EXPECT_EQ(result.changes[0],
            (RepairItem{"编码 aa， → aa,", "把全角标点换成半角；码元只认半角 , . ; /", 6}));
  EXPECT_EQ(result.changes[1], (RepairItem{"编码 AAAA → aaaa", "编码只认小写字母", 7}));
  // One line, two changes: the punctuation first, then the capital.
  EXPECT_EQ(result.changes[3].summary, "编码 A； → A;");
  EXPECT_EQ(result.changes[4].summary, "编码 A; → a;");
}

TEST(RepairRules, CapitalThenDuplicateGivesTwoChangesOnOneLine) {
  const RepairResult result = repair_rime_body("工\taaaa\n工\tAAAA\n");
  EXPECT_EQ(result.text, std::string(RIME_HEADER) + "工\taaaa\n");
  EXPECT_EQ(lines_of(result.changes), (std::vector<std::uint64_t>{7, 7}));
  EXPECT_EQ(result.changes[1],
            (RepairItem{"删掉与第 6 行完全重复的「工」aaaa",
                        "同一个词在同一个编码下重复登记，导入时本来也会去重", 7}));
}

TEST(RepairRules, ThirdCopyNamesTheSecond) {
  std::string body;
  for (int line = 6; line <= 35; ++line) {
    body += (line == 10 || line == 20 || line == 30) ? "工\taaaa\n" : "#\n";
  }
  const RepairResult result = repair_rime_body(body);
  ASSERT_EQ(result.changes.size(), 2u);
  EXPECT_EQ(result.changes[0].line, 20u);
  EXPECT_EQ(result.changes[0].summary, "删掉与第 10 行完全重复的「工」aaaa");
  EXPECT_EQ(result.changes[1].line, 30u);
  EXPECT_EQ(result.changes[1].summary, "删掉与第 20 行完全重复的「工」aaaa");
}

TEST(RepairRules, FurtherColumnsSurviveTheRebuild) {
  const RepairResult result =
      repair_rime_body("  工 \t aaaa\t100\r\r\n人\tWWWW\t+7\tstem\n工作\taaww\t\n");
  EXPECT_EQ(result.text,
            std::string(RIME_HEADER) + "工\taaaa\t100\n人\twwww\t+7\tstem\n工作\taaww\t\n");
  ASSERT_EQ(result.changes.size(), 1u);
  EXPECT_EQ(result.changes[0].summary, "编码 WWWW → wwww");
}

TEST(RepairRules, IllegalCodeCharactersAreInferredOrTheEntryLeftOut) {
  std::string body;
  for (const char* word : {"人工", "加工", "手工", "分工", "做工"}) {
    body += std::string(word) + "\txaxx\n";
  }
  const std::string valid = body;
  body += "上工\tx1xx\n上工\t1x2x\n";
  const RepairResult result = repair_rime_body(body);
  EXPECT_EQ(result.text, std::string(RIME_HEADER) + valid + "上工\txaxx\n");
  ASSERT_EQ(result.changes.size(), 1u);
  EXPECT_EQ(result.changes[0],
            (RepairItem{"编码 x1xx → xaxx（词条「上工」）",
                        "同为 2 字词、4 码、第 2 码对应「工」的词条共 5 条，其中 5 条用 a", 11}));
  ASSERT_EQ(result.kept.size(), 1u);
  EXPECT_EQ(result.kept[0], (RepairItem{"编码 1x2x（词条「上工」）含非法码元，已从导出中排除",
                                        "同类词条的用码规律不够一致，猜出来的编码可能是错的", 12}));
}

TEST(RepairRules, BinglingPinnedMarkIsNoIllegalCharacter) {
  std::string body = "[CODETABLEHEADER]\n[CODETABLE]\n";
  for (const char* word : {"人工", "加工", "手工", "分工", "做工"}) {
    body += std::string("xaxx\t") + word + "\n";
  }
  const std::string valid = body;
  body += "aa*\t工\nAA*\t式\nx1xx*\t上工\t9\n*\t戈\n";
  const RepairResult result = repair_text(body, TableFormat::Bingling, "t");
  EXPECT_EQ(result.text, valid + "aa*\t工\naa*\t式\nxaxx*\t上工\t9\n");
  ASSERT_EQ(result.changes.size(), 2u);
  EXPECT_EQ(result.changes[0].summary, "编码 AA* → aa*");
  EXPECT_EQ(result.changes[1].summary, "编码 x1xx* → xaxx*（词条「上工」）");
  // A lone "*" is no marked code: it is an illegal code of its own.
  ASSERT_EQ(result.kept.size(), 3u);
  EXPECT_EQ(result.kept[2].summary, "编码 *（词条「戈」）含非法码元，已从导出中排除");
}

TEST(RepairRules, WeightedRimeTableKeepsItsPriorities) {
  const std::string header = "---\nname: w\nversion: \"1.0\"\nsort: by_weight\n...\n";
  const std::string clean =
      header + "工\taaaa\t500\n式\taaaa\t20\n戈\taaaa\t3\n人\twwww\t800\n个\twhj\t40\n";
  const std::string damaged =
      header + "工\tAAAA\t500\n式\taaaa\t20\n戈\taaaa\t3\n人\tWWWW\t800\n个\twhj\t40\n";
  const RepairResult result = repair_text(damaged, TableFormat::Rime, "w");
  EXPECT_EQ(result.text, clean);
  const auto expected = import_rime(clean);
  const auto repaired = import_rime(result.text);
  ASSERT_TRUE(expected.has_value());
  ASSERT_TRUE(repaired.has_value());
  EXPECT_EQ(repaired->code_table.entries, expected->code_table.entries);
  EXPECT_NE(repaired->code_table.entries.front().priority, 100);
}

// A real dictionary damaged the way hand edits damage it; the repair must give back every damaged
// entry with its code and, where the line still had it, its weight.
class RepairDamagedWubi86 : public testing::Test {
 protected:
  using Priorities = std::map<std::pair<std::string, std::string>, std::uint8_t>;

  static Priorities priorities_of(const CodeTable& table) {
    Priorities priorities;
    for (const TableEntry& entry : table.entries) {
      priorities.emplace(std::pair(entry.code, entry.text), entry.priority);
    }
    return priorities;
  }

  // Rebuilds the body with damage; remembers what each kind of damage hit.
  std::string damage(std::string_view original) {
    const std::vector<std::string_view> lines = split_lines(original);
    const std::uint64_t header_lines = find_rime_header_end(std::span(lines)).line_count;
    std::string damaged;
    std::uint64_t entry_number = 0;
    std::uint64_t zhong_number = 0;
    for (std::size_t index = 0; index < lines.size(); ++index) {
      std::string line(lines[index]);
      const auto entry = parse_entry_line(line, TableFormat::Rime);
      if (index >= header_lines && entry && !entry->code.empty()) {
        const std::string text(entry->text);
        std::string code(entry->code);
        const std::size_t code_end = line.find('\t') + 1 + code.size();
        const std::string further = line.substr(code_end);
        ++entry_number;
        if (text.starts_with("中") && count_chars(text) == 3 && code.size() == 4 &&
            ++zhong_number % 4 == 0) {
          code[0] = '7';
          digit_codes.emplace_back(entry->code, text);
          line = text + "\t" + code + further;
        } else if (entry_number % 1000 == 1) {
          line = text + "\t" + ascii_upper(code) + further;
          ++capital_codes;
        } else if (entry_number % 1000 == 501) {
          line = text + " " + code;
          space_separated.emplace_back(code, text);
        } else if (code.ends_with(",")) {
          line = text + "\t" + code.substr(0, code.size() - 1) + "，" + further;
          ++full_width_codes;
        }
      }
      damaged.append(line).push_back('\n');
    }
    return damaged;
  }

  static std::string ascii_upper(std::string code) {
    for (char& c : code) {
      c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return code;
  }

  std::vector<std::pair<std::string, std::string>> digit_codes;  // (code, text)
  std::vector<std::pair<std::string, std::string>> space_separated;
  std::size_t capital_codes = 0;
  std::size_t full_width_codes = 0;
};

TEST_F(RepairDamagedWubi86, RepairImportsWithTheDamagedEntriesRestored) {
  const auto path = test_data::wubi86_dict_path();
  if (!path) {
    GTEST_SKIP() << "rime-data-wubi could not be fetched";
  }
  // Two hand-added entries with punctuation in their codes.
  const std::string original = test_data::read_file_bytes(*path) + "，\tzz,\t1\n、\tzzz,\t1\n";
  const std::string damaged = damage(original);
  ASSERT_GE(digit_codes.size(), 5u);
  ASSERT_GE(space_separated.size(), 100u);
  ASSERT_EQ(full_width_codes, 2u);

  const RepairResult result = repair_text(damaged, TableFormat::Rime, "wubi86");
  EXPECT_TRUE(result.kept.empty());
  EXPECT_EQ(result.changes.size(),
            digit_codes.size() + space_separated.size() + capital_codes + full_width_codes);
  const auto expected = import_rime(original);
  const auto repaired = import_rime(result.text);
  ASSERT_TRUE(expected.has_value());
  ASSERT_TRUE(repaired.has_value()) << repaired.error().message();
  EXPECT_EQ(repaired->skipped.total, expected->skipped.total);

  // Lines retyped with spaces lost their weight; every other entry keeps its priority too.
  Priorities want = priorities_of(expected->code_table);
  Priorities got = priorities_of(repaired->code_table);
  for (const auto& entry : space_separated) {
    ASSERT_TRUE(got.contains(entry)) << entry.second;
    want.erase(entry);
    got.erase(entry);
  }
  for (const auto& entry : digit_codes) {
    EXPECT_TRUE(got.contains(entry)) << entry.second;
  }
  EXPECT_EQ(got.size(), want.size());
  EXPECT_TRUE(got == want);
}

}  // namespace
}  // namespace qovira
