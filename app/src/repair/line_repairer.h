// The line rules of the repair: one pass over a table's lines that mends each by reason, takes out
// what the importer refuses, and finds exact repeats, each change recorded with its ground.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "pair_lines.h"
#include "qovira/app/repair/repair.h"
#include "qovira/table/entry.h"
#include "qovira/table/repeat_key.h"
#include "qovira/table/safe_text.h"
#include "qovira/table/table_text.h"
#include "qovira/table/white_space.h"

namespace qovira {

// The repaired text, held only from the first line that differs from the input: while a table
// needs no change, its lines are matched against the input instead of copied, so that it is not
// held twice beside the repeat check.
class RepairedText {
 public:
  RepairedText(std::string_view input, std::string& out)
      : input_(input), out_(out), same_(out.empty()) {}

  void append_line(std::string_view line) {
    if (same_ && follows(line)) {
      matched_ += line.size() + 1;
      return;
    }
    diverged().append(line).push_back('\n');
  }

  // Settles the text: as much of the input as the lines matched, when they all did.
  void finish() { diverged(); }

 private:
  bool follows(std::string_view line) const {
    const std::size_t end = matched_ + line.size();
    return end < input_.size() && input_[end] == '\n' &&
           (line.data() == input_.data() + matched_ ||
            input_.compare(matched_, line.size(), line) == 0);
  }

  std::string& diverged() {
    if (same_) {
      out_.assign(input_.substr(0, matched_));
      same_ = false;
    }
    return out_;
  }

  std::string_view input_;
  std::string& out_;
  bool same_;
  std::size_t matched_ = 0;
};

class LineRepairer {
 public:
  // `taken_out`: lines to take out as they stand, in order of line, each with its item.
  LineRepairer(const TableText& table, RepairResult& result, RepairedText& output,
               std::span<const RepairItem> taken_out, bool take_out_unsplit);

  // Lines wait in a short queue while the repeat check's slot for each is fetched: that slot is
  // a cache miss for nearly every line of a big table.
  void take(const TextLine& line) {
    Queued& queued = queue_[taken_ % LOOKAHEAD];
    if (taken_ >= LOOKAHEAD) {
      repair_queued(queued);
    }
    queued = {line, {}, {}, 0};
    if (line.kind == LineKind::Entry) {
      queued.text = line.text;
      queued.code = format_ == TableFormat::Bingling ? line.code : trim(line.code);
      queued.hash = repeat_hash({queued.text, queued.code});
      latest_line_of_.prefetch(queued.hash);
    }
    ++taken_;
  }
  // Whether the lines left in place for having no two columns are enough for the import of the
  // repaired dictionary to fail.
  bool left_lines_sink_the_import() const {
    return format_ == TableFormat::Rime && too_many_invalid_rows(entries_emitted_, unsplit_kept_);
  }

  // Repairs the lines still queued.
  void finish() {
    for (std::size_t index = taken_ > LOOKAHEAD ? taken_ - LOOKAHEAD : 0; index < taken_; ++index) {
      repair_queued(queue_[index % LOOKAHEAD]);
    }
  }

 private:
  static constexpr std::size_t LOOKAHEAD = 8;

  // A line and the pair its repeat check most likely looks up: its columns as they stand.
  struct Queued {
    TextLine line;
    std::string_view text;
    std::string_view code;
    std::uint64_t hash;
  };

  void repair_queued(const Queued& queued) {
    current_ = &queued;
    repair(queued.line);
    current_ = nullptr;
  }
  void repair(const TextLine& line);

  // Summaries and grounds quote the file's lines, words and codes: they are kept safe to show.
  void change(RepairRule rule, std::string_view summary, std::string_view basis,
              std::uint64_t number) {
    result_.changes.push_back({rule, displayable(summary), displayable(basis), number});
  }
  void keep(RepairRule rule, std::string_view summary, std::string_view reason,
            std::uint64_t number) {
    result_.kept.push_back({rule, displayable(summary), std::string(reason), number});
  }
  void take_out(RepairRule rule, std::string_view summary, std::string_view reason,
                std::uint64_t number) {
    result_.removed.push_back({rule, displayable(summary), std::string(reason), number});
  }
  void pass_unchanged(std::string_view raw) { output_.append_line(raw); }
  // A line of two pieces split by spaces becomes two tab-separated columns when one of them is
  // clearly the code and the other clearly a word; false when it is left as it is.
  bool split_at_spaces(const TextLine& line, std::uint64_t number, std::string& rebuilt);
  void repair_entry(const TextLine& line, std::uint64_t number);
  // A Rime line whose columns were swapped, or whose first tab became a space: the line as it
  // should have been written, or nothing.
  std::optional<std::string> mended_layout(const TextLine& line, std::uint64_t number);
  // Takes out an entry line the importer would refuse, or whose .mb record cannot be built.
  bool refused(const TextLine& line, std::string_view code, bool pinned, std::uint64_t number);
  // 冰凌 settings the import or the build refuses, mended from the table's own codes.
  void plan_settings();
  void mend_setting(std::string_view raw, std::uint64_t number);
  // A Rime header's `name:` too long for the .mb header, shortened; false for any other line.
  bool mend_rime_name(std::string_view raw, std::uint64_t number);
  // Full-width forms, capitals, a spaced pin mark and illegal letters; false when the entry is to
  // be left out.
  bool mend_code(std::string_view text, std::string_view& code, bool pinned, std::uint64_t number);
  void emit_entry(const TextLine& line, std::string_view code);
  std::string_view store(std::string code) { return owned_.emplace_back(std::move(code)); }

  // Most tables need no code inferred: the statistics are gathered on the first code that does.
  const CodeStats& stats() {
    if (!stats_) {
      stats_ = collect_code_stats(table_);
    }
    return *stats_;
  }

  std::array<Queued, LOOKAHEAD> queue_{};
  std::size_t taken_ = 0;
  const Queued* current_ = nullptr;
  const TableText& table_;
  TableFormat format_;
  RepairResult& result_;
  std::span<const RepairItem> taken_out_;
  std::optional<CodeStats> stats_;
  PairLines latest_line_of_;
  RepairedText& output_;
  std::string rebuilt_line_;  // reused for every entry line written
  // Owns the codes and lines the rules rewrote, so that duplicate keys can point at them.
  std::deque<std::string> owned_;
  EntryReader reader_;
  std::uint64_t longest_code_ = 0;
  std::optional<std::string> planned_alphabet_;
  // Rime: the room a name has, when the dictionary's name does not fit it.
  std::optional<std::size_t> rime_name_room_;
  // Lines of no two columns are taken out rather than left: left, so many would sink the import.
  bool take_out_unsplit_;
  bool dropped_ = false;  // the line at hand was taken out
  std::uint64_t unsplit_kept_ = 0;
  std::uint64_t entries_emitted_ = 0;
};

}  // namespace qovira
