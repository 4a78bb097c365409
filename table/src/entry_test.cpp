#include "qovira/table/entry.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace qovira {
namespace {

struct Case {
  TableFormat format;
  std::string text;  // a whole table: the reading of its last line is checked
  EntryRefusal refusal;
  std::string_view code;
};

EntryReading last_reading(const TableText& table, EntryReader& reader) {
  EntryReading reading;
  table.for_each_line([&](const TextLine& line) {
    if (line.kind == LineKind::Entry || line.kind == LineKind::Malformed) {
      reading = reader.read(line);
    }
  });
  return reading;
}

TEST(EntryReading, EachFormatTakesOrRefusesALineAsItsImporterDoes) {
  const std::string long_text(128 * 3, 'x');
  const std::string long_code(256, 'a');
  const std::string rime = "---\nname: t\n...\n";
  const std::string bingling = "[CODETABLEHEADER]\nCodeCharacters=abcd/\n[CODETABLE]\n";
  const Case cases[] = {
      {TableFormat::Rime, "---\n...\n你好\tni hao\t9\n", EntryRefusal::None, "nihao"},
      {TableFormat::Rime, "---\n...\n\taaaa\n", EntryRefusal::MissingText, "aaaa"},
      {TableFormat::Rime, "---\n...\n工\n", EntryRefusal::MissingCode, ""},
      {TableFormat::Rime, "---\n...\n工\t \n", EntryRefusal::EmptyCode, " "},
      {TableFormat::Rime, "---\n...\n工\taB\n", EntryRefusal::BadCodeCharacter, "aB"},
      {TableFormat::Rime, "---\n...\n工\ta,b.c;d/\n", EntryRefusal::None, "a,b.c;d/"},
      {TableFormat::Rime, rime + "工\t" + long_code + "\n", EntryRefusal::CodeTooLong, long_code},
      {TableFormat::Rime, rime + long_text + "\taa\n", EntryRefusal::TextTooLong, "aa"},
      {TableFormat::Bingling, bingling + "AB*\t工[abc]\t5\n", EntryRefusal::None, "ab"},
      {TableFormat::Bingling, bingling + "a,b\t工\n", EntryRefusal::BadCodeCharacter, "a,b"},
      {TableFormat::Bingling, bingling + "ab *\t工\n", EntryRefusal::BadCodeCharacter, "ab *"},
      {TableFormat::Bingling, bingling + "abe\t工\n", EntryRefusal::CodeNotDeclared, "abe"},
      {TableFormat::Bingling, bingling + "*\t工\n", EntryRefusal::EmptyCode, ""},
      {TableFormat::Bingling, bingling + "ab\t$x\n", EntryRefusal::Ignored, "ab"},
      {TableFormat::Bingling, bingling + "ab\t" + long_text + "\n", EntryRefusal::TextTooLong,
       "ab"},
  };
  for (const Case& c : cases) {
    const TableText table = TableText::read(c.text, c.format);
    EntryReader reader(table);
    const EntryReading reading = last_reading(table, reader);
    EXPECT_EQ(reading.refusal, c.refusal) << c.text;
    EXPECT_EQ(reading.code, c.code) << c.text;
    // What the importer takes, it adds; what blocks a 冰凌 import never merely skips.
    EXPECT_FALSE(c.format == TableFormat::Rime && refusal_blocks_import(c.format, c.refusal));
    if (c.refusal != EntryRefusal::None) {
      EXPECT_FALSE(refusal_reason(c.format, c.refusal).empty());
    }
  }
}

TEST(EntryReading, SettingsAndFullWidthForms) {
  EXPECT_EQ(read_setting("codelength", "+16"), SettingRefusal::None);
  EXPECT_EQ(read_setting("codelength", "0"), SettingRefusal::CodeLengthOutOfRange);
  EXPECT_EQ(read_setting("codelength", "x"), SettingRefusal::CodeLengthNotInteger);
  EXPECT_EQ(read_setting("codecharacters", "abca"), SettingRefusal::BadAlphabet);
  EXPECT_EQ(read_setting("name", std::string(bingling_name_room(), 'n')), SettingRefusal::None);
  EXPECT_EQ(read_setting("name", std::string(bingling_name_room() + 1, 'n')),
            SettingRefusal::NameTooLong);
  EXPECT_EQ(half_width_code("ｋＨｌｇ，、"), "kHlg,/");
  EXPECT_EQ(half_width_code("khlg"), std::nullopt);
  EXPECT_EQ(half_width_code("工"), std::nullopt);
}

}  // namespace
}  // namespace qovira
