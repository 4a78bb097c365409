#include "qovira/app/commands/window_commands.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <string>
#include <vector>

#include "qovira/app/commands/cli.h"
#include "qovira/app/export/export.h"
#include "qovira/app/commands/files.h"
#include "qovira/app/repair/repair.h"
#include "scratch_directory.h"

namespace qovira {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view GOOD_TABLE =
    "---\nname: 测试\nversion: \"1.0\"\nsort: original\n...\n工\taaaa\n了\tb\n你好\twqvb\n";
// Capital and space-separated codes: the importer refuses the rows, the repair mends them.
constexpr std::string_view BROKEN_TABLE =
    "---\nname: 测试\nversion: \"1.0\"\nsort: original\n...\n工\tAAAA\n了 B\n你好\tWQVB\n";

struct SaveRequest {
  std::string initial_name;
  std::string filter;
  std::string default_extension;
};

// Answers dialogs from a queue (nothing left: cancel) and records everything shown.
class FakeUi : public WindowUi {
 public:
  std::optional<std::string> open_dialog(std::string_view filter,
                                         std::string_view default_extension) override {
    open_requests.push_back({"", std::string(filter), std::string(default_extension)});
    return next_answer();
  }
  std::optional<std::string> save_dialog(std::string_view initial_name, std::string_view filter,
                                         std::string_view default_extension) override {
    save_requests.push_back(
        {std::string(initial_name), std::string(filter), std::string(default_extension)});
    return next_answer();
  }
  void message(std::string_view text) override { messages.emplace_back(text); }
  void set_report(std::string_view text) override { report = to_crlf(text); }
  void set_status(std::string_view text) override { status = to_crlf(text); }
  std::string report_text() override { return report; }

  std::deque<std::optional<std::string>> answers;
  std::vector<SaveRequest> open_requests;
  std::vector<SaveRequest> save_requests;
  std::vector<std::string> messages;
  std::string report;
  std::string status;

