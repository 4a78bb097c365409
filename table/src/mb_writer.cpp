// Writes a CodeTable as a .mb file on a container: the header is rewritten from the table, the
// prefix index built fresh, and the records appended in alphabet-position order.
#include <algorithm>
#include <array>
#include <compare>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "byte_io.h"
#include "qovira/table/entry.h"
#include "qovira/table/mb.h"
#include "qovira/table/side_by_side.h"
#include "qovira/table/utf16.h"

namespace qovira {
namespace {

constexpr std::string_view DESCRIPTION_LABEL = "码表说明";
constexpr std::string_view ALPHABET_LABEL = "字母表";
constexpr std::string_view PHRASE_RULES_LABEL = "词组编码规则";
constexpr std::string_view CODE_CHARACTER_REASON = "包含字母表外的字符";
constexpr std::string_view OFFSET_LIMIT_REASON = "记录总量超出 .mb 的 32 位偏移上限（4 GiB）";

constexpr std::uint32_t NO_RECORD = 0xFFFF'FFFF;
constexpr std::size_t INDEX_LEVELS = 3;
constexpr std::uint8_t NOT_IN_ALPHABET = 0xFF;
constexpr std::size_t HEAD_CHARACTERS = 8;  // code characters packed into a sort key
// Below this many entries a second thread costs the build more than it saves.
constexpr std::size_t PARALLEL_BUILD_ENTRIES = 1 << 15;

// Alphabet byte -> its 0-based position; NOT_IN_ALPHABET for every other byte.
using PositionMap = std::array<std::uint8_t, 256>;

PositionMap map_positions(std::string_view alphabet) {
  PositionMap positions;
  positions.fill(NOT_IN_ALPHABET);
  for (std::size_t i = 0; i < alphabet.size(); ++i) {
    positions[static_cast<std::uint8_t>(alphabet[i])] = static_cast<std::uint8_t>(i);
  }
  return positions;
}

// Sort rank of a code byte: 1 + its position, and one rank after every alphabet character for
// bytes outside the alphabet (such codes fail later; they only need a fixed place). 0 is left for
// "no character", so that a code sorts before the longer codes it begins.
std::uint8_t rank_of(const PositionMap& positions, char byte) {
  const std::uint8_t position = positions[static_cast<std::uint8_t>(byte)];
  return static_cast<std::uint8_t>(position == NOT_IN_ALPHABET ? MB_INDEX_FANOUT + 1
                                                               : position + 1);
}

struct SortItem {
  std::uint64_t head;    // ranks of the first HEAD_CHARACTERS code bytes, big-endian, zero-padded
  std::uint32_t length;  // of the code, capped: only "longer than HEAD_CHARACTERS" matters
  std::uint32_t index;   // position in `entries`
};

// The write order of two codes from their character `from` on: by rank, a code before the longer
// codes it begins.
std::strong_ordering write_order_of(std::string_view a, std::string_view b,
                                    const PositionMap& positions, std::size_t from = 0) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t k = from; k < common; ++k) {
    const std::uint8_t rank_a = rank_of(positions, a[k]);
    const std::uint8_t rank_b = rank_of(positions, b[k]);
    if (rank_a != rank_b) {
      return rank_a <=> rank_b;
    }
  }
  return a.size() <=> b.size();
}

