#include "qovira/app/commands/batch.h"

#include <algorithm>
#include <filesystem>
#include <utility>
#include <vector>

#include "qovira/app/commands/files.h"
#include "qovira/app/commands/operations.h"
#include "qovira/app/diagnosis/diagnosis.h"
#include "qovira/app/export/conversion.h"
#include "qovira/app/export/export.h"
#include "qovira/app/repair/repair.h"
#include "qovira/table/encoding.h"
#include "qovira/table/message_text.h"
#include "qovira/table/safe_text.h"
#include "qovira/table/side_by_side.h"
#include "qovira/table/utf8.h"

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
constexpr std::string_view MORE_CHANGES_TAIL = " 处，详见 ";
constexpr std::string_view MORE_CHANGES_UNSAVED_TAIL = " 处";
constexpr std::string_view MORE_KEPT_TAIL = " 处待人工，详见 ";
constexpr std::string_view MORE_KEPT_UNSAVED_TAIL = " 处待人工";
constexpr std::string_view KEPT_LINE = " 没敢动：";
constexpr std::string_view REMOVED_LINE = " 已移出：";
constexpr std::string_view REASON_LINE = "             原因：";
constexpr std::string_view REPAIR_SUMMARY_REMOVED = " 处，移出 ";
constexpr std::string_view MORE_REMOVED_TAIL = " 处已移出，详见 ";
constexpr std::string_view MORE_REMOVED_UNSAVED_TAIL = " 处已移出";
constexpr std::string_view RECHECK = "     修复后复检：词条 ";
constexpr std::string_view RECHECK_NOT_IMPORTABLE = "仍然导不进";
constexpr std::string_view NOTHING_TO_EXPORT = "     !! 没有可导出的内容：这份文件连解析都没通过";
constexpr std::string_view EXPORT_FAILED = "     !! 导出失败：";
constexpr std::string_view READBACK_FAILED = "回读没通过，不要发出去：";
constexpr std::string_view EXPORTED = "     导出 ";
constexpr std::string_view EXPORTED_ARROW = " 条 → ";
constexpr std::string_view NOTHING_TO_CONVERT = "     !! 没有可转换的内容：这份文件连解析都没通过";
constexpr std::string_view CONVERSION_FAILED = "     !! 转换失败：";
constexpr std::string_view CONVERTED = "     转换 ";
constexpr std::string_view NOTE_LINE = "     注意：";
constexpr std::string_view TALLY = "共 ";
constexpr std::string_view TALLY_PROBLEMS = " 份，";
constexpr std::string_view TALLY_TAIL = " 份有问题";
// An output that would land on a source of the run, or on an output the run already wrote, is
// refused: sources are never written and no result silently replaces another.
constexpr std::string_view OUTPUT_IS_SOURCE = "输出文件就是源文件本身，原文件不能被覆盖：";
constexpr std::string_view OUTPUT_IS_ANOTHER_SOURCE =
    "输出文件是这次要处理的另一份源文件，源文件不能被覆盖：";
constexpr std::string_view OUTPUT_WRITTEN_BEFORE =
    "这次运行里已经由 {} 写出过这个文件，不能再覆盖：{}";
// A --out folder that is missing or cannot be written: said for each file, which then writes
// nothing, and counted as a problem.
constexpr std::string_view OUT_DIR_MISSING = "     !! 输出目录不存在：{}（{}）";
constexpr std::string_view OUT_DIR_NOT_WRITABLE = "     !! 输出目录写不进去：{}（{}）";

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

// The absolute, normalised form of a path, for telling whether two outputs are one file before
// either exists.
std::filesystem::path normalised(const std::string& path) {
  std::error_code ignored;
  const std::filesystem::path absolute = std::filesystem::absolute(path_from_utf8(path), ignored);
  const std::filesystem::path canonical = std::filesystem::weakly_canonical(absolute, ignored);
  return (canonical.empty() ? absolute : canonical).lexically_normal();
}

// Outputs of a batch run go where the command line's naming rules put them, never onto a source
// of the run or onto an output the run already wrote.
class BatchOutputs : public OutputPlace {
 public:
  BatchOutputs(std::span<const std::string> sources, const std::optional<std::string>& out_dir)
      : sources_(sources), out_dir_(out_dir) {}

  void start_file(const std::string& source) { source_ = &source; }

  std::optional<std::string> choose(OutputKind, std::string_view suggested_name) override {
    return output_path(*source_, out_dir_, suggested_name);
  }

  std::optional<std::string> refusal(const std::string& path) override {
    const std::filesystem::path target = path_from_utf8(path);
    if (same_file(path_from_utf8(*source_), target)) {
      return std::string(OUTPUT_IS_SOURCE) + displayable(path);
    }
    for (const std::string& other : sources_) {
      if (same_file(path_from_utf8(other), target)) {
        return std::string(OUTPUT_IS_ANOTHER_SOURCE) + displayable(path);
      }
    }
    const std::filesystem::path place = normalised(path);
    for (const auto& [written, by] : written_) {
      if (written == place || same_file(written, target)) {
        return fill_placeholders(OUTPUT_WRITTEN_BEFORE, {displayable(by), displayable(path)});
      }
    }
    return std::nullopt;
  }

