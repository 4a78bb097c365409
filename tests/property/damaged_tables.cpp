// Property test of the rescue over generated damaged tables. Clean slices of real dictionaries are
// written as Rime or 冰凌 tables, damaged the ways hand-editing, converting and saving damage
// tables, rescued exactly as the batch --rescue does, and the outputs checked:
//   lands    a source with an undamaged entry line gives a repaired text that imports and a
//            verified .mb;
//   listed   every source line reaches the repaired text (its columns trimmed) or an item names it;
//   kept     every entry of an undamaged line, and every entry the source imports, is imported
//            from the repaired text with the same text and code;
//   stable   repairing the repaired text changes nothing, byte for byte;
//   no-moji  the repaired text holds no character the source lacks (no wrong decoding).
// Lines are the lines a person sees in an editor: ended by LF, CR LF or a lone CR. Items number the
// lines of the text the repair worked on; after a whole-file change (an item of line 0: an added
// Rime header of five lines, or eight with its column list; CR line ends made LF; section markers
// taken out; a header's "..." put in) an item naming line N+8
// down to N-M stands for line N, M being the number of marker lines in the source.
// Usage: damaged_tables --count N --seed S [--kind K] [--keep-failures DIR] [--verbose]
#include <iconv.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "qovira/app/commands/cli.h"
#include "qovira/app/commands/operations.h"
#include "qovira/app/diagnosis/diagnosis.h"
#include "qovira/app/repair/repair.h"
#include "qovira/table/decoding.h"
#include "qovira/table/entry.h"
#include "qovira/table/format.h"
#include "qovira/table/import.h"
#include "qovira/table/mb.h"
#include "qovira/table/safe_text.h"
#include "qovira/table/utf16.h"
#include "qovira/table/utf8.h"
#include "qovira/table/white_space.h"
#include "test_data.h"

namespace fs = std::filesystem;
using namespace qovira;

