#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFontInfo>
#include <QKeyEvent>
#include <QLocale>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QTranslator>
#include <QUrl>
#include <algorithm>
#include <deque>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "../app/src/commands/scratch_directory.h"
#include "dialogs.h"
#include "main_window.h"
#include "qovira/app/commands/files.h"
#include "qovira/app/diagnosis/diagnosis.h"
#include "qovira/app/export/export.h"
#include "qovira/table/mb.h"
#include "qt_window.h"

// Readable failure messages.
void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace qovira::qt {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view GOOD_TABLE =
    "---\nname: 测试\nversion: \"1.0\"\nsort: original\n...\n工\taaaa\n了\tb\n你好\twqvb\n";
// Capital and space-separated codes: the importer refuses the rows, the repair mends them.
constexpr std::string_view BROKEN_TABLE =
    "---\nname: 测试\nversion: \"1.0\"\nsort: original\n...\n工\tAAAA\n了 B\n你好\tWQVB\n";

QString q(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Answers file dialogs from a queue (nothing left: cancel) and records every request and message.
class FakeDialogs final : public Dialogs {
 public:
  std::optional<QString> open_file(QWidget*, const FileRequest& request) override {
    open_requests.push_back(request);
    return next_answer();
  }
  std::optional<QString> save_file(QWidget*, const FileRequest& request) override {
    save_requests.push_back(request);
    if (on_save_file) {
      on_save_file();
    }
    return next_answer();
  }
  void inform(QWidget*, const QString& text, MessageKind kind) override {
    messages.append(text);
    message_kinds.push_back(kind);
  }
  std::optional<qsizetype> ask(QWidget*, const QString& question,
                               const QStringList& answers) override {
    questions.append(question + "|" + answers.join("|"));
    return std::exchange(choice, std::nullopt);
  }

  std::deque<std::optional<QString>> answers;
  // The answer of the next question, then cancel.
  std::optional<qsizetype> choice;
  QStringList questions;
  std::vector<MessageKind> message_kinds;
  // Called as a save dialog opens, while its command works.
  std::function<void()> on_save_file;
  std::vector<FileRequest> open_requests;
  std::vector<FileRequest> save_requests;
  QStringList messages;

 private:
  std::optional<QString> next_answer() {
    if (answers.empty()) {
      return std::nullopt;
    }
    auto answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

class QtWindowTest : public ::testing::Test {
 protected:
  QPushButton* button(const char* name) { return window_.findChild<QPushButton*>(name); }
  // Handles the window's events, as its event loop would, until no command works.
  void settle() {
    while (window_.busy()) {
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
  }
  void click(const char* name) {
    button(name)->click();
    settle();
  }
  void load(const std::string& path) {
    window_.load(path);
    settle();
  }
  QPlainTextEdit* report() { return window_.findChild<QPlainTextEdit*>(REPORT_NAME); }
  QString status() { return window_.findChild<QLabel*>(STATUS_NAME)->text(); }

  ScratchDirectory dir_{"qovira-qt-"};
  FakeDialogs dialogs_;
  MainWindow window_{dialogs_};
};

TEST_F(QtWindowTest, HasTheControlsOfTheWindowsWindow) {
  EXPECT_EQ(window_.windowTitle(), q("岚栖输入法编码导入器 —— 诊断 / 修复 / 转 .mb"));
  EXPECT_EQ(window_.size(), QSize(1000, 720));
  EXPECT_EQ(MESSAGE_CAPTION, q("岚栖输入法编码导入器"));

  QStringList texts;
  for (const QPushButton* each : window_.findChildren<QPushButton*>()) {
    texts.append(each->text());
  }
  EXPECT_EQ(texts, QStringList({q("打开码表(&O)…"), q("自动修复并另存(&F)"), q("导出 .mb(&E)"),
                                q("一键救急（修复→.mb）(&R)"), q("保存报告(&S)"),
                                q("转成文本码表(&T)…"), q("取消"), q("关于(&A)…")}));

  ASSERT_NE(report(), nullptr);
  EXPECT_TRUE(report()->isReadOnly());
  EXPECT_EQ(report()->lineWrapMode(), QPlainTextEdit::NoWrap);
  EXPECT_TRUE(QFontInfo(report()->font()).fixedPitch());
  EXPECT_TRUE(report()->toPlainText().isEmpty());
  EXPECT_EQ(status(), q("打开或把文件拖进来：支持 Rime .dict.yaml、冰凌文本码表、极点 .mb　｜　"
                        "命令行批量：--help"));
}

TEST(QtNameFilters, TurnsPipeSeparatedFiltersIntoQtSyntax) {
  EXPECT_EQ(qt_name_filters(OPEN_TABLE_FILTER),
            QStringList({q("码表文件 (*.yaml *.yml *.txt *.mb *.dict)"),
                         q("Rime 词典 (*.dict.yaml) (*.yaml *.yml)"), q("冰凌文本 (*.txt) (*.txt)"),
                         q("极点码表 (*.mb) (*.mb)"), q("所有文件 (*)")}));
  EXPECT_EQ(qt_name_filters("修复后的码表|*.txt|所有文件|*.*"),
            QStringList({q("修复后的码表 (*.txt)"), q("所有文件 (*)")}));
  EXPECT_TRUE(qt_name_filters("").isEmpty());
}

TEST_F(QtWindowTest, LoadShowsTheReportWithLineBreaksAndTheStatusLine) {
  const std::string source = dir_.write("测试码表.dict.yaml", GOOD_TABLE);
  load(source);

  const Diagnosis diagnosis = diagnose(read_file(path_from_utf8(source)).value());
  const std::string expected = render_report(source, diagnosis);
  EXPECT_EQ(report()->toPlainText(), q(expected));
  EXPECT_EQ(report()->blockCount(), std::count(expected.begin(), expected.end(), '\n') + 1);
  const IssueCounts counts = diagnosis.issues.counts();
  EXPECT_EQ(status(), q("测试码表.dict.yaml · Rime 词典（.dict.yaml） · 词条 3 · 致命 0 警告 " +
                        std::to_string(counts.warnings) + " 提示 " + std::to_string(counts.infos) +
                        " · 可以导入"));
  EXPECT_TRUE(dialogs_.messages.isEmpty());
}

TEST_F(QtWindowTest, ExportAndSaveReportAskTheirDialogsAndWriteTheFiles) {
  const std::string source = dir_.write("abc.dict.yaml", GOOD_TABLE);
  load(source);
  const std::string mb = dir_.path("输出.mb");
  const std::string saved_report = dir_.path("报告.txt");
  dialogs_.answers = {q(mb), q(saved_report)};

  click(EXPORT_BUTTON_NAME);
  ASSERT_EQ(dialogs_.save_requests.size(), 1u);
  EXPECT_EQ(dialogs_.save_requests[0].initial_name, q("abc.mb"));
  EXPECT_EQ(dialogs_.save_requests[0].name_filters,
            QStringList({q("极点码表 (*.mb)"), q("所有文件 (*)")}));
  EXPECT_EQ(dialogs_.save_requests[0].default_suffix, q("mb"));
  EXPECT_TRUE(ScratchDirectory::contents(mb).starts_with(MB_MAGIC));
  EXPECT_EQ(status(), q("已导出 3 条 → 输出.mb"));
  const std::string summary = report()->toPlainText().toStdString();
  EXPECT_NE(summary.find(mb), std::string::npos);

  click(SAVE_REPORT_BUTTON_NAME);
  ASSERT_EQ(dialogs_.save_requests.size(), 2u);
  EXPECT_EQ(dialogs_.save_requests[1].initial_name, q("abc.dict-诊断报告.txt"));
  EXPECT_EQ(dialogs_.save_requests[1].name_filters,
            QStringList({q("文本文件 (*.txt)"), q("所有文件 (*)")}));
  // The file holds what the Windows window would save: a byte-order mark and CR LF line ends.
  EXPECT_EQ(ScratchDirectory::contents(saved_report), "\xEF\xBB\xBF" + to_crlf(summary));
  EXPECT_EQ(status(), q("报告已保存到 " + saved_report));
  EXPECT_TRUE(dialogs_.messages.isEmpty());
}

TEST_F(QtWindowTest, OpenRepairAndRescueButtonsRunTheirCommands) {
  const std::string source = dir_.write("abc.dict.yaml", BROKEN_TABLE);
  dialogs_.answers = {std::nullopt, q(source)};
  click(OPEN_BUTTON_NAME);  // cancelled: nothing changes
  EXPECT_TRUE(report()->toPlainText().isEmpty());
  click(OPEN_BUTTON_NAME);
  ASSERT_EQ(dialogs_.open_requests.size(), 2u);
  EXPECT_EQ(dialogs_.open_requests[0].name_filters, qt_name_filters(OPEN_TABLE_FILTER));
  EXPECT_TRUE(status().endsWith(q("导入不进去")));

  const std::string repaired = dir_.path("abc.repaired.yaml");
  const std::string mb = dir_.path("abc.mb");
  dialogs_.answers = {std::nullopt, q(repaired), q(mb)};
  click(REPAIR_BUTTON_NAME);  // cancelled
  EXPECT_FALSE(fs::exists(path_from_utf8(repaired)));
  click(RESCUE_BUTTON_NAME);
  ASSERT_EQ(dialogs_.save_requests.size(), 3u);
  EXPECT_EQ(dialogs_.save_requests[1].name_filters,
            QStringList({q("修复后的码表 (*.yaml)"), q("所有文件 (*)")}));
  EXPECT_TRUE(fs::exists(path_from_utf8(repaired)));
  EXPECT_TRUE(ScratchDirectory::contents(mb).starts_with(MB_MAGIC));
  EXPECT_TRUE(status().startsWith(q("已导出 ")));
  EXPECT_TRUE(status().endsWith(q(" 条 → abc.mb")));
}

TEST_F(QtWindowTest, ConvertAsksWhichTextThenSavesIt) {
  load(dir_.write("abc.dict.yaml", GOOD_TABLE));
  const std::string bingling = dir_.path("abc.txt");
  dialogs_.choice = 1;
  dialogs_.answers = {q(bingling)};
  click(CONVERT_BUTTON_NAME);
  EXPECT_EQ(dialogs_.questions,
            QStringList({q("转成哪一种文本码表？|Rime 词典(&R)|冰凌码表(&B)")}));
  ASSERT_EQ(dialogs_.save_requests.size(), 1u);
  EXPECT_EQ(dialogs_.save_requests[0].name_filters,
            QStringList({q("冰凌码表 (*.txt)"), q("所有文件 (*)")}));
  EXPECT_TRUE(fs::exists(path_from_utf8(bingling)));
  EXPECT_EQ(status(), q("已转换 3 条 → abc.txt"));
  click(CONVERT_BUTTON_NAME);  // the question cancelled: no dialog
  EXPECT_EQ(dialogs_.save_requests.size(), 1u);
  EXPECT_TRUE(dialogs_.messages.isEmpty());
}

TEST_F(QtWindowTest, CommandsWithoutATableShowTheirMessages) {
  click(EXPORT_BUTTON_NAME);
  click(REPAIR_BUTTON_NAME);
  click(SAVE_REPORT_BUTTON_NAME);
  EXPECT_EQ(dialogs_.messages,
            QStringList({q("先打开一份码表。"), q("先打开一份码表。"), q("还没有可保存的报告。")}));
  EXPECT_TRUE(dialogs_.save_requests.empty());
}

TEST_F(QtWindowTest, DropLoadsTheFirstLocalFileAndReplacesTheCurrentOne) {
  load(dir_.write("旧.dict.yaml", GOOD_TABLE));
  const std::string first = dir_.write("第一.dict.yaml", BROKEN_TABLE);
  const std::string second = dir_.write("第二.dict.yaml", GOOD_TABLE);
  QMimeData dropped;
  dropped.setUrls({QUrl(q("https://example.org/x.dict.yaml")),
                   QUrl::fromLocalFile(QFile::decodeName(first.c_str())),
                   QUrl::fromLocalFile(QFile::decodeName(second.c_str()))});

  // Dragged over the report area, the drop still reaches the window.
  window_.show();
  QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(report()->viewport(), &enter);
  EXPECT_TRUE(enter.isAccepted());
  QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&window_, &drop);
  EXPECT_TRUE(drop.isAccepted());
  QApplication::processEvents();  // the drop's load starts once the drop has ended
  settle();
  EXPECT_TRUE(status().startsWith(q("第一.dict.yaml · ")));
  EXPECT_NE(report()->toPlainText().indexOf(q(first)), -1);

  QMimeData text_only;
  text_only.setText(q("不是文件"));
  QDragEnterEvent refused(QPoint(5, 5), Qt::CopyAction, &text_only, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(&window_, &refused);
  EXPECT_FALSE(refused.isAccepted());
}

TEST_F(QtWindowTest, SmallWindowKeepsTheReportAreaAndLongStatusKeepsTheWidth) {
  window_.show();
  load(dir_.write(std::string(60, 'x') + "码表名字很长很长很长很长很长很长.dict.yaml", GOOD_TABLE));
  QApplication::processEvents();
  EXPECT_EQ(window_.width(), 1000);

  window_.resize(10, 10);
  QApplication::processEvents();
  EXPECT_GE(report()->width(), 80);
  EXPECT_GE(report()->height(), 80);
}

// A picture of the window with a broken sample loaded, kept in screenshots/ of the working folder
// as an artifact of the test run.
TEST_F(QtWindowTest, ScreenshotOfTheLoadedWindow) {
  const char* source_dir = std::getenv("QOVIRA_SOURCE_DIR");
  const std::string sample =
      source_dir != nullptr ? path_to_utf8(fs::path(source_dir) / "samples/broken-wubi.dict.yaml")
                            : dir_.write("broken.dict.yaml", BROKEN_TABLE);
  window_.show();
  load(sample);
  QApplication::processEvents();
  const QPixmap picture = window_.grab();
  ASSERT_FALSE(picture.isNull());
  EXPECT_EQ(picture.size() / picture.devicePixelRatio(), window_.size());

  ASSERT_TRUE(QDir().mkpath(QStringLiteral("screenshots")));
  EXPECT_TRUE(picture.save(QStringLiteral("screenshots/main-window.png")));
}

// Runs `answer` on the dialog that the next call opens.
template <typename Dialog, typename Answer>
void answer_next_dialog(Answer answer) {
  QTimer::singleShot(0, [answer] {
    auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    answer(*dialog);
  });
}

TEST_F(QtWindowTest, PlatformDialogsAreSetUpAsRequested) {
  QtDialogs dialogs;
  const QString chosen = q(dir_.path("新.mb"));
  answer_next_dialog<QFileDialog>([chosen](QFileDialog& dialog) {
    EXPECT_EQ(dialog.windowTitle(), q("另存为"));
    EXPECT_EQ(dialog.acceptMode(), QFileDialog::AcceptSave);
    EXPECT_FALSE(dialog.testOption(QFileDialog::DontConfirmOverwrite));
    EXPECT_EQ(dialog.nameFilters(), QStringList({q("极点码表 (*.mb)"), q("所有文件 (*)")}));
    EXPECT_EQ(dialog.defaultSuffix(), q("mb"));
    dialog.selectFile(chosen);
    static_cast<QDialog&>(dialog).accept();  // QFileDialog::accept is protected
  });
  EXPECT_EQ(
      dialogs.save_file(&window_,
                        {q("abc.mb"), qt_name_filters("极点码表|*.mb|所有文件|*.*"), q("mb"), {}}),
      chosen);

  // The next dialog starts in the folder of the last choice; cancelling gives nothing.
  const QString root = QFile::decodeName(path_to_utf8(dir_.root()).c_str());
  answer_next_dialog<QFileDialog>([root](QFileDialog& dialog) {
    EXPECT_EQ(dialog.windowTitle(), q("打开"));
    EXPECT_EQ(dialog.fileMode(), QFileDialog::ExistingFile);
    EXPECT_EQ(dialog.directory().absolutePath(), root);
    dialog.reject();
  });
  EXPECT_EQ(
      dialogs.open_file(&window_, {QString(), qt_name_filters(OPEN_TABLE_FILTER), q("yaml"), {}}),
      std::nullopt);
  // Unless it is given one: the current table's.
  ASSERT_TRUE(QDir(root).mkdir(q("表")));
  answer_next_dialog<QFileDialog>([root](QFileDialog& dialog) {
    EXPECT_EQ(dialog.directory().absolutePath(), root + q("/表"));
    dialog.reject();
  });
  dialogs.save_file(&window_, {q("abc.mb"), {}, q("mb"), root + q("/表")});

  for (const MessageKind kind : {MessageKind::Information, MessageKind::Failure}) {
    answer_next_dialog<QMessageBox>([kind](QMessageBox& box) {
      EXPECT_EQ(box.windowTitle(), q("岚栖输入法编码导入器"));
      EXPECT_EQ(box.text(), q("读不出这个文件：<b>x</b>"));
      EXPECT_EQ(box.textFormat(), Qt::PlainText);
      EXPECT_EQ(box.icon(),
                kind == MessageKind::Failure ? QMessageBox::Critical : QMessageBox::Information);
      box.accept();
    });
    dialogs.inform(&window_, q("读不出这个文件：<b>x</b>"), kind);
  }
}

// During a large table's repair: the progress bar moves, the buttons are off, and 取消 leaves no
// file and the window as it was.
TEST_F(QtWindowTest, LongWorkShowsItsProgressAndCancelLeavesNoFile) {
  std::string table(GOOD_TABLE);
  for (int i = 0; i < 60000; ++i) {
    table += "工\tAAAA\n";
  }
  const std::string source = dir_.write("大.dict.yaml", table);
  load(source);
  const QString report_before = report()->toPlainText();
  const QString status_before = status();
  int highest = 0;
  QObject::connect(window_.findChild<QProgressBar*>(PROGRESS_NAME), &QProgressBar::valueChanged,
                   [&highest](int value) { highest = std::max(highest, value); });
  // The save dialog comes after the repair, while the command still works.
  bool busy_at_dialog = false;
  dialogs_.on_save_file = [&] {
    busy_at_dialog = !button(REPAIR_BUTTON_NAME)->isEnabled() &&
                     !button(CANCEL_BUTTON_NAME)->isHidden() &&
                     window_.cursor().shape() == Qt::WaitCursor;
    EXPECT_GT(highest, 0);
    button(CANCEL_BUTTON_NAME)->click();
  };
  dialogs_.answers = {q(dir_.path("大.repaired.yaml"))};
  click(REPAIR_BUTTON_NAME);

  EXPECT_TRUE(busy_at_dialog);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.root()), fs::directory_iterator()), 1);
  EXPECT_EQ(report()->toPlainText(), report_before);
  EXPECT_EQ(status(), status_before);
  EXPECT_TRUE(button(REPAIR_BUTTON_NAME)->isEnabled());
  EXPECT_TRUE(button(CANCEL_BUTTON_NAME)->isHidden());
  EXPECT_NE(window_.cursor().shape(), Qt::WaitCursor);
  EXPECT_TRUE(dialogs_.messages.isEmpty());
}

TEST_F(QtWindowTest, RescueShowsTheRepairThenTheExportAndSavesTheRepairReport) {
  const std::string source = dir_.write("abc.dict.yaml", BROKEN_TABLE);
  load(source);
  dialogs_.answers = {q(dir_.path("abc.repaired.yaml")), q(dir_.path("abc.mb"))};
  click(RESCUE_BUTTON_NAME);
  const QString shown = report()->toPlainText();
  EXPECT_TRUE(shown.startsWith(q("自动修复结果\n")));
  EXPECT_NE(shown.indexOf(q("\n\n导出 .mb\n")), -1);
  EXPECT_TRUE(fs::exists(path_from_utf8(dir_.path("abc-修复报告.txt"))));
  // Both save dialogs start in the table's folder.
  ASSERT_EQ(dialogs_.save_requests.size(), 2u);
  EXPECT_EQ(dialogs_.save_requests[0].folder, QFile::decodeName(path_to_utf8(dir_.root()).c_str()));
  EXPECT_EQ(dialogs_.save_requests[1].folder, dialogs_.save_requests[0].folder);
}

TEST_F(QtWindowTest, KeyboardReachesEveryCommand) {
  window_.show();
  QApplication::setActiveWindow(&window_);
  button(OPEN_BUTTON_NAME)->setFocus();
  QStringList walked;
  for (int i = 0; i < 8; ++i) {
    walked.append(QApplication::focusWidget()->objectName());
    QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
    QApplication::sendEvent(QApplication::focusWidget(), &tab);
  }
  // The hidden cancel button is skipped; the report area lets Tab through.
  EXPECT_EQ(walked, QStringList({q("open"), q("repair"), q("export"), q("rescue"), q("save_report"),
                                 q("convert"), q("report"), q("about")}));

  // Ctrl+O opens, Ctrl+S saves the report; Alt and the underlined letter press a button.
  QStringList keys;
  for (const QShortcut* shortcut : window_.findChildren<QShortcut*>()) {
    keys.append(shortcut->key().toString());
  }
  EXPECT_EQ(keys, QStringList({q("Ctrl+O"), q("Ctrl+S"), q("Esc")}));
  emit window_.findChildren<QShortcut*>().front()->activated();
  settle();
  EXPECT_EQ(dialogs_.open_requests.size(), 1u);
  EXPECT_EQ(button(RESCUE_BUTTON_NAME)->shortcut(), QKeySequence(q("Alt+R")));
}

TEST_F(QtWindowTest, AboutShowsTheProgramItsVersionAndWhereToReport) {
  click(ABOUT_BUTTON_NAME);
  ASSERT_EQ(dialogs_.messages.size(), 1);
  EXPECT_TRUE(
      dialogs_.messages[0].startsWith(q("岚栖输入法编码导入器 —— 诊断 / 修复 / 转 .mb\n"
                                        "QoviraTableTool 版本 ")));
  EXPECT_EQ(dialogs_.message_kinds, std::vector<MessageKind>{MessageKind::Information});
  load(dir_.path("没有这个文件.yaml"));
  EXPECT_EQ(dialogs_.message_kinds.back(), MessageKind::Failure);
}

// Qt's own dialog texts follow a Chinese system when its translations are installed.
TEST(QtTranslations, AreLoadedForChineseOnly) {
  auto& application = *QCoreApplication::instance();
  EXPECT_FALSE(install_qt_translations(application, QLocale(QLocale::English)));
  if (!install_qt_translations(application, QLocale(QLocale::Chinese, QLocale::China))) {
    GTEST_SKIP() << "Qt's translations (qt6-translations-l10n) are not installed";
  }
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), q("取消"));
  for (QTranslator* translator : application.findChildren<QTranslator*>()) {
    QCoreApplication::removeTranslator(translator);
    delete translator;
  }
}

}  // namespace
}  // namespace qovira::qt

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QApplication application(argc, argv);
  return RUN_ALL_TESTS();
}
