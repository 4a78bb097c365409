// Rime .dict.yaml dictionaries: the small YAML subset their headers use (name, sort, columns, the
// encoder's length rules) and a tab-separated body whose bad rows are skipped and counted.
#include <algorithm>
#include <array>
#include <cstdint>
#include <expected>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "import_common.h"
#include "qovira/table/entry.h"
#include "qovira/table/import.h"

namespace qovira {
namespace {

constexpr std::string_view UNNAMED_DICTIONARY = "未命名词典";

constexpr std::string_view LETTERS = "abcdefghijklmnopqrstuvwxyz";
// In the order they join the alphabet.
constexpr std::string_view CODE_PUNCTUATION = ",.;/";
std::size_t punctuation_slot(char mark) {
  return CODE_PUNCTUATION.find(mark);
}

// Checks the body rows the model hands over, keeping the good ones and logging the rest.
class RimeRows {
 public:
  explicit RimeRows(const TableText& text) : reader_(text), rows_(text.weighted()) {
    rows_.reserve_for_lines_of(text.text());
  }

  void read(const TextLine& line) {
    if (line.kind != LineKind::Entry && line.kind != LineKind::Malformed) {
      return;
    }
    const EntryReading entry = reader_.read(line);
    if (!entry.accepted()) {
      skipped_.add(line.number, entry.code, refusal_reason(TableFormat::Rime, entry.refusal));
      return;
    }
    for (const char c : entry.code) {
      if (c < 'a' || c > 'z') {
        punctuation_used_[punctuation_slot(c)] = true;  // the reading took only code characters
      }
    }
    rows_.add(entry.code, entry.text, entry.weight, false);
  }

  std::expected<ReadRows, TableError> finish_reading(const TableText& text) && {
    const std::uint64_t invalid = skipped_.total;
    const std::uint64_t valid = rows_.records();
    if (too_many_invalid_rows(valid, invalid)) {
      return std::unexpected(TableError::too_many_invalid_records(valid, invalid));
    }

    std::string alphabet(LETTERS);
    for (const char mark : CODE_PUNCTUATION) {
      if (punctuation_used_[punctuation_slot(mark)]) {
        alphabet.push_back(mark);
      }
    }
    if (auto valid_alphabet = validate_alphabet(alphabet); !valid_alphabet) {
      return std::unexpected(std::move(valid_alphabet.error()));
    }

    const RimeHeader& header = text.rime_header();
    std::string description(RIME_DESCRIPTION_PREFIX);
    description += header.name.value_or(UNNAMED_DICTIONARY);
    if (header.table_only_marker) {
      description += '\n';
      description += RIME_TABLE_ONLY_MARKER_LINE;
    }

    std::vector<import_detail::LengthRule> equal_rules;
    std::vector<import_detail::LengthRule> range_rules;
    for (const RimeHeader::LengthRule& rule : header.length_rules) {
      (rule.or_more ? range_rules : equal_rules)
          .push_back({rule.length, std::string(rule.formula)});
    }
    auto read = std::make_unique<ReadRows::Contents>(
        ReadRows::Contents{.import = {},
                           .description = std::move(description),
                           .alphabet = std::move(alphabet),
                           .phrase_rules = {std::string(DEFAULT_PHRASE_RULE)},
                           .rows = std::move(rows_)});
    read->import.length_rules =
        import_detail::render_length_rules(std::move(equal_rules), std::move(range_rules));
    read->import.skipped = std::move(skipped_);
    return ReadRows(std::move(read));
  }

 private:
  EntryReader reader_;
  SkipLog skipped_;
  import_detail::ImportRows rows_;
  std::array<bool, CODE_PUNCTUATION.size()> punctuation_used_{};
};

}  // namespace

std::expected<ReadRows, TableError> read_rime_rows(const TableText& text) {
  if (!text.has_body()) {
    return std::unexpected(TableError::not_rime_dict());
  }
  RimeRows rows(text);
  text.for_each_line([&rows](const TextLine& line) { rows.read(line); });
  return std::move(rows).finish_reading(text);
}

std::expected<RimeImport, TableError> import_rime(std::string_view text) {
  auto read = read_rime_rows(TableText::read(text, TableFormat::Rime));
  if (!read) {
    return std::unexpected(std::move(read.error()));
  }
  return finish_import(std::move(*read));
}

}  // namespace qovira
