// The repair: the whole-text mends, then the line rules, run again taking out the lines of no two
// columns when so many are left that the import would fail for them.
#include "qovira/app/repair/repair.h"

#include <span>

#include "line_repairer.h"
#include "qovira/app/repair/text_mends.h"
#include "qovira/table/lines.h"

namespace qovira {

RepairResult repair_text(std::string_view text, TableFormat format, std::string_view base_name) {
  return repair_mended_text(mend_text(text, format, base_name));
}

RepairResult repair_mended_text(const MendedText& mended, Progress* progress) {
  RepairResult result;
  result.changes = mended.changes;
  result.kept = mended.kept;
  const std::string_view text = mended.text();
  result.text.reserve(text.size() + text.size() / 16 + 64);
  if (mended.format == TableFormat::Unknown) {
    // Neither a format nor a column order could be read from the text: no line rule can judge its
    // lines, and they are left as they stand (damaged ones already blank).
    std::span<const RepairItem> taken_out = mended.taken_out;
    std::uint64_t number = 0;
    for_each_line(text, [&](std::string_view line) {
      if (!taken_out.empty() && taken_out.front().line == ++number) {
        result.removed.push_back(taken_out.front());
        taken_out = taken_out.subspan(1);
      }
      result.text.append(line).push_back('\n');
    });
  } else {
    const TableText table = TableText::read(text, mended.format, progress);
    // Lines of no two columns are left for a person, unless so many are left that the importer
    // would refuse the whole dictionary for them: then the repair runs again taking them out.
    for (const bool take_out_unsplit : {false, true}) {
      RepairedText output(table.text(), result.text);
      bool sunk = false;
      {
        LineRepairer repairer(table, result, output, mended.taken_out, take_out_unsplit);
        table.for_each_line([&repairer](const TextLine& line) { repairer.take(line); });
        repairer.finish();
        sunk = repairer.left_lines_sink_the_import();
      }
      output.finish();  // the repeat check is gone: an unchanged text is copied only now
      if (!sunk) {
        break;
      }
      result = RepairResult{};
      result.changes = mended.changes;
      result.kept = mended.kept;
    }
  }
  if (result.text.empty()) {
    result.text.push_back('\n');
  }
  return result;
}

}  // namespace qovira