namespace {

struct Rng {
  std::mt19937_64 engine;
  std::size_t below(std::size_t n) { return n == 0 ? 0 : engine() % n; }
  bool chance(int percent) { return below(100) < static_cast<std::size_t>(percent); }
};

struct Entry {
  std::string text, code;
  std::uint64_t weight = 0;
};
using Pair = std::pair<std::string, std::string>;  // code, text

struct Line {
  std::string text;
  std::optional<Entry> must;   // an undamaged entry: must survive
  std::optional<Entry> hoped;  // a damaged one that a mend could bring back
};

enum class Form : unsigned { Rime = 1, Bingling = 2 };
enum class Eol { Lf, Cr, CrFinalLf, CrlfHeadBody, Mixed };

struct Case {
  Form form = Form::Rime;
  std::string dict, file_name, bytes;
  std::vector<Entry> entries;
  std::vector<Line> lines;
  std::size_t body = 0;  // the first body line
  bool code_first = false, weights = true, final_eol = true;
  Eol eol = Eol::Lf;
  std::vector<std::string> kinds;
};

// ---- writing a table -------------------------------------------------------------------------

std::string row(const Case& c, const Entry& e, std::string_view sep = "\t") {
  std::string out =
      (c.code_first ? e.code : e.text) + std::string(sep) + (c.code_first ? e.text : e.code);
  return c.weights ? out + "\t" + std::to_string(e.weight) : out;
}

void set_header(Case& c, const std::vector<std::string>& header) {
  c.lines.clear();
  for (const std::string& text : header)
    c.lines.push_back({text, {}, {}});
  for (const Entry& e : c.entries)
    c.lines.push_back({row(c, e), e, {}});
  c.body = header.size();
}

std::vector<std::string> rime_header(const Case& c, bool columns, bool dots = true) {
  std::vector<std::string> h{"---", "name: " + c.dict, "version: \"1.0\"", "sort: by_weight"};
  if (c.dict.size() % 2 == 0)
    h.insert(h.begin(), "# " + c.dict + " 的一段");
  if (columns) {
    h.insert(h.end(), {"columns:", c.code_first ? "  - code" : "  - text",
                       c.code_first ? "  - text" : "  - code", "  - weight"});
  }
  if (dots)
    h.push_back("...");
  return h;
}

std::vector<std::string> bingling_header(const Case& c) {
  std::size_t longest = 1;
  for (const Entry& e : c.entries)
    longest = std::max(longest, e.code.size());
  return {"[CODETABLEHEADER]",
          "Name=" + c.dict,
          "Version=1.0",
          "CodeCharacters=abcdefghijklmnopqrstuvwxyz",
          "CodeLength=" + std::to_string(longest),
          "[CODETABLE]"};
}

std::string join(const Case& c, Rng& rng) {
  static constexpr std::array<std::string_view, 3> ENDS{"\n", "\r\n", "\r"};
  std::string out;
  for (std::size_t i = 0; i < c.lines.size(); ++i) {
    const bool last = i + 1 == c.lines.size();
    out += c.lines[i].text;
    out += last && !c.final_eol         ? ""
           : c.eol == Eol::Lf           ? "\n"
           : c.eol == Eol::Cr           ? "\r"
           : c.eol == Eol::CrFinalLf    ? (last ? "\n" : "\r")
           : c.eol == Eol::CrlfHeadBody ? (i < c.body ? "\r\n" : "\r")
                                        : ENDS[rng.below(3)];
  }
  return out;
}

// ---- damage helpers --------------------------------------------------------------------------

using Apply = std::function<bool(Case&, Rng&)>;

// A damage of 1 to 3 intact entry lines, each rewritten by `make` from its entry; their entries
// need no longer survive, and are hoped for when `mendable`.
template <typename Make>
Apply rows(bool mendable, Make make) {
  return [=](Case& c, Rng& rng) {
    std::vector<std::size_t> intact;
    for (std::size_t i = c.body; i < c.lines.size(); ++i) {
      if (c.lines[i].must)
        intact.push_back(i);
    }
    const bool any = !intact.empty();
    for (std::size_t n = 1 + rng.below(3); n > 0 && !intact.empty(); --n) {
      const std::size_t at = rng.below(intact.size());
      Line& line = c.lines[intact[at]];
      intact.erase(intact.begin() + static_cast<std::ptrdiff_t>(at));
      line.text = make(c, *line.must, rng);
      if (mendable)
        line.hoped = line.must;
      line.must.reset();
    }
    return any;
  };
}

// A damage that puts the line `make` gives in at a random place of the body.
template <typename Make>
Apply inserted(Make make) {
  return [=](Case& c, Rng& rng) {
    const std::size_t at = c.body + rng.below(c.lines.size() - c.body + 1);
    c.lines.insert(c.lines.begin() + static_cast<std::ptrdiff_t>(at), {make(c, rng), {}, {}});
    return true;
  };
}

// A damage giving the header line "`key`=value" the value `edit` makes of its value.
template <typename Edit>
Apply header_value(std::string_view key, Edit edit) {
  return [=](Case& c, Rng& rng) {
    for (std::size_t i = 0; i < c.body; ++i) {
      std::string& text = c.lines[i].text;
      if (text.starts_with(key) && text.size() > key.size() && text[key.size()] == '=') {
        text = std::string(key) + "=" + edit(c, text.substr(key.size() + 1), rng);
        return true;
      }
    }
    return false;
  };
}

std::optional<std::string> legacy_bytes(const std::string& utf8, const char* charset) {
  iconv_t cd = iconv_open(charset, "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1))
    return std::nullopt;
  std::string out(utf8.size() * 2 + 16, '\0');
  char* in = const_cast<char*>(utf8.data());
  char* to = out.data();
  std::size_t in_left = utf8.size(), out_left = out.size();
  const bool done = iconv(cd, &in, &in_left, &to, &out_left) != static_cast<std::size_t>(-1);
  iconv_close(cd);
  out.resize(out.size() - out_left);
  return done ? std::optional(out) : std::nullopt;
}

std::string utf16(const std::string& utf8, bool little) {
  std::string out = little ? "\xFF\xFE" : "\xFE\xFF";
  for (char16_t unit : to_utf16(utf8)) {
    const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
    out += little ? std::string{low, high} : std::string{high, low};
  }
  return out;
}

// ---- the damage kinds ------------------------------------------------------------------------

enum class Stage { Header, Lines, Bytes };  // applied in this order; bytes after the join
constexpr unsigned BOTH = 3, RIME = 1, BINGLING = 2;

struct Kind {
  std::string_view name;
  unsigned forms;
  Stage stage;
  std::string_view slot;  // kinds of one slot are never combined; empty: a slot of its own
  Apply apply;
};

Apply line_ends(Eol eol) {
  return [=](Case& c, Rng&) { return c.eol = eol, true; };
}

Apply as_utf16(bool little) {
  return [=](Case& c, Rng&) { return c.bytes = utf16(c.bytes, little), true; };
}

// A Rime header of the kind `header` makes, over rows in the columns it names.
Apply rime_header_as(bool code_first, bool weights,
                     std::function<std::vector<std::string>(const Case&, Rng&)> header) {
  return [=](Case& c, Rng& rng) {
    c.code_first = code_first;
    c.weights = weights;
    return set_header(c, header(c, rng)), true;
  };
}

const std::vector<Kind> KINDS = {
    {"bad-byte", BOTH, Stage::Lines, "enc",
     rows(false,
          [](const Case& c, Entry e, Rng& r) {
            // The lead byte of the first multibyte character made 0xFF or 0x80, or the character
            // cut short.
            const auto lead =
                std::ranges::find_if(e.text, [](char ch) { return (ch & 0xC0) == 0xC0; });
            if (lead == e.text.end())
              return row(c, {e.text + "\xFF", e.code, e.weight});
            const std::size_t how = r.below(3);
            how == 2 ? void(e.text.erase(lead + 1)) : void(*lead = how == 0 ? '\xFF' : '\x80');
            return row(c, e);
          })},
    {"truncated", BOTH, Stage::Lines, "enc",
     [](Case& c, Rng& rng) {
       Line& last = c.lines.back();  // cut anywhere, mid-character too
       const bool cut = last.must && last.text.size() > 1;
       if (cut)
         last.text.resize(1 + rng.below(last.text.size() - 1));
       c.final_eol = !cut;
       last.must.reset();
       return cut;
     }},
    {"gbk-saved", BOTH, Stage::Bytes, "enc",
     [](Case& c, Rng&) {
       auto legacy = legacy_bytes(c.bytes, "GBK");
       legacy = legacy ? legacy : legacy_bytes(c.bytes, "GB18030");
       c.bytes = legacy.value_or(c.bytes);
       return legacy.has_value();
     }},
    {"utf8-bom", BOTH, Stage::Bytes, "enc",
     [](Case& c, Rng&) { return c.bytes.insert(0, "\xEF\xBB\xBF"), true; }},
    {"utf16le", BOTH, Stage::Bytes, "enc", as_utf16(true)},
    {"utf16be", BOTH, Stage::Bytes, "enc", as_utf16(false)},
    {"cr-only", BOTH, Stage::Lines, "eol", line_ends(Eol::Cr)},
    {"cr-final-lf", BOTH, Stage::Lines, "eol", line_ends(Eol::CrFinalLf)},
    {"crlf-head-cr-body", BOTH, Stage::Lines, "eol", line_ends(Eol::CrlfHeadBody)},
    {"mixed-eol", BOTH, Stage::Lines, "eol", line_ends(Eol::Mixed)},
    {"no-dots", RIME, Stage::Header, "header",
     rime_header_as(false, true,
                    [](const Case& c, Rng& r) { return rime_header(c, r.chance(50), false); })},
    {"no-dots-code-first", RIME, Stage::Header, "header",
     rime_header_as(true, true,
                    [](const Case& c, Rng&) {
                      return rime_header(c, true, false);  // columns: as a YAML list, code first
                    })},
    {"flow-columns", RIME, Stage::Header, "header",
     rime_header_as(true, false,
                    [](const Case& c, Rng&) {
                      std::vector<std::string> header = rime_header(c, false);
                      header.insert(header.end() - 1, "columns: [code, text]");
                      return header;
                    })},
    {"no-header", BOTH, Stage::Header, "header",
     [](Case& c, Rng& rng) {
       c.weights = rng.chance(50);
       return set_header(c, {}), true;
     }},
    {"codetable-line", RIME, Stage::Lines, "",
     inserted([](const Case&, Rng&) { return "[CODETABLE]"; })},
    {"codetable-comment", RIME, Stage::Lines, "", inserted([](const Case&, Rng& r) {
       return r.chance(50) ? "# [CODETABLE]" : "# 原为冰凌 [CODETABLE] 段";
     })},
    {"codetable-name", RIME, Stage::Lines, "name",
     [](Case& c, Rng&) { return c.file_name = "[CODETABLE].dict.yaml", true; }},
    {"code-punct", BINGLING, Stage::Lines, "",
     rows(false,
          [](const Case& c, Entry e, Rng& r) {
            e.code.insert(r.below(e.code.size() + 1), 1, " ,.;"[r.below(4)]);
            return row(c, e);
          })},
    {"pin-after-space", BINGLING, Stage::Lines, "",
     rows(true,
          [](const Case& c, Entry e, Rng&) {
            return row(c, {e.text, e.code + " *", e.weight});
          })},
    {"full-width-punct", BOTH, Stage::Lines, "",
     rows(false,
          [](const Case& c, Entry e, Rng& r) {
            return row(c,
                       {e.text, e.code + std::array{"，", "。", "；", "、"}[r.below(4)], e.weight});
          })},
    {"long-text", BOTH, Stage::Lines, "", inserted([](const Case& c, Rng& r) {
       std::string text;
       for (std::size_t n = 128 + r.below(80); n > 0; --n)
         text += "长";
       return row(c, {text, "tayi", 1});
     })},
    {"long-code", BOTH, Stage::Lines, "", inserted([](const Case& c, Rng& r) {
       return row(c, {"长码", std::string(256 + r.below(40), 'k'), 1});
     })},
    {"bad-code-length", BINGLING, Stage::Lines, "",
     header_value("CodeLength",
                  [](const Case&, std::string, Rng& r) {
                    return std::string(std::array{"0", "17", "abc"}[r.below(3)]);
                  })},
    {"short-code-characters", BINGLING, Stage::Lines, "",
     header_value("CodeCharacters",
                  [](const Case& c, std::string letters, Rng& r) {
                    for (std::size_t n = 1 + r.below(3); n > 0; --n)
                      std::erase(letters, c.entries[r.below(c.entries.size())].code[0]);
                    return letters;
                  })},
    {"long-name", BINGLING, Stage::Lines, "name",
     header_value("Name", [](const Case&, std::string, Rng&) { return std::string(200, 'n'); })},
    {"tab-became-space", BOTH, Stage::Lines, "",
     rows(true, [](const Case& c, Entry e, Rng&) { return row(c, e, " "); })},
    {"space-not-tab", BOTH, Stage::Lines, "",
     rows(true,
          [](const Case& c, Entry e, Rng& r) {
            std::string line = row(c, e, r.chance(50) ? " " : "　");
            std::ranges::replace(line, '\t', ' ');
            return line;
          })},
    {"swapped-columns", BOTH, Stage::Lines, "",
     rows(true,
          [](const Case& c, Entry e, Rng&) {
            Case swapped = c;
            swapped.code_first = !c.code_first;
            return row(swapped, e);
          })},
    {"full-width-letters", BOTH, Stage::Lines, "",
     rows(true,
          [](const Case& c, Entry e, Rng&) {
            std::string code;
            for (char ch : e.code)
              append_utf8(code, U'ａ' + static_cast<char32_t>(ch - 'a'));
            return row(c, {e.text, code, e.weight});
          })},
    {"capitals", BOTH, Stage::Lines, "",
     rows(true,
          [](const Case& c, Entry e, Rng&) {
            for (char& ch : e.code)
              ch = static_cast<char>(ch - 'a' + 'A');
            return row(c, e);
          })},
    {"empty-column", BOTH, Stage::Lines, "",
     rows(false,
          [](const Case& c, Entry e, Rng& r) {
            (r.chance(50) ? e.text : e.code).clear();
            return row(c, e);
          })},
    {"exact-duplicate", BOTH, Stage::Lines, "",
     inserted([](const Case& c, Rng& r) { return row(c, c.entries[r.below(c.entries.size())]); })},
    {"heavier-duplicate", BOTH, Stage::Lines, "", inserted([](const Case& c, Rng& r) {
       Entry e = c.entries[r.below(c.entries.size())];
       return row(c, {e.text, e.code, e.weight + 100});
     })},
    {"stray-spaces", BOTH, Stage::Lines, "",
     rows(true, [](const Case& c, Entry e,
                   Rng& r) { return r.chance(50) ? row(c, e) + "  " : " " + row(c, e, " \t "); })},
    {"inner-bom", BOTH, Stage::Lines, "",
     rows(true,
          [](const Case& c, Entry e, Rng&) {
            return "\uFEFF" + row(c, e);  // two files joined with cat
          })},
};

const Kind* kind_named(std::string_view name) {
  const auto found = std::ranges::find(KINDS, name, &Kind::name);
  return found == KINDS.end() ? nullptr : &*found;
}

// A tenth clean, as the control; then single kinds, and combinations of two to four. With `only`,
// that kind alone half the time, else combined.
std::vector<const Kind*> draw_kinds(Rng& rng, std::string_view only) {
  const std::size_t roll = rng.below(20);
  const std::size_t wanted = !only.empty() ? 1 + (roll % 2) * (1 + rng.below(3))
                             : roll < 2    ? 0
                             : roll < 13   ? 1
                                           : 2 + rng.below(3);
  std::vector<const Kind*> kinds;
  if (!only.empty())
    kinds.push_back(kind_named(only));
  for (std::size_t tries = 0; kinds.size() < wanted && tries < 50; ++tries) {
    const Kind* k = &KINDS[rng.below(KINDS.size())];
    const auto slot = [](const Kind* kind) { return kind->slot.empty() ? kind->name : kind->slot; };
    unsigned forms = k->forms;
    for (const Kind* other : kinds)
      forms &= other->forms;
    if (forms != 0 &&
        std::ranges::none_of(kinds, [&](const Kind* o) { return slot(o) == slot(k); })) {
      kinds.push_back(k);
    }
  }
  return kinds;
}

// ---- the clean slices ------------------------------------------------------------------------

struct Dictionary {
  std::string name;
  std::vector<Entry> entries;
};

bool clean_entry(const Entry& e) {
  const std::size_t units = utf16_length(e.text);
  return units > 0 && units <= 60 && trim(e.text) == e.text && !e.text.starts_with('#') &&
         !e.text.starts_with('$') && !e.text.ends_with(']') && !e.code.empty() &&
         e.code.size() <= 16 &&
         std::ranges::all_of(e.code, [](char ch) { return ch >= 'a' && ch <= 'z'; }) &&
         decode_text({reinterpret_cast<const std::uint8_t*>(e.text.data()), e.text.size()});
}

std::vector<std::string> fields_of(std::string_view line) {
  std::vector<std::string> fields;
  for (std::size_t from = 0, tab = 0; tab != std::string_view::npos; from = tab + 1) {
    tab = line.find('\t', from);
    fields.emplace_back(line.substr(from, tab == std::string_view::npos ? tab : tab - from));
  }
  return fields;
}

// The entry lines of a Rime dictionary (text, code, weight; as Debian's are) or of a 冰凌 table.
Dictionary read_dictionary(const fs::path& path) {
  Dictionary dict{output_stem(path.string()), {}};
  std::ifstream in(path, std::ios::binary);
  bool body = false, bingling = false;
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> fields = fields_of(trim_end(line));
    if (!body || fields.size() < 2) {
      bingling = bingling || line.starts_with("[CODETABLEHEADER]");
      body = body || line.starts_with("...") || line.starts_with("[CODETABLE]");
      continue;
    }
    Entry e{fields[bingling ? 1 : 0], fields[bingling ? 0 : 1], 0};
    std::erase(e.code, ' ');
    const std::string weight = fields.size() > 2 ? fields[2] : "";
    if (!weight.empty() && weight.size() < 9 &&
        std::ranges::all_of(weight, [](char ch) { return ch >= '0' && ch <= '9'; })) {
      e.weight = std::stoull(weight);
    }
    if (clean_entry(e))
      dict.entries.push_back(std::move(e));
  }
  return dict;
}

std::vector<Dictionary> load_dictionaries(const fs::path& samples) {
  static constexpr std::array<std::pair<std::string_view, std::string_view>, 6> SOURCES{
      {{"rime-data-wubi", "wubi86"},
       {"rime-data-cangjie5", "cangjie5"},
       {"rime-data-quick5", "quick5"},
       {"rime-data-array30", "array30_main"},
       {"rime-data-luna-pinyin", "luna_pinyin"},
       {"rime-data-stroke", "stroke"}}};
  std::vector<Dictionary> found;
  for (const auto& [package, name] : SOURCES) {
    const std::string file = "usr/share/rime-data/" + std::string(name) + ".dict.yaml";
    if (const auto path = test_data::debian_package_file(package, file)) {
      found.push_back(read_dictionary(*path));
    }
  }
  if (found.empty()) {
    std::cout << "no Debian dictionary could be fetched: slicing the bundled samples\n";
    for (const char* sample : {"broken-wubi.dict.yaml", "broken-bingling.txt"}) {
      found.push_back(read_dictionary(samples / sample));
    }
  }
  std::erase_if(found, [](const Dictionary& d) { return d.entries.size() < 20; });
  return found;
}

// A damaged table, or nothing when one of the kinds found nothing to damage.
std::optional<Case> make_case(const std::vector<Dictionary>& dicts,
                              const std::vector<const Kind*>& kinds, Rng& rng, std::size_t number) {
  Case c;
  const Dictionary& dict = dicts[rng.below(dicts.size())];
  const std::size_t roll = rng.below(10);
  const std::size_t size = std::min(dict.entries.size(), roll < 6   ? 20 + rng.below(80)
                                                         : roll < 9 ? 100 + rng.below(400)
                                                                    : 500 + rng.below(2500));
  std::set<Pair> seen;
  for (std::size_t i = rng.below(dict.entries.size() - size + 1);
       c.entries.size() < size && i < dict.entries.size(); ++i) {
    if (seen.emplace(dict.entries[i].code, dict.entries[i].text).second) {
      c.entries.push_back(dict.entries[i]);
    }
  }
  unsigned forms = BOTH;
  for (const Kind* k : kinds)
    forms &= k->forms;
  c.form = forms == BOTH ? (rng.chance(50) ? Form::Rime : Form::Bingling) : Form{forms};
  c.dict = dict.name + "_" + std::to_string(number);
  c.file_name = c.dict + (c.form == Form::Rime ? ".dict.yaml" : ".txt");
  c.code_first = c.form == Form::Bingling;
  set_header(c, c.form == Form::Rime ? rime_header(c, rng.chance(50)) : bingling_header(c));
  bool applied = true;
  for (Stage stage : {Stage::Header, Stage::Lines, Stage::Bytes}) {
    if (stage == Stage::Bytes)
      c.bytes = join(c, rng);
    for (const Kind* k : kinds) {
      if (k->stage == stage) {
        applied = k->apply(c, rng) && applied;
        c.kinds.emplace_back(k->name);
      }
    }
  }
  return applied ? std::optional(c) : std::nullopt;
}

// ---- the rescue and the properties -----------------------------------------------------------

class TempPlace : public OutputPlace {
 public:
  explicit TempPlace(fs::path dir) : dir_(std::move(dir)) {}
  std::optional<std::string> choose(OutputKind, std::string_view name) override {
    return (dir_ / name).string();
  }
  std::optional<std::string> refusal(const std::string&) override { return std::nullopt; }

