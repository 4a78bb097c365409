// The neutral in-memory code table, its import records and the error kinds of the table library.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

#include "qovira/table/bytes.h"

namespace qovira {

// One row as an importer read it, before validation and merging.
struct ImportRecord {
  std::string code;
  std::string text;
  std::uint64_t weight = 0;
  bool pinned = false;
};

// A code or a word of a table entry in SIZE bytes: up to SIZE - 1 bytes in place, longer ones on
// the heap, so that a table of millions of short entries holds little more than their text. The
// bytes are read and written with memcpy, so the string needs no alignment and packs tightly.
template <std::size_t SIZE>
class BasicEntryString {
  static_assert(SIZE > sizeof(char*) + 1 && SIZE <= 128);

 public:
  BasicEntryString() noexcept { forget(); }
  BasicEntryString(std::string_view value) { assign(value); }
  BasicEntryString(const char* value) : BasicEntryString(std::string_view(value)) {}
  BasicEntryString(const std::string& value) : BasicEntryString(std::string_view(value)) {}
  BasicEntryString(const BasicEntryString& other) { assign(other.view()); }
  BasicEntryString(BasicEntryString&& other) noexcept {
    std::memcpy(bytes_, other.bytes_, sizeof bytes_);
    other.forget();
  }
  BasicEntryString& operator=(const BasicEntryString& other) {
    if (this != &other) {
      BasicEntryString copy(other);
      swap(copy);
    }
    return *this;
  }
  BasicEntryString& operator=(BasicEntryString&& other) noexcept {
    if (this != &other) {
      release();
      std::memcpy(bytes_, other.bytes_, sizeof bytes_);
      other.forget();
    }
    return *this;
  }
  ~BasicEntryString() { release(); }

  void swap(BasicEntryString& other) noexcept {
    char held[sizeof bytes_];
    std::memcpy(held, bytes_, sizeof bytes_);
    std::memcpy(bytes_, other.bytes_, sizeof bytes_);
    std::memcpy(other.bytes_, held, sizeof bytes_);
  }

  const char* data() const noexcept { return on_heap() ? heap_data() : bytes_; }
  std::size_t size() const noexcept {
    if (!on_heap()) {
      return IN_PLACE - static_cast<unsigned char>(bytes_[TAG]);
    }
    std::uint64_t size = 0;
    std::memcpy(&size, bytes_ + sizeof(char*), HEAP_SIZE_BYTES);
    return static_cast<std::size_t>(size);
  }
  bool empty() const noexcept { return size() == 0; }
  std::string_view view() const noexcept { return {data(), size()}; }
  operator std::string_view() const noexcept { return view(); }
  const char* begin() const noexcept { return data(); }
  const char* end() const noexcept { return data() + size(); }
  int compare(std::string_view other) const noexcept { return view().compare(other); }

  // One exact overload for each kind of operand, so that no comparison needs a conversion that
  // another overload could have made instead.
  friend bool operator==(const BasicEntryString& a, const BasicEntryString& b) noexcept {
    return a.view() == b.view();
  }
  friend bool operator==(const BasicEntryString& a, std::string_view b) noexcept {
    return a.view() == b;
  }
  friend bool operator==(const BasicEntryString& a, const std::string& b) noexcept {
    return a.view() == b;
  }
  friend bool operator==(const BasicEntryString& a, const char* b) noexcept {
    return a.view() == std::string_view(b);
  }
  friend std::strong_ordering operator<=>(const BasicEntryString& a,
                                          const BasicEntryString& b) noexcept {
    return a.view() <=> b.view();
  }
  friend std::strong_ordering operator<=>(const BasicEntryString& a, std::string_view b) noexcept {
    return a.view() <=> b;
  }
  friend std::strong_ordering operator<=>(const BasicEntryString& a,
                                          const std::string& b) noexcept {
    return a.view() <=> std::string_view(b);
  }
  friend std::strong_ordering operator<=>(const BasicEntryString& a, const char* b) noexcept {
    return a.view() <=> std::string_view(b);
  }
  friend void swap(BasicEntryString& a, BasicEntryString& b) noexcept { a.swap(b); }

 private:
  // The last byte: how many of the bytes in place are unused, or ON_HEAP.
  static constexpr std::size_t TAG = SIZE - 1;
  static constexpr std::size_t IN_PLACE = SIZE - 1;
  static constexpr std::size_t HEAP_SIZE_BYTES = SIZE - 1 - sizeof(char*);  // after the pointer
  static constexpr unsigned char ON_HEAP = 0x80;

