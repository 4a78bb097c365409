#include "qovira/table/white_space.h"

#include <cstdint>

#include "qovira/table/utf8.h"
#include "utf8_sequence.h"

namespace qovira {
namespace {

using utf8_detail::is_continuation;

// A byte that is a whole printable ASCII character, so no white space: most lines start and end
// with one, and this spares them the decoding.
bool is_printable_ascii(char c) {
  const auto byte = static_cast<std::uint8_t>(c);
  return byte > 0x20 && byte < 0x80;
}

// Every white-space character beyond ASCII (U+0085 to U+3000) is written with one of these lead
// bytes, so a character with any other, such as each CJK one, is none and needs no decoding.
bool may_lead_white_space(char c) {
  const auto byte = static_cast<std::uint8_t>(c);
  return byte < 0x80 || byte == 0xC2 || (byte >= 0xE1 && byte <= 0xE3);
}

}  // namespace

bool is_white_space(char32_t c) {
  if (c <= 0x20) {
    return c == 0x20 || (c >= 0x09 && c <= 0x0D);
  }
  if (c < 0x85) {
    return false;
  }
  return c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 ||
         c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

std::string_view trim_start(std::string_view text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (is_printable_ascii(text[pos]) || !may_lead_white_space(text[pos])) {
      break;
    }
    std::size_t next = pos;
    if (!is_white_space(next_char(text, next))) {
      break;
    }
    pos = next;
  }
  return text.substr(pos);
}

std::string_view trim_end(std::string_view text) {
  std::size_t end = text.size();
  while (end > 0) {
    if (is_printable_ascii(text[end - 1])) {
      break;
    }
    // Step back to the start of the last character.
    std::size_t start = end - 1;
    while (start > 0 && end - start < 4 &&
           is_continuation(static_cast<std::uint8_t>(text[start]))) {
      --start;
    }
    if (!may_lead_white_space(text[start])) {
      break;
    }
    std::size_t pos = start;
    const char32_t c = next_char(text, pos);
    if (pos != end || !is_white_space(c)) {
      break;
    }
    end = start;
  }
  return text.substr(0, end);
}

std::string_view trim(std::string_view text) {
  return trim_end(trim_start(text));
}

}  // namespace qovira
