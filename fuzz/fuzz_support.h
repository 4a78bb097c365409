// Shared checks of the fuzz targets. A broken property aborts with a message, so libFuzzer keeps
// the input as a crash.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unordered_set>

#include "qovira/app/export/export.h"
#include "qovira/table/mb.h"
#include "qovira/table/model.h"

namespace qovira::fuzz {

[[noreturn]] inline void fail(std::string_view property, std::string_view detail = {}) {
  std::fprintf(stderr, "\nPROPERTY BROKEN: %.*s\n%.*s\n", static_cast<int>(property.size()),
               property.data(), static_cast<int>(detail.size()), detail.data());
  std::abort();
}

inline void check(bool holds, std::string_view property, std::string_view detail = {}) {
  if (!holds) {
    fail(property, detail);
  }
}

inline ByteView bytes_of(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

inline std::string_view text_of(ByteView bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

// Strict UTF-8: shortest forms only, no surrogates, nothing above U+10FFFF.
inline bool is_valid_utf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 0;
    char32_t value = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
      value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
      value = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
      value = lead & 0x07;
    } else {
      return false;
    }
    if (text.size() - i < length) {
      return false;
    }
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) {
        return false;
      }
      value = (value << 6) | (next & 0x3F);
    }
    const bool overlong = (length == 3 && value < 0x800) || (length == 4 && value < 0x10000);
    if (overlong || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF) {
      return false;
    }
    i += length;
  }
  return true;
}

// What finish_table promises: a valid alphabet covering every code, unique (code, text) pairs,
// codes in byte-wise order and grouped, at least one entry.
inline void check_finished_table(const CodeTable& table) {
  check(validate_alphabet(table.alphabet).has_value(), "finished table has a valid alphabet",
        table.alphabet);
  check(!table.entries.empty(), "finished table is not empty");
  check(!table.phrase_rules.empty(), "finished table has a phrase rule");
  std::unordered_set<std::string> pairs;
  const TableEntry* previous = nullptr;
  for (const TableEntry& entry : table.entries) {
    for (char c : entry.code) {
      check(table.alphabet.find(c) != std::string::npos, "every code character is in the alphabet",
            entry.code);
    }
    check(pairs.insert(std::string(entry.code) + '\t' + std::string(entry.text)).second,
          "no (code, text) pair twice", entry.code);
    if (previous != nullptr) {
      check(previous->code <= entry.code, "codes in byte-wise order", entry.code);
    }
    previous = &entry;
  }
}

// Whatever the builder accepts must read back as the same table.
inline void check_readback(const CodeTable& table) {
  auto built = build_mb(table, DEFAULT_MB_CONTAINER);
  if (!built) {
    return;
  }
  const Bytes exact(built->begin(), built->end());
  auto read_back = read_mb(exact);
  check(read_back.has_value(), "a built .mb reads back",
        read_back ? std::string() : read_back.error().message());
  const auto difference = compare_readback(table, *read_back);
  check(!difference, "a built .mb reads back unchanged", difference.value_or(""));
}

}  // namespace qovira::fuzz
