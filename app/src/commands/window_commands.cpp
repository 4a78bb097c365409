#include "qovira/app/commands/window_commands.h"

#include <string>
#include <utility>

#include "qovira/app/commands/cli.h"
#include "qovira/app/commands/files.h"
#include "qovira/app/commands/operations.h"
#include "qovira/app/export/export.h"
#include "qovira/app/repair/repair.h"
#include "qovira/table/encoding.h"
#include "qovira/table/format.h"
#include "qovira/table/safe_text.h"
#include "qovira/table/white_space.h"

namespace qovira {

const std::string_view OPEN_TABLE_FILTER =
    "码表文件|*.yaml;*.yml;*.txt;*.mb;*.dict|Rime 词典 (*.dict.yaml)|*.yaml;*.yml|冰凌文本 "
    "(*.txt)|*.txt|极点码表 (*.mb)|*.mb|所有文件|*.*";
const std::string_view OPEN_TABLE_DEFAULT_EXTENSION = "yaml";

namespace {

constexpr std::string_view CANNOT_READ_FILE = "读不出这个文件：";
constexpr std::string_view STATUS_SEPARATOR = " · ";
constexpr std::string_view STATUS_ENTRIES = "词条 ";
constexpr std::string_view STATUS_FATAL = "致命 ";
constexpr std::string_view STATUS_WARNINGS = " 警告 ";
constexpr std::string_view STATUS_INFOS = " 提示 ";
constexpr std::string_view VERDICT_IMPORTABLE = "可以导入";
constexpr std::string_view VERDICT_NOT_IMPORTABLE = "导入不进去";

constexpr std::string_view OPEN_A_TABLE_FIRST = "先打开一份码表。";
constexpr std::string_view MB_HAS_NO_SOURCE_TEXT =
    "极点 .mb 是运行时格式，没有可修的源文本。要改内容请回到原始的 yaml 或文本码表。";
constexpr std::string_view CANNOT_DECODE_TEXT = "读不出文本：";
constexpr std::string_view CANNOT_WRITE = "写不进去：";
constexpr std::string_view REPAIRED_FILTER_HEAD = "修复后的码表|*.";
constexpr std::string_view REPAIRED_FILTER_TAIL = "|所有文件|*.*";
constexpr std::string_view REPAIRED_STATUS_HEAD = "已修复 ";
constexpr std::string_view REPAIRED_STATUS_MIDDLE = " 处 → ";
constexpr std::string_view REPAIRED_STATUS_TAIL = "（当前已切换到修复后的文件）";
constexpr std::string_view WOULD_OVERWRITE_SOURCE =
    "不能存到原文件上：原文件在任何情况下都不会被改动。请换一个文件名另存。";

constexpr std::string_view NOTHING_TO_EXPORT =
    "这份码表连解析都没通过，没有可导出的内容。先看报告里的[致命]条目，或者先做一次自动修复。";
constexpr std::string_view EXPORT_FAILED = "导出失败：";
constexpr std::string_view MB_FILTER = "极点码表|*.mb|所有文件|*.*";
constexpr std::string_view MB_EXTENSION = "mb";
constexpr std::string_view EXPORTED_STATUS_HEAD = "已导出 ";
constexpr std::string_view EXPORTED_STATUS_MIDDLE = " 条 → ";

constexpr std::string_view NO_REPORT_YET = "还没有可保存的报告。";
constexpr std::string_view REPORT_NAME_TAIL = "-诊断报告.txt";
constexpr std::string_view REPORT_STEM_WITHOUT_TABLE = "码表";
constexpr std::string_view REPORT_FILTER = "文本文件|*.txt|所有文件|*.*";
constexpr std::string_view REPORT_EXTENSION = "txt";
constexpr std::string_view REPORT_SAVED = "报告已保存到 ";

template <typename... Parts>
std::string concat(const Parts&... parts) {
  std::string text;
  (text.append(parts), ...);
  return text;
}

ByteView bytes_of(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string status_line(std::string_view path, const Diagnosis& diagnosis) {
  const IssueCounts counts = diagnosis.issues.counts();
  return concat(displayable(file_name_of(path)), STATUS_SEPARATOR,
                format_display_name(diagnosis.format), STATUS_SEPARATOR, STATUS_ENTRIES,
                std::to_string(diagnosis.imported_entries), STATUS_SEPARATOR, STATUS_FATAL,
                std::to_string(counts.fatal), STATUS_WARNINGS, std::to_string(counts.warnings),
                STATUS_INFOS, std::to_string(counts.infos), STATUS_SEPARATOR,
                diagnosis.importable ? VERDICT_IMPORTABLE : VERDICT_NOT_IMPORTABLE);
}

// The last component without its last extension, as the saved report's name uses it.
std::string file_stem(std::string_view path) {
  return path_to_utf8(path_from_utf8(path).filename().stem());
}

std::filesystem::path absolute_path(std::string_view path) {
  std::error_code ignored;
  return std::filesystem::absolute(path_from_utf8(path), ignored).lexically_normal();
}

}  // namespace

std::string to_crlf(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') {
        ++i;
      }
      out += "\r\n";
    } else if (c == '\n') {
      out += "\r\n";
    } else {
      out += c;
    }
  }
  return out;
}

