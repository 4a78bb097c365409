// The commands of the main window (open, repair and save, export .mb, save report, rescue) and the
// window's one current table. Every window (Win32, Qt, a test fake) reaches the user only through
// WindowUi, so all windows behave alike by construction.
//
// A command's work runs on a worker thread, so that the window keeps painting and answering: the
// window's thread starts it and returns at once. The worker reaches the window through messages
// posted to the window's thread (WindowUi::post), and waits there for a dialog's answer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>

#include "qovira/app/commands/operations.h"
#include "qovira/app/diagnosis/diagnosis.h"
#include "qovira/table/model.h"
#include "qovira/table/progress.h"

namespace qovira {

// Dialog filters hold display name and pattern fields separated by '|'.
extern const std::string_view OPEN_TABLE_FILTER;
extern const std::string_view OPEN_TABLE_DEFAULT_EXTENSION;

// A message that reports a failure shows the error icon, any other the information icon.
enum class MessageKind : std::uint8_t { Information, Failure };

// What a window offers the commands. Paths are UTF-8. Implemented by the Win32 window, the Qt
// window and the fake of the unit tests. Only post() is called from other threads.
class WindowUi {
 public:
  virtual ~WindowUi() = default;

  // The chosen path, or nothing when the user cancels.
  virtual std::optional<std::string> open_dialog(std::string_view filter,
                                                 std::string_view default_extension) = 0;
  // Asks before overwriting an existing file. Starts in `folder` unless that is empty.
  virtual std::optional<std::string> save_dialog(std::string_view initial_name,
                                                 std::string_view filter,
                                                 std::string_view default_extension,
                                                 std::string_view folder) = 0;
  virtual void message(std::string_view text, MessageKind kind) = 0;
  // Asks `question` with one button for each of `answers` and one to cancel: the index of the
  // answer chosen, or nothing when the user cancels.
  virtual std::optional<std::size_t> choose(std::string_view question,
                                            std::span<const std::string_view> answers) = 0;
  // Both store the text with CR LF line ends (to_crlf).
  virtual void set_report(std::string_view text) = 0;
  virtual void set_status(std::string_view text) = 0;
  // The report area as it holds the text.
  virtual std::string report_text() = 0;
  // While a command works: its buttons off, the progress bar and the cancel button shown, a wait
  // cursor; all back as they were when it ends.
  virtual void set_busy(bool busy) = 0;
  // How far the running command got, in thousandths.
  virtual void set_progress(unsigned permille) = 0;
  // Runs `task` on the window's thread after what is already queued there. Callable from any
  // thread; never waits for the task.
  virtual void post(std::function<void()> task) = 0;
};

// Every line end (CR LF, lone LF, lone CR) as CR LF: multi-line controls show nothing else.
std::string to_crlf(std::string_view text);

// The window state and its commands. Only load and repair change the current table; a failed or
// cancelled command leaves the window as it was. Source files are only read: a save dialog
// answered with the current source's own path is refused. Created, called and destroyed on the
// window's thread.
class WindowCommands {
 public:
  explicit WindowCommands(WindowUi& window);
  // Cancels a command still running and waits for it to stop.
  ~WindowCommands();
  WindowCommands(const WindowCommands&) = delete;
  WindowCommands& operator=(const WindowCommands&) = delete;

  // The commands; while one works, the others are refused without a word (their buttons are off).
  // Open dialog, then load the chosen file.
  void open_table();
  // Loads `path` as the current table: the command line, a dropped file or the open dialog.
  void load(const std::string& path);
  void repair_and_save();
  void export_mb();
  void save_report();
  void rescue();
  // Asks for Rime or 冰凌, then saves the current table converted to that text.
  void convert_to_text();
  // Stops the running command at its next step: it writes no file and leaves the window as it
  // was. Once its outputs are being written a command finishes.
  void cancel();
  // The About box.
  void about();

  bool busy() const { return busy_; }
  // Read only while no command works.
  const std::optional<SourceTable>& current() const { return current_; }

 private:
  class WorkerUi;
  class WorkProgress;
  class DialogOutputs;

  // Starts `work` on a worker thread (on this one when none can be started).
  void start(std::function<void()> work);
  // Back on the window's thread once the work has ended.
  void finish();

  void load_now(const std::string& path);
  void repair_now();
  void rescue_now();
  void convert_now(TableFormat format);
  bool has_table();
  void show_status(std::string text);
  void show_failure(const StepFailure& failure);
  // Writes the outputs of a repair (and of the export a rescue adds), then shows them and makes
  // the repaired file current; nothing is shown when the repaired text cannot be written.
  void finish_repair(SavedRepair& repaired, DialogOutputs& outputs,
                     const std::optional<std::expected<SavedExport, StepFailure>>& exported);
  std::string export_report(const SavedExport& exported) const;
  std::string export_status(const SavedExport& exported) const;

  WindowUi& window_;
  std::unique_ptr<WorkerUi> worker_ui_;
  // The window as the commands reach it, from either thread.
  WindowUi& ui_;
  std::unique_ptr<WorkProgress> progress_;
  std::thread worker_;
  bool busy_ = false;

  std::optional<SourceTable> current_;
  // The current path made absolute when it became current: a file dialog may change the working
  // directory afterwards.
  std::filesystem::path source_file_;
  // The status line as the commands last set it, shown again after a cancelled load.
  std::string status_;
};

}  // namespace qovira
