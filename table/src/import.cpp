// What both text importers hand over between reading a text and merging its rows.
#include <expected>
#include <memory>
#include <utility>

#include "import_common.h"
#include "qovira/table/import.h"

namespace qovira {

ReadRows::ReadRows(std::unique_ptr<Contents> contents) : contents_(std::move(contents)) {}
ReadRows::ReadRows(ReadRows&&) noexcept = default;
ReadRows& ReadRows::operator=(ReadRows&&) noexcept = default;
ReadRows::~ReadRows() = default;

std::expected<TableImport, TableError> finish_import(ReadRows read) {
  ReadRows::Contents& contents = *read.contents_;
  auto table = import_detail::finish_rows(std::move(contents.description), std::move(contents.rows),
                                          contents.alphabet, std::move(contents.phrase_rules));
  if (!table) {
    return std::unexpected(std::move(table.error()));
  }
  contents.import.code_table = std::move(*table);
  return std::move(contents.import);
}

}  // namespace qovira
