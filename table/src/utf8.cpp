#include "qovira/table/utf8.h"

#include <cstdint>

#include "utf8_sequence.h"

namespace qovira {

using utf8_detail::utf8_sequence;

namespace {

constexpr char32_t REPLACEMENT = 0xFFFD;

}  // namespace

std::size_t utf8_sequence_length(ByteView bytes, std::size_t at, std::size_t& bad) {
  bool incomplete = false;
  return utf8_sequence(bytes, at, bad, incomplete);
}

char32_t next_char(std::string_view text, std::size_t& pos) {
  const auto b0 = static_cast<std::uint8_t>(text[pos]);
  if (b0 < 0x80) {
    ++pos;
    return b0;
  }
  const ByteView bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  std::size_t bad = 0;
  bool incomplete = false;
  const std::size_t length = utf8_sequence(bytes, pos, bad, incomplete);
  if (length == 0) {
    ++pos;
    return REPLACEMENT;
  }
  char32_t c = b0 & (0xFF >> (length + 1));
  for (std::size_t k = 1; k < length; ++k) {
    c = (c << 6) | (static_cast<std::uint8_t>(text[pos + k]) & 0x3F);
  }
  pos += length;
  return c;
}

std::size_t put_utf8(char* out, char32_t c) {
  if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
    c = REPLACEMENT;
  }
  if (c < 0x80) {
    out[0] = static_cast<char>(c);
    return 1;
  }
  if (c < 0x800) {
    out[0] = static_cast<char>(0xC0 | (c >> 6));
    out[1] = static_cast<char>(0x80 | (c & 0x3F));
    return 2;
  }
  if (c < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (c >> 12));
    out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (c & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (c >> 18));
  out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (c & 0x3F));
  return 4;
}

void append_utf8(std::string& out, char32_t c) {
  char bytes[MAX_UTF8_BYTES];
  out.append(bytes, put_utf8(bytes, c));
}

std::size_t count_chars(std::string_view text) {
  std::size_t count = 0;
  for (std::size_t pos = 0; pos < text.size();) {
    next_char(text, pos);
    ++count;
  }
  return count;
}

std::string_view first_chars(std::string_view text, std::size_t count) {
  std::size_t pos = 0;
  for (std::size_t n = 0; n < count && pos < text.size(); ++n) {
    next_char(text, pos);
  }
  return text.substr(0, pos);
}

}  // namespace qovira