 private:
  fs::path dir_;
};

constexpr std::array<std::string_view, 5> PROPERTIES{"lands", "listed", "kept", "stable",
                                                     "no-moji"};
using Findings = std::array<std::optional<std::string>, 5>;

ByteView view_of(std::string_view s) {
  return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()};
}

std::string shown(std::string_view s) {
  return displayable(std::string(first_chars(s, 40)));
}

// The pairs of the table a file's bytes import as, read as the diagnosis reads them.
std::set<Pair> pairs_of(std::string_view file) {
  const ByteView bytes = view_of(file);
  std::optional<CodeTable> table;
  std::string converted;
  if (has_mb_magic(bytes)) {
    if (auto read = read_mb(bytes))
      table = std::move(*read);
  } else if (const auto text = decode_text_in_place(bytes, converted)) {
    const TableFormat format = detect_format(bytes, *text);
    auto imported = format == TableFormat::Rime ? import_rime(*text)
                    : format == TableFormat::Bingling
                        ? import_bingling(*text)
                        : std::unexpected(TableError::not_rime_dict());
    if (imported)
      table = std::move(imported->code_table);
  }
  std::set<Pair> out;
  if (table) {
    for (const TableEntry& e : table->entries)
      out.emplace(e.code.view(), e.text.view());
  }
  return out;
}

