// The Linux entry: batch runs and the usage text, and the Qt window when the build has one.
#include <csignal>
#include <iostream>
#include <string>
#include <variant>
#include <vector>

#include "qovira/app/batch.h"
#include "qovira/app/cli.h"
#ifdef QOVIRA_HAS_QT
#include "qt_window.h"
#endif

#ifndef QOVIRA_HAS_QT
namespace {

constexpr std::string_view NO_WINDOW_MESSAGE =
    "这个版本没有图形界面，请用命令行批量模式，运行 QoviraTableTool --help 查看用法。";

}  // namespace
#endif

int main(int argc, char** argv) {
  // Past a file-size limit (ulimit -f) the write must fail with EFBIG and be reported, not kill us.
  std::signal(SIGXFSZ, SIG_IGN);
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
#ifdef QOVIRA_HAS_QT
  return qovira::qt::run_qt_window(std::get<qovira::WindowInvocation>(invocation).file);
#else
  std::cerr << NO_WINDOW_MESSAGE << '\n';
  return 1;
#endif
}
