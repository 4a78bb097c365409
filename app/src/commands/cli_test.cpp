#include "qovira/app/commands/cli.h"

#include <gtest/gtest.h>

#include "qovira/app/version.h"

namespace qovira {
namespace {

Invocation parse(std::vector<std::string> arguments) {
  return parse_arguments(arguments);
}

BatchInvocation batch(BatchMode mode, std::vector<std::string> files,
                      std::optional<std::string> out_dir = std::nullopt) {
  return {std::move(files), std::move(out_dir), mode};
}

TEST(ParseArguments, WithoutModeOpensTheWindowWithTheFirstFile) {
  EXPECT_EQ(parse({}), Invocation{WindowInvocation{}});
  EXPECT_EQ(parse({"a.yaml", "b.yaml"}), Invocation{WindowInvocation{"a.yaml"}});
  EXPECT_EQ(parse({"--out", "dir", "a.yaml"}), Invocation{WindowInvocation{"a.yaml"}});
}

TEST(ParseArguments, ModesMayStandAnywhereAndTheLastWins) {
  EXPECT_EQ(parse({"a.yaml", "--check"}), Invocation{batch(BatchMode::Check, {"a.yaml"})});
  EXPECT_EQ(parse({"--check", "--fix", "a.yaml"}), Invocation{batch(BatchMode::Fix, {"a.yaml"})});
  EXPECT_EQ(parse({"--report", "a", "--export-mb", "", "--rescue"}),
            Invocation{batch(BatchMode::Rescue, {"a", ""})});
  EXPECT_EQ(parse({"--to-bingling", "a", "--to-rime"}),
            Invocation{batch(BatchMode::ToRime, {"a"})});
  EXPECT_EQ(parse({"a", "--to-bingling"}), Invocation{batch(BatchMode::ToBingling, {"a"})});
}

TEST(ParseArguments, OutConsumesTheNextArgumentAndResetsWhenLast) {
  EXPECT_EQ(parse({"--fix", "--out", "--check", "a"}),
            Invocation{batch(BatchMode::Fix, {"a"}, "--check")});
  EXPECT_EQ(parse({"--check", "--out", "x", "a", "--out"}),
            Invocation{batch(BatchMode::Check, {"a"})});
  EXPECT_EQ(parse({"--check", "--out", "", "a"}), Invocation{batch(BatchMode::Check, {"a"}, "")});
}

TEST(ParseArguments, HelpUnknownOptionsAndMissingFilesGiveUsage) {
  for (const auto& arguments : std::vector<std::vector<std::string>>{{"--check"},
                                                                     {"--help", "a"},
                                                                     {"-h"},
                                                                     {"/?", "a"},
                                                                     {"--Check", "a"},
                                                                     {"-x", "a"},
                                                                     {"-", "a"},
                                                                     {"--out=dir", "a"},
                                                                     {"a", "--check", "-v"}}) {
    EXPECT_EQ(parse(arguments), Invocation{UsageInvocation{}}) << arguments.front();
  }
  EXPECT_EQ(parse({"--check", "/x"}), Invocation{batch(BatchMode::Check, {"/x"})});
}

TEST(ParseArguments, VersionAnywhereGivesTheVersionUnlessHelpCameFirst) {
  EXPECT_EQ(parse({"--version"}), Invocation{VersionInvocation{}});
  EXPECT_EQ(parse({"--check", "a", "--version", "--help"}), Invocation{VersionInvocation{}});
  EXPECT_EQ(parse({"-h", "--version"}), Invocation{UsageInvocation{}});
  EXPECT_EQ(VERSION_LINE, "QoviraTableTool " QOVIRA_VERSION_TEXT);
}

TEST(UsageText, IsEighteenLinesOf1182Bytes) {
  EXPECT_EQ(USAGE_TEXT.size(), 1182u);
  EXPECT_EQ(std::count(USAGE_TEXT.begin(), USAGE_TEXT.end(), '\n'), 18);
  EXPECT_TRUE(USAGE_TEXT.starts_with("岚栖输入法编码导入器 —— 诊断 / 修复 / 转 .mb\n\n用法：\n"));
}

TEST(OutputNaming, StemDropsTheLastExtensionAndEveryTrailingDict) {
  EXPECT_EQ(repaired_file_name("wubi.dict.yaml"), "wubi.repaired.yaml");
  EXPECT_EQ(mb_file_name("wubi.dict.yaml"), "wubi.mb");
  EXPECT_EQ(repaired_file_name("a.dict.dict.txt"), "a.repaired.txt");
  EXPECT_EQ(repaired_file_name("table.txt"), "table.repaired.txt");
  EXPECT_EQ(repaired_file_name("codes"), "codes.repaired.yaml");
  EXPECT_EQ(repaired_file_name("x.DICT.yaml"), "x.DICT.repaired.yaml");
  EXPECT_EQ(repaired_file_name("foo."), "foo.repaired.");
  EXPECT_EQ(repaired_file_name(".hidden"), ".hidden.repaired.yaml");
  EXPECT_EQ(repaired_file_name("dir/sub/码表.dict.yaml"), "码表.repaired.yaml");
  EXPECT_EQ(mb_file_name(".."), "table.mb");
  EXPECT_EQ(mb_file_name(""), "table.mb");
  EXPECT_EQ(mb_file_name(".dict.yaml"), "table.mb");
  EXPECT_EQ(rime_file_name("dir/wubi.dict.yaml"), "wubi.dict.yaml");
  EXPECT_EQ(bingling_file_name("wubi.mb"), "wubi.txt");
}

TEST(OutputNaming, DirectoryIsTheOutDirOrTheSourcesOwn) {
  EXPECT_EQ(output_path("wubi.dict.yaml", std::nullopt, "wubi.mb"), "wubi.mb");
  EXPECT_EQ(output_path("dir/sub/wubi.dict.yaml", std::nullopt, "wubi.mb"), "dir/sub/wubi.mb");
  EXPECT_EQ(output_path("/wubi.yaml", std::nullopt, "wubi.mb"), "/wubi.mb");
  EXPECT_EQ(output_path("dir/wubi.yaml", std::string("out"), "wubi.mb"), "out/wubi.mb");
  EXPECT_EQ(output_path("dir/wubi.yaml", std::string("out/"), "wubi.mb"), "out/wubi.mb");
  EXPECT_EQ(output_path("dir/wubi.yaml", std::string(""), "wubi.mb"), "wubi.mb");
  EXPECT_EQ(output_path("/", std::nullopt, "table.mb"), "./table.mb");
}

TEST(FileNameOf, LastComponentOrThePathItself) {
  EXPECT_EQ(file_name_of("dir/a.yaml"), "a.yaml");
  EXPECT_EQ(file_name_of("dir/a.yaml/"), "a.yaml");
  EXPECT_EQ(file_name_of("dir/.."), "dir/..");
  EXPECT_EQ(file_name_of(""), "");
}

}  // namespace
}  // namespace qovira
