#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "qovira/app/repair/repair.h"

namespace qovira {
namespace {

std::string read_golden(const std::string& name) {
  const char* source_dir = std::getenv("QOVIRA_SOURCE_DIR");
  const std::string root = source_dir != nullptr ? source_dir : ".";
  std::ifstream in(root + "/app/testdata/repair/" + name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Diagnosis recheck_of(std::uint64_t entries, bool importable, std::vector<Issue> issues) {
  Diagnosis diagnosis;
  diagnosis.imported_entries = entries;
  diagnosis.importable = importable;
  for (Issue& issue : issues) {
    diagnosis.issues.add(std::move(issue));
  }
  return diagnosis;
}

TEST(RepairReport, ListsEveryChangeAndKeptLine) {
  const RepairResult result = repair_text("工 aaaa\n人\tWWWW\n工\taaaa\n工具\ta1xx\nabc def\n",
                                          TableFormat::Rime, "wubi86");
  const Diagnosis recheck = recheck_of(2, true, {duplicate_line(3, 1, "工", "aaaa")});
  const std::string golden = read_golden("report.txt");
  ASSERT_FALSE(golden.empty()) << "golden file missing";
  EXPECT_EQ(
      build_repair_report("/tmp/wubi86.dict.yaml", "/tmp/wubi86.repaired.yaml", result, recheck),
      golden);
  // As saved: every line ended by CR LF.
  std::string saved;
  for (const char c : golden) {
    saved.append(c == '\n' ? "\r\n" : std::string(1, c));
  }
  std::string written;
  write_repair_report("/tmp/wubi86.dict.yaml", "/tmp/wubi86.repaired.yaml", result, recheck, "\r\n",
                      [&written](std::string_view piece) {
                        written.append(piece);
                        return true;
                      });
  EXPECT_EQ(written, saved);
}

TEST(RepairReport, ALongReportIsWrittenInPiecesAndStopsWhenWritingFails) {
  RepairResult result;
  for (std::uint64_t line = 1; line <= 100'000; ++line) {
    result.changes.push_naming(RepairRule::Duplicate, line, "删掉与第 ", line + 7,
                               " 行完全重复的「工」aaaa", "依据");
  }
  const Diagnosis recheck = recheck_of(1, true, {});
  const std::string whole = build_repair_report("a", "b", result, recheck);
  std::vector<std::size_t> pieces;
  std::string joined;
  write_repair_report("a", "b", result, recheck, "\n", [&](std::string_view piece) {
    pieces.push_back(piece.size());
    joined.append(piece);
    return true;
  });
  EXPECT_GT(pieces.size(), 2u);
  EXPECT_LT(*std::ranges::max_element(pieces), whole.size() / 2);
  EXPECT_EQ(joined, whole);

  int calls = 0;
  write_repair_report("a", "b", result, recheck, "\n", [&calls](std::string_view) {
    ++calls;
    return false;
  });
  EXPECT_EQ(calls, 1);
}

TEST(RepairReport, WithoutItemsGoesStraightToTheRecheck) {
  const Diagnosis recheck =
      recheck_of(0, false, {import_failed("甲"), missing_columns(4, "乙"), mb_build_failed("丁")});
  EXPECT_EQ(build_repair_report("a", "b", RepairResult{}, recheck),
            "自动修复结果\n============\n\n原文件：a\n（原文件一个字节都没有改动）\n"
            "修复后另存为：b\n\n自动改动 0 处，保留待人工判断 0 处\n\n"
            "修复后复检\n----------\n词条 0，仍然导入不进去，见下\n"
            "[致命] 导入失败：甲\n[致命] 生成 .mb 失败：丁\n");
}

TEST(RepairReport, NothingIsFolded) {
  RepairResult result;
  for (std::uint64_t line = 1; line <= 40; ++line) {
    result.kept.push_back({RepairRule::NotTwoColumns, "留着", "看不准", line});
  }
  const std::string report = build_repair_report("a", "b", result, recheck_of(1, true, {}));
  EXPECT_NE(report.find("第 40 行：留着\n        原因：看不准\n\n修复后复检"), std::string::npos);
  EXPECT_EQ(report.find("改了什么"), std::string::npos);
}

TEST(RepairReport, RecheckOfARepairedTableImports) {
  const std::string damaged = "工 aaaa\n人\tWWWW\n工\taaaa\n";
  const auto bytes_of = [](std::string_view text) {
    return ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  };
  ASSERT_FALSE(diagnose(bytes_of(damaged)).importable);
  const RepairResult result = repair_text(damaged, TableFormat::Rime, "t");
  const Diagnosis recheck = diagnose(bytes_of(result.text));
  const std::string report = build_repair_report("t.txt", "t.repaired.txt", result, recheck);
  EXPECT_TRUE(report.ends_with("修复后复检\n----------\n词条 2，现在可以导入了\n")) << report;
}

}  // namespace
}  // namespace qovira
