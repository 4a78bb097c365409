#include "qovira/app/repair/repair.h"
#include "qovira/app/repair/text_mends.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "../../../table/src/test_data.h"
#include "qovira/app/diagnosis/diagnosis.h"
#include "qovira/table/decoding.h"
#include "qovira/table/entry.h"
#include "qovira/table/format.h"
#include "qovira/table/import.h"
#include "qovira/table/utf8.h"
#include "repair_invariant.h"

namespace qovira {
namespace {

constexpr std::string_view RIME_HEADER = "---\nname: t\nversion: \"1.0\"\nsort: original\n...\n";

RepairResult repair_rime_body(std::string_view body) {
  return repair_text(std::string(RIME_HEADER) + std::string(body), TableFormat::Rime, "t");
}

std::vector<std::uint64_t> lines_of(const RepairItems& items) {
  std::vector<std::uint64_t> lines;
  for (const RepairItem& item : items) {
    lines.push_back(item.line);
  }
  return lines;
}

std::vector<RepairRule> rules_of(const RepairItems& items) {
  std::vector<RepairRule> rules;
  for (const RepairItem& item : items) {
    rules.push_back(item.rule);
  }
  return rules;
}

// Repairs `text` and checks that the repair keeps every entry and lists every line it leaves out.
RepairResult repaired_keeping_invariant(const std::string& text, TableFormat format) {
  RepairResult result = repair_text(text, format, "c");
  const auto violation = repair_invariant::repair_invariant_violation(text, format, result);
  EXPECT_FALSE(violation) << *violation << "\n" << text;
  return result;
}

TEST(RepairHeader, AddedWhenMissingAndLinesShiftByFive) {
  const RepairResult result = repair_text("工 aaaa\n", TableFormat::Rime, "wubi86");
  EXPECT_EQ(result.text, "---\nname: wubi86\nversion: \"1.0\"\nsort: original\n...\n工\taaaa\n");
  EXPECT_EQ(rules_of(result.changes),
            (std::vector<RepairRule>{RepairRule::HeaderAdded, RepairRule::ColumnsSplit}));
  EXPECT_EQ(lines_of(result.changes), (std::vector<std::uint64_t>{0, 6}));
  EXPECT_TRUE(result.kept.empty());

  // The added header says "sort: original": weights do not count, so a heavier repeat goes too.
  EXPECT_EQ(repair_text("工\taaaa\n工\taaaa\t9\n", TableFormat::Rime, "w").text,
            "---\nname: w\nversion: \"1.0\"\nsort: original\n...\n工\taaaa\n");
}

TEST(RepairHeader, ExistingHeaderCopiedWithoutReport) {
  const std::string text = "# banner\n---\nname: x\ncolumns:\n  - text\n  - code\n...\n工\taaaa\n";
  const RepairResult result = repair_text(text, TableFormat::Rime, "ignored");
  EXPECT_EQ(result.text, text);
  EXPECT_TRUE(result.changes.empty());
  EXPECT_TRUE(result.kept.empty());
}

TEST(RepairHeader, EmptyTextsAndLineEnds) {
  EXPECT_EQ(repair_text("", TableFormat::Rime, "t").text, RIME_HEADER);
  EXPECT_EQ(repair_text("", TableFormat::Bingling, "t").text, "\n");
  // A text of no format whose column order its lines do not show is left as it stands.
  EXPECT_EQ(repair_text("工\t\r\n", TableFormat::Unknown, "t").text, "工\t\n");
  // Blank and comment lines keep their white space; CR LF becomes LF; one final LF. A list of
  // entries without a header gets one.
  const RepairResult result =
      repair_text("工\taaaa\r\n   # 注\tabc\r\n\t\r\n  \n人\twwww", TableFormat::Unknown, "t");
  EXPECT_EQ(result.text, std::string(RIME_HEADER) + "工\taaaa\n   # 注\tabc\n\t\n  \n人\twwww\n");
  EXPECT_EQ(lines_of(result.changes), (std::vector<std::uint64_t>{0}));
  EXPECT_TRUE(result.kept.empty());
}

TEST(RepairRules, SpaceSeparatedColumns) {
  const std::string unclear = "abc def\n工 作 aaaa\n" + std::string(40, 'x') + "\n";
  const RepairResult result = repair_rime_body("工 aaaa\naaaa 工\n工\u3000aaab\n" + unclear);
  EXPECT_EQ(result.text, std::string(RIME_HEADER) + "工\taaaa\n工\taaab\n" + unclear);
  EXPECT_EQ(lines_of(result.changes), (std::vector<std::uint64_t>{6, 7, 7, 8}));
  EXPECT_EQ(rules_of(result.changes),
            (std::vector<RepairRule>{RepairRule::ColumnsSplit, RepairRule::ColumnsSplit,
                                     RepairRule::Duplicate, RepairRule::ColumnsSplit}));
  EXPECT_EQ(lines_of(result.kept), (std::vector<std::uint64_t>{9, 10, 11}));
  EXPECT_EQ(rules_of(result.kept), std::vector<RepairRule>(3, RepairRule::NotTwoColumns));
  EXPECT_EQ(result.kept[2].summary, "这一行不是两列，原样留着：" + std::string(30, 'x') + "…");
}

TEST(RepairRules, BinglingKeepsCodeFirstAndListsItsSections) {
  const std::string text = "[CODETABLEHEADER]\nName=五笔\n[CODETABLE]\n工 a\na\t工\t5\n";
  const RepairResult result = repair_text(text, TableFormat::Bingling, "t");
  // The second copy is heavier (5 against none): it stays for the import to merge.
  EXPECT_EQ(result.text, "[CODETABLEHEADER]\nName=五笔\n[CODETABLE]\na\t工\na\t工\t5\n");
  EXPECT_EQ(lines_of(result.kept), (std::vector<std::uint64_t>{5}));
  EXPECT_EQ(rules_of(result.kept), (std::vector<RepairRule>{RepairRule::HeavierDuplicateKept}));
  EXPECT_EQ(lines_of(result.changes), (std::vector<std::uint64_t>{4}));

  // Settings pass as they are, whatever they hold: only the body section is repaired.
  const std::string settings =
      "[CODETABLEHEADER]\nName=五笔\t86\nCodeLength=4\t\n[codetable]\na\t工\n";
  const RepairResult kept_settings = repair_text(settings, TableFormat::Bingling, "t");
  EXPECT_EQ(kept_settings.text, settings);
  EXPECT_TRUE(kept_settings.changes.empty());
  EXPECT_TRUE(kept_settings.kept.empty());

  // ";" starts a 冰凌 comment: it is no entry written with a space.
  const std::string commented = "; 冰凌 码表\n[CODETABLE]\n  ; 注释\na\t工\n";
  const RepairResult untouched = repair_text(commented, TableFormat::Bingling, "t");
  EXPECT_EQ(untouched.text, commented);
  EXPECT_TRUE(untouched.changes.empty());
  EXPECT_TRUE(untouched.kept.empty());
}

TEST(RepairRules, EmptyColumnsAreDropped) {
  const RepairResult result = repair_rime_body("工\t\n\taaaa\n工\t \t100\n");
  EXPECT_EQ(result.text, RIME_HEADER);
  EXPECT_EQ(lines_of(result.changes), (std::vector<std::uint64_t>{6, 7, 8}));
  EXPECT_EQ(rules_of(result.changes), std::vector<RepairRule>(3, RepairRule::EmptyColumn));

  // A Rime text of white space alone is an entry the importer takes (the full-width space of
  // Debian's cangjie5 and quick5); a 冰凌 importer trims it away.
  const RepairResult space = repair_rime_body("　\tzxaa\n");
  EXPECT_EQ(space.text, std::string(RIME_HEADER) + "　\tzxaa\n");
  EXPECT_TRUE(space.changes.empty());
  // The 冰凌 importer trims the line first, so that one has no text column: it is left alone.
  const RepairResult trimmed = repair_text("[CODETABLE]\nzxaa\t　\n", TableFormat::Bingling, "t");
  EXPECT_EQ(trimmed.text, "[CODETABLE]\nzxaa\t　\n");
  EXPECT_EQ(lines_of(trimmed.kept), (std::vector<std::uint64_t>{2}));
}

TEST(RepairRules, FullWidthPunctuationAndCapitals) {
  const RepairResult result = repair_rime_body("工\taa，\n工\tAAAA\n工\t。、／；\n工\tA；\n");
  EXPECT_EQ(result.text, std::string(RIME_HEADER) + "工\taa,\n工\taaaa\n工\t.//;\n工\ta;\n");
  EXPECT_EQ(lines_of(result.changes), (std::vector<std::uint64_t>{6, 7, 8, 9, 9}));
  EXPECT_EQ(
      rules_of(result.changes),
      (std::vector<RepairRule>{RepairRule::FullWidth, RepairRule::Capitals, RepairRule::FullWidth,
                               RepairRule::FullWidth, RepairRule::Capitals}));
  // No golden report holds this wording yet.
  EXPECT_EQ(result.changes[0], (RepairItem{RepairRule::FullWidth, "编码 aa， → aa,",
                                           "把全角标点换成半角；码元只认半角 , . ; /", 6}));
  // One line, two changes: the punctuation first, then the capital.
  EXPECT_EQ(result.changes[3].summary, "编码 A； → A;");
  EXPECT_EQ(result.changes[4].summary, "编码 A; → a;");
}

TEST(RepairRules, DuplicatesNameThePreviousCopy) {
  std::string body = "工\taaaa\n工\tAAAA\n";  // lines 6 and 7
  for (int line = 8; line <= 30; ++line) {
    body += (line == 20 || line == 30) ? "工\taaaa\n" : "#\n";
  }
  const RepairResult result = repair_rime_body(body);
  EXPECT_EQ(result.text.find("工", result.text.find("工") + 1), std::string::npos);
  EXPECT_EQ(lines_of(result.changes), (std::vector<std::uint64_t>{7, 7, 20, 30}));
  EXPECT_EQ(rules_of(result.changes),
            (std::vector<RepairRule>{RepairRule::Capitals, RepairRule::Duplicate,
                                     RepairRule::Duplicate, RepairRule::Duplicate}));
  // Each copy names the one before it.
  EXPECT_EQ(result.changes[1].summary, "删掉与第 6 行完全重复的「工」aaaa");
  EXPECT_EQ(result.changes[2].summary, "删掉与第 7 行完全重复的「工」aaaa");
  EXPECT_EQ(result.changes[3].summary, "删掉与第 20 行完全重复的「工」aaaa");
}

TEST(RepairRules, ALineSplitAtSpacesCountsForLaterRepeats) {
  // The split line is rebuilt in a buffer of its own: the repeat check must still know it when
  // the next split line has reused that buffer.
  const RepairResult result = repair_rime_body("工 aaaa\n人 bbbb\n工\taaaa\n");
  EXPECT_EQ(result.text, std::string(RIME_HEADER) + "工\taaaa\n人\tbbbb\n");
  EXPECT_EQ(lines_of(result.changes), (std::vector<std::uint64_t>{6, 7, 8}));
  EXPECT_EQ(rules_of(result.changes),
            (std::vector<RepairRule>{RepairRule::ColumnsSplit, RepairRule::ColumnsSplit,
                                     RepairRule::Duplicate}));
}

TEST(RepairRules, RimeRepeatsAreKeyedByTheJoinedCode) {
  // The importer joins the white space out of a Rime code: "aa\vaa" and "aa aa" are "aaaa".
  const RepairResult result = repaired_keeping_invariant(
      std::string(RIME_HEADER) + "工\taa\vaa\n工\u3000aaaa\n工\taa aa\n", TableFormat::Rime);
  EXPECT_EQ(result.text, std::string(RIME_HEADER) + "工\taa\vaa\n");
  EXPECT_EQ(lines_of(result.changes), (std::vector<std::uint64_t>{7, 7, 8}));
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
  EXPECT_EQ(lines_of(result.changes), (std::vector<std::uint64_t>{11}));
  EXPECT_EQ(rules_of(result.changes), (std::vector<RepairRule>{RepairRule::CodeInferred}));
  EXPECT_EQ(lines_of(result.removed), (std::vector<std::uint64_t>{12}));
  EXPECT_EQ(rules_of(result.removed), (std::vector<RepairRule>{RepairRule::CodeNotInferred}));
}

TEST(RepairRules, HugeCodesAndWordsAreCutInSummaries) {
  const std::string code(1'000'000, 'A');
  const std::string word(1'000'000, 'x');
  const RepairResult result = repair_rime_body(word + "\t" + code + "1\n");
  const std::string cut_code = std::string(256, 'A') + "…";
  ASSERT_EQ(result.changes.size(), 1u);
  EXPECT_EQ(result.changes[0].summary, "编码 " + cut_code + " → " + std::string(256, 'a') + "…");
  ASSERT_EQ(result.removed.size(), 1u);
  EXPECT_EQ(result.removed[0].summary, "编码 " + std::string(256, 'a') + "…（词条「" +
                                           std::string(256, 'x') +
                                           "…」）含非法码元，已从导出中排除");
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
  ASSERT_EQ(result.removed.size(), 1u);
  EXPECT_EQ(result.removed[0].summary, "编码 *（词条「戈」）含非法码元，已从导出中排除");
}

TEST(RepairRules, WeightedRimeTableKeepsItsFurtherColumnsAndPriorities) {
  const std::string header = "---\nname: w\nversion: \"1.0\"\nsort: by_weight\n...\n";
  // The importer reads a Rime text as it stands, spaces and all, so the repair leaves it so.
  const std::string clean =
      header + "  工 \taaaa\t500\n式\taaaa\t20\tstem\n戈\taaaa\t3\n人\twwww\t800\n个\twhj\t\n";
  const std::string damaged = header +
                              "  工 \t AAAA\t500\r\r\n式\taaaa\t20\tstem\n戈\taaaa\t3\n"
                              "人\tWWWW\t800\n个\twhj\t\n";
  const RepairResult result = repair_text(damaged, TableFormat::Rime, "w");
  EXPECT_EQ(result.text, clean);
  EXPECT_EQ(result.changes.size(), 2u);
  const auto expected = import_rime(clean);
  const auto repaired = import_rime(result.text);
  ASSERT_TRUE(expected.has_value());
  ASSERT_TRUE(repaired.has_value());
  EXPECT_EQ(repaired->code_table.entries, expected->code_table.entries);
  EXPECT_NE(repaired->code_table.entries.front().priority, 100);
}

TEST(RepairRules, AHeavierRepeatStaysForTheImportToMerge) {
  const std::string header = "---\nname: w\nsort: by_weight\n...\n";
  const std::string source =
      header + "式\taaaa\t50\n工\taaaa\t5\n工\taaaa\t500\n工\taaaa\t100\n工\taaaa\n";
  const RepairResult result = repair_text(source, TableFormat::Rime, "w");
  EXPECT_EQ(result.text, header + "式\taaaa\t50\n工\taaaa\t5\n工\taaaa\t500\n");
  EXPECT_EQ(lines_of(result.changes), (std::vector<std::uint64_t>{8, 9}));
  EXPECT_EQ(rules_of(result.changes), std::vector<RepairRule>(2, RepairRule::Duplicate));
  ASSERT_EQ(result.kept.size(), 1u);
  // No golden report holds this wording yet.
  EXPECT_EQ(
      result.kept[0],
      (RepairItem{RepairRule::HeavierDuplicateKept, "与第 6 行重复的「工」aaaa 权重更高，原样留着",
                  "导入时同词同码只留一条、取较高的权重；删掉这一行，这个词的排序就会变低", 7}));
  // The repaired table imports exactly as the source does: 工 first, with weight 500.
  const auto expected = import_rime(source);
  const auto repaired = import_rime(result.text);
  ASSERT_TRUE(expected.has_value());
  ASSERT_TRUE(repaired.has_value());
  EXPECT_EQ(repaired->code_table.entries, expected->code_table.entries);
  EXPECT_EQ(repaired->code_table.entries.front().text, "工");

  // Where weights do not count, the first copy is all the import keeps.
  const std::string original = "---\nname: w\nsort: original\n...\n工\taaaa\t5\n工\taaaa\t500\n";
  EXPECT_EQ(repair_text(original, TableFormat::Rime, "w").text,
            "---\nname: w\nsort: original\n...\n工\taaaa\t5\n");
}

TEST(RepairRules, RepeatsOfWeightsBeyondThirtyTwoBitsAreFoundAndHugeWordsTakenOut) {
  const std::string header = "---\nname: w\nsort: by_weight\n...\n";
  // A weight that no longer fits 32 bits arrives on a repeat; a later, lighter copy still names it.
  const std::string weights =
      header + "工\taaaa\t7\n工\taaaa\t8589934592\n工\taaaa\t8589934591\n工\taaaa\t9\n";
  const RepairResult by_weight = repair_text(weights, TableFormat::Rime, "w");
  EXPECT_EQ(by_weight.text, header + "工\taaaa\t7\n工\taaaa\t8589934592\n");
  EXPECT_EQ(lines_of(by_weight.kept), (std::vector<std::uint64_t>{6}));
  ASSERT_EQ(by_weight.changes.size(), 2u);
  EXPECT_EQ(by_weight.changes[0].summary, "删掉与第 6 行完全重复的「工」aaaa");
  EXPECT_EQ(by_weight.changes[1].summary, "删掉与第 7 行完全重复的「工」aaaa");

  std::string word;
  for (int i = 0; i < 30000; ++i) {
    word.append("工");
  }
  std::string huge(RIME_HEADER);
  huge.append(word).append("\taaaa\n").append(word).append("\taaaa\n");
  // Words no .mb record holds are taken out, each listed, before any repeat check.
  const RepairResult repaired = repair_text(huge, TableFormat::Rime, "t");
  EXPECT_EQ(lines_of(repaired.removed), (std::vector<std::uint64_t>{6, 7}));
  EXPECT_EQ(repaired.text, RIME_HEADER);
}

TEST(RepairRules, RimeColumnsFollowTheHeader) {
  // Code first, as the header says: a valid dictionary comes back unchanged, mended lines keep
  // that order and their weights.
  const std::string code_first = "---\nname: c\ncolumns:\n  - code\n  - text\n  - weight\n...\n";
  const std::string clean = code_first + "aaaa\t工\t5\nwqvb\t你好\t9\nb\t了\n";
  const RepairResult untouched = repair_text(clean, TableFormat::Rime, "c");
  EXPECT_EQ(untouched.text, clean);
  EXPECT_TRUE(untouched.changes.empty());
  EXPECT_TRUE(untouched.kept.empty());

  const RepairResult mended =
      repair_text(code_first + "AAAA\t工\t5\nwqvb 你好\nb\t了\nb\t了\n", TableFormat::Rime, "c");
  EXPECT_EQ(mended.text, code_first + "aaaa\t工\t5\nwqvb\t你好\nb\t了\n");
  EXPECT_EQ(lines_of(mended.changes), (std::vector<std::uint64_t>{8, 9, 11}));
  EXPECT_EQ(mended.changes[1].summary, "列分隔改成 Tab：wqvb\t你好");

  // The code in the third column: a line of two pieces cannot be such a row.
  const std::string third = "---\nname: t\ncolumns:\n  - text\n  - weight\n  - code\n...\n";
  const RepairResult far = repair_text(third + "工\t5\tAAAA\n你好 wqvb\n", TableFormat::Rime, "t");
  EXPECT_EQ(far.text, third + "工\t5\taaaa\n你好 wqvb\n");
  EXPECT_EQ(lines_of(far.changes), (std::vector<std::uint64_t>{8}));
  EXPECT_EQ(lines_of(far.kept), (std::vector<std::uint64_t>{9}));
}

// Debian's wubi86 damaged the way hand edits damage a table: the repair must give back every
// damaged entry with its code and, where the line still had it, its weight.
struct Damage {
  std::string text;
  std::vector<std::pair<std::string, std::string>> digit_codes;      // (code, text)
  std::vector<std::pair<std::string, std::string>> space_separated;  // (code, text)
  std::size_t capitals = 0;
  std::size_t full_width = 0;
};

Damage damage_body(std::string_view original) {
  Damage damage;
  std::uint64_t entries = 0;
  std::uint64_t zhong_entries = 0;
  TableText::read(original, TableFormat::Rime).for_each_line([&](const TextLine& entry) {
    std::string line(entry.raw);
    if (entry.kind == LineKind::Entry && !entry.code.empty()) {
      const std::string text(entry.text);
      const std::string code(entry.code);
      const std::string further = line.substr(line.find('\t') + 1 + code.size());
      ++entries;
      if (text.starts_with("中") && count_chars(text) == 3 && code.size() == 4 &&
          ++zhong_entries % 4 == 0) {
        line = text + "\t7" + code.substr(1) + further;
        damage.digit_codes.emplace_back(code, text);
      } else if (entries % 1000 == 1) {
        std::string upper = code;
        std::transform(upper.begin(), upper.end(), upper.begin(),
                       [](char c) { return static_cast<char>(std::toupper(c)); });
        line = text + "\t" + upper + further;
        ++damage.capitals;
      } else if (entries % 1000 == 501) {
        line = text + " " + code;
        damage.space_separated.emplace_back(code, text);
      } else if (code.ends_with(",")) {
        line = text + "\t" + code.substr(0, code.size() - 1) + "，" + further;
        ++damage.full_width;
      }
    }
    damage.text.append(line).push_back('\n');
  });
  return damage;
}

using Priorities = std::map<std::pair<std::string, std::string>, std::uint8_t>;

Priorities priorities_of(const CodeTable& table) {
  Priorities priorities;
  for (const TableEntry& entry : table.entries) {
    priorities.emplace(std::pair(entry.code, entry.text), entry.priority);
  }
  return priorities;
}

TEST(RepairRealDictionary, DamagedWubi86ImportsWithItsEntriesRestored) {
  const auto path = test_data::wubi86_dict_path();
  if (!path) {
    GTEST_SKIP() << "rime-data-wubi could not be fetched";
  }
  // Two hand-added entries with punctuation in their codes.
  const std::string original = test_data::read_file_bytes(*path) + "，\tzz,\t1\n、\tzzz,\t1\n";
  const Damage damage = damage_body(original);
  ASSERT_GE(damage.digit_codes.size(), 5u);
  ASSERT_GE(damage.space_separated.size(), 100u);
  ASSERT_EQ(damage.full_width, 2u);

  const RepairResult result = repair_text(damage.text, TableFormat::Rime, "wubi86");
  EXPECT_TRUE(result.kept.empty());
  EXPECT_EQ(result.changes.size(), damage.digit_codes.size() + damage.space_separated.size() +
                                       damage.capitals + damage.full_width);
  const auto expected = import_rime(original);
  const auto repaired = import_rime(result.text);
  ASSERT_TRUE(expected.has_value());
  ASSERT_TRUE(repaired.has_value()) << repaired.error().message();
  EXPECT_EQ(repaired->skipped.total, expected->skipped.total);

  // Lines retyped with spaces lost their weight; every other entry keeps its priority.
  Priorities want = priorities_of(expected->code_table);
  Priorities got = priorities_of(repaired->code_table);
  for (const auto& entry : damage.space_separated) {
    ASSERT_TRUE(got.contains(entry)) << entry.second;
    want.erase(entry);
    got.erase(entry);
  }
  EXPECT_TRUE(got == want);
}

// Generated damaged tables, each repaired and checked against the repair invariant: every entry
// of a source that imports comes back, and every line left out is listed.
class DamagedTableGenerator {
 public:
  explicit DamagedTableGenerator(std::uint32_t seed) : random_(seed) {}

