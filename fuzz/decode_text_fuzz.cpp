// decode_text on any bytes: valid UTF-8 out, UTF-8 in unchanged, and a UTF-16 round trip back to
// the same text; the line helpers agree with each other.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "qovira/table/decoding.h"
#include "qovira/table/lines.h"
#include "qovira/table/utf16.h"
#include "qovira/table/white_space.h"

using namespace qovira;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const ByteView input(data, size);
  auto decoded = decode_text(input);
  const bool utf16 =
      size >= 2 && ((data[0] == 0xFF && data[1] == 0xFE) || (data[0] == 0xFE && data[1] == 0xFF));
  if (!decoded) {
    fuzz::check(decoded.error().kind == TableErrorKind::UndecodableText,
                "decoding fails only as UndecodableText");
    fuzz::check(utf16 || !fuzz::is_valid_utf8(fuzz::text_of(input)), "valid UTF-8 always decodes");
    return 0;
  }
  const std::string& text = *decoded;
  fuzz::check(fuzz::is_valid_utf8(text), "decoded text is valid UTF-8");
  if (!utf16) {
    fuzz::check(text == fuzz::text_of(input), "UTF-8 input is taken unchanged");
  }

  const std::u16string units = to_utf16(text);
  fuzz::check(units.size() == utf16_length(text), "utf16_length counts the units of to_utf16");
  Bytes little_endian{0xFF, 0xFE};
  for (char16_t unit : units) {
    little_endian.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    little_endian.push_back(static_cast<std::uint8_t>(unit >> 8));
  }
  auto again = decode_text(little_endian);
  fuzz::check(again.has_value() && *again == text, "UTF-16LE of the text decodes to the text");
  fuzz::check(from_utf16_lenient(units) == text, "from_utf16_lenient inverts to_utf16");

  const std::vector<std::string_view> lines = split_lines(text);
  std::size_t index = 0;
  for_each_line(text, [&](std::string_view line) {
    fuzz::check(index < lines.size() && lines[index] == line,
                "for_each_line agrees with split_lines");
    ++index;
  });
  fuzz::check(index == lines.size(), "for_each_line visits every line");
  for (std::string_view line : lines) {
    fuzz::check(line.find('\n') == std::string_view::npos, "no line holds a line feed");
    const std::string_view trimmed = trim(line);
    fuzz::check(trimmed.size() <= line.size() && fuzz::is_valid_utf8(trimmed),
                "trim keeps whole characters");
  }
  return 0;
}
