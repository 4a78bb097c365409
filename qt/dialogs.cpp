#include "dialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <algorithm>
#include <vector>

namespace qovira::qt {

const QString MESSAGE_CAPTION = QStringLiteral("岚栖输入法编码导入器");

namespace {

const QString OPEN_CAPTION = QStringLiteral("打开");
const QString SAVE_CAPTION = QStringLiteral("另存为");

QString from_utf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

QStringList qt_name_filters(std::string_view filter) {
  const QStringList fields = from_utf8(filter).split(u'|');
  QStringList filters;
  for (qsizetype i = 0; i + 1 < fields.size(); i += 2) {
    QStringList patterns = fields[i + 1].split(u';', Qt::SkipEmptyParts);
    for (QString& pattern : patterns) {
      if (pattern == u"*.*") {
        pattern = QStringLiteral("*");  // Qt would want a dot in the name
      }
    }
    filters.append(fields[i] + QStringLiteral(" (") + patterns.join(u' ') + u')');
  }
  return filters;
}

std::optional<QString> QtDialogs::open_file(QWidget* parent, const FileRequest& request) {
  return run_file_dialog(parent, request, false);
}

std::optional<QString> QtDialogs::save_file(QWidget* parent, const FileRequest& request) {
  return run_file_dialog(parent, request, true);
}

void QtDialogs::inform(QWidget* parent, const QString& text, MessageKind kind) {
  QMessageBox box(kind == MessageKind::Failure ? QMessageBox::Critical : QMessageBox::Information,
                  MESSAGE_CAPTION, text, QMessageBox::Ok, parent);
  // File names and system texts are shown as they are, never as markup.
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

std::optional<qsizetype> QtDialogs::ask(QWidget* parent, const QString& question,
                                        const QStringList& answers) {
  QMessageBox box(QMessageBox::Question, MESSAGE_CAPTION, question, QMessageBox::NoButton, parent);
  box.setTextFormat(Qt::PlainText);
  std::vector<QAbstractButton*> buttons;
  for (const QString& answer : answers) {
    buttons.push_back(box.addButton(answer, QMessageBox::AcceptRole));
  }
  box.setDefaultButton(static_cast<QPushButton*>(buttons.front()));
  box.addButton(QMessageBox::Cancel);
  box.exec();
  const auto chosen = std::ranges::find(buttons, box.clickedButton());
  if (chosen == buttons.end()) {
    return std::nullopt;
  }
  return static_cast<qsizetype>(chosen - buttons.begin());
}

std::optional<QString> QtDialogs::run_file_dialog(QWidget* parent, const FileRequest& request,
                                                  bool save) {
  QFileDialog dialog(parent, save ? SAVE_CAPTION : OPEN_CAPTION,
                     request.folder.isEmpty() ? last_directory_ : request.folder);
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  // The names already show their patterns where that helps, as on Windows.
  dialog.setOption(QFileDialog::HideNameFilterDetails);
  dialog.setNameFilters(request.name_filters);
  dialog.setDefaultSuffix(request.default_suffix);
  if (!request.initial_name.isEmpty()) {
    dialog.selectFile(request.initial_name);
  }
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
    return std::nullopt;
  }
  const QString chosen = dialog.selectedFiles().constFirst();
  last_directory_ = QFileInfo(chosen).absolutePath();
  return chosen;
}

}  // namespace qovira::qt
