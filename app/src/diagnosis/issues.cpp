// The issue catalogue and the order of issues.
#include "qovira/app/diagnosis/issues.h"

#include "qovira/table/safe_text.h"

#include <algorithm>
#include <array>
#include <deque>
#include <functional>
#include <initializer_list>
#include <limits>
#include <numeric>
#include <optional>
#include <span>
#include <utility>

#include "qovira/table/entry.h"
#include "qovira/table/message_text.h"
#include "qovira/table/utf8.h"

namespace qovira {

namespace {

constexpr std::string_view FATAL_LABEL = "[致命]";
constexpr std::string_view WARNING_LABEL = "[警告]";
constexpr std::string_view INFO_LABEL = "[提示]";

// Messages: every "{}" is filled in order.
constexpr std::string_view UNREADABLE_TEXT = "文件读不出文本：{}";
constexpr std::string_view MISSING_RIME_HEADER =
    "缺少 Rime 头部：正文前必须有独占一行的 `---` 与 `...`";
constexpr std::string_view IMPORT_FAILED = "导入失败：{}";
constexpr std::string_view MARK_BEFORE_HEADER =
    "第一行的 {} 前面有 UTF-8 的 BOM（EF BB BF），输入法因此认不出这一行，也就认不出整份码表";
constexpr std::string_view IMPORTER_SKIPPED = "导入器跳过：编码 {} —— {}";
constexpr std::string_view IMPORTER_SKIPPED_SUMMARY = "导入器共跳过 {} 条，上面只列出前 {} 条样本";
constexpr std::string_view MISSING_COLUMNS = "这一行没有制表符分隔的两列：{}";
constexpr std::string_view EMPTY_CODE_OR_TEXT = "空的编码或空的词条";
constexpr std::string_view BAD_CODE_CHARACTERS = "编码 {}（词条「{}」）含不能作码元的字符：{}";
constexpr std::string_view DUPLICATE_LINE = "与第 {} 行完全重复：「{}」{}";
constexpr std::string_view MB_BUILD_FAILED = "生成 .mb 失败：{}";
constexpr std::string_view MB_UNREADABLE = "生成的 .mb 读不回来：{}";
constexpr std::string_view MB_MISMATCH = "生成的 .mb 回读后与导入结果不一致：{}";

constexpr std::string_view UNREADABLE_TEXT_ADVICE =
    "确认文件是 UTF-8 或带 BOM 的 UTF-16，没有被压缩或损坏";
constexpr std::string_view LEGACY_TEXT_ADVICE =
    "这份文件看起来是 GBK/GB18030 编码，输入法只认 UTF-8 或带 BOM 的 UTF-16：用自动修复转成 UTF-8";
constexpr std::string_view DAMAGED_UTF8_ADVICE =
    "这份文件是 "
    "UTF-"
    "8，只是个别字节坏了（多半是被截断或混进了别的编码）：用自动修复把含坏字节的行移出并列出来，其"
    "余照常导入";
constexpr std::string_view MARK_BEFORE_HEADER_ADVICE =
    "把文件另存为不带 BOM 的 UTF-8；工具的自动修复能替你删掉它";
constexpr std::string_view MISSING_RIME_HEADER_ADVICE =
    "在文件开头补上 `---`、`name:`、`...` 三行；工具的自动修复能替你补";
constexpr std::string_view MISSING_COLUMNS_ADVICE = "词与编码之间要用一个 Tab 分隔，不是空格";
constexpr std::string_view EMPTY_CODE_OR_TEXT_ADVICE = "删掉这一行";
constexpr std::string_view CAPITAL_LETTER_ADVICE = "编码只认小写字母，把大写改成小写";
constexpr std::string_view FULL_WIDTH_PUNCTUATION_ADVICE = "把全角标点换成半角 , . ; /";
constexpr std::string_view STRAY_CHARACTER_ADVICE =
    "编码里混进了不能作码元的字符，多半是打字时手滑";
constexpr std::string_view DUPLICATE_LINE_ADVICE = "重复的会被自动去掉，不影响使用";
constexpr std::string_view CORE_FAULT_ADVICE =
    "这是核心的问题，不是码表的问题，请把这份报告发给开发";

constexpr std::string_view FULL_WIDTH_PUNCTUATION[] = {"，", "。", "；", "／"};

Issue make_issue(IssueKind kind, std::string message, std::string_view advice, std::uint64_t line,
                 Severity severity) {
  // Messages carry words, codes and lines of the file: shown safely wherever they go.
  return Issue{kind, displayable(message), advice, line, severity};
}

std::string_view bad_code_advice(std::string_view code, std::string_view offending) {
  if (std::ranges::any_of(code, [](char c) { return c >= 'A' && c <= 'Z'; })) {
    return CAPITAL_LETTER_ADVICE;
  }
  // `offending` is made of whole characters, so a byte search finds only whole matches.
  for (std::string_view mark : FULL_WIDTH_PUNCTUATION) {
    if (offending.find(mark) != std::string_view::npos) {
      return FULL_WIDTH_PUNCTUATION_ADVICE;
    }
  }
  return STRAY_CHARACTER_ADVICE;
}

// Quoted like quote_code, cut like shown_value (the mark stands after the closing quote).
std::string shown_quoted(std::string_view code) {
  const std::string_view head = first_chars(code, MAX_SHOWN_CHARS);
  std::string out = quote_code(head);
  if (head.size() < code.size()) {
    out.append(CUT_MARK);
  }
  return out;
}

}  // namespace

bool is_code_character(char32_t c) {
  return (c >= U'a' && c <= U'z') || c == U' ' || c == U',' || c == U'.' || c == U'/' || c == U';';
}

std::string_view severity_label(Severity severity) {
  switch (severity) {
    case Severity::Fatal:
      return FATAL_LABEL;
    case Severity::Warning:
      return WARNING_LABEL;
    case Severity::Info:
      break;
  }
  return INFO_LABEL;
}

std::string quote_code(std::string_view code) {
  std::string escaped;
  escaped.reserve(code.size());
  for (const char c : code) {
    switch (c) {
      case '"':
        escaped.append("\\\"");
        break;
      case '\\':
        escaped.append("\\\\");
        break;
      case '\t':
        escaped.append("\\t");
        break;
      default:
        escaped.push_back(c);
    }
  }
  // Every other control is written as the display escapes write it.
  std::string quoted(1, '"');
  quoted.append(displayable(escaped)).push_back('"');
  return quoted;
}

Issue unreadable_text(std::string_view error) {
  return make_issue(IssueKind::UnreadableText, fill_placeholders(UNREADABLE_TEXT, {error}),
                    UNREADABLE_TEXT_ADVICE, 0, Severity::Fatal);
}

Issue unreadable_legacy_text(std::string_view error) {
  return make_issue(IssueKind::UnreadableText, fill_placeholders(UNREADABLE_TEXT, {error}),
                    LEGACY_TEXT_ADVICE, 0, Severity::Fatal);
}

Issue unreadable_damaged_utf8(std::string_view error) {
  return make_issue(IssueKind::UnreadableText, fill_placeholders(UNREADABLE_TEXT, {error}),
                    DAMAGED_UTF8_ADVICE, 0, Severity::Fatal);
}

Issue mark_before_header(std::string_view marker) {
  return make_issue(IssueKind::MarkBeforeHeader, fill_placeholders(MARK_BEFORE_HEADER, {marker}),
                    MARK_BEFORE_HEADER_ADVICE, 1, Severity::Fatal);
}

Issue missing_rime_header() {
  return make_issue(IssueKind::MissingRimeHeader, std::string(MISSING_RIME_HEADER),
                    MISSING_RIME_HEADER_ADVICE, 0, Severity::Fatal);
}

Issue import_failed(std::string_view error) {
  return make_issue(IssueKind::ImportFailed, fill_placeholders(IMPORT_FAILED, {error}), {}, 0,
                    Severity::Fatal);
}

Issue importer_skipped(std::uint64_t line, std::string_view code, std::string_view reason) {
  return make_issue(IssueKind::ImporterSkipped,
                    fill_placeholders(IMPORTER_SKIPPED, {quote_code(code), reason}), {}, line,
                    Severity::Warning);
}

Issue importer_skipped_summary(std::uint64_t total, std::uint64_t shown) {
  return make_issue(
      IssueKind::ImporterSkippedSummary,
      fill_placeholders(IMPORTER_SKIPPED_SUMMARY, {std::to_string(total), std::to_string(shown)}),
      {}, 0, Severity::Info);
}

Issue missing_columns(std::uint64_t line, std::string_view preview) {
  return make_issue(IssueKind::MissingColumns, fill_placeholders(MISSING_COLUMNS, {preview}),
                    MISSING_COLUMNS_ADVICE, line, Severity::Warning);
}

Issue empty_code_or_text(std::uint64_t line) {
  return make_issue(IssueKind::EmptyCodeOrText, std::string(EMPTY_CODE_OR_TEXT),
                    EMPTY_CODE_OR_TEXT_ADVICE, line, Severity::Warning);
}

Issue bad_code_characters(std::uint64_t line, std::string_view code, std::string_view text,
                          std::string_view offending) {
  return make_issue(IssueKind::BadCodeCharacters,
                    fill_placeholders(BAD_CODE_CHARACTERS, {shown_quoted(code), shown_value(text),
                                                            shown_quoted(offending)}),
                    bad_code_advice(code, offending), line, Severity::Warning);
}

Issue duplicate_line(std::uint64_t line, std::uint64_t earlier, std::string_view text,
                     std::string_view code) {
  return make_issue(IssueKind::DuplicateLine,
                    fill_placeholders(DUPLICATE_LINE, {std::to_string(earlier), shown_value(text),
                                                       shown_quoted(code)}),
                    DUPLICATE_LINE_ADVICE, line, Severity::Info);
}

void fold_duplicate_lines(IssueList& issues, std::uint64_t count) {
  issues.fold(IssueKind::DuplicateLine, Severity::Info, DUPLICATE_LINE_ADVICE, count);
}

Issue mb_build_failed(std::string_view error) {
  return make_issue(IssueKind::MbBuildFailed, fill_placeholders(MB_BUILD_FAILED, {error}), {}, 0,
                    Severity::Fatal);
}

Issue mb_unreadable(std::string_view error) {
  return make_issue(IssueKind::MbUnreadable, fill_placeholders(MB_UNREADABLE, {error}),
                    CORE_FAULT_ADVICE, 0, Severity::Fatal);
}

Issue mb_mismatch(std::string_view difference) {
  return make_issue(IssueKind::MbMismatch, fill_placeholders(MB_MISMATCH, {difference}),
                    CORE_FAULT_ADVICE, 0, Severity::Fatal);
}

std::size_t IssueList::find_tally(IssueKind kind, Severity severity,
                                  std::string_view advice) const {
  const auto found = std::ranges::find_if(tallies_, [&](const KindTally& tally) {
    return tally.kind == kind && tally.severity == severity && tally.advice == advice;
  });
  return found == tallies_.end() ? NONE : static_cast<std::size_t>(found - tallies_.begin());
}

IssueList::KindTally& IssueList::tally_of(IssueKind kind, Severity severity,
                                          std::string_view advice) {
  if (const std::size_t index = find_tally(kind, severity, advice); index != NONE) {
    return tallies_[index];
  }
  return tallies_.emplace_back(KindTally{severity, advice, kind});
}

void IssueList::count_folded(KindTally& tally, std::uint64_t count) {
  if (tally.folded == NONE) {
    tally.folded = folded_.size();
    folded_.push_back({tally.severity, tally.advice, tally.kind, 0});
  }
  folded_[tally.folded].count += count;
}

void IssueList::add(Issue issue) {
  KindTally& tally = tally_of(issue.kind, issue.severity, issue.advice);
  if (tally.shown >= SHOWN_PER_KIND) {
    count_folded(tally, 1);
    return;
  }
  ++tally.shown;
  shown_.push_back(std::move(issue));
}

void IssueList::fold(IssueKind kind, Severity severity, std::string_view advice,
                     std::uint64_t count) {
  if (count != 0) {
    count_folded(tally_of(kind, severity, advice), count);
  }
}

void IssueList::append(IssueList other) {
  // Each list kept the first of its kinds by line, so the first of both together are among them:
  // sort() puts any beyond the first SHOWN_PER_KIND back to counting.
  for (Issue& issue : other.shown_) {
    KindTally& tally = tally_of(issue.kind, issue.severity, issue.advice);
    ++tally.shown;
    shown_.push_back(std::move(issue));
  }
  for (const Folded& folded : other.folded_) {
    fold(folded.kind, folded.severity, folded.advice, folded.count);
  }
}

void IssueList::sort() {
  sort_issues(shown_);
  for (KindTally& tally : tallies_) {
    tally.shown = 0;
  }
  std::size_t kept = 0;
  for (Issue& issue : shown_) {
    KindTally& tally = tally_of(issue.kind, issue.severity, issue.advice);
    if (tally.shown == SHOWN_PER_KIND) {
      count_folded(tally, 1);
      continue;
    }
    ++tally.shown;
    if (&shown_[kept] != &issue) {
      shown_[kept] = std::move(issue);
    }
    ++kept;
  }
  shown_.erase(shown_.begin() + static_cast<std::ptrdiff_t>(kept), shown_.end());
}

IssueCounts IssueList::counts() const {
  IssueCounts counts;
  const auto count = [&counts](Severity severity, std::uint64_t number) {
    switch (severity) {
      case Severity::Warning:
        counts.warnings += number;
        break;
      case Severity::Info:
        counts.infos += number;
        break;
      case Severity::Fatal:
        counts.fatal += number;
        break;
    }
  };
  for (const Issue& issue : shown_) {
    count(issue.severity, 1);
  }
  for (const Folded& folded : folded_) {
    count(folded.severity, folded.count);
  }
  return counts;
}

void sort_issues(std::vector<Issue>& issues) {
  const auto before = [](const Issue& a, const Issue& b) {
    if (a.severity != b.severity) {
      return a.severity < b.severity;
    }
    return a.line < b.line;
  };
  // The scan appends in line order, so the list is often in order already.
  if (std::ranges::is_sorted(issues, before)) {
    return;
  }
  // Sorting small keys, the index breaking ties, and then moving each issue once into its place
  // needs no second list of issues, which a stable sort of a million issues would allocate.
  struct Place {
    Severity severity;
    std::uint64_t line;
    std::size_t index;
    auto operator<=>(const Place&) const = default;
  };
  std::vector<Place> places(issues.size());
  for (std::size_t i = 0; i < issues.size(); ++i) {
    places[i] = {issues[i].severity, issues[i].line, i};
  }
  std::ranges::sort(places);
  std::vector<std::size_t> source_of(issues.size());  // place -> the index of the issue it takes
  for (std::size_t i = 0; i < places.size(); ++i) {
    source_of[i] = places[i].index;
  }
  places = {};
  for (std::size_t start = 0; start < issues.size(); ++start) {
    if (source_of[start] == start) {
      continue;
    }
    Issue held = std::move(issues[start]);
    std::size_t place = start;
    while (source_of[place] != start) {
      const std::size_t from = source_of[place];
      issues[place] = std::move(issues[from]);
      source_of[place] = place;
      place = from;
    }
    issues[place] = std::move(held);
    source_of[place] = place;
  }
}

}  // namespace qovira
