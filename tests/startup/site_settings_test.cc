#include "startup/site_settings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/test_support.h"

namespace quillmere {
namespace {

using ::testing::IsEmpty;

struct Want {
  std::string_view serv = "localhost", user = "root", pass = "rezoreza", base = "Pellam";
  int port = 3306;
};

TEST(ReadSiteSettings, ReadsTheSectionWithDefaults) {
  const struct {
    std::string content;  // "-": no file at all
    Want want;
  } kCases[] = {
      {"-", {}},
      {"", {}},
      {"[VelfilesNdx]\r\nmdbbase=Agency7\r\n", {.base = "Agency7"}},
      {"[VelfilesNdx]\nmdbserv=db.example\nmdbuser=loader\nmdbpass=s3cret\nmdbbase=Acct\n"
       "mdbport=3307\n",
       {"db.example", "loader", "s3cret", "Acct", 3307}},
      // Section and key names in any case.
      {"[VELFILESNDX]\nMDBBASE=Upper\nMdbUser=Mixed\n", {.user = "Mixed", .base = "Upper"}},
      // Blanks and one pair of quotation marks around a value go.
      {"[VelfilesNdx]\nmdbbase =  \"Quoted Name\"  \nmdbpass='pa ss'\nmdbuser=\"x\n",
       {.user = "\"x", .pass = "pa ss", .base = "Quoted Name"}},
      // Keys of other sections are not ours.
      {"[Other]\nmdbbase=Wrong\n[VelfilesNdx]\nmdbuser=u1\n[Later]\nmdbuser=u2\n", {.user = "u1"}},
      // A key given twice: the first counts.
      {"[VelfilesNdx]\nmdbbase=First\nmdbbase=Second\n", {.base = "First"}},
      // A value is read as written: ';' and '#' are part of it, an indented line is a key.
      {"[VelfilesNdx]\nmdbpass=abc ;def\nmdbbase=Acct#2\n  mdbuser=loader\n",
       {.user = "loader", .pass = "abc ;def", .base = "Acct#2"}},
      // A port that is not a port number keeps the default value (and is refused, below).
      {"[VelfilesNdx]\nmdbport=abc\n", {}},
      {"[VelfilesNdx]\nmdbport=70000\n", {}},
      {"[VelfilesNdx]\nmdbport=\"3310\"\n", {.port = 3310}},
      // A key that is there but empty is empty.
      {"[VelfilesNdx]\nmdbpass=\n", {.pass = ""}},
      {"; site settings\n[VelfilesNdx]\ndatapath=.\n", {}},
  };
  for (const auto& c : kCases) {
    testing::TempDir dir;
    const std::string path = dir.File("VELFILES.ini");
    if (c.content != "-") testing::WriteFile(path, c.content);
    const SiteSettings got = ReadSiteSettings(path);
    EXPECT_EQ(got.mdbserv, c.want.serv) << c.content;
    EXPECT_EQ(got.mdbuser, c.want.user) << c.content;
    EXPECT_EQ(got.mdbpass, c.want.pass) << c.content;
    EXPECT_EQ(got.mdbbase, c.want.base) << c.content;
    EXPECT_EQ(got.mdbport, c.want.port) << c.content;
    EXPECT_THAT(got.problems, IsEmpty()) << c.content;
  }
}

TEST(ReadSiteSettings, RefusesAPortThatIsNotAPortNumber) {
  const struct {
    std::string value;  // as written after "mdbport="
    int want_port;
    std::string want_shown;  // "" accepted; else the value as the message shows it
  } kCases[] = {
      {"3307", 3307, ""},
      {"1", 1, ""},
      {"65535", 65535, ""},
      {"03307", 3307, ""},
      {"\"3310\"", 3310, ""},  // the reader removes the quotes
      {"  3311  ", 3311, ""},  // and the blanks around a value
      {"abc", 3306, "abc"},
      {"", 3306, ""},  // there but empty: no port either
      {"0", 3306, "0"},
      {"65536", 3306, "65536"},
      {"99999999999", 3306, "99999999999"},
      {"-1", 3306, "-1"},
      {"+3306", 3306, "+3306"},
      {"3306x", 3306, "3306x"},
      {"33 06", 3306, "33 06"},
      {"3306;", 3306, "3306;"},
      {"\x1b[2J3306", 3306, "\\x1B[2J3306"},  // control bytes shown, not sent to a terminal
  };
  for (const auto& c : kCases) {
    testing::TempDir dir;
    const std::string path = dir.File("VELFILES.ini");
    testing::WriteFile(path, "[VelfilesNdx]\nmdbport=" + c.value + "\n");
    const SiteSettings got = ReadSiteSettings(path);
    EXPECT_EQ(got.mdbport, c.want_port) << c.value;
    const bool refused = c.want_port == 3306;
    EXPECT_EQ(
        got.mdbport_error,
        refused ? "mdbport in " + path + " is not a port number (1 to 65535): " + c.want_shown : "")
        << c.value;
  }
  // Without the key there is nothing to refuse: 3306 is the default.
  testing::TempDir dir;
  testing::WriteFile(dir.File("VELFILES.ini"), "[VelfilesNdx]\nmdbbase=Acct\n");
  EXPECT_EQ(ReadSiteSettings(dir.File("VELFILES.ini")).mdbport_error, "");
}

TEST(ReadSiteSettings, ReadsTheDatabaseTimeoutAndHoldsABadOne) {
  const struct {
    std::string line;  // "": no such key
    int want_seconds;
    std::optional<std::string> want_bad;
  } kCases[] = {
      {"", 30, std::nullopt},
      {"mdbtimeout=5", 5, std::nullopt},
      {"mdbtimeout=\"2\"", 2, std::nullopt},  // quotes go, as for every value
      {"mdbtimeout=86400", 86400, std::nullopt},
      // The lock wait is set a whole second below the time-out, so 1 cannot work.
      {"mdbtimeout=1", 30, "1"},
      {"mdbtimeout=0", 30, "0"},
      {"mdbtimeout=-5", 30, "-5"},
      {"mdbtimeout=2.5", 30, "2.5"},
      {"mdbtimeout=10s", 30, "10s"},
      {"mdbtimeout=86401", 30, "86401"},
      {"mdbtimeout=99999999999", 30, "99999999999"},
      {"mdbtimeout=", 30, ""},  // there but empty: not a number either
  };
  for (const auto& c : kCases) {
    testing::TempDir dir;
    const std::string path = dir.File("VELFILES.ini");
    testing::WriteFile(path, "[VelfilesNdx]\nmdbbase=Acct\n" + c.line + "\n");
    const SiteSettings got = ReadSiteSettings(path);
    EXPECT_EQ(got.mdbtimeout, c.want_seconds) << c.line;
    EXPECT_EQ(got.bad_mdbtimeout, c.want_bad) << c.line;
    EXPECT_EQ(got.mdbbase, "Acct") << c.line;
  }
}

TEST(ReadSiteSettings, ReportsLinesThatAreNotSettings) {
  testing::TempDir dir;
  const std::string path = dir.File("VELFILES.ini");
  testing::WriteFile(path, "[VelfilesNdx]\r\nmdbuser: loader\r\nmdbbase=Acct\r\n");
  const SiteSettings got = ReadSiteSettings(path);
  EXPECT_EQ(got.mdbuser, "root");
  EXPECT_EQ(got.mdbbase, "Acct");
  ASSERT_EQ(got.problems.size(), 1u);
  EXPECT_EQ(got.problems[0].Message(),
            path + " line 2 is not a setting and was ignored: mdbuser: loader");
}

// A settings file that is there but does not read must not pass for a missing one: the defaults
// would reach another database.
TEST(ReadSiteSettings, SaysWhyAFileThatIsThereWasNotRead) {
  testing::TempDir dir;
  std::filesystem::create_directory(dir.path() / "folder.ini");
  ASSERT_EQ(::mkfifo(dir.File("fifo.ini").c_str(), 0600), 0) << std::strerror(errno);
  std::filesystem::create_symlink(dir.File("gone.ini"), dir.File("link.ini"));
  const struct {
    std::string path, want;
  } kCases[] = {
      {dir.File("missing.ini"), ""},
      {dir.File("no-folder/VELFILES.ini"), ""},
      {dir.File("folder.ini"), "The settings file " + dir.File("folder.ini") +
                                   " cannot be read: it is a folder, not a file"},
      {dir.File("fifo.ini"),
       "The settings file " + dir.File("fifo.ini") + " cannot be read: it is not a regular file"},
      {dir.File("link.ini"),
       "The settings file " + dir.File("link.ini") + " cannot be read: No such file or directory"},
  };
  for (const auto& c : kCases) {
    const SiteSettings got = ReadSiteSettings(c.path);
    EXPECT_EQ(got.read_error, c.want) << c.path;
    EXPECT_EQ(got.mdbbase, "Pellam") << c.path;
  }
}

TEST(UtilityIniText, IsFiveLinesEndedByCrLf) {
  EXPECT_EQ(UtilityIniText(SiteSettings{}),
            "DriverID=MySQL\r\nserver=localhost\r\nUser_Name=root\r\nPassword=rezoreza\r\n"
            "database=Pellam\r\n");
  SiteSettings settings;
  settings.mdbserv = "db.example";
  settings.mdbuser = "loader";
  settings.mdbpass = "p=w;d";
  settings.mdbbase = "Acct";
  settings.mdbport = 3307;
  EXPECT_EQ(UtilityIniText(settings),
            "DriverID=MySQL\r\nserver=db.example\r\nUser_Name=loader\r\nPassword=p=w;d\r\n"
            "database=Acct\r\n");
}

mode_t Mode(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

TEST(WriteUtilityIni, WritesTheFileForTheOwnerOnly) {
  testing::TempDir dir;
  const std::string path = dir.File("utility.ini");
  std::string error;
  ASSERT_TRUE(WriteUtilityIni(path, SiteSettings{}, &error)) << error;
  EXPECT_EQ(testing::ReadFile(path), UtilityIniText(SiteSettings{}));
  EXPECT_EQ(Mode(path), 0600u);
}

TEST(WriteUtilityIni, OverwritesAnOlderFileAndNarrowsItsRights) {
  testing::TempDir dir;
  const std::string path = dir.File("utility.ini");
  testing::WriteFile(path, std::string(500, 'x'));  // longer than the new content
  ASSERT_EQ(chmod(path.c_str(), 0666), 0);
  SiteSettings settings;
  settings.mdbbase = "Acct";
  std::string error;
  ASSERT_TRUE(WriteUtilityIni(path, settings, &error)) << error;
  EXPECT_EQ(testing::ReadFile(path), UtilityIniText(settings));
  EXPECT_EQ(Mode(path), 0600u);
}

// The names in `dir`, sorted: a temporary file left behind shows here.
std::vector<std::string> Names(const testing::TempDir& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(WriteUtilityIni, ReplacesALinkOfThatNameAndLeavesItsTargetAlone) {
  const struct {
    const char* what;
    bool target_exists;
  } kCases[] = {
      {"a link to a file", true},
      {"a link to nothing", false},  // writing through it would create the file it names
  };
  for (const auto& c : kCases) {
    testing::TempDir dir;
    const std::string target = dir.File("target.txt");
    if (c.target_exists) testing::WriteFile(target, "not yours");
    const std::string path = dir.File("utility.ini");
    ASSERT_EQ(symlink(target.c_str(), path.c_str()), 0) << c.what;
    std::string error;
    ASSERT_TRUE(WriteUtilityIni(path, SiteSettings{}, &error)) << c.what << ": " << error;
    EXPECT_FALSE(std::filesystem::is_symlink(path)) << c.what;
    EXPECT_EQ(testing::ReadFile(path), UtilityIniText(SiteSettings{})) << c.what;
    EXPECT_EQ(Mode(path), 0600u) << c.what;
    EXPECT_EQ(std::filesystem::exists(target), c.target_exists) << c.what;
    const std::vector<std::string> want_names =
        c.target_exists ? std::vector<std::string>{"target.txt", "utility.ini"}
                        : std::vector<std::string>{"utility.ini"};
    EXPECT_EQ(Names(dir), want_names) << c.what;  // no temporary file left
    if (c.target_exists) {
      EXPECT_EQ(testing::ReadFile(target), "not yours") << c.what;
    }
  }
}

TEST(WriteUtilityIni, FailureLeavesTheFolderAsItWas) {
  testing::TempDir dir;
  const std::string path = dir.File("utility.ini");
  std::filesystem::create_directory(path);  // a folder in the way: the rename fails
  std::string error;
  EXPECT_FALSE(WriteUtilityIni(path, SiteSettings{}, &error));
  EXPECT_EQ(error, "Cannot write \"" + path + "\": " + std::strerror(EISDIR));
  EXPECT_TRUE(std::filesystem::is_directory(path));
  EXPECT_EQ(Names(dir), std::vector<std::string>{"utility.ini"});  // no temporary file left
}

TEST(WriteUtilityIni, ReportsAFileItCannotCreate) {
  testing::TempDir dir;
  const std::string path = dir.File("missing-folder/utility.ini");
  std::string error;
  EXPECT_FALSE(WriteUtilityIni(path, SiteSettings{}, &error));
  EXPECT_NE(error.find(path), std::string::npos) << error;
  EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
}

}  // namespace
}  // namespace quillmere
