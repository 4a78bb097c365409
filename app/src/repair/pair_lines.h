// The repeat check of the repair: the latest line of each (text, code) pair.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <string_view>
#include <vector>

#include "qovira/table/repeat_key.h"

namespace qovira {

// The latest line of every (text, code) pair and the largest weight it was written with, in one
// flat open-addressing table: no allocation per entry, which matters for tables of millions of
// lines. A pair takes 24 bytes; the rare one whose sizes, distance or numbers do not fit is kept
// whole on the side.
class PairLines {
 public:
  // Sized for one pair per line at most three-quarters load. Only what is used is touched: the
  // slots come zeroed from the system and the pairs are reserved, so a file of repeats costs next
  // to nothing.
  explicit PairLines(std::size_t most_pairs) : most_pairs_(std::min(most_pairs, MOST_PAIRS)) {
    while (slot_count_ - slot_count_ / 4 < most_pairs_) {
      slot_count_ *= 2;
      ++slot_bits_;
    }
    slots_.reset(static_cast<std::uint64_t*>(std::calloc(slot_count_, sizeof(std::uint64_t))));
    if (!slots_) {
      throw std::bad_alloc();
    }
    pairs_.reserve(most_pairs_);
  }

  struct Seen {
    std::uint64_t line;
    std::uint64_t weight;
  };

  // Brings the first slot a pair of this hash looks at into the cache.
  void prefetch(std::uint64_t hash) const {
    __builtin_prefetch(&slots_[bucket_of(static_cast<std::uint32_t>(hash >> 32))]);
  }

  // Records `line` as the latest line of the pair, whose repeat_hash is `hash`; returns what was
  // recorded before, if anything.
  std::optional<Seen> exchange(std::uint64_t hash, std::string_view text, std::string_view code,
                               std::uint64_t line, std::uint64_t weight) {
    const std::uint32_t tag = static_cast<std::uint32_t>(hash >> 32);
    const std::size_t mask = slot_count_ - 1;
    for (std::size_t at = bucket_of(tag);; at = (at + 1) & mask) {
      const std::uint64_t slot = slots_[at];
      if (slot == 0) {
        if (pairs_.size() + wide_pairs_.size() >= most_pairs_) {
          return std::nullopt;  // beyond any table a .mb can hold: the import merges the rest
        }
        slots_[at] = slot_of(tag, add(text, code, {line, weight}));
        return std::nullopt;
      }
      if (static_cast<std::uint32_t>(slot >> 32) != tag) {
        continue;
      }
      const std::uint32_t index = static_cast<std::uint32_t>(slot);
      if ((index & WIDE) != 0) {
        WidePair& pair = wide_pairs_[index & ~WIDE];
        if (pair.text == text && pair.code == code) {
          const Seen before = pair.seen;
          pair.seen = {line, std::max(before.weight, weight)};
          return before;
        }
        continue;
      }
      Pair& pair = pairs_[index];
      if (pair.text() == text && pair.code() == code) {
        const Seen before{pair.line, pair.weight};
        const Seen after{line, std::max(before.weight, weight)};
        if (fits(after)) {
          pair.line = static_cast<std::uint32_t>(after.line);
          pair.weight = static_cast<std::uint32_t>(after.weight);
        } else {
          slots_[at] = slot_of(tag, add_wide(pair.text(), pair.code(), after));
        }
        return before;
      }
    }
  }

 private:
  // A slot holds the high half of the pair's hash above its index; 0 is free.
  static constexpr std::uint32_t WIDE = 0x8000'0000;  // the index is one of wide_pairs_
  static constexpr std::size_t MOST_PAIRS = 0x7FFF'FFFF;

  struct Pair {
    const char* text_data;
    std::int32_t code_offset;  // from text_data
    std::uint16_t text_size;
    std::uint16_t code_size;
    std::uint32_t line;
    std::uint32_t weight;

    std::string_view text() const { return {text_data, text_size}; }
    std::string_view code() const { return {text_data + code_offset, code_size}; }
  };
  static_assert(sizeof(Pair) == 24);

  struct WidePair {
    std::string_view text;
    std::string_view code;
    Seen seen;
  };

  static bool fits(const Seen& seen) {
    constexpr std::uint64_t LARGEST = std::numeric_limits<std::uint32_t>::max();
    return seen.line <= LARGEST && seen.weight <= LARGEST;
  }

  static std::uint64_t slot_of(std::uint32_t tag, std::uint32_t index) {
    return (std::uint64_t{tag} << 32) | index;
  }

  std::size_t bucket_of(std::uint32_t tag) const { return tag >> (32 - slot_bits_); }

  std::uint32_t add(std::string_view text, std::string_view code, const Seen& seen) {
    constexpr std::size_t LARGEST_SIZE = std::numeric_limits<std::uint16_t>::max();
    const std::ptrdiff_t code_offset = code.data() - text.data();
    const bool compact = text.size() <= LARGEST_SIZE && code.size() <= LARGEST_SIZE &&
                         code_offset >= std::numeric_limits<std::int32_t>::min() &&
                         code_offset <= std::numeric_limits<std::int32_t>::max() && fits(seen);
    if (!compact) {
      return add_wide(text, code, seen);
    }
    pairs_.push_back(
        {text.data(), static_cast<std::int32_t>(code_offset),
         static_cast<std::uint16_t>(text.size()), static_cast<std::uint16_t>(code.size()),
         static_cast<std::uint32_t>(seen.line), static_cast<std::uint32_t>(seen.weight)});
    return static_cast<std::uint32_t>(pairs_.size() - 1);
  }

  std::uint32_t add_wide(std::string_view text, std::string_view code, const Seen& seen) {
    wide_pairs_.push_back({text, code, seen});
    return static_cast<std::uint32_t>(wide_pairs_.size() - 1) | WIDE;
  }

  struct Free {
    void operator()(std::uint64_t* slots) const { std::free(slots); }
  };

  std::size_t most_pairs_;
  std::size_t slot_count_ = 16;
  unsigned slot_bits_ = 4;
  std::unique_ptr<std::uint64_t[], Free> slots_;
  std::vector<Pair> pairs_;
  std::vector<WidePair> wide_pairs_;
};

}  // namespace qovira
