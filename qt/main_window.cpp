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
#include <array>
#include <optional>

namespace qovira::qt {

const QString WINDOW_TITLE = QStringLiteral("岚栖输入法编码导入器 —— 诊断 / 修复 / 转 .mb");
const QString INITIAL_STATUS = QStringLiteral(
    "打开或把文件拖进来：支持 Rime .dict.yaml、冰凌文本码表、极点 .mb　｜　命令行批量：--help");

namespace {

const QString OPEN_BUTTON = QStringLiteral("打开码表…");
const QString REPAIR_BUTTON = QStringLiteral("自动修复并另存");
const QString EXPORT_BUTTON = QStringLiteral("导出 .mb");
const QString RESCUE_BUTTON = QStringLiteral("一键救急（修复→.mb）");
const QString SAVE_REPORT_BUTTON = QStringLiteral("保存报告");

constexpr int WINDOW_WIDTH = 1000;
constexpr int WINDOW_HEIGHT = 720;
// Pixel sizes and gaps of the Windows window.
constexpr int INTERFACE_FONT_PIXELS = 18;
constexpr int REPORT_FONT_PIXELS = 16;
constexpr int MARGIN_LEFT_RIGHT = 12;
constexpr int MARGIN_TOP = 10;
constexpr int MARGIN_BOTTOM = 4;
constexpr int ROW_GAP = 12;
constexpr int BUTTON_GAP = 8;
constexpr int BUTTON_HEIGHT = 30;
constexpr int STATUS_HEIGHT = 22;
constexpr int REPORT_MINIMUM = 80;

struct ButtonSpec {
  const char* name;
  const QString& text;
  int width;
  void (WindowCommands::*command)();
};

QString from_utf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
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
      status_(new QLabel(INITIAL_STATUS, this)),
      ui_(*this, *report_, *status_, dialogs) {
  setWindowTitle(WINDOW_TITLE);
  resize(WINDOW_WIDTH, WINDOW_HEIGHT);
  setAcceptDrops(true);

  QFont interface_font = font();
  interface_font.setPixelSize(INTERFACE_FONT_PIXELS);
  QFont report_font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  report_font.setPixelSize(REPORT_FONT_PIXELS);

  // In the order of the Windows window; the widths are its own, grown where a font needs more.
  const std::array<ButtonSpec, 5> buttons = {{
      {OPEN_BUTTON_NAME, OPEN_BUTTON, 120, &WindowCommands::open_table},
      {REPAIR_BUTTON_NAME, REPAIR_BUTTON, 160, &WindowCommands::repair_and_save},
      {EXPORT_BUTTON_NAME, EXPORT_BUTTON, 110, &WindowCommands::export_mb},
      {RESCUE_BUTTON_NAME, RESCUE_BUTTON, 200, &WindowCommands::rescue},
      {SAVE_REPORT_BUTTON_NAME, SAVE_REPORT_BUTTON, 110, &WindowCommands::save_report},
  }};
  auto* button_row = new QHBoxLayout;
  button_row->setSpacing(BUTTON_GAP);
  for (const ButtonSpec& item : buttons) {
    auto* button = new QPushButton(item.text, this);
    button->setObjectName(item.name);
    button->setFont(interface_font);
    button->setMinimumWidth(item.width);
    button->setFixedHeight(BUTTON_HEIGHT);
    button->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
    connect(button, &QPushButton::clicked, this,
            [this, command = item.command] { (commands_.*command)(); });
    button_row->addWidget(button);
  }
  button_row->addStretch();

  report_->setObjectName(REPORT_NAME);
  report_->setReadOnly(true);
  report_->setLineWrapMode(QPlainTextEdit::NoWrap);
  report_->setFont(report_font);
  report_->setMinimumSize(REPORT_MINIMUM, REPORT_MINIMUM);

  status_->setObjectName(STATUS_NAME);
  status_->setFont(interface_font);
  status_->setTextFormat(Qt::PlainText);
  status_->setFixedHeight(STATUS_HEIGHT);
  // A long status line is cut at the window's edge instead of widening the window.
  status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);

  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(MARGIN_LEFT_RIGHT, MARGIN_TOP, MARGIN_LEFT_RIGHT, MARGIN_BOTTOM);
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
