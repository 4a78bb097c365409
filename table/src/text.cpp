#include "qovira/table/text.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <utility>

namespace qovira {
namespace {

constexpr std::string_view DETAIL_ODD_UTF16 = "UTF-16 字节数不是偶数";
constexpr std::string_view DETAIL_LONE_SURROGATE = "invalid utf-16: lone surrogate found";

constexpr char32_t REPLACEMENT = 0xFFFD;

bool is_continuation(std::uint8_t b) {
  return (b & 0xC0) == 0x80;
}

// Length of the valid UTF-8 sequence at bytes[i], or 0 when it is not valid. On failure `bad` is
// the length of the maximal subpart (at least 1) and `incomplete` tells whether the input ended
// inside an otherwise valid beginning. Marked inline because next_char runs on every character
// of every table and must keep it inlined.
inline std::size_t utf8_sequence(ByteView bytes, std::size_t i, std::size_t& bad,
                                 bool& incomplete) {
  const std::uint8_t b0 = bytes[i];
  incomplete = false;
  bad = 1;
  if (b0 < 0x80) {
    return 1;
  }
  std::size_t need = 0;
  std::uint8_t low = 0x80;
  std::uint8_t high = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    if (b0 == 0xE0) {
      low = 0xA0;
    } else if (b0 == 0xED) {
      high = 0x9F;
    }
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    if (b0 == 0xF0) {
      low = 0x90;
    } else if (b0 == 0xF4) {
      high = 0x8F;
    }
  } else {
    return 0;
  }
  for (std::size_t k = 1; k <= need; ++k) {
    if (i + k >= bytes.size()) {
      incomplete = true;
      bad = k;
      return 0;
    }
    const std::uint8_t b = bytes[i + k];
    const bool ok = k == 1 ? (b >= low && b <= high) : is_continuation(b);
    if (!ok) {
      bad = k;
      return 0;
    }
  }
  return need + 1;
}

std::expected<std::string, TableError> decode_utf16(ByteView bytes, bool little_endian) {
  if (bytes.size() % 2 != 0) {
    return std::unexpected(TableError::undecodable_text(std::string(DETAIL_ODD_UTF16)));
  }
  std::string out;
  out.reserve(bytes.size() + bytes.size() / 2);
  const auto unit_at = [&](std::size_t i) -> char16_t {
    const std::uint8_t a = bytes[2 * i];
    const std::uint8_t b = bytes[2 * i + 1];
    return static_cast<char16_t>(little_endian ? (a | (b << 8)) : ((a << 8) | b));
  };
  if (!for_each_utf16_char(bytes.size() / 2, unit_at, [&](char32_t c) { append_utf8(out, c); })) {
    return std::unexpected(TableError::undecodable_text(std::string(DETAIL_LONE_SURROGATE)));
  }
  return out;
}

}  // namespace

std::expected<std::string_view, TableError> decode_text_in_place(ByteView bytes,
                                                                 std::string& storage) {
  if (bytes.size() >= 2 &&
      ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF))) {
    auto decoded = decode_utf16(bytes.subspan(2), bytes[0] == 0xFF);
    if (!decoded) {
      return std::unexpected(std::move(decoded.error()));
    }
    storage = std::move(*decoded);
    return std::string_view(storage);
  }
  constexpr std::size_t WORD = sizeof(std::uint64_t);
  constexpr std::size_t BLOCK = 4 * WORD;
  constexpr std::uint64_t HIGH_BITS = 0x8080'8080'8080'8080;
  // Raw pointers in the hot loop: a file of gigabytes is checked at memory speed even in an
  // unoptimised build.
  const std::uint8_t* const data = bytes.data();
  const std::size_t size = bytes.size();
  std::size_t i = 0;
  while (i < size) {
    // ASCII runs are the common case: thirty-two bytes at a time, then up to the next byte that
    // is not ASCII.
    if (size - i >= BLOCK) {
      std::uint64_t words[4];
      std::memcpy(words, data + i, BLOCK);
      if (((words[0] | words[1] | words[2] | words[3]) & HIGH_BITS) == 0) {
        i += BLOCK;
        continue;
      }
    }
    if (size - i >= WORD) {
      std::uint64_t word = 0;
      std::memcpy(&word, data + i, WORD);
      const std::uint64_t high = word & HIGH_BITS;
      if (high == 0) {
        i += WORD;
        continue;
      }
      i += static_cast<std::size_t>(std::endian::native == std::endian::little
                                        ? std::countr_zero(high)
                                        : std::countl_zero(high)) /
           8;
    } else if (data[i] < 0x80) {
      ++i;
      continue;
    }
    // Chinese text is three-byte sequences from E1 to EC (U+1000 to U+CFFF): checked here
    // without the general rules for E0, ED and the four-byte forms.
    const std::uint8_t lead = data[i];
    if (lead >= 0xE1 && lead <= 0xEC && size - i >= 3 && is_continuation(data[i + 1]) &&
        is_continuation(data[i + 2])) {
      i += 3;
      continue;
    }
    std::size_t bad = 0;
    bool incomplete = false;
    const std::size_t length = utf8_sequence(bytes, i, bad, incomplete);
    if (length == 0) {
      const std::string index = std::to_string(i);
      if (incomplete) {
        return std::unexpected(
            TableError::undecodable_text("incomplete utf-8 byte sequence from index " + index));
      }
      return std::unexpected(TableError::undecodable_text(
          "invalid utf-8 sequence of " + std::to_string(bad) + " bytes from index " + index));
    }
    i += length;
  }
  return std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