// Entry indices in write order; nothing when the entries stand in write order already, as
// imported tables in byte order do for most alphabets: one pass tells, and no list is made.
std::optional<std::vector<std::uint32_t>> sort_entries(const std::vector<TableEntry>& entries,
                                                       const PositionMap& positions,
                                                       bool parallel) {
  // Whether each entry of [from, to) comes no earlier than the one before it.
  const auto in_order_between = [&](std::size_t from, std::size_t to) {
    for (std::size_t i = std::max<std::size_t>(from, 1); i < to; ++i) {
      if (write_order_of(entries[i - 1].code, entries[i].code, positions) > 0) {
        return false;
      }
    }
    return true;
  };
  const std::size_t half = entries.size() / 2;
  bool lower_in_order = false;
  bool upper_in_order = false;
  run_side_by_side(
      parallel, [&] { upper_in_order = in_order_between(half, entries.size()); },
      [&] { lower_in_order = in_order_between(0, half); });
  if (lower_in_order && upper_in_order) {
    return std::nullopt;
  }
  std::vector<SortItem> items;
  items.reserve(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::string_view code = entries[i].code;
    std::uint64_t head = 0;
    for (std::size_t k = 0; k < HEAD_CHARACTERS; ++k) {
      head = (head << 8) | (k < code.size() ? rank_of(positions, code[k]) : 0);
    }
    const auto length =
        static_cast<std::uint32_t>(std::min<std::size_t>(code.size(), HEAD_CHARACTERS + 1));
    items.push_back({head, length, static_cast<std::uint32_t>(i)});
  }
  // Ranks are never 0, so equal heads mean equal codes of up to HEAD_CHARACTERS, or two longer
  // codes that may differ later.
  const auto write_order = [&](const SortItem& a, const SortItem& b) {
    if (a.head != b.head) {
      return a.head < b.head;
    }
    if (std::max(a.length, b.length) > HEAD_CHARACTERS) {
      const auto tails =
          write_order_of(entries[a.index].code, entries[b.index].code, positions, HEAD_CHARACTERS);
      if (tails != 0) {
        return tails < 0;
      }
    }
    return a.index < b.index;
  };
  std::ranges::sort(items, write_order);
  std::vector<std::uint32_t> order(items.size());
  std::ranges::transform(items, order.begin(), &SortItem::index);
  return order;
}

using Header = std::array<std::uint8_t, MB_HEADER_SIZE>;

// Zero-fills the field and stores the text as UTF-16LE; one zero unit must remain after it so
// readers find the end.
std::expected<void, TableError> write_header_text(Header& header, std::size_t offset,
                                                  std::size_t room_units, std::string_view text,
                                                  std::string_view label) {
  if (utf16_length(text) >= room_units) {
    return std::unexpected(TableError::header_field_too_long(std::string(label)));
  }
  std::fill_n(header.begin() + offset, 2 * room_units, std::uint8_t{0});
  std::uint8_t* out = header.data() + offset;
  for_each_utf16_unit(text, [&](char16_t unit) {
    store_u16le(out, unit);
    out += 2;
  });
  return {};
}

std::expected<Header, TableError> write_header(const CodeTable& table, ByteView container,
                                               std::string_view phrase_rules) {
  Header header;
  std::copy_n(container.begin(), MB_HEADER_SIZE, header.begin());
  auto written = write_header_text(header, MB_DESCRIPTION_OFFSET, MB_DESCRIPTION_UNITS,
                                   table.description, DESCRIPTION_LABEL);
  if (!written) {
    return std::unexpected(written.error());
  }
  header[MB_ALPHABET_LENGTH_OFFSET] = static_cast<std::uint8_t>(table.alphabet.size());
  written = write_header_text(header, MB_ALPHABET_OFFSET, MB_ALPHABET_UNITS, table.alphabet,
                              ALPHABET_LABEL);
  if (!written) {
    return std::unexpected(written.error());
  }
  written = write_header_text(header, MB_PHRASE_RULES_OFFSET, MB_PHRASE_RULES_UNITS, phrase_rules,
                              PHRASE_RULES_LABEL);
  if (!written) {
    return std::unexpected(written.error());
  }
  return header;
}

std::string join_phrase_rules(const std::vector<std::string>& rules) {
  std::string joined;
  for (std::size_t i = 0; i < rules.size(); ++i) {
    if (i > 0) {
      joined += '/';
    }
    joined += rules[i];
  }
  return joined;
}

