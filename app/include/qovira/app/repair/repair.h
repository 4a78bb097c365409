// Repair of a text table: the line rules, inference of illegal code letters, and the report.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "qovira/app/diagnosis/diagnosis.h"
#include "qovira/table/format.h"
#include "qovira/table/table_text.h"

namespace qovira {

// The rule that made a repair item: what happened, apart from how the report words it.
enum class RepairRule : std::uint8_t {
  // The whole-text mends.
  Encoding,             // a legacy-encoded text converted to UTF-8
  LineEnds,             // a text of carriage returns alone given line feeds
  LoneCarriageReturns,  // carriage returns without a line feed among line feeds
  DamagedLine,          // a line of undecodable bytes taken out
  ByteOrderMark,        // a byte-order mark hiding a header marker taken out
  MarkerRemoved,        // a 冰凌 section marker taken off a Rime line
  SectionUpperCased,    // a 冰凌 section line put in upper case
  HeaderClosed,         // an unclosed Rime header closed
  HeaderAdded,          // a Rime header put in front of a text without one
  HeaderNotAdded,       // too little evidence of the column order to add a header
  // The line rules.
  ColumnsSplit,          // a line of two pieces split by spaces given its tab
  NotTwoColumns,         // a line of no two columns, left or taken out
  ColumnsSwapped,        // a word in the code column swapped with the code
  FirstTabRestored,      // the tab between word and code restored in a weighted row
  RefusedLine,           // an entry the importer or the .mb build refuses taken out
  SettingMended,         // a header setting the import or the build refuses mended
  SettingRemoved,        // a header setting that cannot be mended taken out
  EmptyColumn,           // a line missing its word or its code taken out
  FullWidth,             // full-width forms in a code made half-width
  Capitals,              // capitals in a code made lower case
  PinMarkSpace,          // the space before a 冰凌 pin mark taken out
  CodeInferred,          // illegal code letters replaced by inferred ones
  CodeNotInferred,       // an entry of illegal code letters left out of the export
  Duplicate,             // an exact repeat taken out
  HeavierDuplicateKept,  // a repeat heavier than every earlier copy left in place
};

struct RepairItem {
  RepairRule rule{};
  std::string summary;
  std::string basis;
  std::uint64_t line = 0;  // 0: the whole file

  friend bool operator==(const RepairItem&, const RepairItem&) = default;
};

// The changes or the kept lines of a repair, in order. A table of millions of repeated lines
// gives millions of items, so they are held as records of the pieces their summaries are made of
// rather than as finished strings; a run of items that each name the line just before theirs (one
// line repeated again and again) is one record.
class RepairItems {
  struct Record;

 public:
  RepairItems() = default;
  RepairItems(std::initializer_list<RepairItem> items) {
    for (const RepairItem& item : items) {
      push_back(item);
    }
  }

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  void push_back(const RepairItem& item);
  void push_front(const RepairItem& item);
  // An item whose summary is `head`, the number `named_line` and `tail`.
  void push_naming(RepairRule rule, std::uint64_t line, std::string_view head,
                   std::uint64_t named_line, std::string_view tail, std::string_view basis);

  class const_iterator {
   public:
    using iterator_concept = std::forward_iterator_tag;
    using value_type = RepairItem;
    using difference_type = std::ptrdiff_t;

    const_iterator() = default;
    RepairItem operator*() const { return items_->item_of(*record_, within_); }
    const_iterator& operator++();
    const_iterator operator++(int) {
      const_iterator before = *this;
      ++*this;
      return before;
    }
    friend bool operator==(const const_iterator&, const const_iterator&) = default;

   private:
    friend class RepairItems;
    const_iterator(const RepairItems* items, const Record* record)
        : items_(items), record_(record) {}

    const RepairItems* items_ = nullptr;
    const Record* record_ = nullptr;
    std::uint64_t within_ = 0;
  };

