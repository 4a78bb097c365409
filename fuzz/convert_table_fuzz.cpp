// The conversion to text over generated tables: a conversion that reports success always imports
// back to the same entries in the same order, every priority kept but the ones it counted. The
// first input byte picks the table:
//   0: the rest is a table file (a .mb, a Rime dictionary or a 冰凌 table) and its import is used;
//   1: the rest generates a table as a .mb may hold it: any priority, any candidate order, repeated
//      texts, codes and texts no text format holds, descriptions of any shape.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fuzz_support.h"
#include "qovira/app/export/conversion.h"
#include "qovira/table/model.h"

using namespace qovira;

namespace {

constexpr std::string_view DESCRIPTIONS[] = {"Rime 词典：t",
                                             "冰凌码表：样例",
                                             "五笔\r\n生成日期:2011",
                                             "",
                                             "#名字",
                                             "\"q\"",
                                             "Rime 词典：x\n[lanqi-phrase-codes:table-only-v1]",
                                             "[CODETABLE]",
                                             " 空 "};
constexpr std::string_view ALPHABETS[] = {"abcdefghijklmnopqrstuvwxyz",
                                          "abcdefghijklmnopqrstuvwxyz/",
                                          "abcdefghijklmnopqrstuvwxyz,.;/",
                                          "zyxa/",
                                          "ABC",
                                          ""};
constexpr std::string_view CODE_CHARACTERS = "abcdz/;,.A1 \t";
constexpr std::string_view TEXT_PIECES[] = {"甲", "乙", "丙", " ",    "#",           "$", "[ab]",
                                            "\t", "x",  "𠀀", "\r\n", "[CODETABLE]", "*", "\xff"};

class InputBytes {
 public:
  InputBytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  bool empty() const { return size_ == 0; }
  std::uint8_t next() {
    if (size_ == 0) {
      return 0;
    }
    --size_;
    return *data_++;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
};

template <typename Choices>
auto pick(InputBytes& bytes, const Choices& choices) {
  return choices[bytes.next() % std::size(choices)];
}

CodeTable generate(InputBytes bytes) {
  CodeTable table;
  table.description = pick(bytes, DESCRIPTIONS);
  table.alphabet = pick(bytes, ALPHABETS);
  table.phrase_rules = {std::string(DEFAULT_PHRASE_RULE)};
  if (bytes.next() % 2 == 1) {
    table.phrase_rules.emplace_back("p11+p12+p21+p22");
  }
  while (!bytes.empty()) {
    TableEntry entry;
    std::string code;
    for (std::size_t length = 1 + bytes.next() % 4; length > 0; --length) {
      code += pick(bytes, CODE_CHARACTERS);
    }
    std::string text;
    for (std::size_t pieces = 1 + bytes.next() % 3; pieces > 0; --pieces) {
      text += pick(bytes, TEXT_PIECES);
    }
    entry.code = code;
    entry.text = text;
    entry.priority = bytes.next();
    table.entries.push_back(std::move(entry));
  }
  return table;
}

using Candidates = std::map<std::string, std::vector<std::pair<std::string, int>>, std::less<>>;

Candidates by_code(const CodeTable& table) {
  Candidates candidates;
  for (const TableEntry& entry : table.entries) {
    candidates[std::string(entry.code)].emplace_back(entry.text, entry.priority);
  }
  return candidates;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  CodeTable table;
  if (data[0] % 2 == 0) {
    auto imported = import_table({data + 1, size - 1});
    if (!imported) {
      return 0;
    }
    table = std::move(imported->table);
  } else {
    table = generate(InputBytes(data + 1, size - 1));
  }
  const Candidates source = by_code(table);
  for (const TableFormat format : {TableFormat::Rime, TableFormat::Bingling}) {
    auto converted = convert_table(table, format);
    if (!converted) {
      fuzz::check(!converted.error().empty(), "a refusal says why");
      continue;
    }
    if (!converted->verified) {
      continue;  // never written
    }
    fuzz::check(fuzz::is_valid_utf8(converted->text), "a proven text is valid UTF-8");
    auto imported = import_table(fuzz::bytes_of(converted->text));
    fuzz::check(imported && imported->format == format, "a proven text imports as its format",
                converted->text);
    const Candidates read_back = by_code(imported->table);
    fuzz::check(read_back.size() == source.size(), "the same codes", converted->text);
    std::uint64_t changed = 0;
    for (const auto& [code, candidates] : source) {
      const auto found = read_back.find(code);
      fuzz::check(found != read_back.end() && found->second.size() == candidates.size(),
                  "every code with as many candidates", code);
      for (std::size_t i = 0; i < candidates.size(); ++i) {
        fuzz::check(found->second[i].first == candidates[i].first,
                    "the same candidates in the same order", code);
        changed += found->second[i].second != candidates[i].second ? 1 : 0;
      }
    }
    fuzz::check(changed == converted->inexact_priorities,
                "priorities change only where the conversion counted them", converted->text);
  }
  return 0;
}
