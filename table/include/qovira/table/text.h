// Text decoding of table files and the UTF-8 helpers every reader of table text shares: one way to
// cut lines, one white-space trim, character counting and UTF-16 conversion.
#pragma once

#include <cstdint>
#include <expected>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qovira/table/model.h"

namespace qovira {

// UTF-16 with a byte-order mark (either order) or UTF-8 (a UTF-8 mark is kept as U+FEFF).
std::expected<std::string, TableError> decode_text(ByteView bytes);

// decode_text without the copy: UTF-8 bytes are only checked and the result views them; UTF-16 is
// converted into `storage`, which the result then views.
std::expected<std::string_view, TableError> decode_text_in_place(ByteView bytes,
                                                                 std::string& storage);

// Cuts at every LF; one CR right before the LF goes with it; a final piece without LF is a line,
// an empty piece after a final LF is not. The views point into `text`.
std::vector<std::string_view> split_lines(std::string_view text);

// Calls `visit(line)` for every line as split_lines cuts them, without building a list.
template <typename Visit>
void for_each_line(std::string_view text, Visit&& visit) {
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) {
      visit(text.substr(start));
      return;
    }
    std::size_t stop = end;
    if (stop > start && text[stop - 1] == '\r') {
      --stop;
    }
    visit(text.substr(start, stop - start));
    start = end + 1;
  }
}

// Unicode White_Space: U+0009-U+000D, space, U+0085, U+00A0, U+1680, U+2000-U+200A, U+2028,
// U+2029, U+202F, U+205F, U+3000. The byte-order mark U+FEFF is not white space.
bool is_white_space(char32_t c);

std::string_view trim(std::string_view text);
std::string_view trim_start(std::string_view text);
std::string_view trim_end(std::string_view text);

// Decodes the scalar value starting at text[pos] and advances pos past it. Malformed bytes decode
// as U+FFFD one byte at a time, so any input is safe.
char32_t next_char(std::string_view text, std::size_t& pos);

// Appends the UTF-8 form of c (a surrogate or a value above U+10FFFF is written as U+FFFD).
void append_utf8(std::string& out, char32_t c);

// Number of Unicode scalar values.
std::size_t count_chars(std::string_view text);

// The first `count` characters of text (all of it when shorter).
std::string_view first_chars(std::string_view text, std::size_t count);

// Number of UTF-16 code units the text needs.
std::size_t utf16_length(std::string_view text);

std::u16string to_utf16(std::string_view text);

// Decodes UTF-16 units; an unpaired surrogate becomes U+FFFD.
std::string from_utf16_lenient(std::u16string_view units);

// An unsigned decimal integer with an optional leading "+", digits only and no overflow.
std::optional<std::uint64_t> parse_unsigned(std::string_view text);

// True when every byte is ASCII and `ascii_lower` of the texts are equal.
bool equals_ignoring_ascii_case(std::string_view a, std::string_view b);

std::string ascii_lower(std::string_view text);

// The pattern with each "{}" replaced by the next value, in order; holes beyond the values stay.
std::string fill_placeholders(std::string_view pattern,
                              std::initializer_list<std::string_view> values);

}  // namespace qovira
