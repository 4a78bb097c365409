#include "qovira/app/commands/operations.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "qovira/app/commands/files.h"
#include "qovira/app/export/export.h"
#include "scratch_directory.h"

namespace qovira {
namespace {

// Writes every output into one directory under the name it is offered.
class ScratchOutputs : public OutputPlace {
 public:
  explicit ScratchOutputs(const ScratchDirectory& directory) : directory_(directory) {}

  std::optional<std::string> choose(OutputKind, std::string_view suggested_name) override {
    return directory_.path("out-" + std::string(suggested_name));
  }
  std::optional<std::string> refusal(const std::string&) override { return std::nullopt; }

 private:
  const ScratchDirectory& directory_;
};

ByteView bytes_of(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

SourceTable source_of(const ScratchDirectory& directory, std::string_view name,
                      std::string_view text) {
  const std::string path = directory.write(name, text);
  SourceTable source{path, Bytes(text.begin(), text.end()), {}};
  source.diagnosis = diagnose(source.bytes);
  return source;
}

constexpr RescuePolicy BATCH_POLICY{
    .export_source_when_unrepaired = true, .write_unverified = false, .diagnoses_keep_mb = false};
constexpr RescuePolicy WINDOW_POLICY{.export_source_when_unrepaired = false,
                                     .write_unverified = true,
                                     .name_after_repaired_file = true};

const std::string CLEAN = "---\nname: t\n...\n工\taaaa\t9\n式\taaaa\t3\n";
const std::string DAMAGED = CLEAN + "了 b\n工\taaaa\t9\n";

// A repair that changes no byte reuses the source's diagnosis and .mb; one that changes the text
// diagnoses it again. Either way the outputs are what the long way gives.
TEST(RescueTest, AnUnchangedTextExportsTheSourcesMbAndReportsItsDiagnosis) {
  for (const std::string& text : {CLEAN, DAMAGED}) {
    ScratchDirectory directory("qovira-rescue-");
    ScratchOutputs outputs(directory);
    SourceTable source = source_of(directory, "t.dict.yaml", text);
    const RescueOutcome outcome = rescue(source, outputs, BATCH_POLICY);
    ASSERT_TRUE(outcome.repair && *outcome.repair);
    const SavedRepair& saved = **outcome.repair;
    EXPECT_EQ(saved.result.text == text, text == CLEAN);

    const Diagnosis expected = diagnose(Bytes(saved.result.text.begin(), saved.result.text.end()));
    ASSERT_TRUE(expected.mb && *expected.mb);
    const ExportResult& expected_mb = **expected.mb;
    ASSERT_TRUE(outcome.exported && *outcome.exported);
    EXPECT_EQ((*outcome.exported)->exported.bytes, expected_mb.bytes);
    EXPECT_EQ((*outcome.exported)->exported.verdict, expected_mb.verdict);
    EXPECT_TRUE((*outcome.exported)->exported.verified);
    const auto written = read_file(path_from_utf8((*outcome.exported)->path));
    ASSERT_TRUE(written);
    EXPECT_EQ(*written, expected_mb.bytes);

    EXPECT_EQ(saved.recheck.issues, expected.issues);
    EXPECT_EQ(saved.recheck.imported_entries, expected.imported_entries);
    EXPECT_EQ(saved.recheck.importable, expected.importable);
    EXPECT_EQ(saved.recheck.alphabet, expected.alphabet);
  }
}

// Every .mb is built once, by the diagnosis of the text it comes from: the source's, and the
// repaired text's when the repair changed it. Exports write what the diagnoses built.
TEST(RescueTest, EveryMbIsBuiltOnce) {
  const auto mb_of = [](std::string_view text) {
    const Diagnosis diagnosis = diagnose(bytes_of(text));
    return std::string((*diagnosis.mb)->bytes.begin(), (*diagnosis.mb)->bytes.end());
  };
  struct Case {
    std::string_view name;
    std::string text;
    RescuePolicy policy;
    std::uint64_t builds;
  };
  const Case cases[] = {
      {"t.dict.yaml", CLEAN, BATCH_POLICY, 1},   {"t.dict.yaml", CLEAN, WINDOW_POLICY, 1},
      {"t.dict.yaml", DAMAGED, BATCH_POLICY, 2}, {"t.dict.yaml", DAMAGED, WINDOW_POLICY, 2},
      {"t.mb", mb_of(CLEAN), BATCH_POLICY, 1},  // no repair: the source's .mb is exported
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.name << " " << c.text.size() << " bytes, "
                                    << c.policy.export_source_when_unrepaired);
    ScratchDirectory directory("qovira-builds-");
    ScratchOutputs outputs(directory);
    const std::uint64_t before = mb_builds_started();
    SourceTable source = source_of(directory, c.name, c.text);
    const RescueOutcome outcome = rescue(source, outputs, c.policy);
    ASSERT_TRUE(outcome.exported && *outcome.exported);
    if (outcome.repair && *outcome.repair) {
      ASSERT_TRUE(export_and_save((*outcome.repair)->recheck, source.path, false, outputs));
    }
    EXPECT_EQ(mb_builds_started() - before, c.builds);
  }
}

TEST(ConvertAndSave, WritesOnlyAProvenText) {
  ScratchDirectory directory("qovira-convert-");
  ScratchOutputs outputs(directory);
  const std::string rime = "---\nname: t\n...\n甲\ta\t9\n乙\ta\t3\n分号\tb;\n";
  auto saved = convert_and_save("t.dict.yaml", bytes_of(rime), TableFormat::Bingling, outputs);
  ASSERT_FALSE(saved);
  EXPECT_EQ(saved.error().kind, StepFailureKind::BuildFailed);
  EXPECT_FALSE(read_file(path_from_utf8(directory.path("out-t.txt"))));

  saved = convert_and_save("t.dict.yaml", bytes_of("notes\n"), TableFormat::Bingling, outputs);
  ASSERT_FALSE(saved);
  EXPECT_EQ(saved.error().kind, StepFailureKind::NothingToExport);

  saved = convert_and_save("t.dict.yaml", bytes_of(rime), TableFormat::Rime, outputs);
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->path, directory.path("out-t.dict.yaml"));
  const auto written = read_file(path_from_utf8(saved->path));
  ASSERT_TRUE(written);
  EXPECT_EQ(std::string(written->begin(), written->end()), saved->converted.text);
}

}  // namespace
}  // namespace qovira
