#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "qovira/table/import.h"

namespace qovira {
namespace {

// Rows read from a text hold nothing of it: its owner may free (here: overwrite) it before the
// rows are finished, and the table is the one an import of the intact text gives.
TEST(ReadRows, HoldNothingOfTheText) {
  struct Case {
    TableFormat format;
    std::string text;
  };
  const Case cases[] = {
      {TableFormat::Rime,
       "---\nname: 名字\nencoder:\n  rules:\n    - length_equal: 2\n      formula: \"AaAbBaBb\"\n"
       "...\n工\taaaa\t9\n了\tb\t3\n式\taaaa\t12\n甲\tA\n工\taaaa\t1\n"},
      {TableFormat::Bingling,
       "[CODETABLEHEADER]\nName=名字\nCodeLength=4\nWildChar=z\nSpecialPrefix=o\n"
       "PhraseRule=p11+p12+p21+p22\npa2=r11+r12+r21+r22\n[CODETABLE]\naaaa\t工\t9\nb\t了\t3\n"
       "aaaa*\t式\t12\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const auto expected =
        c.format == TableFormat::Rime ? import_rime(c.text) : import_bingling(c.text);
    ASSERT_TRUE(expected) << expected.error().message();

    std::string text = c.text;
    auto read = c.format == TableFormat::Rime ? read_rime_rows(TableText::read(text, c.format))
                                              : read_bingling_rows(TableText::read(text, c.format));
    ASSERT_TRUE(read) << read.error().message();
    std::ranges::fill(text, '#');
    const auto finished = finish_import(std::move(*read));
    ASSERT_TRUE(finished) << finished.error().message();

    EXPECT_EQ(finished->code_table, expected->code_table);
    EXPECT_EQ(finished->length_rules, expected->length_rules);
    EXPECT_EQ(finished->skipped.samples, expected->skipped.samples);
    EXPECT_EQ(finished->code_length, expected->code_length);
    EXPECT_EQ(finished->wildcard, expected->wildcard);
    EXPECT_EQ(finished->special_prefix, expected->special_prefix);
    EXPECT_EQ(finished->phrase_rule_text, expected->phrase_rule_text);
  }
}

}  // namespace
}  // namespace qovira
