#include "qovira/table/safe_text.h"

#include <cstdint>

#include "qovira/table/utf8.h"

namespace qovira {
namespace {

constexpr char HEX_DIGITS[] = "0123456789abcdef";
constexpr char32_t REPLACEMENT_CHARACTER = 0xFFFD;

bool is_escaped(char32_t c) {
  // Line and paragraph separators break lines in some viewers; the marks set writing direction.
  return (c < 0x20 && c != U'\t') || (c >= 0x7F && c <= 0x9F) || c == 0x061C || c == 0x200E ||
         c == 0x200F || c == 0x2028 || c == 0x2029 || (c >= 0x202A && c <= 0x202E) ||
         (c >= 0x2066 && c <= 0x2069);
}

// A malformed byte decodes as U+FFFD one byte long; the character itself takes three.
bool is_malformed(char32_t c, std::size_t length) {
  return c == REPLACEMENT_CHARACTER && length == 1;
}

// The offset of the first character at or after `pos` that must be escaped, or the text's size.
std::size_t next_escape(std::string_view text, std::size_t pos) {
  while (pos < text.size()) {
    const auto byte = static_cast<std::uint8_t>(text[pos]);
    // Printable ASCII and the tab, the bulk of any text, without decoding.
    if ((byte >= 0x20 && byte < 0x7F) || byte == '\t') {
      ++pos;
      continue;
    }
    std::size_t next = pos;
    const char32_t c = next_char(text, next);
    if (is_escaped(c) || is_malformed(c, next - pos)) {
      return pos;
    }
    pos = next;
  }
  return text.size();
}

void append_hex(std::string& out, std::uint32_t value) {
  int shift = 28;
  while (shift > 0 && (value >> shift) == 0) {
    shift -= 4;
  }
  for (; shift >= 0; shift -= 4) {
    out.push_back(HEX_DIGITS[(value >> shift) & 0xF]);
  }
}

void append_escape(std::string& out, char32_t c) {
  switch (c) {
    case U'\n':
      out.append("\\n");
      return;
    case U'\r':
      out.append("\\r");
      return;
    case U'\0':
      out.append("\\0");
      return;
    default:
      out.append("\\u{");
      append_hex(out, c);
      out.push_back('}');
  }
}

}  // namespace

bool needs_display_escape(std::string_view text) {
  return next_escape(text, 0) != text.size();
}

std::string displayable(std::string_view text) {
  std::string out;
  std::size_t done = 0;
  for (std::size_t at = next_escape(text, 0); at < text.size(); at = next_escape(text, done)) {
    if (out.empty()) {
      out.reserve(text.size() + 16);
    }
    out.append(text.substr(done, at - done));
    std::size_t next = at;
    const char32_t c = next_char(text, next);
    if (is_malformed(c, next - at)) {
      out.append("\\x{");
      const auto byte = static_cast<std::uint8_t>(text[at]);
      out.push_back(HEX_DIGITS[byte >> 4]);
      out.push_back(HEX_DIGITS[byte & 0xF]);
      out.push_back('}');
    } else {
      append_escape(out, c);
    }
    done = next;
  }
  out.append(text.substr(done));
  return out;
}

}  // namespace qovira
