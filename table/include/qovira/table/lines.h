// The one line cutter of table text, beside the table-text model that reads each line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qovira {

// Cuts at every LF; one CR right before the LF goes with it; a final piece without LF is a line,
// an empty piece after a final LF is not. Lines view the text.
class LineCursor {
 public:
  explicit LineCursor(std::string_view text) : rest_(text) {}

  bool next(std::string_view& line) {
    if (rest_.empty()) {
      return false;
    }
    const std::size_t end = rest_.find('\n');
    if (end == std::string_view::npos) {
      line = rest_;
      rest_ = {};
      return true;
    }
    const std::size_t stop = end > 0 && rest_[end - 1] == '\r' ? end - 1 : end;
    line = rest_.substr(0, stop);
    rest_.remove_prefix(end + 1);
    return true;
  }

  // What is left after the lines cut so far.
  std::string_view rest() const { return rest_; }

 private:
  std::string_view rest_;
};

std::vector<std::string_view> split_lines(std::string_view text);

// Calls `visit(line)` for every line as LineCursor cuts them, without building a list.
template <typename Visit>
void for_each_line(std::string_view text, Visit&& visit) {
  LineCursor cursor(text);
  std::string_view line;
  while (cursor.next(line)) {
    visit(line);
  }
}

// Whether the text holds a lone CR: one of a run of CRs that no LF follows. Such a CR ends a line
// (old Mac line ends, or a file saved from pieces); a CR right before an LF is line-end junk.
bool has_lone_cr(std::string_view text);
// Makes every lone CR an LF; returns how many.
std::size_t lone_crs_to_line_feeds(std::string& text);

}  // namespace qovira
