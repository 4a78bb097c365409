// The one reading of a table's text: the Rime header (the small YAML subset dictionaries use), the
// 冰凌 sections and settings, and the columns of every body line.
#include "qovira/table/table_text.h"

#include <algorithm>
#include <string>
#include <string_view>
#include <utility>

#include "qovira/table/ascii.h"
#include "qovira/table/lines.h"
#include "qovira/table/utf8.h"
#include "qovira/table/white_space.h"

namespace qovira {
namespace {

constexpr char PIN_MARK = '*';
// A walk over the lines reports its progress, and sees whether it is cancelled, once per this many.
constexpr std::uint64_t PROGRESS_LINES = 4096;

std::string_view strip_leading_dashes(std::string_view text) {
  return text.substr(std::min(text.find_first_not_of('-'), text.size()));
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
  const auto found = std::ranges::find(columns, name);
  if (found == columns.end()) {
    return std::nullopt;
  }
  return static_cast<std::size_t>(found - columns.begin());
}

TextLine plain_line(std::string_view raw, std::uint64_t number, LineKind kind) {
  TextLine line;
  line.number = number;
  line.kind = kind;
  line.raw = raw;
  return line;
}

bool is_section_line(std::string_view trimmed) {
  return trimmed.starts_with('[') && trimmed.ends_with(']');
}

// The header of a Rime dictionary, read line by line until its "..." line.
class RimeHeaderReader {
 public:
  explicit RimeHeaderReader(RimeHeader& header) : header_(header) {}

  std::vector<std::string> columns;
  bool weighted = true;

  void read_line(std::string_view line) {
    const std::string_view content = trim(line.substr(0, line.find('#')));
    const bool indented = !line.empty() && (line.front() == ' ' || line.front() == '\t');
    if (in_encoder_ && indented) {
      read_encoder_line(content);
      return;
    }
    if (!indented) {
      in_encoder_ = false;
      rules_on_ = false;
      pending_.reset();
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
        columns.push_back(ascii_lower(trim(strip_leading_dashes(content))));
        return;
      }
      columns_open_ = false;
    }
    read_key_value(content);
  }

 private:
  static std::string_view strip_char(std::string_view text, char c) {
    while (!text.empty() && text.front() == c) {
      text.remove_prefix(1);
    }
    while (!text.empty() && text.back() == c) {
      text.remove_suffix(1);
    }
    return text;
  }

  // Strips quote marks of either kind from both ends, in any mix.
  static std::string_view strip_quotes(std::string_view text) {
    const auto is_quote = [](char c) { return c == '"' || c == '\''; };
    while (!text.empty() && is_quote(text.front())) {
      text.remove_prefix(1);
    }
    while (!text.empty() && is_quote(text.back())) {
      text.remove_suffix(1);
    }
    return text;
  }

  void read_key_value(std::string_view content) {
    const std::size_t colon = content.find(':');
    if (colon == std::string_view::npos) {
      return;
    }
    const std::string_view key = trim(content.substr(0, colon));
    const std::string_view value = trim(content.substr(colon + 1));
    if (key == "name") {
      header_.name = rime_name_value(value);
    } else if (key == "lanqi_phrase_codes") {
      header_.table_only_marker = strip_char(value, '"') == "table_only";
    } else if (key == "sort") {
      weighted = !equals_ignoring_ascii_case(value, "original");
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
        pending_ = RimeHeader::LengthRule{*length, false, {}};
      }
    } else if (const auto range = value_after(content, "length_in_range:")) {
      // "[4, 10]": only the lower bound matters.
      std::string_view lower = *range;
      lower.remove_prefix(std::min(lower.find_first_not_of('['), lower.size()));
      lower = trim(lower.substr(0, lower.find(',')));
      if (const auto length = parse_unsigned(lower)) {
        pending_ = RimeHeader::LengthRule{*length, true, {}};
      }
    } else if (const auto formula = value_after(content, "formula:")) {
      accept_formula(strip_quotes(*formula));
    }
  }