  struct Case {
    std::string text;
    TableFormat format = TableFormat::Rime;
  };

  Case next() {
    Case made;
    const std::uint32_t shape = pick(5);
    const bool bingling = shape == 4;
    made.format = bingling ? TableFormat::Bingling : TableFormat::Rime;
    std::vector<std::string> columns = {"text", "code"};
    std::string head;
    if (bingling) {
      head = pick(2) == 0 ? "; 冰凌码表\n" : "";
      head += "[CODETABLEHEADER]\nName=生成\t表\nCodeLength=4\t\n";
      head += pick(2) == 0 ? "[CODETABLE]\n" : "\n[codetable]\n";
      columns = {"code", "text", "weight"};
    } else if (shape == 0) {
      // No header at all, or one that is never closed: the repair adds its own.
      head = pick(2) == 0 ? "" : "---\nname: 坏\n";
    } else {
      head = pick(3) == 0 ? "# 由 [CODETABLE] 格式转换而来\n---\n" : "---\n";
      head += "name: gen\nversion: \"1.0\"\n";
      head += pick(2) == 0 ? "sort: by_weight\n" : "sort: original\n";
      if (shape >= 2) {
        columns = COLUMN_ORDERS[pick(std::size(COLUMN_ORDERS))];
        head += "columns:\n";
        for (const std::string& column : columns) {
          head += "  - " + column + "\n";
        }
      }
      head += "...\n";
    }
    const bool two_columns = columns.size() == 2;
    const std::uint32_t damage_percent = DAMAGE_PERCENTS[pick(std::size(DAMAGE_PERCENTS))];

    std::vector<std::string> lines;
    std::vector<std::map<std::string, std::string>> written;  // the rows so far, by column
    const std::uint32_t count = 8 + pick(40);
    for (std::uint32_t i = 0; i < count; ++i) {
      std::map<std::string, std::string> row = clean_row(bingling);
      std::string separator = "\t";
      if (pick(100) < damage_percent) {
        switch (pick(12)) {
          case 0:
            std::ranges::transform(row["code"], row["code"].begin(),
                                   [](char c) { return static_cast<char>(std::toupper(c)); });
            break;
          case 1:
            row["code"] += FULL_WIDTH[pick(std::size(FULL_WIDTH))];
            break;
          case 2:
            row["code"][pick(row["code"].size())] = static_cast<char>('0' + pick(10));
            break;
          case 3:
            separator = pick(2) == 0 ? " " : "\u3000";
            break;
          case 4:
            row["code"].insert(pick(row["code"].size() + 1), "\u3000");
            break;
          case 5:
            row[pick(2) == 0 ? "code" : "text"].clear();
            break;
          case 6:
            if (!written.empty()) {
              row = written[pick(written.size())];
              row["weight"] = std::to_string(pick(1000));
            }
            break;
          case 7:
            lines.push_back(pick(2) == 0 ? "这一行没有编码" : "abc def ghi");
            break;
          case 8:
            lines.push_back(bingling && pick(2) == 0 ? "; 注释" : "# 注释 [CODETABLE]");
            lines.emplace_back(pick(2) == 0 ? "" : "   ");
            break;
          case 9:
            row["code"] = " " + row["code"] + " ";
            break;
          case 10:
            if (bingling) {
              row["code"] += "*";
            } else {
              row["stem"] = "zz";
            }
            break;
          default:
            row["code"] += ";";
            break;
        }
      }
      written.push_back(row);
      if (separator != "\t" && two_columns) {
        lines.push_back(row["text"] + separator + row["code"]);
        continue;
      }
      std::string line;
      for (std::size_t c = 0; c < columns.size(); ++c) {
        line += (c == 0 ? "" : "\t") + row[columns[c]];
      }
      lines.push_back(line);
    }

    const std::uint32_t line_ends = pick(6);
    const std::string end = line_ends == 0 ? "\r\n" : line_ends == 1 ? "\r" : "\n";
    for (const std::string& line : lines) {
      head += line + (line_ends == 2 && pick(3) == 0 ? "\r\n" : end);
    }
    if (pick(4) == 0 && !head.empty()) {
      head.pop_back();  // no line end after the last line
    }
    if (line_ends == 1) {
      std::ranges::replace(head, '\n', '\r');
    }
    made.text = std::move(head);
    return made;
  }

