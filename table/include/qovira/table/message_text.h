// Values from a table inside messages: cut the one way, so that a hostile line of gigabytes cannot
// flood a report, and put into the message's holes.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

namespace qovira {

// What stands after a value that was cut.
inline constexpr std::string_view CUT_MARK = "…";

// A code or a word inside a message is cut at this many characters; no real entry comes near it.
inline constexpr std::size_t MAX_SHOWN_CHARS = 256;
// A whole line quoted in a message is cut shorter, so that the message stays readable.
inline constexpr std::size_t MAX_SHOWN_LINE_CHARS = 30;

// The value whole, or its first MAX_SHOWN_CHARS characters followed by CUT_MARK.
std::string shown_value(std::string_view value);

// The trimmed line whole, or its first MAX_SHOWN_LINE_CHARS characters followed by CUT_MARK.
std::string shown_line(std::string_view line);

// The pattern with each "{}" replaced by the next value, in order; holes beyond the values stay.
std::string fill_placeholders(std::string_view pattern,
                              std::initializer_list<std::string_view> values);

}  // namespace qovira