 private:
  std::optional<std::string> next_answer() {
    if (answers.empty()) {
      return std::nullopt;
    }
    auto answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

class WindowCommandsTest : public ::testing::Test {
 protected:
  ScratchDirectory dir_{"qovira-window-"};
  FakeUi ui_;
  WindowCommands commands_{ui_};

  std::optional<std::string> current_path() const {
    return commands_.current() ? std::optional(commands_.current()->path) : std::nullopt;
  }

  // The .mb an export of the file at `path` writes, from a diagnosis of its own.
  static ExportResult proven_mb(const std::string& path) {
    return diagnose(read_file(path_from_utf8(path)).value()).mb.value().value();
  }
};

TEST(ToCrlf, TurnsEveryLineEndIntoCrLf) {
  EXPECT_EQ(to_crlf(""), "");
  EXPECT_EQ(to_crlf("a\nb\r\nc\rd\n"), "a\r\nb\r\nc\r\nd\r\n");
  EXPECT_EQ(to_crlf("\r\r\n\n"), "\r\n\r\n\r\n");
  EXPECT_EQ(to_crlf("无换行"), "无换行");
}

TEST_F(WindowCommandsTest, LoadShowsReportAndStatusAndBecomesCurrent) {
  const std::string source = dir_.write("测试码表.dict.yaml", GOOD_TABLE);
  commands_.load(source);

  const Diagnosis expected = diagnose(read_file(path_from_utf8(source)).value());
  ASSERT_TRUE(expected.importable);
  const IssueCounts counts = expected.issues.counts();
  EXPECT_EQ(ui_.report, to_crlf(render_report(source, expected)));
  EXPECT_EQ(ui_.status, "测试码表.dict.yaml · Rime 词典（.dict.yaml） · 词条 3 · 致命 0 警告 " +
                            std::to_string(counts.warnings) + " 提示 " +
                            std::to_string(counts.infos) + " · 可以导入");
  EXPECT_TRUE(ui_.messages.empty());
  EXPECT_EQ(current_path(), source);
  EXPECT_EQ(std::string(commands_.current()->bytes.begin(), commands_.current()->bytes.end()),
            GOOD_TABLE);
}

TEST_F(WindowCommandsTest, LoadOfUnimportableFileSaysSo) {
  const std::string source = dir_.write("garbage.bin", std::string("\x01\x02\xff\xfe\x00zz", 7));
  commands_.load(source);
  EXPECT_TRUE(ui_.status.starts_with("garbage.bin · "));
  EXPECT_TRUE(ui_.status.ends_with(" · 导入不进去"));
  EXPECT_EQ(current_path(), source);
}

TEST_F(WindowCommandsTest, UnreadableFileChangesNothing) {
  const std::string source = dir_.write("good.dict.yaml", GOOD_TABLE);
  commands_.load(source);
  const std::string report = ui_.report;
  const std::string status = ui_.status;

  commands_.load(dir_.path("missing.yaml"));
  commands_.load(path_to_utf8(dir_.root()));  // a directory is no table either
  ASSERT_EQ(ui_.messages.size(), 2U);
  EXPECT_TRUE(ui_.messages[0].starts_with("读不出这个文件："));
  EXPECT_GT(ui_.messages[0].size(), std::string_view("读不出这个文件：").size());
  EXPECT_TRUE(ui_.messages[1].starts_with("读不出这个文件："));
  EXPECT_EQ(ui_.report, report);
  EXPECT_EQ(ui_.status, status);
  EXPECT_EQ(current_path(), source);
}

TEST_F(WindowCommandsTest, OpenDialogLoadsTheChosenFileAndCancelChangesNothing) {
  const std::string first = dir_.write("first.dict.yaml", GOOD_TABLE);
  const std::string second = dir_.write("second.dict.yaml", BROKEN_TABLE);
  ui_.answers = {first, std::nullopt, second};

  commands_.open_table();
  EXPECT_EQ(current_path(), first);
  const std::string report = ui_.report;
  commands_.open_table();  // cancelled
  EXPECT_EQ(current_path(), first);
  EXPECT_EQ(ui_.report, report);
  commands_.open_table();  // a second file replaces the first
  EXPECT_EQ(current_path(), second);

  ASSERT_EQ(ui_.open_requests.size(), 3U);
  EXPECT_EQ(ui_.open_requests[0].filter,
            "码表文件|*.yaml;*.yml;*.txt;*.mb;*.dict|Rime 词典 (*.dict.yaml)|*.yaml;*.yml|冰凌文本 "
            "(*.txt)|*.txt|极点码表 (*.mb)|*.mb|所有文件|*.*");
  EXPECT_EQ(ui_.open_requests[0].default_extension, "yaml");
}

TEST_F(WindowCommandsTest, CommandsWithoutTableAskForOne) {
  commands_.repair_and_save();
  commands_.export_mb();
  commands_.rescue();
  commands_.save_report();
  EXPECT_EQ(ui_.messages, (std::vector<std::string>{"先打开一份码表。", "先打开一份码表。",
                                                    "先打开一份码表。", "还没有可保存的报告。"}));
  EXPECT_TRUE(ui_.save_requests.empty());
}

TEST_F(WindowCommandsTest, RepairSavesSwitchesToRepairedFileAndKeepsSource) {
  const std::string source = dir_.write("abc.dict.yaml", BROKEN_TABLE);
  commands_.load(source);
  const std::string saved = dir_.path("修复后.yaml");
  ui_.answers = {saved};
  commands_.repair_and_save();

  ASSERT_EQ(ui_.save_requests.size(), 1U);
  EXPECT_EQ(ui_.save_requests[0].initial_name, "abc.repaired.yaml");
  EXPECT_EQ(ui_.save_requests[0].filter, "修复后的码表|*.yaml|所有文件|*.*");
  EXPECT_EQ(ui_.save_requests[0].default_extension, "yaml");
  EXPECT_TRUE(ui_.messages.empty());

  const RepairResult repaired = repair_text(BROKEN_TABLE, TableFormat::Rime, "abc");
  ASSERT_FALSE(repaired.changes.empty());
  EXPECT_EQ(ScratchDirectory::contents(saved), repaired.text);
  EXPECT_EQ(ScratchDirectory::contents(source), BROKEN_TABLE);

  const Diagnosis recheck = diagnose(read_file(path_from_utf8(saved)).value());
  EXPECT_TRUE(recheck.importable);
  EXPECT_EQ(ui_.report, to_crlf(build_repair_report(source, saved, repaired, recheck)));
  EXPECT_EQ(ui_.status, "已修复 " + std::to_string(repaired.changes.size()) +
                            " 处 → 修复后.yaml（当前已切换到修复后的文件）");
  EXPECT_EQ(current_path(), saved);
  ASSERT_TRUE(commands_.current().has_value());
  EXPECT_TRUE(commands_.current()->diagnosis.importable);
}

TEST_F(WindowCommandsTest, RepairSuggestsNamesFromTheSourceExtension) {
  commands_.load(dir_.write("table.txt", BROKEN_TABLE));
  commands_.repair_and_save();
  commands_.load(dir_.write("codes", BROKEN_TABLE));
  commands_.repair_and_save();
  ASSERT_EQ(ui_.save_requests.size(), 2U);
  EXPECT_EQ(ui_.save_requests[0].initial_name, "table.repaired.txt");
  EXPECT_EQ(ui_.save_requests[0].filter, "修复后的码表|*.txt|所有文件|*.*");
  EXPECT_EQ(ui_.save_requests[0].default_extension, "txt");
  EXPECT_EQ(ui_.save_requests[1].initial_name, "codes.repaired.yaml");
  EXPECT_EQ(ui_.save_requests[1].default_extension, "yaml");
}

TEST_F(WindowCommandsTest, RepairCancelledOrUnwritableChangesNothing) {
  const std::string source = dir_.write("abc.dict.yaml", BROKEN_TABLE);
  commands_.load(source);
  const std::string report = ui_.report;
  const std::string status = ui_.status;

  ui_.answers = {std::nullopt, dir_.path("no-such-folder/x.yaml")};
  commands_.repair_and_save();
  EXPECT_TRUE(ui_.messages.empty());
  commands_.repair_and_save();
  ASSERT_EQ(ui_.messages.size(), 1U);
  EXPECT_TRUE(ui_.messages[0].starts_with("写不进去："));

  EXPECT_EQ(ui_.report, report);
  EXPECT_EQ(ui_.status, status);
  EXPECT_EQ(current_path(), source);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.root()), fs::directory_iterator()), 1);
}

