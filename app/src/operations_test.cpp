#include "qovira/app/operations.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>

#include "qovira/app/files.h"
#include "scratch_directory.h"

namespace qovira {
namespace {

// Writes every output into one directory under the name it is offered.
class ScratchOutputs : public OutputPlace {
 public:
  explicit ScratchOutputs(const ScratchDirectory& directory) : directory_(directory) {}

  std::optional<std::string> choose(OutputKind, std::string_view suggested_name) override {
    return directory_.path(suggested_name);
  }
  std::optional<std::string> refusal(const std::string&) override { return std::nullopt; }

 private:
  const ScratchDirectory& directory_;
};

SourceTable source_of(const ScratchDirectory& directory, std::string_view name,
                      std::string_view text) {
  const std::string path = directory.write(name, text);
  SourceTable source{path, Bytes(text.begin(), text.end()), {}};
  source.diagnosis = diagnose(source.bytes);
  return source;
}

constexpr RescuePolicy BATCH_POLICY{
    .export_source_when_unrepaired = true, .write_unverified = false, .recheck_keeps_table = false};

// A repair that changes no byte reuses the source's diagnosis and .mb; one that changes the text
// diagnoses it again. Either way the outputs are what the long way gives.
TEST(RescueTest, AnUnchangedTextExportsTheSourcesMbAndReportsItsDiagnosis) {
  const std::string clean = "---\nname: t\n...\n工\taaaa\t9\n式\taaaa\t3\n";
  const std::string damaged = clean + "了 b\n工\taaaa\t9\n";
  for (const std::string& text : {clean, damaged}) {
    ScratchDirectory directory("qovira-rescue-");
    ScratchOutputs outputs(directory);
    SourceTable source = source_of(directory, "t.dict.yaml", text);
    const RescueOutcome outcome = rescue(source, outputs, BATCH_POLICY);
    ASSERT_TRUE(outcome.repair && *outcome.repair);
    const SavedRepair& saved = **outcome.repair;
    EXPECT_EQ(saved.result.text == text, text == clean);

    const Diagnosis expected = diagnose(Bytes(saved.result.text.begin(), saved.result.text.end()));
    const auto expected_mb = export_mb(*expected.table);
    ASSERT_TRUE(expected_mb);
    ASSERT_TRUE(outcome.exported && *outcome.exported);
    EXPECT_EQ((*outcome.exported)->exported.bytes, expected_mb->bytes);
    EXPECT_EQ((*outcome.exported)->exported.verdict, expected_mb->verdict);
    EXPECT_TRUE((*outcome.exported)->exported.verified);
    const auto written = read_file(path_from_utf8((*outcome.exported)->path));
    ASSERT_TRUE(written);
    EXPECT_EQ(*written, expected_mb->bytes);

    EXPECT_EQ(saved.recheck.issues, expected.issues);
    EXPECT_EQ(saved.recheck.imported_entries, expected.imported_entries);
    EXPECT_EQ(saved.recheck.importable, expected.importable);
    EXPECT_EQ(saved.recheck.alphabet, expected.alphabet);
  }
}

}  // namespace
}  // namespace qovira
