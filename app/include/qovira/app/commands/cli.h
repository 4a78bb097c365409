// The command line: invocations, the usage text and the names of output files.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace qovira {

enum class BatchMode : std::uint8_t { Check, Report, Fix, ExportMb, Rescue, ToRime, ToBingling };

struct WindowInvocation {
  std::optional<std::string> file;
  friend bool operator==(const WindowInvocation&, const WindowInvocation&) = default;
};

struct BatchInvocation {
  std::vector<std::string> files;
  std::optional<std::string> out_dir;
  BatchMode mode = BatchMode::Check;
  friend bool operator==(const BatchInvocation&, const BatchInvocation&) = default;
};

struct UsageInvocation {
  friend bool operator==(const UsageInvocation&, const UsageInvocation&) = default;
};

struct VersionInvocation {
  friend bool operator==(const VersionInvocation&, const VersionInvocation&) = default;
};

using Invocation =
    std::variant<WindowInvocation, BatchInvocation, UsageInvocation, VersionInvocation>;

// Arguments as UTF-8, without the program name.
Invocation parse_arguments(std::span<const std::string> arguments);

// The sixteen lines of the usage text, each ending in a line feed. Printed followed by one more.
extern const std::string_view USAGE_TEXT;

// What --version prints, followed by a line feed: the program's name and version.
extern const std::string_view VERSION_LINE;

// Output naming from a source path (UTF-8). The stem is the last component without its last
// extension, with every trailing ".dict" removed ("table" when there is none); the extension is the
// last one without its dot ("yaml" when there is none).
std::string output_stem(std::string_view source_path);
std::string output_extension(std::string_view source_path);
std::string repaired_file_name(std::string_view source_path);
std::string mb_file_name(std::string_view source_path);
std::string rime_file_name(std::string_view source_path);      // "{stem}.dict.yaml"
std::string bingling_file_name(std::string_view source_path);  // "{stem}.txt"
std::string repair_report_file_name(std::string_view source_path);

// The output directory (as given) or the source's own directory, joined with the file name.
std::string output_path(std::string_view source_path, const std::optional<std::string>& out_dir,
                        std::string_view file_name);

// The last component of a path, or the path itself when it has none.
std::string file_name_of(std::string_view path);

}  // namespace qovira
