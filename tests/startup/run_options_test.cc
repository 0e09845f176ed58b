#include "startup/run_options.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "support/test_support.h"

namespace quillmere {
namespace {

std::string Show(const std::vector<std::string>& args) {
  std::string out;
  for (const std::string& arg : args) out += "[" + arg + "]";
  return out;
}

TEST(StartFolderText, DropsElevenCharactersAndReplacesSeparators) {
  const struct {
    std::string_view exe_path, want;
  } kCases[] = {
      {"C:\\Acct\\Tools\\Quillmere.exe", "C__Acct_Tools_Qu"},
      {"C:\\Quillmere.exe", "C__Qu"},
      {"/opt/quillmere/bin/quillmere", "_opt_quillmere_bi"},  // "/" counts as "\"
      {"/usr/bin/quillmere", "_usr_bi"},
      {"C:\\abc.exe1", ""},  // 11 characters: nothing left
      {"quillmere", ""},
      {"", ""},
      {"/x/quillmere", "_"},
  };
  for (const auto& c : kCases) EXPECT_EQ(StartFolderText(c.exe_path), c.want) << c.exe_path;
}

TEST(RegistryKeyName, AppendsTheStartFolder) {
  EXPECT_EQ(RegistryKeyName("C__Acct_Tools_Qu"), "Software\\Corvane\\Login\\C__Acct_Tools_Qu");
  EXPECT_EQ(RegistryKeyName(""), "Software\\Corvane\\Login\\");
}

TEST(ParseRunOptions, AppliesTheSwitches) {
  const struct {
    std::vector<std::string> args;
    std::string_view agency, vel_files, ini;
  } kCases[] = {
      {{}, "01", "VELFILES.INI", "zel.ini"},
      {{"/a05"}, "05", "VELFILES.INI", "zel.ini"},
      {{"/A05"}, "05", "VELFILES.INI", "zel.ini"},          // letters in any case
      {{"/aAbC"}, "AbC", "VELFILES.INI", "zel.ini"},        // the code as typed
      {{"/a"}, "", "VELFILES.INI", "zel.ini"},              // empty stays empty
      {{"/a", "12"}, "", "VELFILES.INI", "zel.ini"},        // the blank ends the switch
      {{"/a01", "/A02"}, "02", "VELFILES.INI", "zel.ini"},  // the last one wins
      {{"/CMyFiles.INI"}, "01", "myfiles.ini", "zel.ini"},  // lower-cased
      {{"/cSite2"}, "01", "site2", "zel.ini"},              // the extension comes later
      {{"/c"}, "01", "", "zel.ini"},
      {{"/IHost.INI"}, "01", "VELFILES.INI", "Host.INI"},  // case kept
      {{"/ihost2.ini", "/cA", "/a7"}, "7", "a", "host2.ini"},
      {{"/x5", "a05", "-a05", "/", "", "c/a05"}, "01", "VELFILES.INI", "zel.ini"},  // ignored
  };
  for (const auto& c : kCases) {
    const RunOptions got = ParseRunOptions(c.args, RunOptions{});
    EXPECT_EQ(got.sLastAgyCode, c.agency) << Show(c.args);
    EXPECT_EQ(got.VelFilesName, c.vel_files) << Show(c.args);
    EXPECT_EQ(got.ININame, c.ini) << Show(c.args);
  }
}

TEST(ForceIniExtension, ReplacesTheLastExtensionOfTheFileName) {
  const struct {
    std::string_view name, want;
  } kCases[] = {
      {"VELFILES.INI", "VELFILES.ini"},
      {"site2", "site2.ini"},
      {"site.cfg", "site.ini"},
      {"myfiles.ini", "myfiles.ini"},
      {"a.b.c", "a.b.ini"},
      {"", ".ini"},
      {"conf.d/site", "conf.d/site.ini"},  // a "." in a folder name is not an extension
      {"/etc/q.d/site.cfg", "/etc/q.d/site.ini"},
      {"conf.d\\site", "conf.d\\site.ini"},
  };
  for (const auto& c : kCases) EXPECT_EQ(ForceIniExtension(c.name), c.want) << c.name;
}

TEST(SettleRunOptions, RegistryThenSwitchesThenExtension) {
  constexpr std::string_view kExe = "C:\\Acct\\Tools\\Quillmere.exe";
  const std::string kSection =
      "[HKEY_CURRENT_USER\\Software\\Corvane\\Login\\C__Acct_Tools_Qu]\r\n";
  const struct {
    std::string registry;  // "" : no registry file
    std::vector<std::string> args;
    std::string_view agency, vel_files, ini;
  } kCases[] = {
      {"", {}, "01", "VELFILES.ini", "zel.ini"},
      {kSection + "\"AgencyCode\"=\"07\"\r\n", {}, "07", "VELFILES.ini", "zel.ini"},
      {kSection + "\"AgencyCode\"=\"07\"\r\n", {"/a12"}, "12", "VELFILES.ini", "zel.ini"},
      {kSection + "\"AgencyCode\"=\"\"\r\n", {}, "01", "VELFILES.ini", "zel.ini"},  // empty
      {kSection, {}, "01", "VELFILES.ini", "zel.ini"},                              // absent
      {kSection + "\"AgencyCode\"=\"07\"\r\n", {"/a"}, "", "VELFILES.ini", "zel.ini"},
      {"", {"/CMyFiles.INI"}, "01", "myfiles.ini", "zel.ini"},
      {"", {"/cSite.cfg"}, "01", "site.ini", "zel.ini"},
      {"", {"/c"}, "01", ".ini", "zel.ini"},
      {"", {"/IHost.INI"}, "01", "VELFILES.ini", "Host.INI"},
      // Another start folder's value is not ours.
      {"[HKEY_CURRENT_USER\\Software\\Corvane\\Login\\C__Other]\r\n\"AgencyCode\"=\"09\"\r\n",
       {},
       "01",
       "VELFILES.ini",
       "zel.ini"},
  };
  for (const auto& c : kCases) {
    testing::TempDir dir;
    const std::string path = dir.File("registry.reg");
    if (!c.registry.empty()) testing::WriteFile(path, "REGEDIT4\r\n\r\n" + c.registry);
    const RunOptions got = SettleRunOptions(kExe, c.args, path);
    EXPECT_EQ(got.sLastAgyCode, c.agency) << c.registry << Show(c.args);
    EXPECT_EQ(got.VelFilesName, c.vel_files) << c.registry << Show(c.args);
    EXPECT_EQ(got.ININame, c.ini) << c.registry << Show(c.args);
  }
}

TEST(ChooseSettingsFile, NameAsTypedWhenThereElseLowerCased) {
  const struct {
    std::vector<std::string> args;
    std::vector<std::string> files;  // in the program folder
    std::string want_name;
    bool want_missing;
  } kCases[] = {
      {{}, {}, "VELFILES.ini", false},  // without /c the file may be missing: defaults
      {{}, {"velfiles.ini"}, "VELFILES.ini", false},
      {{"/CMyFiles.INI"}, {"MyFiles.ini"}, "MyFiles.ini", false},
      {{"/CMyFiles.INI"}, {"myfiles.ini"}, "myfiles.ini", false},
      {{"/CMyFiles.INI"}, {"MyFiles.ini", "myfiles.ini"}, "MyFiles.ini", false},
      {{"/CMyFiles.INI"}, {}, "myfiles.ini", true},
      {{"/CMyFiles.INI"}, {"MyFiles.INI"}, "myfiles.ini", true},  // the extension is forced
      {{"/csite2"}, {}, "site2.ini", true},
      // A folder with capitals, on a file system that tells letter cases apart.
      {{"/cConf/Site.cfg"}, {"Conf/Site.ini"}, "Conf/Site.ini", false},
      {{"/cConf/Site.cfg"}, {"conf/site.ini"}, "conf/site.ini", false},
  };
  for (const auto& c : kCases) {
    testing::TempDir program;
    for (const std::string& file : c.files) {
      std::filesystem::create_directories((program.path() / file).parent_path());
      testing::WriteFile(program.File(file), "[VelfilesNdx]\n");
    }
    const RunOptions options =
        SettleRunOptions("/opt/quillmere/quillmere", c.args, program.File("none.reg"));
    const SettingsFileChoice got = ChooseSettingsFile(program.path().string(), options);
    EXPECT_EQ(got.name, c.want_name) << Show(c.args) << " in " << Show(c.files);
    EXPECT_EQ(!got.missing.empty(), c.want_missing) << Show(c.args) << " in " << Show(c.files);
  }
}

TEST(ChooseSettingsFile, SaysWhichNamesWereLookedFor) {
  testing::TempDir program;
  const std::string dir = program.path().string();
  const struct {
    std::string arg;
    std::string want;
  } kCases[] = {
      {"/CMyFiles.INI", "The settings file named by /c is not there: neither " + dir +
                            "/MyFiles.ini nor " + dir + "/myfiles.ini exists."},
      {"/csite2",
       "The settings file named by /c is not there: " + dir + "/site2.ini does not exist."},
  };
  for (const auto& c : kCases) {
    const std::vector<std::string> args = {c.arg};
    const RunOptions options =
        SettleRunOptions("/opt/quillmere/quillmere", args, program.File("none.reg"));
    EXPECT_EQ(ChooseSettingsFile(dir, options).missing, c.want) << c.arg;
  }
}

TEST(SettleRunOptions, ShortPathsReadTheirOwnKeys) {
  testing::TempDir dir;
  const std::string path = dir.File("registry.reg");
  testing::WriteFile(
      path,
      "REGEDIT4\n\n"
      "[HKEY_CURRENT_USER\\Software\\Corvane\\Login]\n\"AgencyCode\"=\"03\"\n\n"
      "[HKEY_CURRENT_USER\\Software\\Corvane\\Login\\C__Qu]\n\"AgencyCode\"=\"04\"\n");
  const std::vector<std::string> no_args;
  // 11 characters or fewer: the key "Software\Corvane\Login\" itself.
  EXPECT_EQ(SettleRunOptions("C:\\q.exe", no_args, path).sLastAgyCode, "03");
  EXPECT_EQ(SettleRunOptions("C:\\Quillmere.exe", no_args, path).sLastAgyCode, "04");
}

TEST(SettleRunOptions, ANonTextValueIsAnError) {
  testing::TempDir dir;
  const std::string path = dir.File("registry.reg");
  testing::WriteFile(path,
                     "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Corvane\\Login\\C__Qu]\n"
                     "\"AgencyCode\"=dword:00000007\n");
  const std::vector<std::string> args = {"/a12"};  // read before the switches: still an error
  EXPECT_THROW(SettleRunOptions("C:\\Quillmere.exe", args, path), RegistryError);
}

TEST(ProgramFilePath, JoinsARelativeNameToTheProgramFolder) {
  const struct {
    std::string_view dir, name, want;
  } kCases[] = {
      {"/opt/quillmere", "site2.ini", "/opt/quillmere/site2.ini"},
      {"/opt/quillmere/", "VELFILES.ini", "/opt/quillmere/VELFILES.ini"},
      {"/opt/quillmere", "/etc/quillmere/site.ini", "/etc/quillmere/site.ini"},  // absolute
      {"/opt/quillmere", "conf/site.ini", "/opt/quillmere/conf/site.ini"},
      {"", "zel.ini", "zel.ini"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(ProgramFilePath(c.dir, c.name), c.want) << c.dir << " + " << c.name;
  }
}

}  // namespace
}  // namespace quillmere
