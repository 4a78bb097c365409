// The line scan's repeat check: which entry lines repeat an earlier line's (text, code) pair.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <limits>
#include <numeric>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "qovira/app/diagnosis/issues.h"
#include "qovira/table/lines.h"
#include "qovira/table/repeat_key.h"

namespace qovira {

// The trimmed code and text columns of a body line that has them, as the scan sees them.
struct BodyEntry {
  std::string_view code;
  std::string_view text;
};

// Finds lines whose (text, code) pair stood on an earlier line. A small table of recently seen
// pairs catches most repeats as they come, so that a table of one line repeated millions of times
// keeps almost nothing. Every other line leaves its pair's 30-bit hash and its line number, in one
// of 16 lists by the hash's top bits and packed in 32 bits; sorting the lists one at a time finds
// the hashes lines share, and only lines that share a hash are cut and read again, so nothing else
// of a line is kept.
class DuplicateCheck {
 public:
  explicit DuplicateCheck(std::size_t most_lines) : recent_(RECENT_SLOTS) {
    // Room for an even share of the lines and some more; the lists grow beyond it if they must.
    for (Group& group : groups_) {
      group.packed.reserve(most_lines / GROUPS + most_lines / (GROUPS * 4) + 16);
    }
  }

  // Entries are added in line order; `raw` is the line as cut.
  void add(const BodyEntry& entry, std::uint64_t line_number, std::string_view raw) {
    // Lines are numbered in 32 bits here; a .mb holds fewer rows than that anyway.
    if (line_number > std::numeric_limits<std::uint32_t>::max()) {
      return;
    }
    const std::uint32_t hash = hash_of(entry);
    const auto number = static_cast<std::uint32_t>(line_number);
    Recent& recent = recent_[hash & (RECENT_SLOTS - 1)];
    if (recent.used && recent.hash == hash && recent.text == entry.text &&
        recent.code == entry.code) {
      add_repeat({number, std::exchange(recent.line, number), raw});
      recent.kept = false;
      return;
    }
    // A repeat caught here left no key; the last one leaves its line behind when its pair leaves
    // the table, as the earlier line of the pair's next repeat.
    if (recent.used && !recent.kept) {
      groups_[group_of(recent.hash)].counted.push_back(key_of(recent.hash, recent.line, true));
    }
    groups_[group_of(hash)].add(hash, number);
    recent.used = true;
    recent.kept = true;
    recent.hash = hash;
    recent.line = number;
    recent.code.assign(entry.code);
    recent.text = entry.text;
  }

  // Appends one DuplicateLine per repeat, in line order, naming the previous line of its pair.
  // `entry_of(raw, number, storage)` reads the entry of a line of `text` as it was added.
  template <typename EntryOf>
  void raise(IssueList& issues, std::string_view text, EntryOf&& entry_of) {
    recent_ = {};
    keys_ = shared_keys();
    std::vector<std::uint32_t> shared;  // the numbers of lines that share their hash, ascending
    for_each_shared_hash(keys_, [&](std::size_t start, std::size_t end) {
      // Lines left behind by the recent table came late: each run goes back to line order.
      std::sort(keys_.begin() + static_cast<std::ptrdiff_t>(start),
                keys_.begin() + static_cast<std::ptrdiff_t>(end),
                [](std::uint64_t a, std::uint64_t b) { return number_part(a) < number_part(b); });
      for (std::size_t k = start; k < end; ++k) {
        shared.push_back(number_part(keys_[k]));
      }
    });
    std::ranges::sort(shared);
    const std::vector<std::string_view> shared_lines = cut_lines(text, shared);
    const auto line_of = [&](std::uint32_t number) {
      return shared_lines[static_cast<std::size_t>(std::ranges::lower_bound(shared, number) -
                                                   shared.begin())];
    };

    std::vector<std::pair<BodyEntry, std::uint32_t>> latest;  // per distinct pair of one hash
    std::deque<std::string> joined_codes;  // owns the joined codes `latest` points at
    std::string joined;
    for_each_shared_hash(keys_, [&](std::size_t start, std::size_t end) {
      latest.clear();
      joined_codes.clear();
      for (std::size_t k = start; k < end; ++k) {
        const std::uint32_t number = number_part(keys_[k]);
        const std::string_view raw = line_of(number);
        BodyEntry entry = entry_of(raw, number, joined);
        if (!joined.empty()) {
          entry.code = joined_codes.emplace_back(std::move(joined));
          joined.clear();
        }
        auto same = std::ranges::find_if(latest, [&](const auto& other) {
          return other.first.text == entry.text && other.first.code == entry.code;
        });
        if (same == latest.end()) {
          latest.emplace_back(entry, number);
        } else if (is_counted(keys_[k])) {
          same->second = number;
        } else {
          add_repeat({number, std::exchange(same->second, number), raw});
        }
      }
    });
    keys_ = {};
    std::ranges::sort_heap(first_repeats_, {}, &Repeat::line);
    std::string storage;
    for (const Repeat& repeat : first_repeats_) {
      const BodyEntry entry = entry_of(repeat.raw, repeat.line, storage);
      issues.add(duplicate_line(repeat.line, repeat.earlier, entry.text, entry.code));
    }
    fold_duplicate_lines(issues, repeat_count_ - first_repeats_.size());
  }

