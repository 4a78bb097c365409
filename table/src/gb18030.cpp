#include "qovira/table/gb18030.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string>

#include "qovira/table/utf8.h"

namespace qovira {
namespace {

struct TwoByteSupplementary {
  std::uint16_t code;
  char32_t character;
};

struct FourByteRange {
  std::uint32_t first_index;
  char16_t first_character;
};

// The mapping follows glibc's iconv, private-use characters included: the user-defined areas
// (leads 0xAA-0xAF and 0xF8-0xFE with trails 0xA1-0xFE, leads 0xA1-0xA7 with trails 0x40-0xA0)
// are where old tables keep their own glyphs, and the conversion stays reversible. The 18
// four-byte codes iconv rejects because their characters moved to two-byte codes decode to those
// characters, as GB18030-2005 defines them, rather than failing the whole file.
#include "gb18030_tables.inc"

constexpr std::size_t TRAIL_COUNT = 190;
constexpr std::uint32_t SUPPLEMENTARY_FIRST_INDEX = 189000;  // 0x90308130
constexpr std::uint32_t SUPPLEMENTARY_COUNT = 0x100000;

static_assert(TWO_BYTE_CHARACTERS.size() == 126 * TRAIL_COUNT);
static_assert(FOUR_BYTE_BMP_RANGES.front().first_index == 0);
static_assert(FOUR_BYTE_BMP_END <= SUPPLEMENTARY_FIRST_INDEX);

bool is_two_byte_trail(std::uint8_t b) {
  return (b >= 0x40 && b <= 0x7E) || (b >= 0x80 && b <= 0xFE);
}

bool is_digit_byte(std::uint8_t b) {
  return b >= 0x30 && b <= 0x39;
}

bool is_lead(std::uint8_t b) {
  return b >= 0x81 && b <= 0xFE;
}

// 0 when the code stands for no character.
char32_t two_byte_character(std::uint8_t lead, std::uint8_t trail) {
  const std::size_t trail_index = trail < 0x80 ? trail - 0x40u : trail - 0x41u;
  const char16_t c = TWO_BYTE_CHARACTERS[(lead - 0x81u) * TRAIL_COUNT + trail_index];
  if (c != 0) {
    return c;
  }
  const auto code = static_cast<std::uint16_t>((lead << 8) | trail);
  for (const TwoByteSupplementary& entry : TWO_BYTE_SUPPLEMENTARY) {
    if (entry.code == code) {
      return entry.character;
    }
  }
  return 0;
}

// 0 when the code stands for no character.
char32_t four_byte_character(const std::uint8_t* code) {
  const std::uint32_t index =
      (((code[0] - 0x81u) * 10 + (code[1] - 0x30u)) * 126 + (code[2] - 0x81u)) * 10 +
      (code[3] - 0x30u);
  if (index < FOUR_BYTE_BMP_END) {
    const auto after =
        std::ranges::upper_bound(FOUR_BYTE_BMP_RANGES, index, {}, &FourByteRange::first_index);
    const FourByteRange& range = *std::prev(after);
    return range.first_character + (index - range.first_index);
  }
  if (index >= SUPPLEMENTARY_FIRST_INDEX &&
      index - SUPPLEMENTARY_FIRST_INDEX < SUPPLEMENTARY_COUNT) {
    return 0x10000 + (index - SUPPLEMENTARY_FIRST_INDEX);
  }
  return 0;
}

std::unexpected<TableError> invalid(std::size_t length, std::size_t index) {
  return std::unexpected(
      TableError::undecodable_text("invalid gb18030 sequence of " + std::to_string(length) +
                                   " bytes from index " + std::to_string(index)));
}

std::unexpected<TableError> incomplete(std::size_t index) {
  return std::unexpected(TableError::undecodable_text(
      "incomplete gb18030 byte sequence from index " + std::to_string(index)));
}

}  // namespace

std::expected<std::string, TableError> decode_gb18030(ByteView bytes) {
  constexpr std::size_t WORD = sizeof(std::uint64_t);
  constexpr std::uint64_t HIGH_BITS = 0x8080'8080'8080'8080;
  const std::size_t size = bytes.size();
  std::string out;
  // No code needs more than 1.5 times its bytes in UTF-8, so the text never reallocates.
  out.reserve(size + size / 2);
  std::size_t i = 0;
  while (i < size) {
    if (bytes[i] < 0x80) {
      // ASCII runs are copied whole, found eight bytes at a time.
      std::size_t run_end = i + 1;
      while (size - run_end >= WORD) {
        std::uint64_t word = 0;
        std::memcpy(&word, bytes.data() + run_end, WORD);
        if ((word & HIGH_BITS) != 0) {
          break;
        }
        run_end += WORD;
      }
      while (run_end < size && bytes[run_end] < 0x80) {
        ++run_end;
      }
      out.append(reinterpret_cast<const char*>(bytes.data() + i), run_end - i);
      i = run_end;
      continue;
    }
    const std::uint8_t* code = bytes.data() + i;
    const std::size_t left = size - i;
    if (!is_lead(code[0])) {
      return invalid(1, i);
    }
    if (left < 2) {
      return incomplete(i);
    }
    if (is_two_byte_trail(code[1])) {
      const char32_t c = two_byte_character(code[0], code[1]);
      if (c == 0) {
        return invalid(2, i);
      }
      append_utf8(out, c);
      i += 2;
      continue;
    }
    if (!is_digit_byte(code[1])) {
      return invalid(1, i);
    }
    if (left < 3) {
      return incomplete(i);
    }
    if (!is_lead(code[2])) {
      return invalid(2, i);
    }
    if (left < 4) {
      return incomplete(i);
    }
    if (!is_digit_byte(code[3])) {
      return invalid(3, i);
    }
    const char32_t c = four_byte_character(code);
    if (c == 0) {
      return invalid(4, i);
    }
    append_utf8(out, c);
    i += 4;
  }
  return out;
}

}  // namespace qovira
