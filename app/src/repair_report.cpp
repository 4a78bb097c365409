// The report shown after a repair: where the result went, every change and every line left alone,
// and the re-check of the repaired text.
#include <string>
#include <string_view>

#include "qovira/app/repair.h"

namespace qovira {
namespace {

constexpr std::string_view TITLE = "自动修复结果\n============\n\n";
constexpr std::string_view SOURCE = "原文件：";
constexpr std::string_view SOURCE_UNTOUCHED = "\n（原文件一个字节都没有改动）\n";
constexpr std::string_view SAVED_AS = "修复后另存为：";
constexpr std::string_view COUNT_CHANGES = "自动改动 ";
constexpr std::string_view COUNT_KEPT = " 处，保留待人工判断 ";
constexpr std::string_view COUNT_END = " 处\n\n";
constexpr std::string_view CHANGES_HEADING = "改了什么\n--------\n";
constexpr std::string_view KEPT_HEADING = "没敢动的\n--------\n";
constexpr std::string_view LINE_OPEN = "第 ";
constexpr std::string_view LINE_CLOSE = " 行：";
constexpr std::string_view BASIS = "        依据：";
constexpr std::string_view REASON = "        原因：";
constexpr std::string_view RECHECK_HEADING = "修复后复检\n----------\n";
constexpr std::string_view ENTRIES = "词条 ";
constexpr std::string_view IMPORTABLE = "，现在可以导入了\n";
constexpr std::string_view NOT_IMPORTABLE = "，仍然导入不进去，见下\n";

void append_item(std::string& out, const RepairItem& item, std::string_view ground_label) {
  if (item.line != 0) {
    out.append(LINE_OPEN).append(std::to_string(item.line)).append(LINE_CLOSE);
  }
  out.append(item.summary).push_back('\n');
  out.append(ground_label).append(item.basis).push_back('\n');
}

}  // namespace

std::string build_repair_report(std::string_view source_path, std::string_view saved_path,
                                const RepairResult& result, const Diagnosis& recheck) {
  std::string out(TITLE);
  out.append(SOURCE).append(source_path).append(SOURCE_UNTOUCHED);
  out.append(SAVED_AS).append(saved_path).append("\n\n");
  out.append(COUNT_CHANGES)
      .append(std::to_string(result.changes.size()))
      .append(COUNT_KEPT)
      .append(std::to_string(result.kept.size()))
      .append(COUNT_END);

  if (!result.changes.empty()) {
    out.append(CHANGES_HEADING);
    for (const RepairItem& item : result.changes) {
      append_item(out, item, BASIS);
    }
    out.push_back('\n');
  }
  if (!result.kept.empty()) {
    out.append(KEPT_HEADING);
    for (const RepairItem& item : result.kept) {
      append_item(out, item, REASON);
    }
    out.push_back('\n');
  }

  out.append(RECHECK_HEADING);
  out.append(ENTRIES).append(std::to_string(recheck.imported_entries));
  out.append(recheck.importable ? IMPORTABLE : NOT_IMPORTABLE);
  if (!recheck.importable) {
    for (const Issue& issue : recheck.issues) {
      if (issue.severity == Severity::Fatal) {
        out.append(severity_label(Severity::Fatal))
            .append(" ")
            .append(issue.message)
            .push_back('\n');
      }
    }
  }
  return out;
}

}  // namespace qovira
