// The steps every front end runs on a table file: repair and save, export and save, and the rescue
// that chains them. The batch mode and the windows differ only in how an output path is found
// (named by the rules of the command line, or asked for in a dialog) and in the policy arguments
// below; the sequence itself exists here once.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "qovira/app/diagnosis/diagnosis.h"
#include "qovira/app/export/conversion.h"
#include "qovira/app/export/export.h"
#include "qovira/app/repair/repair.h"
#include "qovira/platform/files.h"
#include "qovira/table/model.h"
#include "qovira/table/progress.h"

namespace qovira {

enum class OutputKind : std::uint8_t { RepairedText, RepairReport, Mb, RimeText, BinglingText };

// How a front end places the files a step writes.
class OutputPlace {
 public:
  virtual ~OutputPlace() = default;
  // Where to write an output whose usual name is `suggested_name`; nothing when the user cancels.
  virtual std::optional<std::string> choose(OutputKind kind, std::string_view suggested_name) = 0;
  // Why `path` must not be written (it is a source, or an earlier output), or nothing.
  virtual std::optional<std::string> refusal(const std::string& path) = 0;
  // Writes an output whose permissions follow `permissions_like` (write_file_atomically). A front
  // end may hold the writing back until its command can no longer be cancelled: then `pieces` must
  // stay valid until it writes them.
  virtual std::expected<void, std::string> write(const std::string& path, const BytePieces& pieces,
                                                 const std::string& permissions_like);
  // Told of every file written.
  virtual void written(const std::string& /*path*/) {}
};

enum class StepFailureKind : std::uint8_t {
  MbHasNoSourceText,  // a .mb is never repaired
  Undecodable,        // the bytes are no text
  Cancelled,          // the user chose no output or stopped the work
  Refused,            // the output would land on a file that must not be written
  WriteFailed,        // the system could not write it
  NothingToExport,    // the file did not even parse
  BuildFailed,        // the .mb, or a text the table was converted to, could not be made
  NotVerified,        // the built .mb, or a converted text, did not read back as the table
};

struct StepFailure {
  StepFailureKind kind = StepFailureKind::WriteFailed;
  std::string detail;  // the error text, where there is one
};

// A table file as the front ends hold it: its path as given, its bytes and their diagnosis.
struct SourceTable {
  std::string path;
  Bytes bytes;
  Diagnosis diagnosis;
};

struct SavedRepair {
  RepairResult result;
  std::string path;
  Diagnosis recheck;  // of the repaired text as written
};

// Decodes and repairs the source, writes the repaired text where `place` says and diagnoses it
// again. The source's base name names an added Rime header and the suggested output. Work
// cancelled through `progress` fails as Cancelled.
std::expected<SavedRepair, StepFailure> repair_and_save(const SourceTable& source,
                                                        OutputPlace& place,
                                                        Progress* progress = nullptr);

// Writes the repair's whole report (a byte-order mark, CR LF line ends), named after the source,
// where `place` puts an output of kind RepairReport; its path, or why it was not written.
std::expected<std::string, StepFailure> save_repair_report(const SourceTable& source,
                                                           const SavedRepair& saved,
                                                           OutputPlace& place);

struct SavedExport {
  ExportResult exported;
  std::string path;
};

// Writes the diagnosis's proven .mb where `place` says. With `write_unverified`, a .mb that failed
// its read-back is written all the same (its summary says not to ship it); without, it is refused.
// `source_path` names the suggested output.
std::expected<SavedExport, StepFailure> export_and_save(const Diagnosis& diagnosis,
                                                        std::string_view source_path,
                                                        bool write_unverified, OutputPlace& place);

struct SavedConversion {
  ConvertedText converted;
  std::string path;
};

// Converts the table the source's bytes import as to `format` (Rime or Bingling), proves the text
// by importing it again and writes it where `place` says; a text that does not prove is not
// written. It reads only the bytes, so a diagnosis of them may run beside it.
std::expected<SavedConversion, StepFailure> convert_and_save(std::string_view source_path,
                                                             ByteView source_bytes,
                                                             TableFormat format,
                                                             OutputPlace& place);

// What differs between the front ends' rescue.
struct RescuePolicy {
  // The source's own .mb is exported when the repair gave none (the batch mode does; the window
  // stops, as its source was not repaired).
  bool export_source_when_unrepaired = false;
  bool write_unverified = false;
  // The .mb is named after the repaired file (the window, whose current file it now is) rather
  // than after the source (the batch mode).
  bool name_after_repaired_file = false;
  // The diagnoses keep their .mb (the window, whose current table the re-check becomes). Without
  // it, the export takes the .mb it writes out of its diagnosis instead of copying it.
  bool diagnoses_keep_mb = true;
};

struct RescueOutcome {
  std::optional<std::expected<SavedRepair, StepFailure>> repair;  // absent: not attempted
  std::optional<std::expected<SavedExport, StepFailure>> exported;
};

// Repair, save, diagnose the repaired text, then write its .mb (or, by policy, the source's). A
// repair that changed no byte takes the source's diagnosis, moved out of `source`, as its re-check.
// Work cancelled through `progress` gives a repair failed as Cancelled and no export; `source` is
// then as it was.
RescueOutcome rescue(SourceTable& source, OutputPlace& place, const RescuePolicy& policy,
                     Progress* progress = nullptr);

}  // namespace qovira
