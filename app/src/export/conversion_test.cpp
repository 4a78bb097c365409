#include "qovira/app/export/conversion.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "qovira/app/export/export.h"
#include "qovira/table/mb.h"

namespace qovira {
namespace {

ByteView bytes_of(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

CodeTable table_of(std::vector<TableEntry> entries) {
  return {.description = "Rime 词典：t",
          .alphabet = "abcdefghijklmnopqrstuvwxyz",
          .phrase_rules = {"p11+p21+p31+p32"},
          .entries = std::move(entries)};
}

using Field = SettingChange::Field;

TEST(ConvertTable, ProvesTheTextAndTellsWhatReadsBackOtherwise) {
  struct Case {
    const char* name;
    CodeTable table;
    TableFormat format;
    bool verified;
    std::vector<Field> changed;
    std::uint64_t inexact;
  };
  CodeTable foreign = table_of({{"a", "甲", 254}, {"a", "乙", 100}});
  foreign.description = "五笔\r\n2011";
  foreign.alphabet = "abcdefghijklmnopqrstuvwxyz/";
  foreign.phrase_rules = {"p11+p21+p31+p32", "p11+p12+p21+p22"};
  CodeTable looks_like_bingling = table_of({{"a", "[CODETABLE]", 0}});
  const std::vector<Case> cases{
      {"a Rime table as 冰凌", table_of({{"a", "甲", 253}}), TableFormat::Bingling, true, {}, 0},
      {"a foreign .mb as Rime",
       foreign,
       TableFormat::Rime,
       true,
       {Field::Description, Field::Alphabet, Field::PhraseRules},
       1},
      {"a foreign .mb as 冰凌", foreign, TableFormat::Bingling, true, {Field::Description}, 0},
      {"a Rime text the detection takes for 冰凌",
       looks_like_bingling,
       TableFormat::Rime,
       false,
       {},
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto converted = convert_table(c.table, c.format);
    ASSERT_TRUE(converted) << converted.error();
    EXPECT_EQ(converted->verified, c.verified) << converted->verdict;
    if (!c.verified) {
      continue;
    }
    EXPECT_EQ(converted->verdict,
              verified_verdict(c.table.entries.size(),
                               import_table(bytes_of(converted->text))->table.alphabet));
    std::vector<Field> changed;
    for (const SettingChange& change : converted->changes) {
      changed.push_back(change.field);
    }
    EXPECT_EQ(changed, c.changed);
    EXPECT_EQ(converted->inexact_priorities, c.inexact);
    EXPECT_EQ(conversion_notes(*converted, c.format).size(),
              c.changed.size() + (c.inexact > 0 ? 1 : 0));
  }
}

TEST(ConvertTable, FailsOnAnEntryTheFormatCannotHold) {
  EXPECT_FALSE(convert_table(table_of({{"a", "甲\t乙", 0}}), TableFormat::Rime));
}

TEST(ImportTable, ReadsWhatTheDiagnosisRecognises) {
  const auto mb = build_mb(table_of({{"a", "甲", 0}}), DEFAULT_MB_CONTAINER);
  ASSERT_TRUE(mb);
  const std::string rime = "---\nname: t\n...\n甲\ta\n";
  const std::string bingling = "[CODETABLEHEADER]\n[CODETABLE]\na\t甲\n";
  EXPECT_EQ(import_table(*mb)->format, TableFormat::Mb);
  EXPECT_EQ(import_table(bytes_of(rime))->format, TableFormat::Rime);
  EXPECT_EQ(import_table(bytes_of(bingling))->format, TableFormat::Bingling);
  EXPECT_FALSE(import_table(bytes_of("just notes\n")));
  EXPECT_FALSE(import_table(bytes_of("\xff\xfe\x00")));
}

}  // namespace
}  // namespace qovira
