// For tests: a fresh directory under the system's temporary one, removed with the object, and
// whole-file helpers on names inside it.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <string_view>

#include "qovira/app/commands/files.h"

namespace qovira {

class ScratchDirectory {
 public:
  // Named after `prefix` and the running test, so leftovers say where they came from.
  explicit ScratchDirectory(std::string_view prefix)
      : root_(std::filesystem::temp_directory_path() /
              (std::string(prefix) + std::to_string(std::random_device{}()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name())) {
    std::filesystem::create_directories(root_);
  }
  ~ScratchDirectory() { std::filesystem::remove_all(root_); }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  const std::filesystem::path& root() const { return root_; }

  // The UTF-8 path of `name` inside the directory.
  std::string path(std::string_view name) const {
    return path_to_utf8(root_ / path_from_utf8(name));
  }

  // Writes `contents` to `name` inside the directory; returns its path.
  std::string write(std::string_view name, std::string_view contents) const {
    const std::string target = path(name);
    std::ofstream(path_from_utf8(target), std::ios::binary) << contents;
    return target;
  }

  // The bytes of any file, or "<unreadable>".
  static std::string contents(const std::string& file) {
    const auto bytes = read_file(path_from_utf8(file));
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string("<unreadable>");
  }

 private:
  std::filesystem::path root_;
};

}  // namespace qovira
