// Test support: what every repair must keep. The repaired text imports every (code, text) entry of
// a source that imports, and the very same table when it adds no pair; and every source line that
// does not reach the repaired text is named by a change or a kept line. Shared by the unit tests
// and the fuzz targets.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "qovira/app/diagnosis/issues.h"
#include "qovira/app/repair/repair.h"
#include "qovira/app/repair/text_mends.h"
#include "qovira/table/entry.h"
#include "qovira/table/format.h"
#include "qovira/table/import.h"
#include "qovira/table/lines.h"
#include "qovira/table/mb.h"
#include "qovira/table/table_text.h"
#include "qovira/table/utf16.h"
#include "qovira/table/white_space.h"

namespace qovira::repair_invariant {

namespace detail {

inline constexpr std::string_view BASE_NAME = "table";

struct Imported {
  CodeTable table;
  // The body lines the import left out: skipped rows and lines without both columns.
  std::uint64_t lines_left_out = 0;
};

inline std::optional<Imported> imported_table(std::string_view text, TableFormat format) {
  if (format != TableFormat::Rime && format != TableFormat::Bingling) {
    return std::nullopt;
  }
  auto imported = format == TableFormat::Rime ? import_rime(text) : import_bingling(text);
  if (!imported) {
    return std::nullopt;
  }
  Imported result{std::move(imported->code_table), imported->skipped.total};
  TableText::read(text, format).for_each_line([&result](const TextLine& line) {
    result.lines_left_out += line.kind == LineKind::Malformed ? 1 : 0;
  });
  return result;
}

// The text with every body line that holds a CR inside it made empty; nothing when a line outside
// the body holds one (the header itself was several lines).
inline std::optional<std::string> without_broken_body_lines(std::string_view text,
                                                            TableFormat format) {
  std::string out;
  bool header_broken = false;
  TableText::read(text, format).for_each_line([&](const TextLine& line) {
    // CRs right before the line end are no lone ones; any other CR ends a line to the repair.
    std::string_view raw = line.raw;
    while (!raw.empty() && raw.back() == '\r') {
      raw.remove_suffix(1);
    }
    const bool broken = raw.find('\r') != std::string_view::npos;
    const bool body = line.kind == LineKind::Entry || line.kind == LineKind::Malformed;
    header_broken = header_broken || (broken && !body);
    out.append(broken && body ? std::string_view() : line.raw).push_back('\n');
  });
  if (header_broken) {
    return std::nullopt;
  }
  return out;
}

inline std::string describe_entry(const TableEntry& entry) {
  return quote_code(entry.code) + " " + quote_code(entry.text) + " priority " +
         std::to_string(entry.priority);
}

inline std::optional<std::string> entries_violation(std::string_view source, TableFormat format,
                                                    std::string_view repaired) {
  std::optional<Imported> source_import = imported_table(source, format);
  std::optional<CodeTable> before;
  if (source_import) {
    before = std::move(source_import->table);
  }
  // A 冰凌 import takes codes and texts of any length (a code of nothing but the pin mark is the
  // empty code), but no .mb record holds those: they are no entries of the input method, and the
  // repair may leave them out (it lists them). Their weights may have scaled the others'
  // priorities, so then only the pairs are compared.
  bool unusable_left_out = false;
  if (before) {
    unusable_left_out = std::erase_if(before->entries, [](const TableEntry& entry) {
                          const std::size_t units = utf16_length(entry.text);
                          return entry.code.empty() || entry.code.size() > MB_MAX_CODE_BYTES ||
                                 units == 0 || units > MB_MAX_TEXT_UNITS;
                        }) > 0;
  }
  // A body line that a lone CR runs through is several lines to the repair: what it imported as
  // one line is not kept, its pieces are.
  if (before && has_lone_cr(source)) {
    const std::optional<std::string> unbroken_text = without_broken_body_lines(source, format);
    const std::optional<Imported> unbroken =
        unbroken_text ? imported_table(*unbroken_text, format) : std::nullopt;
    std::set<std::pair<std::string_view, std::string_view>> kept_pairs;
    if (unbroken) {
      for (const TableEntry& entry : unbroken->table.entries) {
        kept_pairs.emplace(entry.code, entry.text);
      }
    }
    unusable_left_out = std::erase_if(before->entries,
                                      [&kept_pairs](const TableEntry& entry) {
                                        return !kept_pairs.contains({entry.code, entry.text});
                                      }) > 0 ||
                        unusable_left_out;
  }
  if (!before || before->entries.empty()) {
    return std::nullopt;
  }
  std::optional<Imported> repaired_import = imported_table(repaired, detect_format({}, repaired));
  if (!repaired_import) {
    return "the source imports but the repaired text does not";
  }
  const std::optional<CodeTable> after = std::move(repaired_import->table);
  // A mended line the import took back may merge into an entry and lend it its weight.
  const bool lines_won_back = repaired_import->lines_left_out < source_import->lines_left_out;
  std::set<std::pair<std::string_view, std::string_view>> pairs_after;
  for (const TableEntry& entry : after->entries) {
    pairs_after.emplace(entry.code, entry.text);
  }
  for (const TableEntry& entry : before->entries) {
    if (!pairs_after.contains({entry.code, entry.text})) {
      return "the repaired text lost the entry " + describe_entry(entry);
    }
  }
  if (pairs_after.size() != before->entries.size() || unusable_left_out || lines_won_back) {
    return std::nullopt;  // entries were won back or left out; candidate ranks may shift
  }
  for (std::size_t i = 0; i < before->entries.size(); ++i) {
    if (before->entries[i] != after->entries[i]) {
      return "entry " + std::to_string(i) + " changed: " + describe_entry(before->entries[i]) +
             " became " + describe_entry(after->entries[i]);
    }
  }
  if (before->alphabet != after->alphabet) {
    return "the alphabet changed: " + quote_code(before->alphabet) + " became " +
           quote_code(after->alphabet);
  }
  // A description or phrase rules too long for the .mb header are shortened or dropped: the source
  // could not be exported.
  const bool description_fits = utf16_length(before->description) < MB_DESCRIPTION_UNITS;
  const bool phrase_rules_fit = mb_header_holds_phrase_rules(before->phrase_rules);
  if ((description_fits && before->description != after->description) ||
      (phrase_rules_fit && before->phrase_rules != after->phrase_rules)) {
    return "the description or the phrase rules changed";
  }
  return std::nullopt;
}

// What a line carries into the repaired text: an entry its reading (a mended column layout or
// trimmed columns carry the same entry), any other line its text. Trailing CRs never count.
inline std::string line_key(const TextLine& line, TableFormat format) {
  std::string key;
  const auto add = [&key](std::string_view part) {
    key.append(std::to_string(part.size())).push_back(':');
    key.append(part);
  };
  if (line.kind == LineKind::Entry) {
    key.push_back('E');
    add(line.text);
    add(format == TableFormat::Bingling ? code_as_written(line) : join_code(line.code));
    add(trim(line.weight));
    return key;
  }
  std::string_view raw = line.raw;
  while (!raw.empty() && raw.back() == '\r') {
    raw.remove_suffix(1);
  }
  key.push_back('L');
  add(raw);
  return key;
}

inline std::optional<std::string> listing_violation(std::string_view source, TableFormat format,
                                                    const RepairResult& result) {
  // The text the repair works on, as the whole-text mends make it; their items open the result's.
  const MendedText mended = mend_text(source, format, BASE_NAME);
  const auto opens_with = [](const RepairItems& items, const RepairItems& head) {
    return items.size() >= head.size() && std::equal(head.begin(), head.end(), items.begin());
  };
  if (!opens_with(result.changes, mended.changes) || !opens_with(result.kept, mended.kept)) {
    return "the repair does not list the changes of its whole-text mends";
  }
  const std::string_view working = mended.text();
  format = mended.format;
  const TableText source_table = TableText::read(working, format);

  // The repaired text read as the repair wrote it: dropping a line can change what the format
  // detection makes of the whole text, never what the repair meant a line to be.
  std::unordered_map<std::string, std::uint64_t> reached;
  TableText::read(result.text, format).for_each_line([&](const TextLine& line) {
    ++reached[line_key(line, format)];
  });
  std::unordered_set<std::uint64_t> named;
  for (const auto* items : {&result.changes, &result.removed, &result.kept}) {
    for (const RepairItem& item : *items) {
      named.insert(item.line);
    }
  }

  // Lines of one key, in order; as many may be missing as the repaired text holds fewer of them.
  std::unordered_map<std::string, std::vector<std::uint64_t>> lines_of_key;
  std::uint64_t last_line = 0;
  source_table.for_each_line([&](const TextLine& line) {
    last_line = line.number;
    if (line.number > mended.added_header_lines) {
      lines_of_key[line_key(line, format)].push_back(line.number);
    }
  });
  for (const std::uint64_t line : named) {
    if (line > last_line) {
      return "an item names line " + std::to_string(line) + " of " + std::to_string(last_line);
    }
  }
  std::optional<std::uint64_t> first_unlisted;
  for (const auto& [key, lines] : lines_of_key) {
    const std::uint64_t kept = reached.contains(key) ? reached.at(key) : 0;
    if (kept >= lines.size()) {
      continue;
    }
    const auto listed = static_cast<std::uint64_t>(std::ranges::count_if(
        lines, [&named](std::uint64_t line) { return named.contains(line); }));
    if (listed + kept < lines.size()) {
      const auto unlisted = std::ranges::find_if(
          lines, [&named](std::uint64_t line) { return !named.contains(line); });
      first_unlisted = std::min(first_unlisted.value_or(*unlisted), *unlisted);
    }
  }
  if (first_unlisted) {
    const std::vector<std::string_view> lines = split_lines(working);
    const std::uint64_t index = *first_unlisted - 1;
    return "line " + std::to_string(*first_unlisted) + " " +
           quote_code(index < lines.size() ? lines[index] : std::string_view()) +
           " does not reach the repaired text and no change or kept line names it";
  }
  return std::nullopt;
}

}  // namespace detail

// The first way in which `result`, the repair of `source` read as `format`, breaks the invariant,
// or nothing.
inline std::optional<std::string> repair_invariant_violation(std::string_view source,
                                                             TableFormat format,
                                                             const RepairResult& result) {
  if (auto violation = detail::entries_violation(source, format, result.text)) {
    return violation;
  }
  return detail::listing_violation(source, format, result);
}

}  // namespace qovira::repair_invariant