void WindowCommands::open_table() {
  if (const auto path = ui_.open_dialog(OPEN_TABLE_FILTER, OPEN_TABLE_DEFAULT_EXTENSION)) {
    load(*path);
  }
}

void WindowCommands::load(const std::string& path) {
  auto bytes = read_file(path_from_utf8(path));
  if (!bytes) {
    ui_.message(concat(CANNOT_READ_FILE, displayable(bytes.error())));
    return;
  }
  Diagnosis diagnosis = diagnose(*bytes);
  ui_.set_report(render_report(displayable(path), diagnosis));
  ui_.set_status(status_line(path, diagnosis));
  current_ = SourceTable{path, std::move(*bytes), std::move(diagnosis)};
  source_file_ = absolute_path(path);
}

bool WindowCommands::has_table() {
  if (!current_) {
    ui_.message(OPEN_A_TABLE_FIRST);
    return false;
  }
  return true;
}

bool WindowCommands::overwrites_source(const std::string& chosen,
                                       const std::filesystem::path& also_protected) {
  const std::filesystem::path target = absolute_path(chosen);
  const auto names = [&](const std::filesystem::path& source) {
    return !source.empty() && (source == target || same_file(source, target));
  };
  if (names(source_file_) || names(also_protected)) {
    ui_.message(WOULD_OVERWRITE_SOURCE);
    return true;
  }
  return false;
}

// The window's outputs go where the user says in a save dialog; the current source (and, during a
// rescue, the source it started from) is refused with a message.
class WindowCommands::DialogOutputs : public OutputPlace {
 public:
  DialogOutputs(WindowCommands& commands, std::filesystem::path also_protected)
      : commands_(commands), also_protected_(std::move(also_protected)) {}

  std::optional<std::string> choose(OutputKind kind, std::string_view suggested_name) override {
    if (kind == OutputKind::Mb) {
      return commands_.ui_.save_dialog(suggested_name, MB_FILTER, MB_EXTENSION);
    }
    const std::string extension = output_extension(commands_.current_->path);
    return commands_.ui_.save_dialog(
        suggested_name, concat(REPAIRED_FILTER_HEAD, extension, REPAIRED_FILTER_TAIL), extension);
  }

  std::optional<std::string> refusal(const std::string& path) override {
    const std::filesystem::path target = absolute_path(path);
    const auto names = [&](const std::filesystem::path& source) {
      return !source.empty() && (source == target || same_file(source, target));
    };
    if (names(commands_.source_file_) || names(also_protected_)) {
      return std::string(WOULD_OVERWRITE_SOURCE);
    }
    return std::nullopt;
  }

 private:
  WindowCommands& commands_;
  std::filesystem::path also_protected_;
};

