// Pieces both text importers share: weights and the rendering of per-length phrase formulas.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "qovira/table/text.h"

namespace qovira::import_detail {

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
