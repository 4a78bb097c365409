// Where the header a text table lacks belongs, read from the table's own lines: the end of a Rime
// header that was opened but never closed, and the column order of a list of entry lines that has
// no header at all.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace qovira {

// The number of the last line of a Rime header opened by "---" and never closed by "...": the
// header runs on while its lines read as header lines (keys, list items, indented lines; blank and
// comment lines between them) and ends before the first line that does not. Nothing when the
// header is closed, or when a line other than a blank or a comment stands before the "---" (then
// the text does not start as a dictionary does).
std::optional<std::uint64_t> unclosed_rime_header_end(std::string_view text);

enum class ColumnOrder : std::uint8_t { TextFirst, CodeFirst };

// How the lines of a text without a header split into a word and a code: by a tab, or else into
// two pieces by white space. A piece made of code letters (a-z , . ; /) is the code, a piece
// holding a character beyond ASCII the word.
struct ColumnOrderEvidence {
  std::uint64_t lines = 0;       // lines that are neither blank nor comments
  std::uint64_t text_first = 0;  // lines of a word, then a code
  std::uint64_t code_first = 0;  // lines of a code, then a word

  // The order at least MAJORITY_NUMERATOR / MAJORITY_DENOMINATOR of the entry lines (those of
  // either order) show, when at least half the lines are entry lines; else nothing. Lines of
  // neither order do not count against it: a repair takes many of them out, and a second repair
  // must come to the same answer.
  static constexpr std::uint64_t MAJORITY_NUMERATOR = 4;
  static constexpr std::uint64_t MAJORITY_DENOMINATOR = 5;
  std::optional<ColumnOrder> order() const;
};

ColumnOrderEvidence column_order_evidence(std::string_view text);

}  // namespace qovira
