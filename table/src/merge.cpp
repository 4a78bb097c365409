// The merge engine: repeated entries folded together, candidates ordered and scored, rows put in
// their final order in place.
#include <algorithm>
#include <array>
#include <cstdint>
#include <numeric>
#include <ranges>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "import_common.h"
#include "qovira/table/model.h"
#include "qovira/table/side_by_side.h"

namespace qovira {
namespace {

constexpr std::string_view REASON_CODE_OUTSIDE_ALPHABET = "编码包含字母表未声明的字符";
constexpr std::string_view REASON_TOO_MANY_ROWS = "码表超过 2147483647 条，一个 .mb 装不下";

constexpr std::uint8_t PRIORITY_PINNED = 254;
constexpr std::uint8_t PRIORITY_UNWEIGHTED = 100;
constexpr std::uint64_t PRIORITY_BASE = 17;
constexpr std::uint64_t PRIORITY_SPAN = 236;

// The priority's product of weight and span needs 128 bits.
__extension__ typedef unsigned __int128 Uint128;

std::uint8_t priority_of(std::uint64_t weight, bool pinned, bool weighted,
                         std::uint64_t max_weight) {
  if (pinned) {
    return PRIORITY_PINNED;
  }
  if (!weighted) {
    return PRIORITY_UNWEIGHTED;
  }
  if (weight == 0 || max_weight == 0) {
    return 0;
  }
  const Uint128 scaled = static_cast<Uint128>(weight) * PRIORITY_SPAN / max_weight;
  return static_cast<std::uint8_t>(PRIORITY_BASE + static_cast<std::uint64_t>(scaled));
}

// A row's place in the order by code: the first HEAD_BYTES code bytes packed big-endian and
// zero-padded, so that most comparisons are one integer comparison. Codes hold no zero byte (they
// passed the alphabet), so equal heads of codes no longer than HEAD_BYTES mean equal codes. In
// 12 bytes: the row's top bit says whether its code is longer than the head.
struct CodeKey {
  std::uint32_t head_high;
  std::uint32_t head_low;
  std::uint32_t row_and_long;

  std::uint64_t head() const { return std::uint64_t{head_high} << 32 | head_low; }
  std::uint32_t row() const { return row_and_long & ~LONG_CODE; }
  bool long_code() const { return (row_and_long & LONG_CODE) != 0; }

