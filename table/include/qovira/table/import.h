// The two text importers: Rime dictionaries (.dict.yaml) and 冰凌 text code tables.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "qovira/table/model.h"

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

// How a Rime dictionary's rows are read: the columns its header's `columns` list gives the text,
// the code and the weight (text first, code second, weight third without a list; no weight column
// when a list leaves it out), and whether weights count (every `sort:` but "original").
struct RimeRowLayout {
  std::size_t text = 0;
  std::size_t code = 1;
  std::optional<std::size_t> weight = 2;
  bool weighted = true;

  friend bool operator==(const RimeRowLayout&, const RimeRowLayout&) = default;
};

// The layout import_rime reads the rows of the dictionary whose lines these are (as split_lines
// cuts them) with; only the header is looked at.
RimeRowLayout rime_row_layout(std::span<const std::string_view> lines);

// Reads the decoded text of a Rime dictionary. Bad body rows are skipped and logged; only a
// missing header end, too many bad rows or a failure of finish_table stop the import.
std::expected<RimeImport, TableError> import_rime(std::string_view text);

// Reads the decoded text of a 冰凌 table. A code with a character other than a-z or "/" stops the
// import; other unusable lines are ignored.
std::expected<BinglingImport, TableError> import_bingling(std::string_view text);

}  // namespace qovira
