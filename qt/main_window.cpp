#include "main_window.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QMimeData>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <optional>

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
    case REPORT_ID:
      return REPORT_NAME;
    default:
      return STATUS_NAME;
  }
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
      &window_, {QString(), qt_name_filters(filter), from_utf8(default_extension)}));
}

std::optional<std::string> QtWindowUi::save_dialog(std::string_view initial_name,
                                                   std::string_view filter,
                                                   std::string_view default_extension) {
  return chosen_path(dialogs_.save_file(
      &window_,
      {path_string(initial_name), qt_name_filters(filter), from_utf8(default_extension)}));
}

void QtWindowUi::message(std::string_view text) {
  dialogs_.inform(&window_, from_utf8(text));
}

void QtWindowUi::set_report(std::string_view text) {
  report_text_ = to_crlf(text);
  report_.setPlainText(shown_text(report_text_));
}

void QtWindowUi::set_status(std::string_view text) {
  status_.setText(shown_text(to_crlf(text)));
}

MainWindow::MainWindow(Dialogs& dialogs)
    : report_(new QPlainTextEdit(this)),
      status_(new QLabel(from_utf8(INITIAL_STATUS), this)),
      ui_(*this, *report_, *status_, dialogs) {
  setWindowTitle(from_utf8(WINDOW_TITLE));
  resize(WINDOW_WIDTH, WINDOW_HEIGHT);
  setAcceptDrops(true);

  QFont interface_font = font();
  interface_font.setPixelSize(INTERFACE_FONT_HEIGHT);
  QFont report_font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  report_font.setPixelSize(REPORT_FONT_HEIGHT);

  // In the order of the Windows window; the widths are its own, grown where a font needs more.
  auto* button_row = new QHBoxLayout;
  button_row->setSpacing(BUTTON_GAP);
  for (const ControlDescriptor& control : WINDOW_CONTROLS) {
    if (control.kind != ControlKind::Button) {
      continue;
    }
    auto* button = new QPushButton(from_utf8(control.text), this);
    button->setObjectName(object_name(control.id));
    button->setFont(interface_font);
    button->setMinimumWidth(control.rect.width);
    button->setFixedHeight(control.rect.height);
    button->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
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

  status_->setObjectName(object_name(STATUS_ID));
  status_->setFont(interface_font);
  status_->setTextFormat(Qt::PlainText);
  status_->setFixedHeight(STATUS_HEIGHT);
  // A long status line is cut at the window's edge instead of widening the window.
  status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(CONTROL_MARGIN, FIRST_BUTTON.y, CONTROL_MARGIN, MARGIN_BOTTOM);
  column->setSpacing(ROW_GAP);
  column->addLayout(button_row);
  column->addWidget(report_, 1);
  column->addWidget(status_);
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (first_local_file(event->mimeData())) {
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
