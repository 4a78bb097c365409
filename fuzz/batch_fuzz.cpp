// The whole --rescue pipeline on one file holding the input, through the real file access: the run
// ends with its tally, never writes an unverified .mb, leaves no temporary file, never touches the
// source, and every .mb it writes reads back.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "qovira/app/commands/batch.h"
#include "qovira/app/commands/files.h"
#include "qovira/table/mb.h"
#include "qovira/table/utf8.h"

using namespace qovira;
namespace fs = std::filesystem;

namespace {

// The full repair report a rescue saves beside the repaired text.
const std::string REPAIR_REPORT = "table-修复报告.txt";

// One scratch folder per fuzzing process, in memory when the system offers it. Kept alive until
// exit (never destroyed) so the exit handler can still remove it.
const fs::path& scratch() {
  static const fs::path* const folder = [] {
    const fs::path base =
        fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    auto* made = new fs::path(base / ("qovira-batch-fuzz-" + std::to_string(getpid())));
    fs::create_directories(*made / "out");
    return made;
  }();
  static const bool cleanup_registered = [] {
    std::atexit([] {
      std::error_code ignored;
      fs::remove_all(*folder, ignored);
    });
    return true;
  }();
  (void)cleanup_registered;
  return *folder;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fs::path source = scratch() / "table.dict.yaml";
  const fs::path out = scratch() / "out";
  const ByteView input(data, size);
  fuzz::check(write_file_atomically(source, input).has_value(), "the source can be written");

  std::ostringstream lines;
  const std::vector<std::string> files{path_to_utf8(source)};
  const int code = run_batch(BatchMode::Rescue, files, path_to_utf8(out), lines);
  const std::string output = lines.str();

  fuzz::check(code == 0 || code == 1, "the exit code is 0 or 1");
  const std::string tally = "共 1 份，" + std::to_string(code) + " 份有问题\n";
  fuzz::check(output.ends_with(tally), "the run ends with its tally", output);
  // Every line of the run starts after a line feed; text from the file never holds one, so these
  // searches cannot be fooled by the file's own content echoed in a message.
  fuzz::check(output.find("\n     !! 导出失败：回读没通过") == std::string::npos,
              "every export verifies", output);
  fuzz::check(fuzz::is_valid_utf8(output), "the output is valid UTF-8");
  // Nothing from the file can drive a terminal: no control but the line feed and the tab, no C1
  // control, no bidirectional embedding, override or isolate.
  for (std::size_t pos = 0; pos < output.size();) {
    const std::size_t start = pos;
    const char32_t c = next_char(output, pos);
    const bool control = (c < 0x20 && c != U'\n' && c != U'\t') || (c >= 0x7F && c <= 0x9F) ||
                         (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
    fuzz::check(!control, "no control character reaches the output", output.substr(start, 16));
  }

  auto source_after = read_file(source);
  fuzz::check(source_after && ByteView(*source_after).size() == size &&
                  std::equal(source_after->begin(), source_after->end(), data),
              "the source is never modified");

  const fs::path mb = out / "table.mb";
  const bool exported = output.find("\n     导出 ") != std::string::npos;
  fuzz::check(exported == fs::exists(mb), "a .mb is written exactly when the export says so",
              output);
  if (exported) {
    auto mb_bytes = read_file(mb);
    fuzz::check(mb_bytes && read_mb(*mb_bytes).has_value(), "the written .mb reads back");
  }
  for (const auto& entry : fs::directory_iterator(out)) {
    const std::string name = entry.path().filename().string();
    fuzz::check(name == "table.mb" || name == "table.repaired.yaml" || name == REPAIR_REPORT,
                "no stray files are left", name);
  }
  std::error_code ignored;
  fs::remove(mb, ignored);
  fs::remove(out / "table.repaired.yaml", ignored);
  fs::remove(out / path_from_utf8(REPAIR_REPORT), ignored);
  return 0;
}
