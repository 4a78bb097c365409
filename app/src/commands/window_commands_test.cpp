#include "qovira/app/commands/window_commands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "qovira/app/commands/cli.h"
#include "qovira/app/commands/files.h"
#include "qovira/app/export/conversion.h"
#include "qovira/app/export/export.h"
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
  std::string folder;
};

// Answers dialogs from a queue (nothing left: cancel) and records everything shown. The test's
// thread is the window's: it runs what the commands post to it.
class FakeUi : public WindowUi {
 public:
  std::optional<std::string> open_dialog(std::string_view filter,
                                         std::string_view default_extension) override {
    open_requests.push_back({"", std::string(filter), std::string(default_extension), ""});
    return next_answer();
  }
  std::optional<std::string> save_dialog(std::string_view initial_name, std::string_view filter,
                                         std::string_view default_extension,
                                         std::string_view folder) override {
    save_requests.push_back({std::string(initial_name), std::string(filter),
                             std::string(default_extension), std::string(folder)});
    if (on_save_dialog) {
      on_save_dialog();
    }
    return next_answer();
  }
  void message(std::string_view text, MessageKind kind) override {
    messages.emplace_back(text);
    message_kinds.push_back(kind);
    messages_while_busy += !busy_changes.empty() && busy_changes.back();
  }
  std::optional<std::size_t> choose(std::string_view question,
                                    std::span<const std::string_view> answers) override {
    questions.push_back(std::string(question) + "|" + std::string(answers.front()) + "|" +
                        std::string(answers.back()));
    return std::exchange(choice, std::nullopt);
  }
  void set_report(std::string_view text) override { report = to_crlf(text); }
  void set_status(std::string_view text) override { status = to_crlf(text); }
  std::string report_text() override { return report; }
  void set_busy(bool busy) override { busy_changes.push_back(busy); }
  void set_progress(unsigned permille) override { progress.push_back(permille); }
  void post(std::function<void()> task) override {
    const std::lock_guard lock(mutex_);
    tasks_.push_back(std::move(task));
    posted_.notify_one();
  }

  // Runs what the commands post, in order, until none of them works.
  void settle(const WindowCommands& commands) {
    while (commands.busy()) {
      std::function<void()> task;
      {
        std::unique_lock lock(mutex_);
        posted_.wait(lock, [this] { return !tasks_.empty(); });
        task = std::move(tasks_.front());
        tasks_.pop_front();
      }
      task();
    }
  }

  std::deque<std::optional<std::string>> answers;
  std::function<void()> on_save_dialog;
  // The answer of the next question, then cancel.
  std::optional<std::size_t> choice;
  std::vector<std::string> questions;
  std::vector<SaveRequest> open_requests;
  std::vector<SaveRequest> save_requests;
  std::vector<std::string> messages;
  std::vector<MessageKind> message_kinds;
  int messages_while_busy = 0;
  std::string report;
  std::string status;
  std::vector<bool> busy_changes;
  std::vector<unsigned> progress;

 private:
  std::optional<std::string> next_answer() {
    if (answers.empty()) {
      return std::nullopt;
    }
    auto answer = answers.front();
    answers.pop_front();
    return answer;
  }

  std::mutex mutex_;
  std::condition_variable posted_;
  std::deque<std::function<void()>> tasks_;
};

class WindowCommandsTest : public ::testing::Test {
 protected:
  ScratchDirectory dir_{"qovira-window-"};
  FakeUi ui_;
  WindowCommands commands_{ui_};

  // A command, run to its end.
  void run(void (WindowCommands::*command)()) {
    (commands_.*command)();
    ui_.settle(commands_);
  }
  void load(const std::string& path) {
    commands_.load(path);
    ui_.settle(commands_);
  }

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
  load(source);

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
  load(source);
  EXPECT_TRUE(ui_.status.starts_with("garbage.bin · "));
  EXPECT_TRUE(ui_.status.ends_with(" · 导入不进去"));
  EXPECT_EQ(current_path(), source);
}

