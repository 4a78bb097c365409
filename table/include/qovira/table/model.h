// The neutral in-memory code table, its import records and the error kinds of the table library.
#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qovira {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

// One row as an importer read it, before validation and merging.
struct ImportRecord {
  std::string code;
  std::string text;
  std::uint64_t weight = 0;
  bool pinned = false;
};

struct TableEntry {
  std::string code;
  std::string text;
  std::uint8_t priority = 0;

  friend bool operator==(const TableEntry&, const TableEntry&) = default;
};

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
