// The window of the Linux build, on Qt 6 Widgets.
#pragma once

#include <optional>
#include <string>

class QCoreApplication;
class QLocale;

namespace qovira::qt {

// Qt's own texts (the buttons and labels of its dialogs) in Chinese when `locale` is Chinese:
// installs Qt's translation for it. False, changing nothing, for another language or when the
// translation files are not installed.
bool install_qt_translations(QCoreApplication& application, const QLocale& locale);

// Opens the window, loads `file` when one is given, and runs until the window is closed (0). When
// no window can be shown (no display), writes "Error: " and the reason to standard error and
// returns 1.
int run_qt_window(const std::optional<std::string>& file);

}  // namespace qovira::qt