  void written(const std::string& path) override {
    written_.emplace_back(normalised(path), *source_);
  }

  // Why no output can be made in the --out folder, or nothing.
  std::optional<std::string> out_dir_problem() const {
    if (!out_dir_) {
      return std::nullopt;
    }
    const auto checked = check_writable_directory(path_from_utf8(*out_dir_));
    if (checked) {
      return std::nullopt;
    }
    return fill_placeholders(
        checked.error().fault == DirectoryFault::Missing ? OUT_DIR_MISSING : OUT_DIR_NOT_WRITABLE,
        {out_dir_->empty() ? std::string(".") : displayable(*out_dir_),
         displayable(checked.error().error)});
  }

 private:
  std::span<const std::string> sources_;
  const std::optional<std::string>& out_dir_;
  const std::string* source_ = nullptr;
  std::vector<std::pair<std::filesystem::path, std::string>> written_;
};

class BatchRun {
 public:
  BatchRun(BatchMode mode, std::span<const std::string> files,
           const std::optional<std::string>& out_dir, std::ostream& out)
      : mode_(mode), outputs_(files, out_dir), out_(out) {}

  // Returns true when the file counts as a problem.
  bool run_file(const std::string& path) {
    outputs_.start_file(path);
    auto bytes = read_file(path_from_utf8(path));
    if (!bytes) {
      out_ << UNREADABLE_PREFIX << displayable(path) << '\n'
           << UNREADABLE_DETAIL << displayable(bytes.error()) << '\n';
      return true;
    }
    SourceTable source{path, std::move(*bytes), {}};
    std::optional<std::expected<SavedConversion, StepFailure>> converted;
    if (converts()) {
      // The conversion imports the bytes on its own, beside their diagnosis.
      SideTask diagnosing(true, [&source] { source.diagnosis = diagnose(source.bytes); });
      converted = convert_and_save(path, source.bytes, conversion_format(), outputs_);
    } else if (mode_ == BatchMode::Fix || mode_ == BatchMode::Rescue) {
      // Only a repair reads the source again.
      source.diagnosis = diagnose(source.bytes);
    } else {
      source.diagnosis = diagnose_and_free(std::move(source.bytes));
    }
    bool problem = !source.diagnosis.importable;
    if (mode_ == BatchMode::Report) {
      out_ << render_report(displayable(path), source.diagnosis) << '\n';
      return problem;
    }
    write_check_line(path, source.diagnosis);
    if (mode_ != BatchMode::Check) {
      if (const std::optional<std::string> unusable = outputs_.out_dir_problem()) {
        out_ << *unusable << '\n';
        return true;
      }
    }

    switch (mode_) {
      case BatchMode::Fix: {
        source.diagnosis.mb.reset();  // not written: the repaired text is diagnosed again
        problem = !write_repair(source, repair_and_save(source, outputs_)) || problem;
        break;
      }
      case BatchMode::ExportMb:
        problem =
            !write_export(export_and_save(source.diagnosis, path, false, outputs_)) || problem;
        break;
      case BatchMode::Rescue: {
        const RescueOutcome outcome = rescue(source, outputs_,
                                             {.export_source_when_unrepaired = true,
                                              .write_unverified = false,
                                              .diagnoses_keep_mb = false});
        problem = !write_repair(source, *outcome.repair) || problem;
        problem = !write_export(*outcome.exported) || problem;
        break;
      }
      case BatchMode::ToRime:
      case BatchMode::ToBingling:
        problem = !write_conversion(*converted) || problem;
        break;
      case BatchMode::Check:
      case BatchMode::Report:
        break;
    }
    return problem;
  }

 private:
  bool converts() const { return mode_ == BatchMode::ToRime || mode_ == BatchMode::ToBingling; }
  TableFormat conversion_format() const {
    return mode_ == BatchMode::ToRime ? TableFormat::Rime : TableFormat::Bingling;
  }

  // The conversion step's lines; false when the file counts as a problem.
  bool write_conversion(const std::expected<SavedConversion, StepFailure>& saved) {
    if (!saved) {
      const StepFailure& failure = saved.error();
      switch (failure.kind) {
        case StepFailureKind::NothingToExport:
          out_ << NOTHING_TO_CONVERT << '\n';
          break;
        case StepFailureKind::NotVerified:
          out_ << CONVERSION_FAILED << READBACK_FAILED << displayable(failure.detail) << '\n';
          break;
        default:
          out_ << CONVERSION_FAILED << displayable(failure.detail) << '\n';
          break;
      }
      return false;
    }
    out_ << CONVERTED << saved->converted.entries << EXPORTED_ARROW << displayable(saved->path)
         << "（" << saved->converted.verdict << "）" << '\n';
    for (const std::string& note : conversion_notes(saved->converted, conversion_format())) {
      out_ << NOTE_LINE << displayable(note) << '\n';
    }
    return true;
  }

