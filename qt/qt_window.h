// The window of the Linux build, on Qt 6 Widgets.
#pragma once

#include <optional>
#include <string>

namespace qovira::qt {

// Opens the window, loads `file` when one is given, and runs until the window is closed (0). When
// no window can be shown (no display), writes "Error: " and the reason to standard error and
// returns 1.
int run_qt_window(const std::optional<std::string>& file);

}  // namespace qovira::qt
