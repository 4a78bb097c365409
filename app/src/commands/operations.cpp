#include "qovira/app/commands/operations.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "qovira/app/commands/cli.h"
#include "qovira/app/commands/files.h"
#include "qovira/app/repair/text_mends.h"

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

// Writes a diagnosis's .mb, taken out of it or copied, or says why it was not written.
template <typename DiagnosisRef>
std::expected<SavedExport, StepFailure> save_export(DiagnosisRef&& diagnosis,
                                                    std::string_view source_path,
                                                    bool write_unverified, OutputPlace& place) {
  if (!diagnosis.mb) {
    return failure(StepFailureKind::NothingToExport);
  }
  if (!*diagnosis.mb) {
    return failure(StepFailureKind::BuildFailed, diagnosis.mb->error());
  }
  const ExportResult& mb = **diagnosis.mb;
  if (!mb.verified && !write_unverified) {
    return failure(StepFailureKind::NotVerified, mb.verdict);
  }
  auto path =
      place_and_write(place, OutputKind::Mb, mb_file_name(source_path), source_path, mb.bytes);
  if (!path) {
    return std::unexpected(std::move(path.error()));
  }
  return SavedExport{(*std::forward<DiagnosisRef>(diagnosis).mb).value(), std::move(*path)};
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

std::expected<SavedExport, StepFailure> export_and_save(const Diagnosis& diagnosis,
                                                        std::string_view source_path,
                                                        bool write_unverified, OutputPlace& place) {
  return save_export(diagnosis, source_path, write_unverified, place);
}

std::expected<SavedConversion, StepFailure> convert_and_save(std::string_view source_path,
                                                             ByteView source_bytes,
                                                             TableFormat format,
                                                             OutputPlace& place) {
  auto imported = import_table(source_bytes);
  if (!imported) {
    return failure(StepFailureKind::NothingToExport, std::move(imported.error()));
  }
  auto converted = convert_table(std::move(imported->table), format);
  if (!converted) {
    return failure(StepFailureKind::BuildFailed, std::move(converted.error()));
  }
  if (!converted->verified) {
    return failure(StepFailureKind::NotVerified, std::move(converted->verdict));
  }
  const bool rime = format == TableFormat::Rime;
  auto path = place_and_write(place, rime ? OutputKind::RimeText : OutputKind::BinglingText,
                              rime ? rime_file_name(source_path) : bingling_file_name(source_path),
                              source_path, bytes_of(converted->text));
  if (!path) {
    return std::unexpected(std::move(path.error()));
  }
  return SavedConversion{std::move(*converted), std::move(*path)};
}

RescueOutcome rescue(SourceTable& source, OutputPlace& place, const RescuePolicy& policy) {
  RescueOutcome outcome;
  outcome.repair = repair_and_write(source, place);
  SavedRepair* saved = *outcome.repair ? &**outcome.repair : nullptr;
  if (saved != nullptr) {
    const ByteView repaired = bytes_of(saved->result.text);
    // Bytes the repair left as they were would be diagnosed as the source was.
    saved->recheck = std::ranges::equal(repaired, source.bytes)
                         ? std::exchange(source.diagnosis, {})
                         : diagnose(repaired);
  } else if (!policy.export_source_when_unrepaired) {
    return outcome;  // nothing was repaired, so there is nothing new to export
  }
  Diagnosis* exported = saved != nullptr ? &saved->recheck : nullptr;
  if ((exported == nullptr || !exported->mb) && policy.export_source_when_unrepaired) {
    exported = &source.diagnosis;
  }
  const std::string_view named_after =
      saved != nullptr && policy.name_after_repaired_file ? saved->path : source.path;
  outcome.exported =
      policy.diagnoses_keep_mb
          ? save_export(std::as_const(*exported), named_after, policy.write_unverified, place)
          : save_export(std::move(*exported), named_after, policy.write_unverified, place);
  return outcome;
}

}  // namespace qovira