TEST_F(WindowCommandsTest, UnreadableFileChangesNothing) {
  const std::string source = dir_.write("good.dict.yaml", GOOD_TABLE);
  load(source);
  const std::string report = ui_.report;
  const std::string status = ui_.status;

  load(dir_.path("missing.yaml"));
  load(path_to_utf8(dir_.root()));  // a directory is no table either
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

  run(&WindowCommands::open_table);
  EXPECT_EQ(current_path(), first);
  const std::string report = ui_.report;
  run(&WindowCommands::open_table);  // cancelled
  EXPECT_EQ(current_path(), first);
  EXPECT_EQ(ui_.report, report);
  run(&WindowCommands::open_table);  // a second file replaces the first
  EXPECT_EQ(current_path(), second);

  ASSERT_EQ(ui_.open_requests.size(), 3U);
  EXPECT_EQ(ui_.open_requests[0].filter,
            "码表文件|*.yaml;*.yml;*.txt;*.mb;*.dict|Rime 词典 (*.dict.yaml)|*.yaml;*.yml|冰凌文本 "
            "(*.txt)|*.txt|极点码表 (*.mb)|*.mb|所有文件|*.*");
  EXPECT_EQ(ui_.open_requests[0].default_extension, "yaml");
}

TEST_F(WindowCommandsTest, CommandsWithoutTableAskForOne) {
  run(&WindowCommands::repair_and_save);
  run(&WindowCommands::export_mb);
  run(&WindowCommands::rescue);
  run(&WindowCommands::save_report);
  EXPECT_EQ(ui_.messages, (std::vector<std::string>{"先打开一份码表。", "先打开一份码表。",
                                                    "先打开一份码表。", "还没有可保存的报告。"}));
  EXPECT_TRUE(ui_.save_requests.empty());
}

TEST_F(WindowCommandsTest, RepairSavesSwitchesToRepairedFileAndKeepsSource) {
  const std::string source = dir_.write("abc.dict.yaml", BROKEN_TABLE);
  load(source);
  const std::string saved = dir_.path("修复后.yaml");
  ui_.answers = {saved};
  run(&WindowCommands::repair_and_save);

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
  load(dir_.write("table.txt", BROKEN_TABLE));
  run(&WindowCommands::repair_and_save);
  load(dir_.write("codes", BROKEN_TABLE));
  run(&WindowCommands::repair_and_save);
  ASSERT_EQ(ui_.save_requests.size(), 2U);
  EXPECT_EQ(ui_.save_requests[0].initial_name, "table.repaired.txt");
  EXPECT_EQ(ui_.save_requests[0].filter, "修复后的码表|*.txt|所有文件|*.*");
  EXPECT_EQ(ui_.save_requests[0].default_extension, "txt");
  EXPECT_EQ(ui_.save_requests[1].initial_name, "codes.repaired.yaml");
  EXPECT_EQ(ui_.save_requests[1].default_extension, "yaml");
}

TEST_F(WindowCommandsTest, RepairCancelledOrUnwritableChangesNothing) {
  const std::string source = dir_.write("abc.dict.yaml", BROKEN_TABLE);
  load(source);
  const std::string report = ui_.report;
  const std::string status = ui_.status;

  ui_.answers = {std::nullopt, dir_.path("no-such-folder/x.yaml")};
  run(&WindowCommands::repair_and_save);
  EXPECT_TRUE(ui_.messages.empty());
  run(&WindowCommands::repair_and_save);
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
  load(source);
  const std::string report = ui_.report;

  ui_.answers = {source, second_name, source};
  run(&WindowCommands::repair_and_save);
  run(&WindowCommands::repair_and_save);
  run(&WindowCommands::save_report);
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
  load("rel.dict.yaml");
  fs::current_path(dir_.root() / "elsewhere");  // as a file dialog may do
  ui_.answers = {source};
  run(&WindowCommands::repair_and_save);
  fs::current_path(previous);

  EXPECT_EQ(ui_.messages, (std::vector<std::string>{"不能存到原文件上：原文件在任何情况下都不会被"
                                                    "改动。请换一个文件名另存。"}));
  EXPECT_EQ(ScratchDirectory::contents(source), BROKEN_TABLE);
}

