#include "qt_window.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "dialogs.h"
#include "main_window.h"

namespace qovira::qt {
namespace {

constexpr char CANNOT_OPEN_WINDOW[] =
    "Error: 打不开窗口：图形界面启动失败，多半是没有可用的图形显示（例如没有设置 DISPLAY）。"
    "命令行批量模式不需要图形界面，运行 QoviraTableTool --help 查看用法。";

QtMessageHandler qt_default_handler = nullptr;

// Qt ends the process with abort() when it cannot reach a display. Its warnings before that name
// the cause; the user then gets our explanation and exit code 1 instead of a crash.
void exit_on_fatal(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type != QtFatalMsg) {
    qt_default_handler(type, context, text);
    return;
  }
  std::fprintf(stderr, "%s\n", CANNOT_OPEN_WINDOW);
  std::fflush(stderr);
  std::_Exit(1);
}

}  // namespace

bool install_qt_translations(QCoreApplication& application, const QLocale& locale) {
  if (locale.language() != QLocale::Chinese) {
    return false;
  }
  auto translator = std::make_unique<QTranslator>(&application);
  if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    return false;
  }
  return QCoreApplication::installTranslator(translator.release());
}

int run_qt_window(const std::optional<std::string>& file) {
  // The command line has been read already: Qt gets none of it, so a file name is never taken for
  // one of Qt's options.
  static char program[] = "QoviraTableTool";
  static char* arguments[] = {program, nullptr};
  int argument_count = 1;

  qt_default_handler = qInstallMessageHandler(exit_on_fatal);
  QApplication application(argument_count, arguments);
  qInstallMessageHandler(qt_default_handler);
  install_qt_translations(application, QLocale::system());

  QtDialogs dialogs;
  MainWindow window(dialogs);
  window.show();
  if (file) {
    // Loaded from the event loop, once the window is on the screen; the work goes on beside it.
    QTimer::singleShot(0, &window, [&window, &file] { window.load(*file); });
  }
  return application.exec();
}

}  // namespace qovira::qt
