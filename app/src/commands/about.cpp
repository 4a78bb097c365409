#include <string>

#include "qovira/app/commands/window_layout.h"
#include "qovira/app/version.h"

namespace qovira {
namespace {

constexpr std::string_view VERSION_LABEL = " 版本 ";
constexpr std::string_view LICENCE =
    "许可：MIT 许可证，全文见随程序附带的 LICENSE 文件（Copyright (c) The QoviraTableTool "
    "authors）。";
constexpr std::string_view PROBLEMS_HEAD = "问题反馈：";
constexpr std::string_view PROBLEMS_OR = "，或 ";
constexpr std::string_view PROBLEMS_TAIL =
    "\n请附上出问题的码表、用“保存报告”存下的报告和上面的版本号。";

}  // namespace

std::string about_text() {
  std::string text(WINDOW_TITLE);
  text.append("\n").append(PROGRAM_NAME).append(VERSION_LABEL).append(PROGRAM_VERSION);
  text.append("\n\n").append(LICENCE).append("\n");
  text.append(PROBLEMS_HEAD).append(CONTACT_ADDRESS).append(PROBLEMS_OR).append(HOMEPAGE);
  text.append(PROBLEMS_TAIL);
  return text;
}

}  // namespace qovira
