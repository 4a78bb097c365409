// The diagnosis pipeline: decode, detect, scan, import, then prove a trial .mb by reading it back.
#include "qovira/app/diagnosis.h"

#include <algorithm>
#include <expected>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "qovira/app/export.h"
#include "qovira/table/encoding.h"
#include "qovira/table/gb18030.h"
#include "qovira/table/import.h"
#include "qovira/table/mb.h"
#include "qovira/table/missing_header.h"
#include "qovira/table/side_by_side.h"
#include "qovira/table/text.h"

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

// The line scan and the importer read the same model independently, so the scan runs on a second
// thread beside `import`. Where no thread can be started, it runs first on this one. Once both are
// done with the text, `text_done` is called, before the importer merges its rows.
template <typename Import>
auto scan_beside_import(const TableText& text, Diagnosis& result, const TextDone& text_done,
                        Import import) {
  LineScan scan;
  SideTask scanning(true, [&scan, &text] { scan = scan_lines(text); });
  auto imported = import([&] {
    scanning.wait();
    text_done();
  });
  scanning.wait();
  result.body_rows = scan.body_rows;
  result.issues.append(std::move(scan.issues));
  return imported;
}

TableOutcome diagnose_rime(const TableText& text, Diagnosis& result, const TextDone& text_done) {
  auto imported = scan_beside_import(
      text, result, text_done, [&text](const TextDone& done) { return import_rime(text, done); });
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

TableOutcome diagnose_bingling(const TableText& text, Diagnosis& result,
                               const TextDone& text_done) {
  auto imported = scan_beside_import(text, result, text_done, [&text](const TextDone& done) {
    return import_bingling(text, done);
  });
  if (!imported) {
    return std::unexpected(imported.error().message());
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

TableOutcome import_text(std::string_view text, Diagnosis& result, const TextDone& text_done) {
  switch (result.format) {
    case TableFormat::Rime:
      return diagnose_rime(TableText::read(text, result.format), result, text_done);
    case TableFormat::Bingling:
      return diagnose_bingling(TableText::read(text, result.format), result, text_done);
    case TableFormat::Mb:
    case TableFormat::Unknown:
      break;
  }
  return std::unexpected(std::string(UNKNOWN_FORMAT_ERROR));
}

// Builds the .mb an export would write and checks that it reads back as the same table.
void prove_trial_mb(const CodeTable& table, IssueList& issues) {
  auto built = build_mb(table, DEFAULT_MB_CONTAINER);
  if (!built) {
    issues.add(mb_build_failed(built.error().message()));
    return;
  }
  const auto difference = compare_built_mb(table, *built);
  if (!difference) {
    issues.add(mb_unreadable(difference.error().message()));
  } else if (*difference) {
    issues.add(mb_mismatch(**difference));
  }
}

void finish(Diagnosis& result) {
  result.importable = result.issues.counts().fatal == 0;
  result.issues.sort();
}

}  // namespace

Diagnosis diagnose(ByteView bytes, const std::function<void()>& bytes_done) {
  Diagnosis result;
  TableOutcome outcome;
  std::optional<std::string_view> hidden_marker;
  // A .mb is never decoded: only its reader looks at it.
  if (has_mb_magic(bytes)) {
    result.format = detect_format(bytes, {});
    outcome = read_mb_table(bytes);
  } else {
    std::string converted;
    auto text = decode_text_in_place(bytes, converted);
    if (!text) {
      std::string error = text.error().message();
      if (judge_encoding(bytes).encoding == TextEncoding::DamagedUtf8) {
        result.issues.add(unreadable_damaged_utf8(error));
      } else if (legacy_table_text(bytes)) {
        result.issues.add(unreadable_legacy_text(error));
      } else {
        result.issues.add(unreadable_text(error));
      }
      result.failure = std::move(error);
      finish(result);
      return result;
    }
    result.format = detect_format(bytes, *text);
    hidden_marker = marker_behind_byte_order_mark(*text);
    outcome = import_text(*text, result, [&] {
      converted = std::string();
      if (bytes_done) {
        bytes_done();
      }
    });
  }

  if (!outcome) {
    if (hidden_marker) {
      result.issues.add(mark_before_header(*hidden_marker));
    }
    result.issues.add(import_failed(outcome.error()));
    result.failure = std::move(outcome.error());
  } else {
    prove_trial_mb(*outcome, result.issues);
    result.alphabet = outcome->alphabet;
    result.imported_entries = outcome->entries.size();
    result.table = std::move(*outcome);
  }
  finish(result);
  return result;
}

std::optional<std::string> legacy_table_text(ByteView bytes) {
  if (has_mb_magic(bytes) || judge_encoding(bytes).encoding != TextEncoding::Gb18030) {
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
