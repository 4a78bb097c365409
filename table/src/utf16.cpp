#include "qovira/table/utf16.h"

namespace qovira {

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

}  // namespace qovira
