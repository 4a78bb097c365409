// Writes the seed corpora of the fuzz targets: small but realistic tables in every format and
// encoding the tool reads, with the hand-editing mistakes the diagnosis and the repair look for.
// Usage: make_fuzz_seeds OUTPUT_DIR   (makes OUTPUT_DIR/<target>/ for every target)
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "qovira/table/ascii.h"
#include "qovira/table/decoding.h"
#include "qovira/table/import.h"
#include "qovira/table/lines.h"
#include "qovira/table/mb.h"
#include "qovira/table/utf16.h"

namespace fs = std::filesystem;
using namespace qovira;

namespace {

struct Character {
  std::string_view text;
  std::string_view code;  // full four-letter Wubi code
};

// Common characters with their Wubi 86 codes: enough to build plausible words.
constexpr Character CHARACTERS[] = {
    {"工", "aaaa"}, {"了", "bnh"},  {"以", "nywy"}, {"在", "dhfd"}, {"有", "def"},  {"地", "fbn"},
    {"一", "ggll"}, {"上", "hhgg"}, {"不", "gii"},  {"是", "jghu"}, {"中", "khk"},  {"国", "lgyi"},
    {"同", "mgkd"}, {"民", "nav"},  {"为", "ylyi"}, {"这", "ypi"},  {"我", "trnt"}, {"的", "rqyy"},
    {"要", "svf"},  {"和", "tkg"},  {"产", "ute"},  {"发", "ntcy"}, {"人", "wwww"}, {"经", "xca"},
    {"主", "ygd"},  {"作", "wthf"}, {"大", "dddd"}, {"学", "ip"},   {"生", "tgd"},  {"家", "pe"},
    {"时", "jf"},   {"会", "wfc"},  {"出", "bm"},   {"们", "wu"},   {"来", "go"},   {"到", "gc"},
};

// Wubi word codes: two characters take two letters each; three take one, one and two; four or
// more take the first letter of the first three and of the last.
std::string word_code(const std::vector<const Character*>& word) {
  std::string code;
  if (word.size() == 1) {
    return std::string(word[0]->code);
  }
  if (word.size() == 2) {
    return std::string(word[0]->code.substr(0, 2)) + std::string(word[1]->code.substr(0, 2));
  }
  if (word.size() == 3) {
    return std::string(1, word[0]->code[0]) + word[1]->code[0] +
           std::string(word[2]->code.substr(0, 2));
  }
  return std::string(1, word[0]->code[0]) + word[1]->code[0] + word[2]->code[0] +
         word.back()->code[0];
}

struct Row {
  std::string text;
  std::string code;
  std::uint64_t weight = 0;
};

// A deterministic mix of single characters and words of 2 to 5 characters.
std::vector<Row> make_rows(std::size_t count, std::uint32_t seed) {
  constexpr std::size_t CHARACTER_COUNT = std::size(CHARACTERS);
  std::vector<Row> rows;
  for (std::size_t i = 0; i < count; ++i) {
    seed = seed * 1'103'515'245u + 12'345u;
    const std::size_t length = i < CHARACTER_COUNT ? 1 : 2 + (seed >> 16) % 4;
    std::vector<const Character*> word;
    for (std::size_t k = 0; k < length; ++k) {
      seed = seed * 1'103'515'245u + 12'345u;
      word.push_back(&CHARACTERS[length == 1 ? i : (seed >> 16) % CHARACTER_COUNT]);
    }
    Row row;
    for (const Character* character : word) {
      row.text += character->text;
    }
    row.code = word_code(word);
    row.weight = (seed >> 8) % 100'000;
    rows.push_back(std::move(row));
  }
  return rows;
}

std::string rime_clean() {
  std::string text =
      "# Rime dictionary\n# encoding: utf-8\n\n---\nname: wubi86_seed\nversion: \"0.1\"\n"
      "sort: by_weight\nlanqi_phrase_codes: \"table_only\"\ncolumns:\n  - text\n  - code\n"
      "  - weight\n  - stem\nencoder:\n  exclude_patterns:\n    - '^z.*$'\n  rules:\n"
      "    - length_equal: 2\n      formula: \"AaAbBaBb\"\n    - length_equal: 3\n"
      "      formula: \"AaBaCaCb\"\n    - length_in_range: [4, 10]\n"
      "      formula: \"AaBaCaZa\"\nimport_tables:\n  - wubi86_extra\n...\n\n";
  for (const Row& row : make_rows(70, 7)) {
    text += row.text + '\t' + row.code + '\t' + std::to_string(row.weight);
    if (row.code.size() == 4) {
      text += '\t' + row.code.substr(0, 2);
    }
    text += '\n';
  }
  return text;
}

std::string rime_original() {
  std::string text = "---\nname: 'pinyin_seed'\nsort: original\n...\n";
  text += "你好\tni hao\n世界\tshi jie\n中国\tzhong guo\n；\t;\n，\t,\n。\t.\n、\t/\n";
  for (const Row& row : make_rows(30, 11)) {
    text += row.text + '\t' + row.code + '\n';
  }
  return text;
}

// The mistakes people make by hand: spaces for tabs, capitals, full-width punctuation, stray
// digits and stars, empty columns, duplicates, CR LF line ends.
std::string rime_hand_edited() {
  std::string text = "---\r\nname: hand_edited\r\n...\r\n";
  const std::vector<Row> rows = make_rows(40, 23);
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Row& row = rows[i];
    switch (i % 10) {
      case 1:
        text += row.text + ' ' + row.code;
        break;
      case 2:
        text += row.text + '\t' + ascii_lower(row.code) + "\t+" + std::to_string(row.weight);
        break;
      case 3: {
        std::string upper = row.code;
        upper[0] = static_cast<char>(upper[0] - 'a' + 'A');
        text += row.text + '\t' + upper;
        break;
      }
      case 4:
        text += row.text + '\t' + row.code.substr(0, 2) + "，";
        break;
      case 5:
        text += row.text + '\t' + row.code.substr(0, 3) + '7';
        break;
      case 6:
        text += row.text + '\t';
        break;
      case 7:
        text += '\t' + row.code;
        break;
      case 8:
        text += rows[i - 1].text + '\t' + rows[i - 1].code.substr(0, 3) + '7';
        break;
      default:
        text += row.text + '\t' + row.code + '\t' + std::to_string(row.weight) + '%';
    }
    text += "\r\n";
  }
  text += "工\taaaa\r\n工\taaaa\r\n工\taaaa\r\n  # indented comment\r\n\t\r\n   \r\n工　aaaa\r\n";
  return text;
}

