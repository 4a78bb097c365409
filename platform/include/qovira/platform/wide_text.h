// UTF-8 inside, UTF-16 at the Win32 boundary (Windows only): for the files module and the window.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace qovira::win32 {

// Invalid UTF-8 becomes U+FFFD.
std::wstring widen(std::string_view utf8);
// An unpaired surrogate becomes U+FFFD.
std::string narrow(std::wstring_view utf16);

// The system's description of a Win32 error code, without the trailing line break.
std::string system_error_text(DWORD error);

}  // namespace qovira::win32
