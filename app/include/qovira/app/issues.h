// The findings of a diagnosis: severities, every issue kind with its texts, and the body line scan.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "qovira/app/format.h"
#include "qovira/table/table_text.h"

namespace qovira {

enum class Severity : std::uint8_t { Fatal, Warning, Info };

// "[致命]", "[警告]", "[提示]".
std::string_view severity_label(Severity severity);

// The catalogue of findings, one kind per entry.
enum class IssueKind : std::uint8_t {
  UnreadableText,
  MissingRimeHeader,
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
Issue mb_build_failed(std::string_view error);
Issue mb_unreadable(std::string_view error);
Issue mb_mismatch(std::string_view difference);

// Scans the body lines of a text table for hand-editing mistakes, appending issues (the
// DuplicateLine infos last, in line order). Returns the number of body rows that had both
// columns.
std::uint64_t scan_body_lines(const TableText& text, std::vector<Issue>& issues);

// Stable: by severity (Fatal first), then by line.
void sort_issues(std::vector<Issue>& issues);

}  // namespace qovira
