// Pieces both text importers share: the rows they collect and finish into a table, weights and
// the rendering of per-length phrase formulas.
#pragma once

#include <algorithm>
#include <cstdint>
#include <expected>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "qovira/table/import.h"
#include "qovira/table/model.h"

namespace qovira::import_detail {

// The weights of the rows: 32 bits each while every weight fits, 64 from the first that does not,
// which real tables never reach.
class RowWeights {
 public:
  void reserve(std::size_t rows) {
    reserved_ = rows;
    if (wide_) {
      wide_weights_.reserve(rows);
    } else {
      narrow_weights_.reserve(rows);
    }
  }

  std::uint64_t operator[](std::size_t row) const {
    return wide_ ? wide_weights_[row] : narrow_weights_[row];
  }

  void push_back(std::uint64_t weight) {
    if (!wide_ && weight > NARROW_MAX) {
      widen();
    }
    if (wide_) {
      wide_weights_.push_back(weight);
    } else {
      narrow_weights_.push_back(static_cast<std::uint32_t>(weight));
    }
  }

  void set(std::size_t row, std::uint64_t weight) {
    if (!wide_ && weight > NARROW_MAX) {
      widen();
    }
    if (wide_) {
      wide_weights_[row] = weight;
    } else {
      narrow_weights_[row] = static_cast<std::uint32_t>(weight);
    }
  }

  void release() {
    narrow_weights_ = {};
    wide_weights_ = {};
  }

 private:
  static constexpr std::uint64_t NARROW_MAX = 0xFFFF'FFFF;

  void widen() {
    wide_weights_.reserve(std::max(reserved_, narrow_weights_.size()));
    wide_weights_.assign(narrow_weights_.begin(), narrow_weights_.end());
    narrow_weights_ = {};
    wide_ = true;
  }

  bool wide_ = false;
  std::size_t reserved_ = 0;
  std::vector<std::uint32_t> narrow_weights_;
  std::vector<std::uint64_t> wide_weights_;
};

// The rows an importer read, already shaped as the table's entries (priority not yet set) with
// their weights and pin marks beside them, so that finishing orders them in place instead of
// copying millions of strings into a second list.
class ImportRows {
 public:
  // With `weighted`, a repeated (code, text) keeps the heavier record; without, the first.
  explicit ImportRows(bool weighted) : weighted_(weighted), recent_(RECENT_SLOTS) {}

  // One row per line at most: reserving that up front avoids the doubling copies of a growing list.
  void reserve_for_lines_of(std::string_view text) {
    reserve(static_cast<std::size_t>(std::ranges::count(text, '\n')) + 1);
  }

  void reserve(std::size_t rows) {
    entries_.reserve(rows);
    weights_.reserve(rows);
    pinned_.reserve(rows);
  }

  // A record repeating the (code, text) of a recent row merges into it at once, as finishing
  // would merge it, so that a table of one line repeated millions of times holds one row.
  void add(std::string_view code, std::string_view text, std::uint64_t weight, bool pin) {
    ++records_;
    const std::uint64_t hash = pair_hash(code, text);
    Recent& recent = recent_[(hash ^ (hash >> 17)) & (RECENT_SLOTS - 1)];
    const auto check = static_cast<std::uint32_t>(hash >> 32);
    // The check spares most rows a look at an earlier entry, which is far away in memory.
    if (recent.row != NO_ROW && recent.check == check && entries_[recent.row].code == code &&
        entries_[recent.row].text == text) {
      if (weighted_ && weight > weights_[recent.row]) {
        weights_.set(recent.row, weight);
        pinned_[recent.row] = pin;
      }
      return;
    }
    recent = {static_cast<std::uint32_t>(entries_.size()), check};
    entries_.push_back({code, text, 0});
    weights_.push_back(weight);
    pinned_.push_back(pin);
  }

  // Every record added, repeats merged at once included.
  std::uint64_t records() const { return records_; }
  bool weighted() const { return weighted_; }

  std::vector<TableEntry>& entries() { return entries_; }
  RowWeights& weights() { return weights_; }
  std::vector<bool>& pinned() { return pinned_; }

 private:
  static constexpr std::size_t RECENT_SLOTS = 4096;
  static constexpr std::uint32_t NO_ROW = static_cast<std::uint32_t>(-1);

  static std::uint64_t pair_hash(std::string_view code, std::string_view text) {
    return std::uint64_t{std::hash<std::string_view>{}(code)} * 31 +
           std::hash<std::string_view>{}(text);
  }

  // The row last added in a slot, with more bits of its hash than the slot tells.
  struct Recent {
    std::uint32_t row = NO_ROW;
    std::uint32_t check = 0;
  };

  bool weighted_;
  std::vector<TableEntry> entries_;
  RowWeights weights_;
  std::vector<bool> pinned_;  // a bit per row
  std::vector<Recent> recent_;
  std::uint64_t records_ = 0;
};

// finish_table for rows collected as ImportRows: the same checks, merging, order and priorities.
std::expected<CodeTable, TableError> finish_rows(std::string description, ImportRows rows,
                                                 std::string_view alphabet,
                                                 std::vector<std::string> phrase_rules);

}  // namespace qovira::import_detail

namespace qovira {

struct ReadRows::Contents {
  TableImport import;  // all but the table
  std::string description;
  std::string alphabet;
  std::vector<std::string> phrase_rules;
  import_detail::ImportRows rows;
};

}  // namespace qovira

namespace qovira::import_detail {

// A phrase formula for words of `length` characters (exactly, or that many or more).
struct LengthRule {
  std::uint64_t length = 0;
  std::string formula;
};

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