  void accept_formula(std::string_view formula) {
    const auto is_ascii_letter = [](char c) {
      return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    };
    // An empty formula says nothing about how to build a phrase, so it binds no length.
    if (formula.empty() || !std::ranges::all_of(formula, is_ascii_letter) || !pending_) {
      return;
    }
    pending_->formula = formula;
    header_.length_rules.push_back(*pending_);
    pending_.reset();
  }

  RimeHeader& header_;
  bool columns_open_ = false;
  bool in_encoder_ = false;
  bool rules_on_ = false;
  std::optional<RimeHeader::LengthRule> pending_;
};

// One step of the search for the Rime header's end; true once the header has ended.
bool rime_header_step(std::string_view line, bool& started) {
  const std::string_view trimmed = trim(line);
  if (trimmed == RIME_HEADER_START) {
    started = true;
  } else if (started && trimmed == RIME_HEADER_END) {
    return true;
  }
  return false;
}

}  // namespace

RimeHeaderEnd find_rime_header_end(std::string_view text) {
  LineCursor cursor(text);
  std::string_view line;
  bool started = false;
  std::uint64_t number = 0;
  while (cursor.next(line)) {
    ++number;
    if (rime_header_step(line, started)) {
      return {true, number};
    }
  }
  return {false, number};
}

std::string_view rime_name_value(std::string_view value) {
  for (const char quote : {'"', '\''}) {
    while (!value.empty() && value.front() == quote) {
      value.remove_prefix(1);
    }
    while (!value.empty() && value.back() == quote) {
      value.remove_suffix(1);
    }
  }
  return value;
}

std::string join_code(std::string_view code) {
  // Nearly every code is printable ASCII, which holds no white space: taken whole.
  if (std::ranges::all_of(code, [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte > 0x20 && byte < 0x80;
      })) {
    return std::string(code);
  }
  std::string joined;
  for (std::size_t pos = 0; pos < code.size();) {
    const std::size_t start = pos;
    if (!is_white_space(next_char(code, pos))) {
      joined.append(code.substr(start, pos - start));
    }
  }
  return joined;
}

TableText TableText::read(std::string_view text, TableFormat format, Progress* progress) {
  TableText table;
  table.text_ = text;
  table.format_ = format;
  table.progress_ = progress;
  if (format == TableFormat::Rime) {
    table.read_rime_header();
  } else if (format == TableFormat::Bingling) {
    table.columns_ = {.text = 1, .code = 0, .weight = 2};
    table.read_bingling_sections();
  } else {
    table.has_body_ = true;
  }
  return table;
}

void TableText::read_rime_header() {
  RimeHeaderReader reader(rime_header_);
  LineCursor cursor(text_);
  std::string_view line;
  bool started = false;
  std::uint64_t number = 0;
  while (cursor.next(line)) {
    ++number;
    const bool was_started = started;
    if (rime_header_step(line, started)) {
      has_body_ = true;
      break;
    }
    if (was_started) {
      reader.read_line(line);
    }
  }
  header_lines_ = number;
  weighted_ = reader.weighted;
  if (!reader.columns.empty()) {
    columns_.text = position_of(reader.columns, "text").value_or(0);
    columns_.code = position_of(reader.columns, "code").value_or(1);
    columns_.weight = position_of(reader.columns, "weight");
  }
}

void TableText::read_bingling_sections() {
  enum class Section : std::uint8_t { None, Header, Body, Other };
  Section section = Section::None;
  bool header_seen = false;
  bool body_seen = false;
  LineCursor cursor(text_);
  std::string_view raw;
  while (cursor.next(raw)) {
    const std::string_view line = trim(raw);
    if (line.empty() || line.starts_with('#') || line.starts_with(';')) {
      continue;
    }
    if (is_section_line(line)) {
      if (equals_ignoring_ascii_case(line, BINGLING_BODY_SECTION)) {
        section = Section::Body;
        body_seen = true;
      } else if (equals_ignoring_ascii_case(line, BINGLING_HEADER_SECTION)) {
        section = Section::Header;
        header_seen = true;
      } else {
        section = Section::Other;
      }
      continue;
    }
    if (section != Section::Header) {
      continue;
    }
    const std::size_t equals = line.find('=');
    if (equals != std::string_view::npos) {
      settings_.insert_or_assign(ascii_lower(trim(line.substr(0, equals))),
                                 trim(line.substr(equals + 1)));
    }
  }
  has_body_ = header_seen && body_seen;
}

