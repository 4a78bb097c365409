// Export of a table as .mb bytes, proven by reading them back.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "qovira/table/mb.h"
#include "qovira/table/model.h"

namespace qovira {

struct ExportResult {
  Bytes bytes;
  std::string verdict;
  std::uint64_t entries = 0;
  bool verified = false;
};

// Builds on the default container and reads the bytes back. Fails only when the build fails, with
// the build error's message.
std::expected<ExportResult, std::string> export_mb(const CodeTable& table);

// The read-back half of export_mb, for .mb bytes built from a table of `entries` entries over
// `alphabet`.
ExportResult verify_built_mb(Bytes bytes, std::uint64_t entries, std::string_view alphabet);

// Nothing when the tables agree, else the first difference.
std::optional<std::string> compare_readback(const CodeTable& imported, const CodeTable& read_back);

// compare_readback of a table and the .mb bytes built from it, without holding the read-back table
// unless they differ; fails when the bytes do not read.
std::expected<std::optional<std::string>, MbReadError> compare_built_mb(const CodeTable& table,
                                                                        ByteView mb);

std::string export_summary(std::string_view source_path, std::string_view output_path,
                           const ExportResult& result);

}  // namespace qovira
