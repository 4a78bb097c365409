// Rime .dict.yaml dictionaries: the small YAML subset their headers use (name, sort, columns, the
// encoder's length rules) and a tab-separated body whose bad rows are skipped and counted.
#include <algorithm>
#include <array>
#include <cstdint>
#include <expected>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "import_common.h"
#include "qovira/table/import.h"
#include "qovira/table/text.h"

namespace qovira {
namespace {

constexpr std::string_view SKIP_MISSING_TEXT = "缺少 text 文字列";
constexpr std::string_view SKIP_MISSING_CODE = "缺少 code 编码列";
constexpr std::string_view SKIP_EMPTY_CODE = "编码为空";
constexpr std::string_view SKIP_BAD_CODE_CHARACTER = "只支持小写字母、空格分隔的音节和 , . ; /";
constexpr std::string_view SKIP_CODE_TOO_LONG = "编码长度超过 255";
constexpr std::string_view SKIP_TEXT_LENGTH = "词条 UTF-16 长度必须为 1–255 字节";
constexpr std::string_view DESCRIPTION_PREFIX = "Rime 词典：";
constexpr std::string_view UNNAMED_DICTIONARY = "未命名词典";
constexpr std::string_view TABLE_ONLY_MARKER_LINE = "[lanqi-phrase-codes:table-only-v1]";

constexpr std::string_view LETTERS = "abcdefghijklmnopqrstuvwxyz";
// In the order they join the alphabet.
constexpr std::string_view CODE_PUNCTUATION = ",.;/";
constexpr std::size_t MAX_CODE_LENGTH = 255;
// A .mb text field holds at most 255 bytes of UTF-16.
constexpr std::size_t MAX_TEXT_UTF16_UNITS = 127;
// Up to this many bad rows are never "too many".
constexpr std::uint64_t TOLERATED_INVALID_ROWS = 100;
constexpr std::uint64_t VALID_ROWS_PER_INVALID = 10;

enum class Phase : std::uint8_t { BeforeHeader, Header, Body };

struct ColumnLayout {
  std::size_t text = 0;
  std::size_t code = 1;
  std::optional<std::size_t> weight = 2;
};

struct RowFields {
  std::optional<std::string_view> text;
  std::optional<std::string_view> code;
  std::optional<std::string_view> weight;
};

struct PendingLength {
  std::uint64_t length = 0;
  bool or_more = false;
};

std::string_view strip_char(std::string_view text, char c) {
  while (!text.empty() && text.front() == c) {
    text.remove_prefix(1);
  }
  while (!text.empty() && text.back() == c) {
    text.remove_suffix(1);
  }
  return text;
}

// Strips quote marks of either kind from both ends, in any mix.
std::string_view strip_quotes(std::string_view text) {
  const auto is_quote = [](char c) { return c == '"' || c == '\''; };
  while (!text.empty() && is_quote(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && is_quote(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

bool is_ascii_letter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// The value after `key` when `content` starts with it, trimmed.
std::optional<std::string_view> value_after(std::string_view content, std::string_view key) {
  if (!content.starts_with(key)) {
    return std::nullopt;
  }
  return trim(content.substr(key.size()));
}

std::optional<std::size_t> position_of(const std::vector<std::string>& columns,
                                       std::string_view name) {
  for (std::size_t i = 0; i < columns.size(); ++i) {
    if (columns[i] == name) {
      return i;
    }
  }
  return std::nullopt;
}

RowFields pick_fields(std::string_view row, const ColumnLayout& layout) {
  RowFields fields;
  std::size_t start = 0;
  for (std::size_t index = 0;; ++index) {
    const std::size_t end = row.find('\t', start);
    const std::string_view piece =
        row.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (index == layout.text) {
      fields.text = piece;
    }
    if (index == layout.code) {
      fields.code = piece;
    }
    if (index == layout.weight) {
      fields.weight = piece;
    }
    if (end == std::string_view::npos) {
      return fields;
    }
    start = end + 1;
  }
}

// The code with every white-space character removed, so syllables written apart join up.
std::string join_code(std::string_view raw) {
  // Nearly every code is printable ASCII, which holds no white space: taken whole.
  if (std::ranges::all_of(raw, [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte > 0x20 && byte < 0x80;
      })) {
    return std::string(raw);
  }
  std::string joined;
  for (std::size_t pos = 0; pos < raw.size();) {
    const std::size_t start = pos;
    if (!is_white_space(next_char(raw, pos))) {
      joined.append(raw.substr(start, pos - start));
    }
  }
  return joined;
}

std::uint64_t saturating_multiply(std::uint64_t a, std::uint64_t b) {
  constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  return b != 0 && a > max / b ? max : a * b;
}

class RimeReader {
 public:
  // A reader for the header alone.
  RimeReader() = default;
  explicit RimeReader(std::string_view text) { rows_.reserve_for_lines_of(text); }

  bool in_body() const { return phase_ == Phase::Body; }
  const ColumnLayout& layout() const { return layout_; }
  bool weighted() const { return weighted_; }

  void read_line(std::string_view line) {
    ++line_number_;
    switch (phase_) {
      case Phase::BeforeHeader:
        if (trim(line) == "---") {
          phase_ = Phase::Header;
        }
        return;
      case Phase::Header:
        if (trim(line) == "...") {
          start_body();
        } else {
          read_header_line(line);
        }
        return;
      case Phase::Body:
        read_body_line(line);
        return;
    }
  }

  std::expected<RimeImport, TableError> finish() && {
    if (phase_ != Phase::Body) {
      return std::unexpected(TableError::not_rime_dict());
    }
    const std::uint64_t invalid = skipped_.total;
    const std::uint64_t valid = rows_.size();
    if (invalid > TOLERATED_INVALID_ROWS &&
        saturating_multiply(invalid, VALID_ROWS_PER_INVALID) > std::max<std::uint64_t>(valid, 1)) {
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

    std::string description(DESCRIPTION_PREFIX);
    description += name_.value_or(UNNAMED_DICTIONARY);
    if (table_only_marker_) {
      description += '\n';
      description += TABLE_ONLY_MARKER_LINE;
    }

    auto table = import_detail::finish_rows(std::move(description), std::move(rows_), alphabet,
                                            {std::string(DEFAULT_PHRASE_RULE)}, weighted_);
    if (!table) {
      return std::unexpected(std::move(table.error()));
    }
    RimeImport result;
    result.code_table = std::move(*table);
    result.length_rules =
        import_detail::render_length_rules(std::move(equal_rules_), std::move(range_rules_));
    result.skipped = std::move(skipped_);
    return result;
  }

 private:
  static std::size_t punctuation_slot(char mark) { return CODE_PUNCTUATION.find(mark); }

  void start_body() {
    phase_ = Phase::Body;
    if (columns_.empty()) {
      return;
    }
    layout_.text = position_of(columns_, "text").value_or(0);
    layout_.code = position_of(columns_, "code").value_or(1);
    layout_.weight = position_of(columns_, "weight");
  }

  void read_header_line(std::string_view line) {
    const std::string_view content = trim(line.substr(0, line.find('#')));
    const bool indented = !line.empty() && (line.front() == ' ' || line.front() == '\t');
    if (in_encoder_ && indented) {
      read_encoder_line(content);
      return;
    }
    if (!indented) {
      in_encoder_ = false;
      rules_on_ = false;
      pending_length_.reset();
    }
    if (content == "encoder:") {
      in_encoder_ = true;
      return;
    }
    if (content == "columns:") {
      columns_open_ = true;
      return;
    }
    if (columns_open_) {
      if (content.starts_with('-')) {
        columns_.push_back(ascii_lower(trim(strip_leading_dashes(content))));
        return;
      }
      columns_open_ = false;
    }
    read_key_value(content);
  }

  static std::string_view strip_leading_dashes(std::string_view text) {
    return text.substr(std::min(text.find_first_not_of('-'), text.size()));
  }

  void read_key_value(std::string_view content) {
    const std::size_t colon = content.find(':');
    if (colon == std::string_view::npos) {
      return;
    }
    const std::string_view key = trim(content.substr(0, colon));
    const std::string_view value = trim(content.substr(colon + 1));
    if (key == "name") {
      name_ = strip_char(strip_char(value, '"'), '\'');
    } else if (key == "lanqi_phrase_codes") {
      table_only_marker_ = strip_char(value, '"') == "table_only";
    } else if (key == "sort") {
      weighted_ = !equals_ignoring_ascii_case(value, "original");
    }
  }

  void read_encoder_line(std::string_view content) {
    if (content == "rules:") {
      rules_on_ = true;
      return;
    }
    if (!rules_on_) {
      return;
    }
    if (content.starts_with("- ")) {
      content = trim(content.substr(2));
    }
    if (const auto value = value_after(content, "length_equal:")) {
      if (const auto length = parse_unsigned(*value)) {
        pending_length_ = PendingLength{*length, false};
      }
    } else if (const auto range = value_after(content, "length_in_range:")) {
      // "[4, 10]": only the lower bound matters.
      std::string_view lower = *range;
      lower.remove_prefix(std::min(lower.find_first_not_of('['), lower.size()));
      lower = trim(lower.substr(0, lower.find(',')));
      if (const auto length = parse_unsigned(lower)) {
        pending_length_ = PendingLength{*length, true};
      }
    } else if (const auto formula = value_after(content, "formula:")) {
      accept_formula(strip_quotes(*formula));
    }
  }

  void accept_formula(std::string_view formula) {
    // An empty formula says nothing about how to build a phrase, so it binds no length.
    if (formula.empty() || !std::ranges::all_of(formula, is_ascii_letter) || !pending_length_) {
      return;
    }
    auto& rules = pending_length_->or_more ? range_rules_ : equal_rules_;
    rules.push_back({pending_length_->length, std::string(formula)});
    pending_length_.reset();
  }

  void read_body_line(std::string_view line) {
    const std::string_view trimmed = trim(line);
    if (trimmed.empty() || trimmed.starts_with('#')) {
      return;
    }
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) {
      line.remove_suffix(1);
    }
    const RowFields fields = pick_fields(line, layout_);
    if (!fields.text || fields.text->empty()) {
      skipped_.add(line_number_, fields.code.value_or(std::string_view{}), SKIP_MISSING_TEXT);
      return;
    }
    if (!fields.code || fields.code->empty()) {
      skipped_.add(line_number_, {}, SKIP_MISSING_CODE);
      return;
    }
    const std::uint64_t weight = fields.weight ? import_detail::parse_weight(*fields.weight) : 0;

    std::string code = join_code(*fields.code);
    if (code.empty()) {
      skipped_.add(line_number_, *fields.code, SKIP_EMPTY_CODE);
      return;
    }
    std::array<bool, CODE_PUNCTUATION.size()> punctuation{};
    for (const char c : code) {
      if (c >= 'a' && c <= 'z') {
        continue;
      }
      const std::size_t slot = punctuation_slot(c);
      if (slot == std::string_view::npos) {
        skipped_.add(line_number_, code, SKIP_BAD_CODE_CHARACTER);
        return;
      }
      punctuation[slot] = true;
    }
    if (code.size() > MAX_CODE_LENGTH) {
      skipped_.add(line_number_, code, SKIP_CODE_TOO_LONG);
      return;
    }
    if (utf16_length(*fields.text) > MAX_TEXT_UTF16_UNITS) {
      skipped_.add(line_number_, code, SKIP_TEXT_LENGTH);
      return;
    }
    for (std::size_t slot = 0; slot < punctuation.size(); ++slot) {
      punctuation_used_[slot] = punctuation_used_[slot] || punctuation[slot];
    }
    rows_.add(std::move(code), std::string(*fields.text), weight, false);
  }

  Phase phase_ = Phase::BeforeHeader;
  std::uint64_t line_number_ = 0;

  std::optional<std::string_view> name_;
  bool weighted_ = true;
  bool table_only_marker_ = false;
  std::vector<std::string> columns_;
  bool columns_open_ = false;
  bool in_encoder_ = false;
  bool rules_on_ = false;
  std::optional<PendingLength> pending_length_;
  std::vector<import_detail::LengthRule> equal_rules_;
  std::vector<import_detail::LengthRule> range_rules_;

  ColumnLayout layout_;
  SkipLog skipped_;
  import_detail::ImportRows rows_;
  std::array<bool, CODE_PUNCTUATION.size()> punctuation_used_{};
};

}  // namespace

RimeRowLayout rime_row_layout(std::span<const std::string_view> lines) {
  RimeReader reader;
  for (const std::string_view line : lines) {
    if (reader.in_body()) {
      break;
    }
    reader.read_line(line);
  }
  return {reader.layout().text, reader.layout().code, reader.layout().weight, reader.weighted()};
}

std::expected<RimeImport, TableError> import_rime(std::string_view text) {
  RimeReader reader(text);
  for_each_line(text, [&reader](std::string_view line) { reader.read_line(line); });
  return std::move(reader).finish();
}

}  // namespace qovira
