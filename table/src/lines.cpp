#include "qovira/table/lines.h"

#include <algorithm>
#include <cstddef>

namespace qovira {

std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  for_each_line(text, [&](std::string_view line) { lines.push_back(line); });
  return lines;
}

bool has_lone_cr(std::string_view text) {
  for (std::size_t at = text.find('\r'); at != std::string_view::npos;) {
    const std::size_t end = text.find_first_not_of('\r', at);
    if (end == std::string_view::npos || text[end] != '\n') {
      return true;
    }
    at = text.find('\r', end);
  }
  return false;
}

std::size_t lone_crs_to_line_feeds(std::string& text) {
  std::size_t converted = 0;
  for (std::size_t at = text.find('\r'); at != std::string::npos;) {
    const std::size_t end = std::min(text.find_first_not_of('\r', at), text.size());
    if (end == text.size() || text[end] != '\n') {
      std::fill(text.begin() + static_cast<std::ptrdiff_t>(at),
                text.begin() + static_cast<std::ptrdiff_t>(end), '\n');
      converted += end - at;
    }
    at = text.find('\r', end);
  }
  return converted;
}

}  // namespace qovira
