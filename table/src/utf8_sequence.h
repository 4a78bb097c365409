// The UTF-8 sequence check shared by the character walk and the whole-file check of decoding.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qovira/table/bytes.h"

namespace qovira::utf8_detail {

inline bool is_continuation(std::uint8_t b) {
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

}  // namespace qovira::utf8_detail
