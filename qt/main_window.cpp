#include "main_window.h"

#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QMetaObject>
#include <QMimeData>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <optional>
#include <utility>

namespace qovira::qt {

namespace {

QString from_utf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The margins and gaps of the shared layout, for Qt's layouts. Qt scales them to the screen
// itself, so they stay 96-DPI values here.
constexpr PixelRect FIRST_BUTTON = WINDOW_CONTROLS.front().rect;
constexpr int BUTTON_GAP = WINDOW_CONTROLS[1].rect.x - (FIRST_BUTTON.x + FIRST_BUTTON.width);
constexpr int ROW_GAP = REPORT_TOP - (FIRST_BUTTON.y + FIRST_BUTTON.height);
constexpr int MARGIN_BOTTOM = STATUS_BOTTOM_GAP - STATUS_HEIGHT;

// The object name of a control of WINDOW_CONTROLS.
const char* object_name(int id) {
  switch (id) {
    case OPEN_ID:
      return OPEN_BUTTON_NAME;
    case REPAIR_ID:
      return REPAIR_BUTTON_NAME;
    case EXPORT_ID:
      return EXPORT_BUTTON_NAME;
    case RESCUE_ID:
      return RESCUE_BUTTON_NAME;
    case SAVE_REPORT_ID:
      return SAVE_REPORT_BUTTON_NAME;
    case CONVERT_ID:
      return CONVERT_BUTTON_NAME;
    case CANCEL_ID:
      return CANCEL_BUTTON_NAME;
    case REPORT_ID:
      return REPORT_NAME;
    case PROGRESS_ID:
      return PROGRESS_NAME;
    default:
      return STATUS_NAME;
  }
}

const ControlDescriptor& control_of(int id) {
  for (const ControlDescriptor& control : WINDOW_CONTROLS) {
    if (control.id == id) {
      return control;
    }
  }
  std::unreachable();
}

QFont interface_font(const QWidget& window) {
  QFont font = window.font();
  font.setPixelSize(INTERFACE_FONT_HEIGHT);
  return font;
}

// The command buttons in the order of the Windows window; the widths are its own, grown where a
// font needs more.
std::vector<QPushButton*> command_buttons(QWidget* window) {
  std::vector<QPushButton*> buttons;
  for (const ControlDescriptor& control : WINDOW_CONTROLS) {
    if (control.kind != ControlKind::Button) {
      continue;
    }
    auto* button = new QPushButton(from_utf8(control.text), window);
    button->setObjectName(object_name(control.id));
    button->setMinimumWidth(control.rect.width);
    button->setFixedHeight(control.rect.height);
    button->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
    buttons.push_back(button);
  }
  return buttons;
}

// Paths go through the file system's encoding both ways, so any file name survives.
QString path_string(std::string_view path) {
  return QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size())));
}