TEST_F(WindowCommandsTest, ExportWritesVerifiedMbAndKeepsCurrentTable) {
  const std::string source = dir_.write("abc.dict.yaml", GOOD_TABLE);
  load(source);
  const std::string output = dir_.path("输出.mb");
  ui_.answers = {output};
  run(&WindowCommands::export_mb);

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
  load(dir_.write("garbage.txt", "这不是码表\n"));
  ASSERT_FALSE(commands_.current()->diagnosis.mb.has_value());
  run(&WindowCommands::export_mb);
  EXPECT_EQ(ui_.messages,
            (std::vector<std::string>{"这份码表连解析都没通过，没有可导出的内容。先看报告里的[致命]"
                                      "条目，或者先做一次自动修复。"}));
  EXPECT_TRUE(ui_.save_requests.empty());
}

TEST_F(WindowCommandsTest, MbTableIsNotRepairedAndRescueStops) {
  load(dir_.write("abc.dict.yaml", GOOD_TABLE));
  const std::string mb = dir_.path("abc.mb");
  ui_.answers = {mb};
  run(&WindowCommands::export_mb);
  load(mb);
  ASSERT_EQ(commands_.current()->diagnosis.format, TableFormat::Mb);
  ui_.save_requests.clear();

  run(&WindowCommands::repair_and_save);
  run(&WindowCommands::rescue);
  const std::string runtime_format =
      "极点 .mb 是运行时格式，没有可修的源文本。要改内容请回到原始的 yaml 或文本码表。";
  EXPECT_EQ(ui_.messages, (std::vector<std::string>{runtime_format, runtime_format}));
  EXPECT_TRUE(ui_.save_requests.empty());
  EXPECT_EQ(current_path(), mb);
}

TEST_F(WindowCommandsTest, SaveReportWritesBomAndCrLfText) {
  const std::string source = dir_.write("abc.dict.yaml", GOOD_TABLE);
  load(source);
  const std::string saved = dir_.path("报告.txt");
  ui_.answers = {saved};
  run(&WindowCommands::save_report);

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
  run(&WindowCommands::save_report);
  EXPECT_EQ(ui_.messages, (std::vector<std::string>{"还没有可保存的报告。"}));

  ui_.report = "报告\r\n";
  ui_.answers = {dir_.path("no-such-folder/r.txt")};
  run(&WindowCommands::save_report);
  ASSERT_EQ(ui_.save_requests.size(), 1U);
  EXPECT_EQ(ui_.save_requests[0].initial_name, "码表-诊断报告.txt");
  ASSERT_EQ(ui_.messages.size(), 2U);
  EXPECT_TRUE(ui_.messages[1].starts_with("写不进去："));
}

TEST_F(WindowCommandsTest, RescueRepairsThenExportsTheRepairedTable) {
  const std::string source = dir_.write("abc.dict.yaml", BROKEN_TABLE);
  load(source);
  const std::string repaired = dir_.path("abc.repaired.yaml");
  const std::string mb = dir_.path("abc.mb");
  ui_.answers = {repaired, mb};
  run(&WindowCommands::rescue);

  EXPECT_TRUE(ui_.messages.empty());
  ASSERT_EQ(ui_.save_requests.size(), 2U);
  // The export suggests its name from the repaired file, now the current one.
  EXPECT_EQ(ui_.save_requests[1].initial_name, "abc.repaired.mb");
  EXPECT_EQ(current_path(), repaired);
  const ExportResult exported = proven_mb(repaired);
  EXPECT_EQ(read_file(path_from_utf8(mb)).value(), exported.bytes);
  // The report area holds what the repair did, then the export summary; the whole repair report
  // is saved beside the repaired text, as the batch mode saves it.
  const RepairResult result = repair_text(BROKEN_TABLE, TableFormat::Rime, "abc");
  const Diagnosis recheck = diagnose(read_file(path_from_utf8(repaired)).value());
  const std::string repair_report = build_repair_report(source, repaired, result, recheck);
  EXPECT_EQ(ui_.report, to_crlf(repair_report + "\n" + export_summary(repaired, mb, exported)));
  EXPECT_EQ(ScratchDirectory::contents(dir_.path("abc-修复报告.txt")),
            "\xEF\xBB\xBF" + to_crlf(repair_report));
  EXPECT_EQ(ui_.status, "已导出 " + std::to_string(exported.entries) + " 条 → abc.mb");
  EXPECT_EQ(ScratchDirectory::contents(source), BROKEN_TABLE);
}

