// The table of diagnosis findings in the user guide (docs/使用说明.md), made from the issue
// catalogue itself so that the guide shows exactly what the program says. Each finding is raised
// through its public factory with placeholder values; the meaning and the fix by hand are written
// here beside it.
//
//   make_findings_table                 print the table
//   make_findings_table --check GUIDE   exit 1 if the guide's table differs (a test runs this)
//   make_findings_table --write GUIDE   put the table into the guide
//
// The table stands in the guide between the FINDINGS_BEGIN and FINDINGS_END lines.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "qovira/app/diagnosis/issues.h"

namespace {

constexpr std::string_view FINDINGS_BEGIN =
    "<!-- 下面的表由 tools/make_findings_table.cpp 从程序的问题目录生成，请勿手改 -->";
constexpr std::string_view FINDINGS_END = "<!-- 生成的表到此为止 -->";
constexpr std::string_view USAGE =
    "用法：make_findings_table [--check 说明文件 | --write 说明文件]\n";

// Numbers the factories take, shown in the table as these placeholders.
constexpr std::uint64_t TOTAL = 900001;
constexpr std::uint64_t SHOWN = 900002;
constexpr std::uint64_t EARLIER_LINE = 900003;
constexpr std::uint64_t ANY_LINE = 1;

struct Finding {
  qovira::Issue issue;
  std::string_view meaning;
};

std::vector<Finding> findings() {
  using namespace qovira;
  return {
      {unreadable_text("{原因}"),
       "文件的字节既不是 UTF-8，也不是带 BOM 的 UTF-16，也不像 GBK/GB18030：多半是文件被压缩、"
       "截断，或者根本不是文本。手工修：确认选对了文件；是文本的话，用记事本打开，“另存为”时编码选 "
       "UTF-8。"},
      {unreadable_legacy_text("{原因}"),
       "文件是用 GBK/GB18030 保存的老码表，输入法不认这种编码。自动修复会把它转成 UTF-8 另存（只在"
       "文件确实不是 UTF-8 时才转）。手工修：用记事本打开，“另存为”时编码选 UTF-8。"},
      {unreadable_damaged_utf8("{原因}"),
       "文件大体是 UTF-8，只有个别字节坏了（多半是文件被截断，或者混进了别的编码的几个字）。"
       "自动修复不会把整份文件“转码”，只把含坏字节的行移出，并列出行号和坏字节。手工修：按行号找到"
       "这几行，重新输入那几个字。"},
      {mark_before_header("---"),
       "文件开头有 UTF-8 的 BOM（EF BB BF），第一行因此不再是 `---`（或 `[CODETABLEHEADER]`），"
       "输入法认不出头部。自动修复会去掉它。手工修：另存为不带 BOM 的 UTF-8。"},
      {missing_rime_header(),
       "文件有 `---` 开头，被当成 Rime 词典，但头部没有用独占一行的 `...` 结束，输入法找不到正文。"
       "自动修复只在头部设置结束的地方补一行 `...`，原有的设置都留着。手工修：在头部最后一行设置"
       "后面加一行 `...`，正文从下一行开始（建议里的 `---`、`name:`、`...` "
       "三行是最小的完整头部）。"},
      {import_failed("{原因}"),
       "输入法的导入器整份拒收了这个文件，{原因} 说明是哪一处（例如头部的设置写错、格式认不出）。"
       "手工修：按原因改正那一处；认不出格式时，先确认选对了文件。"},
      {importer_skipped(ANY_LINE, "{编码}", "{原因}"),
       "这一条在导入时会被丢掉，其余的照常导入。{原因} 说明丢掉的理由，例如编码里有码表字母表以外的"
       "字母、编码太长。手工修：按报告给的行号找到这一行，改正编码或者删掉这一行。"},
      {importer_skipped_summary(TOTAL, SHOWN),
       "被丢掉的条目太多，报告只列出前面一部分作样本。手工修：先按样本找出共同的原因改掉，"
       "再诊断一次。"},
      {missing_columns(ANY_LINE, "{这一行的开头}"),
       "这一行没有 Tab（制表符），词和编码之间是空格或者什么都没有，输入法认不出哪边是编码。"
       "自动修复在分得清哪段是词、哪段是编码时把空格换成 "
       "Tab，分不清就原样留给你。手工修：在词和编码之间放一个 Tab；注意有的编辑器会把 Tab "
       "自动换成空格。"},
      {empty_code_or_text(ANY_LINE),
       "这一行有 "
       "Tab，但编码或者词条是空的。自动修复会删掉这一行。手工修：补全缺的一边，或者删掉这一行。"},
      {bad_code_characters(ANY_LINE, "Wqvb", "你好", "W"),
       "编码里有大写字母。输入法的编码只认小写。自动修复会改成小写。手工修：把大写改成小写。"},
      {bad_code_characters(ANY_LINE, "wq，b", "你好", "，"),
       "编码里混进了全角标点（中文输入状态下打的 ，。；／）。自动修复会换成半角。手工修：换成半角的"
       " , . ; /。"},
      {bad_code_characters(ANY_LINE, "wq-b", "你好", "-"),
       "编码里有既不是小写字母、也不是 , . ; / "
       "和空格的字符（数字、星号、别的符号）。自动修复只在码表"
       "里同类词条的用码规律足够一致、能推断出正确编码时才改；推断不出时这一条从修复后的码表里移出"
       "，"
       "报告里列为“已移出”。手工修：对照词条改正编码。"},
      {duplicate_line(ANY_LINE, EARLIER_LINE, "{词条}", "{编码}"),
       "同一个词条配同一个编码出现了不止一次，导入时只留一条，不影响使用。自动修复会删掉后面的重复"
       "（后面那条权重更大时保留它，候选顺序不变）。手工修：删掉多余的那一行。"},
      {mb_build_failed("{原因}"),
       "码表能导入，但试着生成 .mb 时失败了，{原因} 说明是哪一条限制（例如条目太多、词条太长）。"
       "手工修：按原因删减或拆分码表。"},
      {mb_unreadable("{原因}"),
       "程序生成的 .mb 自己读不回来。这是程序的问题，不是码表的问题。请把报告发给开发者。"},
      {mb_mismatch("{差别}"),
       "程序生成的 .mb "
       "读回来和导入的内容不一样。这是程序的问题，不是码表的问题。请把报告发给开发者。"},
  };
}

void replace_all(std::string& text, std::string_view from, std::string_view to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
}

// A table cell: the placeholder numbers named, "|" escaped, an empty text as a dash.
std::string cell(std::string_view text) {
  std::string out(text);
  replace_all(out, std::to_string(TOTAL), "{总数}");
  replace_all(out, std::to_string(SHOWN), "{样本数}");
  replace_all(out, std::to_string(EARLIER_LINE), "{行号}");
  replace_all(out, "|", "\\|");
  return out.empty() ? "—" : out;
}

std::string findings_table() {
  std::string table =
      "| 级别 | 程序报告的问题 | 程序给的建议 | 是什么意思，怎样手工修 |\n|---|---|---|---|\n";
  for (const Finding& finding : findings()) {
    table += "| " + std::string(qovira::severity_label(finding.issue.severity)) + " | " +
             cell(finding.issue.message) + " | " + cell(finding.issue.advice) + " | " +
             cell(finding.meaning) + " |\n";
  }
  return table;
}

int fail(std::string_view what) {
  std::fprintf(stderr, "%.*s\n", static_cast<int>(what.size()), what.data());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string table = findings_table();
  if (argc == 1) {
    std::fwrite(table.data(), 1, table.size(), stdout);
    return 0;
  }
  const std::string_view mode = argv[1];
  if (argc != 3 || (mode != "--check" && mode != "--write")) {
    std::fwrite(USAGE.data(), 1, USAGE.size(), stderr);
    return 2;
  }
  const std::string path = argv[2];
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return fail("读不出说明文件：" + path);
  }
  std::string guide{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  const std::size_t begin = guide.find(FINDINGS_BEGIN);
  const std::size_t end = begin == std::string::npos ? begin : guide.find(FINDINGS_END, begin);
  if (end == std::string::npos) {
    return fail("说明文件里找不到生成的表的起止标记：" + path);
  }
  const std::size_t table_start = begin + FINDINGS_BEGIN.size() + 1;  // after the marker's line
  const std::string_view current(guide.data() + table_start, end - table_start);
  if (mode == "--check") {
    if (current != table) {
      return fail("说明文件里的问题表和程序的问题目录不一致；运行 make_findings_table --write " +
                  path + " 更新它。应当是：\n" + table);
    }
    return 0;
  }
  guide.replace(table_start, end - table_start, table);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << guide;
  return out.flush() ? 0 : fail("写不进说明文件：" + path);
}
