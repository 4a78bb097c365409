// repair_text on any decodable text, and the repair of bytes that are no text, as the batch and
// the window call them: the repaired text imports every entry of a source that imports and lists
// every line it leaves out (the repair invariant), re-diagnoses without any line issue that the
// repair claims to fix (empty columns, bad code characters, exact duplicates), and repairing it
// again changes nothing; and a repaired text with one entry its importer takes always imports.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "../app/src/repair/repair_invariant.h"
#include "fuzz_support.h"
#include "qovira/app/diagnosis/diagnosis.h"
#include "qovira/app/diagnosis/issues.h"
#include "qovira/app/repair/repair.h"
#include "qovira/app/repair/text_mends.h"
#include "qovira/table/decoding.h"
#include "qovira/table/entry.h"
#include "qovira/table/format.h"
#include "qovira/table/lines.h"
#include "qovira/table/mb.h"

using namespace qovira;

namespace {

constexpr std::string_view BASE_NAME = "table";

// The line issues a repair removes.
bool repair_claims_to_fix(const Issue& issue) {
  return issue.line != 0 &&
         (issue.kind == IssueKind::EmptyCodeOrText || issue.kind == IssueKind::DuplicateLine ||
          issue.kind == IssueKind::BadCodeCharacters);
}

std::string_view without_trailing_crs(std::string_view line) {
  while (!line.empty() && line.back() == '\r') {
    line.remove_suffix(1);
  }
  return line;
}

// "line N: <first> | <second>" for the first line that differs, or nothing. Lines are compared
// without their trailing CRs: every pass cuts one from a kept line that ends in several, and the
// readers ignore them anyway.
std::string first_difference(std::string_view first, std::string_view second) {
  const std::vector<std::string_view> a = split_lines(first);
  const std::vector<std::string_view> b = split_lines(second);
  for (std::size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
    const std::string_view left = i < a.size() ? without_trailing_crs(a[i]) : "<none>";
    const std::string_view right = i < b.size() ? without_trailing_crs(b[i]) : "<none>";
    if (left != right) {
      return "line " + std::to_string(i + 1) + ": " + quote_code(left) + " | " + quote_code(right);
    }
  }
  return {};
}

// Whether a line of the text is an entry its format's importer takes as it is.
bool holds_an_importable_entry(std::string_view text, TableFormat format) {
  if (format != TableFormat::Rime && format != TableFormat::Bingling) {
    return false;
  }
  const TableText table = TableText::read(text, format);
  if (!table.has_body()) {
    return false;
  }
  EntryReader reader(table);
  bool found = false;
  table.for_each_line([&](const TextLine& line) {
    found = found || (line.kind == LineKind::Entry && reader.read(line).accepted());
  });
  return found;
}

// Bytes that are no text: damaged UTF-8 loses the lines that hold damaged bytes, each listed, a
// legacy code page is converted; a second repair of the result changes nothing.
void check_repair_from_bytes(ByteView bytes) {
  const auto mended = mend_source(bytes, BASE_NAME);
  if (!mended) {
    return;
  }
  const RepairResult result = repair_mended_text(*mended);
  fuzz::check(fuzz::is_valid_utf8(result.text), "the repaired text is valid UTF-8");
  for (const RepairItem& taken_out : mended->taken_out) {
    fuzz::check(std::ranges::find(result.removed, taken_out) != result.removed.end(),
                "every damaged line is listed as taken out", taken_out.summary);
  }
  const TableFormat format = detect_format({}, result.text);
  // A repair that could not make the damaged bytes a table that imports leaves its second repair
  // free to read what is left another way.
  if (format != mended->format || !diagnose(fuzz::bytes_of(result.text)).importable) {
    return;
  }
  const RepairResult again = repair_text(result.text, format, BASE_NAME);
  fuzz::check(again.changes.empty(), "a second repair changes nothing",
              again.changes.empty() ? std::string() : again.changes.front().summary);
  fuzz::check(first_difference(result.text, again.text).empty(), "a second repair keeps the lines",
              first_difference(result.text, again.text));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ByteView bytes(data, size);
  if (has_mb_magic(bytes)) {
    return 0;  // a .mb is never repaired
  }
  auto text = decode_text(bytes);
  if (!text) {
    check_repair_from_bytes(bytes);
    return 0;
  }
  const TableFormat format = detect_format(bytes, *text);
  const RepairResult result = repair_text(*text, format, BASE_NAME);
  fuzz::check(!result.text.empty() && result.text.back() == '\n',
              "the repaired text ends with a line feed");
  fuzz::check(fuzz::is_valid_utf8(result.text), "the repaired text is valid UTF-8");

  for (const auto* items : {&result.changes, &result.removed, &result.kept}) {
    for (const RepairItem& item : *items) {
      fuzz::check(!item.summary.empty() && !item.basis.empty(), "repair items are explained");
    }
  }
  // Also checks that every item names a line of the text the repair worked on.
  const auto violation = repair_invariant::repair_invariant_violation(*text, format, result);
  fuzz::check(!violation, "the repair keeps every entry and lists every line it leaves out",
              violation.value_or(""));

  const ByteView repaired = fuzz::bytes_of(result.text);
  const Diagnosis recheck = diagnose(repaired);
  // No line left in the repaired text blocks its import: one entry the importer takes is enough
  // for a table that imports and builds.
  fuzz::check(recheck.importable || !holds_an_importable_entry(result.text, recheck.format),
              "a repaired text holding an entry the importer takes imports",
              recheck.issues.empty() ? std::string() : recheck.issues.begin()->message);
  if (recheck.format != mend_text(*text, format, BASE_NAME).format) {
    return 0;  // the line scan reads another layout; nothing to compare
  }
  // A repeat heavier than its earlier copies stays (the import merges it and keeps its weight),
  // so each of those may be flagged once more.
  const auto heavier_repeats =
      static_cast<std::size_t>(std::ranges::count_if(result.kept, [](const RepairItem& item) {
        return item.rule == RepairRule::HeavierDuplicateKept;
      }));
  // Past the first of a kind, issues are only counted.
  std::size_t repeats_left = 0;
  for (const IssueList::Folded& folded : recheck.issues.folded()) {
    if (folded.kind == IssueKind::DuplicateLine) {
      repeats_left += folded.count;
    }
  }
  for (const Issue& issue : recheck.issues) {
    if (issue.kind == IssueKind::DuplicateLine) {
      ++repeats_left;
      continue;
    }
    fuzz::check(!repair_claims_to_fix(issue), "the repaired text has no issue the repair fixes",
                issue.message);
  }
  fuzz::check(repeats_left <= heavier_repeats,
              "the repaired text repeats no entry but the heavier copies it keeps",
              std::to_string(repeats_left) + " > " + std::to_string(heavier_repeats));
  const RepairResult again = repair_text(result.text, recheck.format, BASE_NAME);
  fuzz::check(again.changes.empty(), "a second repair changes nothing",
              again.changes.empty() ? std::string() : again.changes.front().summary);
  fuzz::check(first_difference(result.text, again.text).empty(), "a second repair keeps the lines",
              first_difference(result.text, again.text));
  return 0;
}
