#include "qovira/table/model.h"

#include <algorithm>
#include <array>

#include "qovira/table/text.h"

namespace qovira {
namespace {

constexpr std::string_view MESSAGE_EMPTY_TABLE = "码表没有可导入的有效词条";
constexpr std::string_view MESSAGE_INVALID_CONTAINER = "默认极点容器无效，不能安全生成导入表";
constexpr std::string_view MESSAGE_INVALID_ALPHABET = "码表字母表无效：";
constexpr std::string_view MESSAGE_INVALID_ENTRY_CODE = "编码 ";
constexpr std::string_view MESSAGE_INVALID_ENTRY_REASON = " 无法导入：";
constexpr std::string_view MESSAGE_HEADER_FIELD_TOO_LONG = " 太长，无法写入极点容器头部";
constexpr std::string_view MESSAGE_TOO_MANY_INVALID_VALID = "无效记录过多（有效 ";
constexpr std::string_view MESSAGE_TOO_MANY_INVALID_INVALID = " 条、无效 ";
constexpr std::string_view MESSAGE_TOO_MANY_INVALID_TAIL = " 条），疑似列错位或码表严重损坏";
constexpr std::string_view MESSAGE_NOT_RIME_DICT = "不是完整的 Rime .dict.yaml（缺少 --- 或 ...）";
constexpr std::string_view MESSAGE_NOT_BINGLING_TABLE =
    "不是冰凌文本码表（缺少 [CODETABLEHEADER] 或 [CODETABLE]）";
constexpr std::string_view MESSAGE_INVALID_METADATA = "码表方案元数据无效：";
constexpr std::string_view MESSAGE_UNDECODABLE_TEXT = "文本编码无法读取：";

constexpr std::string_view REASON_CODE_OUTSIDE_ALPHABET = "编码包含字母表未声明的字符";
constexpr std::string_view MISSING_CODE_SHOWN = "<缺少编码>";

constexpr std::size_t MAX_ALPHABET_LENGTH = 30;
constexpr std::size_t SAMPLE_CODE_CHARS = 48;

constexpr std::uint8_t PRIORITY_PINNED = 254;
constexpr std::uint8_t PRIORITY_UNWEIGHTED = 100;
constexpr std::uint64_t PRIORITY_BASE = 17;
constexpr std::uint64_t PRIORITY_SPAN = 236;

// The priority's product of weight and span needs 128 bits.
__extension__ typedef unsigned __int128 Uint128;

bool is_alphabet_character(char c) {
  return (c >= 'a' && c <= 'z') || c == ',' || c == '.' || c == '/' || c == ';';
}

std::uint8_t priority_of(std::uint64_t weight, bool pinned, bool weighted,
                         std::uint64_t max_weight) {
  if (pinned) {
    return PRIORITY_PINNED;
  }
  if (!weighted) {
    return PRIORITY_UNWEIGHTED;
  }
  if (weight == 0 || max_weight == 0) {
    return 0;
  }
  const Uint128 scaled = static_cast<Uint128>(weight) * PRIORITY_SPAN / max_weight;
  return static_cast<std::uint8_t>(PRIORITY_BASE + static_cast<std::uint64_t>(scaled));
}

}  // namespace

void SkipLog::add(std::uint64_t line, std::string_view raw_code, std::string_view reason) {
  ++total;
  if (samples.size() >= MAX_SAMPLES) {
    return;
  }
  std::string shown;
  for (char c : raw_code) {
    if (c != '\t' && c != '\n' && c != '\r') {
      shown.push_back(c);
    }
  }
  shown.resize(first_chars(shown, SAMPLE_CODE_CHARS).size());
  if (shown.empty()) {
    shown = MISSING_CODE_SHOWN;
  }
  samples.push_back({std::move(shown), std::string(reason), line});
}

static TableError make_error(TableErrorKind kind, std::string subject = {},
                             std::string reason = {}) {
  TableError error;
  error.kind = kind;
  error.subject = std::move(subject);
  error.reason = std::move(reason);
  return error;
}

TableError TableError::empty_table() {
  return make_error(TableErrorKind::EmptyTable);
}
TableError TableError::invalid_container() {
  return make_error(TableErrorKind::InvalidContainer);
}
TableError TableError::invalid_alphabet(std::string alphabet) {
  return make_error(TableErrorKind::InvalidAlphabet, std::move(alphabet));
}
TableError TableError::invalid_entry(std::string code, std::string reason) {
  return make_error(TableErrorKind::InvalidEntry, std::move(code), std::move(reason));
}
TableError TableError::header_field_too_long(std::string field_label) {
  return make_error(TableErrorKind::HeaderFieldTooLong, std::move(field_label));
}
TableError TableError::too_many_invalid_records(std::uint64_t valid, std::uint64_t invalid) {
  TableError error = make_error(TableErrorKind::TooManyInvalidRecords);
  error.valid = valid;
  error.invalid = invalid;
  return error;
}
TableError TableError::not_rime_dict() {
  return make_error(TableErrorKind::NotRimeDict);
}
TableError TableError::not_bingling_table() {
  return make_error(TableErrorKind::NotBinglingTable);
}
TableError TableError::invalid_metadata(std::string detail) {
  return make_error(TableErrorKind::InvalidMetadata, std::move(detail));
}
TableError TableError::undecodable_text(std::string detail) {
  return make_error(TableErrorKind::UndecodableText, std::move(detail));
}

std::string TableError::message() const {
  std::string out;
  switch (kind) {
    case TableErrorKind::EmptyTable:
      out = MESSAGE_EMPTY_TABLE;
      break;
    case TableErrorKind::InvalidContainer:
      out = MESSAGE_INVALID_CONTAINER;
      break;
    case TableErrorKind::InvalidAlphabet:
      out.append(MESSAGE_INVALID_ALPHABET).append(subject);
      break;
    case TableErrorKind::InvalidEntry:
      out.append(MESSAGE_INVALID_ENTRY_CODE)
          .append(subject)
          .append(MESSAGE_INVALID_ENTRY_REASON)
          .append(reason);
      break;
    case TableErrorKind::HeaderFieldTooLong:
      out.append(subject).append(MESSAGE_HEADER_FIELD_TOO_LONG);
      break;
    case TableErrorKind::TooManyInvalidRecords:
      out.append(MESSAGE_TOO_MANY_INVALID_VALID)
          .append(std::to_string(valid))
          .append(MESSAGE_TOO_MANY_INVALID_INVALID)
          .append(std::to_string(invalid))
          .append(MESSAGE_TOO_MANY_INVALID_TAIL);
      break;
    case TableErrorKind::NotRimeDict:
      out = MESSAGE_NOT_RIME_DICT;
      break;
    case TableErrorKind::NotBinglingTable:
      out = MESSAGE_NOT_BINGLING_TABLE;
      break;
    case TableErrorKind::InvalidMetadata:
      out.append(MESSAGE_INVALID_METADATA).append(subject);
      break;
    case TableErrorKind::UndecodableText:
      out.append(MESSAGE_UNDECODABLE_TEXT).append(subject);
      break;
  }
  return out;
}

std::expected<void, TableError> validate_alphabet(std::string_view alphabet) {
  auto fail = [&] { return std::unexpected(TableError::invalid_alphabet(std::string(alphabet))); };
  if (alphabet.empty() || alphabet.size() > MAX_ALPHABET_LENGTH) {
    return fail();
  }
  std::array<bool, 128> seen{};
  for (char c : alphabet) {
    if (!is_alphabet_character(c)) {
      return fail();
    }
    auto& flag = seen[static_cast<unsigned char>(c)];
    if (flag) {
      return fail();
    }
    flag = true;
  }
  return {};
}

std::expected<CodeTable, TableError> finish_table(std::string description,
                                                  std::vector<ImportRecord> records,
                                                  std::string_view alphabet,
                                                  std::vector<std::string> phrase_rules,
                                                  bool weighted) {
  if (auto valid = validate_alphabet(alphabet); !valid) {
    return std::unexpected(valid.error());
  }
  std::array<bool, 256> in_alphabet{};
  for (char c : alphabet) {
    in_alphabet[static_cast<unsigned char>(c)] = true;
  }
  for (const ImportRecord& record : records) {
    for (char c : record.code) {
      if (!in_alphabet[static_cast<unsigned char>(c)]) {
        return std::unexpected(
            TableError::invalid_entry(record.code, std::string(REASON_CODE_OUTSIDE_ALPHABET)));
      }
    }
  }

  // Grouping by sorting (code, input position) pairs: each code's records end up together in
  // first-seen order.
  struct Keyed {
    std::string_view code;
    std::uint32_t record;
  };
  std::vector<Keyed> keyed(records.size());
  for (std::size_t i = 0; i < records.size(); ++i) {
    keyed[i] = {records[i].code, static_cast<std::uint32_t>(i)};
  }
  std::sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
    if (int c = a.code.compare(b.code); c != 0) {
      return c < 0;
    }
    return a.record < b.record;
  });
  std::vector<std::uint32_t> order(records.size());
  for (std::size_t i = 0; i < keyed.size(); ++i) {
    order[i] = keyed[i].record;
  }
  keyed = {};

  // Within one code: merge equal texts (the first occurrence keeps its place; a strictly heavier
  // later record replaces weight and pin when weighted).
  struct Kept {
    std::uint32_t record;
    std::uint64_t weight;
    bool pinned;
  };
  std::vector<Kept> kept;
  kept.reserve(records.size());
  std::vector<std::size_t> group_starts;
  std::uint64_t max_weight = 0;
  std::vector<std::uint32_t> by_text;
  for (std::size_t begin = 0; begin < order.size();) {
    const std::string& code = records[order[begin]].code;
    std::size_t end = begin + 1;
    while (end < order.size() && records[order[end]].code == code) {
      ++end;
    }
    group_starts.push_back(kept.size());
    if (end - begin == 1) {
      const ImportRecord& r = records[order[begin]];
      kept.push_back({order[begin], r.weight, r.pinned});
    } else {
      // Sort this code's records by (text, position) to find duplicates, then restore first-seen
      // order of the survivors.
      by_text.assign(order.begin() + static_cast<std::ptrdiff_t>(begin),
                     order.begin() + static_cast<std::ptrdiff_t>(end));
      std::sort(by_text.begin(), by_text.end(), [&](std::uint32_t a, std::uint32_t b) {
        if (int c = records[a].text.compare(records[b].text); c != 0) {
          return c < 0;
        }
        return a < b;
      });
      const std::size_t group_start = kept.size();
      for (std::size_t i = 0; i < by_text.size();) {
        const ImportRecord& first = records[by_text[i]];
        Kept survivor{by_text[i], first.weight, first.pinned};
        std::size_t j = i + 1;
        for (; j < by_text.size() && records[by_text[j]].text == first.text; ++j) {
          const ImportRecord& later = records[by_text[j]];
          if (weighted && later.weight > survivor.weight) {
            survivor.weight = later.weight;
            survivor.pinned = later.pinned;
          }
        }
        kept.push_back(survivor);
        i = j;
      }
      std::sort(kept.begin() + static_cast<std::ptrdiff_t>(group_start), kept.end(),
                [](const Kept& a, const Kept& b) { return a.record < b.record; });
    }
    begin = end;
  }
  for (const Kept& k : kept) {
    max_weight = std::max(max_weight, k.weight);
  }
  if (kept.empty()) {
    return std::unexpected(TableError::empty_table());
  }

  CodeTable table;
  table.description = std::move(description);
  table.alphabet = std::string(alphabet);
  table.phrase_rules = std::move(phrase_rules);
  table.entries.reserve(kept.size());
  group_starts.push_back(kept.size());
  for (std::size_t g = 0; g + 1 < group_starts.size(); ++g) {
    auto first = kept.begin() + static_cast<std::ptrdiff_t>(group_starts[g]);
    auto last = kept.begin() + static_cast<std::ptrdiff_t>(group_starts[g + 1]);
    if (weighted && last - first > 1) {
      std::stable_sort(first, last,
                       [](const Kept& a, const Kept& b) { return a.weight > b.weight; });
    }
    for (auto it = first; it != last; ++it) {
      ImportRecord& record = records[it->record];
      table.entries.push_back({std::move(record.code), std::move(record.text),
                               priority_of(it->weight, it->pinned, weighted, max_weight)});
    }
  }
  return table;
}

}  // namespace qovira