std::size_t utf8_sequence_length(ByteView bytes, std::size_t at, std::size_t& bad) {
  bool incomplete = false;
  return utf8_sequence(bytes, at, bad, incomplete);
}

std::expected<std::string, TableError> decode_text(ByteView bytes) {
  std::string storage;
  auto text = decode_text_in_place(bytes, storage);
  if (!text) {
    return std::unexpected(std::move(text.error()));
  }
  if (text->data() != storage.data()) {
    storage.assign(*text);
  }
  return storage;
}

std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  for_each_line(text, [&](std::string_view line) { lines.push_back(line); });
  return lines;
}

bool has_lone_cr(std::string_view text) {
  for (std::size_t at = text.find('\r'); at != std::string_view::npos;) {
    const std::size_t end = text.find_first_not_of('\r', at);
    if (end == std::string_view::npos || text[end] != '\n') {
      return true;
    }
    at = text.find('\r', end);
  }
  return false;
}

std::size_t lone_crs_to_line_feeds(std::string& text) {
  std::size_t converted = 0;
  for (std::size_t at = text.find('\r'); at != std::string::npos;) {
    const std::size_t end = std::min(text.find_first_not_of('\r', at), text.size());
    if (end == text.size() || text[end] != '\n') {
      std::fill(text.begin() + static_cast<std::ptrdiff_t>(at),
                text.begin() + static_cast<std::ptrdiff_t>(end), '\n');
      converted += end - at;
    }
    at = text.find('\r', end);
  }
  return converted;
}

std::string shown_value(std::string_view value) {
  const std::string_view head = first_chars(value, MAX_SHOWN_CHARS);
  std::string out(head);
  if (head.size() < value.size()) {
    out.append("…");
  }
  return out;
}

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

namespace {

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

std::u16string to_utf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for_each_utf16_unit(text, [&](char16_t unit) { out.push_back(unit); });
  return out;
}

std::string from_utf16_lenient(std::u16string_view units) {
  std::string out;
  out.reserve(units.size() * 3);
  for_each_utf16_char(
      units.size(), [&](std::size_t i) { return units[i]; },
      [&](char32_t c) { append_utf8(out, c); }, LoneSurrogate::Replace);
  return out;
}

std::optional<std::uint64_t> parse_unsigned(std::string_view text) {
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
  }
  if (text.empty()) {
    return std::nullopt;
  }
  std::uint64_t value = 0;
  constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  for (char c : text) {
    if (c < '0' || c > '9') {
      return std::nullopt;
    }
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (value > (max - digit) / 10) {
      return std::nullopt;
    }
    value = value * 10 + digit;
  }
  return value;
}

std::string fill_placeholders(std::string_view pattern,
                              std::initializer_list<std::string_view> values) {
  std::string out;
  out.reserve(pattern.size() + 32);
  auto value = values.begin();
  std::size_t start = 0;
  for (std::size_t hole = pattern.find("{}");
       hole != std::string_view::npos && value != values.end(); hole = pattern.find("{}", start)) {
    out.append(pattern.substr(start, hole - start));
    out.append(*value++);
    start = hole + 2;
  }
  out.append(pattern.substr(start));
  return out;
}

std::string ascii_lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return out;
}

bool equals_ignoring_ascii_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'A' && x <= 'Z') {
      x = static_cast<char>(x - 'A' + 'a');
    }
    if (y >= 'A' && y <= 'Z') {
      y = static_cast<char>(y - 'A' + 'a');
    }
    if (x != y) {
      return false;
    }
  }
  return true;
}

}  // namespace qovira
