#include "qovira/app/operations.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "qovira/app/cli.h"
#include "qovira/app/files.h"
#include "qovira/app/text_mends.h"
#include "qovira/table/text.h"

namespace qovira {
namespace {

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

// Decodes and repairs the source and writes the repaired text where `place` says; no re-check yet.
std::expected<SavedRepair, StepFailure> repair_and_write(const SourceTable& source,
                                                         OutputPlace& place) {
  if (source.diagnosis.format == TableFormat::Mb) {
    return failure(StepFailureKind::MbHasNoSourceText);
  }
  SavedRepair saved;
  {
    // A UTF-16 source's text is not needed past the repair.
    auto mended = mend_source(source.bytes, output_stem(source.path));
    if (!mended) {
      return failure(StepFailureKind::Undecodable, mended.error().message());
    }
    saved.result = repair_mended_text(*mended);
  }
  auto path = place_and_write(place, OutputKind::RepairedText, repaired_file_name(source.path),
                              source.path, bytes_of(saved.result.text));
  if (!path) {
    return std::unexpected(std::move(path.error()));
  }
  saved.path = std::move(*path);
  return saved;
}

// Writes an export, or says why it was not written.
std::expected<SavedExport, StepFailure> save_export(
    std::expected<ExportResult, std::string> exported, std::string_view source_path,
    bool write_unverified, OutputPlace& place) {
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

}  // namespace

std::expected<SavedRepair, StepFailure> repair_and_save(const SourceTable& source,
                                                        OutputPlace& place) {
  auto saved = repair_and_write(source, place);
  if (saved) {
    saved->recheck = diagnose(bytes_of(saved->result.text));
  }
  return saved;
}

std::expected<SavedExport, StepFailure> export_and_save(const CodeTable& table,
                                                        std::string_view source_path,
                                                        bool write_unverified, OutputPlace& place) {
  return save_export(export_mb(table), source_path, write_unverified, place);
}

RescueOutcome rescue(SourceTable& source, OutputPlace& place, const RescuePolicy& policy) {
  RescueOutcome outcome;
  const bool had_table = source.diagnosis.table.has_value();
  // The repair of a table without issues usually changes no byte, and then the source's diagnosis
  // is the re-check's and the source's .mb the export: built here, once, while the table is at
  // hand, it stands in for the table (a fraction of its size) through the repair.
  std::optional<Bytes> source_mb;
  if (had_table && !policy.recheck_keeps_table && source.diagnosis.issues.empty()) {
    if (auto built = build_mb(*source.diagnosis.table, DEFAULT_MB_CONTAINER)) {
      source_mb = std::move(*built);
    }
  }
  source.diagnosis.table.reset();
  auto saved = repair_and_write(source, place);
  const bool repaired = saved.has_value();
  const bool unchanged =
      repaired && source_mb && std::ranges::equal(bytes_of(saved->result.text), source.bytes);
  if (unchanged) {
    saved->recheck = source.diagnosis;
  } else {
    source_mb.reset();
    if (repaired) {
      saved->recheck = diagnose(bytes_of(saved->result.text));
    }
  }
  outcome.repair = std::move(saved);
  const std::string_view named_after =
      repaired && policy.name_after_repaired_file ? (*outcome.repair)->path : source.path;
  if (unchanged) {
    outcome.exported =
        save_export(verify_built_mb(std::move(*source_mb), source.diagnosis.imported_entries,
                                    source.diagnosis.alphabet),
                    named_after, policy.write_unverified, place);
    return outcome;
  }
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
  outcome.exported = export_and_save(*table, named_after, policy.write_unverified, place);
  return outcome;
}

}  // namespace qovira