  void write_check_line(const std::string& path, const Diagnosis& diagnosis) {
    const IssueCounts counts = diagnosis.issues.counts();
    out_ << pad_right(displayable(file_name_of(path)), NAME_WIDTH) << ' '
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

  // The whole repair report beside the repaired text; the path, or nothing when it could not be
  // written (said on its own line).
  std::optional<std::string> save_report(const SourceTable& source, const SavedRepair& saved) {
    auto report = save_repair_report(source, saved, outputs_);
    if (!report) {
      const StepFailure& failure = report.error();
      out_ << REPAIR_FAILED
           << (failure.kind == StepFailureKind::Refused ? failure.detail
                                                        : displayable(failure.detail))
           << '\n';
      return std::nullopt;
    }
    return std::move(*report);
  }

  // The repair step's lines; false when the file counts as a problem.
  bool write_repair(const SourceTable& source,
                    const std::expected<SavedRepair, StepFailure>& repaired) {
    if (!repaired) {
      switch (repaired.error().kind) {
        case StepFailureKind::MbHasNoSourceText:
          out_ << MB_REPAIR_SKIPPED << '\n';
          return true;
        case StepFailureKind::Undecodable:
          // The diagnosis already counted the file.
          out_ << REPAIR_FAILED << repaired.error().detail << '\n';
          return true;
        default:
          out_ << REPAIR_FAILED << displayable(repaired.error().detail) << '\n';
          return false;
      }
    }
    const RepairResult& result = repaired->result;
    const std::optional<std::string> report = save_report(source, *repaired);
    out_ << REPAIR_SUMMARY << result.changes.size();
    if (!result.removed.empty()) {
      out_ << REPAIR_SUMMARY_REMOVED << result.removed.size();
    }
    out_ << REPAIR_SUMMARY_KEPT << result.kept.size() << REPAIR_SUMMARY_ARROW
         << displayable(repaired->path) << '\n';
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
      out_ << MORE_CHANGES << result.changes.size() - CHANGES_SHOWN;
      if (report) {
        out_ << MORE_CHANGES_TAIL << displayable(*report) << '\n';
      } else {
        out_ << MORE_CHANGES_UNSAVED_TAIL << '\n';
      }
    }
    const std::size_t removed_shown = std::min(result.removed.size(), KEPT_SHOWN);
    for (std::size_t i = 0; i < removed_shown; ++i) {
      const RepairItem& removed = result.removed[i];
      out_ << CHANGE_INDENT << "第" << removed.line << "行" << REMOVED_LINE << removed.summary
           << '\n'
           << REASON_LINE << removed.basis << '\n';
    }
    if (result.removed.size() > KEPT_SHOWN) {
      out_ << MORE_CHANGES << result.removed.size() - KEPT_SHOWN;
      if (report) {
        out_ << MORE_REMOVED_TAIL << displayable(*report) << '\n';
      } else {
        out_ << MORE_REMOVED_UNSAVED_TAIL << '\n';
      }
    }
    const std::size_t kept_shown = std::min(result.kept.size(), KEPT_SHOWN);
    for (std::size_t i = 0; i < kept_shown; ++i) {
      const RepairItem& kept = result.kept[i];
      out_ << CHANGE_INDENT;
      if (kept.line != 0) {
        out_ << "第" << kept.line << "行";
      }
      out_ << KEPT_LINE << kept.summary << '\n';
    }
    if (result.kept.size() > KEPT_SHOWN) {
      out_ << MORE_CHANGES << result.kept.size() - KEPT_SHOWN;
      if (report) {
        out_ << MORE_KEPT_TAIL << displayable(*report) << '\n';
      } else {
        out_ << MORE_KEPT_UNSAVED_TAIL << '\n';
      }
    }
    const Diagnosis& recheck = repaired->recheck;
    out_ << RECHECK << recheck.imported_entries << "，"
         << (recheck.importable ? VERDICT_IMPORTABLE : RECHECK_NOT_IMPORTABLE) << '\n';
    return report.has_value();
  }

  // The export step's line; false when the file counts as a problem.
  bool write_export(const std::expected<SavedExport, StepFailure>& exported) {
    if (exported) {
      out_ << EXPORTED << exported->exported.entries << EXPORTED_ARROW
           << displayable(exported->path) << "（" << displayable(exported->exported.verdict) << "）"
           << '\n';
      return true;
    }
    const StepFailure& failure = exported.error();
    switch (failure.kind) {
      case StepFailureKind::NothingToExport:
        out_ << NOTHING_TO_EXPORT << '\n';
        break;
      case StepFailureKind::NotVerified:
        out_ << EXPORT_FAILED << READBACK_FAILED << displayable(failure.detail) << '\n';
        break;
      default:
        out_ << EXPORT_FAILED << displayable(failure.detail) << '\n';
        break;
    }
    return false;
  }

  BatchMode mode_;
  BatchOutputs outputs_;
  std::ostream& out_;
};

}  // namespace

int run_batch(BatchMode mode, std::span<const std::string> files,
              const std::optional<std::string>& out_dir, std::ostream& out) {
  BatchRun run(mode, files, out_dir, out);
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