 private:
  // Below the top byte the hash has 23 bits, sorted in two digits.
  static constexpr std::size_t DIGIT_BITS = 12;
  static constexpr std::uint64_t DIGIT_MASK = (std::uint64_t{1} << DIGIT_BITS) - 1;
  static constexpr std::size_t HASH_SHIFT = 33;
  static constexpr std::uint64_t COUNTED_BIT = std::uint64_t{1} << 32;
  static constexpr std::size_t RECENT_SLOTS = 4096;
  static constexpr std::size_t TOP_SHIFT = 56;  // of a key: the hash's top byte
  static constexpr std::size_t BUCKETS = 256;
  static constexpr std::size_t GROUPS = 16;
  static constexpr std::size_t LOW_HASH_BITS = 26;  // of a hash, below its group
  static constexpr std::uint32_t LOW_HASH_MASK = (std::uint32_t{1} << LOW_HASH_BITS) - 1;
  static constexpr std::size_t STEP_BITS = 6;  // of a packed line, beside the low hash bits
  static constexpr std::uint32_t FAR_STEP = (std::uint32_t{1} << STEP_BITS) - 1;

  // The lines whose hashes share their top bits, in line order. Each is packed as the low bits of
  // its hash and the step from the line before; a step too long for its bits goes first as
  // entries marked FAR_STEP that carry the step in place of the hash.
  struct Group {
    std::vector<std::uint32_t> packed;
    std::uint32_t last_line = 0;
    std::vector<std::uint64_t> counted;  // keys of the lines left behind by the recent table

    void add(std::uint32_t hash, std::uint32_t number) {
      std::uint32_t step = number - last_line;
      while (step >= FAR_STEP) {
        const std::uint32_t far = std::min(step, LOW_HASH_MASK);
        packed.push_back(far << STEP_BITS | FAR_STEP);
        step -= far;
      }
      packed.push_back((hash & LOW_HASH_MASK) << STEP_BITS | step);
      last_line = number;
    }
  };

  struct Recent {
    bool used = false;
    bool kept = false;  // whether `line` left a key
    std::uint32_t hash = 0;
    std::uint32_t line = 0;
    std::string code;
    std::string_view text;
  };

  struct Repeat {
    std::uint32_t line;
    std::uint32_t earlier;
    std::string_view raw;
  };

  // The first repeats by line are kept, a heap with the last of them on top: a list only shows
  // that many, whatever the number of repeats.
  void add_repeat(const Repeat& repeat) {
    ++repeat_count_;
    if (first_repeats_.size() < IssueList::SHOWN_PER_KIND) {
      first_repeats_.push_back(repeat);
      std::ranges::push_heap(first_repeats_, {}, &Repeat::line);
    } else if (repeat.line < first_repeats_.front().line) {
      std::ranges::pop_heap(first_repeats_, {}, &Repeat::line);
      first_repeats_.back() = repeat;
      std::ranges::push_heap(first_repeats_, {}, &Repeat::line);
    }
  }

  // A line already counted as a repeat, left only as the earlier line of the next one.
  static std::uint64_t key_of(std::uint32_t hash, std::uint32_t number, bool counted) {
    return std::uint64_t{hash} << HASH_SHIFT | (counted ? COUNTED_BIT : 0) | number;
  }
  static bool is_counted(std::uint64_t key) { return (key & COUNTED_BIT) != 0; }
  static std::uint32_t hash_part(std::uint64_t key) {
    return static_cast<std::uint32_t>(key >> HASH_SHIFT);
  }
  static std::uint32_t number_part(std::uint64_t key) { return static_cast<std::uint32_t>(key); }

  // Calls `visit(start, end)` for every run of sorted keys that share their hash with another.
  template <typename Visit>
  static void for_each_shared_hash(const std::vector<std::uint64_t>& keys, Visit&& visit) {
    for (std::size_t start = 0, end = 0; start < keys.size(); start = end) {
      end = start + 1;
      while (end < keys.size() && hash_part(keys[end]) == hash_part(keys[start])) {
        ++end;
      }
      if (end - start > 1) {
        visit(start, end);
      }
    }
  }

