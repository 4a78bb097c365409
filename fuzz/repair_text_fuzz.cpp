// repair_text on any decodable text, as the batch and the window call it: the repaired text
// re-diagnoses without any line issue that the repair claims to fix (empty columns, bad code
// characters, exact duplicates), its items point at real lines, and repairing it again changes
// nothing.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "qovira/app/diagnosis.h"
#include "qovira/app/format.h"
#include "qovira/app/issues.h"
#include "qovira/app/repair.h"
#include "qovira/table/mb.h"
#include "qovira/table/text.h"

using namespace qovira;

namespace {

constexpr std::string_view BASE_NAME = "table";
constexpr std::uint64_t ADDED_HEADER_LINES = 5;
constexpr std::string_view HEAVIER_REPEAT_KEPT = " 权重更高，原样留着";

// The line issues a repair removes, recognised by their advice.
bool repair_claims_to_fix(const Issue& issue) {
  static const std::string empty_advice = empty_code_or_text(1).advice;
  static const std::string duplicate_advice = duplicate_line(2, 1, "工", "a").advice;
  static const std::string capital_advice = bad_code_characters(1, "A", "工", "A").advice;
  static const std::string full_width_advice = bad_code_characters(1, "，", "工", "，").advice;
  static const std::string stray_advice = bad_code_characters(1, "-", "工", "-").advice;
  return issue.line != 0 && (issue.advice == empty_advice || issue.advice == duplicate_advice ||
                             issue.advice == capital_advice || issue.advice == full_width_advice ||
                             issue.advice == stray_advice);
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ByteView bytes(data, size);
  if (has_mb_magic(bytes)) {
    return 0;  // a .mb is never repaired
  }
  auto text = decode_text(bytes);
  if (!text) {
    return 0;
  }
  const TableFormat format = detect_format(bytes, *text);
  const RepairResult result = repair_text(*text, format, BASE_NAME);
  fuzz::check(!result.text.empty() && result.text.back() == '\n',
              "the repaired text ends with a line feed");
  fuzz::check(fuzz::is_valid_utf8(result.text), "the repaired text is valid UTF-8");

  bool header_added = false;
  for (const RepairItem& change : result.changes) {
    header_added = header_added || change.line == 0;
  }
  const std::uint64_t working_lines =
      split_lines(*text).size() + (header_added ? ADDED_HEADER_LINES : 0);
  for (const auto* items : {&result.changes, &result.kept}) {
    for (const RepairItem& item : *items) {
      fuzz::check(item.line <= working_lines, "repair items name lines of the working text",
                  item.summary);
      fuzz::check(!item.summary.empty() && !item.basis.empty(), "repair items are explained");
    }
  }

  const ByteView repaired = fuzz::bytes_of(result.text);
  const Diagnosis recheck = diagnose(repaired);
  if (recheck.format != format) {
    return 0;  // the line scan reads another layout; nothing to compare
  }
  // A repeat heavier than its earlier copies stays (the import merges it and keeps its weight),
  // so each of those may be flagged once more.
  const std::string duplicate_advice = duplicate_line(2, 1, "工", "a").advice;
  const auto heavier_repeats =
      static_cast<std::size_t>(std::ranges::count_if(result.kept, [](const RepairItem& item) {
        return item.summary.ends_with(HEAVIER_REPEAT_KEPT);
      }));
  std::size_t repeats_left = 0;
  for (const Issue& issue : recheck.issues) {
    if (issue.advice == duplicate_advice) {
      ++repeats_left;
      continue;
    }
    fuzz::check(!repair_claims_to_fix(issue), "the repaired text has no issue the repair fixes",
                issue.message);
  }
  fuzz::check(repeats_left <= heavier_repeats,
              "the repaired text repeats no entry but the heavier copies it keeps",
              std::to_string(repeats_left) + " > " + std::to_string(heavier_repeats));
  const RepairResult again = repair_text(result.text, format, BASE_NAME);
  fuzz::check(again.changes.empty(), "a second repair changes nothing",
              again.changes.empty() ? std::string() : again.changes.front().summary);
  fuzz::check(first_difference(result.text, again.text).empty(), "a second repair keeps the lines",
              first_difference(result.text, again.text));
  return 0;
}