// Every item a repair lists, whichever list holds it.
template <typename Visit>
void for_each_item(const RepairResult& result, Visit visit) {
  for (const RepairItems* items : {&result.changes, &result.removed, &result.kept}) {
    for (const RepairItem& item : *items)
      visit(item);
  }
}

std::vector<std::string> editor_lines(std::string_view text) {
  std::vector<std::string> lines(1);
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      i += text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n';
      lines.emplace_back();
    } else {
      lines.back() += text[i];
    }
  }
  return lines;
}

// A line with its columns trimmed and without a leading byte-order mark.
std::string normalised(std::string_view line) {
  std::string out;
  for (const std::string& field : fields_of(line.substr(line.starts_with("\uFEFF") ? 3 : 0))) {
    out += std::string(trim(field)) + "\t";
  }
  return std::string(trim(out));
}

std::string failure_text(const StepFailure& failure) {
  static constexpr std::array<std::string_view, 8> NAMES{
      "a .mb",        "undecodable",       "cancelled",    "refused",
      "write failed", "nothing to export", "build failed", "not verified"};
  return std::string(NAMES[static_cast<std::size_t>(failure.kind)]) + ": " + shown(failure.detail);
}

struct Checked {
  Findings found;
  std::size_t mended = 0;  // damaged entries the rescue brought back
};

