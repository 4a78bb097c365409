// Export of a table as .mb bytes, proven by reading them back record by record.
#pragma once

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "qovira/table/mb.h"
#include "qovira/table/model.h"
#include "qovira/table/progress.h"

namespace qovira {

struct ExportResult {
  Bytes bytes;
  std::string verdict;
  std::uint64_t entries = 0;
  bool verified = false;
  // Why it is not verified: the reader's error, or else the first difference between the table
  // and what its records read back as.
  std::optional<std::string> unreadable;
  std::optional<std::string> difference;
};

// Builds on the default container and reads every record back against the table. Fails only when
// the build fails, with the build error's message. Cancelled through `progress`, the result is not
// proven.
std::expected<ExportResult, std::string> export_mb(const CodeTable& table,
                                                   Progress* progress = nullptr);

// "已回读校验：{entries} 条词条、{alphabet characters} 个码元，与导入结果一致"
std::string verified_verdict(std::uint64_t entries, std::string_view alphabet);

// How many builds export_mb has started in this process, for tests that count them.
std::uint64_t mb_builds_started();

// Nothing when the tables agree, else the first difference.
std::optional<std::string> compare_readback(const CodeTable& imported, const CodeTable& read_back);

// compare_readback of a table and the .mb bytes built from it, without holding the read-back table
// unless they differ; fails when the bytes do not read.
std::expected<std::optional<std::string>, MbReadError> compare_built_mb(const CodeTable& table,
                                                                        ByteView mb);

std::string export_summary(std::string_view source_path, std::string_view output_path,
                           const ExportResult& result);

}  // namespace qovira