std::string bingling_clean() {
  std::string text =
      "; 冰凌码表\n[CODETABLEHEADER]\nName=五笔86种子\nVersion=1.0\n"
      "CodeCharacters=abcdefghijklmnopqrstuvwxyz/\nCodeLength=4\nWildChar=z\nSpecialPrefix=`\n"
      "PhraseRule=p11+p21+p31+p32/p11+p12+p21+p22\npe2=r11+r12+r21+r22\n"
      "pe3=r11+r21+r31+r32\npa4=r11+r21+r31+R11\n\n[CODETABLE]\n";
  for (const Row& row : make_rows(70, 31)) {
    text += row.code + '\t' + row.text + '\t' + std::to_string(row.weight) + '\n';
  }
  text += "aaaa*\t工\t999\nbnh\t了[le]\t10\nwthf\t作[abcdefghi]\t5\nzz\t$ddd\t1\n# comment\n";
  text += "/a\t斜\t3\n";
  return text;
}

std::string bingling_broken() {
  std::string text =
      "[CodeTableHeader]\r\nname=broken\r\ncodecharacters=abcdefghijklmnopqrstuvwxyz\r\n"
      "CodeLength=+16\r\nPhraseRule=\r\n[CodeTable]\r\n";
  for (const Row& row : make_rows(30, 41)) {
    text += row.code + " " + row.text + "\r\n";
    text += ascii_lower(row.code) + '\t' + row.text + "\t-5\r\n";
  }
  text += "AAAA\t工\r\naa-a\t坏\r\n*\t星\r\n";
  return text;
}

