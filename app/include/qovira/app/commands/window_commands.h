// The commands of the main window (open, repair and save, export .mb, save report, rescue) and the
// window's one current table. Every window (Win32, a test fake) reaches the user only through
// WindowUi, so all windows behave alike by construction.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "qovira/app/diagnosis/diagnosis.h"
#include "qovira/app/commands/operations.h"
#include "qovira/table/model.h"

namespace qovira {

// Dialog filters hold display name and pattern fields separated by '|'.
extern const std::string_view OPEN_TABLE_FILTER;
extern const std::string_view OPEN_TABLE_DEFAULT_EXTENSION;

// What a window offers the commands. Paths are UTF-8. Implemented by the Win32 window and by the
// fake of the unit tests.
class WindowUi {
 public:
  virtual ~WindowUi() = default;

  // The chosen path, or nothing when the user cancels.
  virtual std::optional<std::string> open_dialog(std::string_view filter,
                                                 std::string_view default_extension) = 0;
  // Asks before overwriting an existing file.
  virtual std::optional<std::string> save_dialog(std::string_view initial_name,
                                                 std::string_view filter,
                                                 std::string_view default_extension) = 0;
  // The information message box.
  virtual void message(std::string_view text) = 0;
  // Both store the text with CR LF line ends (to_crlf).
  virtual void set_report(std::string_view text) = 0;
  virtual void set_status(std::string_view text) = 0;
  // The report area as it holds the text.
  virtual std::string report_text() = 0;
};

// Every line end (CR LF, lone LF, lone CR) as CR LF: multi-line controls show nothing else.
std::string to_crlf(std::string_view text);

// The window state and its commands. Only load and repair change the current table; a failed step
// leaves it as it was. Source files are only read: a save dialog answered with the current
// source's own path is refused.
class WindowCommands {
 public:
  explicit WindowCommands(WindowUi& ui) : ui_(ui) {}

  // Open dialog, then load the chosen file.
  void open_table();
  // Loads `path` as the current table: the command line, a dropped file or the open dialog.
  void load(const std::string& path);
  void repair_and_save();
  void export_mb();
  void save_report();
  void rescue();

  const std::optional<SourceTable>& current() const { return current_; }

 private:
  class DialogOutputs;

  bool has_table();
  // Refuses (with a message) a save path that names the current source or `also_protected`.
  bool overwrites_source(const std::string& chosen, const std::filesystem::path& also_protected);
  void show_failure(const StepFailure& failure);
  // Shows the repair and makes the repaired file current; false when there was none.
  bool show_repair(std::expected<SavedRepair, StepFailure>& repaired);
  void show_export(const std::expected<SavedExport, StepFailure>& exported);

  WindowUi& ui_;
  std::optional<SourceTable> current_;
  // The current path made absolute when it became current: a file dialog may change the working
  // directory afterwards.
  std::filesystem::path source_file_;
};

}  // namespace qovira
