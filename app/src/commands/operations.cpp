#include "qovira/app/commands/operations.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "qovira/app/commands/cli.h"
#include "qovira/app/commands/files.h"
#include "qovira/app/repair/text_mends.h"
#include "qovira/table/encoding.h"
#include "qovira/table/safe_text.h"

namespace qovira {
namespace {

ByteView bytes_of(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::unexpected<StepFailure> failure(StepFailureKind kind, std::string detail = {}) {
  return std::unexpected(StepFailure{kind, std::move(detail)});
}

// Asks `place` for the output path and writes what `pieces` makes there, with the source's
// permissions.
std::expected<std::string, StepFailure> place_and_write(OutputPlace& place, OutputKind kind,
                                                        std::string_view suggested_name,
                                                        std::string_view source_path,
                                                        const BytePieces& pieces) {
  const std::optional<std::string> chosen = place.choose(kind, suggested_name);
  if (!chosen) {
    return failure(StepFailureKind::Cancelled);
  }
  if (std::optional<std::string> refusal = place.refusal(*chosen)) {
    return failure(StepFailureKind::Refused, std::move(*refusal));
  }
  if (auto written = place.write(*chosen, pieces, std::string(source_path)); !written) {
    return failure(StepFailureKind::WriteFailed, std::move(written.error()));
  }
  place.written(*chosen);
  return *chosen;
}

BytePieces pieces_of(ByteView bytes) {
  return [bytes](const BytePieceWriter& write) { write(bytes); };
}

// Of the progress, the repair takes the first half, the re-check of its text the second.
constexpr std::uint64_t REPAIRED = ProgressPart::PROGRESS_SCALE / 2;

// Decodes and repairs the source and writes the repaired text where `place` says; no re-check yet.
std::expected<SavedRepair, StepFailure> repair_and_write(const SourceTable& source,
                                                         OutputPlace& place, Progress* progress) {
  if (source.diagnosis.format == TableFormat::Mb) {
    return failure(StepFailureKind::MbHasNoSourceText);
  }
  SavedRepair saved;
  {
    // A UTF-16 source's text is not needed past the repair.
    const std::string stem = output_stem(source.path);
    auto mended = source.diagnosis.encoding
                      ? mend_source(source.bytes, *source.diagnosis.encoding, stem)
                      : mend_source(source.bytes, stem);
    if (!mended) {
      return failure(StepFailureKind::Undecodable, mended.error().message());
    }
    ProgressPart repairing(progress, 0, REPAIRED);
    saved.result = repair_mended_text(*mended, &repairing);
  }
  if (cancelled(progress)) {
    return failure(StepFailureKind::Cancelled);
  }
  auto path = place_and_write(place, OutputKind::RepairedText, repaired_file_name(source.path),
                              source.path, pieces_of(bytes_of(saved.result.text)));
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
  auto path = place_and_write(place, OutputKind::Mb, mb_file_name(source_path), source_path,
                              pieces_of(mb.bytes));
  if (!path) {
    return std::unexpected(std::move(path.error()));
  }
  return SavedExport{(*std::forward<DiagnosisRef>(diagnosis).mb).value(), std::move(*path)};
}

}  // namespace

std::expected<void, std::string> OutputPlace::write(const std::string& path,
                                                    const BytePieces& pieces,
                                                    const std::string& permissions_like) {
  return write_file_atomically(path_from_utf8(path), pieces, path_from_utf8(permissions_like));
}

std::expected<SavedRepair, StepFailure> repair_and_save(const SourceTable& source,
                                                        OutputPlace& place, Progress* progress) {
  auto saved = repair_and_write(source, place, progress);
  if (saved) {
    ProgressPart checking(progress, REPAIRED, ProgressPart::PROGRESS_SCALE);
    saved->recheck = diagnose(bytes_of(saved->result.text), &checking);
    if (cancelled(progress)) {
      return failure(StepFailureKind::Cancelled);
    }
  }
  return saved;
}

std::expected<std::string, StepFailure> save_repair_report(const SourceTable& source,
                                                           const SavedRepair& saved,
                                                           OutputPlace& place) {
  // Made as it is written: a report listing millions of removed lines runs to gigabytes.
  const auto report = [&source, &saved](const BytePieceWriter& write) {
    if (write(bytes_of(UTF8_BYTE_ORDER_MARK))) {
      write_repair_report(displayable(source.path), displayable(saved.path), saved.result,
                          saved.recheck, "\r\n",
                          [&write](std::string_view piece) { return write(bytes_of(piece)); });
    }
  };
  return place_and_write(place, OutputKind::RepairReport, repair_report_file_name(source.path),
                         source.path, report);
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
                              source_path, pieces_of(bytes_of(converted->text)));
  if (!path) {
    return std::unexpected(std::move(path.error()));
  }
  return SavedConversion{std::move(*converted), std::move(*path)};
}

RescueOutcome rescue(SourceTable& source, OutputPlace& place, const RescuePolicy& policy,
                     Progress* progress) {
  RescueOutcome outcome;
  outcome.repair = repair_and_write(source, place, progress);
  SavedRepair* saved = *outcome.repair ? &**outcome.repair : nullptr;
  if (saved != nullptr) {
    const ByteView repaired = bytes_of(saved->result.text);
    // Bytes the repair left as they were would be diagnosed as the source was.
    if (std::ranges::equal(repaired, source.bytes)) {
      saved->recheck = std::exchange(source.diagnosis, {});
    } else {
      ProgressPart checking(progress, REPAIRED, ProgressPart::PROGRESS_SCALE);
      saved->recheck = diagnose(repaired, &checking);
      if (cancelled(progress)) {
        outcome.repair = failure(StepFailureKind::Cancelled);
        return outcome;
      }
    }
  } else if (!policy.export_source_when_unrepaired ||
             outcome.repair->error().kind == StepFailureKind::Cancelled) {
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
