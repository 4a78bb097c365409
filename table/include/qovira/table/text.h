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

// The length of the UTF-8 sequence starting at bytes[at] (1 for ASCII), or 0 when none starts
// there; then `bad` is the length of the maximal invalid piece.
std::size_t utf8_sequence_length(ByteView bytes, std::size_t at, std::size_t& bad);

// The one line cutter of table text: cuts at every LF; one CR right before the LF goes with it; a
// final piece without LF is a line, an empty piece after a final LF is not. Lines view the text.
class LineCursor {
 public:
  explicit LineCursor(std::string_view text) : rest_(text) {}

  bool next(std::string_view& line) {
    if (rest_.empty()) {
      return false;
    }
    const std::size_t end = rest_.find('\n');
    if (end == std::string_view::npos) {
      line = rest_;
      rest_ = {};
      return true;
    }
    const std::size_t stop = end > 0 && rest_[end - 1] == '\r' ? end - 1 : end;
    line = rest_.substr(0, stop);
    rest_.remove_prefix(end + 1);
    return true;
  }

  // What is left after the lines cut so far.
  std::string_view rest() const { return rest_; }

 private:
  std::string_view rest_;
};

std::vector<std::string_view> split_lines(std::string_view text);

// Whether the text holds a lone CR: one of a run of CRs that no LF follows. Such a CR ends a line
// (old Mac line ends, or a file saved from pieces); a CR right before an LF is line-end junk.
bool has_lone_cr(std::string_view text);
// Makes every lone CR an LF; returns how many.
std::size_t lone_crs_to_line_feeds(std::string& text);

// Calls `visit(line)` for every line as LineCursor cuts them, without building a list.
template <typename Visit>
void for_each_line(std::string_view text, Visit&& visit) {
  LineCursor cursor(text);
  std::string_view line;
  while (cursor.next(line)) {
    visit(line);
  }
}

// The value whole, or its first MAX_SHOWN_CHARS characters followed by "…": a code or a word
// inside a message is cut there, so that a hostile line of gigabytes cannot flood a report. No
// real entry comes near the limit.
inline constexpr std::size_t MAX_SHOWN_CHARS = 256;
std::string shown_value(std::string_view value);

// Unicode White_Space: U+0009-U+000D, space, U+0085, U+00A0, U+1680, U+2000-U+200A, U+2028,
// U+2029, U+202F, U+205F, U+3000. The byte-order mark U+FEFF is not white space.
bool is_white_space(char32_t c);

std::string_view trim(std::string_view text);
std::string_view trim_start(std::string_view text);
std::string_view trim_end(std::string_view text);

// Decodes the scalar value starting at text[pos] and advances pos past it. Malformed bytes decode
// as U+FFFD one byte at a time, so any input is safe.
char32_t next_char(std::string_view text, std::size_t& pos);

// The most bytes one character takes in UTF-8.
inline constexpr std::size_t MAX_UTF8_BYTES = 4;

// Writes the UTF-8 form of c at `out` (a surrogate or a value above U+10FFFF is written as U+FFFD)
// and returns how many bytes it took.
std::size_t put_utf8(char* out, char32_t c);

// Appends the UTF-8 form of c, as put_utf8 writes it.
void append_utf8(std::string& out, char32_t c);

// Number of Unicode scalar values.
std::size_t count_chars(std::string_view text);

// The first `count` characters of text (all of it when shorter).
std::string_view first_chars(std::string_view text, std::size_t count);

// Calls `visit(unit)` for every UTF-16 code unit of the text: one per character of the Basic
// Multilingual Plane, a surrogate pair for the others. next_char yields only scalar values, so the
// units are well-formed for any input.
template <typename Visit>
void for_each_utf16_unit(std::string_view text, Visit&& visit) {
  for (std::size_t pos = 0; pos < text.size();) {
    const char32_t c = next_char(text, pos);
    if (c >= 0x10000) {
      visit(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      visit(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    } else {
      visit(static_cast<char16_t>(c));
    }
  }
}

// Number of UTF-16 code units for_each_utf16_unit gives for the text.
inline std::size_t utf16_length(std::string_view text) {
  std::size_t units = 0;
  for_each_utf16_unit(text, [&](char16_t) { ++units; });
  return units;
}

std::u16string to_utf16(std::string_view text);

enum class LoneSurrogate { Fail, Replace };

// Calls `visit(c)` for every character of the UTF-16 text whose units are `unit_at(0)` to
// `unit_at(count - 1)`. A surrogate without its partner ends the walk with false, or with
// LoneSurrogate::Replace is visited as U+FFFD.
template <typename UnitAt, typename Visit>
bool for_each_utf16_char(std::size_t count, UnitAt&& unit_at, Visit&& visit,
                         LoneSurrogate lone = LoneSurrogate::Fail) {
  for (std::size_t i = 0; i < count; ++i) {
    const char32_t unit = unit_at(i);
    if (unit < 0xD800 || unit > 0xDFFF) {
      visit(unit);
      continue;
    }
    if (unit <= 0xDBFF && i + 1 < count) {
      const char32_t next = unit_at(i + 1);
      if (next >= 0xDC00 && next <= 0xDFFF) {
        visit(0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
        ++i;
        continue;
      }
    }
    if (lone == LoneSurrogate::Fail) {
      return false;
    }
    visit(char32_t{0xFFFD});
  }
  return true;
}

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