  static constexpr std::uint32_t LONG_CODE = std::uint32_t{1} << 31;
};
static_assert(sizeof(CodeKey) == 12);

constexpr std::size_t HEAD_BYTES = sizeof(std::uint64_t);
// Rows are numbered below the long-code bit.
constexpr std::size_t MAX_ROWS = CodeKey::LONG_CODE;

CodeKey key_of(std::string_view code, std::uint32_t row) {
  std::uint64_t head = 0;
  for (std::size_t k = 0; k < HEAD_BYTES; ++k) {
    head = (head << 8) | (k < code.size() ? static_cast<std::uint8_t>(code[k]) : 0);
  }
  return {static_cast<std::uint32_t>(head >> 32), static_cast<std::uint32_t>(head),
          row | (code.size() > HEAD_BYTES ? CodeKey::LONG_CODE : 0)};
}

// A stable sort for the few candidates most codes have: insertion, with none of the buffer
// std::stable_sort allocates on every call.
template <typename Range, typename Before>
void stable_sort_few(Range&& range, Before&& before) {
  constexpr std::ptrdiff_t FEW = 16;
  const auto first = std::ranges::begin(range);
  const auto last = std::ranges::end(range);
  if (last - first > FEW) {
    std::stable_sort(first, last, before);
    return;
  }
  for (auto next = first; next != last; ++next) {
    const auto value = *next;
    auto hole = next;
    for (; hole != first && before(value, *(hole - 1)); --hole) {
      *hole = *(hole - 1);
    }
    *hole = value;
  }
}

// A half of the keys in at most this many ordered runs is merged run by run.
constexpr std::size_t MAX_MERGED_RUNS = 256;

// Below this many rows a second thread costs more than it saves.
constexpr std::size_t PARALLEL_SORT_ROWS = 1 << 15;

// The rows that survive merging, in final order: grouped by code in byte-wise order, each code's
// rows in first-seen order, or by weight (largest first, stable) when weighted. A repeated
// (code, text) keeps its first row; when weighted a strictly heavier repeat hands that row its
// weight and pin.
std::vector<std::uint32_t> merge_rows(const std::vector<TableEntry>& entries,
                                      import_detail::RowWeights& weights, std::vector<bool>& pinned,
                                      bool weighted) {
  std::vector<CodeKey> keys(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    keys[i] = key_of(entries[i].code, static_cast<std::uint32_t>(i));
  }
  const auto long_codes = [](const CodeKey& a, const CodeKey& b) {
    return a.long_code() || b.long_code();
  };
  const auto by_code_then_row = [&](const CodeKey& a, const CodeKey& b) {
    if (a.head_high != b.head_high) {
      return a.head_high < b.head_high;
    }
    if (a.head_low != b.head_low) {
      return a.head_low < b.head_low;
    }
    if (long_codes(a, b)) {
      if (const int c = entries[a.row()].code.compare(entries[b.row()].code); c != 0) {
        return c < 0;
      }
    }
    return a.row() < b.row();
  };
  const auto same_code = [&](const CodeKey& a, const CodeKey& b) {
    return a.head() == b.head() &&
           (!long_codes(a, b) || entries[a.row()].code == entries[b.row()].code);
  };
  // The halves are sorted side by side and then walked together, so that two cores share the
  // sort and no merged list is made. Tables are mostly written in code order: a half made of a
  // few ordered runs has them merged instead of being sorted.
  const std::size_t half = keys.size() / 2;
  if (!std::ranges::is_sorted(keys, by_code_then_row)) {
    const auto sort_keys = [&](std::size_t from, std::size_t to) {
      const auto first = keys.begin() + static_cast<std::ptrdiff_t>(from);
      const auto last = keys.begin() + static_cast<std::ptrdiff_t>(to);
      std::vector<std::vector<CodeKey>::iterator> runs{first};
      while (runs.back() != last && runs.size() <= MAX_MERGED_RUNS) {
        runs.push_back(std::is_sorted_until(runs.back(), last, by_code_then_row));
      }
      if (runs.back() != last) {
        std::sort(first, last, by_code_then_row);
        return;
      }
      while (runs.size() > 2) {
        std::size_t kept = 0;
        for (std::size_t i = 0; i + 2 < runs.size(); i += 2) {
          std::inplace_merge(runs[i], runs[i + 1], runs[i + 2], by_code_then_row);
          runs[kept++] = runs[i];
        }
        if (runs.size() % 2 == 0) {
          runs[kept++] = runs[runs.size() - 2];
        }
        runs[kept++] = last;
        runs.resize(kept);
      }
    };
    run_side_by_side(
        keys.size() >= PARALLEL_SORT_ROWS, [&] { sort_keys(0, half); },
        [&] { sort_keys(half, keys.size()); });
  }
  std::size_t next_lower = 0;
  std::size_t next_upper = half;
  const auto next_key = [&](CodeKey& key) {
    if (next_lower < half &&
        (next_upper == keys.size() || by_code_then_row(keys[next_lower], keys[next_upper]))) {
      key = keys[next_lower++];
      return true;
    }
    if (next_upper < keys.size()) {
      key = keys[next_upper++];
      return true;
    }
    return false;
  };

  std::vector<std::uint32_t> order;
  order.reserve(keys.size());
  std::vector<std::uint32_t> by_text;  // the rows of one code
  CodeKey key{};
  for (bool more = next_key(key); more;) {
    const CodeKey first = key;
    by_text.assign(1, first.row());
    while ((more = next_key(key)) && same_code(first, key)) {
      by_text.push_back(key.row());
    }
    if (by_text.size() == 1) {
      order.push_back(first.row());
      continue;
    }
    // Sorting this code's rows by (text, row) brings repeats together behind their first row.
    std::ranges::sort(by_text, [&](std::uint32_t a, std::uint32_t b) {
      if (const int c = entries[a].text.compare(entries[b].text); c != 0) {
        return c < 0;
      }
      return a < b;
    });
    const std::size_t group_start = order.size();
    for (std::size_t i = 0; i < by_text.size();) {
      const std::uint32_t first = by_text[i];
      std::size_t j = i + 1;
      for (; j < by_text.size() && entries[by_text[j]].text == entries[first].text; ++j) {
        const std::uint32_t later = by_text[j];
        if (weighted && weights[later] > weights[first]) {
          weights.set(first, weights[later]);
          pinned[first] = pinned[later];
        }
      }
      order.push_back(first);
      i = j;
    }
    const auto group = std::ranges::subrange(
        order.begin() + static_cast<std::ptrdiff_t>(group_start), order.end());
    std::ranges::sort(group);
    if (weighted) {
      stable_sort_few(group,
                      [&](std::uint32_t a, std::uint32_t b) { return weights[a] > weights[b]; });
    }
  }
  return order;
}

// Moves the rows listed in `order` to the front, in that order, and drops all others; in place,
// so that no second list of entries is ever held. Each step swaps the wanted row into place; the
// steps do not wait on one another, so their memory accesses overlap. A placed row takes
// `priority_of_row(row)`, set while it is at hand.
template <typename PriorityOfRow>
void place_rows(std::vector<TableEntry>& entries, const std::vector<std::uint32_t>& order,
                PriorityOfRow&& priority_of_row) {
  std::vector<std::uint32_t> slot_of(entries.size());  // row -> where it is now
  std::vector<std::uint32_t> row_at(entries.size());   // place -> the row now there
  std::iota(slot_of.begin(), slot_of.end(), 0U);
  std::iota(row_at.begin(), row_at.end(), 0U);
  // The steps' memory is random: fetching a few steps ahead keeps several reads in flight.
  constexpr std::size_t AHEAD = 16;
  for (std::size_t place = 0; place < order.size(); ++place) {
    if (place + AHEAD < order.size()) {
      __builtin_prefetch(&slot_of[order[place + AHEAD]]);
      __builtin_prefetch(&entries[slot_of[order[place + AHEAD / 2]]]);
    }
    const std::uint32_t wanted = order[place];
    const std::uint32_t slot = slot_of[wanted];
    if (slot != place) {
      std::swap(entries[place], entries[slot]);
      const std::uint32_t displaced = row_at[place];
      slot_of[displaced] = slot;
      row_at[slot] = displaced;
    }
    entries[place].priority = priority_of_row(wanted);
  }
  entries.erase(entries.begin() + static_cast<std::ptrdiff_t>(order.size()), entries.end());
}

}  // namespace

std::expected<CodeTable, TableError> finish_table(std::string description,
                                                  std::vector<ImportRecord> records,
                                                  std::string_view alphabet,
                                                  std::vector<std::string> phrase_rules,
                                                  bool weighted) {
  import_detail::ImportRows rows(weighted);
  rows.reserve(records.size());
  for (ImportRecord& record : records) {
    rows.add(record.code, record.text, record.weight, record.pinned);
  }
  records = {};
  return import_detail::finish_rows(std::move(description), std::move(rows), alphabet,
                                    std::move(phrase_rules));
}

namespace import_detail {

std::expected<CodeTable, TableError> finish_rows(std::string description, ImportRows rows,
                                                 std::string_view alphabet,
                                                 std::vector<std::string> phrase_rules) {
  const bool weighted = rows.weighted();
  std::vector<TableEntry>& entries = rows.entries();
  import_detail::RowWeights& weights = rows.weights();
  std::vector<bool>& pinned = rows.pinned();
  if (auto valid = validate_alphabet(alphabet); !valid) {
    return std::unexpected(valid.error());
  }
  std::array<bool, 256> in_alphabet{};
  for (char c : alphabet) {
    in_alphabet[static_cast<unsigned char>(c)] = true;
  }
  for (const TableEntry& row : entries) {
    for (char c : row.code) {
      if (!in_alphabet[static_cast<unsigned char>(c)]) {
        return std::unexpected(TableError::invalid_entry(
            std::string(row.code.view()), std::string(REASON_CODE_OUTSIDE_ALPHABET)));
      }
    }
  }

  if (entries.size() >= MAX_ROWS) {
    return std::unexpected(TableError::invalid_entry(std::string(entries[MAX_ROWS].code.view()),
                                                     std::string(REASON_TOO_MANY_ROWS)));
  }
  std::vector<std::uint32_t> order = merge_rows(entries, weights, pinned, weighted);
  if (order.empty()) {
    return std::unexpected(TableError::empty_table());
  }
  // A merged row holds the heaviest weight of its repeats, so the heaviest of all rows is the
  // heaviest kept, found in one pass in row order.
  std::uint64_t max_weight = 0;
  for (std::size_t row = 0; row < entries.size(); ++row) {
    max_weight = std::max(max_weight, weights[row]);
  }
  place_rows(entries, order, [&](std::uint32_t row) {
    return priority_of(weights[row], pinned[row], weighted, max_weight);
  });
  weights.release();
  pinned = {};
  // Rows were reserved one per line; when merging dropped most of them, the table keeps only
  // what it holds.
  if (entries.size() < entries.capacity() / 2) {
    entries.shrink_to_fit();
  }

  CodeTable table;
  table.description = std::move(description);
  table.alphabet = std::string(alphabet);
  table.phrase_rules = std::move(phrase_rules);
  table.entries = std::move(entries);
  return table;
}

}  // namespace import_detail

}  // namespace qovira
