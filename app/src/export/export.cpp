// Export of a table as .mb bytes, proven by reading every record back against the table: the
// diagnosis builds and proves the .mb it keeps for an export this way.
#include "qovira/app/export/export.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <numeric>
#include <vector>

#include "qovira/table/mb.h"
#include "qovira/table/message_text.h"
#include "qovira/table/side_by_side.h"
#include "qovira/table/utf8.h"

namespace qovira {
namespace {

// Every "{}" is filled in order.
constexpr std::string_view VERDICT_READ_FAILED = "回读失败：{}";
constexpr std::string_view VERDICT_MISMATCH = "回读对不上：导入 {} 条 / 回读 {} 条";
constexpr std::string_view VERDICT_VERIFIED = "已回读校验：{} 条词条、{} 个码元，与导入结果一致";

constexpr std::string_view DIFFERENT_ALPHABET = "字母表不同";
constexpr std::string_view DIFFERENT_COUNT = "条数不同（导入 {}，回读 {}）";
constexpr std::string_view CODE_MISSING = "编码 {} 回读后不存在";
constexpr std::string_view CANDIDATES_CHANGED = "编码 {} 下的候选次序或内容变了";

// Counted for tests, which check that every .mb is built once.
std::atomic<std::uint64_t> builds_started{0};

// Below this many entries a second thread costs the proof more than it saves.
constexpr std::size_t PARALLEL_PROOF_ROWS = 1 << 15;

constexpr std::string_view SUMMARY_TITLE = "导出 .mb\n========\n\n";
constexpr std::string_view SUMMARY_SOURCE = "来源：{}\n";
constexpr std::string_view SUMMARY_OUTPUT = "输出：{}\n";
constexpr std::string_view SUMMARY_SIZE = "大小：{} 字节，词条 {}\n";
constexpr std::string_view SUMMARY_VERDICT = "校验：{}\n\n";
constexpr std::string_view SUMMARY_VERIFIED_CLOSING =
    "这份 .mb 是运行时格式，把它交给用户在 App 里「从本机文件导入」即可，\n"
    "不必等新版本。生成它用的是与 App 内部完全相同的写盘函数。\n";
constexpr std::string_view SUMMARY_UNVERIFIED_CLOSING =
    "回读没通过，**不要**把这份文件发出去，请把这段报告交给开发。\n";

// Entry positions ordered by code byte-wise; entries of one code keep their order. Imported
// tables usually come in that order already; otherwise the first eight code bytes, packed into
// one integer, decide most comparisons without touching the strings.
std::vector<std::size_t> order_by_code(const std::vector<TableEntry>& entries) {
  std::vector<std::size_t> order(entries.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  const auto by_code = [](const TableEntry& a, const TableEntry& b) { return a.code < b.code; };
  if (std::ranges::is_sorted(entries, by_code)) {
    return order;
  }
  struct Item {
    std::uint64_t head;  // first eight code bytes, big-endian, zero-padded
    std::size_t length;
    std::size_t index;
  };
  std::vector<Item> items;
  items.reserve(entries.size());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::string_view code = entries[i].code;
    std::uint64_t head = 0;
    for (std::size_t k = 0; k < sizeof head; ++k) {
      head = (head << 8) | (k < code.size() ? static_cast<std::uint8_t>(code[k]) : 0);
    }
    items.push_back({head, code.size(), i});
  }
  std::ranges::sort(items, [&](const Item& a, const Item& b) {
    if (a.head != b.head) {
      return a.head < b.head;
    }
    // Equal heads of short codes differ at most in trailing zero bytes, that is in length.
    const bool short_codes = a.length <= sizeof a.head && b.length <= sizeof b.head;
    const int codes = short_codes ? (a.length < b.length ? -1 : a.length > b.length)
                                  : entries[a.index].code.compare(entries[b.index].code);
    return codes != 0 ? codes < 0 : a.index < b.index;
  });
  std::ranges::transform(items, order.begin(), &Item::index);
  return order;
}

// End of the run of entries in `order` from `begin` that share the code of the first.
std::size_t end_of_code(const std::vector<TableEntry>& entries,
                        const std::vector<std::size_t>& order, std::size_t begin) {
  std::size_t end = begin + 1;
  while (end < order.size() && entries[order[end]].code == entries[order[begin]].code) {
    ++end;
  }
  return end;
}

// True when every code's records, in file order, are that code's entries of the table in their
// order, which is what compare_readback asks. The expected file order is derived here from the
// format's rule (codes compared by alphabet position, a code before the longer codes it begins),
// not taken from the writer, so a fault in the writer's ordering cannot hide itself. Nothing is
// claimed (false) for a table whose code appears in more than one run.
bool reads_back_code_by_code(const CodeTable& table, MbRecordReader& records) {
  if (records.alphabet() != table.alphabet || records.size() != table.entries.size()) {
    return false;
  }
  std::array<std::uint16_t, 256> rank{};
  for (std::size_t byte = 0; byte < rank.size(); ++byte) {
    rank[byte] = static_cast<std::uint16_t>(256 + byte);  // outside the alphabet: after it
  }
  for (std::size_t position = 0; position < table.alphabet.size(); ++position) {
    rank[static_cast<unsigned char>(table.alphabet[position])] =
        static_cast<std::uint16_t>(position);
  }
  const auto rank_of = [&](char c) { return rank[static_cast<unsigned char>(c)]; };
  const auto before = [&](std::string_view a, std::string_view b) {
    return std::ranges::lexicographical_compare(a, b, {}, rank_of, rank_of);
  };

  const auto& entries = table.entries;
  const auto run_end = [&](std::size_t begin) {
    std::size_t end = begin + 1;
    while (end < entries.size() && entries[end].code == entries[begin].code) {
      ++end;
    }
    return end;
  };
  const auto read_run = [&](MbRecordReader& reader, std::size_t begin, std::size_t end) {
    TableEntry record;
    for (std::size_t i = begin; i < end; ++i) {
      if (!reader.next(record) || record != entries[i]) {
        return false;
      }
    }
    return true;
  };
  // Whether each code of [from, to) that differs from the one before comes after it.
  const auto in_write_order = [&](std::size_t from, std::size_t to) {
    for (std::size_t i = std::max<std::size_t>(from, 1); i < to; ++i) {
      const std::string_view previous = entries[i - 1].code;
      const std::string_view code = entries[i].code;
      if (previous != code && !before(previous, code)) {
        return false;
      }
    }
    return true;
  };

  // Tables are usually in write order already: then the records are compared as they come, the
  // two halves side by side, and nothing is listed.
  const std::size_t half = entries.size() / 2;
  bool lower_in_order = false;
  bool upper_in_order = false;
  bool lower_same = false;
  bool upper_same = false;
  run_side_by_side(
      entries.size() >= PARALLEL_PROOF_ROWS,
      [&] {
        upper_in_order = in_write_order(half, entries.size());
        MbRecordReader upper_records = records;  // on this thread's stack, away from the other's
        upper_records.skip(half);
        upper_same = upper_in_order && read_run(upper_records, half, entries.size());
      },
      [&] {
        lower_in_order = in_write_order(0, half);
        MbRecordReader lower_records = records;
        lower_same = lower_in_order && read_run(lower_records, 0, half);
      });
  if (lower_in_order && upper_in_order) {
    return lower_same && upper_same;
  }

  // Runs of equal codes as [begin, end) positions in `entries`; a table holds fewer than 2^32.
  struct Run {
    std::uint32_t begin;
    std::uint32_t end;
  };
  std::vector<Run> runs;
  for (std::size_t begin = 0; begin < entries.size();) {
    const std::size_t end = run_end(begin);
    runs.push_back({static_cast<std::uint32_t>(begin), static_cast<std::uint32_t>(end)});
    begin = end;
  }
  const auto by_code = [&](const Run& a, const Run& b) {
    return before(entries[a.begin].code, entries[b.begin].code);
  };
  std::ranges::stable_sort(runs, by_code);
  for (std::size_t i = 1; i < runs.size(); ++i) {
    if (!by_code(runs[i - 1], runs[i])) {
      return false;
    }
  }
  return std::ranges::all_of(runs,
                             [&](const Run& run) { return read_run(records, run.begin, run.end); });
}

}  // namespace

std::expected<ExportResult, std::string> export_mb(const CodeTable& table, Progress* progress) {
  builds_started.fetch_add(1, std::memory_order_relaxed);
  // The build takes about as long as the proof.
  constexpr std::uint64_t HALVES = 2;
  if (progress != nullptr) {
    progress->report(0, HALVES);
  }
  auto bytes = build_mb(table, DEFAULT_MB_CONTAINER);
  if (!bytes) {
    return std::unexpected(bytes.error().message());
  }
  ExportResult result;
  result.bytes = std::move(*bytes);
  result.entries = table.entries.size();
  if (progress != nullptr) {
    if (progress->cancelled()) {
      return result;  // unproven
    }
    progress->report(1, HALVES);
  }
  const auto difference = compare_built_mb(table, result.bytes);
  if (!difference) {
    result.unreadable = difference.error().message();
    result.verdict = fill_placeholders(VERDICT_READ_FAILED, {*result.unreadable});
  } else if (*difference) {
    result.difference = **difference;
    // The bytes read, or there would be no difference to tell.
    const std::size_t read_back = MbRecordReader::open(result.bytes)->size();
    result.verdict = fill_placeholders(VERDICT_MISMATCH,
                                       {std::to_string(result.entries), std::to_string(read_back)});
  } else {
    result.verdict = verified_verdict(result.entries, table.alphabet);
    result.verified = true;
  }
  return result;
}

std::string verified_verdict(std::uint64_t entries, std::string_view alphabet) {
  return fill_placeholders(VERDICT_VERIFIED,
                           {std::to_string(entries), std::to_string(count_chars(alphabet))});
}

std::uint64_t mb_builds_started() {
  return builds_started.load(std::memory_order_relaxed);
}

std::expected<std::optional<std::string>, MbReadError> compare_built_mb(const CodeTable& table,
                                                                        ByteView mb) {
  auto records = MbRecordReader::open(mb);
  if (!records) {
    return std::unexpected(records.error());
  }
  if (reads_back_code_by_code(table, *records)) {
    return std::nullopt;
  }
  // Only a fault of the writer or the reader leads here: decode the whole file to name the
  // difference.
  const auto read_back = read_mb(mb);
  if (!read_back) {
    return std::unexpected(read_back.error());
  }
  return compare_readback(table, *read_back);
}

std::optional<std::string> compare_readback(const CodeTable& imported, const CodeTable& read_back) {
  if (imported.alphabet != read_back.alphabet) {
    return std::string(DIFFERENT_ALPHABET);
  }
  const std::vector<TableEntry>& ours = imported.entries;
  const std::vector<TableEntry>& theirs = read_back.entries;
  if (ours.size() != theirs.size()) {
    return fill_placeholders(DIFFERENT_COUNT,
                             {std::to_string(ours.size()), std::to_string(theirs.size())});
  }
  // Both sides sorted by code and walked together, one run of candidates per code.
  const std::vector<std::size_t> our_order = order_by_code(ours);
  const std::vector<std::size_t> their_order = order_by_code(theirs);
  std::size_t theirs_at = 0;
  for (std::size_t ours_at = 0; ours_at < our_order.size();) {
    const std::size_t ours_end = end_of_code(ours, our_order, ours_at);
    const std::string_view code = ours[our_order[ours_at]].code;
    while (theirs_at < their_order.size() && theirs[their_order[theirs_at]].code < code) {
      ++theirs_at;
    }
    if (theirs_at == their_order.size() || theirs[their_order[theirs_at]].code != code) {
      return fill_placeholders(CODE_MISSING, {code});
    }
    const std::size_t theirs_end = end_of_code(theirs, their_order, theirs_at);
    const bool same_candidates =
        ours_end - ours_at == theirs_end - theirs_at &&
        std::equal(our_order.begin() + ours_at, our_order.begin() + ours_end,
                   their_order.begin() + theirs_at, [&](std::size_t a, std::size_t b) {
                     return ours[a].text == theirs[b].text &&
                            ours[a].priority == theirs[b].priority;
                   });
    if (!same_candidates) {
      return fill_placeholders(CANDIDATES_CHANGED, {code});
    }
    ours_at = ours_end;
    theirs_at = theirs_end;
  }
  return std::nullopt;
}

std::string export_summary(std::string_view source_path, std::string_view output_path,
                           const ExportResult& result) {
  std::string summary(SUMMARY_TITLE);
  summary += fill_placeholders(SUMMARY_SOURCE, {source_path});
  summary += fill_placeholders(SUMMARY_OUTPUT, {output_path});
  summary += fill_placeholders(
      SUMMARY_SIZE, {std::to_string(result.bytes.size()), std::to_string(result.entries)});
  summary += fill_placeholders(SUMMARY_VERDICT, {result.verdict});
  summary += result.verified ? SUMMARY_VERIFIED_CLOSING : SUMMARY_UNVERIFIED_CLOSING;
  return summary;
}

}  // namespace qovira
