// The two text importers: Rime dictionaries (.dict.yaml) and 冰凌 text code tables.
#pragma once

#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qovira/table/model.h"
#include "qovira/table/table_text.h"

namespace qovira {

// What an importer hands back besides the table. The Rime importer fills `skipped` and
// `length_rules`; the 冰凌 importer fills every header field but never skips silently-counted rows.
struct TableImport {
  CodeTable code_table;
  std::vector<std::string> length_rules;  // "{N}={formula}" then "{N}+={formula}"
  SkipLog skipped;
  std::optional<std::uint64_t> code_length;
  std::optional<std::string> wildcard;
  std::optional<std::string> special_prefix;
  std::optional<std::string> phrase_rule_text;
};

using RimeImport = TableImport;
using BinglingImport = TableImport;

// What an importer read of a text, before its rows are merged into the table: the rows and what it
// keeps of the header, all copied out of the text, so that the text's owner may free it before
// finish_import.
class ReadRows {
 public:
  struct Contents;

  explicit ReadRows(std::unique_ptr<Contents> contents);
  ReadRows(ReadRows&&) noexcept;
  ReadRows& operator=(ReadRows&&) noexcept;
  ~ReadRows();

 private:
  friend std::expected<TableImport, TableError> finish_import(ReadRows read);

  std::unique_ptr<Contents> contents_;
};

// Merges what an importer read into the table; fails where finish_table would.
std::expected<TableImport, TableError> finish_import(ReadRows read);

// Reads the decoded text of a Rime dictionary. Bad body rows are skipped and logged; only a
// missing header end, too many bad rows or a failure of finish_table stop the import.
std::expected<RimeImport, TableError> import_rime(std::string_view text);
// The reading half of import_rime, over a text already read as a Rime dictionary.
std::expected<ReadRows, TableError> read_rime_rows(const TableText& text);

// Reads the decoded text of a 冰凌 table. A code with a character other than a-z or "/" stops the
// import; other unusable lines are ignored.
std::expected<BinglingImport, TableError> import_bingling(std::string_view text);
// The reading half of import_bingling, over a text already read as a 冰凌 table.
std::expected<ReadRows, TableError> read_bingling_rows(const TableText& text);

}  // namespace qovira
