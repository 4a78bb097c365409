// The Linux entry: batch runs and the usage text, and the window when the Qt module is present.
#include <dlfcn.h>
#include <libintl.h>

#include <clocale>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <system_error>
#include <variant>
#include <vector>

#include "qovira/app/commands/batch.h"
#include "qovira/app/commands/cli.h"
#include "qovira/platform/files.h"

namespace {

constexpr std::string_view NO_WINDOW_MESSAGE =
    "这个版本没有图形界面，请用命令行批量模式，运行 QoviraTableTool --help 查看用法。";
constexpr std::string_view MODULE_LOAD_FAILED = "无法加载图形界面模块（它需要 Qt 6 运行库）：";

// Built with Qt, the window lives in this module beside the program; loaded only for a window so
// that batch runs do not pay for loading Qt.
constexpr std::string_view WINDOW_MODULE = "qovira-qt-window.so";
constexpr char WINDOW_ENTRY[] = "qovira_run_qt_window";

using WindowEntry = int (*)(const char* file_or_null);

int no_window(const char* reason) {
  std::cerr << NO_WINDOW_MESSAGE << '\n';
  if (reason) {
    std::cerr << MODULE_LOAD_FAILED << reason << '\n';
  }
  return 1;
}

int run_window(const std::optional<std::string>& file) {
  std::error_code error;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) {
    return no_window(nullptr);
  }
  const std::filesystem::path module = program.parent_path() / WINDOW_MODULE;
  if (!std::filesystem::exists(module, error)) {
    // A build without Qt: not a fault, the program simply has no window.
    return no_window(nullptr);
  }
  // Never closed: the window runs until the process ends.
  void* handle = dlopen(module.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    return no_window(dlerror());
  }
  const auto entry = reinterpret_cast<WindowEntry>(dlsym(handle, WINDOW_ENTRY));
  if (!entry) {
    return no_window(dlerror());
  }
  return entry(file ? file->c_str() : nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  // Past a file-size limit (ulimit -f) the write must fail with EFBIG and be reported, not kill us.
  std::signal(SIGXFSZ, SIG_IGN);
  qovira::remove_temporary_file_on_interruption();
  // The system's error texts in the user's language; everything else stays in the C locale. The
  // C library's messages are asked for in UTF-8, since LC_CTYPE stays ASCII.
  std::setlocale(LC_MESSAGES, "");
  bind_textdomain_codeset("libc", "UTF-8");
  std::ios::sync_with_stdio(false);
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const qovira::Invocation invocation = qovira::parse_arguments(arguments);
  if (const auto* batch = std::get_if<qovira::BatchInvocation>(&invocation)) {
    const int code = qovira::run_batch(batch->mode, batch->files, batch->out_dir, std::cout);
    std::cout.flush();
    return code;
  }
  if (std::holds_alternative<qovira::UsageInvocation>(invocation)) {
    std::cout << qovira::USAGE_TEXT << '\n';
    std::cout.flush();
    return 2;
  }
  if (std::holds_alternative<qovira::VersionInvocation>(invocation)) {
    std::cout << qovira::VERSION_LINE << '\n';
    std::cout.flush();
    return 0;
  }
  return run_window(std::get<qovira::WindowInvocation>(invocation).file);
}
