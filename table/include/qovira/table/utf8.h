// UTF-8 as every reader of table text walks it: malformed bytes never stop a walk.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "qovira/table/bytes.h"

namespace qovira {

// The length of the UTF-8 sequence starting at bytes[at] (1 for ASCII), or 0 when none starts
// there; then `bad` is the length of the maximal invalid piece.
std::size_t utf8_sequence_length(ByteView bytes, std::size_t at, std::size_t& bad);

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

}  // namespace qovira