// The index slot of the code's first `level` characters (level 1 to 3).
std::size_t index_slot(std::string_view code, std::size_t level, const PositionMap& positions) {
  const auto p = [&](std::size_t k) -> std::size_t {
    return positions[static_cast<std::uint8_t>(code[k])];
  };
  constexpr std::size_t F = MB_INDEX_FANOUT;
  switch (level) {
    case 1:
      return p(0);
    case 2:
      return F + F * p(0) + p(1);
    default:
      return F + F * F + F * F * p(0) + F * p(1) + p(2);
  }
}

// Checks the records at write places [from, to) and sets the index slots they reach first, the
// first record at `first_offset`; the size of their records, or the first one's fault.
template <typename EntryAt>
std::expected<std::uint64_t, TableError> place_records(const EntryAt& entry_at, std::size_t from,
                                                       std::size_t to, const PositionMap& positions,
                                                       std::vector<std::uint32_t>& index,
                                                       std::uint64_t first_offset,
                                                       std::uint64_t max_record_offset) {
  std::uint64_t records_size = 0;
  std::string_view previous;
  for (std::size_t place = from; place < to; ++place) {
    const TableEntry& entry = entry_at(place);
    const std::string_view code = entry.code;
    if (code.empty() || code.size() > MB_MAX_CODE_BYTES) {
      return std::unexpected(
          TableError::invalid_entry(std::string(code), std::string(MB_CODE_LENGTH_REASON)));
    }
    if (std::ranges::any_of(code, [&](char c) {
          return positions[static_cast<std::uint8_t>(c)] == NOT_IN_ALPHABET;
        })) {
      return std::unexpected(
          TableError::invalid_entry(std::string(code), std::string(CODE_CHARACTER_REASON)));
    }
    const std::size_t text_units = utf16_length(entry.text);
    if (text_units == 0 || text_units > MB_MAX_TEXT_UNITS) {
      return std::unexpected(
          TableError::invalid_entry(std::string(code), std::string(MB_TEXT_LENGTH_REASON)));
    }
    const std::uint64_t offset = first_offset + records_size;
    if (offset > max_record_offset) {
      return std::unexpected(
          TableError::invalid_entry(std::string(code), std::string(OFFSET_LIMIT_REASON)));
    }
    // Records sharing a prefix are contiguous, so the first one to reach a slot is its target;
    // the prefixes this code shares with the one before have theirs already.
    const std::size_t levels = std::min(code.size(), INDEX_LEVELS);
    std::size_t shared = 0;
    while (shared < levels && shared < previous.size() && previous[shared] == code[shared]) {
      ++shared;
    }
    for (std::size_t level = shared + 1; level <= levels; ++level) {
      std::uint32_t& slot = index[index_slot(code, level, positions)];
      if (slot == NO_RECORD) {
        slot = static_cast<std::uint32_t>(offset);
      }
    }
    previous = code;
    records_size += MB_RECORD_HEAD_BYTES + code.size() + 2 * text_units;
  }
  return records_size;
}

// Writes the records at write places [from, to) from `out` on.
template <typename EntryAt>
void write_records(const EntryAt& entry_at, std::size_t from, std::size_t to, std::uint8_t* out) {
  for (std::size_t place = from; place < to; ++place) {
    const TableEntry& entry = entry_at(place);
    std::uint8_t* record = out;
    out += MB_RECORD_HEAD_BYTES;
    std::memcpy(out, entry.code.data(), entry.code.size());
    out += entry.code.size();
    std::size_t text_units = 0;
    for_each_utf16_unit(entry.text, [&](char16_t unit) {
      store_u16le(out, unit);
      out += 2;
      ++text_units;
    });
    record[0] = static_cast<std::uint8_t>(entry.code.size());
    record[1] = static_cast<std::uint8_t>(2 * text_units);
    record[2] = entry.priority;
  }
}

}  // namespace

