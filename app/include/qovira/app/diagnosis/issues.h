// The findings of a diagnosis: severities, every issue kind with its texts, and the body line scan.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "qovira/table/format.h"
#include "qovira/table/table_text.h"

namespace qovira {

enum class Severity : std::uint8_t { Fatal, Warning, Info };

// "[致命]", "[警告]", "[提示]".
std::string_view severity_label(Severity severity);

// The catalogue of findings, one kind per entry.
enum class IssueKind : std::uint8_t {
  UnreadableText,
  MissingRimeHeader,
  MarkBeforeHeader,  // a UTF-8 byte-order mark hides the first line's header marker
  ImportFailed,
  ImporterSkipped,
  ImporterSkippedSummary,
  MissingColumns,
  EmptyCodeOrText,
  BadCodeCharacters,
  DuplicateLine,
  MbBuildFailed,
  MbUnreadable,
  MbMismatch,
};

struct Issue {
  IssueKind kind = IssueKind::ImportFailed;
  std::string message;
  // Always one of the catalogue's fixed texts: a view, so that a million repeats cost no copies.
  std::string_view advice;
  std::uint64_t line = 0;  // 0: the whole file
  Severity severity = Severity::Fatal;

  friend bool operator==(const Issue&, const Issue&) = default;
};

// a-z, the space, "," "." "/" ";": the characters a code may hold.
bool is_code_character(char32_t c);

// A code as shown inside messages: in straight double quotes, with \" \\ \t \n \r \0 and \u{hex}
// for other control characters.
std::string quote_code(std::string_view code);

Issue unreadable_text(std::string_view error);
// The same for bytes that read as a table in the legacy Chinese code page: its advice says so.
Issue unreadable_legacy_text(std::string_view error);
// The same for bytes that are UTF-8 but for a few damaged pieces.
Issue unreadable_damaged_utf8(std::string_view error);
// `marker` is the header marker the mark stands in front of.
Issue mark_before_header(std::string_view marker);
Issue missing_rime_header();
Issue import_failed(std::string_view error);
Issue importer_skipped(std::uint64_t line, std::string_view code, std::string_view reason);
Issue importer_skipped_summary(std::uint64_t total, std::uint64_t shown);
Issue missing_columns(std::uint64_t line, std::string_view preview);
Issue empty_code_or_text(std::uint64_t line);
Issue bad_code_characters(std::uint64_t line, std::string_view code, std::string_view text,
                          std::string_view offending);
Issue duplicate_line(std::uint64_t line, std::uint64_t earlier, std::string_view text,
                     std::string_view code);
class IssueList;
// Counts the repeated lines beyond those listed one by one.
void fold_duplicate_lines(IssueList& issues, std::uint64_t count);
Issue mb_build_failed(std::string_view error);
Issue mb_unreadable(std::string_view error);
Issue mb_mismatch(std::string_view difference);

struct IssueCounts {
  std::uint64_t fatal = 0;
  std::uint64_t warnings = 0;
  std::uint64_t infos = 0;
};

// The issues of a diagnosis as a report shows them: of each kind with each piece of advice, the
// first SHOWN_PER_KIND by line in full and the rest only counted, so that a table of millions of
// repeated lines holds a few dozen issues instead of millions of messages. Issues of one kind and
// advice are added in line order.
class IssueList {
 public:
  static constexpr std::uint64_t SHOWN_PER_KIND = 15;

  // The issues of one kind and advice beyond those shown.
  struct Folded {
    Severity severity = Severity::Fatal;
    std::string_view advice;
    IssueKind kind = IssueKind::ImportFailed;
    std::uint64_t count = 0;

    friend bool operator==(const Folded&, const Folded&) = default;
  };

  void add(Issue issue);
  void fold(IssueKind kind, Severity severity, std::string_view advice, std::uint64_t count);
  // Takes the other list's issues after these.
  void append(IssueList other);
  // Orders the shown issues stably by severity (Fatal first), then by line, keeping of each kind
  // the first SHOWN_PER_KIND of the lists appended together.
  void sort();

  const std::vector<Issue>& shown() const { return shown_; }
  const std::vector<Folded>& folded() const { return folded_; }
  IssueCounts counts() const;

  // Over the shown issues; a list shows an issue whenever it holds one.
  bool empty() const { return shown_.empty(); }
  std::size_t size() const { return shown_.size(); }
  const Issue& operator[](std::size_t index) const { return shown_[index]; }
  std::vector<Issue>::const_iterator begin() const { return shown_.begin(); }
  std::vector<Issue>::const_iterator end() const { return shown_.end(); }

  friend bool operator==(const IssueList& a, const IssueList& b) {
    return a.shown_ == b.shown_ && a.folded_ == b.folded_;
  }

 private:
  struct KindTally {
    Severity severity;
    std::string_view advice;
    IssueKind kind;
    std::uint64_t shown = 0;
    std::size_t folded = NONE;  // index into folded_
  };
  static constexpr std::size_t NONE = static_cast<std::size_t>(-1);

  KindTally& tally_of(IssueKind kind, Severity severity, std::string_view advice);
  std::size_t find_tally(IssueKind kind, Severity severity, std::string_view advice) const;
  void count_folded(KindTally& tally, std::uint64_t count);

  std::vector<Issue> shown_;
  std::vector<Folded> folded_;
  std::vector<KindTally> tallies_;  // a few kinds: searched in turn
};

// Scans the body lines of a text table for hand-editing mistakes, adding issues (the
// DuplicateLine infos last, in line order). Returns the number of body rows that had both
// columns.
std::uint64_t scan_body_lines(const TableText& text, IssueList& issues);

// Stable: by severity (Fatal first), then by line.
void sort_issues(std::vector<Issue>& issues);

}  // namespace qovira
