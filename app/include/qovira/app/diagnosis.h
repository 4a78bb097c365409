// Diagnosis of a table file's bytes, and its text report.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "qovira/app/format.h"
#include "qovira/app/issues.h"
#include "qovira/table/model.h"

namespace qovira {

struct Diagnosis {
  std::string alphabet;
  IssueList issues;
  std::optional<std::string> failure;
  std::optional<CodeTable> table;
  std::uint64_t imported_entries = 0;
  std::uint64_t body_rows = 0;
  bool importable = false;
  TableFormat format = TableFormat::Unknown;
};

// Never fails: every problem becomes a Fatal issue. `bytes_done`, when given, may be called once
// the bytes are read for the last time, before the table is merged: a caller that needs them no
// more frees them there, so that the file and the whole table are never held at once.
Diagnosis diagnose(ByteView bytes, const std::function<void()>& bytes_done = {});

// The text of bytes judged GB18030 (and so GBK), neither UTF-8, damaged UTF-8 nor UTF-16, that
// reads as a Rime or 冰凌 table, or as a list of entry lines whose column order is clear; nothing
// for any other bytes.
std::optional<std::string> legacy_table_text(ByteView bytes);

// The full report; `path` is shown as given. Always ends with a line feed.
std::string render_report(std::string_view path, const Diagnosis& diagnosis);

}  // namespace qovira
