#include "qovira/app/commands/window_commands.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <span>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "qovira/app/commands/cli.h"
#include "qovira/app/commands/files.h"
#include "qovira/app/commands/operations.h"
#include "qovira/app/commands/window_layout.h"
#include "qovira/app/export/conversion.h"
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
constexpr std::string_view LOADING = "正在读入并诊断：";
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

constexpr std::string_view WHICH_TEXT = "转成哪一种文本码表？";
constexpr std::array<std::string_view, 2> TEXT_FORMAT_ANSWERS = {"Rime 词典(&R)", "冰凌码表(&B)"};
constexpr std::array<TableFormat, 2> TEXT_FORMATS = {TableFormat::Rime, TableFormat::Bingling};
constexpr std::string_view RIME_FILTER = "Rime 词典|*.dict.yaml|所有文件|*.*";
constexpr std::string_view RIME_EXTENSION = "yaml";
constexpr std::string_view BINGLING_FILTER = "冰凌码表|*.txt|所有文件|*.*";
constexpr std::string_view BINGLING_EXTENSION = "txt";
constexpr std::string_view NOTHING_TO_CONVERT =
    "这份码表连解析都没通过，没有可转换的内容。先看报告里的[致命]条目，或者先做一次自动修复。";
constexpr std::string_view CONVERSION_FAILED = "转换失败：";
constexpr std::string_view READBACK_FAILED = "回读没通过：";
constexpr std::string_view CONVERTED_HEAD = "转换 ";
constexpr std::string_view CONVERTED_ARROW = " 条 → ";
constexpr std::string_view NOTE_LINE = "注意：";
constexpr std::string_view CONVERTED_STATUS_HEAD = "已转换 ";

constexpr std::string_view NO_REPORT_YET = "还没有可保存的报告。";
constexpr std::string_view REPORT_NAME_TAIL = "-诊断报告.txt";
constexpr std::string_view REPORT_STEM_WITHOUT_TABLE = "码表";
constexpr std::string_view REPORT_FILTER = "文本文件|*.txt|所有文件|*.*";
constexpr std::string_view REPORT_EXTENSION = "txt";
constexpr std::string_view REPORT_SAVED = "报告已保存到 ";

// A repair report lists this many items of each kind in the report area, a few thousand lines
// at most; the saved report holds them all.
constexpr std::size_t REPORT_AREA_ITEMS_PER_LIST = 500;

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

// The window for the worker thread: each call runs on the window's thread, posted there, and the
// worker waits for it to return. Called on the window's thread itself, a call runs at once. Once
// the commands go away, waiting calls return as if the user had cancelled. The worker's messages
// wait until its command has ended, so that they stand over a window that takes input again.
class WindowCommands::WorkerUi final : public WindowUi {
 public:
  explicit WorkerUi(WindowUi& window)
      : window_(window),
        window_thread_(std::this_thread::get_id()),
        waiting_(std::make_shared<Waiting>()) {}

  std::optional<std::string> open_dialog(std::string_view filter,
                                         std::string_view default_extension) override {
    return ask<std::optional<std::string>>(
        [&window = window_, filter = std::string(filter),
         extension = std::string(default_extension)] {
          return window.open_dialog(filter, extension);
        },
        std::nullopt);
  }

  std::optional<std::string> save_dialog(std::string_view initial_name, std::string_view filter,
                                         std::string_view default_extension,
                                         std::string_view folder) override {
    return ask<std::optional<std::string>>(
        [&window = window_, name = std::string(initial_name), filter = std::string(filter),
         extension = std::string(default_extension), folder = std::string(folder)] {
          return window.save_dialog(name, filter, extension, folder);
        },
        std::nullopt);
  }

  void message(std::string_view text, MessageKind kind) override {
    if (std::this_thread::get_id() == window_thread_) {
      window_.message(text, kind);
    } else {
      held_messages_.emplace_back(text, kind);
    }
  }

  std::optional<std::size_t> choose(std::string_view question,
                                    std::span<const std::string_view> answers) override {
    return ask<std::optional<std::size_t>>(
        [&window = window_, question = std::string(question),
         answers = std::vector<std::string>(answers.begin(), answers.end())] {
          const std::vector<std::string_view> views(answers.begin(), answers.end());
          return window.choose(question, views);
        },
        std::nullopt);
  }

  // Shows the messages the worker left; on the window's thread, once the worker has ended.
  void show_held_messages() {
    for (const auto& [text, kind] : std::exchange(held_messages_, {})) {
      window_.message(text, kind);
    }
  }