TEST_F(WindowCommandsTest, SaveDialogsNeverOverwriteTheSource) {
  const std::string source = dir_.write("abc.dict.yaml", BROKEN_TABLE);
  const std::string second_name = dir_.path("hard-link.yaml");
  fs::create_hard_link(path_from_utf8(source), path_from_utf8(second_name));
  commands_.load(source);
  const std::string report = ui_.report;

  ui_.answers = {source, second_name, source};
  commands_.repair_and_save();
  commands_.repair_and_save();
  commands_.save_report();
  ASSERT_EQ(ui_.messages.size(), 3U);
  for (const std::string& message : ui_.messages) {
    EXPECT_EQ(message, "不能存到原文件上：原文件在任何情况下都不会被改动。请换一个文件名另存。");
  }
  EXPECT_EQ(ScratchDirectory::contents(source), BROKEN_TABLE);
  EXPECT_EQ(current_path(), source);
  EXPECT_EQ(ui_.report, report);
}

TEST_F(WindowCommandsTest, RelativeSourceStaysProtectedWhenTheWorkingFolderChanges) {
  const std::string source = dir_.write("rel.dict.yaml", BROKEN_TABLE);
  fs::create_directory(dir_.root() / "elsewhere");
  const fs::path previous = fs::current_path();
  fs::current_path(dir_.root());
  commands_.load("rel.dict.yaml");
  fs::current_path(dir_.root() / "elsewhere");  // as a file dialog may do
  ui_.answers = {source};
  commands_.repair_and_save();
  fs::current_path(previous);

  EXPECT_EQ(ui_.messages, (std::vector<std::string>{"不能存到原文件上：原文件在任何情况下都不会被"
                                                    "改动。请换一个文件名另存。"}));
  EXPECT_EQ(ScratchDirectory::contents(source), BROKEN_TABLE);
}

TEST_F(WindowCommandsTest, ExportWritesVerifiedMbAndKeepsCurrentTable) {
  const std::string source = dir_.write("abc.dict.yaml", GOOD_TABLE);
  commands_.load(source);
  const std::string output = dir_.path("输出.mb");
  ui_.answers = {output};
  commands_.export_mb();

  ASSERT_EQ(ui_.save_requests.size(), 1U);
  EXPECT_EQ(ui_.save_requests[0].initial_name, "abc.mb");
  EXPECT_EQ(ui_.save_requests[0].filter, "极点码表|*.mb|所有文件|*.*");
  EXPECT_EQ(ui_.save_requests[0].default_extension, "mb");
  EXPECT_TRUE(ui_.messages.empty());

  const ExportResult expected = proven_mb(source);
  EXPECT_TRUE(expected.verified);
  const auto written = read_file(path_from_utf8(output));
  ASSERT_TRUE(written.has_value());
  EXPECT_EQ(*written, expected.bytes);
  EXPECT_EQ(ui_.report, to_crlf(export_summary(source, output, expected)));
  EXPECT_EQ(ui_.status, "已导出 3 条 → 输出.mb");
  EXPECT_EQ(current_path(), source);
}

TEST_F(WindowCommandsTest, ExportNeedsAParsedTable) {
  commands_.load(dir_.write("garbage.txt", "这不是码表\n"));
  ASSERT_FALSE(commands_.current()->diagnosis.mb.has_value());
  commands_.export_mb();
  EXPECT_EQ(ui_.messages,
            (std::vector<std::string>{"这份码表连解析都没通过，没有可导出的内容。先看报告里的[致命]"
                                      "条目，或者先做一次自动修复。"}));
  EXPECT_TRUE(ui_.save_requests.empty());
}

