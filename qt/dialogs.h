// The modal dialogs of the Qt window, behind an interface that tests answer themselves.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>
#include <string_view>

#include "qovira/app/commands/window_commands.h"

class QWidget;

namespace qovira::qt {

// The caption of every message box.
extern const QString MESSAGE_CAPTION;

// One file dialog, its filters already in Qt's syntax.
struct FileRequest {
  QString initial_name;  // empty for the open dialog
  QStringList name_filters;
  QString default_suffix;
  QString folder;  // where the dialog starts; empty: the folder of the last file chosen
};

// Implemented by QtDialogs and by the fakes of the tests.
class Dialogs {
 public:
  virtual ~Dialogs() = default;

  // The chosen path, or nothing when the user cancels.
  virtual std::optional<QString> open_file(QWidget* parent, const FileRequest& request) = 0;
  // Asks before overwriting an existing file.
  virtual std::optional<QString> save_file(QWidget* parent, const FileRequest& request) = 0;
  // A message box with the error icon for a failure, else the information icon.
  virtual void inform(QWidget* parent, const QString& text, MessageKind kind) = 0;
  // A question box with a button for each answer and a cancel button: the answer's index, or
  // nothing when the user cancels.
  virtual std::optional<qsizetype> ask(QWidget* parent, const QString& question,
                                       const QStringList& answers) = 0;
};

// The platform's file dialogs and Qt's message box. A file dialog starts in the folder it is
// given, else in the folder of the last file chosen, as the Windows dialogs do.
class QtDialogs final : public Dialogs {
 public:
  std::optional<QString> open_file(QWidget* parent, const FileRequest& request) override;
  std::optional<QString> save_file(QWidget* parent, const FileRequest& request) override;
  void inform(QWidget* parent, const QString& text, MessageKind kind) override;
  std::optional<qsizetype> ask(QWidget* parent, const QString& question,
                               const QStringList& answers) override;

 private:
  std::optional<QString> run_file_dialog(QWidget* parent, const FileRequest& request, bool save);

  QString last_directory_;
};

// "name|pattern;pattern|name|pattern" as Qt's name filters: "name (pattern pattern)". "*.*" means
// every file, as on Windows.
QStringList qt_name_filters(std::string_view filter);

}  // namespace qovira::qt
