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

// Appends pieces to the report, each line feed in them written as the chosen line end, so that a
// saved report of hundreds of megabytes is made once with its CR LF instead of converted after.
// Without a string it only counts, so that the report can be allocated once at its size.
class ReportText {
 public:
  ReportText(std::string* out, std::string_view line_end) : out_(out), line_end_(line_end) {}

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

 private:
  void put(std::string_view piece) {
    size_ += piece.size();
    if (out_ != nullptr) {
      out_->append(piece);
    }
  }

  std::string* out_;
  std::string_view line_end_;
  std::size_t size_ = 0;
};

void append_item(ReportText& out, const RepairItem& item, std::string_view ground_label) {
  if (item.line != 0) {
    out << LINE_OPEN << std::to_string(item.line) << LINE_CLOSE;
  }
  out << item.summary << "\n" << ground_label << item.basis << "\n";
}

}  // namespace

std::string build_repair_report(std::string_view source_path, std::string_view saved_path,
                                const RepairResult& result, const Diagnosis& recheck,
                                std::string_view line_end, std::string_view prefix) {
  const auto write = [&](ReportText& out) {
    out << TITLE << SOURCE << source_path << SOURCE_UNTOUCHED << SAVED_AS << saved_path << "\n\n";
    out << COUNT_CHANGES << std::to_string(result.changes.size()) << COUNT_KEPT
        << std::to_string(result.kept.size()) << COUNT_END;

    if (!result.changes.empty()) {
      out << CHANGES_HEADING;
      for (const RepairItem& item : result.changes) {
        append_item(out, item, BASIS);
      }
      out << "\n";
    }
    if (!result.kept.empty()) {
      out << KEPT_HEADING;
      for (const RepairItem& item : result.kept) {
        append_item(out, item, REASON);
      }
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
  };
  ReportText counted(nullptr, line_end);
  write(counted);
  std::string text;
  text.reserve(prefix.size() + counted.size());
  text.append(prefix);
  ReportText out(&text, line_end);
  write(out);
  return text;
}

}  // namespace qovira
