// Repair of a text table: the line rules, inference of illegal code letters, and the report.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "qovira/app/diagnosis.h"
#include "qovira/app/format.h"
#include "qovira/table/table_text.h"

namespace qovira {

struct RepairItem {
  std::string summary;
  std::string basis;
  std::uint64_t line = 0;  // 0: the whole file

  friend bool operator==(const RepairItem&, const RepairItem&) = default;
};

struct RepairResult {
  std::string text;
  std::vector<RepairItem> changes;
  std::vector<RepairItem> kept;
};

// The trimmed line, cut to 30 characters followed by "…" when longer.
std::string clip_line(std::string_view line);

// The key of the code statistics: entries of one shape that put `character` at `position`.
struct CodeSlot {
  std::uint64_t word_length = 0;
  std::uint64_t code_length = 0;
  std::uint64_t position = 0;
  char32_t character = 0;

  friend bool operator==(const CodeSlot&, const CodeSlot&) = default;
};

struct CodeSlotHash {
  std::size_t operator()(const CodeSlot& slot) const noexcept;
};

using CodeStats =
    std::unordered_map<CodeSlot, std::unordered_map<char32_t, std::uint64_t>, CodeSlotHash>;

// The statistics of every entry of the body whose code is made of code characters alone.
CodeStats collect_code_stats(const TableText& text);

struct InferredCode {
  std::string code;
  std::string basis;
};

// A code for an entry whose code holds illegal characters, or nothing when any position cannot be
// guessed with confidence.
std::optional<InferredCode> infer_code(const CodeStats& stats, std::string_view text,
                                       std::string_view code);

// Never fails. `base_name` names the Rime header added to a text without one. Before the line
// rules, a text with old Mac line ends (CR alone) gets LF line ends, and a Rime dictionary that a
// "[CODETABLE]" in its text made look like a 冰凌 table loses that marker; both are changes.
RepairResult repair_text(std::string_view text, TableFormat format, std::string_view base_name);

// Whether the repair reads a text detected as `format` as a Rime dictionary whose "[CODETABLE]"
// markers are to be taken out: a complete Rime header, and no line that is a 冰凌 section line.
bool is_rime_behind_markers(std::string_view text, TableFormat format);
// The text with every "[CODETABLEHEADER]" and "[CODETABLE]" taken out, until none is left.
std::string without_markers(std::string_view text);

// The report after a repair: `prefix`, then the lines, each ended by `line_end`.
std::string build_repair_report(std::string_view source_path, std::string_view saved_path,
                                const RepairResult& result, const Diagnosis& recheck,
                                std::string_view line_end = "\n", std::string_view prefix = {});

}  // namespace qovira
