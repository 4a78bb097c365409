// diagnose on any bytes: it never throws, its verdict agrees with its issues, a proven .mb comes
// with every importable verdict, the .mb always reads back (a failure there is a fault of the
// core, never of the table), and the report renders.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "fuzz_support.h"
#include "qovira/app/diagnosis/diagnosis.h"
#include "qovira/app/diagnosis/issues.h"
#include "qovira/table/mb.h"

using namespace qovira;

namespace {

Diagnosis diagnose_or_fail(ByteView bytes) {
  try {
    return diagnose(bytes);
  } catch (const std::exception& error) {
    fuzz::fail("diagnose never throws", error.what());
  } catch (...) {
    fuzz::fail("diagnose never throws");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Diagnosis diagnosis = diagnose_or_fail(ByteView(data, size));
  const IssueCounts counts = diagnosis.issues.counts();
  fuzz::check(diagnosis.importable == (counts.fatal == 0), "importable exactly without Fatal");
  fuzz::check(!diagnosis.importable || (diagnosis.mb && *diagnosis.mb && (*diagnosis.mb)->verified),
              "importable implies a proven .mb");
  if (diagnosis.mb && *diagnosis.mb && (*diagnosis.mb)->verified) {
    const auto table = read_mb((*diagnosis.mb)->bytes);
    fuzz::check(table && diagnosis.imported_entries == table->entries.size(),
                "imported_entries counts the table");
    fuzz::check(table && diagnosis.alphabet == table->alphabet, "alphabet is the table's");
  } else if (!diagnosis.mb) {
    fuzz::check(diagnosis.imported_entries == 0 && diagnosis.alphabet.empty(),
                "no figures without a table");
  }
  if (diagnosis.format == TableFormat::Mb || diagnosis.format == TableFormat::Unknown) {
    fuzz::check(diagnosis.body_rows == 0, "no body rows without a line scan");
  }
  for (std::size_t i = 0; i < diagnosis.issues.size(); ++i) {
    const Issue& issue = diagnosis.issues[i];
    fuzz::check(issue.kind != IssueKind::MbUnreadable && issue.kind != IssueKind::MbMismatch,
                "the .mb reads back unchanged", issue.message);
    fuzz::check(fuzz::is_valid_utf8(issue.message) && fuzz::is_valid_utf8(issue.advice),
                "issue texts are valid UTF-8", issue.message);
    if (i > 0) {
      const Issue& previous = diagnosis.issues[i - 1];
      fuzz::check(previous.severity < issue.severity ||
                      (previous.severity == issue.severity && previous.line <= issue.line),
                  "issues are sorted by severity, then line");
    }
  }
  const std::string report = render_report("fuzz.txt", diagnosis);
  fuzz::check(!report.empty() && report.back() == '\n', "the report ends with a line feed");
  fuzz::check(fuzz::is_valid_utf8(report), "the report is valid UTF-8");
  return 0;
}
