// A table written back as text: a Rime dictionary or a 冰凌 table whose import gives back every
// entry with its code, its text and its candidate order, and each priority wherever the format can
// carry it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "qovira/table/model.h"
#include "qovira/table/table_text.h"

namespace qovira {

// An entry the format cannot hold, and why. Nothing is ever dropped or changed to make it fit.
struct UnwritableEntry {
  TableFormat format = TableFormat::Rime;
  std::string code;
  std::string text;
  std::string reason;

  // "编码 {code}（词条「{text}」）写不进{format}：{reason}"
  std::string message() const;

  friend bool operator==(const UnwritableEntry&, const UnwritableEntry&) = default;
};

struct WrittenTableText {
  std::string text;
  // The source table as the text carries it: the same entries, grouped by code with every code's
  // candidates in their order, each with the priority the import gives back.
  CodeTable table;
  // Entries whose priority the format cannot carry: their order is kept, their priority is the
  // nearest the format can give in that place.
  std::uint64_t inexact_priorities = 0;
  // Where the entry lines begin in `text`: one line for each entry of `table`, in its order.
  std::size_t body_start = 0;
};

// "Rime 词典" or "冰凌码表", as messages name the text formats.
std::string_view text_format_label(TableFormat format);

// Writes the table as the text of `format` (Rime or Bingling). The weights are chosen so that the
// importer scores every entry as the table did; a 冰凌 table pins the entries of priority 254, and
// a Rime dictionary whose every priority is 100 is written unweighted (sort: original). Fails at
// once for an entry no line of the format can hold; the text is still to be proven by importing it.
std::expected<WrittenTableText, UnwritableEntry> write_table_text(CodeTable table,
                                                                  TableFormat format);

// Reads every line of a written text back through the format's entry reader: the first entry the
// importer would not take as it is, with the reader's reason, or nothing. For a text whose import
// does not prove it.
std::optional<UnwritableEntry> first_unwritable_entry(const WrittenTableText& written,
                                                      TableFormat format);

}  // namespace qovira