namespace detail {

std::expected<Bytes, TableError> build_mb_with_offset_limit(const CodeTable& table,
                                                            ByteView container,
                                                            std::uint64_t max_record_offset) {
  if (container.size() < MB_RECORDS_OFFSET || !has_mb_magic(container)) {
    return std::unexpected(TableError::invalid_container());
  }
  if (auto valid = validate_alphabet(table.alphabet); !valid) {
    return std::unexpected(valid.error());
  }
  if (table.entries.empty()) {
    return std::unexpected(TableError::empty_table());
  }
  const std::string phrase_rules = join_phrase_rules(table.phrase_rules);
  if (utf16_length(phrase_rules) > MB_PHRASE_RULES_READ_UNITS) {
    return std::unexpected(TableError::header_field_too_long(std::string(PHRASE_RULES_LABEL)));
  }
  const PositionMap positions = map_positions(table.alphabet);
  const std::optional<std::vector<std::uint32_t>> order =
      sort_entries(table.entries, positions, table.entries.size() >= PARALLEL_BUILD_ENTRIES);
  const auto entry_at = [&](std::size_t place) -> const TableEntry& {
    return table.entries[order ? (*order)[place] : place];
  };
  const auto header = write_header(table, container, phrase_rules);
  if (!header) {
    return std::unexpected(header.error());
  }

  // First pass: check every record and place it, so that the file is allocated once and nothing
  // is written for a table that fails. The upper half is placed beside the lower one as if it
  // began the records, and moved behind them once the lower half's size is known.
  const std::size_t count = table.entries.size();
  const bool parallel = count >= PARALLEL_BUILD_ENTRIES;
  const std::size_t half = parallel ? count / 2 : count;
  std::vector<std::uint32_t> index(MB_INDEX_SLOTS, NO_RECORD);
  std::vector<std::uint32_t> upper_index;
  std::expected<std::uint64_t, TableError> lower_size = 0;
  std::expected<std::uint64_t, TableError> upper_size = 0;
  run_side_by_side(
      parallel,
      [&] {
        upper_index.assign(MB_INDEX_SLOTS, NO_RECORD);
        upper_size = place_records(entry_at, half, count, positions, upper_index, 0,
                                   std::numeric_limits<std::uint64_t>::max());
      },
      [&] {
        lower_size = place_records(entry_at, 0, half, positions, index, MB_RECORDS_OFFSET,
                                   max_record_offset);
      });
  if (!lower_size) {
    return std::unexpected(lower_size.error());
  }
  const std::uint64_t upper_start = MB_RECORDS_OFFSET + *lower_size;
  if (!upper_size || upper_start + *upper_size > max_record_offset) {
    // Only a table that fails, or comes near the offset limit, is placed again from the true
    // offset, so that the entry named is the first to fail in write order.
    upper_size =
        place_records(entry_at, half, count, positions, index, upper_start, max_record_offset);
    if (!upper_size) {
      return std::unexpected(upper_size.error());
    }
  } else if (!upper_index.empty()) {
    for (std::size_t slot = 0; slot < MB_INDEX_SLOTS; ++slot) {
      if (index[slot] == NO_RECORD && upper_index[slot] != NO_RECORD) {
        index[slot] = static_cast<std::uint32_t>(upper_start + upper_index[slot]);
      }
    }
  }

  Bytes bytes(upper_start + *upper_size);
  std::ranges::copy(*header, bytes.begin());
  for (std::size_t slot = 0; slot < MB_INDEX_SLOTS; ++slot) {
    store_u32le(bytes.data() + MB_HEADER_SIZE + 4 * slot, index[slot]);
  }
  run_side_by_side(
      parallel, [&] { write_records(entry_at, half, count, bytes.data() + upper_start); },
      [&] { write_records(entry_at, 0, half, bytes.data() + MB_RECORDS_OFFSET); });
  return bytes;
}

}  // namespace detail

std::expected<Bytes, TableError> build_mb(const CodeTable& table, ByteView container) {
  return detail::build_mb_with_offset_limit(table, container, detail::MB_MAX_RECORD_OFFSET);
}

}  // namespace qovira
