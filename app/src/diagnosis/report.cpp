// The text report of a diagnosis, folding long runs of issues that share their advice.
#include <initializer_list>
#include <map>
#include <string>
#include <tuple>
#include <utility>

#include "qovira/app/diagnosis/diagnosis.h"
#include "qovira/table/safe_text.h"
#include "qovira/table/utf8.h"

namespace qovira {

namespace {

constexpr std::string_view TITLE = "岚栖输入法编码导入器 · 诊断报告";
constexpr std::string_view RULE = "==============================";
constexpr std::string_view FILE_LABEL = "文件：";
constexpr std::string_view FORMAT_LABEL = "格式：";
constexpr std::string_view BODY_ROWS_LABEL = "正文行数：";
constexpr std::string_view ENTRIES_LABEL = "导入词条：";
constexpr std::string_view ALPHABET_OPEN = "字母表（";
constexpr std::string_view ALPHABET_CLOSE = " 个码元）：";
constexpr std::string_view COUNTS_FATAL = "问题：致命 ";
constexpr std::string_view COUNTS_WARNINGS = "，警告 ";
constexpr std::string_view COUNTS_INFOS = "，提示 ";
constexpr std::string_view VERDICT_IMPORTABLE = ">>> 结论：这份码表可以被岚栖输入法导入。";
constexpr std::string_view VERDICT_NOT_IMPORTABLE =
    ">>> 结论：这份码表**导入不进去**，原因见下面的[致命]条目。";
constexpr std::string_view NO_ISSUES = "没有发现任何问题。";
constexpr std::string_view ISSUES_HEADING = "逐项";
constexpr std::string_view ISSUES_RULE = "----";
constexpr std::string_view LINE_OPEN = " 第 ";
constexpr std::string_view LINE_CLOSE = " 行：";
constexpr std::string_view ADVICE_ARROW = "        → ";
constexpr std::string_view FOLDED_OPEN = " 同类问题还有 ";
constexpr std::string_view FOLDED_CLOSE = " 处（已折叠）";
constexpr std::string_view FOLDED_ADVICE = "　修法同上：";

// Issues fold by kind and advice; the fold lines come by severity, then byte-wise by advice.
using FoldKey = std::tuple<Severity, std::string_view, IssueKind>;

void append_line(std::string& out, std::initializer_list<std::string_view> parts) {
  for (std::string_view part : parts) {
    out.append(part);
  }
  out.push_back('\n');
}

// The list shows each kind and advice as often as a report lists it.
void append_issues(std::string& out, const IssueList& issues) {
  for (const Issue& issue : issues) {
    std::string_view label = severity_label(issue.severity);
    if (issue.line != 0) {
      append_line(out, {label, LINE_OPEN, std::to_string(issue.line), LINE_CLOSE, issue.message});
    } else {
      append_line(out, {label, " ", issue.message});
    }
    if (!issue.advice.empty()) {
      append_line(out, {ADVICE_ARROW, issue.advice});
    }
  }
  std::map<FoldKey, std::uint64_t> folded;
  for (const IssueList::Folded& kind : issues.folded()) {
    folded[FoldKey{kind.severity, kind.advice, kind.kind}] += kind.count;
  }
  for (const auto& [key, count] : folded) {
    const Severity severity = std::get<Severity>(key);
    const std::string_view advice = std::get<std::string_view>(key);
    std::string_view repeat_advice = advice.empty() ? std::string_view() : FOLDED_ADVICE;
    append_line(out, {severity_label(severity), FOLDED_OPEN, std::to_string(count), FOLDED_CLOSE,
                      repeat_advice, advice});
  }
}

}  // namespace

std::string render_report(std::string_view path, const Diagnosis& diagnosis) {
  const IssueCounts counts = diagnosis.issues.counts();
  std::string out;
  append_line(out, {TITLE});
  append_line(out, {RULE});
  append_line(out, {});
  append_line(out, {FILE_LABEL, path});
  append_line(out, {FORMAT_LABEL, format_display_name(diagnosis.format)});
  append_line(out, {BODY_ROWS_LABEL, std::to_string(diagnosis.body_rows)});
  append_line(out, {ENTRIES_LABEL, std::to_string(diagnosis.imported_entries)});
  if (!diagnosis.alphabet.empty()) {
    append_line(out, {ALPHABET_OPEN, std::to_string(count_chars(diagnosis.alphabet)),
                      ALPHABET_CLOSE, displayable(diagnosis.alphabet)});
  }
  append_line(out, {COUNTS_FATAL, std::to_string(counts.fatal), COUNTS_WARNINGS,
                    std::to_string(counts.warnings), COUNTS_INFOS, std::to_string(counts.infos)});
  append_line(out, {});
  append_line(out, {diagnosis.importable ? VERDICT_IMPORTABLE : VERDICT_NOT_IMPORTABLE});
  append_line(out, {});
  if (diagnosis.issues.empty()) {
    append_line(out, {NO_ISSUES});
    return out;
  }
  append_line(out, {ISSUES_HEADING});
  append_line(out, {ISSUES_RULE});
  append_issues(out, diagnosis.issues);
  return out;
}

}  // namespace qovira