std::string path_text(const QString& path) {
  const QByteArray bytes = QFile::encodeName(path);
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

std::optional<std::string> chosen_path(const std::optional<QString>& chosen) {
  if (!chosen) {
    return std::nullopt;
  }
  return path_text(*chosen);
}

// The stored text has CR LF line ends; a line break of Qt's is enough to show it.
QString shown_text(std::string_view crlf_text) {
  QString shown = from_utf8(crlf_text);
  shown.remove(u'\r');
  return shown;
}

std::optional<QString> first_local_file(const QMimeData* dropped) {
  if (dropped == nullptr) {
    return std::nullopt;
  }
  for (const QUrl& url : dropped->urls()) {
    if (url.isLocalFile()) {
      return url.toLocalFile();
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> QtWindowUi::open_dialog(std::string_view filter,
                                                   std::string_view default_extension) {
  return chosen_path(dialogs_.open_file(
      &widgets_.window, {QString(), qt_name_filters(filter), from_utf8(default_extension), {}}));
}

std::optional<std::string> QtWindowUi::save_dialog(std::string_view initial_name,
                                                   std::string_view filter,
                                                   std::string_view default_extension,
                                                   std::string_view folder) {
  return chosen_path(
      dialogs_.save_file(&widgets_.window, {path_string(initial_name), qt_name_filters(filter),
                                            from_utf8(default_extension), path_string(folder)}));
}

void QtWindowUi::message(std::string_view text, MessageKind kind) {
  dialogs_.inform(&widgets_.window, from_utf8(text), kind);
}

std::optional<std::size_t> QtWindowUi::choose(std::string_view question,
                                              std::span<const std::string_view> answers) {
  QStringList labels;
  for (const std::string_view answer : answers) {
    labels.append(from_utf8(answer));
  }
  const auto chosen = dialogs_.ask(&widgets_.window, from_utf8(question), labels);
  if (!chosen) {
    return std::nullopt;
  }
  return static_cast<std::size_t>(*chosen);
}

void QtWindowUi::set_report(std::string_view text) {
  report_text_ = to_crlf(text);
  widgets_.report.setPlainText(shown_text(report_text_));
}

void QtWindowUi::set_status(std::string_view text) {
  widgets_.status.setText(shown_text(to_crlf(text)));
}

void QtWindowUi::set_busy(bool busy) {
  if (busy) {
    focus_before_work_ = QApplication::focusWidget();
  }
  for (QPushButton* button : widgets_.commands) {
    button->setEnabled(!busy);
  }
  widgets_.progress.setVisible(busy);
  widgets_.cancel.setVisible(busy);
  if (busy) {
    widgets_.window.setCursor(Qt::WaitCursor);
    widgets_.cancel.setFocus();
    return;
  }
  widgets_.window.unsetCursor();
  // The keyboard goes back where it was, unless that went away with the work.
  if (focus_before_work_ != nullptr && focus_before_work_->isEnabled() &&
      focus_before_work_->isVisible()) {
    focus_before_work_->setFocus();
  } else if (!widgets_.commands.empty()) {
    widgets_.commands.front()->setFocus();
  }
}

void QtWindowUi::set_progress(unsigned permille) {
  widgets_.progress.setValue(static_cast<int>(permille));
}

void QtWindowUi::post(std::function<void()> task) {
  QMetaObject::invokeMethod(&widgets_.window, std::move(task), Qt::QueuedConnection);
}

MainWindow::MainWindow(Dialogs& dialogs)
    : command_buttons_(command_buttons(this)),
      report_(new QPlainTextEdit(this)),
      status_(new QLabel(from_utf8(INITIAL_STATUS), this)),
      progress_(new QProgressBar(this)),
      cancel_(new QPushButton(from_utf8(control_of(CANCEL_ID).text), this)),
      ui_({*this, *report_, *status_, *progress_, *cancel_, command_buttons_}, dialogs) {
  setWindowTitle(from_utf8(WINDOW_TITLE));
  resize(WINDOW_WIDTH, WINDOW_HEIGHT);
  setAcceptDrops(true);

  const QFont font = interface_font(*this);
  QFont report_font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  report_font.setPixelSize(REPORT_FONT_HEIGHT);

  auto* button_row = new QHBoxLayout;
  button_row->setSpacing(BUTTON_GAP);
  std::size_t next_button = 0;
  for (const ControlDescriptor& control : WINDOW_CONTROLS) {
    if (control.kind != ControlKind::Button) {
      continue;
    }
    QPushButton* button = command_buttons_[next_button++];
    button->setFont(font);
    connect(button, &QPushButton::clicked, this,
            [this, command = control.command] { (commands_.*command)(); });
    button_row->addWidget(button);
  }
  button_row->addStretch();

  report_->setObjectName(object_name(REPORT_ID));
  report_->setReadOnly(true);
  report_->setLineWrapMode(QPlainTextEdit::NoWrap);
  report_->setFont(report_font);
  report_->setMinimumSize(REPORT_MINIMUM, REPORT_MINIMUM);
  // Tab leaves the report area for the next control, as in a dialog.
  report_->setTabChangesFocus(true);

  status_->setObjectName(object_name(STATUS_ID));
  status_->setFont(font);
  status_->setTextFormat(Qt::PlainText);
  status_->setFixedHeight(STATUS_HEIGHT);
  // A long status line is cut at the window's edge instead of widening the window.
  status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);

  // Shown while a command works, at the end of the status row.
  progress_->setObjectName(object_name(PROGRESS_ID));
  progress_->setRange(0, 1000);
  progress_->setTextVisible(false);
  progress_->setFixedSize(PROGRESS_WIDTH, STATUS_HEIGHT);
  progress_->hide();
  cancel_->setObjectName(object_name(CANCEL_ID));
  cancel_->setFont(font);
  cancel_->setFixedSize(CANCEL_WIDTH, CANCEL_HEIGHT);
  cancel_->setCursor(Qt::ArrowCursor);  // the one control that answers during the work
  cancel_->hide();
  connect(cancel_, &QPushButton::clicked, this, [this] { commands_.cancel(); });
  // The window has no menu: the About box is the last control of the status row.
  auto* about = new QPushButton(from_utf8(ABOUT_ENTRY), this);
  about->setObjectName(ABOUT_BUTTON_NAME);
  about->setFont(font);
  about->setFixedHeight(CANCEL_HEIGHT);
  connect(about, &QPushButton::clicked, this, [this] { commands_.about(); });

  auto* status_row = new QHBoxLayout;
  status_row->setSpacing(CONTROL_GAP);
  status_row->addWidget(status_, 1);
  status_row->addWidget(progress_);
  status_row->addWidget(cancel_);
  status_row->addWidget(about);

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(CONTROL_MARGIN, FIRST_BUTTON.y, CONTROL_MARGIN, MARGIN_BOTTOM);
  column->setSpacing(ROW_GAP);
  column->addLayout(button_row);
  column->addWidget(report_, 1);
  column->addLayout(status_row);

  // The keys of every Windows program: open, save the report, and Escape to stop the work.
  const auto shortcut = [this](const QKeySequence& keys, QPushButton* button) {
    connect(new QShortcut(keys, this), &QShortcut::activated, button, &QPushButton::click);
  };
  shortcut(QKeySequence::Open, command_buttons_.front());
  shortcut(QKeySequence::Save, findChild<QPushButton*>(SAVE_REPORT_BUTTON_NAME));
  shortcut(QKeySequence(Qt::Key_Escape), cancel_);
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  // No table is taken while a command works.
  if (!commands_.busy() && first_local_file(event->mimeData())) {
    event->acceptProposedAction();
  }
}

void MainWindow::dropEvent(QDropEvent* event) {
  const std::optional<QString> dropped = first_local_file(event->mimeData());
  if (!dropped) {
    return;
  }
  event->acceptProposedAction();
  // Loaded once the drop has ended: the program the file came from is not kept waiting by a
  // long diagnosis or a message box.
  QTimer::singleShot(0, this, [this, path = path_text(*dropped)] { commands_.load(path); });
}

}  // namespace qovira::qt