TEST_F(WindowCommandsTest, ALongRepairListIsCutInTheReportAreaAndSavedWhole) {
  std::string table = "---\nname: 测试\n...\n";
  for (int i = 0; i < 600; ++i) {
    table += "工" + std::to_string(i) + "\tAAAA\n";
  }
  const std::string source = dir_.write("long.dict.yaml", table);
  load(source);
  const std::string repaired = dir_.path("long.repaired.yaml");
  ui_.answers = {repaired};
  run(&WindowCommands::repair_and_save);

  const std::string saved_report = dir_.path("long-修复报告.txt");
  const RepairResult result = repair_text(table, TableFormat::Rime, "long");
  ASSERT_EQ(result.changes.size(), 600U);
  const Diagnosis recheck = diagnose(read_file(path_from_utf8(repaired)).value());
  EXPECT_EQ(ui_.report,
            to_crlf(build_repair_report(source, repaired, result, recheck, {500, saved_report})));
  EXPECT_NE(ui_.report.find("…还有 100 处，详见 " + saved_report), std::string::npos);
  EXPECT_EQ(ScratchDirectory::contents(saved_report),
            "\xEF\xBB\xBF" + to_crlf(build_repair_report(source, repaired, result, recheck)));
}

TEST_F(WindowCommandsTest, WorkRunsWhileTheWindowShowsItBusyAndItsProgress) {
  std::string table = "---\nname: 测试\n...\n";
  for (int i = 0; i < 50000; ++i) {
    table += "工\taaaa\n";
  }
  const std::string first = dir_.write("first.dict.yaml", table);
  const std::string second = dir_.write("second.dict.yaml", GOOD_TABLE);
  commands_.load(first);
  EXPECT_TRUE(commands_.busy());
  commands_.load(second);  // refused while the first works
  run(&WindowCommands::repair_and_save);
  ui_.settle(commands_);

  EXPECT_EQ(current_path(), first);
  EXPECT_EQ(ui_.busy_changes, (std::vector<bool>{true, false}));
  ASSERT_GE(ui_.progress.size(), 3U);
  EXPECT_EQ(ui_.progress.front(), 0U);
  EXPECT_TRUE(std::ranges::is_sorted(ui_.progress));
  EXPECT_GT(ui_.progress.back(), 500U);
  EXPECT_LE(ui_.progress.back(), 1000U);
  EXPECT_TRUE(ui_.save_requests.empty());
}

// Cancelled at any step before its outputs are written, a command writes nothing and leaves the
// window as it was.
TEST_F(WindowCommandsTest, CancelledCommandsWriteNothingAndChangeNothing) {
  const std::string source = dir_.write("abc.dict.yaml", BROKEN_TABLE);
  const std::string other = dir_.write("other.dict.yaml", GOOD_TABLE);
  load(source);
  const std::string report = ui_.report;
  const std::string status = ui_.status;
  const auto cancel = [this] { commands_.cancel(); };
  struct Case {
    std::function<void()> command;
    std::function<void()> at_save_dialog;
  };
  const std::vector<Case> cases = {
      {[&] { commands_.load(other); }, {}},  // before the worker reads anything
      {[&] { commands_.repair_and_save(); }, {}},
      {[&] { commands_.repair_and_save(); }, cancel},  // while the repaired text is re-checked
      {[&] { commands_.rescue(); }, cancel},
  };
  for (const Case& each : cases) {
    ui_.answers = {dir_.path("abc.repaired.yaml"), dir_.path("abc.mb")};
    ui_.on_save_dialog = each.at_save_dialog;
    each.command();
    commands_.cancel();
    ui_.settle(commands_);
    EXPECT_EQ(current_path(), source);
    EXPECT_EQ(ui_.report, report);
    EXPECT_EQ(ui_.status, status);
  }
  EXPECT_TRUE(ui_.messages.empty());
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.root()), fs::directory_iterator()), 2);
}

