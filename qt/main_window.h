// The main window on Qt: the five command buttons, the report area and the status bar of the
// Windows window, driving the same window commands.
#pragma once

#include <QLabel>
#include <QPlainTextEdit>
#include <QString>
#include <QWidget>
#include <string>
#include <string_view>

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
inline constexpr char REPORT_NAME[] = "report";
inline constexpr char STATUS_NAME[] = "status";

// WindowUi on Qt widgets. The report is kept as the commands gave it (CR LF line ends, byte for
// byte), so a saved report is the same file as on Windows; the widgets show it with plain line
// breaks.
class QtWindowUi final : public WindowUi {
 public:
  QtWindowUi(QWidget& window, QPlainTextEdit& report, QLabel& status, Dialogs& dialogs)
      : window_(window), report_(report), status_(status), dialogs_(dialogs) {}

  std::optional<std::string> open_dialog(std::string_view filter,
                                         std::string_view default_extension) override;
  std::optional<std::string> save_dialog(std::string_view initial_name, std::string_view filter,
                                         std::string_view default_extension) override;
  void message(std::string_view text) override;
  void set_report(std::string_view text) override;
  void set_status(std::string_view text) override;
  std::string report_text() override { return report_text_; }

 private:
  QWidget& window_;
  QPlainTextEdit& report_;
  QLabel& status_;
  Dialogs& dialogs_;
  std::string report_text_;
};

class MainWindow final : public QWidget {
 public:
  explicit MainWindow(Dialogs& dialogs);

  // Loads a file as the open command does: the file named on the command line.
  void load(const std::string& path) { commands_.load(path); }

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  QPlainTextEdit* report_;
  QLabel* status_;
  QtWindowUi ui_;
  WindowCommands commands_{ui_};
};

}  // namespace qovira::qt
