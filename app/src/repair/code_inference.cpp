// Guessing illegal code letters from the table's own entries: entries of the same shape that put
// the same character at the same code position usually use the same letter there.
#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "qovira/app/repair/repair.h"
#include "qovira/table/entry.h"
#include "qovira/table/mb.h"
#include "qovira/table/utf8.h"
#include "qovira/table/white_space.h"

namespace qovira {
namespace {

constexpr std::string_view BASIS_SAME_SHAPE = "同为 ";
constexpr std::string_view BASIS_WORD_LENGTH = " 字词、";
constexpr std::string_view BASIS_CODE_LENGTH = " 码、第 ";
constexpr std::string_view BASIS_POSITION = " 码对应「";
constexpr std::string_view BASIS_TOTAL = "」的词条共 ";
constexpr std::string_view BASIS_AGREEING = " 条，其中 ";
constexpr std::string_view BASIS_LETTER = " 条用 ";
constexpr std::string_view BASIS_SEPARATOR = "；";

// A guess needs this many entries of its slot, nearly all agreeing.
constexpr std::uint64_t MIN_SLOT_ENTRIES = 5;
constexpr double MIN_AGREEMENT = 0.9;
constexpr std::size_t MAX_GUESSED_CODE_CHARS = MB_MAX_CODE_BYTES;

std::vector<char32_t> characters(std::string_view text) {
  std::vector<char32_t> out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    out.push_back(next_char(text, pos));
  }
  return out;
}

// A character the format's codes may hold as they are written: in Rime, where the importer joins
// syllables, the space too.
bool is_written_code_character(TableFormat format, char32_t c) {
  return format == TableFormat::Bingling ? is_format_code_character(format, c)
                                         : is_code_character(c);
}

// The position rule: the last code letter stands for the last character of the word, the others
// for the character at their own position; code positions past the word stand for nothing.
bool stands_for_own_position(std::uint64_t position, std::uint64_t code_length) {
  return code_length < 2 || position + 1 < code_length;
}

}  // namespace

std::size_t CodeSlotHash::operator()(const CodeSlot& slot) const noexcept {
  std::uint64_t hash = slot.character;
  for (const std::uint64_t part : {slot.word_length, slot.code_length, slot.position}) {
    hash ^= part + 0x9E3779B97F4A7C15ULL + (hash << 6) + (hash >> 2);
  }
  return static_cast<std::size_t>(hash);
}

CodeStats collect_code_stats(const TableText& text) {
  CodeStats stats;
  const TableFormat format = text.format();
  text.for_each_line([&stats, format](const TextLine& line) {
    if (line.kind != LineKind::Entry) {
      return;
    }
    const std::string_view word = trim(line.text);
    const std::string_view code = trim(line.code);
    if (word.empty() || code.empty() || !std::ranges::all_of(code, [format](char byte) {
          return is_written_code_character(format, static_cast<unsigned char>(byte));
        })) {
      return;
    }
    const std::uint64_t code_length = code.size();
    const std::uint64_t word_length = count_chars(word);
    char32_t last = 0;
    std::uint64_t index = 0;
    for (std::size_t pos = 0; pos < word.size(); ++index) {
      last = next_char(word, pos);
      if (index < code_length && stands_for_own_position(index, code_length)) {
        ++stats[{word_length, code_length, index, last}][static_cast<unsigned char>(code[index])];
      }
    }
    if (code_length >= 2) {
      const std::uint64_t position = code_length - 1;
      ++stats[{word_length, code_length, position, last}]
             [static_cast<unsigned char>(code[position])];
    }
  });
  return stats;
}

std::optional<InferredCode> infer_code(const CodeStats& stats, std::string_view text,
                                       std::string_view code, TableFormat format) {
  // No code of more than 255 characters imports, so none is worth guessing (nor counting, when it
  // is a line of gigabytes).
  if (code.size() > MAX_GUESSED_CODE_CHARS * 4 || count_chars(code) > MAX_GUESSED_CODE_CHARS) {
    return std::nullopt;
  }
  const std::vector<char32_t> word = characters(text);
  const std::uint64_t word_length = word.size();
  const std::uint64_t code_length = count_chars(code);
  InferredCode inferred;
  inferred.code.reserve(code.size());

  std::uint64_t position = 0;
  for (std::size_t pos = 0; pos < code.size(); ++position) {
    const std::size_t start = pos;
    if (is_written_code_character(format, next_char(code, pos))) {
      inferred.code.append(code.substr(start, pos - start));
      continue;
    }
    if (word.empty()) {
      return std::nullopt;
    }
    char32_t character = 0;
    if (!stands_for_own_position(position, code_length)) {
      character = word.back();
    } else if (position < word_length) {
      character = word[position];
    } else {
      return std::nullopt;
    }
    const auto slot = stats.find({word_length, code_length, position, character});
    if (slot == stats.end()) {
      return std::nullopt;
    }
    std::uint64_t total = 0;
    std::uint64_t best_count = 0;
    char32_t best_letter = 0;
    for (const auto& [letter, count] : slot->second) {
      total += count;
      if (count > best_count || (count == best_count && letter < best_letter)) {
        best_count = count;
        best_letter = letter;
      }
    }
    if (total < MIN_SLOT_ENTRIES || !is_written_code_character(format, best_letter) ||
        static_cast<double>(best_count) / static_cast<double>(total) < MIN_AGREEMENT) {
      return std::nullopt;
    }
    append_utf8(inferred.code, best_letter);
    if (!inferred.basis.empty()) {
      inferred.basis.append(BASIS_SEPARATOR);
    }
    inferred.basis.append(BASIS_SAME_SHAPE)
        .append(std::to_string(word_length))
        .append(BASIS_WORD_LENGTH)
        .append(std::to_string(code_length))
        .append(BASIS_CODE_LENGTH)
        .append(std::to_string(position + 1))
        .append(BASIS_POSITION);
    append_utf8(inferred.basis, character);
    inferred.basis.append(BASIS_TOTAL)
        .append(std::to_string(total))
        .append(BASIS_AGREEING)
        .append(std::to_string(best_count))
        .append(BASIS_LETTER);
    append_utf8(inferred.basis, best_letter);
  }
  return inferred;
}

}  // namespace qovira
