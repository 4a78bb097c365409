// The Windows entry: the window, or batch runs and the usage text on the starting console.
#include <windows.h>

#include <shellapi.h>

#include <ostream>
#include <string>
#include <variant>
#include <vector>

#include "console.h"
#include "main_window.h"
#include "qovira/app/commands/batch.h"
#include "qovira/app/commands/cli.h"
#include "qovira/platform/files.h"
#include "qovira/platform/wide_text.h"

namespace {

// The arguments after the program name, as UTF-8. The wide command line keeps Chinese file names
// that the ANSI code page cannot hold.
std::vector<std::string> command_line_arguments() {
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::string> arguments;
  if (wide == nullptr) {
    return arguments;
  }
  for (int i = 1; i < count; ++i) {
    arguments.push_back(qovira::win32::narrow(wide[i]));
  }
  LocalFree(wide);
  return arguments;
}

int run_window(const qovira::WindowInvocation& invocation) {
  const auto shown = qovira::win32::run_main_window(invocation.file);
  if (!shown) {
    qovira::win32::StdHandleBuf error_buffer(STD_ERROR_HANDLE);
    std::ostream error(&error_buffer);
    error << "Error: " << qovira::win32::system_error_text(shown.error()) << '\n';
    return 1;
  }
  return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  qovira::remove_temporary_file_on_interruption();
  const std::vector<std::string> arguments = command_line_arguments();
  const qovira::Invocation invocation = qovira::parse_arguments(arguments);
  if (const auto* window = std::get_if<qovira::WindowInvocation>(&invocation)) {
    return run_window(*window);
  }

  qovira::win32::attach_parent_console();
  qovira::win32::StdHandleBuf output_buffer(STD_OUTPUT_HANDLE);
  std::ostream output(&output_buffer);
  int code = 2;
  if (const auto* batch = std::get_if<qovira::BatchInvocation>(&invocation)) {
    code = qovira::run_batch(batch->mode, batch->files, batch->out_dir, output);
  } else if (std::holds_alternative<qovira::VersionInvocation>(invocation)) {
    output << qovira::VERSION_LINE << '\n';
    code = 0;
  } else {
    output << qovira::USAGE_TEXT << '\n';
  }
  output.flush();
  return code;
}