void WindowCommands::show_failure(const StepFailure& failure) {
  switch (failure.kind) {
    case StepFailureKind::Cancelled:
      return;
    case StepFailureKind::MbHasNoSourceText:
      ui_.message(MB_HAS_NO_SOURCE_TEXT);
      return;
    case StepFailureKind::Undecodable:
      ui_.message(concat(CANNOT_DECODE_TEXT, failure.detail));
      return;
    case StepFailureKind::Refused:
      ui_.message(failure.detail);
      return;
    case StepFailureKind::WriteFailed:
      ui_.message(concat(CANNOT_WRITE, displayable(failure.detail)));
      return;
    case StepFailureKind::NothingToExport:
      ui_.message(NOTHING_TO_EXPORT);
      return;
    case StepFailureKind::BuildFailed:
    case StepFailureKind::NotVerified:
      ui_.message(concat(EXPORT_FAILED, displayable(failure.detail)));
      return;
  }
}

bool WindowCommands::show_repair(std::expected<SavedRepair, StepFailure>& repaired) {
  if (!repaired) {
    show_failure(repaired.error());
    return false;
  }
  ui_.set_report(build_repair_report(displayable(current_->path), displayable(repaired->path),
                                     repaired->result, repaired->recheck));
  ui_.set_status(concat(REPAIRED_STATUS_HEAD, std::to_string(repaired->result.changes.size()),
                        REPAIRED_STATUS_MIDDLE, displayable(file_name_of(repaired->path)),
                        REPAIRED_STATUS_TAIL));
  const std::string& text = repaired->result.text;
  current_ =
      SourceTable{repaired->path, Bytes(text.begin(), text.end()), std::move(repaired->recheck)};
  source_file_ = absolute_path(repaired->path);
  return true;
}

void WindowCommands::show_export(const std::expected<SavedExport, StepFailure>& exported) {
  if (!exported) {
    show_failure(exported.error());
    return;
  }
  ui_.set_report(
      export_summary(displayable(current_->path), displayable(exported->path), exported->exported));
  ui_.set_status(concat(EXPORTED_STATUS_HEAD, std::to_string(exported->exported.entries),
                        EXPORTED_STATUS_MIDDLE, displayable(file_name_of(exported->path))));
}

void WindowCommands::repair_and_save() {
  if (!has_table()) {
    return;
  }
  DialogOutputs outputs(*this, {});
  auto repaired = qovira::repair_and_save(*current_, outputs);
  show_repair(repaired);
}

void WindowCommands::export_mb() {
  if (!has_table()) {
    return;
  }
  // A failed read-back does not stop the export: the summary says not to ship the file.
  DialogOutputs outputs(*this, {});
  show_export(export_and_save(current_->diagnosis, current_->path, true, outputs));
}

void WindowCommands::save_report() {
  const std::string report = ui_.report_text();
  if (trim(report).empty()) {
    ui_.message(NO_REPORT_YET);
    return;
  }
  std::string stem = current_ ? file_stem(current_->path) : std::string();
  if (stem.empty()) {
    stem = REPORT_STEM_WITHOUT_TABLE;
  }
  const auto chosen =
      ui_.save_dialog(concat(stem, REPORT_NAME_TAIL), REPORT_FILTER, REPORT_EXTENSION);
  if (!chosen || overwrites_source(*chosen, {})) {
    return;
  }
  const std::string contents = concat(UTF8_BYTE_ORDER_MARK, report);
  if (auto written = write_file_atomically(path_from_utf8(*chosen), bytes_of(contents)); !written) {
    ui_.message(concat(CANNOT_WRITE, displayable(written.error())));
    return;
  }
  ui_.set_status(concat(REPORT_SAVED, displayable(*chosen)));
}

void WindowCommands::rescue() {
  if (!has_table()) {
    return;
  }
  // The export dialog must not land on the original source either.
  DialogOutputs outputs(*this, source_file_);
  RescueOutcome outcome = qovira::rescue(*current_, outputs,
                                         {.export_source_when_unrepaired = false,
                                          .write_unverified = true,
                                          .name_after_repaired_file = true});
  if (!show_repair(*outcome.repair) || !outcome.exported) {
    return;
  }
  show_export(*outcome.exported);
}

}  // namespace qovira
