#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "qovira/table/model.h"

namespace qovira {
namespace {

ImportRecord rec(std::string code, std::string text, std::uint64_t weight = 0,
                 bool pinned = false) {
  return {std::move(code), std::move(text), weight, pinned};
}

CodeTable finish(std::vector<ImportRecord> records, bool weighted,
                 std::string_view alphabet = "abcdefghijklmnopqrstuvwxyz") {
  auto table = finish_table("说明", std::move(records), alphabet, {"p11+p21+p31+p32"}, weighted);
  EXPECT_TRUE(table.has_value()) << table.error().message();
  return table.value_or(CodeTable{});
}

std::vector<std::string> codes_and_texts(const CodeTable& table) {
  std::vector<std::string> out;
  for (const auto& entry : table.entries) {
    out.push_back(std::string(entry.code) + "/" + std::string(entry.text) + "/" +
                  std::to_string(entry.priority));
  }
  return out;
}

TEST(FinishTable, WeightedKeepsTheHeavierDuplicateUnweightedTheFirst) {
  EXPECT_EQ(codes_and_texts(finish({rec("a", "甲", 5), rec("a", "甲", 9)}, true)),
            (std::vector<std::string>{"a/甲/253"}));
  EXPECT_EQ(codes_and_texts(finish({rec("a", "甲", 5), rec("a", "甲", 9)}, false)),
            (std::vector<std::string>{"a/甲/100"}));
}

TEST(FinishTable, PinnedFlagFollowsTheWeightThatWins) {
  EXPECT_EQ(codes_and_texts(finish({rec("a", "甲", 9), rec("a", "甲", 12, true)}, true)),
            (std::vector<std::string>{"a/甲/254"}));
  EXPECT_EQ(codes_and_texts(finish({rec("a", "甲", 12, true), rec("a", "甲", 9)}, true)),
            (std::vector<std::string>{"a/甲/254"}));
}

TEST(FinishTable, PrioritiesScaleAgainstTheLargestWeight) {
  const auto table = finish({rec("a", "零", 0), rec("b", "一", 1), rec("c", "千", 1000)}, true);
  EXPECT_EQ(codes_and_texts(table), (std::vector<std::string>{"a/零/0", "b/一/17", "c/千/253"}));
}

TEST(FinishTable, HugeWeightsDoNotOverflow) {
  const std::uint64_t max = UINT64_MAX;
  const auto table = finish({rec("a", "大", max), rec("b", "半", max / 2)}, true);
  EXPECT_EQ(codes_and_texts(table), (std::vector<std::string>{"a/大/253", "b/半/134"}));
}

// Weights beyond 32 bits may come after smaller ones, as a new row or as a heavier repeat.
TEST(FinishTable, WeightsBeyondThirtyTwoBitsAfterSmallerOnesKeepTheirOrder) {
  const std::uint64_t big = std::uint64_t{1} << 40;
  EXPECT_EQ(codes_and_texts(
                finish({rec("a", "工", 7), rec("a", "式", big), rec("a", "戈", big + 1)}, true)),
            (std::vector<std::string>{"a/戈/253", "a/式/252", "a/工/17"}));
  EXPECT_EQ(
      codes_and_texts(finish({rec("a", "工", 7), rec("a", "式", 9), rec("a", "工", big)}, true)),
      (std::vector<std::string>{"a/工/253", "a/式/17"}));
}

TEST(FinishTable, CodesInByteOrderCandidatesByWeightThenFirstSeen) {
  const auto table = finish({rec("b", "乙"), rec("a", "甲"), rec("ab", "丙")}, true);
  EXPECT_EQ(codes_and_texts(table), (std::vector<std::string>{"a/甲/0", "ab/丙/0", "b/乙/0"}));

  const auto weighted = finish({rec("a", "三", 3), rec("a", "七", 7), rec("a", "柒", 7)}, true);
  EXPECT_EQ(codes_and_texts(weighted),
            (std::vector<std::string>{"a/七/253", "a/柒/253", "a/三/118"}));

  const auto unweighted = finish({rec("a", "三", 3), rec("a", "七", 7)}, false);
  EXPECT_EQ(codes_and_texts(unweighted), (std::vector<std::string>{"a/三/100", "a/七/100"}));
}

TEST(FinishTable, DuplicateMergesKeepTheFirstPlaceAmongOtherCandidates) {
  // 乙 is first seen before 甲's second copy: the merged 甲 keeps its first place.
  const auto table = finish({rec("a", "甲", 1), rec("a", "乙", 1), rec("a", "甲", 1)}, false);
  EXPECT_EQ(codes_and_texts(table), (std::vector<std::string>{"a/甲/100", "a/乙/100"}));
}

TEST(FinishTable, LongCodesSharingTheirFirstEightLettersStillSortAndMergeByWholeCode) {
  const auto table =
      finish({rec("abcdefghj", "五", 1), rec("abcdefgh", "四", 1), rec("abcdefghia", "三", 1),
              rec("abcdefghi", "二", 1), rec("abcdefghj", "五", 1), rec("abcdefghi", "一", 1),
              rec("abcdefghia", "三", 1)},
             false);
  EXPECT_EQ(codes_and_texts(table),
            (std::vector<std::string>{"abcdefgh/四/100", "abcdefghi/二/100", "abcdefghi/一/100",
                                      "abcdefghia/三/100", "abcdefghj/五/100"}));
}

TEST(FinishTable, RowsMoveIntoPlaceAroundDroppedRepeatsWithoutLosingAny) {
  // Many codes in reverse order with repeats between them: every survivor must land exactly once.
  std::vector<ImportRecord> records;
  std::vector<std::string> expected;
  for (char c = 'z'; c >= 'a'; --c) {
    records.push_back(rec(std::string(2, c), std::string(1, c), 1));
    records.push_back(rec("a", std::string(1, c), 1));
    records.push_back(rec(std::string(2, c), std::string(1, c), 1));
  }
  for (char c = 'z'; c >= 'a'; --c) {
    expected.push_back("a/" + std::string(1, c) + "/253");
  }
  for (char c = 'a'; c <= 'z'; ++c) {
    expected.push_back(std::string(2, c) + "/" + std::string(1, c) + "/253");
  }
  EXPECT_EQ(codes_and_texts(finish(std::move(records), true)), expected);
}

// Repeats merge as they come while their pair is recent and by sorting once it is not: the table
// must be the one the records without their repeats give, weights and pins merged as documented.
TEST(FinishTable, RepeatsNearAndFarMergeAlike) {
  std::vector<ImportRecord> records;
  std::uint32_t state = 99;
  const auto next = [&state] { return state = state * 1103515245 + 12345; };
  for (int i = 0; i < 30000; ++i) {
    const std::uint32_t pick = next();
    // Pairs drawn from a pool larger than what the importer remembers, some repeated at once.
    const std::uint32_t pair = (pick >> 4) % 9000;
    std::string code(1, static_cast<char>('a' + pair % 26));
    code.push_back(static_cast<char>('a' + pair / 26 % 26));
    std::string text = "词" + std::to_string(pair / 3);
    const std::uint64_t weight = next() % 50;
    const bool pinned = next() % 5 == 0;
    records.push_back(rec(code, text, weight, pinned));
    if (pick % 7 == 0) {
      records.push_back(rec(code, text, next() % 50, next() % 3 == 0));
    }
  }
  for (const bool weighted : {true, false}) {
    std::vector<ImportRecord> merged;
    std::map<std::pair<std::string, std::string>, std::size_t> index;
    for (const ImportRecord& record : records) {
      auto [found, inserted] = index.try_emplace({record.code, record.text}, merged.size());
      if (inserted) {
        merged.push_back(record);
      } else if (weighted && record.weight > merged[found->second].weight) {
        merged[found->second].weight = record.weight;
        merged[found->second].pinned = record.pinned;
      }
    }
    EXPECT_EQ(finish(records, weighted), finish(merged, weighted)) << weighted;
  }
}

// Tables come in a few stretches already in code order, or in many: either way the rows must be
// grouped by code in byte order, each code's texts in first-seen order, as a stable sort gives.
TEST(FinishTable, RowsInOrderedStretchesSortAsAStableSortWould) {
  std::vector<std::string> pool;
  for (int i = 0; i < 3000; ++i) {
    std::string code(1, static_cast<char>('a' + i % 26));
    code.push_back(static_cast<char>('a' + i / 26 % 26));
    pool.push_back(i % 5 == 0 ? "abcdefgh" + code : code);  // long codes sharing a head
  }
  std::ranges::sort(pool);
  std::uint32_t state = 7;
  const auto next = [&state] { return state = state * 1103515245 + 12345; };
  const std::string_view texts[] = {"甲", "乙", "丙"};
  // Each pass over the pool is one stretch in order: some thirty of them, then thousands.
  for (const std::uint32_t per_mille : {700, 5}) {
    std::vector<ImportRecord> records;
    while (records.size() < 70'000) {
      for (std::size_t i = 0; i < pool.size(); ++i) {
        if (next() % 1000 < per_mille) {
          records.push_back(rec(pool[i], std::string(texts[next() % 3]), 1));
        }
      }
    }
    std::vector<ImportRecord> sorted = records;
    std::ranges::stable_sort(sorted, {}, &ImportRecord::code);
    std::vector<std::string> expected;
    std::set<std::pair<std::string, std::string>> seen;
    for (const ImportRecord& record : sorted) {
      if (seen.emplace(record.code, record.text).second) {
        expected.push_back(record.code + "/" + record.text + "/100");
      }
    }
    EXPECT_EQ(codes_and_texts(finish(std::move(records), false)), expected) << per_mille;
  }
}

// Codes with a few candidates and with dozens, weights often tied: heavier first, ties in the
// order first seen.
TEST(FinishTable, CandidatesOfAnyCountSortByWeightKeepingFirstSeenOrderAmongTies) {
  std::uint32_t state = 3;
  const auto next = [&state] { return state = state * 1103515245 + 12345; };
  std::vector<ImportRecord> records;
  for (int i = 0; i < 3000; ++i) {
    // Half the rows under 20 codes, dozens each; the rest spread over 2000, a few each.
    const std::uint32_t code = next() % 2 == 0 ? (next() >> 8) % 20 : 20 + (next() >> 8) % 2000;
    std::string code_text(1, static_cast<char>('a' + code % 26));
    code_text.append(code / 26 + 1, 'z');
    records.push_back(rec(code_text, "词" + std::to_string(i), (next() >> 8) % 4 + 1));
  }
  std::vector<ImportRecord> expected_order = records;
  std::ranges::stable_sort(expected_order, [](const ImportRecord& a, const ImportRecord& b) {
    return a.code != b.code ? a.code < b.code : a.weight > b.weight;
  });
  const CodeTable table = finish(std::move(records), true);
  ASSERT_EQ(table.entries.size(), expected_order.size());
  for (std::size_t i = 0; i < expected_order.size(); ++i) {
    ASSERT_EQ(table.entries[i].code, expected_order[i].code) << i;
    ASSERT_EQ(table.entries[i].text, expected_order[i].text) << i;
  }
}

TEST(FinishTable, FailsOnEmptyInputAndOnCodesOutsideTheAlphabet) {
  auto empty = finish_table("", {}, "abc", {}, true);
  ASSERT_FALSE(empty.has_value());
  EXPECT_EQ(empty.error().message(), "码表没有可导入的有效词条");

  auto outside = finish_table("", {rec("a", "甲"), rec("a/", "乙")}, "abc", {}, true);
  ASSERT_FALSE(outside.has_value());
  EXPECT_EQ(outside.error().message(), "编码 a/ 无法导入：编码包含字母表未声明的字符");

  auto bad_alphabet = finish_table("", {rec("a", "甲")}, "aa", {}, true);
  ASSERT_FALSE(bad_alphabet.has_value());
  EXPECT_EQ(bad_alphabet.error().kind, TableErrorKind::InvalidAlphabet);
}

}  // namespace
}  // namespace qovira
