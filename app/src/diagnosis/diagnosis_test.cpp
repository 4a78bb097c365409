#include "qovira/app/diagnosis/diagnosis.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "../../../table/src/test_data.h"
#include "qovira/table/mb.h"
#include "qovira/table/utf16.h"

namespace qovira {
namespace {

ByteView bytes_of(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::filesystem::path testdata_dir() {
  const char* root = std::getenv("QOVIRA_SOURCE_DIR");
  return std::filesystem::path(root != nullptr ? root : ".") / "app" / "testdata" / "diagnosis";
}

std::string read_testdata(std::string_view name) {
  return test_data::read_file_bytes(testdata_dir() / name);
}

bool has_fatal(const Diagnosis& diagnosis) {
  return std::ranges::any_of(diagnosis.issues,
                             [](const Issue& issue) { return issue.severity == Severity::Fatal; });
}

// The invariants every diagnosis keeps, whatever the input.
void expect_consistent(const Diagnosis& diagnosis) {
  EXPECT_EQ(diagnosis.importable, !has_fatal(diagnosis));
  if (diagnosis.importable) {
    EXPECT_TRUE(diagnosis.mb && *diagnosis.mb && (*diagnosis.mb)->verified);
  }
  if (diagnosis.mb && *diagnosis.mb) {
    const auto read_back = read_mb((*diagnosis.mb)->bytes);
    ASSERT_EQ(read_back.has_value(), !(*diagnosis.mb)->unreadable);
    if (read_back) {
      EXPECT_EQ(diagnosis.imported_entries, read_back->entries.size());
      EXPECT_EQ(diagnosis.alphabet, read_back->alphabet);
    }
  } else if (!diagnosis.mb) {
    EXPECT_EQ(diagnosis.imported_entries, 0u);
    EXPECT_TRUE(diagnosis.alphabet.empty());
    EXPECT_TRUE(diagnosis.failure.has_value());
  }
}

class GoldenReportTest : public testing::TestWithParam<std::string_view> {};

TEST_P(GoldenReportTest, MatchesExpectedReport) {
  const std::string_view name = GetParam();
  const std::string input = read_testdata(name);
  ASSERT_FALSE(input.empty()) << "missing test data " << name;
  const Diagnosis diagnosis = diagnose(bytes_of(input));
  expect_consistent(diagnosis);
  EXPECT_EQ(render_report(name, diagnosis), read_testdata(std::string(name) + ".report.txt"));

  // Bytes handed over to be freed on the way give the same diagnosis.
  const Diagnosis freed = diagnose_and_free(Bytes(input.begin(), input.end()));
  EXPECT_EQ(render_report(name, freed), render_report(name, diagnosis));
  EXPECT_EQ(freed.mb.has_value(), diagnosis.mb.has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Diagnosis, GoldenReportTest,
    testing::Values("clean.dict.yaml", "hand-edited.dict.yaml", "bingling.txt",
                    "no-header-end.dict.yaml", "spaces.dict.yaml", "unknown.txt", "gbk.dict.yaml",
                    "damaged.dict.yaml", "bom.dict.yaml"),
    [](const testing::TestParamInfo<std::string_view>& info) {
      std::string name(info.param);
      std::ranges::replace_if(
          name, [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
      return name;
    });

TEST(DiagnoseTest, MbFileIsReadNotScanned) {
  const Diagnosis source = diagnose(bytes_of(read_testdata("clean.dict.yaml")));
  ASSERT_TRUE(source.mb && *source.mb);
  const Diagnosis diagnosis = diagnose((*source.mb)->bytes);
  expect_consistent(diagnosis);
  EXPECT_EQ(diagnosis.format, TableFormat::Mb);
  EXPECT_EQ(diagnosis.body_rows, 0u);
  EXPECT_TRUE(diagnosis.importable);
  EXPECT_EQ(render_report("clean.mb", diagnosis), read_testdata("clean.mb.report.txt"));
}

TEST(DiagnoseTest, DamagedMbIsAnImportFailureNeverText) {
  const Diagnosis diagnosis = diagnose(bytes_of("Freeime Dictionary\xFF\xFE"));
  expect_consistent(diagnosis);
  EXPECT_EQ(diagnosis.format, TableFormat::Mb);
  ASSERT_EQ(diagnosis.issues.size(), 1u);
  const std::string error = read_mb(bytes_of("Freeime Dictionary\xFF\xFE")).error().message();
  EXPECT_EQ(diagnosis.issues[0], import_failed(error));
  EXPECT_EQ(diagnosis.failure, error);
}

TEST(DiagnoseTest, Utf16IsDiagnosedLikeItsUtf8Twin) {
  const std::string utf8 = read_testdata("hand-edited.dict.yaml");
  std::string utf16le = "\xFF\xFE";
  for (char16_t unit : to_utf16(utf8)) {
    utf16le.push_back(static_cast<char>(unit & 0xFF));
    utf16le.push_back(static_cast<char>(unit >> 8));
  }
  const Diagnosis from_utf8 = diagnose(bytes_of(utf8));
  const Diagnosis from_utf16 = diagnose(bytes_of(utf16le));
  EXPECT_EQ(from_utf16.issues, from_utf8.issues);
  ASSERT_TRUE(from_utf8.mb && *from_utf8.mb && from_utf16.mb && *from_utf16.mb);
  EXPECT_EQ((*from_utf16.mb)->bytes, (*from_utf8.mb)->bytes);
  EXPECT_EQ(from_utf16.body_rows, from_utf8.body_rows);
  EXPECT_EQ(from_utf16.format, TableFormat::Rime);
}

TEST(DiagnoseTest, UndecodableBytesGiveOneIssue) {
  const Diagnosis diagnosis = diagnose(bytes_of("\xFF\xFE\x41"));
  expect_consistent(diagnosis);
  EXPECT_EQ(diagnosis.format, TableFormat::Unknown);
  ASSERT_EQ(diagnosis.issues.size(), 1u);
  EXPECT_EQ(diagnosis.issues[0].message, "文件读不出文本：文本编码无法读取：UTF-16 字节数不是偶数");
  EXPECT_EQ(diagnosis.failure, "文本编码无法读取：UTF-16 字节数不是偶数");
}

TEST(DiagnoseTest, EmptyFileIsUnknown) {
  const Diagnosis diagnosis = diagnose({});
  expect_consistent(diagnosis);
  EXPECT_EQ(diagnosis.format, TableFormat::Unknown);
  ASSERT_EQ(diagnosis.issues.size(), 1u);
  EXPECT_EQ(
      diagnosis.issues[0].message,
      "导入失败：认不出格式：既不是 Rime 词典（缺少独占一行的 ---），也不是冰凌文本码表或极点 "
      ".mb");
}

TEST(DiagnoseTest, SkippedRowsAreSampledThenSummed) {
  const Diagnosis diagnosis =
      diagnose(bytes_of("---\nname: x\n...\n工\ta\n甲\tA\n乙\tB1\n丙\tC\n丁\tD\n戊\tE\n"));
  expect_consistent(diagnosis);
  EXPECT_TRUE(diagnosis.importable);
  const std::string reason = "只支持小写字母、空格分隔的音节和 , . ; /";
  std::vector<Issue> importer_issues;
  std::ranges::copy_if(diagnosis.issues, std::back_inserter(importer_issues),
                       [](const Issue& issue) { return issue.message.starts_with("导入器"); });
  // The summary is a whole-file info, so it follows every warning.
  const std::vector<Issue> expected = {
      importer_skipped(5, "A", reason),
      importer_skipped(6, "B1", reason),
      importer_skipped(7, "C", reason),
      importer_skipped_summary(5, 3),
  };
  EXPECT_EQ(importer_issues, expected);
}

TEST(DiagnoseTest, TableThatFailsTheTrialBuildIsKeptButNotImportable) {
  // The 冰凌 reader takes any text length; the .mb holds at most 127 UTF-16 units.
  std::string long_text;
  for (int i = 0; i < 128; ++i) {
    long_text += "字";
  }
  const std::string table = "[CODETABLEHEADER]\nName=x\n[CODETABLE]\na\t工\nb\t" + long_text + "\n";
  const Diagnosis diagnosis = diagnose(bytes_of(table));
  expect_consistent(diagnosis);
  EXPECT_FALSE(diagnosis.importable);
  ASSERT_TRUE(diagnosis.mb);
  EXPECT_FALSE(*diagnosis.mb);
  EXPECT_EQ(diagnosis.imported_entries, 2u);
  ASSERT_EQ(diagnosis.issues.size(), 1u);
  EXPECT_EQ(diagnosis.issues[0],
            mb_build_failed("编码 b 无法导入：词条 UTF-16 长度必须为 1–255 字节"));
  EXPECT_FALSE(diagnosis.failure.has_value());
}

TEST(DiagnoseTest, BinglingCommentsAndPinnedCodesAreNoMistakes) {
  const Diagnosis pinned = diagnose(bytes_of(
      "[CODETABLEHEADER]\nName=x\n[CODETABLE]\n; 注释\naaaa*\t工\nb\t了\n*\t在\nc**\t人\n"));
  expect_consistent(pinned);
  std::vector<std::string> messages;
  for (const Issue& issue : pinned.issues) {
    messages.push_back(issue.message);
  }
  // Only a code that is nothing but the mark, or that carries a second one, is flagged; the
  // second kind also stops the import.
  EXPECT_EQ(messages, (std::vector<std::string>{
                          "导入失败：编码 c** 无法导入：只支持小写 ASCII 编码",
                          "编码 \"*\"（词条「在」）含不能作码元的字符：\"*\"",
                          "编码 \"c**\"（词条「人」）含不能作码元的字符：\"*\"",
                      }));

  // In a Rime dictionary "*" is no mark at all.
  const Diagnosis rime = diagnose(bytes_of("---\nname: x\n...\n工\taaaa*\n了\tb\n"));
  ASSERT_FALSE(rime.issues.empty());
  EXPECT_EQ(rime.issues[0].message, "编码 \"aaaa*\"（词条「工」）含不能作码元的字符：\"*\"");
}

TEST(DiagnoseTest, LineScanReadsTheColumnsTheHeaderNames) {
  const Diagnosis diagnosis = diagnose(
      bytes_of("---\nname: x\ncolumns:\n  - code\n  - text\n...\naaaa\t工\nAAAA\t式\nzxaa\t　\n"));
  expect_consistent(diagnosis);
  ASSERT_EQ(diagnosis.issues.size(), 2u);
  EXPECT_EQ(diagnosis.issues[0].message, "编码 \"AAAA\"（词条「式」）含不能作码元的字符：\"AAAA\"");
  // The full-width space is a text of its own, imported and not flagged as empty.
  EXPECT_EQ(diagnosis.imported_entries, 2u);
  EXPECT_EQ(diagnosis.issues[0].line, 8u);
}

TEST(DiagnoseTest, RealWubiDictionaryIsImportable) {
  auto path = test_data::wubi86_dict_path();
  if (!path) {
    GTEST_SKIP() << "rime-data-wubi could not be fetched";
  }
  const std::string bytes = test_data::read_file_bytes(*path);
  const Diagnosis diagnosis = diagnose(bytes_of(bytes));
  expect_consistent(diagnosis);
  EXPECT_EQ(diagnosis.format, TableFormat::Rime);
  EXPECT_TRUE(diagnosis.importable) << render_report(path->string(), diagnosis);
  EXPECT_GT(diagnosis.imported_entries, 100'000u);
  EXPECT_GE(diagnosis.body_rows, diagnosis.imported_entries);
}

TEST(DiagnoseTest, OnlyTablesInTheLegacyCodePageGetTheConversionAdvice) {
  // "工" in GBK is B9 A4; 0x80 is a character in no encoding the tool reads.
  const Diagnosis legacy = diagnose(bytes_of("---\nname: x\n...\n\xB9\xA4\taaaa\n"));
  ASSERT_EQ(legacy.issues.size(), 1u);
  EXPECT_EQ(legacy.issues[0].advice,
            "这份文件看起来是 GBK/GB18030 编码，输入法只认 UTF-8 或带 BOM 的 "
            "UTF-16：用自动修复转成 UTF-8");
  EXPECT_FALSE(legacy.importable);
  const Diagnosis broken = diagnose(bytes_of("---\nname: x\n...\n\x80\taaaa\n"));
  // A list of entry lines is a table to be (its header is added); a lone word is none.
  const Diagnosis list = diagnose(bytes_of("\xB9\xA4 aaaa\n"));
  EXPECT_EQ(list.issues[0].advice, legacy.issues[0].advice);
  const Diagnosis no_table = diagnose(bytes_of("\xB9\xA4\xC8\xCB\n"));
  ASSERT_EQ(no_table.issues.size(), 1u);
  EXPECT_EQ(no_table.issues[0].advice, "确认文件是 UTF-8 或带 BOM 的 UTF-16，没有被压缩或损坏");
  // Bytes no reading takes are UTF-8 with damaged lines: never converted, only those lines go.
  ASSERT_EQ(broken.issues.size(), 1u);
  EXPECT_EQ(broken.issues[0].kind, unreadable_damaged_utf8("").kind);
  EXPECT_EQ(broken.issues[0].advice, unreadable_damaged_utf8("").advice);
}

}  // namespace
}  // namespace qovira
