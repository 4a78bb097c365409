#include "qovira/app/operations.h"

#include <utility>

#include "qovira/app/cli.h"
#include "qovira/app/files.h"
#include "qovira/table/text.h"

namespace qovira {
namespace {

constexpr std::string_view LEGACY_TEXT_CONVERTED = "把 GBK/GB18030 编码转成 UTF-8";
constexpr std::string_view LEGACY_TEXT_CONVERTED_BASIS =
    "输入法只认 UTF-8 或带 BOM 的 UTF-16；原文件按 GB18030 能完整解码";

ByteView bytes_of(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::unexpected<StepFailure> failure(StepFailureKind kind, std::string detail = {}) {
  return std::unexpected(StepFailure{kind, std::move(detail)});
}

// Asks `place` for the output path and writes `bytes` there, with the source's permissions.
std::expected<std::string, StepFailure> place_and_write(OutputPlace& place, OutputKind kind,
                                                        std::string_view suggested_name,
                                                        std::string_view source_path,
                                                        ByteView bytes) {
  const std::optional<std::string> chosen = place.choose(kind, suggested_name);
  if (!chosen) {
    return failure(StepFailureKind::Cancelled);
  }
  if (std::optional<std::string> refusal = place.refusal(*chosen)) {
    return failure(StepFailureKind::Refused, std::move(*refusal));
  }
  if (auto written =
          write_file_atomically(path_from_utf8(*chosen), bytes, path_from_utf8(source_path));
      !written) {
    return failure(StepFailureKind::WriteFailed, std::move(written.error()));
  }
  place.written(*chosen);
  return *chosen;
}

}  // namespace

std::expected<SavedRepair, StepFailure> repair_and_save(const SourceTable& source,
                                                        OutputPlace& place) {
  if (source.diagnosis.format == TableFormat::Mb) {
    return failure(StepFailureKind::MbHasNoSourceText);
  }
  std::string converted;
  SavedRepair saved;
  if (const auto text = decode_text_in_place(source.bytes, converted)) {
    saved.result = repair_text(*text, source.diagnosis.format, output_stem(source.path));
  } else if (std::optional<std::string> legacy = legacy_table_text(source.bytes)) {
    saved.result = repair_text(*legacy, detect_format({}, *legacy), output_stem(source.path));
    saved.result.changes.insert(saved.result.changes.begin(),
                                RepairItem{std::string(LEGACY_TEXT_CONVERTED),
                                           std::string(LEGACY_TEXT_CONVERTED_BASIS), 0});
  } else {
    return failure(StepFailureKind::Undecodable, text.error().message());
  }
  converted = std::string();  // a UTF-16 source's text is not needed past the repair
  auto path = place_and_write(place, OutputKind::RepairedText, repaired_file_name(source.path),
                              source.path, bytes_of(saved.result.text));
  if (!path) {
    return std::unexpected(std::move(path.error()));
  }
  saved.path = std::move(*path);
  saved.recheck = diagnose(bytes_of(saved.result.text));
  return saved;
}

std::expected<SavedExport, StepFailure> export_and_save(const CodeTable& table,
                                                        std::string_view source_path,
                                                        bool write_unverified, OutputPlace& place) {
  auto exported = export_mb(table);
  if (!exported) {
    return failure(StepFailureKind::BuildFailed, std::move(exported.error()));
  }
  if (!exported->verified && !write_unverified) {
    return failure(StepFailureKind::NotVerified, std::move(exported->verdict));
  }
  auto path = place_and_write(place, OutputKind::Mb, mb_file_name(source_path), source_path,
                              exported->bytes);
  if (!path) {
    return std::unexpected(std::move(path.error()));
  }
  return SavedExport{std::move(*exported), std::move(*path)};
}

RescueOutcome rescue(SourceTable& source, OutputPlace& place, const RescuePolicy& policy) {
  RescueOutcome outcome;
  const bool had_table = source.diagnosis.table.has_value();
  source.diagnosis.table.reset();
  outcome.repair = repair_and_save(source, place);
  const bool repaired = outcome.repair->has_value();
  const CodeTable* table = nullptr;
  if (repaired && (*outcome.repair)->recheck.table) {
    table = &*(*outcome.repair)->recheck.table;
  } else if (policy.export_source_when_unrepaired) {
    if (had_table) {
      source.diagnosis.table = diagnose(source.bytes).table;
    }
    if (source.diagnosis.table) {
      table = &*source.diagnosis.table;
    }
  } else if (!repaired) {
    return outcome;  // nothing was repaired, so there is nothing new to export
  }
  if (table == nullptr) {
    outcome.exported = failure(StepFailureKind::NothingToExport);
    return outcome;
  }
  const std::string_view named_after =
      repaired && policy.name_after_repaired_file ? (*outcome.repair)->path : source.path;
  outcome.exported = export_and_save(*table, named_after, policy.write_unverified, place);
  return outcome;
}

}  // namespace qovira