TextLine TableText::read_body_line(std::string_view raw, std::uint64_t number) const {
  TextLine line = plain_line(raw, number, LineKind::Blank);
  const std::string_view trimmed = trim(raw);
  if (trimmed.empty()) {
    return line;
  }
  if (trimmed.starts_with('#') || (format_ == TableFormat::Bingling && trimmed.starts_with(';'))) {
    line.kind = LineKind::Comment;
    return line;
  }
  if (format_ == TableFormat::Bingling) {
    if (is_section_line(trimmed)) {
      line.kind = LineKind::Section;
      return line;
    }
    // The importer cuts the trimmed line and trims each of its first three pieces.
    for_each_column(trimmed, [&line](std::size_t index, std::string_view piece) {
      piece = trim(piece);
      if (index == 0) {
        line.has_code = true;
        line.code = piece;
      } else if (index == 1) {
        line.has_text = true;
        line.text = piece;
      } else {
        line.weight = piece;
      }
      return index < 2;
    });
    if (line.code.size() > 1 && line.code.back() == PIN_MARK) {
      line.code.remove_suffix(1);
      line.pinned = true;
    } else if (line.code == "*") {
      line.code = line.code.substr(0, 0);
      line.pinned = true;
    }
  } else {
    std::string_view row = raw;
    while (!row.empty() && (row.back() == '\r' || row.back() == '\n')) {
      row.remove_suffix(1);
    }
    const std::size_t last = std::max({columns_.text, columns_.code, columns_.weight.value_or(0)});
    for_each_column(row, [&](std::size_t index, std::string_view piece) {
      if (index == columns_.text) {
        line.has_text = true;
        line.text = piece;
      }
      if (index == columns_.code) {
        line.has_code = true;
        line.code = piece;
      }
      if (index == columns_.weight) {
        line.weight = piece;
      }
      return index < last;
    });
  }
  line.kind = line.has_text && line.has_code ? LineKind::Entry : LineKind::Malformed;
  return line;
}

TableText::Cursor::Cursor(const TableText& table)
    : table_(table), rest_(table.text_), in_body_(table.format_ == TableFormat::Unknown) {}

bool TableText::Cursor::next(TextLine& line) {
  LineCursor cutter(rest_);
  std::string_view raw;
  if (!cutter.next(raw)) {
    return false;
  }
  rest_ = cutter.rest();
  ++number_;
  if (table_.progress_ != nullptr && number_ % PROGRESS_LINES == 0) {
    if (table_.progress_->cancelled()) {
      return false;
    }
    table_.progress_->report(table_.text_.size() - rest_.size(), table_.text_.size());
  }
  if (table_.format_ == TableFormat::Bingling) {
    line = table_.read_body_line(raw, number_);
    if (line.kind == LineKind::Section) {
      in_body_ = equals_ignoring_ascii_case(trim(raw), BINGLING_BODY_SECTION);
      in_settings_ = equals_ignoring_ascii_case(trim(raw), BINGLING_HEADER_SECTION);
    } else if (!in_body_ && line.kind != LineKind::Blank && line.kind != LineKind::Comment) {
      line = plain_line(raw, number_, in_settings_ ? LineKind::Setting : LineKind::Header);
    }
    return true;
  }
  if (!in_body_) {
    line = plain_line(raw, number_, LineKind::Header);
    in_body_ = table_.has_body_ && number_ == table_.header_lines_;
    return true;
  }
  line = table_.read_body_line(raw, number_);
  return true;
}

}  // namespace qovira
