// The diagnosis pipeline: decode, detect, scan, import, then build the .mb an export writes and
// prove it by reading it back.
#include "qovira/app/diagnosis/diagnosis.h"

#include <algorithm>
#include <expected>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "qovira/app/export/export.h"
#include "qovira/table/decoding.h"
#include "qovira/table/encoding.h"
#include "qovira/table/gb18030.h"
#include "qovira/table/import.h"
#include "qovira/table/lines.h"
#include "qovira/table/mb.h"
#include "qovira/table/missing_header.h"
#include "qovira/table/side_by_side.h"

namespace qovira {

namespace {

constexpr std::string_view UNKNOWN_FORMAT_ERROR =
    "认不出格式：既不是 Rime 词典（缺少独占一行的 ---），也不是冰凌文本码表或极点 .mb";

// A table, or the error text that replaced it.
using TableOutcome = std::expected<CodeTable, std::string>;

// What the line scan of a text table found. Its issues come before the importer's in the report.
struct LineScan {
  IssueList issues;
  std::uint64_t body_rows = 0;
};

// Scans the body lines the model finds; a Rime text without a closed header has none to scan.
LineScan scan_lines(const TableText& text) {
  LineScan scan;
  if (text.format() == TableFormat::Rime && !text.has_body()) {
    scan.issues.add(missing_rime_header());
    return scan;
  }
  scan.body_rows = scan_body_lines(text, scan.issues);
  return scan;
}

// Reads the rows of a text table while the line scan, which reads the same model independently,
// runs on a second thread beside; where no thread can be started, the scan runs first on this one.
std::expected<ReadRows, std::string> read_rows(std::string_view text, Diagnosis& result,
                                               Progress* progress) {
  if (result.format != TableFormat::Rime && result.format != TableFormat::Bingling) {
    return std::unexpected(std::string(UNKNOWN_FORMAT_ERROR));
  }
  const TableText table_text = TableText::read(text, result.format, progress);
  LineScan scan;
  SideTask scanning(true, [&scan, &table_text] { scan = scan_lines(table_text); });
  auto read = result.format == TableFormat::Rime ? read_rime_rows(table_text)
                                                 : read_bingling_rows(table_text);
  scanning.wait();
  result.body_rows = scan.body_rows;
  result.issues.append(std::move(scan.issues));
  if (!read) {
    return std::unexpected(read.error().message());
  }
  return std::move(*read);
}

// Merges the rows into the table; the Rime importer's skipped rows become issues.
TableOutcome finish_rows(ReadRows read, Diagnosis& result) {
  auto imported = finish_import(std::move(read));
  if (!imported) {
    return std::unexpected(imported.error().message());
  }
  const SkipLog& skipped = imported->skipped;
  for (const SkippedSample& sample : skipped.samples) {
    result.issues.add(importer_skipped(sample.line, sample.code_shown, sample.reason));
  }
  if (skipped.total > skipped.samples.size()) {
    result.issues.add(importer_skipped_summary(skipped.total, skipped.samples.size()));
  }
  return std::move(imported->code_table);
}

TableOutcome read_mb_table(ByteView bytes) {
  auto table = read_mb(bytes);
  if (!table) {
    return std::unexpected(table.error().message());
  }
  return std::move(*table);
}

// Builds the .mb an export writes and proves that it reads back as the same table.
void prove_mb(const CodeTable& table, Diagnosis& result, Progress* progress) {
  auto built = export_mb(table, progress);
  if (!built) {
    result.issues.add(mb_build_failed(built.error()));
  } else if (built->unreadable) {
    result.issues.add(mb_unreadable(*built->unreadable));
  } else if (built->difference) {
    result.issues.add(mb_mismatch(*built->difference));
  }
  result.mb = std::move(built);
}

void finish(Diagnosis& result) {
  result.importable = result.issues.counts().fatal == 0;
  result.issues.sort();
}

// `owner`, when given, holds `bytes` and is emptied once they are read for the last time. Of the
// progress, the walks over the lines take the first 60 %, merging the rows 10 %, the .mb the rest.
Diagnosis diagnose(ByteView bytes, Bytes* owner, Progress* progress) {
  ProgressPart reading_lines(progress, 0, 600);
  ProgressPart proving_mb(progress, 700, ProgressPart::PROGRESS_SCALE);
  Diagnosis result;
  TableOutcome outcome;
  std::optional<std::string_view> hidden_marker;
  // A .mb is never decoded: only its reader looks at it.
  if (has_mb_magic(bytes)) {
    result.format = detect_format(bytes, {});
    outcome = read_mb_table(bytes);
    if (owner != nullptr) {
      *owner = Bytes();
    }
  } else {
    std::string converted;
    auto text = decode_text_in_place(bytes, converted);
    if (!text) {
      std::string error = text.error().message();
      const EncodingVerdict& verdict = result.encoding.emplace(judge_encoding(bytes));
      if (verdict.encoding == TextEncoding::DamagedUtf8) {
        result.issues.add(unreadable_damaged_utf8(error));
      } else if (legacy_table_text(bytes, verdict)) {
        result.issues.add(unreadable_legacy_text(error));
      } else {
        result.issues.add(unreadable_text(error));
      }
      result.failure = std::move(error);
      finish(result);
      return result;
    }
    result.encoding.emplace().encoding =
        text->data() == converted.data() ? TextEncoding::Utf16 : TextEncoding::Utf8;
    result.format = detect_format(bytes, *text);
    hidden_marker = marker_behind_byte_order_mark(*text);
    auto read = read_rows(*text, result, &reading_lines);
    if (cancelled(progress)) {
      return result;
    }
    if (read) {
      // The text is not looked at again: free it before the rows are merged.
      converted = std::string();
      if (owner != nullptr) {
        *owner = Bytes();
      }
      outcome = finish_rows(std::move(*read), result);
    } else {
      outcome = std::unexpected(std::move(read.error()));
    }
  }

  if (!outcome) {
    if (hidden_marker) {
      result.issues.add(mark_before_header(*hidden_marker));
    }
    result.issues.add(import_failed(outcome.error()));
    result.failure = std::move(outcome.error());
  } else if (!cancelled(progress)) {
    prove_mb(*outcome, result, &proving_mb);
    result.alphabet = std::move(outcome->alphabet);
    result.imported_entries = outcome->entries.size();
  }
  finish(result);
  return result;
}

}  // namespace

Diagnosis diagnose(ByteView bytes, Progress* progress) {
  return diagnose(bytes, nullptr, progress);
}

Diagnosis diagnose_and_free(Bytes bytes) {
  return diagnose(bytes, &bytes, nullptr);
}

std::optional<std::string> legacy_table_text(ByteView bytes, const EncodingVerdict& verdict) {
  if (has_mb_magic(bytes) || verdict.encoding != TextEncoding::Gb18030) {
    return std::nullopt;
  }
  auto text = decode_gb18030(bytes);
  if (!text) {
    return std::nullopt;
  }
  // Lone CRs end lines here as they do in the repair.
  std::string lines = *text;
  lone_crs_to_line_feeds(lines);
  if (detect_format({}, lines) == TableFormat::Unknown && !column_order_evidence(lines).order()) {
    return std::nullopt;
  }
  return std::move(*text);
}

}  // namespace qovira