TEST_F(WindowCommandsTest, ConvertSavesTheChosenTextAndCancelWritesNothing) {
  const std::string yaml = dir_.write("abc.dict.yaml", GOOD_TABLE);
  load(yaml);
  const std::string mb = dir_.path("abc.mb");
  ui_.answers = {mb};
  run(&WindowCommands::export_mb);
  struct Case {
    std::string source;
    std::optional<std::size_t> choice;
    std::optional<std::string> output;
    std::string suggested;  // empty: no save dialog
    TableFormat format;
  };
  const std::vector<Case> cases = {
      {yaml, 0, dir_.path("rime.dict.yaml"), "abc.dict.yaml", TableFormat::Rime},
      {yaml, 1, dir_.path("abc.txt"), "abc.txt", TableFormat::Bingling},
      {mb, 0, dir_.path("from-mb.dict.yaml"), "abc.dict.yaml", TableFormat::Rime},
      {yaml, std::nullopt, std::nullopt, "", TableFormat::Rime},
      {yaml, 1, std::nullopt, "abc.txt", TableFormat::Bingling},
  };
  for (const Case& each : cases) {
    load(each.source);
    const std::string report = ui_.report;
    ui_.save_requests.clear();
    ui_.choice = each.choice;
    ui_.answers = {each.output};
    run(&WindowCommands::convert_to_text);

    EXPECT_EQ(ui_.questions.back(), "转成哪一种文本码表？|Rime 词典(&R)|冰凌码表(&B)");
    ASSERT_EQ(ui_.save_requests.size(), each.suggested.empty() ? 0U : 1U) << each.source;
    if (!each.suggested.empty()) {
      EXPECT_EQ(ui_.save_requests[0].initial_name, each.suggested);
      EXPECT_EQ(ui_.save_requests[0].folder, path_to_utf8(dir_.root()));
    }
    if (!each.output) {
      EXPECT_EQ(ui_.report, report);
      continue;
    }
    const auto bytes = read_file(path_from_utf8(each.source)).value();
    const auto expected = convert_table(import_table(bytes).value().table, each.format).value();
    EXPECT_EQ(read_file(path_from_utf8(*each.output)).value(),
              Bytes(expected.text.begin(), expected.text.end()));
    EXPECT_TRUE(ui_.report.starts_with("转换 3 条 → " + *each.output + "（已回读校验："))
        << ui_.report;
    EXPECT_TRUE(ui_.status.starts_with("已转换 3 条 → "));
    EXPECT_EQ(current_path(), each.source);
  }
  EXPECT_TRUE(ui_.messages.empty());
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.root()), fs::directory_iterator()), 5);
}

// A repair that changes no byte borrows the source's diagnosis; a failed write gives it back.
TEST_F(WindowCommandsTest, ARescueThatCannotWriteKeepsTheTableWhole) {
  const std::string source = dir_.write("abc.dict.yaml", GOOD_TABLE);
  load(source);
  ui_.answers = {dir_.path("no-such-folder/abc.repaired.yaml"), dir_.path("no-such-folder/abc.mb"),
                 dir_.path("abc.mb")};
  run(&WindowCommands::rescue);
  ASSERT_EQ(ui_.messages.size(), 1U);
  EXPECT_TRUE(ui_.messages[0].starts_with("写不进去："));
  EXPECT_EQ(current_path(), source);
  run(&WindowCommands::export_mb);
  EXPECT_EQ(ui_.messages.size(), 1U);
  EXPECT_EQ(read_file(path_from_utf8(dir_.path("abc.mb"))).value(), proven_mb(source).bytes);
}