  // The lines of `text` with the given ascending numbers, cut as the model cuts them.
  static std::vector<std::string_view> cut_lines(std::string_view text,
                                                 const std::vector<std::uint32_t>& numbers) {
    std::vector<std::string_view> lines;
    lines.reserve(numbers.size());
    LineCursor cutter(text);
    std::string_view raw;
    std::uint32_t number = 0;  // kept as the keys keep it
    while (lines.size() < numbers.size() && cutter.next(raw)) {
      if (++number == numbers[lines.size()]) {
        lines.push_back(raw);
      }
    }
    return lines;
  }

  // 30 bits.
  static std::uint32_t hash_of(const BodyEntry& entry) {
    return static_cast<std::uint32_t>(repeat_hash({entry.text, entry.code}) >> 34);
  }

  static std::size_t bucket_of(std::uint64_t key) {
    return static_cast<std::size_t>(key >> TOP_SHIFT);
  }
  static std::size_t group_of(std::uint32_t hash) { return hash >> LOW_HASH_BITS; }

  // The keys of the lines whose hash another line shares, sorted by hash. Each group is unpacked
  // and sorted on its own and freed, so that no key of every line is ever held.
  std::vector<std::uint64_t> shared_keys() {
    std::vector<std::uint64_t> shared;
    std::vector<std::uint64_t> keys;
    for (std::size_t index = 0; index < GROUPS; ++index) {
      Group& group = groups_[index];
      keys.clear();
      keys.reserve(group.packed.size() + group.counted.size());
      std::uint32_t line = 0;
      for (const std::uint32_t packed : group.packed) {
        const std::uint32_t step = packed & FAR_STEP;
        if (step == FAR_STEP) {
          line += packed >> STEP_BITS;
          continue;
        }
        line += step;
        const auto hash = static_cast<std::uint32_t>(index << LOW_HASH_BITS | packed >> STEP_BITS);
        keys.push_back(key_of(hash, line, false));
      }
      keys.insert(keys.end(), group.counted.begin(), group.counted.end());
      group = {};
      sort_by_hash(keys);
      for_each_shared_hash(keys, [&](std::size_t start, std::size_t end) {
        shared.insert(shared.end(), keys.begin() + static_cast<std::ptrdiff_t>(start),
                      keys.begin() + static_cast<std::ptrdiff_t>(end));
      });
    }
    return shared;
  }

  // By the hash's top byte in place, each key swapped into its bucket, then each bucket by the
  // rest of the hash.
  static void sort_by_hash(std::vector<std::uint64_t>& keys) {
    std::array<std::size_t, BUCKETS + 1> starts{};
    for (const std::uint64_t key : keys) {
      ++starts[bucket_of(key) + 1];
    }
    std::partial_sum(starts.begin(), starts.end(), starts.begin());
    std::array<std::size_t, BUCKETS> next{};
    std::copy(starts.begin(), starts.end() - 1, next.begin());
    for (std::size_t bucket = 0; bucket < BUCKETS; ++bucket) {
      while (next[bucket] < starts[bucket + 1]) {
        std::uint64_t key = keys[next[bucket]];
        for (std::size_t home = bucket_of(key); home != bucket; home = bucket_of(key)) {
          std::swap(key, keys[next[home]++]);
        }
        keys[next[bucket]++] = key;
      }
    }
    std::vector<std::uint64_t> buffer;
    for (std::size_t bucket = 0; bucket < BUCKETS; ++bucket) {
      sort_bucket({keys.data() + starts[bucket], starts[bucket + 1] - starts[bucket]}, buffer);
    }
  }

  // Keys of one top byte by the rest of the hash, in two counting passes through `buffer`.
  static void sort_bucket(std::span<std::uint64_t> keys, std::vector<std::uint64_t>& buffer) {
    if (keys.size() < 2) {
      return;
    }
    if (buffer.size() < keys.size()) {
      buffer.resize(keys.size());
    }
    std::array<std::size_t, (std::size_t{1} << DIGIT_BITS) + 1> digit_starts;
    for (const std::size_t shift : {HASH_SHIFT, HASH_SHIFT + DIGIT_BITS}) {
      std::ranges::fill(digit_starts, 0);
      for (const std::uint64_t key : keys) {
        ++digit_starts[((key >> shift) & DIGIT_MASK) + 1];
      }
      std::partial_sum(digit_starts.begin(), digit_starts.end(), digit_starts.begin());
      for (const std::uint64_t key : keys) {
        buffer[digit_starts[(key >> shift) & DIGIT_MASK]++] = key;
      }
      std::copy_n(buffer.begin(), keys.size(), keys.begin());
    }
  }

  std::array<Group, GROUPS> groups_;
  std::vector<std::uint64_t> keys_;  // of the lines that share their hash
  std::vector<Recent> recent_;
  std::vector<Repeat> first_repeats_;
  std::uint64_t repeat_count_ = 0;
};

}  // namespace qovira