 private:
  static constexpr std::string_view CHARACTERS[] = {"工", "式", "人", "中", "国", "大", "地",
                                                    "上", "下", "和", "平", "学", "生", "天"};
  static constexpr std::string_view FULL_WIDTH[] = {"，", "。", "；", "／", "、"};
  static constexpr std::uint32_t DAMAGE_PERCENTS[] = {0, 5, 20, 60};
  static inline const std::vector<std::string> COLUMN_ORDERS[] = {
      {"text", "code", "weight"},         {"code", "text"},
      {"code", "text", "weight"},         {"text", "weight", "code"},
      {"text", "code", "weight", "stem"},
  };

  std::uint32_t pick(std::size_t below) { return static_cast<std::uint32_t>(random_() % below); }

  // Each character has its own four letters; a word takes its code from its characters' codes
  // the way shape-based tables do, so that codes follow a rule the inference can see.
  static std::string letters_of(std::size_t character) {
    std::string letters;
    for (std::size_t k = 0; k < 4; ++k) {
      letters.push_back(static_cast<char>('a' + (character * 7 + k * 5) % 26));
    }
    return letters;
  }

  std::map<std::string, std::string> clean_row(bool bingling) {
    const std::uint32_t length = 1 + pick(3);
    std::string text;
    std::vector<std::string> codes;
    for (std::uint32_t k = 0; k < length; ++k) {
      const std::size_t character = pick(std::size(CHARACTERS));
      text += CHARACTERS[character];
      codes.push_back(letters_of(character));
    }
    std::string code;
    if (length == 1) {
      code = codes[0].substr(0, 1 + pick(4));
    } else if (length == 2) {
      code = codes[0].substr(0, 2) + codes[1].substr(0, 2);
    } else {
      code = codes[0].substr(0, 1) + codes[1].substr(0, 1) + codes[2].substr(0, 2);
    }
    std::map<std::string, std::string> row{{"text", text}, {"code", code}};
    row["weight"] = pick(3) == 0 && !bingling ? "" : std::to_string(pick(500));
    return row;
  }

