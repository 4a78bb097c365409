#include "qovira/table/repeat_key.h"

#include <algorithm>
#include <functional>

namespace qovira {

std::string_view repeat_code(std::string_view code, TableFormat format, std::string& storage) {
  const bool plain = std::ranges::all_of(code, [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte > 0x20 && byte < 0x80;
  });
  if (plain || format == TableFormat::Bingling) {
    return code;
  }
  storage = join_code(code);
  return storage;
}

std::uint64_t repeat_hash(RepeatKey key) {
  const std::uint64_t text_hash = std::hash<std::string_view>{}(key.text);
  const std::uint64_t hash =
      text_hash ^ (std::hash<std::string_view>{}(key.code) + 0x9E3779B97F4A7C15ULL +
                   (text_hash << 6) + (text_hash >> 2));
  return hash * 0x9E3779B97F4A7C15ULL;
}

}  // namespace qovira