TEST_F(WindowCommandsTest, FailuresShowTheErrorIconAndEverythingElseTheInformationIcon) {
  run(&WindowCommands::export_mb);  // no table yet: information
  load(dir_.path("missing.yaml"));  // failure
  load(dir_.write("garbage.txt", "这不是码表\n"));
  run(&WindowCommands::export_mb);  // nothing to export: failure
  load(dir_.write("abc.dict.yaml", BROKEN_TABLE));
  ui_.answers = {dir_.path("no-such-folder/x.yaml")};
  run(&WindowCommands::repair_and_save);  // cannot write: failure
  ui_.answers = {dir_.path("abc.dict.yaml")};
  run(&WindowCommands::repair_and_save);  // the source itself: failure
  commands_.about();                      // information
  // A message stands over a window that takes input again.
  EXPECT_EQ(ui_.messages_while_busy, 0);
  EXPECT_EQ(ui_.message_kinds,
            (std::vector<MessageKind>{MessageKind::Information, MessageKind::Failure,
                                      MessageKind::Failure, MessageKind::Failure,
                                      MessageKind::Failure, MessageKind::Information}));
}

TEST_F(WindowCommandsTest, SaveDialogsStartInTheCurrentTablesFolder) {
  fs::create_directories(dir_.root() / "源");
  fs::create_directories(dir_.root() / "出");
  const std::string source = dir_.write("源/abc.dict.yaml", BROKEN_TABLE);
  run(&WindowCommands::save_report);  // nothing to save yet
  ui_.report = "报告\r\n";
  run(&WindowCommands::save_report);  // no table: the dialog's own folder
  load(source);
  ui_.answers = {dir_.path("出/abc.repaired.yaml"), dir_.path("出/abc.mb")};
  run(&WindowCommands::rescue);
  run(&WindowCommands::save_report);

  std::vector<std::string> folders;
  for (const SaveRequest& request : ui_.save_requests) {
    folders.push_back(request.folder);
  }
  // After the repair, the .mb and the report start where the repaired file went.
  EXPECT_EQ(folders,
            (std::vector<std::string>{"", dir_.path("源"), dir_.path("出"), dir_.path("出")}));
  EXPECT_TRUE(fs::exists(path_from_utf8(dir_.path("出/abc-修复报告.txt"))));
}

TEST_F(WindowCommandsTest, AboutNamesTheProgramItsVersionItsLicenceAndWhereToReport) {
  commands_.about();
  ASSERT_EQ(ui_.messages.size(), 1U);
  const std::string& about = ui_.messages[0];
  EXPECT_TRUE(
      about.starts_with("岚栖输入法编码导入器 —— 诊断 / 修复 / 转 .mb\nQoviraTableTool 版本 "));
  EXPECT_NE(about.find("MIT"), std::string::npos);
  EXPECT_NE(about.find("问题反馈"), std::string::npos);
}

TEST_F(WindowCommandsTest, RescueStopsWhenRepairIsCancelledAndGuardsTheOriginal) {
  const std::string source = dir_.write("abc.dict.yaml", BROKEN_TABLE);
  load(source);
  run(&WindowCommands::rescue);  // repair dialog cancelled: no export dialog
  EXPECT_EQ(ui_.save_requests.size(), 1U);

  ui_.answers = {dir_.path("abc.repaired.yaml"), source};
  run(&WindowCommands::rescue);
  EXPECT_EQ(ui_.messages,
            (std::vector<std::string>{
                "不能存到原文件上：原文件在任何情况下都不会被改动。请换一个文件名另存。"}));
  EXPECT_EQ(ScratchDirectory::contents(source), BROKEN_TABLE);
}

}  // namespace
}  // namespace qovira
