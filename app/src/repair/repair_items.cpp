// The items of a repair, held as records of pieces.
#include <algorithm>
#include <string>
#include <string_view>

#include "qovira/app/repair/repair.h"

namespace qovira {

RepairItems::Piece RepairItems::store(std::string_view text, const Piece* last) {
  if (last != nullptr && piece(*last) == text) {
    return *last;
  }
  const Piece stored{texts_.size(), text.size()};
  texts_.append(text);
  return stored;
}

RepairItems::Record& RepairItems::add(RepairRule rule, std::uint64_t line, std::string_view head,
                                      std::string_view basis) {
  const Record* last = records_.empty() ? nullptr : &records_.back();
  Record record;
  record.rule = rule;
  record.line = line;
  record.head = store(head, last != nullptr ? &last->head : nullptr);
  record.basis = store(basis, last != nullptr ? &last->basis : nullptr);
  ++size_;
  return records_.emplace_back(record);
}

void RepairItems::push_back(const RepairItem& item) {
  add(item.rule, item.line, item.summary, item.basis);
}

void RepairItems::push_front(const RepairItem& item) {
  add(item.rule, item.line, item.summary, item.basis);
  std::rotate(records_.begin(), records_.end() - 1, records_.end());
}

void RepairItems::push_naming(RepairRule rule, std::uint64_t line, std::string_view head,
                              std::uint64_t named_line, std::string_view tail,
                              std::string_view basis) {
  if (!records_.empty()) {
    Record& last = records_.back();
    const std::uint64_t last_line = last.line + last.run - 1;
    const bool continues = last.numbered && last.rule == rule && line == last_line + 1 &&
                           named_line == last_line && piece(last.head) == head &&
                           piece(last.tail) == tail && piece(last.basis) == basis;
    if (continues) {
      ++last.run;
      ++size_;
      return;
    }
  }
  const Record* last = records_.empty() ? nullptr : &records_.back();
  const Piece last_tail = last != nullptr ? last->tail : Piece{};
  Record& record = add(rule, line, head, basis);
  record.numbered = true;
  record.named_line = named_line;
  record.tail = store(tail, last != nullptr ? &last_tail : nullptr);
}

RepairItem RepairItems::item_of(const Record& record, std::uint64_t within) const {
  RepairItem item{record.rule, std::string(piece(record.head)), std::string(piece(record.basis)),
                  record.line + within};
  if (record.numbered) {
    item.summary.append(std::to_string(within == 0 ? record.named_line : item.line - 1))
        .append(piece(record.tail));
  }
  return item;
}

RepairItems::const_iterator& RepairItems::const_iterator::operator++() {
  if (++within_ == record_->run) {
    ++record_;
    within_ = 0;
  }
  return *this;
}

RepairItem RepairItems::operator[](std::size_t index) const {
  for (const Record& record : records_) {
    if (index < record.run) {
      return item_of(record, index);
    }
    index -= record.run;
  }
  return {};
}

}  // namespace qovira
