#include "qovira/table/missing_header.h"

#include <gtest/gtest.h>

namespace qovira {
namespace {

TEST(UnclosedRimeHeaderEnd, EndsBeforeTheFirstLineThatIsNoHeaderLine) {
  const struct {
    std::string_view text;
    std::optional<std::uint64_t> end;
  } cases[] = {
      {"---\nname: t\nsort: by_weight\n中国\tkhlg\t10\n", 3},
      {"# 词库\n---\nname: t\ncolumns:\n  - code\n\t- text\n\n# 词条\nkhlg\t中国\n", 6},
      {"---\n中国\tkhlg\n", 1},
      {"---\nname:\tt\nversion: \"1.0\"\n", 3},
      {"---\nname: t\na:b\tcode\n", 2},                   // no key: a word that holds a colon
      {"---\nname: t\n...\n中国\tkhlg\n", std::nullopt},  // closed
      {"中国\tkhlg\n---\n", std::nullopt},                // entries before the header
      {"name: t\n", std::nullopt},                        // no header at all
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(unclosed_rime_header_end(c.text), c.end);
  }
}

TEST(ColumnOrderEvidence, OrderOnlyWhenFourInFiveEntryLinesAgree) {
  const struct {
    std::string_view text;
    std::optional<ColumnOrder> order;
  } cases[] = {
      {"中国\tkhlg\n工作 aawt\n# 注\n\n我们\ttrwu\t5\n", ColumnOrder::TextFirst},
      {"khlg\t中国\naawt\u3000工作\n", ColumnOrder::CodeFirst},
      {"khlg\t中国\naawt\t工作\n中国\tkhlg\n", std::nullopt},  // two in three
      {"khlg\t中国\nabc\ndef\nghi\n", std::nullopt},           // few entry lines
      {"khlg\t中国\naawt\t工作\ntrwu\t我们\nqqqq\t们\nabc\n", ColumnOrder::CodeFirst},
      {"中国\tkhlg\nkhlg\t中国\n", std::nullopt},
      {"abc\tdef\n工\t作\n", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(column_order_evidence(c.text).order(), c.order);
  }
}

}  // namespace
}  // namespace qovira
