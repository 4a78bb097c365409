#include "qovira/table/table_text.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace qovira {
namespace {

// Reads a whole table and answers for one of its lines, as the importers, the line scan and the
// repair all see it.
class TableTextTest : public ::testing::Test {
 protected:
  const TextLine& Read(TableFormat format, std::string text, std::uint64_t line_number) {
    text_ = std::move(text);
    lines_.clear();
    table_ = TableText::read(text_, format);
    table_.for_each_line([this](const TextLine& line) { lines_.push_back(line); });
    for (const TextLine& line : lines_) {
      if (line.number == line_number) {
        return line;
      }
    }
    ADD_FAILURE() << "no line " << line_number << " in " << text_;
    return lines_.front();
  }
  LineKind Kind(TableFormat format, std::string text, std::uint64_t line_number) {
    return Read(format, std::move(text), line_number).kind;
  }

  static constexpr std::string_view RIME = "# comment\n---\nname: t\n...\n";
  static constexpr std::string_view BINGLING = "[CODETABLEHEADER]\nName=t\n[CODETABLE]\n";

 private:
  std::string text_;
  TableText table_ = TableText::read("", TableFormat::Rime);
  std::vector<TextLine> lines_;
};

TEST_F(TableTextTest, Header) {
  EXPECT_EQ(Kind(TableFormat::Rime, std::string(RIME) + "工\taaaa\n", 3), LineKind::Header);
  EXPECT_EQ(Kind(TableFormat::Bingling, "before\n" + std::string(BINGLING), 1), LineKind::Header);
}

TEST_F(TableTextTest, Setting) {
  EXPECT_EQ(Kind(TableFormat::Bingling, std::string(BINGLING), 2), LineKind::Setting);
}

TEST_F(TableTextTest, Section) {
  EXPECT_EQ(Kind(TableFormat::Bingling, std::string(BINGLING), 1), LineKind::Section);
  EXPECT_EQ(Kind(TableFormat::Bingling, std::string(BINGLING), 3), LineKind::Section);
}

TEST_F(TableTextTest, Comment) {
  EXPECT_EQ(Kind(TableFormat::Rime, std::string(RIME) + "# x\n", 5), LineKind::Comment);
  EXPECT_EQ(Kind(TableFormat::Bingling, std::string(BINGLING) + ";x\n", 4), LineKind::Comment);
}

TEST_F(TableTextTest, Blank) {
  EXPECT_EQ(Kind(TableFormat::Rime, std::string(RIME) + " \t\r\n", 5), LineKind::Blank);
  EXPECT_EQ(Kind(TableFormat::Bingling, std::string(BINGLING) + "\u3000\n", 4), LineKind::Blank);
}

TEST_F(TableTextTest, Entry) {
  const TextLine& rime = Read(TableFormat::Rime, std::string(RIME) + "工作\taawt\t80\r\n", 5);
  EXPECT_EQ(rime.kind, LineKind::Entry);
  EXPECT_EQ(rime.text, "工作");
  EXPECT_EQ(rime.code, "aawt");
  EXPECT_EQ(rime.weight, "80");
  const TextLine& pinned = Read(TableFormat::Bingling, std::string(BINGLING) + "aawt*\t工作\n", 4);
  EXPECT_EQ(pinned.kind, LineKind::Entry);
  EXPECT_EQ(pinned.code, "aawt");
  EXPECT_TRUE(pinned.pinned);
  EXPECT_EQ(code_as_written(pinned), "aawt*");
}

TEST_F(TableTextTest, Malformed) {
  EXPECT_EQ(Kind(TableFormat::Rime, std::string(RIME) + "工作 aawt\n", 5), LineKind::Malformed);
  EXPECT_EQ(Kind(TableFormat::Bingling, std::string(BINGLING) + "aawt\n", 4), LineKind::Malformed);
}

TEST_F(TableTextTest, ColumnsFollowTheHeader) {
  const std::string text = "---\ncolumns:\n  - code\n  - text\n...\naawt\t工作\n";
  const TextLine& line = Read(TableFormat::Rime, text, 6);
  EXPECT_EQ(line.text, "工作");
  EXPECT_EQ(line.code, "aawt");
}

}  // namespace
}  // namespace qovira
