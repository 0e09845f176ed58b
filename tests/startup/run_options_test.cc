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

// Settings files in three folders: the program's, the user's and the system's, nearest first.
struct SettingsFolders3 {
  testing::TempDir root;
  std::vector<std::string> folders = {root.File("program"), root.File("user"), root.File("etc")};

  void Put(int folder, const std::string& name) const {
    const std::filesystem::path path = std::filesystem::path(folders[folder]) / name;
    std::filesystem::create_directories(path.parent_path());
    testing::WriteFile(path.string(), "[VelfilesNdx]\n");
  }
  SettingsFileChoice Choose(const std::vector<std::string>& args) const {
    const RunOptions options =
        SettleRunOptions("/opt/quillmere/quillmere", args, root.File("none.reg"));
    return ChooseSettingsFile(folders, options);
  }
};

TEST(ChooseSettingsFile, NearestFolderThenNameAsTypedThenLowerCased) {
  const struct {
    std::vector<std::string> args;
    std::vector<std::pair<int, std::string>> files;  // folder index, name
    int want_folder;                                 // -1: found nowhere
    std::string want_name;
  } kCases[] = {
      {{}, {}, -1, "VELFILES.ini"},  // not found: the name in the program folder
      {{}, {{0, "velfiles.ini"}}, -1, "VELFILES.ini"},
      {{}, {{2, "VELFILES.ini"}}, 2, "VELFILES.ini"},
      {{}, {{1, "VELFILES.ini"}, {2, "VELFILES.ini"}}, 1, "VELFILES.ini"},
      {{}, {{0, "VELFILES.ini"}, {1, "VELFILES.ini"}}, 0, "VELFILES.ini"},
      {{"/CMyFiles.INI"}, {{0, "MyFiles.ini"}}, 0, "MyFiles.ini"},
      {{"/CMyFiles.INI"}, {{0, "myfiles.ini"}}, 0, "myfiles.ini"},
      {{"/CMyFiles.INI"}, {{0, "MyFiles.ini"}, {0, "myfiles.ini"}}, 0, "MyFiles.ini"},
      // The nearest folder wins over the name as typed in a farther one.
      {{"/CMyFiles.INI"}, {{1, "myfiles.ini"}, {2, "MyFiles.ini"}}, 1, "myfiles.ini"},
      {{"/CMyFiles.INI"}, {{0, "MyFiles.INI"}}, -1, "MyFiles.ini"},  // the extension is forced
      {{"/csite2"}, {{1, "site2.ini"}}, 1, "site2.ini"},
      {{"/csite2"}, {}, -1, "site2.ini"},
      // A folder in the name: not looked for in the settings folders.
      {{"/cConf/Site.cfg"}, {{0, "Conf/Site.ini"}}, -1, "Conf/Site.ini"},
  };
  for (const auto& c : kCases) {
    const SettingsFolders3 places;
    for (const auto& [folder, name] : c.files) places.Put(folder, name);
    const SettingsFileChoice got = places.Choose(c.args);
    const bool found = c.want_folder >= 0;
    const std::string want =
        found ? (std::filesystem::path(places.folders[c.want_folder]) / c.want_name).string()
        : c.want_name.find('/') != std::string::npos
            ? c.want_name
            : (std::filesystem::path(places.folders[0]) / c.want_name).string();
    EXPECT_EQ(got.path, want) << Show(c.args);
    EXPECT_EQ(got.searched.empty(), found) << Show(c.args);
    // Only a name that /c gave is an error when it is nowhere; the default name gives defaults.
    EXPECT_EQ(!got.missing.empty(), !found && !c.args.empty()) << Show(c.args);
  }
}

TEST(ChooseSettingsFile, ANameWithAFolderIsUsedAsGiven) {
  const SettingsFolders3 places;
  places.Put(0, "conf/site.ini");  // beside the program: not where a name with a folder points
  const testing::TempDir work;
  std::filesystem::create_directories(work.path() / "Conf");
  testing::WriteFile(work.File("Conf/Site.ini"), "[VelfilesNdx]\n");
  const std::vector<std::string> absolute = {"/c" + work.File("Conf/Site.cfg")};
  EXPECT_EQ(places.Choose(absolute).path, work.File("Conf/Site.ini"));

  const std::filesystem::path old = std::filesystem::current_path();
  std::filesystem::current_path(work.path());
  const std::vector<std::string> relative = {"/cConf/Site"};
  const SettingsFileChoice got = places.Choose(relative);
  std::filesystem::current_path(old);
  EXPECT_EQ(got.path, "Conf/Site.ini");
  EXPECT_EQ(got.missing, "");
}

TEST(ChooseSettingsFile, SaysWhereItLooked) {
  const SettingsFolders3 places;
  const std::string& p = places.folders[0];
  const std::string& u = places.folders[1];
  const std::string& e = places.folders[2];
  const struct {
    std::vector<std::string> args;
    std::string want_searched, want_missing;
  } kCases[] = {
      {{}, "no VELFILES.ini in " + p + ", " + u + " or " + e, ""},
      {{"/CMyFiles.INI"},
       "no MyFiles.ini or myfiles.ini in " + p + ", " + u + " or " + e,
       "The settings file named by /c is not there: no MyFiles.ini or myfiles.ini in " + p + ", " +
           u + " or " + e + "."},
      {{"/csite2"},
       "no site2.ini in " + p + ", " + u + " or " + e,
       "The settings file named by /c is not there: no site2.ini in " + p + ", " + u + " or " + e +
           "."},
      {{"/c/nowhere/Site"},
       "no file /nowhere/Site.ini or /nowhere/site.ini",
       "The settings file named by /c is not there: no file /nowhere/Site.ini or "
       "/nowhere/site.ini."},
  };
  for (const auto& c : kCases) {
    const SettingsFileChoice got = places.Choose(c.args);
    EXPECT_EQ(got.searched, c.want_searched) << Show(c.args);
    EXPECT_EQ(got.missing, c.want_missing) << Show(c.args);
  }
}

// A link that leads nowhere in the user's folder is the file chosen: skipping it would read the
// system's file, another database, without a word; the settings reader then says what is wrong.
TEST(ChooseSettingsFile, ABrokenLinkIsNotSkipped) {
  const SettingsFolders3 places;
  places.Put(2, "VELFILES.ini");
  std::filesystem::create_directories(places.folders[1]);
  std::filesystem::create_symlink(places.root.File("gone.ini"),
                                  places.folders[1] + "/VELFILES.ini");
  const SettingsFileChoice got = places.Choose({});
  EXPECT_EQ(got.path, places.folders[1] + "/VELFILES.ini");
  EXPECT_EQ(got.searched, "");
}

TEST(ChooseHostSettingsFile, LookedForLikeTheSettingsFile) {
  const SettingsFolders3 places;
  RunOptions options;
  EXPECT_EQ(ChooseHostSettingsFile(places.folders, options), places.folders[0] + "/zel.ini");
  places.Put(2, "zel.ini");
  EXPECT_EQ(ChooseHostSettingsFile(places.folders, options), places.folders[2] + "/zel.ini");
  places.Put(1, "zel.ini");
  EXPECT_EQ(ChooseHostSettingsFile(places.folders, options), places.folders[1] + "/zel.ini");
  options.ININame = "/srv/host/zel.ini";  // a folder in the name: as given
  EXPECT_EQ(ChooseHostSettingsFile(places.folders, options), "/srv/host/zel.ini");
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

}  // namespace
}  // namespace quillmere
