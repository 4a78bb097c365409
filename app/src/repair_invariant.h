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

#include "qovira/app/format.h"
#include "qovira/app/issues.h"
#include "qovira/app/repair.h"
#include "qovira/table/entry.h"
#include "qovira/table/import.h"
#include "qovira/table/mb.h"
#include "qovira/table/table_text.h"
#include "qovira/table/text.h"

namespace qovira::repair_invariant {

namespace detail {

// The lines of the header the repair puts in front of a Rime text without one.
inline constexpr std::uint64_t ADDED_HEADER_LINES = 5;

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
  // A description too long for the .mb header is shortened: the source could not be exported.
  const bool description_fits = utf16_length(before->description) < MB_DESCRIPTION_UNITS;
  if ((description_fits && before->description != after->description) ||
      before->phrase_rules != after->phrase_rules) {
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

inline bool has_whole_file_change(const RepairResult& result) {
  return std::ranges::any_of(result.changes, [](const RepairItem& item) { return item.line == 0; });
}

inline std::optional<std::string> listing_violation(std::string_view source, TableFormat format,
                                                    const RepairResult& result) {
  // The text the repair works on: lone CRs end lines, as the repair reads them.
  std::string cr_mended;
  std::string_view working = source;
  if (source.find('\r') != std::string_view::npos && source.find('\n') == std::string_view::npos) {
    if (!has_whole_file_change(result)) {
      return "CR-only line ends were read without a whole-file change";
    }
    cr_mended.assign(source);
    std::ranges::replace(cr_mended, '\r', '\n');
    working = cr_mended;
    format = detect_format({}, working);
  }
  // A Rime dictionary that only a marker in its text made look like a 冰凌 table is repaired as
  // Rime; the lines that held the marker are changes. Taking a marker out of a header line can
  // change the header's column list, so the source is read without its markers, as the repair reads
  // it.
  std::string markers_removed;
  if (is_rime_behind_markers(working, format)) {
    format = TableFormat::Rime;
    markers_removed = without_markers(working);
    working = markers_removed;
  }
  TableText source_table = TableText::read(working, format);
  std::uint64_t offset = 0;
  if (format == TableFormat::Rime && !source_table.has_body()) {
    if (!has_whole_file_change(result)) {
      return "a Rime text without a header was repaired without a whole-file change";
    }
    source_table = TableText::headerless_rime(working);
    offset = ADDED_HEADER_LINES;
  }

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
    last_line = line.number + offset;
    lines_of_key[line_key(line, format)].push_back(line.number + offset);
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
    const std::uint64_t index = *first_unlisted - offset - 1;
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
