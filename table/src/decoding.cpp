#include "qovira/table/decoding.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <utility>

#include "qovira/table/utf16.h"
#include "utf8_sequence.h"

namespace qovira {
namespace {

using utf8_detail::is_continuation;
using utf8_detail::utf8_sequence;

constexpr std::string_view DETAIL_ODD_UTF16 = "UTF-16 字节数不是偶数";
constexpr std::string_view DETAIL_LONE_SURROGATE = "invalid utf-16: lone surrogate found";

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

}  // namespace qovira