  void set_report(std::string_view text) override {
    ask<bool>(
        [&window = window_, text = std::string(text)] {
          window.set_report(text);
          return true;
        },
        false);
  }

  void set_status(std::string_view text) override {
    ask<bool>(
        [&window = window_, text = std::string(text)] {
          window.set_status(text);
          return true;
        },
        false);
  }

  std::string report_text() override {
    return ask<std::string>([&window = window_] { return window.report_text(); }, {});
  }

  // The commands turn these on the window itself, from its thread.
  void set_busy(bool busy) override { window_.set_busy(busy); }
  void set_progress(unsigned permille) override { window_.set_progress(permille); }
  void post(std::function<void()> task) override { window_.post(std::move(task)); }

  // Every call waiting, and every later one, returns without an answer.
  void close() {
    const std::lock_guard lock(waiting_->mutex);
    waiting_->closed = true;
    waiting_->answered.notify_all();
  }

 private:
  struct Waiting {
    std::mutex mutex;
    std::condition_variable answered;
    bool closed = false;
  };

  template <typename Result, typename Call>
  Result ask(Call call, Result if_closed) {
    if (std::this_thread::get_id() == window_thread_) {
      return call();
    }
    auto answer = std::make_shared<std::optional<Result>>();
    window_.post([waiting = waiting_, answer, call = std::move(call)]() mutable {
      Result result = call();
      const std::lock_guard lock(waiting->mutex);
      *answer = std::move(result);
      waiting->answered.notify_all();
    });
    std::unique_lock lock(waiting_->mutex);
    waiting_->answered.wait(lock, [&] { return answer->has_value() || waiting_->closed; });
    return answer->has_value() ? std::move(**answer) : std::move(if_closed);
  }

  WindowUi& window_;
  std::thread::id window_thread_;
  std::shared_ptr<Waiting> waiting_;
  std::vector<std::pair<std::string, MessageKind>> held_messages_;
};

// The running command's progress, passed on to the window whenever it has grown by a thousandth
// (it never shrinks: the walks over a table's lines repeat), and the user's wish to stop it.
class WindowCommands::WorkProgress final : public Progress {
 public:
  explicit WorkProgress(WindowUi& window) : window_(window) {}

  void restart() {
    const std::lock_guard lock(mutex_);
    shown_ = 0;
    cancelled_ = false;
  }
  void cancel() { cancelled_ = true; }

  void report(std::uint64_t done, std::uint64_t total) override {
    if (total == 0) {
      return;
    }
    const auto permille = static_cast<unsigned>(static_cast<double>(std::min(done, total)) /
                                                static_cast<double>(total) * PERMILLE);
    // Posted under the lock, so that the window gets the values of two threads in their order.
    const std::lock_guard lock(mutex_);
    if (permille > shown_) {
      shown_ = permille;
      window_.post([&window = window_, permille] { window.set_progress(permille); });
    }
  }

  bool cancelled() const override { return cancelled_; }

 private:
  static constexpr unsigned PERMILLE = 1000;

  WindowUi& window_;
  std::mutex mutex_;
  unsigned shown_ = 0;
  std::atomic<bool> cancelled_{false};
};

// The window's outputs go where the user says in a save dialog, starting in the current table's
// folder; the repair report goes beside the repaired text. The current source (and, during a
// rescue, the source it started from) is refused with a message. Nothing is written until the
// command commits its outputs, once nothing can cancel it any more.
class WindowCommands::DialogOutputs : public OutputPlace {
 public:
  DialogOutputs(WindowCommands& commands, std::filesystem::path also_protected)
      : commands_(commands),
        also_protected_(std::move(also_protected)),
        folder_(path_to_utf8(commands.source_file_.parent_path())) {}

