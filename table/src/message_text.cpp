#include "qovira/table/message_text.h"

#include "qovira/table/utf8.h"
#include "qovira/table/white_space.h"

namespace qovira {
namespace {

std::string cut_value(std::string_view value, std::size_t max_chars) {
  const std::string_view head = first_chars(value, max_chars);
  std::string out(head);
  if (head.size() < value.size()) {
    out.append(CUT_MARK);
  }
  return out;
}

}  // namespace

std::string shown_value(std::string_view value) {
  return cut_value(value, MAX_SHOWN_CHARS);
}

std::string shown_line(std::string_view line) {
  return cut_value(trim(line), MAX_SHOWN_LINE_CHARS);
}

std::string fill_placeholders(std::string_view pattern,
                              std::initializer_list<std::string_view> values) {
  std::string out;
  out.reserve(pattern.size() + 32);
  auto value = values.begin();
  std::size_t start = 0;
  for (std::size_t hole = pattern.find("{}");
       hole != std::string_view::npos && value != values.end(); hole = pattern.find("{}", start)) {
    out.append(pattern.substr(start, hole - start));
    out.append(*value++);
    start = hole + 2;
  }
  out.append(pattern.substr(start));
  return out;
}

}  // namespace qovira
