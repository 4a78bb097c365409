// 冰凌 text code tables: an INI-like [CODETABLEHEADER] of key=value settings and a [CODETABLE] of
// tab-separated code, text and weight lines.
#include <algorithm>
#include <array>
#include <cstdint>
#include <expected>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "import_common.h"
#include "qovira/table/ascii.h"
#include "qovira/table/entry.h"
#include "qovira/table/import.h"
#include "qovira/table/message_text.h"
#include "qovira/table/utf8.h"
#include "qovira/table/white_space.h"

namespace qovira {
namespace {

constexpr std::string_view CODE_LENGTH_NOT_INTEGER = " 不是整数";
constexpr std::string_view CODE_LENGTH_OUT_OF_RANGE = " 超出 1 到 16";
constexpr std::string_view CODE_LENGTH_LABEL = "CodeLength=";

using HeaderMap = BinglingSettings;

char ascii_lower_char(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::optional<std::string_view> header_value(const HeaderMap& header, std::string_view key) {
  const auto found = header.find(key);
  if (found == header.end()) {
    return std::nullopt;
  }
  return found->second;
}

std::optional<std::string> non_empty(std::optional<std::string_view> value) {
  if (!value || value->empty()) {
    return std::nullopt;
  }
  return std::string(*value);
}

std::expected<std::optional<std::uint64_t>, TableError> code_length_from(
    std::optional<std::string_view> value) {
  if (!value) {
    return std::nullopt;
  }
  const auto length = parse_unsigned(*value);
  if (!length) {
    return std::unexpected(TableError::invalid_metadata(std::string(CODE_LENGTH_LABEL) +
                                                        shown_value(*value) +
                                                        std::string(CODE_LENGTH_NOT_INTEGER)));
  }
  if (*length < 1 || *length > BINGLING_MAX_CODE_LENGTH) {
    return std::unexpected(TableError::invalid_metadata(std::string(CODE_LENGTH_LABEL) +
                                                        std::to_string(*length) +
                                                        std::string(CODE_LENGTH_OUT_OF_RANGE)));
  }
  return *length;
}

// A formula such as "r11+r12+w21": groups of r/R/w/W, a digit 1-9 and a digit 0-9.
bool is_length_formula(std::string_view value) {
  std::string compact;
  for (std::size_t pos = 0; pos < value.size();) {
    const std::size_t start = pos;
    const char32_t c = next_char(value, pos);
    if (c != '+' && !is_white_space(c)) {
      compact.append(value.substr(start, pos - start));
    }
  }
  if (compact.empty() || compact.size() % 3 != 0) {
    return false;
  }
  for (std::size_t i = 0; i < compact.size(); i += 3) {
    const char kind = ascii_lower_char(compact[i]);
    const char first = compact[i + 1];
    const char second = compact[i + 2];
    if ((kind != 'r' && kind != 'w') || first < '1' || first > '9' || second < '0' ||
        second > '9') {
      return false;
    }
  }
  return true;
}

// Keys "pa{N}" (exactly N characters) and "pe{N}" (N or more) hold per-length phrase formulas.
std::vector<std::string> length_rules_from(const HeaderMap& header) {
  std::vector<import_detail::LengthRule> equal_rules;
  std::vector<import_detail::LengthRule> range_rules;
  for (const auto& [key, value] : header) {
    if (key.size() < 2 || key[0] != 'p' || (key[1] != 'a' && key[1] != 'e')) {
      continue;
    }
    const auto length = parse_unsigned(std::string_view(key).substr(2));
    if (!length || !is_length_formula(value)) {
      continue;
    }
    std::string formula(value);
    std::erase(formula, '+');
    (key[1] == 'a' ? equal_rules : range_rules).push_back({*length, std::move(formula)});
  }
  return import_detail::render_length_rules(std::move(equal_rules), std::move(range_rules));
}

// Checks the body lines the model hands over; the first bad code stops the import.
class BinglingRows {
 public:
  // 冰凌 weights always order candidates.
  explicit BinglingRows(const TableText& text) : reader_(text), rows_(true) {
    rows_.reserve_for_lines_of(text.text());
  }

  void read(const TextLine& line) {
    if (failure_ || line.kind != LineKind::Entry) {
      return;
    }
    const EntryReading entry = reader_.read(line);
    if (importer_takes(TableFormat::Bingling, entry.refusal)) {
      rows_.add(entry.code, entry.text, entry.weight, entry.pinned);
    } else if (refusal_blocks_import(TableFormat::Bingling, entry.refusal)) {
      failure_ = TableError::invalid_entry(
          std::string(entry.code),
          std::string(refusal_reason(TableFormat::Bingling, entry.refusal)));
    }
  }

  std::expected<ReadRows, TableError> finish_reading(const TableText& text) && {
    if (failure_) {
      return std::unexpected(std::move(*failure_));
    }
    if (!text.has_body()) {
      return std::unexpected(TableError::not_bingling_table());
    }
    const BinglingSettings& header = text.bingling_settings();
    auto code_length = code_length_from(header_value(header, "codelength"));
    if (!code_length) {
      return std::unexpected(std::move(code_length.error()));
    }
    const std::optional<std::string_view> phrase_rule = header_value(header, "phraserule");
    std::string description(BINGLING_DESCRIPTION_PREFIX);
    description += header_value(header, "name").value_or(BINGLING_UNNAMED_TABLE);
    std::string alphabet(
        header_value(header, "codecharacters").value_or(BINGLING_DEFAULT_ALPHABET));
    auto read = std::make_unique<ReadRows::Contents>(
        ReadRows::Contents{.import = {},
                           .description = std::move(description),
                           .alphabet = std::move(alphabet),
                           .phrase_rules = bingling_phrase_rules(phrase_rule),
                           .rows = std::move(rows_)});
    TableImport& result = read->import;
    result.length_rules = length_rules_from(header);
    result.code_length = *code_length;
    result.wildcard = non_empty(header_value(header, "wildchar"));
    result.special_prefix = non_empty(header_value(header, "specialprefix"));
    result.phrase_rule_text = non_empty(phrase_rule);
    return ReadRows(std::move(read));
  }

 private:
  EntryReader reader_;
  import_detail::ImportRows rows_;
  std::optional<TableError> failure_;
};

}  // namespace

std::expected<ReadRows, TableError> read_bingling_rows(const TableText& text) {
  BinglingRows rows(text);
  text.for_each_line([&rows](const TextLine& line) { rows.read(line); });
  return std::move(rows).finish_reading(text);
}

std::expected<BinglingImport, TableError> import_bingling(std::string_view text) {
  auto read = read_bingling_rows(TableText::read(text, TableFormat::Bingling));
  if (!read) {
    return std::unexpected(std::move(read.error()));
  }
  return finish_import(std::move(*read));
}

}  // namespace qovira
