#include "qovira/app/repair/text_mends.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "qovira/app/diagnosis/diagnosis.h"
#include "qovira/app/repair/repair.h"
#include "qovira/table/format.h"

namespace qovira {
namespace {

constexpr std::string_view ADDED_HEADER = "---\nname: t\nversion: \"1.0\"\nsort: original\n...\n";

using RuleAtLine = std::pair<RepairRule, std::uint64_t>;

std::vector<RuleAtLine> rules_of(const RepairItems& items) {
  std::vector<RuleAtLine> rules;
  for (const RepairItem& item : items) {
    rules.emplace_back(item.rule, item.line);
  }
  return rules;
}

ByteView bytes_of(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Each mend, the text it makes and the rules and lines of its changes; a second repair of the
// repaired text changes nothing.
TEST(TextMends, EachMendIsRecordedAndASecondRepairFindsNothing) {
  const struct {
    std::string_view text;
    TableFormat format;
    std::string mended;
    TableFormat mended_format;
    std::vector<RuleAtLine> changes;
  } cases[] = {
      // Lone CRs end lines, whatever else the text holds; a CR before an LF stays.
      {"---\r\nname: t\r\n...\r\n中国\tkhlg\r工作\taawt\r",
       TableFormat::Rime,
       "---\r\nname: t\r\n...\r\n中国\tkhlg\n工作\taawt\n",
       TableFormat::Rime,
       {{RepairRule::LoneCarriageReturns, 0}}},
      {"---\rname: t\r...\r中国\tkhlg\n",
       TableFormat::Unknown,
       "---\nname: t\n...\n中国\tkhlg\n",
       TableFormat::Rime,
       {{RepairRule::LoneCarriageReturns, 0}}},
      {"---\n...\n工\taaaa\r\r\n",
       TableFormat::Rime,
       "---\n...\n工\taaaa\r\r\n",
       TableFormat::Rime,
       {}},
      // In a header too.
      {"---\nname: t\rsort: x\n...\n工\taaaa\n",
       TableFormat::Rime,
       "---\nname: t\nsort: x\n...\n工\taaaa\n",
       TableFormat::Rime,
       {{RepairRule::LoneCarriageReturns, 0}}},
      {"\uFEFF---\nname: t\n...\n中国\tkhlg\n",
       TableFormat::Unknown,
       "---\nname: t\n...\n中国\tkhlg\n",
       TableFormat::Rime,
       {{RepairRule::ByteOrderMark, 1}}},
      {"\uFEFF[CODETABLEHEADER]\n[CODETABLE]\nkhlg\t中国\n",
       TableFormat::Bingling,
       "[CODETABLEHEADER]\n[CODETABLE]\nkhlg\t中国\n",
       TableFormat::Bingling,
       {{RepairRule::ByteOrderMark, 1}}},
      // An unclosed header is closed where it ends, its settings kept.
      {"---\nname: t\ncolumns:\n  - code\n  - text\nkhlg\t中国\n",
       TableFormat::Rime,
       "---\nname: t\ncolumns:\n  - code\n  - text\n...\nkhlg\t中国\n",
       TableFormat::Rime,
       {{RepairRule::HeaderClosed, 0}}},
      {"---\nname: t",
       TableFormat::Rime,
       "---\nname: t\n...\n",
       TableFormat::Rime,
       {{RepairRule::HeaderClosed, 0}}},
      // An unclosed header with a marker line below it.
      {"---\nname: t\n中国\tkhlg\n[CODETABLE]\n",
       TableFormat::Bingling,
       "---\nname: t\n...\n中国\tkhlg\n\n",
       TableFormat::Rime,
       {{RepairRule::MarkerRemoved, 4}, {RepairRule::HeaderClosed, 0}}},
      // Entries before the "---": a header in front, as for a text without one.
      {"中国\tkhlg\n---\n",
       TableFormat::Rime,
       std::string(ADDED_HEADER) + "中国\tkhlg\n---\n",
       TableFormat::Rime,
       {{RepairRule::HeaderAdded, 0}}},
      // A list without a header gets one, its column order read from its lines.
      {"中国\tkhlg\n工作\taawt\n",
       TableFormat::Unknown,
       std::string(ADDED_HEADER) + "中国\tkhlg\n工作\taawt\n",
       TableFormat::Rime,
       {{RepairRule::HeaderAdded, 0}}},
      {"\uFEFFkhlg\t中国\naawt\t工作\n",
       TableFormat::Unknown,
       "---\nname: t\nversion: \"1.0\"\nsort: original\ncolumns:\n  - code\n  - text\n...\n"
       "khlg\t中国\naawt\t工作\n",
       TableFormat::Rime,
       {{RepairRule::HeaderAdded, 0}, {RepairRule::ByteOrderMark, 9}}},
      {"khlg\t中国\n中国\tkhlg\n",
       TableFormat::Unknown,
       "khlg\t中国\n中国\tkhlg\n",
       TableFormat::Unknown,
       {}},
      // A marker on a body line of its own, and one in a comment, in a complete Rime dictionary.
      {"# [CODETABLE] 转来\n---\nname: t\n...\n[CODETABLE]\n中国\tkhlg\n",
       TableFormat::Bingling,
       "#  转来\n---\nname: t\n...\n\n中国\tkhlg\n",
       TableFormat::Rime,
       {{RepairRule::MarkerRemoved, 1}, {RepairRule::MarkerRemoved, 5}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const MendedText mended = mend_text(c.text, c.format, "t");
    EXPECT_EQ(mended.text(), c.mended);
    EXPECT_EQ(mended.format, c.mended_format);
    EXPECT_EQ(rules_of(mended.changes), c.changes);

    const RepairResult first = repair_text(c.text, c.format, "t");
    const RepairResult again = repair_text(first.text, detect_format({}, first.text), "t");
    EXPECT_TRUE(again.changes.empty()) << again.changes.front().summary;
    EXPECT_EQ(again.text, first.text);
  }
}

TEST(TextMends, NoHeaderIsGuessedOnThinEvidenceAndTheRepairSaysSo) {
  const MendedText mended = mend_text("khlg\t中国\n中国\tkhlg\n", TableFormat::Unknown, "t");
  EXPECT_EQ(rules_of(mended.kept), (std::vector<RuleAtLine>{{RepairRule::HeaderNotAdded, 0}}));
}

TEST(TextMends, TheAddedHeaderNamesNoMarker) {
  const MendedText mended = mend_text("中国\tkhlg\n", TableFormat::Unknown, "[[CODETABLE]]");
  EXPECT_EQ(mended.text().substr(0, 20), "---\nname: CODETABLE\n");
  EXPECT_EQ(detect_format({}, mended.text()), TableFormat::Rime);
}

// The line numbers of damaged lines are those of the working text: after the CR line ends are
// split and the header closed.
TEST(TextMends, DamagedUtf8LinesAreTakenOutWhereTheyStand) {
  const auto mended =
      mend_source(bytes_of("---\nname: t\n中国\tkhlg\r我\xE4\ttrwu\r工作\taawt\n"), "t");
  ASSERT_TRUE(mended);
  ASSERT_EQ(mended->taken_out.size(), 1u);
  EXPECT_EQ(mended->taken_out[0].rule, RepairRule::DamagedLine);
  EXPECT_EQ(mended->taken_out[0].line, 5u);
  const RepairResult result = repair_mended_text(*mended);
  EXPECT_EQ(result.text, "---\nname: t\n...\n中国\tkhlg\n\n工作\taawt\n");
  EXPECT_EQ(rules_of(result.removed), (std::vector<RuleAtLine>{{RepairRule::DamagedLine, 5}}));
  // Bytes no other reading takes are read as UTF-8 too: only the damaged line goes.
  const auto unreadable = mend_source(bytes_of("---\n\x80\taaaa\n"), "t");
  ASSERT_TRUE(unreadable);
  EXPECT_EQ(unreadable->taken_out.size(), 1u);
}

// Found by the repair fuzzer: what the whole text shows (its column order, its first line, its
// sections) is read without the damaged lines, as a second repair reads it.
TEST(TextMends, ARepairFromDamagedBytesIsRepairedAgainWithoutAChange) {
  const std::string_view sources[] = {
      "中国\tkhlg\n工作\taawt\n我们\ttrwu\n\xE4\n",
      "\xE4x\n\xEF\xBB\xBF---\nname: t\n...\n中国\tkhlg\n工作\taawt\n",
      "[CODETABLEHEADER]\nName=五笔\n[CODE\xE4TABLE]\n[CODETABLE]\nkhlg\t中国\nkhlg\t中国\n",
      "---\nname: 五笔\ncolumns:\n  - code\n  \xC7 text\n  - weight\n...\n1\tkhlg\t中国\n",
  };
  for (const std::string_view source : sources) {
    SCOPED_TRACE(source);
    const auto mended = mend_source(bytes_of(source), "t");
    ASSERT_TRUE(mended);
    const RepairResult first = repair_mended_text(*mended);
    EXPECT_EQ(mended->taken_out.size(), 1u);
    const RepairResult again = repair_text(first.text, detect_format({}, first.text), "t");
    EXPECT_TRUE(again.changes.empty()) << again.changes.front().summary;
    EXPECT_EQ(again.text, first.text);
  }
}

// The repair reads bytes as their diagnosis decoded or judged them, and gets what probing gets.
TEST(TextMends, BytesAreReadAsTheirDiagnosisDecodedThem) {
  const std::string gbk = "---\nname: t\n...\n\xD6\xD0\xB9\xFA\tkhlg\n\xB9\xA4\xD7\xF7\taawt\n";
  const std::string_view sources[] = {
      "---\nname: t\n...\n中国\tkhlg\n",
      "\xEF\xBB\xBF---\nname: t\n...\n中国\tkhlg\n",
      std::string_view("\xFF\xFE-\0-\0-\0\n\0", 10),
      "---\nname: t\n中国\tkhlg\r我\xE4\ttrwu\r工作\taawt\n",
      gbk,
      std::string_view("\xFF\xFE\0\xD8", 4),
  };
  for (const std::string_view source : sources) {
    SCOPED_TRACE(source);
    const Diagnosis diagnosis = diagnose(bytes_of(source));
    ASSERT_TRUE(diagnosis.encoding);
    const auto probed = mend_source(bytes_of(source), "t");
    const auto read = mend_source(bytes_of(source), *diagnosis.encoding, "t");
    ASSERT_EQ(read.has_value(), probed.has_value());
    if (read) {
      EXPECT_EQ(read->text(), probed->text());
      EXPECT_EQ(read->format, probed->format);
      EXPECT_EQ(rules_of(read->changes), rules_of(probed->changes));
      EXPECT_EQ(read->taken_out, probed->taken_out);
    }
  }
}

}  // namespace
}  // namespace qovira
