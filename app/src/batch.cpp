#include "qovira/app/batch.h"

#include <algorithm>

#include "qovira/app/diagnosis.h"
#include "qovira/app/export.h"
#include "qovira/app/files.h"
#include "qovira/app/repair.h"
#include "qovira/table/text.h"

namespace qovira {
namespace {

constexpr std::string_view UNREADABLE_PREFIX = "!! ";
constexpr std::string_view UNREADABLE_DETAIL = "   读不出这个文件：";
constexpr std::string_view ENTRIES_LABEL = " 词条 ";
constexpr std::string_view FATAL_LABEL = "  致命";
constexpr std::string_view WARNING_LABEL = " 警告";
constexpr std::string_view INFO_LABEL = " 提示";
constexpr std::string_view VERDICT_IMPORTABLE = "可导入";
constexpr std::string_view VERDICT_NOT_IMPORTABLE = "导不进";
constexpr std::string_view FATAL_LINE = "     [致命] ";
constexpr std::string_view MB_REPAIR_SKIPPED =
    "     （极点 .mb 是运行时格式，没有可修的源文本，跳过修复）";
constexpr std::string_view REPAIR_FAILED = "     !! 修复失败：";
constexpr std::string_view REPAIR_SUMMARY = "     修复 ";
constexpr std::string_view REPAIR_SUMMARY_KEPT = " 处，保留待人工 ";
constexpr std::string_view REPAIR_SUMMARY_ARROW = " 处 → ";
constexpr std::string_view CHANGE_INDENT = "       ";
constexpr std::string_view BASIS_LINE = "             依据：";
constexpr std::string_view MORE_CHANGES = "       …还有 ";
constexpr std::string_view MORE_CHANGES_TAIL = " 处，详见另存的文件";
constexpr std::string_view KEPT_LINE = " 没敢动：";
constexpr std::string_view RECHECK = "     修复后复检：词条 ";
constexpr std::string_view RECHECK_NOT_IMPORTABLE = "仍然导不进";
constexpr std::string_view NOTHING_TO_EXPORT = "     !! 没有可导出的内容：这份文件连解析都没通过";
constexpr std::string_view EXPORT_FAILED = "     !! 导出失败：";
constexpr std::string_view READBACK_FAILED = "回读没通过，不要发出去：";
constexpr std::string_view EXPORTED = "     导出 ";
constexpr std::string_view EXPORTED_ARROW = " 条 → ";
constexpr std::string_view TALLY = "共 ";
constexpr std::string_view TALLY_PROBLEMS = " 份，";
constexpr std::string_view TALLY_TAIL = " 份有问题";
// An output that would land on the source itself is refused: sources are never written.
constexpr std::string_view OUTPUT_IS_SOURCE = "输出文件就是源文件本身，原文件不能被覆盖：";

constexpr std::size_t NAME_WIDTH = 44;
constexpr std::size_t FORMAT_WIDTH = 20;
constexpr std::size_t ENTRIES_WIDTH = 7;
constexpr std::size_t FATAL_LINES_SHOWN = 3;
constexpr std::size_t CHANGES_SHOWN = 8;
constexpr std::size_t KEPT_SHOWN = 5;

std::string pad_right(std::string_view text, std::size_t width) {
  std::string out(text);
  const std::size_t length = count_chars(text);
  if (length < width) {
    out.append(width - length, ' ');
  }
  return out;
}

std::string pad_left(std::string_view text, std::size_t width) {
  std::string out;
  const std::size_t length = count_chars(text);
  if (length < width) {
    out.append(width - length, ' ');
  }
  out.append(text);
  return out;
}

ByteView view_of(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// Writes `bytes` to `target` unless that is the source file itself.
std::expected<void, std::string> write_output(const std::filesystem::path& source,
                                              const std::string& target, ByteView bytes) {
  const std::filesystem::path target_path = path_from_utf8(target);
  if (same_file(source, target_path)) {
    return std::unexpected(std::string(OUTPUT_IS_SOURCE) + target);
  }
  return write_file_atomically(target_path, bytes);
}

class BatchRun {
 public:
  BatchRun(BatchMode mode, const std::optional<std::string>& out_dir, std::ostream& out)
      : mode_(mode), out_dir_(out_dir), out_(out) {}

  // Returns true when the file counts as a problem.
  bool run_file(const std::string& path) {
    const std::filesystem::path source = path_from_utf8(path);
    auto bytes = read_file(source);
    if (!bytes) {
      out_ << UNREADABLE_PREFIX << path << '\n' << UNREADABLE_DETAIL << bytes.error() << '\n';
      return true;
    }
    Diagnosis diagnosis = diagnose(*bytes);
    bool problem = !diagnosis.importable;
    if (mode_ == BatchMode::Report) {
      out_ << render_report(path, diagnosis) << '\n';
      return problem;
    }
    write_check_line(path, diagnosis);

    std::optional<CodeTable> repaired_table;
    if (mode_ == BatchMode::Fix || mode_ == BatchMode::Rescue) {
      // Two tables of millions of entries need not be held at once: the first one is needed again
      // only when the repaired text yields none, and diagnosing the source again gives it back.
      const bool had_table = diagnosis.table.has_value();
      diagnosis.table.reset();
      repaired_table = repair(path, source, *bytes, diagnosis.format);
      if (!repaired_table && had_table && mode_ == BatchMode::Rescue) {
        diagnosis.table = diagnose(*bytes).table;
      }
    }
    if (mode_ >= BatchMode::ExportMb) {
      std::optional<CodeTable>& table = repaired_table ? repaired_table : diagnosis.table;
      if (!export_table(path, source, table)) {
        problem = true;
      }
    }
    return problem;
  }

 private:
  void write_check_line(const std::string& path, const Diagnosis& diagnosis) {
    const IssueCounts counts = count_issues(diagnosis.issues);
    out_ << pad_right(file_name_of(path), NAME_WIDTH) << ' '
         << pad_right(format_display_name(diagnosis.format), FORMAT_WIDTH) << ENTRIES_LABEL
         << pad_left(std::to_string(diagnosis.imported_entries), ENTRIES_WIDTH) << FATAL_LABEL
         << counts.fatal << WARNING_LABEL << counts.warnings << INFO_LABEL << counts.infos << "  "
         << (diagnosis.importable ? VERDICT_IMPORTABLE : VERDICT_NOT_IMPORTABLE) << '\n';
    std::size_t shown = 0;
    for (const Issue& issue : diagnosis.issues) {
      if (shown == FATAL_LINES_SHOWN) {
        break;
      }
      if (issue.severity == Severity::Fatal) {
        out_ << FATAL_LINE << issue.message << '\n';
        ++shown;
      }
    }
  }

  // The repair step; returns the table of the re-diagnosed repaired text, if it has one.
  std::optional<CodeTable> repair(const std::string& path, const std::filesystem::path& source,
                                  const Bytes& bytes, TableFormat format) {
    if (format == TableFormat::Mb) {
      out_ << MB_REPAIR_SKIPPED << '\n';
      return std::nullopt;
    }
    std::string converted;
    const auto text = decode_text_in_place(bytes, converted);
    if (!text) {
      out_ << REPAIR_FAILED << text.error().message() << '\n';
      return std::nullopt;
    }
    const RepairResult result = repair_text(*text, format, output_stem(path));
    converted = std::string();  // a UTF-16 source's text is not needed past the repair
    const std::string target = output_path(path, out_dir_, repaired_file_name(path));
    if (auto written = write_output(source, target, view_of(result.text)); !written) {
      out_ << REPAIR_FAILED << written.error() << '\n';
      return std::nullopt;
    }
    Diagnosis recheck = diagnose(view_of(result.text));

    out_ << REPAIR_SUMMARY << result.changes.size() << REPAIR_SUMMARY_KEPT << result.kept.size()
         << REPAIR_SUMMARY_ARROW << target << '\n';
    const std::size_t changes_shown = std::min(result.changes.size(), CHANGES_SHOWN);
    for (std::size_t i = 0; i < changes_shown; ++i) {
      const RepairItem& change = result.changes[i];
      out_ << CHANGE_INDENT;
      if (change.line != 0) {
        out_ << "第" << change.line << "行 ";
      }
      out_ << change.summary << '\n' << BASIS_LINE << change.basis << '\n';
    }
    if (result.changes.size() > CHANGES_SHOWN) {
      out_ << MORE_CHANGES << result.changes.size() - CHANGES_SHOWN << MORE_CHANGES_TAIL << '\n';
    }
    const std::size_t kept_shown = std::min(result.kept.size(), KEPT_SHOWN);
    for (std::size_t i = 0; i < kept_shown; ++i) {
      const RepairItem& kept = result.kept[i];
      out_ << CHANGE_INDENT << "第" << kept.line << "行" << KEPT_LINE << kept.summary << '\n';
    }
    out_ << RECHECK << recheck.imported_entries << "，"
         << (recheck.importable ? VERDICT_IMPORTABLE : RECHECK_NOT_IMPORTABLE) << '\n';
    return std::move(recheck.table);
  }

  // The export step; returns false when the file counts as a problem.
  bool export_table(const std::string& path, const std::filesystem::path& source,
                    const std::optional<CodeTable>& table) {
    if (!table) {
      out_ << NOTHING_TO_EXPORT << '\n';
      return false;
    }
    auto exported = export_mb(*table);
    if (!exported) {
      out_ << EXPORT_FAILED << exported.error() << '\n';
      return false;
    }
    if (!exported->verified) {
      out_ << EXPORT_FAILED << READBACK_FAILED << exported->verdict << '\n';
      return false;
    }
    const std::string target = output_path(path, out_dir_, mb_file_name(path));
    if (auto written = write_output(source, target, exported->bytes); !written) {
      out_ << EXPORT_FAILED << written.error() << '\n';
      return false;
    }
    out_ << EXPORTED << exported->entries << EXPORTED_ARROW << target << "（" << exported->verdict
         << "）" << '\n';
    return true;
  }

  BatchMode mode_;
  const std::optional<std::string>& out_dir_;
  std::ostream& out_;
};

}  // namespace

int run_batch(BatchMode mode, std::span<const std::string> files,
              const std::optional<std::string>& out_dir, std::ostream& out) {
  BatchRun run(mode, out_dir, out);
  std::uint64_t problems = 0;
  for (const std::string& path : files) {
    if (run.run_file(path)) {
      ++problems;
    }
    out.flush();
  }
  out << '\n' << TALLY << files.size() << TALLY_PROBLEMS << problems << TALLY_TAIL << '\n';
  out.flush();
  return problems == 0 ? 0 : 1;
}

}  // namespace qovira