Checked check(const Case& c, const fs::path& dir) {
  Findings found;
  fs::remove_all(dir);
  fs::create_directories(dir);
  const fs::path path = dir / c.file_name;
  std::ofstream(path, std::ios::binary) << c.bytes;
  SourceTable source{path.string(), Bytes(c.bytes.begin(), c.bytes.end()),
                     diagnose(view_of(c.bytes))};
  const std::set<Pair> source_pairs = pairs_of(c.bytes);
  TempPlace place(dir);
  const RescueOutcome outcome = rescue(source, place,
                                       {.export_source_when_unrepaired = true,
                                        .write_unverified = false,
                                        .diagnoses_keep_mb = false});
  const SavedRepair* saved = outcome.repair && *outcome.repair ? &**outcome.repair : nullptr;
  std::string repaired;
  Diagnosis recheck;
  if (saved) {
    std::ifstream in(saved->path, std::ios::binary);
    repaired.assign(std::istreambuf_iterator<char>(in), {});
    recheck = diagnose(view_of(repaired));
  }
  const std::set<Pair> repaired_pairs = pairs_of(repaired);

  // lands
  if (std::ranges::any_of(c.lines, [](const Line& l) { return l.must.has_value(); })) {
    if (!saved) {
      found[0] =
          "no repair: " + failure_text(outcome.repair ? outcome.repair->error() : StepFailure{});
    } else if (!recheck.importable) {
      std::string why = recheck.failure.value_or("");
      for (const Issue& issue : recheck.issues) {
        if (issue.severity == Severity::Fatal && why.empty())
          why = issue.message;
      }
      found[0] = "repaired text does not import: " + shown(why);
    } else if (!outcome.exported || !*outcome.exported) {
      found[0] = "no .mb: " + (outcome.exported ? failure_text(outcome.exported->error()) : "");
    }
  }

  // listed
  if (saved) {
    std::set<std::uint64_t> named;
    for_each_item(saved->result, [&](const RepairItem& item) { named.insert(item.line); });
    std::set<std::string> reached;
    for (const std::string& line : editor_lines(repaired))
      reached.insert(normalised(line));
    const auto markers =
        static_cast<std::uint64_t>(std::ranges::count_if(c.lines, [](const Line& l) {
          return l.text == "[CODETABLE]" || l.text == "[CODETABLEHEADER]";
        }));
    for (std::uint64_t n = 1; n <= c.lines.size() && !found[1]; ++n) {
      const std::string line = normalised(c.lines[n - 1].text);
      bool listed = line.empty() || reached.contains(line) || named.contains(n);
      for (std::uint64_t at = n > markers ? n - markers : 1; named.contains(0) && at <= n + 8;
           ++at) {
        listed = listed || named.contains(at);
      }
      if (!listed)
        found[1] = "line " + std::to_string(n) + " gone unlisted: " + shown(c.lines[n - 1].text);
    }
  }

  // kept
  std::size_t mended = 0;
  for (const Line& line : c.lines) {
    mended += line.hoped && repaired_pairs.contains({line.hoped->code, line.hoped->text});
    if (line.must && !found[2] && !repaired_pairs.contains({line.must->code, line.must->text})) {
      found[2] = "lost undamaged 「" + shown(line.must->text) + "」" + line.must->code;
    }
  }
  // A 冰凌 import takes codes and texts no .mb record holds: those are no entries of the input
  // method, and the rescue takes them out. An entry that runs over a lone CR is two lines run
  // together, which the rescue parts.
  const auto meant = [](const std::string& code, const std::string& text) {
    const std::size_t units = utf16_length(text);
    return !code.empty() && code.size() <= MB_MAX_CODE_BYTES && units > 0 &&
           units <= MB_MAX_TEXT_UNITS && (code + text).find('\r') == std::string::npos;
  };
  for (const auto& [code, text] : source_pairs) {
    if (!found[2] && meant(code, text) && !repaired_pairs.contains({code, text})) {
      found[2] = "lost what the source imports: 「" + shown(text) + "」" + shown(code);
    }
  }

  if (saved) {
    // stable
    const RepairResult again = repair_text(repaired, recheck.format, output_stem(path.string()));
    if (!again.changes.empty()) {
      const RepairItem first = again.changes.front();
      found[3] = std::to_string(again.changes.size()) + " new changes, first: line " +
                 std::to_string(first.line) + " " + shown(first.summary);
    } else if (again.text != repaired) {
      const std::vector<std::string> before = editor_lines(repaired),
                                     after = editor_lines(again.text);
      std::size_t n = 0;
      while (n < before.size() && n < after.size() && before[n] == after[n])
        ++n;
      found[3] = "a second repair rewrote line " + std::to_string(n + 1) + ": " +
                 shown(n < before.size() ? before[n] : "") + " -> " +
                 shown(n < after.size() ? after[n] : "");
    }

    // no-moji
    std::string source_text;
    for (const Line& line : c.lines)
      source_text += line.text + "\n";
    std::set<char32_t> known{U'\uFEFF'};
    for (std::size_t at = 0; at < source_text.size();)
      known.insert(next_char(source_text, at));
    for (std::size_t at = 0; at < repaired.size() && !found[4];) {
      const std::size_t start = at;
      if (const char32_t ch = next_char(repaired, at); ch >= 0x80 && !known.contains(ch)) {
        const std::size_t from = repaired.rfind('\n', start) + 1;
        found[4] =
            "new character in " + shown(repaired.substr(from, repaired.find('\n', start) - from));
      }
    }
  }
  if (saved && std::ranges::any_of(found, [](const auto& f) { return f.has_value(); })) {
    std::ofstream(dir / "repair-report.txt", std::ios::binary)
        << build_repair_report(path.string(), saved->path, saved->result, recheck);
  }
  return {found, mended};
}