  std::optional<std::string> choose(OutputKind kind, std::string_view suggested_name) override {
    chosen_kind_ = kind;
    switch (kind) {
      case OutputKind::Mb:
        return commands_.ui_.save_dialog(suggested_name, MB_FILTER, MB_EXTENSION, folder_);
      case OutputKind::RepairReport:
        return path_to_utf8(path_from_utf8(folder_) / path_from_utf8(suggested_name));
      case OutputKind::RimeText:
        return commands_.ui_.save_dialog(suggested_name, RIME_FILTER, RIME_EXTENSION, folder_);
      case OutputKind::BinglingText:
        return commands_.ui_.save_dialog(suggested_name, BINGLING_FILTER, BINGLING_EXTENSION,
                                         folder_);
      case OutputKind::RepairedText:
        break;
    }
    const std::string extension = output_extension(commands_.current_->path);
    auto chosen = commands_.ui_.save_dialog(
        suggested_name, concat(REPAIRED_FILTER_HEAD, extension, REPAIRED_FILTER_TAIL), extension,
        folder_);
    if (chosen) {
      folder_ = path_to_utf8(path_from_utf8(*chosen).parent_path());
    }
    return chosen;
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

  std::expected<void, std::string> write(const std::string& path, const BytePieces& pieces,
                                         const std::string& permissions_like) override {
    held_.push_back({chosen_kind_, path, pieces, permissions_like});
    return {};
  }

  // Writes the outputs of `kind` held back: nothing, or the system's error.
  std::optional<std::string> commit(OutputKind kind) {
    for (const HeldOutput& output : held_) {
      if (output.kind != kind) {
        continue;
      }
      if (auto written = write_file_atomically(path_from_utf8(output.path), output.pieces,
                                               path_from_utf8(output.permissions_like));
          !written) {
        return std::move(written.error());
      }
    }
    return std::nullopt;
  }

 private:
  struct HeldOutput {
    OutputKind kind;
    std::string path;
    BytePieces pieces;
    std::string permissions_like;
  };

  WindowCommands& commands_;
  std::filesystem::path also_protected_;
  std::string folder_;
  OutputKind chosen_kind_ = OutputKind::RepairedText;
  std::vector<HeldOutput> held_;
};

WindowCommands::WindowCommands(WindowUi& window)
    : window_(window),
      worker_ui_(std::make_unique<WorkerUi>(window)),
      ui_(*worker_ui_),
      progress_(std::make_unique<WorkProgress>(window)),
      status_(INITIAL_STATUS) {}

WindowCommands::~WindowCommands() {
  progress_->cancel();
  worker_ui_->close();
  if (worker_.joinable()) {
    worker_.join();
  }
}

void WindowCommands::start(std::function<void()> work) {
  busy_ = true;
  progress_->restart();
  window_.set_progress(0);
  window_.set_busy(true);
  const auto run = [this, work = std::move(work)] {
    work();
    window_.post([this] { finish(); });
  };
  try {
    worker_ = std::thread(run);
  } catch (const std::system_error&) {
    run();
  }
}

void WindowCommands::finish() {
  if (worker_.joinable()) {
    worker_.join();
  }
  busy_ = false;
  window_.set_busy(false);
  worker_ui_->show_held_messages();
}

void WindowCommands::cancel() {
  if (busy_) {
    progress_->cancel();
  }
}

void WindowCommands::about() {
  ui_.message(about_text(), MessageKind::Information);
}

void WindowCommands::open_table() {
  if (busy_) {
    return;
  }
  if (const auto path = ui_.open_dialog(OPEN_TABLE_FILTER, OPEN_TABLE_DEFAULT_EXTENSION)) {
    load(*path);
  }
}

void WindowCommands::load(const std::string& path) {
  if (!busy_) {
    start([this, path] { load_now(path); });
  }
}

void WindowCommands::load_now(const std::string& path) {
  // The report of the table being replaced is gone while the new one loads, and back if it fails.
  const std::string previous_report = ui_.report_text();
  ui_.set_report(concat(LOADING, displayable(path)));
  ui_.set_status(concat(LOADING, displayable(file_name_of(path))));
  const auto restore = [&] {
    ui_.set_report(previous_report);
    ui_.set_status(status_);
  };

  ProgressPart reading(progress_.get(), 0, ProgressPart::PROGRESS_SCALE / 10);
  auto bytes = read_file(path_from_utf8(path), &reading);
  if (progress_->cancelled()) {
    restore();
    return;
  }
  if (!bytes) {
    restore();
    ui_.message(concat(CANNOT_READ_FILE, displayable(bytes.error())), MessageKind::Failure);
    return;
  }
  ProgressPart diagnosing(progress_.get(), ProgressPart::PROGRESS_SCALE / 10,
                          ProgressPart::PROGRESS_SCALE);
  Diagnosis diagnosis = diagnose(*bytes, &diagnosing);
  if (progress_->cancelled()) {
    restore();
    return;
  }
  ui_.set_report(render_report(displayable(path), diagnosis));
  show_status(status_line(path, diagnosis));
  current_ = SourceTable{path, std::move(*bytes), std::move(diagnosis)};
  source_file_ = absolute_path(path);
}

bool WindowCommands::has_table() {
  if (!current_) {
    ui_.message(OPEN_A_TABLE_FIRST, MessageKind::Information);
    return false;
  }
  return true;
}

void WindowCommands::show_status(std::string text) {
  ui_.set_status(text);
  status_ = std::move(text);
}

void WindowCommands::show_failure(const StepFailure& failure) {
  switch (failure.kind) {
    case StepFailureKind::Cancelled:
      return;
    case StepFailureKind::MbHasNoSourceText:
      ui_.message(MB_HAS_NO_SOURCE_TEXT, MessageKind::Information);
      return;
    case StepFailureKind::Undecodable:
      ui_.message(concat(CANNOT_DECODE_TEXT, failure.detail), MessageKind::Failure);
      return;
    case StepFailureKind::Refused:
      ui_.message(failure.detail, MessageKind::Failure);
      return;
    case StepFailureKind::WriteFailed:
      ui_.message(concat(CANNOT_WRITE, displayable(failure.detail)), MessageKind::Failure);
      return;
    case StepFailureKind::NothingToExport:
      ui_.message(NOTHING_TO_EXPORT, MessageKind::Failure);
      return;
    case StepFailureKind::BuildFailed:
    case StepFailureKind::NotVerified:
      ui_.message(concat(EXPORT_FAILED, displayable(failure.detail)), MessageKind::Failure);
      return;
  }
}

std::string WindowCommands::export_report(const SavedExport& exported) const {
  return export_summary(displayable(current_->path), displayable(exported.path), exported.exported);
}

std::string WindowCommands::export_status(const SavedExport& exported) const {
  return concat(EXPORTED_STATUS_HEAD, std::to_string(exported.exported.entries),
                EXPORTED_STATUS_MIDDLE, displayable(file_name_of(exported.path)));
}

void WindowCommands::finish_repair(
    SavedRepair& repaired, DialogOutputs& outputs,
    const std::optional<std::expected<SavedExport, StepFailure>>& exported) {
  auto report = save_repair_report(*current_, repaired, outputs);
  if (auto failed = outputs.commit(OutputKind::RepairedText)) {
    // A rescue lends the source's diagnosis to a repair that changed no byte: it goes back.
    if (std::ranges::equal(bytes_of(repaired.result.text), current_->bytes)) {
      current_->diagnosis = std::move(repaired.recheck);
    }
    show_failure({StepFailureKind::WriteFailed, std::move(*failed)});
    return;
  }
  // Failures of the later outputs are told once the repair is shown.
  std::vector<StepFailure> failures;
  std::optional<std::string> report_path;
  if (!report) {
    failures.push_back(std::move(report.error()));
  } else if (auto failed = outputs.commit(OutputKind::RepairReport)) {
    failures.push_back({StepFailureKind::WriteFailed, std::move(*failed)});
  } else {
    report_path = displayable(*report);
  }
  const SavedExport* shown_export = nullptr;
  if (exported && !*exported) {
    failures.push_back(exported->error());
  } else if (exported) {
    if (auto failed = outputs.commit(OutputKind::Mb)) {
      failures.push_back({StepFailureKind::WriteFailed, std::move(*failed)});
    } else {
      shown_export = &**exported;
    }
  }

  std::string shown =
      build_repair_report(displayable(current_->path), displayable(repaired.path), repaired.result,
                          repaired.recheck, {REPORT_AREA_ITEMS_PER_LIST, report_path});
  const std::string repaired_status = concat(
      REPAIRED_STATUS_HEAD, std::to_string(repaired.result.changes.size()), REPAIRED_STATUS_MIDDLE,
      displayable(file_name_of(repaired.path)), REPAIRED_STATUS_TAIL);
  const std::string& text = repaired.result.text;
  current_ =
      SourceTable{repaired.path, Bytes(text.begin(), text.end()), std::move(repaired.recheck)};
  source_file_ = absolute_path(repaired.path);
  // A rescue's export summary follows the repair report; its source is the repaired file.
  if (shown_export != nullptr) {
    shown.append("\n").append(export_report(*shown_export));
  }
  ui_.set_report(shown);
  show_status(shown_export != nullptr ? export_status(*shown_export) : repaired_status);
  for (const StepFailure& failure : failures) {
    show_failure(failure);
  }
}

void WindowCommands::repair_and_save() {
  if (!busy_ && has_table()) {
    start([this] { repair_now(); });
  }
}

void WindowCommands::repair_now() {
  DialogOutputs outputs(*this, {});
  auto repaired = qovira::repair_and_save(*current_, outputs, progress_.get());
  if (!repaired) {
    show_failure(repaired.error());
    return;
  }
  finish_repair(*repaired, outputs, std::nullopt);
}

void WindowCommands::export_mb() {
  if (busy_ || !has_table()) {
    return;
  }
  start([this] {
    // A failed read-back does not stop the export: the summary says not to ship the file.
    DialogOutputs outputs(*this, {});
    auto exported = export_and_save(current_->diagnosis, current_->path, true, outputs);
    if (exported) {
      if (auto failed = outputs.commit(OutputKind::Mb)) {
        exported = std::unexpected(StepFailure{StepFailureKind::WriteFailed, std::move(*failed)});
      }
    }
    if (!exported) {
      show_failure(exported.error());
      return;
    }
    ui_.set_report(export_report(*exported));
    show_status(export_status(*exported));
  });
}

void WindowCommands::save_report() {
  if (busy_) {
    return;
  }
  std::string report = ui_.report_text();
  if (trim(report).empty()) {
    ui_.message(NO_REPORT_YET, MessageKind::Information);
    return;
  }
  std::string stem = current_ ? file_stem(current_->path) : std::string();
  if (stem.empty()) {
    stem = REPORT_STEM_WITHOUT_TABLE;
  }
  const std::string folder = current_ ? path_to_utf8(source_file_.parent_path()) : std::string();
  const auto chosen =
      ui_.save_dialog(concat(stem, REPORT_NAME_TAIL), REPORT_FILTER, REPORT_EXTENSION, folder);
  if (!chosen) {
    return;
  }
  if (auto refused = DialogOutputs(*this, {}).refusal(*chosen)) {
    ui_.message(*refused, MessageKind::Failure);
    return;
  }
  start([this, path = *chosen, contents = concat(UTF8_BYTE_ORDER_MARK, report)] {
    if (auto written = write_file_atomically(path_from_utf8(path), bytes_of(contents)); !written) {
      ui_.message(concat(CANNOT_WRITE, displayable(written.error())), MessageKind::Failure);
      return;
    }
    show_status(concat(REPORT_SAVED, displayable(path)));
  });
}

void WindowCommands::rescue() {
  if (!busy_ && has_table()) {
    start([this] { rescue_now(); });
  }
}

void WindowCommands::rescue_now() {
  // The export dialog must not land on the original source either.
  DialogOutputs outputs(*this, source_file_);
  RescueOutcome outcome = qovira::rescue(*current_, outputs,
                                         {.export_source_when_unrepaired = false,
                                          .write_unverified = true,
                                          .name_after_repaired_file = true},
                                         progress_.get());
  if (!*outcome.repair) {
    show_failure(outcome.repair->error());
    return;
  }
  finish_repair(**outcome.repair, outputs, outcome.exported);
}

void WindowCommands::convert_to_text() {
  if (busy_ || !has_table()) {
    return;
  }
  if (const auto chosen = ui_.choose(WHICH_TEXT, TEXT_FORMAT_ANSWERS)) {
    start([this, format = TEXT_FORMATS.at(*chosen)] { convert_now(format); });
  }
}

void WindowCommands::convert_now(TableFormat format) {
  DialogOutputs outputs(*this, {});
  auto converted = convert_and_save(current_->path, current_->bytes, format, outputs);
  if (converted && progress_->cancelled()) {
    return;
  }
  if (converted) {
    if (auto failed = outputs.commit(format == TableFormat::Rime ? OutputKind::RimeText
                                                                 : OutputKind::BinglingText)) {
      converted = std::unexpected(StepFailure{StepFailureKind::WriteFailed, std::move(*failed)});
    }
  }
  if (!converted) {
    const StepFailure& failure = converted.error();
    switch (failure.kind) {
      case StepFailureKind::NothingToExport:
        ui_.message(NOTHING_TO_CONVERT, MessageKind::Failure);
        return;
      case StepFailureKind::BuildFailed:
        ui_.message(concat(CONVERSION_FAILED, displayable(failure.detail)), MessageKind::Failure);
        return;
      case StepFailureKind::NotVerified:
        ui_.message(concat(CONVERSION_FAILED, READBACK_FAILED, displayable(failure.detail)),
                    MessageKind::Failure);
        return;
      default:
        show_failure(failure);
        return;
    }
  }
  const std::string entries = std::to_string(converted->converted.entries);
  std::string report =
      concat(CONVERTED_HEAD, entries, CONVERTED_ARROW, displayable(converted->path), "（",
             converted->converted.verdict, "）\n");
  for (const std::string& note : conversion_notes(converted->converted, format)) {
    report.append(concat(NOTE_LINE, displayable(note), "\n"));
  }
  ui_.set_report(report);
  show_status(concat(CONVERTED_STATUS_HEAD, entries, CONVERTED_ARROW,
                     displayable(file_name_of(converted->path))));
}

}  // namespace qovira
