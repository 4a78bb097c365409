// The one entry point of the window module, which the program loads only when a window is asked
// for: batch runs then start without Qt.
#include <optional>
#include <string>

#include "qt_window.h"

extern "C" __attribute__((visibility("default"))) int qovira_run_qt_window(
    const char* file_or_null) {
  return qovira::qt::run_qt_window(file_or_null ? std::optional<std::string>(file_or_null)
                                                : std::nullopt);
}
