// The main window on Qt: the five command buttons, the report area and the status row of the
// Windows window, driving the same window commands.
#pragma once

#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QString>
#include <QWidget>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dialogs.h"
#include "qovira/app/commands/window_commands.h"
#include "qovira/app/commands/window_layout.h"

namespace qovira::qt {

// Object names of the controls, for tests and style sheets.
inline constexpr char OPEN_BUTTON_NAME[] = "open";
inline constexpr char REPAIR_BUTTON_NAME[] = "repair";
inline constexpr char EXPORT_BUTTON_NAME[] = "export";
inline constexpr char RESCUE_BUTTON_NAME[] = "rescue";
inline constexpr char SAVE_REPORT_BUTTON_NAME[] = "save_report";
inline constexpr char CONVERT_BUTTON_NAME[] = "convert";
inline constexpr char CANCEL_BUTTON_NAME[] = "cancel";
inline constexpr char ABOUT_BUTTON_NAME[] = "about";
inline constexpr char REPORT_NAME[] = "report";
inline constexpr char STATUS_NAME[] = "status";
inline constexpr char PROGRESS_NAME[] = "progress";

// The widgets a command reaches.
struct WindowWidgets {
  QWidget& window;
  QPlainTextEdit& report;
  QLabel& status;
  QProgressBar& progress;
  QPushButton& cancel;
  // The buttons turned off while a command works.
  std::vector<QPushButton*> commands;
};

// WindowUi on Qt widgets. The report is kept as the commands gave it (CR LF line ends, byte for
// byte), so a saved report is the same file as on Windows; the widgets show it with plain line
// breaks.
class QtWindowUi final : public WindowUi {
 public:
  QtWindowUi(WindowWidgets widgets, Dialogs& dialogs)
      : widgets_(std::move(widgets)), dialogs_(dialogs) {}

  std::optional<std::string> open_dialog(std::string_view filter,
                                         std::string_view default_extension) override;
  std::optional<std::string> save_dialog(std::string_view initial_name, std::string_view filter,
                                         std::string_view default_extension,
                                         std::string_view folder) override;
  void message(std::string_view text, MessageKind kind) override;
  std::optional<std::size_t> choose(std::string_view question,
                                    std::span<const std::string_view> answers) override;
  void set_report(std::string_view text) override;
  void set_status(std::string_view text) override;
  std::string report_text() override { return report_text_; }
  void set_busy(bool busy) override;
  void set_progress(unsigned permille) override;
  void post(std::function<void()> task) override;

 private:
  WindowWidgets widgets_;
  Dialogs& dialogs_;
  std::string report_text_;
  // The widget that had the keyboard focus when a command started.
  QWidget* focus_before_work_ = nullptr;
};

class MainWindow final : public QWidget {
 public:
  explicit MainWindow(Dialogs& dialogs);

  // Loads a file as the open command does: the file named on the command line.
  void load(const std::string& path) { commands_.load(path); }
  // Whether a command is still working.
  bool busy() const { return commands_.busy(); }

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  // In the order of WINDOW_CONTROLS, which is also the order the Tab key walks.
  std::vector<QPushButton*> command_buttons_;
  QPlainTextEdit* report_;
  QLabel* status_;
  QProgressBar* progress_;
  QPushButton* cancel_;
  QtWindowUi ui_;
  WindowCommands commands_{ui_};
};

}  // namespace qovira::qt
