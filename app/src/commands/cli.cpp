#include "qovira/app/commands/cli.h"

#include <filesystem>

#include "qovira/app/commands/files.h"
#include "qovira/app/version.h"

namespace qovira {

const std::string_view USAGE_TEXT =
    "岚栖输入法编码导入器 —— 诊断 / 修复 / 转 .mb\n"
    "\n"
    "用法：\n"
    "  QoviraTableTool                        打开图形界面\n"
    "  QoviraTableTool <文件>                 打开图形界面并载入这份码表\n"
    "  QoviraTableTool --check <文件>...      只诊断，逐份打印结论（退出码 0 = 全部可导入）\n"
    "  QoviraTableTool --report <文件>...     打印完整报告（含逐项问题）\n"
    "  QoviraTableTool --fix <文件>...        自动修复，另存为 <名字>.repaired.<后缀>\n"
    "  QoviraTableTool --export-mb <文件>...  导出 .mb，另存为 <名字>.mb\n"
    "  QoviraTableTool --rescue <文件>...     救急：先修复再导出 .mb，一步到位\n"
    "  QoviraTableTool --to-rime <文件>...    转成 Rime 词典，另存为 <名字>.dict.yaml\n"
    "  QoviraTableTool --to-bingling <文件>... 转成冰凌文本码表，另存为 <名字>.txt\n"
    "  QoviraTableTool --version              显示版本号\n"
    "\n"
    "说明：\n"
    "  * 原文件在任何模式下都不会被改动，结果一律另存。\n"
    "  * --out <目录> 可以指定输出目录，默认与源文件同目录。\n"
    "  * 支持 Rime .dict.yaml、冰凌文本码表、极点 .mb；格式按内容判，不看扩展名。\n";

const std::string_view VERSION_LINE = QOVIRA_PROGRAM_NAME " " QOVIRA_VERSION_TEXT;

namespace {

constexpr std::string_view DEFAULT_STEM = "table";
constexpr std::string_view DEFAULT_EXTENSION = "yaml";
constexpr std::string_view DICT_SUFFIX = ".dict";

std::optional<BatchMode> mode_of(std::string_view argument) {
  if (argument == "--check") {
    return BatchMode::Check;
  }
  if (argument == "--report") {
    return BatchMode::Report;
  }
  if (argument == "--fix") {
    return BatchMode::Fix;
  }
  if (argument == "--export-mb") {
    return BatchMode::ExportMb;
  }
  if (argument == "--rescue") {
    return BatchMode::Rescue;
  }
  if (argument == "--to-rime") {
    return BatchMode::ToRime;
  }
  if (argument == "--to-bingling") {
    return BatchMode::ToBingling;
  }
  return std::nullopt;
}

bool is_separator(char c) {
#ifdef _WIN32
  return c == '/' || c == '\\';
#else
  return c == '/';
#endif
}

// A path cut into its directory part and its last component, the way path libraries see it:
// trailing separators and "." components do not count; ".." and a bare root have no file name.
struct PathParts {
  std::optional<std::string_view> parent;
  std::optional<std::string_view> file_name;
};

PathParts split_path(std::string_view path) {
  std::string_view rest = path;
  while (true) {
    while (rest.size() > 1 && is_separator(rest.back())) {
      rest.remove_suffix(1);
    }
    std::size_t cut = rest.size();
    while (cut > 0 && !is_separator(rest[cut - 1])) {
      --cut;
    }
    const std::string_view last = rest.substr(cut);
    if (last == "." && cut > 0) {
      rest = rest.substr(0, cut);
      continue;
    }
    PathParts parts;
    if (last.empty() || last == "." || last == "..") {
      if (last == ".." || last == ".") {
        parts.parent = rest.substr(0, cut);
      }
      return parts;
    }
    std::string_view parent = rest.substr(0, cut);
    while (parent.size() > 1 && is_separator(parent.back())) {
      parent.remove_suffix(1);
    }
    parts.parent = parent;
    parts.file_name = last;
    return parts;
  }
}

// Splits a file name at its last dot; a name whose only dot leads it has no extension.
std::pair<std::string_view, std::optional<std::string_view>> split_extension(
    std::string_view name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) {
    return {name, std::nullopt};
  }
  return {name.substr(0, dot), name.substr(dot + 1)};
}

}  // namespace

Invocation parse_arguments(std::span<const std::string> arguments) {
  std::optional<BatchMode> mode;
  std::optional<std::string> out_dir;
  std::vector<std::string> files;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    if (auto chosen = mode_of(argument)) {
      mode = chosen;
    } else if (argument == "--out") {
      if (i + 1 >= arguments.size()) {
        out_dir.reset();
        break;
      }
      out_dir = arguments[++i];
    } else if (argument == "--help" || argument == "-h" || argument == "/?") {
      return UsageInvocation{};
    } else if (argument == "--version") {
      return VersionInvocation{};
    } else if (!argument.empty() && argument.front() == '-') {
      return UsageInvocation{};
    } else {
      files.push_back(argument);
    }
  }
  if (!mode) {
    WindowInvocation window;
    if (!files.empty()) {
      window.file = files.front();
    }
    return window;
  }
  if (files.empty()) {
    return UsageInvocation{};
  }
  return BatchInvocation{std::move(files), std::move(out_dir), *mode};
}

std::string output_stem(std::string_view source_path) {
  const PathParts parts = split_path(source_path);
  if (!parts.file_name) {
    return std::string(DEFAULT_STEM);
  }
  std::string_view stem = split_extension(*parts.file_name).first;
  while (stem.ends_with(DICT_SUFFIX)) {
    stem.remove_suffix(DICT_SUFFIX.size());
  }
  // A name that was nothing but ".dict" parts would leave a hidden, nameless output.
  if (stem.empty()) {
    return std::string(DEFAULT_STEM);
  }
  return std::string(stem);
}

std::string output_extension(std::string_view source_path) {
  const PathParts parts = split_path(source_path);
  if (!parts.file_name) {
    return std::string(DEFAULT_EXTENSION);
  }
  const auto extension = split_extension(*parts.file_name).second;
  return std::string(extension.value_or(DEFAULT_EXTENSION));
}

std::string repaired_file_name(std::string_view source_path) {
  return output_stem(source_path) + ".repaired." + output_extension(source_path);
}

std::string mb_file_name(std::string_view source_path) {
  return output_stem(source_path) + ".mb";
}

std::string rime_file_name(std::string_view source_path) {
  return output_stem(source_path) + ".dict.yaml";
}

std::string bingling_file_name(std::string_view source_path) {
  return output_stem(source_path) + ".txt";
}

std::string repair_report_file_name(std::string_view source_path) {
  return output_stem(source_path) + "-修复报告.txt";
}

std::string output_path(std::string_view source_path, const std::optional<std::string>& out_dir,
                        std::string_view file_name) {
  std::string directory;
  if (out_dir) {
    directory = *out_dir;
  } else {
    const PathParts parts = split_path(source_path);
    directory = parts.parent ? std::string(*parts.parent) : std::string(".");
  }
  if (directory.empty()) {
    return std::string(file_name);
  }
  return path_to_utf8(path_from_utf8(directory) / path_from_utf8(file_name));
}

std::string file_name_of(std::string_view path) {
  const PathParts parts = split_path(path);
  return std::string(parts.file_name.value_or(path));
}

}  // namespace qovira