Bytes utf8_bytes(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

// UTF-16 with a byte-order mark in the given order.
Bytes utf16_bytes(std::string_view text, bool little_endian) {
  Bytes bytes = little_endian ? Bytes{0xFF, 0xFE} : Bytes{0xFE, 0xFF};
  for (char16_t unit : to_utf16(text)) {
    const auto low = static_cast<std::uint8_t>(unit & 0xFF);
    const auto high = static_cast<std::uint8_t>(unit >> 8);
    bytes.push_back(little_endian ? low : high);
    bytes.push_back(little_endian ? high : low);
  }
  return bytes;
}

// A .mb of the given text table, built the way the export builds it.
Bytes mb_of(std::string_view rime_text) {
  auto imported = import_rime(rime_text);
  if (!imported) {
    return {};
  }
  auto built = build_mb(imported->code_table, DEFAULT_MB_CONTAINER);
  return built ? *built : Bytes{};
}

// The compact form the read_mb target expands (see read_mb_fuzz.cpp): mode 1 keeps the default
// header and sets the alphabet length; mode 2 carries the header from offset 18.
Bytes compact_mb(const Bytes& mb, std::uint8_t mode) {
  Bytes compact{mode};
  if (mode == 1) {
    compact.push_back(mb[MB_ALPHABET_LENGTH_OFFSET]);
  } else {
    compact.insert(compact.end(), mb.begin() + MB_VERSION_OFFSET, mb.begin() + MB_HEADER_SIZE);
  }
  compact.insert(compact.end(), mb.begin() + MB_RECORDS_OFFSET, mb.end());
  return compact;
}

bool write(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_fuzz_seeds OUTPUT_DIR\n");
    return 2;
  }
  const fs::path root = argv[1];
  const std::string rime = rime_clean();
  const std::string punctuation = rime_original();
  const std::string hand_edited = rime_hand_edited();
  const std::string bingling = bingling_clean();
  const std::string broken = bingling_broken();
  // The same mistakes in a dictionary whose header puts the code first and a weight between.
  std::string code_first = "---\nname: code_first\ncolumns:\n  - code\n  - weight\n  - text\n...\n";
  for (const std::string_view line : split_lines(hand_edited.substr(hand_edited.find("...") + 5))) {
    const std::size_t tab = line.find('\t');
    code_first += tab == std::string_view::npos ? std::string(line)
                                                : std::string(line.substr(tab + 1)) + "\t7\t" +
                                                      std::string(line.substr(0, tab));
    code_first += '\n';
  }
  const std::string no_header_end = "---\nname: unfinished\n工\taaaa\n了\tbnh\n";
  const std::string bare_body = "工\taaaa\n了 bnh\n以\tNYWY\n";
  const std::string notes = "just some notes, not a table\n";

  const std::vector<std::pair<std::string, Bytes>> texts = {
      {"rime-clean.dict.yaml", utf8_bytes(rime)},
      {"rime-punctuation.dict.yaml", utf8_bytes(punctuation)},
      {"rime-hand-edited.dict.yaml", utf8_bytes(hand_edited)},
      {"rime-code-first.dict.yaml", utf8_bytes(code_first)},
      {"rime-no-header-end.dict.yaml", utf8_bytes(no_header_end)},
      {"rime-bom.dict.yaml", utf8_bytes("\xEF\xBB\xBF" + rime)},
      {"rime-utf16le.dict.yaml", utf16_bytes(hand_edited, true)},
      {"rime-utf16be.dict.yaml", utf16_bytes(punctuation, false)},
      {"bingling-clean.txt", utf8_bytes(bingling)},
      {"bingling-broken.txt", utf8_bytes(broken)},
      {"bingling-utf16le.txt", utf16_bytes(bingling, true)},
      {"bare-body.txt", utf8_bytes(bare_body)},
      {"notes.txt", utf8_bytes(notes)},
  };
  const Bytes mb = mb_of(rime);
  const Bytes punctuation_mb = mb_of(punctuation);
  if (mb.empty() || punctuation_mb.empty()) {
    std::fprintf(stderr, "make_fuzz_seeds: the seed tables no longer build\n");
    return 1;
  }

  const std::vector<std::string> text_targets = {"decode_text", "import_rime", "import_bingling",
                                                 "diagnose",    "repair_text", "batch"};
  bool ok = true;
  for (const std::string& target : text_targets) {
    fs::create_directories(root / target);
    for (const auto& [name, bytes] : texts) {
      ok = write(root / target / name, bytes) && ok;
    }
  }
  for (const std::string& target : {"diagnose", "batch"}) {
    ok = write(root / target / "wubi86-seed.mb", mb) && ok;
  }
  // The conversion takes a mode byte: 0 and a table file, or 1 and the bytes of a generated table.
  fs::create_directories(root / "convert_table");
  const auto with_mode = [](std::uint8_t mode, const Bytes& bytes) {
    Bytes seed{mode};
    seed.insert(seed.end(), bytes.begin(), bytes.end());
    return seed;
  };
  for (const auto& [name, bytes] : texts) {
    ok = write(root / "convert_table" / name, with_mode(0, bytes)) && ok;
  }
  ok = write(root / "convert_table" / "wubi86-seed.mb", with_mode(0, mb)) && ok;
  ok = write(root / "convert_table" / "generated.bin",
             with_mode(1, {0, 1, 0, 3, 0, 1, 0, 0, 200, 1,   1, 1, 0, 2, 2,  17,
                           4, 5, 5, 5, 5, 9, 3, 3, 7,   254, 0, 0, 0, 0, 100})) &&
       ok;
  fs::create_directories(root / "read_mb");
  ok = write(root / "read_mb" / "records.bin", compact_mb(mb, 1)) && ok;
  ok = write(root / "read_mb" / "header-and-records.bin", compact_mb(punctuation_mb, 2)) && ok;
  Bytes bare_magic{0};
  bare_magic.insert(bare_magic.end(), MB_MAGIC.begin(), MB_MAGIC.end());
  ok = write(root / "read_mb" / "magic-only.bin", bare_magic) && ok;
  if (!ok) {
    std::fprintf(stderr, "make_fuzz_seeds: cannot write under %s\n", root.string().c_str());
    return 1;
  }
  return 0;
}