  const_iterator begin() const { return {this, records_.data()}; }
  const_iterator end() const { return {this, records_.data() + records_.size()}; }
  RepairItem front() const { return *begin(); }
  // Walks the records up to the item: meant for the first few.
  RepairItem operator[](std::size_t index) const;

 private:
  struct Piece {
    std::uint64_t at = 0;
    std::uint64_t size = 0;
  };
  struct Record {
    std::uint64_t line = 0;        // of the first item
    std::uint64_t named_line = 0;  // that the first item names, when `numbered`
    std::uint64_t run = 1;         // items; each after the first names the line before its own
    Piece head;                    // the summary, or its part before the number
    Piece tail;                    // the part after the number
    Piece basis;
    RepairRule rule{};
    bool numbered = false;
  };

  RepairItem item_of(const Record& record, std::uint64_t within) const;
  std::string_view piece(const Piece& piece) const {
    return {texts_.data() + piece.at, piece.size};
  }
  // Stores `text`, sharing the bytes of `last` when they are the same.
  Piece store(std::string_view text, const Piece* last);
  Record& add(RepairRule rule, std::uint64_t line, std::string_view head, std::string_view basis);

  std::vector<Record> records_;
  std::string texts_;
  std::size_t size_ = 0;
};

struct RepairResult {
  std::string text;
  RepairItems changes;
  RepairItems removed;  // lines taken out of the repaired text, each with its reason
  RepairItems kept;     // lines left in place for a person to judge
};

// The key of the code statistics: entries of one shape that put `character` at `position`.
struct CodeSlot {
  std::uint64_t word_length = 0;
  std::uint64_t code_length = 0;
  std::uint64_t position = 0;
  char32_t character = 0;

  friend bool operator==(const CodeSlot&, const CodeSlot&) = default;
};

struct CodeSlotHash {
  std::size_t operator()(const CodeSlot& slot) const noexcept;
};

using CodeStats =
    std::unordered_map<CodeSlot, std::unordered_map<char32_t, std::uint64_t>, CodeSlotHash>;

// The statistics of every entry of the body whose code is made of code characters alone.
CodeStats collect_code_stats(const TableText& text);

struct InferredCode {
  std::string code;
  std::string basis;
};

// A code for an entry whose code holds characters the format's codes cannot, or nothing when any
// position cannot be guessed with confidence.
std::optional<InferredCode> infer_code(const CodeStats& stats, std::string_view text,
                                       std::string_view code,
                                       TableFormat format = TableFormat::Rime);

// Never fails. `base_name` names the Rime header added to a text without one. The whole-text
// mends (text_mends.h) come first, then the line rules.
RepairResult repair_text(std::string_view text, TableFormat format, std::string_view base_name);

struct MendedText;
// The line rules over a text the whole-text mends have made; their items come first. Cancelled
// through `progress`, the result is incomplete.
RepairResult repair_mended_text(const MendedText& mended, Progress* progress = nullptr);

// Takes the report piece by piece: false once it cannot be written, and then the rest is not made.
using ReportWriter = std::function<bool(std::string_view)>;

// The report after a repair, written piece by piece with each line ended by `line_end`: a report
// listing millions of removed lines runs to gigabytes and is never held whole.
void write_repair_report(std::string_view source_path, std::string_view saved_path,
                         const RepairResult& result, const Diagnosis& recheck,
                         std::string_view line_end, const ReportWriter& write);
// How many items of each list a report shows; a line after them counts the rest and names the
// saved whole report, if there is one.
struct ShownItems {
  std::size_t shown_per_list = static_cast<std::size_t>(-1);
  std::optional<std::string_view> full_report;
};

// The report as one text, with LF line ends; by default with every item.
std::string build_repair_report(std::string_view source_path, std::string_view saved_path,
                                const RepairResult& result, const Diagnosis& recheck,
                                const ShownItems& cut = {});

}  // namespace qovira
