#include "recfiles/settings_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/test_support.h"

namespace quillmere {
namespace {

using namespace std::string_literals;
using ::quillmere::testing::TempDir;
using ::quillmere::testing::WriteFile;
using ::testing::IsEmpty;

using Values = std::map<std::string, std::string>;
using Problems = std::vector<std::pair<int, std::string>>;  // line, text

Problems LinesOf(const SettingsSection& section) {
  Problems out;
  for (const SettingsProblem& p : section.problems) out.emplace_back(p.line, p.text);
  return out;
}

TEST(ReadSettingsSection, ReadsEachLineByTheRules) {
  const std::string long_value(300, 'v');
  const struct {
    std::string content;
    Values want;
    Problems problems;
  } kCases[] = {
      {"", {}, {}},
      // ';' and '#' inside a value are part of it; whole comment lines are not keys.
      {"; site\n# site\n[VelfilesNdx]\n  ; indented comment\nmdbpass=abc ;def\n"
       "mdbuser=u#1 # two\n",
       {{"mdbpass", "abc ;def"}, {"mdbuser", "u#1 # two"}},
       {}},
      // One pair of the same quotation mark goes, only around a value of 2 or more; blanks
      // around the value go first, blanks inside the quotes stay.
      {"[VelfilesNdx]\nd = \"double\" \ns='single'\nm=\"mixed'\nlone=\"\nsq='\nempty=\"\"\n"
       "inner=\" padded \"\nthree=\"a\"b\"\nhalf=x\"\n",
       {{"d", "double"},
        {"s", "single"},
        {"m", "\"mixed'"},
        {"lone", "\""},
        {"sq", "'"},
        {"empty", ""},
        {"inner", " padded "},
        {"three", "a\"b"},
        {"half", "x\""}},
       {}},
      // An indented line is a key of its own, not the rest of the line before.
      {"[VelfilesNdx]\nmdbuser=u\n  mdbpass=p\n\tmdbbase = b\n",
       {{"mdbuser", "u"}, {"mdbpass", "p"}, {"mdbbase", "b"}},
       {}},
      {"[VelfilesNdx]\ndatapath=" + long_value + "\n", {{"datapath", long_value}}, {}},
      // A repeated key, also under a second header of the section: the first counts.
      {"[VelfilesNdx]\nmdbbase=First\nMDBBASE=Second\n[Other]\n[velfilesndx]\nmdbbase=Third\n"
       "mdbuser=later\n",
       {{"mdbbase", "First"}, {"mdbuser", "later"}},
       {}},
      {"\xEF\xBB\xBF[VelfilesNdx]\nmdbuser=u\n", {{"mdbuser", "u"}}, {}},
      {"[VelfilesNdx]\r\nmdbuser=u\r\n\r\nmdbpass=\"p\"\r\nmdbbase=\r\n",
       {{"mdbuser", "u"}, {"mdbpass", "p"}, {"mdbbase", ""}},
       {}},
      // The last line needs no line end; a lone CR inside a line is data.
      {"[VelfilesNdx]\nmdbpass=a\rb\nmdbuser=u", {{"mdbpass", "a\rb"}, {"mdbuser", "u"}}, {}},
      // Bytes stay as they are: no encoding is assumed.
      {"[VelfilesNdx]\nmdbpass=p\xE9\0x\n"s, {{"mdbpass", "p\xE9\0x"s}}, {}},
      // Section and key names in any letter case; headers with blanks and a comment.
      {"[VELFILESNDX]\nMdbUser=u\n", {{"mdbuser", "u"}}, {}},
      {"  [ velfilesndx ]  ; the site\nmdbuser=u\n", {{"mdbuser", "u"}}, {}},
      {"[VelfilesNdx]# the site\nmdbuser=u\n", {{"mdbuser", "u"}}, {}},
      // Keys before the first header and in other sections are not ours.
      {"mdbuser=early\n[Other]\nmdbpass=other\n[VelfilesNdx]\nmdbbase=b\n[Later]\nmdbserv=s\n",
       {{"mdbbase", "b"}},
       {}},
      // Lines that are not settings are reported with their number and the rest still counts:
      // a broken header neither ends the section before it nor opens one.
      {"[VelfilesNdx]\nmdbuser: loader\nmdbpass=p\n[unclosed\nmdbbase=b\n= nameless\n"
       "[]\n[VelfilesNdx] mdbserv=s\n[Other]x\n  just words\r\nmdbserv=s2\n",
       {{"mdbpass", "p"}, {"mdbbase", "b"}, {"mdbserv", "s2"}},
       {{2, "mdbuser: loader"},
        {4, "[unclosed"},
        {6, "= nameless"},
        {7, "[]"},
        {8, "[VelfilesNdx] mdbserv=s"},
        {9, "[Other]x"},
        {10, "  just words"}}},
      // Reported wherever they are in the file, numbered from the file's first line.
      {"\xEF\xBB\xBFwhat is this\n[Other]\nkey value\n",
       {},
       {{1, "what is this"}, {3, "key value"}}},
      {"[Other]\nx=1\n[VelfilesNdx\nmdbuser=u\n", {}, {{3, "[VelfilesNdx"}}},
  };
  for (const auto& c : kCases) {
    TempDir dir;
    const std::string path = dir.File("VELFILES.ini");
    WriteFile(path, c.content);
    const SettingsSection got = ReadSettingsSection(path, kSiteSettingsSection);
    EXPECT_TRUE(got.file_read) << c.content;
    EXPECT_EQ(got.values, c.want) << c.content;
    EXPECT_EQ(LinesOf(got), c.problems) << c.content;
    for (const SettingsProblem& p : got.problems) EXPECT_EQ(p.path, path);
  }
}

TEST(ReadSettingsSection, GetMatchesNamesInAnyCase) {
  TempDir dir;
  const std::string path = dir.File("VELFILES.ini");
  WriteFile(path, "[VelfilesNdx]\nDataPath=\"ndx\"\nmdbpass=\n");
  const SettingsSection got = ReadSettingsSection(path, "VELFILESNDX");
  EXPECT_EQ(got.Get("datapath"), "ndx");
  EXPECT_EQ(got.Get("DATAPATH"), "ndx");
  EXPECT_EQ(got.Get("mdbpass"), "");  // there, but empty
  EXPECT_EQ(got.Get("mdbuser"), std::nullopt);
}

TEST(ReadSettingsSection, AFileThatCannotBeReadGivesNothing) {
  TempDir dir;
  std::filesystem::create_directories(dir.path() / "folder.ini");
  const std::string fifo = dir.File("fifo.ini");  // no writer: reading it would wait forever
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const std::string& path : {dir.File("missing.ini"), dir.File("folder.ini"), fifo}) {
    const SettingsSection got = ReadSettingsSection(path, kSiteSettingsSection);
    EXPECT_FALSE(got.file_read) << path;
    EXPECT_THAT(got.values, IsEmpty()) << path;
    EXPECT_THAT(got.problems, IsEmpty()) << path;
  }
}

TEST(SettingsProblem, MessageNamesFileLineAndText) {
  EXPECT_EQ((SettingsProblem{"/site/VELFILES.ini", 3, "mdbuser: loader"}.Message()),
            "/site/VELFILES.ini line 3 is not a setting and was ignored: mdbuser: loader");
  // Control characters cannot reach a terminal or a message box as they are.
  EXPECT_EQ((SettingsProblem{"s.ini", 12, "a\x1b[2J\tb\0c\x7f\xE9"s}.Message()),
            "s.ini line 12 is not a setting and was ignored: a\\x1B[2J\tb\\x00c\\x7F\xE9");
}

}  // namespace
}  // namespace quillmere
