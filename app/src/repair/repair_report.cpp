// The report shown after a repair: where the result went, every change and every line left alone,
// and the re-check of the repaired text.
#include <algorithm>
#include <string>
#include <string_view>

#include "qovira/app/repair/repair.h"

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
constexpr std::string_view COUNT_REMOVED = " 处，移出 ";
constexpr std::string_view REMOVED_HEADING = "已移出的\n--------\n";
constexpr std::string_view KEPT_HEADING = "没敢动的\n--------\n";
constexpr std::string_view LINE_OPEN = "第 ";
constexpr std::string_view LINE_CLOSE = " 行：";
constexpr std::string_view BASIS = "        依据：";
constexpr std::string_view REASON = "        原因：";
constexpr std::string_view RECHECK_HEADING = "修复后复检\n----------\n";
constexpr std::string_view ENTRIES = "词条 ";
constexpr std::string_view IMPORTABLE = "，现在可以导入了\n";
constexpr std::string_view NOT_IMPORTABLE = "，仍然导入不进去，见下\n";
constexpr std::string_view MORE_ITEMS = "…还有 ";
constexpr std::string_view MORE_ITEMS_TAIL = " 处";
constexpr std::string_view MORE_ITEMS_SAVED = "，详见 ";

// Makes the report's text, each line feed in its pieces written as the chosen line end, so that a
// saved report of hundreds of megabytes is made once with its CR LF instead of converted after.
// The text goes to the writer in pieces of about a megabyte; without a writer it is only counted,
// so that a report held whole can be allocated once at its size.
class ReportText {
 public:
  ReportText(const ReportWriter* write, std::string_view line_end)
      : write_(write), line_end_(line_end) {}
  ~ReportText() { flush(); }
  ReportText(const ReportText&) = delete;
  ReportText& operator=(const ReportText&) = delete;

  ReportText& operator<<(std::string_view piece) {
    for (std::size_t end = piece.find('\n'); end != std::string_view::npos;
         end = piece.find('\n')) {
      put(piece.substr(0, end));
      put(line_end_);
      piece.remove_prefix(end + 1);
    }
    put(piece);
    return *this;
  }

  std::size_t size() const { return size_; }

  void flush() {
    if (write_ != nullptr && !buffer_.empty() && writing_) {
      writing_ = (*write_)(buffer_);
    }
    buffer_.clear();
  }

 private:
  static constexpr std::size_t PIECE_SIZE = 1 << 20;

  void put(std::string_view piece) {
    size_ += piece.size();
    if (write_ != nullptr && writing_) {
      buffer_.append(piece);
      if (buffer_.size() >= PIECE_SIZE) {
        flush();
      }
    }
  }

  const ReportWriter* write_;
  std::string_view line_end_;
  std::string buffer_;
  std::size_t size_ = 0;
  bool writing_ = true;
};

void append_item(ReportText& out, const RepairItem& item, std::string_view ground_label) {
  if (item.line != 0) {
    out << LINE_OPEN << std::to_string(item.line) << LINE_CLOSE;
  }
  out << item.summary << "\n" << ground_label << item.basis << "\n";
}

// Writes the first `cut.shown_per_list` items, then a line counting the rest.
void append_items(ReportText& out, const RepairItems& items, std::string_view ground_label,
                  const ShownItems& cut) {
  const std::size_t shown = std::min(items.size(), cut.shown_per_list);
  auto item = items.begin();
  for (std::size_t i = 0; i < shown; ++i, ++item) {
    append_item(out, *item, ground_label);
  }
  if (shown < items.size()) {
    out << MORE_ITEMS << std::to_string(items.size() - shown) << MORE_ITEMS_TAIL;
    if (cut.full_report) {
      out << MORE_ITEMS_SAVED << *cut.full_report;
    }
    out << "\n";
  }
}

void write_report(ReportText& out, std::string_view source_path, std::string_view saved_path,
                  const RepairResult& result, const Diagnosis& recheck, const ShownItems& cut) {
  out << TITLE << SOURCE << source_path << SOURCE_UNTOUCHED << SAVED_AS << saved_path << "\n\n";
  out << COUNT_CHANGES << std::to_string(result.changes.size());
  if (!result.removed.empty()) {
    out << COUNT_REMOVED << std::to_string(result.removed.size());
  }
  out << COUNT_KEPT << std::to_string(result.kept.size()) << COUNT_END;

  if (!result.changes.empty()) {
    out << CHANGES_HEADING;
    append_items(out, result.changes, BASIS, cut);
    out << "\n";
  }
  if (!result.removed.empty()) {
    out << REMOVED_HEADING;
    append_items(out, result.removed, REASON, cut);
    out << "\n";
  }
  if (!result.kept.empty()) {
    out << KEPT_HEADING;
    append_items(out, result.kept, REASON, cut);
    out << "\n";
  }

  out << RECHECK_HEADING << ENTRIES << std::to_string(recheck.imported_entries)
      << (recheck.importable ? IMPORTABLE : NOT_IMPORTABLE);
  if (!recheck.importable) {
    for (const Issue& issue : recheck.issues) {
      if (issue.severity == Severity::Fatal) {
        out << severity_label(Severity::Fatal) << " " << issue.message << "\n";
      }
    }
  }
}

}  // namespace

void write_repair_report(std::string_view source_path, std::string_view saved_path,
                         const RepairResult& result, const Diagnosis& recheck,
                         std::string_view line_end, const ReportWriter& write) {
  ReportText out(&write, line_end);
  write_report(out, source_path, saved_path, result, recheck, {});
}

std::string build_repair_report(std::string_view source_path, std::string_view saved_path,
                                const RepairResult& result, const Diagnosis& recheck,
                                const ShownItems& cut) {
  std::size_t size = 0;
  {
    ReportText counted(nullptr, "\n");
    write_report(counted, source_path, saved_path, result, recheck, cut);
    size = counted.size();
  }
  std::string text;
  text.reserve(size);
  const ReportWriter append = [&text](std::string_view piece) {
    text.append(piece);
    return true;
  };
  ReportText out(&append, "\n");
  write_report(out, source_path, saved_path, result, recheck, cut);
  out.flush();
  return text;
}

}  // namespace qovira
