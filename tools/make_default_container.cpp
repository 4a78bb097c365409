// Generates table/data/default_container.bin, the header-and-index image every written .mb starts
// from: a Wubi table built from Debian's rime-data-wubi dictionary, cut after its prefix index,
// with the header values of the classic 极点 Wubi container.
//
// Regenerate with (from the source root, with a build directory "build"):
//   (cd /tmp && apt-get download rime-data-wubi && dpkg-deb -x rime-data-wubi_*.deb rime-data-wubi)
//   dict=/tmp/rime-data-wubi/usr/share/rime-data/wubi86.dict.yaml
//   cmake --build build --target make_default_container
//   build/tools/make_default_container "$dict" table/data/default_container.bin
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "qovira/table/decoding.h"
#include "qovira/table/import.h"
#include "qovira/table/mb.h"

namespace {

constexpr std::string_view USAGE = "用法：make_default_container <wubi86.dict.yaml> <输出文件>\n";
constexpr std::string_view CANNOT_READ = "读不出来：";
constexpr std::string_view CANNOT_WRITE = "写不进去：";
constexpr std::string_view IMPORT_FAILED = "导入失败：";
constexpr std::string_view BUILD_FAILED = "生成失败：";

constexpr std::string_view MAGIC_AND_VERSION = "Freeime Dictionary V6.3";
constexpr std::string_view DESCRIPTION =
    "五笔字型极爽词库4.3版 for 极点五笔UniCode版本\r\n生成日期:2011-12-27 14:53";
constexpr std::string_view ALPHABET = "abcdefghijklmnopqrstuvwxyz/";

int fail(std::string_view what, std::string_view detail) {
  std::fprintf(stderr, "%.*s%.*s\n", static_cast<int>(what.size()), what.data(),
               static_cast<int>(detail.size()), detail.data());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fputs(USAGE.data(), stderr);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    return fail(CANNOT_READ, argv[1]);
  }
  const std::string file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  const qovira::ByteView file_bytes(reinterpret_cast<const std::uint8_t*>(file.data()),
                                    file.size());
  auto text = qovira::decode_text(file_bytes);
  if (!text) {
    return fail(IMPORT_FAILED, text.error().message());
  }
  auto imported = qovira::import_rime(*text);
  if (!imported) {
    return fail(IMPORT_FAILED, imported.error().message());
  }
  qovira::CodeTable table = std::move(imported->code_table);
  table.description = DESCRIPTION;
  table.alphabet = ALPHABET;
  table.phrase_rules = {std::string(qovira::DEFAULT_PHRASE_RULE)};

  // Only the magic and version text of a container reach the output.
  qovira::Bytes bare(qovira::MB_RECORDS_OFFSET, 0);
  std::copy(MAGIC_AND_VERSION.begin(), MAGIC_AND_VERSION.end(), bare.begin());
  auto built = qovira::build_mb(table, bare);
  if (!built) {
    return fail(BUILD_FAILED, built.error().message());
  }
  built->resize(qovira::MB_RECORDS_OFFSET);

  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(built->data()),
            static_cast<std::streamsize>(built->size()));
  out.close();
  if (!out) {
    return fail(CANNOT_WRITE, argv[2]);
  }
  return 0;
}
