#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "qovira/table/import.h"
#include "qovira/table/lines.h"
#include "test_data.h"

namespace qovira {
namespace {

BinglingImport import_ok(std::string_view text) {
  auto result = import_bingling(text);
  EXPECT_TRUE(result.has_value()) << (result ? "" : result.error().message());
  return result ? std::move(*result) : BinglingImport{};
}

std::string table_with_header(std::string_view header_lines,
                              std::string_view body_lines = "a\t工\n") {
  return "[CODETABLEHEADER]\n" + std::string(header_lines) + "[CODETABLE]\n" +
         std::string(body_lines);
}

std::string table_with_body(std::string_view body_lines) {
  return table_with_header("Name=t\n", body_lines);
}

std::vector<std::string> entries_of(const CodeTable& table) {
  std::vector<std::string> shown;
  for (const TableEntry& entry : table.entries) {
    shown.push_back(std::string(entry.code) + ":" + std::string(entry.text) + ":" +
                    std::to_string(entry.priority));
  }
  return shown;
}

TEST(BinglingImport, ReadsSectionsInAnyCase) {
  const BinglingImport result = import_ok(
      "; a comment before any section\n"
      "stray=ignored\n"
      "  [CodeTableHeader]  \n"
      "Name = 五笔 demo \n"
      "# comment\n"
      "CodeCharacters=abcdefghijklmnopqrstuvwxyz\n"
      "no equals sign here\n"
      "[Other]\n"
      "a\t不该读到\n"
      "[codetable]\n"
      "a\t工\t100\r\n"
      "  aa \t 式 \t 50 \t extra\n"
      "a\t戈\t200\n"
      "b\n"
      "\t空\n");
  EXPECT_EQ(result.code_table.description, "冰凌码表：五笔 demo");
  EXPECT_EQ(result.code_table.alphabet, "abcdefghijklmnopqrstuvwxyz");
  EXPECT_EQ(result.code_table.phrase_rules, std::vector<std::string>{"p11+p21+p31+p32"});
  EXPECT_EQ(entries_of(result.code_table),
            (std::vector<std::string>{"a:戈:253", "a:工:135", "aa:式:76"}));
  EXPECT_EQ(result.skipped.total, 0u);
  EXPECT_FALSE(result.code_length || result.wildcard || result.special_prefix ||
               result.phrase_rule_text);
  EXPECT_TRUE(result.length_rules.empty());
}

TEST(BinglingImport, NeedsBothSections) {
  EXPECT_EQ(import_bingling("[CODETABLE]\na\t工\n").error(), TableError::not_bingling_table());
  EXPECT_EQ(import_bingling("[CODETABLEHEADER]\nName=x\n").error(),
            TableError::not_bingling_table());
  EXPECT_EQ(import_bingling("").error(), TableError::not_bingling_table());
  // The mark keeps the first line from being a section line.
  EXPECT_EQ(import_bingling("\xEF\xBB\xBF[CODETABLEHEADER]\nName=x\n[CODETABLE]\na\t工\n").error(),
            TableError::not_bingling_table());
  // A bad code stops the pass before the sections are judged.
  EXPECT_EQ(import_bingling("[CODETABLE]\nA-b\t工\n").error(),
            TableError::invalid_entry("A-b", "只支持小写 ASCII 编码"));
}

TEST(BinglingImport, CodeLengthChecks) {
  const auto code_length_error = [](std::string_view value) {
    return import_bingling(table_with_header("CodeLength=" + std::string(value) + "\n")).error();
  };
  EXPECT_EQ(code_length_error("0"), TableError::invalid_metadata("CodeLength=0 超出 1 到 16"));
  EXPECT_EQ(code_length_error("+017"), TableError::invalid_metadata("CodeLength=17 超出 1 到 16"));
  EXPECT_EQ(code_length_error(""), TableError::invalid_metadata("CodeLength= 不是整数"));
  EXPECT_EQ(code_length_error("-"), TableError::invalid_metadata("CodeLength=- 不是整数"));
  EXPECT_EQ(code_length_error("四"), TableError::invalid_metadata("CodeLength=四 不是整数"));
  EXPECT_EQ(code_length_error("99999999999999999999"),
            TableError::invalid_metadata("CodeLength=99999999999999999999 不是整数"));
  EXPECT_EQ(import_ok(table_with_header("CodeLength=+16\n")).code_length, 16u);
  // Keys ignore case and the later line wins.
  EXPECT_EQ(import_ok(table_with_header("codelength=abc\nCODELENGTH=4\n")).code_length, 4u);
  // CodeLength is judged before the entries.
  EXPECT_EQ(import_bingling(table_with_header("CodeLength=0\n", "a/\t工\n")).error(),
            TableError::invalid_metadata("CodeLength=0 超出 1 到 16"));
}

TEST(BinglingImport, NormalisesCodes) {
  const BinglingImport result =
      import_ok(table_with_body("AB\t工\t5\n"
                                "ab*\t式\t1\n"
                                "a/b\t戈\n"
                                "*\t空\n"));
  // A lone "*" leaves an empty code; judging it is left to the diagnosis.
  EXPECT_EQ(entries_of(result.code_table),
            (std::vector<std::string>{":空:254", "a/b:戈:0", "ab:工:253", "ab:式:254"}));
}

TEST(BinglingImport, RejectsCodesOutsideLettersAndSlash) {
  EXPECT_EQ(import_bingling(table_with_body("ab\t工\nA-B\t式\n")).error(),
            TableError::invalid_entry("A-B", "只支持小写 ASCII 编码"));
  EXPECT_EQ(import_bingling(table_with_header("CodeCharacters=abc,\n", "a,\t工\n")).error(),
            TableError::invalid_entry("a,", "只支持小写 ASCII 编码"));
  EXPECT_EQ(import_bingling(table_with_body("ab**\t工\n")).error(),
            TableError::invalid_entry("ab**", "只支持小写 ASCII 编码"));
  EXPECT_EQ(import_bingling(table_with_header("CodeCharacters=abc\n", "a/\t工\n")).error(),
            TableError::invalid_entry("a/", "编码包含字母表未声明的字符"));
  EXPECT_EQ(import_bingling(table_with_header("CodeCharacters=aab\n")).error(),
            TableError::invalid_alphabet("aab"));
}

TEST(BinglingImport, TextTagsAndDollarLines) {
  const BinglingImport result =
      import_ok(table_with_body("a\t工 [abcdefgh]\n"
                                "b\t式[abcdefghi]\n"
                                "c\t戈[ab1]\n"
                                "d\t[xy]\n"
                                "e\t$ddcmd(今天)\n"
                                "f\t[中文]\n"
                                "g\t]\n"));
  EXPECT_EQ(entries_of(result.code_table),
            (std::vector<std::string>{"a:工:0", "b:式[abcdefghi]:0", "c:戈[ab1]:0", "f:[中文]:0",
                                      "g:]:0"}));
}

TEST(BinglingImport, PhraseRules) {
  const BinglingImport result =
      import_ok(table_with_header("PhraseRule= p11+p12+p21+p22 / bad / p11+p21+p31+p-1(2)*3/\n"));
  EXPECT_EQ(result.code_table.phrase_rules,
            (std::vector<std::string>{"p11+p12+p21+p22", "p11+p21+p31+p-1(2)*3"}));
  EXPECT_EQ(result.phrase_rule_text, "p11+p12+p21+p22 / bad / p11+p21+p31+p-1(2)*3/");

  const BinglingImport fallback = import_ok(table_with_header("PhraseRule=a11/P11\n"));
  EXPECT_EQ(fallback.code_table.phrase_rules, std::vector<std::string>{"p11+p21+p31+p32"});
  EXPECT_EQ(fallback.phrase_rule_text, "a11/P11");
  EXPECT_FALSE(import_ok(table_with_header("PhraseRule=\n")).phrase_rule_text);
}

TEST(BinglingImport, LengthRuleKeys) {
  const BinglingImport result =
      import_ok(table_with_header("pe4=r11+r21+r31+w-11\n"  // not a valid formula
                                  "pe+4=r11+r21+r31+r41\n"
                                  "pa3=r11+r21+R31 r32\n"
                                  "PA2=r11+r12+r21+r22\n"
                                  "pa1=r11+r12\n"
                                  "pa5=\n"
                                  "pa6=r11+r2\n"
                                  "px2=r11+r12+r21+r22\n"
                                  "pa=r11\n"));
  EXPECT_EQ(result.length_rules,
            (std::vector<std::string>{"2=r11r12r21r22", "3=r11r21R31 r32", "4+=r11r21r31r41"}));
}

TEST(BinglingImport, OptionalHeaderFields) {
  const BinglingImport result = import_ok(table_with_header("WildChar=z\nSpecialPrefix=\nName=\n"));
  EXPECT_EQ(result.wildcard, "z");
  EXPECT_FALSE(result.special_prefix);
  EXPECT_EQ(result.code_table.description, "冰凌码表：");
  EXPECT_EQ(import_ok(table_with_header("SpecialPrefix=`\n")).special_prefix, "`");
  EXPECT_EQ(import_ok(table_with_header("")).code_table.description, "冰凌码表：未命名冰凌码表");
}

TEST(BinglingImport, SameEntriesAsRimeForWubi86) {
  const auto path = test_data::wubi86_dict_path();
  if (!path) {
    GTEST_SKIP() << "rime-data-wubi could not be fetched";
  }
  const std::string rime_text = test_data::read_file_bytes(*path);
  // Rewrite the dictionary's body rows (text, code, weight, stem) as a 冰凌 table.
  std::string bingling_text =
      "[CODETABLEHEADER]\nName=wubi86\nCodeLength=4\nPhraseRule=p11+p12+p21+p22\n[CODETABLE]\n";
  bool in_body = false;
  for_each_line(rime_text, [&](std::string_view line) {
    if (!in_body) {
      in_body = line == "...";
      return;
    }
    if (line.empty() || line.starts_with('#')) {
      return;
    }
    const std::size_t first_tab = line.find('\t');
    const std::size_t second_tab = line.find('\t', first_tab + 1);
    const std::size_t third_tab = line.find('\t', second_tab + 1);
    bingling_text += line.substr(first_tab + 1, second_tab - first_tab - 1);
    bingling_text += '\t';
    bingling_text += line.substr(0, first_tab);
    bingling_text += '\t';
    bingling_text += line.substr(second_tab + 1, third_tab - second_tab - 1);
    bingling_text += '\n';
  });

  const auto rime = import_rime(rime_text);
  ASSERT_TRUE(rime.has_value());
  const BinglingImport bingling = import_ok(bingling_text);
  EXPECT_EQ(bingling.code_table.description, "冰凌码表：wubi86");
  EXPECT_EQ(bingling.code_table.phrase_rules, std::vector<std::string>{"p11+p12+p21+p22"});
  EXPECT_EQ(bingling.code_length, 4u);
  EXPECT_EQ(bingling.code_table.entries.size(), 136'753u);
  EXPECT_TRUE(bingling.code_table.entries == rime->code_table.entries);
}

}  // namespace
}  // namespace qovira
