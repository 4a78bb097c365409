// White space as every reader of table text trims it.
#pragma once

#include <string_view>

namespace qovira {

// Unicode White_Space: U+0009-U+000D, space, U+0085, U+00A0, U+1680, U+2000-U+200A, U+2028,
// U+2029, U+202F, U+205F, U+3000. The byte-order mark U+FEFF is not white space.
bool is_white_space(char32_t c);

std::string_view trim(std::string_view text);
std::string_view trim_start(std::string_view text);
std::string_view trim_end(std::string_view text);

}  // namespace qovira