TEST_F(WindowCommandsTest, MbTableIsNotRepairedAndRescueStops) {
  commands_.load(dir_.write("abc.dict.yaml", GOOD_TABLE));
  const std::string mb = dir_.path("abc.mb");
  ui_.answers = {mb};
  commands_.export_mb();
  commands_.load(mb);
  ASSERT_EQ(commands_.current()->diagnosis.format, TableFormat::Mb);
  ui_.save_requests.clear();

  commands_.repair_and_save();
  commands_.rescue();
  const std::string runtime_format =
      "极点 .mb 是运行时格式，没有可修的源文本。要改内容请回到原始的 yaml 或文本码表。";
  EXPECT_EQ(ui_.messages, (std::vector<std::string>{runtime_format, runtime_format}));
  EXPECT_TRUE(ui_.save_requests.empty());
  EXPECT_EQ(current_path(), mb);
}

TEST_F(WindowCommandsTest, SaveReportWritesBomAndCrLfText) {
  const std::string source = dir_.write("abc.dict.yaml", GOOD_TABLE);
  commands_.load(source);
  const std::string saved = dir_.path("报告.txt");
  ui_.answers = {saved};
  commands_.save_report();

  ASSERT_EQ(ui_.save_requests.size(), 1U);
  EXPECT_EQ(ui_.save_requests[0].initial_name, "abc.dict-诊断报告.txt");
  EXPECT_EQ(ui_.save_requests[0].filter, "文本文件|*.txt|所有文件|*.*");
  EXPECT_EQ(ui_.save_requests[0].default_extension, "txt");
  EXPECT_EQ(ScratchDirectory::contents(saved), "\xEF\xBB\xBF" + ui_.report);
  EXPECT_NE(ui_.report.find("\r\n"), std::string::npos);
  EXPECT_EQ(ui_.status, "报告已保存到 " + saved);
}

TEST_F(WindowCommandsTest, SaveReportRefusesBlankReportAndNamesItWithoutTable) {
  ui_.report = " \r\n\t　\r\n";
  commands_.save_report();
  EXPECT_EQ(ui_.messages, (std::vector<std::string>{"还没有可保存的报告。"}));

  ui_.report = "报告\r\n";
  ui_.answers = {dir_.path("no-such-folder/r.txt")};
  commands_.save_report();
  ASSERT_EQ(ui_.save_requests.size(), 1U);
  EXPECT_EQ(ui_.save_requests[0].initial_name, "码表-诊断报告.txt");
  ASSERT_EQ(ui_.messages.size(), 2U);
  EXPECT_TRUE(ui_.messages[1].starts_with("写不进去："));
}

TEST_F(WindowCommandsTest, RescueRepairsThenExportsTheRepairedTable) {
  const std::string source = dir_.write("abc.dict.yaml", BROKEN_TABLE);
  commands_.load(source);
  const std::string repaired = dir_.path("abc.repaired.yaml");
  const std::string mb = dir_.path("abc.mb");
  ui_.answers = {repaired, mb};
  commands_.rescue();

  EXPECT_TRUE(ui_.messages.empty());
  ASSERT_EQ(ui_.save_requests.size(), 2U);
  // The export suggests its name from the repaired file, now the current one.
  EXPECT_EQ(ui_.save_requests[1].initial_name, "abc.repaired.mb");
  EXPECT_EQ(current_path(), repaired);
  const ExportResult exported = proven_mb(repaired);
  EXPECT_EQ(read_file(path_from_utf8(mb)).value(), exported.bytes);
  EXPECT_EQ(ui_.report, to_crlf(export_summary(repaired, mb, exported)));
  EXPECT_EQ(ui_.status, "已导出 " + std::to_string(exported.entries) + " 条 → abc.mb");
  EXPECT_EQ(ScratchDirectory::contents(source), BROKEN_TABLE);
}

TEST_F(WindowCommandsTest, RescueStopsWhenRepairIsCancelledAndGuardsTheOriginal) {
  const std::string source = dir_.write("abc.dict.yaml", BROKEN_TABLE);
  commands_.load(source);
  commands_.rescue();  // repair dialog cancelled: no export dialog
  EXPECT_EQ(ui_.save_requests.size(), 1U);

  ui_.answers = {dir_.path("abc.repaired.yaml"), source};
  commands_.rescue();
  EXPECT_EQ(ui_.messages,
            (std::vector<std::string>{
                "不能存到原文件上：原文件在任何情况下都不会被改动。请换一个文件名另存。"}));
  EXPECT_EQ(ScratchDirectory::contents(source), BROKEN_TABLE);
}

}  // namespace
}  // namespace qovira
