// Diagnosis of a table file's bytes, and its text report.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qovira/app/diagnosis/issues.h"
#include "qovira/app/export/export.h"
#include "qovira/table/encoding.h"
#include "qovira/table/format.h"
#include "qovira/table/model.h"
#include "qovira/table/progress.h"

namespace qovira {

struct Diagnosis {
  std::string alphabet;
  IssueList issues;
  std::optional<std::string> failure;
  // The .mb an export writes: built from the imported table and proven against it record by
  // record, or the build's error. Nothing when the file did not import. The table itself is not
  // kept: what it holds beyond the .mb is not needed once the .mb is proven.
  std::optional<std::expected<ExportResult, std::string>> mb;
  std::uint64_t imported_entries = 0;
  std::uint64_t body_rows = 0;
  bool importable = false;
  TableFormat format = TableFormat::Unknown;
  // How the text's bytes decoded, or were judged when they did not: the repair reads them the same
  // way without probing them again. Nothing for a .mb.
  std::optional<EncodingVerdict> encoding;
};

// Never fails: every problem becomes a Fatal issue. A diagnosis cancelled through `progress` is
// incomplete.
Diagnosis diagnose(ByteView bytes, Progress* progress = nullptr);
// The same for bytes no one reads afterwards: they are freed once read for the last time, before
// the table is merged, so that the file and the whole table are never held at once.
Diagnosis diagnose_and_free(Bytes bytes);

// The text of bytes judged GB18030 (and so GBK), neither UTF-8, damaged UTF-8 nor UTF-16, that
// reads as a Rime or 冰凌 table, or as a list of entry lines whose column order is clear; nothing
// for any other bytes. `verdict` is judge_encoding's for these bytes.
std::optional<std::string> legacy_table_text(ByteView bytes, const EncodingVerdict& verdict);

// The full report; `path` is shown as given. Always ends with a line feed.
std::string render_report(std::string_view path, const Diagnosis& diagnosis);

}  // namespace qovira
