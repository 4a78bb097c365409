// Test-only: real dictionaries from Debian packages, fetched with apt-get download and unpacked
// with dpkg-deb once per machine (cached under the temp directory). Tests skip when this fails.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

namespace qovira::test_data {

// The file at `path_in_package` (such as "usr/share/rime-data/wubi86.dict.yaml") inside the named
// Debian package, or nothing when the package cannot be fetched.
inline std::optional<std::filesystem::path> debian_package_file(std::string_view package,
                                                                std::string_view path_in_package) {
  namespace fs = std::filesystem;
  // The name goes into a shell command.
  const bool plain_name = !package.empty() && std::ranges::all_of(package, [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.';
  });
  if (!plain_name) {
    return std::nullopt;
  }
  std::error_code error;
  const fs::path cache_root = fs::temp_directory_path(error) / "qovira-test-data";
  const fs::path unpacked = cache_root / package;
  const fs::path wanted = unpacked / path_in_package;
  if (fs::is_regular_file(wanted, error)) {
    return wanted;
  }
  // Unpack privately, then move into place whole, so parallel test processes never see half a tree.
  const fs::path work = cache_root / (std::string(package) + ".fetch-" + std::to_string(getpid()));
  fs::remove_all(work, error);
  fs::create_directories(work, error);
  const std::string name(package);
  const std::string command = "cd '" + work.string() + "' && apt-get download " + name +
                              " >/dev/null 2>&1 && dpkg-deb -x " + name +
                              "_*.deb tree >/dev/null 2>&1";
  if (std::system(command.c_str()) == 0 && fs::is_regular_file(work / "tree" / path_in_package)) {
    fs::rename(work / "tree", unpacked, error);  // fails harmlessly when another process won
  }
  fs::remove_all(work, error);
  if (fs::is_regular_file(wanted, error)) {
    return wanted;
  }
  return std::nullopt;
}

// Debian's rime-data-wubi dictionary: about 136,000 lines, columns text/code/weight/stem.
inline std::optional<std::filesystem::path> wubi86_dict_path() {
  return debian_package_file("rime-data-wubi", "usr/share/rime-data/wubi86.dict.yaml");
}

inline std::string read_file_bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace qovira::test_data