// ---- the run ---------------------------------------------------------------------------------

struct Tally {
  std::size_t tables = 0, hoped = 0, mended = 0;
  std::array<std::size_t, 5> failed{};
  std::vector<std::string> examples;
};

std::string right(const std::string& text, std::size_t width) {
  return std::string(width > text.size() ? width - text.size() : 1, ' ') + text;
}

void print_summary(const std::map<std::string, Tally>& tallies, std::size_t examples) {
  std::cout << "\n" << std::string(22, ' ') << right("tables", 6);
  for (std::string_view p : PROPERTIES)
    std::cout << right(std::string(p), 9);
  std::cout << right("mended", 12) << "\n";
  for (const auto& [name, t] : tallies) {
    std::cout << name << std::string(name.size() < 22 ? 22 - name.size() : 1, ' ')
              << right(std::to_string(t.tables), 6);
    for (std::size_t f : t.failed)
      std::cout << right(std::to_string(f), 9);
    std::cout << right(std::to_string(t.mended) + "/" + std::to_string(t.hoped), 12) << "\n";
  }
  for (const auto& [name, t] : tallies) {
    for (std::size_t i = 0; i < std::min(examples, t.examples.size()); ++i) {
      std::cout << (i == 0 ? "\n" + name + ":\n" : "") << t.examples[i];
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t count = 100;
  std::uint64_t seed = 1;
  std::string only, keep;
  bool verbose = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--count" && has_value) {
      count = std::stoull(argv[++i]);
    } else if (arg == "--seed" && has_value) {
      seed = std::stoull(argv[++i]);
    } else if (arg == "--kind" && has_value && kind_named(argv[i + 1])) {
      only = argv[++i];
    } else if (arg == "--keep-failures" && has_value) {
      keep = argv[++i];
    } else if (arg == "--verbose") {
      verbose = true;
    } else {
      std::cerr << "usage: damaged_tables --count N --seed S [--kind K] [--keep-failures DIR] "
                   "[--verbose]\nkinds:";
      for (const Kind& k : KINDS)
        std::cerr << ' ' << k.name;
      std::cerr << '\n';
      return 2;
    }
  }
  const std::vector<Dictionary> dicts = load_dictionaries(fs::path(QOVIRA_SOURCE_DIR) / "samples");
  if (dicts.empty()) {
    std::cout << "neither the Debian dictionaries nor the samples could be read: skipped\n";
    return 77;
  }
  Rng rng{std::mt19937_64(seed)};
  const fs::path work = fs::temp_directory_path() / ("qovira-damaged-" + std::to_string(getpid()));
  std::map<std::string, Tally> tallies;
  std::size_t failing = 0;
  for (std::size_t number = 0; number < count; ++number) {
    std::vector<const Kind*> kinds;
    std::optional<Case> made;
    while (!made) {
      kinds = draw_kinds(rng, only);
      made = make_case(dicts, kinds, rng, number);
    }
    const Case& c = *made;
    const auto [found, mended] = check(c, work / "case");
    Tally& tally = tallies[kinds.empty()      ? "(clean)"
                           : kinds.size() > 1 ? "(combined)"
                                              : c.kinds[0]];
    ++tally.tables;
    tally.mended += mended;
    tally.hoped +=
        std::ranges::count_if(c.lines, [](const Line& l) { return l.hoped.has_value(); });
    std::string description;
    for (std::size_t p = 0; p < found.size(); ++p) {
      if (found[p]) {
        ++tally.failed[p];
        description += "    " + std::string(PROPERTIES[p]) + ": " + *found[p] + "\n";
      }
    }
    if (description.empty())
      continue;
    ++failing;
    std::string kinds_text;
    for (const std::string& k : c.kinds)
      kinds_text += (kinds_text.empty() ? "" : "+") + k;
    std::string example = "  #" + std::to_string(number) + " " + kinds_text + " (" +
                          (c.form == Form::Rime ? "Rime" : "冰凌") + ", " +
                          std::to_string(c.lines.size()) + " lines)";
    if (!keep.empty() && tally.examples.size() < 20) {
      const fs::path kept = fs::path(keep) / (std::to_string(number) + "-" + kinds_text);
      fs::create_directories(kept);
      fs::copy(work / "case", kept,
               fs::copy_options::recursive | fs::copy_options::overwrite_existing);
      std::ofstream(kept / "findings.txt") << example << "\n" << description;
      example += " kept in " + kept.string();
    }
    tally.examples.push_back(example + "\n" + description);
    if (verbose)
      std::cout << example << "\n" << description;
  }
  fs::remove_all(work);
  print_summary(tallies, verbose ? 10 : 2);
  std::cout << "\n" << count << " tables, " << failing << " with a failing property\n";
  return failing == 0 ? 0 : 1;
}
