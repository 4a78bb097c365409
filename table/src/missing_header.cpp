#include "qovira/table/missing_header.h"

#include <algorithm>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

#include "qovira/table/lines.h"
#include "qovira/table/table_text.h"
#include "qovira/table/utf8.h"
#include "qovira/table/white_space.h"

namespace qovira {
namespace {

bool is_blank_or_comment(std::string_view trimmed) {
  return trimmed.empty() || trimmed.starts_with('#');
}

bool is_key_character(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// A line of the YAML a dictionary header is written in: an indented line or a list item without a
// tab inside, or "key:" followed by nothing or by white space and a value.
bool reads_as_header_line(std::string_view raw, std::string_view trimmed) {
  const bool indented = raw.starts_with(' ') || raw.starts_with('\t');
  if ((indented || trimmed.starts_with('-')) && trimmed.find('\t') == std::string_view::npos) {
    return true;
  }
  const std::size_t colon = trimmed.find(':');
  if (colon == 0 || colon == std::string_view::npos ||
      !std::ranges::all_of(trimmed.substr(0, colon), is_key_character)) {
    return false;
  }
  const std::string_view value = trimmed.substr(colon + 1);
  return value.empty() || is_white_space(static_cast<unsigned char>(value.front()));
}

bool is_code(std::string_view piece) {
  return !piece.empty() && std::ranges::all_of(piece, [](char c) {
    return (c >= 'a' && c <= 'z') || c == ',' || c == '.' || c == ';' || c == '/';
  });
}

bool holds_word(std::string_view piece) {
  return std::ranges::any_of(piece, [](char c) { return static_cast<unsigned char>(c) >= 0x80; });
}

// The first two pieces of a line: its first two tab-separated columns, or, without a tab, the two
// pieces white space splits it into.
std::optional<std::pair<std::string_view, std::string_view>> two_pieces(std::string_view trimmed) {
  std::vector<std::string_view> pieces;
  if (trimmed.find('\t') != std::string_view::npos) {
    for_each_column(trimmed, [&pieces](std::size_t index, std::string_view piece) {
      pieces.push_back(trim(piece));
      return index < 1;
    });
    return std::pair{pieces[0], pieces[1]};
  }
  std::size_t piece_start = std::string_view::npos;
  for (std::size_t pos = 0; pos < trimmed.size() && pieces.size() <= 2;) {
    const std::size_t at = pos;
    const bool white = is_white_space(next_char(trimmed, pos));
    if (white && piece_start != std::string_view::npos) {
      pieces.push_back(trimmed.substr(piece_start, at - piece_start));
      piece_start = std::string_view::npos;
    } else if (!white && piece_start == std::string_view::npos) {
      piece_start = at;
    }
  }
  if (piece_start != std::string_view::npos) {
    pieces.push_back(trimmed.substr(piece_start));
  }
  if (pieces.size() != 2) {
    return std::nullopt;
  }
  return std::pair{pieces[0], pieces[1]};
}

}  // namespace

std::optional<std::uint64_t> unclosed_rime_header_end(std::string_view text) {
  if (find_rime_header_end(text).found) {
    return std::nullopt;
  }
  std::optional<std::uint64_t> last_header_line;
  std::uint64_t number = 0;
  LineCursor cursor(text);
  std::string_view raw;
  while (cursor.next(raw)) {
    ++number;
    std::string_view trimmed = trim(raw);
    if (number == 1 && trimmed.starts_with("\xEF\xBB\xBF")) {
      trimmed = trim(trimmed.substr(3));  // a byte-order mark before a comment hides nothing
    }
    if (!last_header_line) {
      if (trimmed == RIME_HEADER_START) {
        last_header_line = number;
      } else if (!is_blank_or_comment(trimmed)) {
        return std::nullopt;
      }
      continue;
    }
    if (is_blank_or_comment(trimmed)) {
      continue;
    }
    if (!reads_as_header_line(raw, trimmed)) {
      break;
    }
    last_header_line = number;
  }
  return last_header_line;
}

std::optional<ColumnOrder> ColumnOrderEvidence::order() const {
  const std::uint64_t entry_lines = text_first + code_first;
  if (entry_lines * 2 < lines) {
    return std::nullopt;
  }
  const auto most = [entry_lines](std::uint64_t agreeing) {
    return agreeing > 0 && agreeing * MAJORITY_DENOMINATOR >= entry_lines * MAJORITY_NUMERATOR;
  };
  if (most(text_first)) {
    return ColumnOrder::TextFirst;
  }
  if (most(code_first)) {
    return ColumnOrder::CodeFirst;
  }
  return std::nullopt;
}

ColumnOrderEvidence column_order_evidence(std::string_view text) {
  ColumnOrderEvidence evidence;
  // A line written twice says nothing new, and a repair takes the second copy out: counting each
  // line once keeps the answer the same for the repaired text.
  std::unordered_set<std::string_view> seen;
  for_each_line(text, [&evidence, &seen](std::string_view raw) {
    const std::string_view trimmed = trim(raw);
    if (is_blank_or_comment(trimmed) || !seen.insert(trimmed).second) {
      return;
    }
    ++evidence.lines;
    const auto pieces = two_pieces(trimmed);
    if (!pieces) {
      return;
    }
    const auto [first, second] = *pieces;
    if (holds_word(first) && is_code(second)) {
      ++evidence.text_first;
    } else if (is_code(first) && holds_word(second)) {
      ++evidence.code_first;
    }
  });
  return evidence;
}

}  // namespace qovira