  std::mt19937 random_;
};

TEST(RepairInvariant, HoldsOnGeneratedDamagedTables) {
  DamagedTableGenerator generator(20240614);
  std::size_t importable = 0;
  std::size_t with_changes = 0;
  for (int i = 0; i < 400; ++i) {
    const DamagedTableGenerator::Case made = generator.next();
    // As the batch detects it; a body without any header is also repaired as the Rime text it
    // was meant to be, which adds a header.
    const TableFormat detected = detect_format({}, made.text);
    std::vector<TableFormat> formats{detected};
    if (detected == TableFormat::Unknown && made.format == TableFormat::Rime) {
      formats.push_back(TableFormat::Rime);
    }
    for (const TableFormat format : formats) {
      const RepairResult result = repair_text(made.text, format, "gen");
      const auto violation =
          repair_invariant::repair_invariant_violation(made.text, format, result);
      EXPECT_FALSE(violation) << "case " << i << ": " << *violation << "\n" << made.text;
      with_changes += result.changes.empty() && result.kept.empty() ? 0 : 1;
    }
    const bool imports = (detected == TableFormat::Rime && import_rime(made.text)) ||
                         (detected == TableFormat::Bingling && import_bingling(made.text));
    importable += imports ? 1 : 0;
  }
  // The cases must exercise both halves of the invariant.
  EXPECT_GE(importable, 100u);
  EXPECT_GE(with_changes, 200u);
}

TEST(RepairInvariant, CatchesLostEntriesReorderedCandidatesAndUnlistedLines) {
  using repair_invariant::repair_invariant_violation;
  const std::string source = std::string(RIME_HEADER) + "工\taaaa\n式\taaaa\n";
  EXPECT_FALSE(repair_invariant_violation(source, TableFormat::Rime, {source, {}, {}, {}}));
  // Listing the line does not excuse losing its entry.
  const RepairResult lost{
      std::string(RIME_HEADER) + "工\taaaa\n", {{RepairRule::RefusedLine, "删", "因", 7}}, {}, {}};
  EXPECT_TRUE(repair_invariant_violation(source, TableFormat::Rime, lost));
  const RepairResult swapped{std::string(RIME_HEADER) + "式\taaaa\n工\taaaa\n", {}, {}, {}};
  EXPECT_TRUE(repair_invariant_violation(source, TableFormat::Rime, swapped));

  // A text that never imports still lists what it leaves out, shifted past an added header.
  const std::string body = "工\taaaa\nabc\n";
  RepairResult unlisted{std::string(RIME_HEADER) + "工\taaaa\n",
                        mend_text(body, TableFormat::Rime, "t").changes,
                        {},
                        {}};
  EXPECT_TRUE(repair_invariant_violation(body, TableFormat::Rime, unlisted));
  unlisted.kept.push_back({RepairRule::NotTwoColumns, "留", "因", 7});
  EXPECT_FALSE(repair_invariant_violation(body, TableFormat::Rime, unlisted));
}

// Found by the repair fuzzer: columns that name no text column read the code column as the text
// too, so trimming the code there rewrote the entry's text, and no change said so.
TEST(RepairInvariant, ACodeColumnThatIsAlsoTheTextKeepsItsEntry) {
  const std::string text = "---\ncolumns:\n  - code\n...\n\u3000a\n";
  repaired_keeping_invariant(text, TableFormat::Rime);
}

// Found by the repair fuzzer: a marker taken out of a header line lets the column list go on.
TEST(RepairInvariant, AMarkerInTheHeaderIsTakenOutAndTheLinesStillListed) {
  const std::string text = "---\ncolumns:\n-code\n[CODETABLE]-text\n...\ny\t4\n";
  const RepairResult result = repaired_keeping_invariant(text, TableFormat::Bingling);
  EXPECT_EQ(result.text, "---\ncolumns:\n-code\n-text\n...\ny\t4\n");
  EXPECT_EQ(lines_of(result.changes), (std::vector<std::uint64_t>{4}));
}

// Found by the repair fuzzer: a 冰凌 section line keeps the text a 冰凌 table, even when the line
// that held the only upper-case marker is left out and a Rime header follows.
TEST(RepairInvariant, ASectionLineKeepsABinglingTableBinglingAfterItsRepair) {
  const std::string text = "[CodeTable]\n[CODETABLE]\t7\ny\t7\t\n---\n...\n";
  EXPECT_EQ(mend_text(text, TableFormat::Bingling, "t").format, TableFormat::Bingling);
  const RepairResult result = repaired_keeping_invariant(text, TableFormat::Bingling);
  EXPECT_EQ(result.text, "[CODETABLE]\ny\t7\n---\n...\n");
}

// Inputs the repair fuzzer found, each repaired keeping every entry, and the text it gives.
TEST(RepairInvariant, FuzzerFindingsRepairAsExpected) {
  struct Finding {
    std::string_view text;
    TableFormat format;
    std::string_view repaired;
  };
  const Finding findings[] = {
      // A 冰凌 import stops at a code with ";", so a line split at spaces must not make one out of
      // a line the importer skipped.
      {"[CODETABLE]\na\t9\nj; 表\nb 人\n[CODETABLEHEADER]", TableFormat::Bingling,
       "[CODETABLE]\na\t9\nj; 表\nb\t人\n[CODETABLEHEADER]\n"},
      // Where the code column is the text column too, a mended code is the entry's word as well,
      // so repeats are keyed by it.
      {"---\ncolumns:\n-code\n...\nnav\nNav\n", TableFormat::Rime,
       "---\ncolumns:\n-code\n...\nnav\n"},
      // A line whose capital code the importer skipped is mended and merges into the same entry on
      // a later line, lending it its heavier weight, as the table meant.
      {"---\n...\n产\tU\t8\n产\tu\n", TableFormat::Rime, "---\n...\n产\tu\t8\n"},
  };
  for (const Finding& finding : findings) {
    SCOPED_TRACE(finding.text);
    EXPECT_EQ(repaired_keeping_invariant(std::string(finding.text), finding.format).text,
              finding.repaired);
  }
}

// Found by the repair fuzzer: a 冰凌 code of nothing but the pin mark imports as the empty code,
// which no .mb holds; the repair leaves the line for a person and says so.
TEST(RepairInvariant, ACodeOfOnlyThePinMarkIsListedNotLost) {
  const std::string text = "[CODETABLEHEADER]\n[CODETABLE]\n*\t星\t10\na\t工\t9\n";
  const RepairResult result = repaired_keeping_invariant(text, TableFormat::Bingling);
  EXPECT_EQ(lines_of(result.removed), (std::vector<std::uint64_t>{3}));
}

// Found by the repair fuzzer: a 冰凌 table whose only upper-case marker is in a line the repair
// leaves out gets its section lines in upper case, so that it is still recognised.
TEST(RepairRules, SectionLinesInUpperCaseWhenNoneIs) {
  const std::string text = "[CodeTableHeader]\n[CodeTable]\n*\t[CODETABLE]\na\th";
  const RepairResult result = repaired_keeping_invariant(text, TableFormat::Bingling);
  EXPECT_EQ(result.text, "[CODETABLEHEADER]\n[CODETABLE]\na\th\n");
  ASSERT_EQ(result.changes.size(), 2u);
  EXPECT_EQ(result.changes[0].summary, "分节行改成大写：[CODETABLEHEADER]");
  EXPECT_EQ(lines_of(result.changes), (std::vector<std::uint64_t>{1, 2}));
  EXPECT_EQ(detect_format({}, result.text), TableFormat::Bingling);
  // A table with an upper-case section line keeps its lines as they are.
  const std::string mixed = "[CODETABLEHEADER]\n[codetable]\na\th\n";
  EXPECT_EQ(repair_text(mixed, TableFormat::Bingling, "c").text, mixed);
}

TEST(RepairItemsTest, RunsOfRepeatsReadBackItemByItem) {
  RepairItems items;
  items.push_back({RepairRule::HeaderAdded, "补上了头部", "缺头部", 0});
  // Lines 7 to 9 each name the line before: one run. Line 11 names 9, not 10: a new record.
  for (std::uint64_t line = 7; line <= 9; ++line) {
    items.push_naming(RepairRule::Duplicate, line, "删掉与第 ", line == 7 ? 3 : line - 1,
                      " 行重复的「工」", "依据");
  }
  items.push_naming(RepairRule::Duplicate, 11, "删掉与第 ", 9, " 行重复的「工」", "依据");
  items.push_naming(RepairRule::Duplicate, 12, "删掉与第 ", 11, " 行重复的「人」", "依据");
  // The same words under another rule are an item of their own.
  items.push_naming(RepairRule::HeavierDuplicateKept, 13, "删掉与第 ", 12, " 行重复的「人」",
                    "依据");
  items.push_front({RepairRule::Encoding, "转成 UTF-8", "GBK", 0});

  std::vector<std::string> summaries;
  for (const RepairItem& item : items) {
    summaries.push_back(std::to_string(item.line) + " " + item.summary + " " + item.basis);
  }
  EXPECT_EQ(summaries,
            (std::vector<std::string>{
                "0 转成 UTF-8 GBK", "0 补上了头部 缺头部", "7 删掉与第 3 行重复的「工」 依据",
                "8 删掉与第 7 行重复的「工」 依据", "9 删掉与第 8 行重复的「工」 依据",
                "11 删掉与第 9 行重复的「工」 依据", "12 删掉与第 11 行重复的「人」 依据",
                "13 删掉与第 12 行重复的「人」 依据"}));
  EXPECT_EQ(items.size(), 8u);
  EXPECT_EQ(items[4], (RepairItem{RepairRule::Duplicate, "删掉与第 8 行重复的「工」", "依据", 9}));
  EXPECT_EQ(
      rules_of(items),
      (std::vector<RepairRule>{RepairRule::Encoding, RepairRule::HeaderAdded, RepairRule::Duplicate,
                               RepairRule::Duplicate, RepairRule::Duplicate, RepairRule::Duplicate,
                               RepairRule::Duplicate, RepairRule::HeavierDuplicateKept}));
  EXPECT_EQ(items.front().summary, "转成 UTF-8");
}

TEST(RepairItemsTest, OneLineRepeatedAMillionTimesIsListedInFull) {
  std::string text(RIME_HEADER);
  for (int i = 0; i < 1'000'000; ++i) {
    text.append("工\taaaa\n");
  }
  const RepairResult result = repair_text(text, TableFormat::Rime, "t");
  EXPECT_EQ(result.text, std::string(RIME_HEADER) + "工\taaaa\n");
  ASSERT_EQ(result.changes.size(), 999'999u);
  std::uint64_t expected_line = 7;
  for (const RepairItem& item : result.changes) {
    ASSERT_EQ(item.line, expected_line);
    ASSERT_EQ(item.summary,
              "删掉与第 " + std::to_string(expected_line - 1) + " 行完全重复的「工」aaaa");
    ++expected_line;
  }
}

}  // namespace
}  // namespace qovira

namespace qovira {
namespace {

TEST(RepairRules, EveryLineTheImporterRefusesIsMendedOrTakenOut) {
  struct Case {
    TableFormat format;
    std::string source;
    std::string repaired;
    std::vector<std::uint64_t> changed;
    std::vector<std::uint64_t> removed;
  };
  const std::string weighted = "---\nname: w\nsort: by_weight\n...\n";
  const std::string bingling = "[CODETABLEHEADER]\nName=t\n[CODETABLE]\n";
  const std::string long_word(128 * 3, 'x');
  const Case cases[] = {
      // A lost first tab, swapped columns and full-width letters in a weighted Rime table.
      {TableFormat::Rime,
       weighted + "工作 aawt\t80\nkhfj\t中华\n中国\tｋｈｌｇ\n",
       weighted + "工作\taawt\t80\n中华\tkhfj\n中国\tkhlg\n",
       {5, 6, 7},
       {}},
      // Syllables with spaces and plain words stay as they are.
      {TableFormat::Rime,
       weighted + "你好\tni hao\t3\n工\taaaa\t2\n",
       weighted + "你好\tni hao\t3\n工\taaaa\t2\n",
       {},
       {}},
      // What no .mb record holds is taken out.
      {TableFormat::Rime,
       weighted + long_word + "\taa\n工\taaaa\n",
       weighted + "工\taaaa\n",
       {},
       {5}},
      // 冰凌 codes holding what its importer refuses, and a pin mark after a space.
      {TableFormat::Bingling,
       bingling + "aaaa\t工\nab,c\t甲\nwwww *\t人\n",
       bingling + "aaaa\t工\nwwww*\t人\n",
       {6},
       {5}},
      {TableFormat::Bingling,
       bingling + "aaaa\t工\nab\t" + long_word + "\n",
       bingling + "aaaa\t工\n",
       {},
       {5}},
      // Settings mended from the codes; an over-long name shortened.
      {TableFormat::Bingling,
       "[CODETABLEHEADER]\nName=" + std::string(200, 'n') +
           "\nCodeLength=x\nCodeCharacters=ab\n[CODETABLE]\nabc\t工\nqq\t人\n",
       "[CODETABLEHEADER]\nName=" + std::string(bingling_name_room(), 'n') +
           "\nCodeLength=3\nCodeCharacters=abcq\n[CODETABLE]\nabc\t工\nqq\t人\n",
       {2, 3, 4},
       {}},
      // Phrase rules the .mb header cannot hold: which to drop is no repair's choice.
      {TableFormat::Bingling,
       "[CODETABLEHEADER]\nPhraseRule=p11+p21+p31+p32/p11+p12+p21+p22/"
       "p11+p12+p13+p14\n[CODETABLE]\n"
       "aaaa\t工\n",
       "[CODETABLEHEADER]\n[CODETABLE]\naaaa\t工\n",
       {},
       {2}},
      // A Rime name too long for the .mb header.
      {TableFormat::Rime,
       "---\nname: \"" + std::string(200, 'n') + "\"\n...\n工\taaaa\n",
       "---\nname: " + std::string(rime_name_room(false), 'n') + "\n...\n工\taaaa\n",
       {2},
       {}},
      // A code length the table cannot tell goes; the alphabet is the letters the codes use.
      {TableFormat::Bingling,
       "[CODETABLEHEADER]\nCodeLength=0\nCodeCharacters=a1\n[CODETABLE]\n" + std::string(20, 'a') +
           "\t工\n",
       "[CODETABLEHEADER]\nCodeCharacters=a\n[CODETABLE]\n" + std::string(20, 'a') + "\t工\n",
       {3},
       {2}},
  };
  // So many lines of no two columns that, left, they would sink the import: they are taken out.
  std::string unsplit = weighted;
  std::vector<std::uint64_t> unsplit_lines;
  for (std::uint64_t line = 5; line <= 105; ++line) {
    unsplit += "abc def\n";
    unsplit_lines.push_back(line);
  }
  const RepairResult sunk = repair_text(unsplit + "工\taaaa\n", TableFormat::Rime, "t");
  EXPECT_EQ(sunk.text, weighted + "工\taaaa\n");
  EXPECT_EQ(lines_of(sunk.removed), unsplit_lines);
  EXPECT_TRUE(sunk.kept.empty());
  for (const Case& c : cases) {
    const RepairResult result = repair_text(c.source, c.format, "t");
    EXPECT_EQ(result.text, c.repaired) << c.source;
    EXPECT_EQ(lines_of(result.changes), c.changed) << c.source;
    EXPECT_EQ(lines_of(result.removed), c.removed) << c.source;
    const bool imports = c.format == TableFormat::Rime ? import_rime(result.text).has_value()
                                                       : import_bingling(result.text).has_value();
    EXPECT_TRUE(imports) << result.text;
    const RepairResult again = repair_text(result.text, c.format, "t");
    EXPECT_EQ(again.text, result.text);
    EXPECT_TRUE(again.changes.empty() && again.removed.empty());
    EXPECT_EQ(repair_invariant::repair_invariant_violation(c.source, c.format, result),
              std::nullopt);
  }
}

}  // namespace
}  // namespace qovira

namespace qovira {
namespace {

// Every input the repair fuzzer once broke, kept as a file: repaired as the fuzzer repairs it, it
// keeps every entry, lists every line it leaves out, and a second repair changes nothing.
TEST(RepairInvariant, TheFuzzerRegressionCorpusHolds) {
  const char* source_dir = std::getenv("QOVIRA_SOURCE_DIR");
  const std::filesystem::path corpus =
      std::filesystem::path(source_dir != nullptr ? source_dir : ".") /
      "fuzz/regressions/repair_text";
  ASSERT_TRUE(std::filesystem::is_directory(corpus)) << corpus;
  for (const auto& file : std::filesystem::directory_iterator(corpus)) {
    SCOPED_TRACE(file.path().filename().string());
    std::ifstream in(file.path(), std::ios::binary);
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const ByteView view(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    const auto mended = mend_source(view, "table");
    ASSERT_TRUE(mended);
    const RepairResult result = repair_mended_text(*mended);
    if (const auto text = decode_text(view)) {
      EXPECT_EQ(
          repair_invariant::repair_invariant_violation(*text, detect_format(view, *text), result),
          std::nullopt);
    }
    // As the fuzzer checks it: where the repaired text reads as the format it was repaired as and
    // imports.
    const ByteView repaired(reinterpret_cast<const std::uint8_t*>(result.text.data()),
                            result.text.size());
    if (detect_format({}, result.text) == mended->format && diagnose(repaired).importable) {
      const RepairResult again = repair_text(result.text, mended->format, "table");
      EXPECT_EQ(again.text, result.text);
      EXPECT_TRUE(again.changes.empty() && again.removed.empty());
    }
  }
}

}  // namespace
}  // namespace qovira
