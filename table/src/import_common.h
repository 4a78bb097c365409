// Pieces both text importers share: the rows they collect and finish into a table, weights and
// the rendering of per-length phrase formulas.
#pragma once

#include <algorithm>
#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "qovira/table/model.h"
#include "qovira/table/text.h"

namespace qovira::import_detail {

// The rows an importer read, already shaped as the table's entries (priority not yet set) with
// their weights and pin marks beside them, so that finishing orders them in place instead of
// copying millions of strings into a second list.
struct ImportRows {
  std::vector<TableEntry> entries;
  std::vector<std::uint64_t> weights;
  std::vector<bool> pinned;  // a bit per row

  // One row per line at most: reserving that up front avoids the doubling copies of a growing list.
  void reserve_for_lines_of(std::string_view text) {
    reserve(static_cast<std::size_t>(std::ranges::count(text, '\n')) + 1);
  }

  void reserve(std::size_t rows) {
    entries.reserve(rows);
    weights.reserve(rows);
    pinned.reserve(rows);
  }

  void add(std::string_view code, std::string_view text, std::uint64_t weight, bool pin) {
    entries.push_back({code, text, 0});
    weights.push_back(weight);
    pinned.push_back(pin);
  }

  std::size_t size() const { return entries.size(); }
};

// finish_table for rows collected as ImportRows: the same checks, merging, order and priorities.
std::expected<CodeTable, TableError> finish_rows(std::string description, ImportRows rows,
                                                 std::string_view alphabet,
                                                 std::vector<std::string> phrase_rules,
                                                 bool weighted);

// A phrase formula for words of `length` characters (exactly, or that many or more).
struct LengthRule {
  std::uint64_t length = 0;
  std::string formula;
};

// A weight column: an unsigned decimal or 0 for anything unusable ("5%", "-7", "", overflow).
inline std::uint64_t parse_weight(std::string_view raw) {
  return parse_unsigned(trim(raw)).value_or(0);
}

// "{N}={formula}" for every exact rule, then "{N}+={formula}" for every open-ended one, each group
// by length. One-character words have no phrase formula, so lengths 0 and 1 are dropped.
inline std::vector<std::string> render_length_rules(std::vector<LengthRule> equal_rules,
                                                    std::vector<LengthRule> range_rules) {
  const auto by_length = [](const LengthRule& a, const LengthRule& b) {
    return a.length < b.length;
  };
  std::ranges::stable_sort(equal_rules, by_length);
  std::ranges::stable_sort(range_rules, by_length);
  std::vector<std::string> rendered;
  const auto render = [&rendered](const std::vector<LengthRule>& rules, std::string_view marker) {
    for (const LengthRule& rule : rules) {
      if (rule.length > 1) {
        rendered.push_back(std::to_string(rule.length) + std::string(marker) + rule.formula);
      }
    }
  };
  render(equal_rules, "=");
  render(range_rules, "+=");
  return rendered;
}

}  // namespace qovira::import_detail
