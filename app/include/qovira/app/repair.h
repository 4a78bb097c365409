// Repair of a text table: the line rules, inference of illegal code letters, and the report.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "qovira/app/diagnosis.h"
#include "qovira/app/format.h"

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

struct EntryLine {
  std::string_view text;
  std::string_view code;
  std::string_view weight;  // empty when the table has no weight column or the line no such field
};

// Splits a line into its text, code and weight columns (trimmed), or nothing when it has no text
// or no code field.
std::optional<EntryLine> parse_entry_line(std::string_view line, EntryColumns columns);
// The same in the format's usual order: Rime text then code, 冰凌 code then text.
std::optional<EntryLine> parse_entry_line(std::string_view line, TableFormat format);

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

CodeStats collect_code_stats(std::span<const std::string_view> lines, EntryColumns columns);
CodeStats collect_code_stats(std::span<const std::string_view> lines, TableFormat format);

struct InferredCode {
  std::string code;
  std::string basis;
};

// A code for an entry whose code holds illegal characters, or nothing when any position cannot be
// guessed with confidence.
std::optional<InferredCode> infer_code(const CodeStats& stats, std::string_view text,
                                       std::string_view code);

// Never fails. `base_name` names the Rime header added to a text without one.
RepairResult repair_text(std::string_view text, TableFormat format, std::string_view base_name);

std::string build_repair_report(std::string_view source_path, std::string_view saved_path,
                                const RepairResult& result, const Diagnosis& recheck);

}  // namespace qovira