  bool on_heap() const noexcept { return static_cast<unsigned char>(bytes_[TAG]) == ON_HEAP; }
  char* heap_data() const noexcept {
    char* pointer = nullptr;
    std::memcpy(&pointer, bytes_, sizeof pointer);
    return pointer;
  }
  // Empty, without freeing what it held.
  void forget() noexcept {
    std::memset(bytes_, 0, sizeof bytes_);
    bytes_[TAG] = static_cast<char>(IN_PLACE);
  }
  void release() noexcept {
    if (on_heap()) {
      delete[] heap_data();
    }
  }
  void assign(std::string_view value) {
    forget();
    if (value.size() <= IN_PLACE) {
      std::memcpy(bytes_, value.data(), value.size());
      bytes_[TAG] = static_cast<char>(IN_PLACE - value.size());
      return;
    }
    char* pointer = new char[value.size()];
    std::memcpy(pointer, value.data(), value.size());
    const std::uint64_t size = value.size();
    std::memcpy(bytes_, &pointer, sizeof pointer);
    std::memcpy(bytes_ + sizeof pointer, &size, HEAP_SIZE_BYTES);
    bytes_[TAG] = static_cast<char>(ON_HEAP);
  }

  char bytes_[SIZE];
};

// A word: up to 15 bytes (five CJK characters) in place.
using EntryString = BasicEntryString<16>;
// A code: up to 14 letters in place, one byte less than a word so that an entry with its priority
// fills 32 bytes.
using CodeString = BasicEntryString<15>;

struct TableEntry {
  CodeString code;
  EntryString text;
  std::uint8_t priority = 0;

  friend bool operator==(const TableEntry&, const TableEntry&) = default;
};
static_assert(sizeof(TableEntry) == 32);

struct CodeTable {
  std::string description;
  std::string alphabet;
  std::vector<std::string> phrase_rules;
  std::vector<TableEntry> entries;

  friend bool operator==(const CodeTable&, const CodeTable&) = default;
};

inline constexpr std::string_view DEFAULT_PHRASE_RULE = "p11+p21+p31+p32";

struct SkippedSample {
  std::string code_shown;
  std::string reason;
  std::uint64_t line = 0;

  friend bool operator==(const SkippedSample&, const SkippedSample&) = default;
};

// Records the rows an importer skipped: every one is counted, the first three are kept as samples.
struct SkipLog {
  static constexpr std::size_t MAX_SAMPLES = 3;

  std::vector<SkippedSample> samples;
  std::uint64_t total = 0;

  void add(std::uint64_t line, std::string_view raw_code, std::string_view reason);
};

enum class TableErrorKind : std::uint8_t {
  EmptyTable,
  InvalidContainer,
  InvalidAlphabet,
  InvalidEntry,
  HeaderFieldTooLong,
  TooManyInvalidRecords,
  NotRimeDict,
  NotBinglingTable,
  InvalidMetadata,
  UndecodableText,
};

// Every failure of the table library. `subject` holds the alphabet, code, field label or detail of
// the kinds that carry one; `reason` the reason of InvalidEntry; `valid`/`invalid` the counts of
// TooManyInvalidRecords.
struct TableError {
  TableErrorKind kind = TableErrorKind::EmptyTable;
  std::string subject;
  std::string reason;
  std::uint64_t valid = 0;
  std::uint64_t invalid = 0;

  static TableError empty_table();
  static TableError invalid_container();
  static TableError invalid_alphabet(std::string alphabet);
  static TableError invalid_entry(std::string code, std::string reason);
  static TableError header_field_too_long(std::string field_label);
  static TableError too_many_invalid_records(std::uint64_t valid, std::uint64_t invalid);
  static TableError not_rime_dict();
  static TableError not_bingling_table();
  static TableError invalid_metadata(std::string detail);
  static TableError undecodable_text(std::string detail);

  // The fixed Chinese message with the fields filled in.
  std::string message() const;

  friend bool operator==(const TableError&, const TableError&) = default;
};

// The alphabet must be 1 to 30 distinct characters, each one of a-z , . / ;
std::expected<void, TableError> validate_alphabet(std::string_view alphabet);

// Validates, merges, orders and scores the records into a table. With `weighted`, a repeated
// (code, text) keeps the heavier record and candidates of one code are ordered by weight; without
// it, the first record wins and every priority is 100.
std::expected<CodeTable, TableError> finish_table(std::string description,
                                                  std::vector<ImportRecord> records,
                                                  std::string_view alphabet,
                                                  std::vector<std::string> phrase_rules,
                                                  bool weighted);

}  // namespace qovira
