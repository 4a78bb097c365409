// UTF-16, the text of .mb records and of tables saved with a UTF-16 byte-order mark.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "qovira/table/utf8.h"

namespace qovira {

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

}  // namespace qovira
