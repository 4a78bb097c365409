// Recognising a table file by its content.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "qovira/table/model.h"

namespace qovira {

enum class TableFormat : std::uint8_t { Rime, Bingling, Mb, Unknown };

// "Rime 词典（.dict.yaml）", "冰凌文本码表", "极点 .mb 二进制", "认不出来的格式".
std::string_view format_display_name(TableFormat format);

// `text` is the decoded content; callers pass an empty text for bytes with the .mb magic.
TableFormat detect_format(ByteView bytes, std::string_view text);

struct RimeHeaderEnd {
  bool found = false;
  // The 1-based number of the "..." line when found, else the number of lines.
  std::uint64_t line_count = 0;
};

RimeHeaderEnd find_rime_header_end(std::string_view text);
RimeHeaderEnd find_rime_header_end(std::span<const std::string_view> lines);

// Which tab-separated columns of an entry line hold the text, the code and the weight the import
// compares when it merges repeats (none when the table's weights do not count).
struct EntryColumns {
  std::size_t text = 0;
  std::size_t code = 1;
  std::optional<std::size_t> weight;
  TableFormat format = TableFormat::Rime;  // whose importer the texts are read for (entry_text)

  friend bool operator==(const EntryColumns&, const EntryColumns&) = default;
};

// The columns of a table's entry lines: 冰凌 code, text, weight; Rime text, code, weight, unless
// the dictionary's header (among `lines`) lists its columns in another order or is unweighted.
EntryColumns entry_columns(TableFormat format, std::span<const std::string_view> lines);

// An entry's text field as the format's importer counts it: trimmed, except that a Rime text of
// white space alone stays whole. The Rime importer reads texts untrimmed, and the full-width space
// "　" is a real entry of many tables.
std::string_view entry_text(std::string_view field, TableFormat format);

}  // namespace qovira
