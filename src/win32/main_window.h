// The main window: five command buttons, the report area and the status bar.
#pragma once

#include <windows.h>

#include <expected>
#include <optional>
#include <string>

namespace qovira::win32 {

// Opens the window, loads `file` when one is given, and runs the message loop until the window is
// closed. The error is the system error of the step that failed while setting the window up.
std::expected<void, DWORD> run_main_window(const std::optional<std::string>& file);

}  // namespace qovira::win32
