#include "startup/user_folders.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "support/test_support.h"

namespace quillmere {
namespace {

using testing::ScopedEnv;
using testing::TempDir;

TEST(SettingsFolders, ProgramThenUserThenSystem) {
  const ScopedEnv home("HOME", "/home/ann");
  {
    const ScopedEnv config("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(
        SettingsFolders("/usr/bin"),
        (std::vector<std::string>{"/usr/bin", "/home/ann/.config/quillmere", "/etc/quillmere"}));
  }
  {
    const ScopedEnv config("XDG_CONFIG_HOME", "/srv/cfg");
    EXPECT_EQ(SettingsFolders("/opt/q").at(1), "/srv/cfg/quillmere");
  }
  {
    const ScopedEnv config("XDG_CONFIG_HOME", "cfg");  // relative: ignored
    EXPECT_EQ(SettingsFolders("/opt/q").at(1), "/home/ann/.config/quillmere");
  }
}

// Runs EnterUserWorkFolder with HOME at `home` and gives the working folder back afterwards.
struct EnterResult {
  bool ok;
  std::string folder, error, cwd;
};
EnterResult Enter(const std::string& home) {
  const ScopedEnv env("HOME", home);
  const std::filesystem::path old = std::filesystem::current_path();
  EnterResult r;
  r.ok = EnterUserWorkFolder(&r.folder, &r.error);
  r.cwd = std::filesystem::current_path().string();
  std::filesystem::current_path(old);
  return r;
}

TEST(EnterUserWorkFolder, CreatesTheFolderForItsOwnerAndWorksInIt) {
  const TempDir home;
  EnterResult r = Enter(home.path().string());
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.folder, home.File("Quillmere"));
  EXPECT_EQ(r.cwd, home.File("Quillmere"));
  struct stat st {};
  ASSERT_EQ(::stat(r.folder.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);  // it will hold utility.ini with the password

  testing::WriteFile(home.File("Quillmere/balances.csv"), "kept");
  r = Enter(home.path().string());  // a second start keeps what is there
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(testing::ReadFile(home.File("Quillmere/balances.csv")), "kept");
}

TEST(EnterUserWorkFolder, RefusesWhatIsNotAFolderOfTheUsers) {
  const TempDir taken;
  testing::WriteFile(taken.File("Quillmere"), "a file, not a folder");
  const std::string file_as_home = taken.File("Quillmere");
  const struct {
    std::string home, want_error;
  } kCases[] = {
      {"/", "There is no home folder to make the work folder Quillmere in (HOME is \"/\")."},
      {taken.path().string(), "The work folder " + taken.File("Quillmere") + " is not a folder."},
      {file_as_home,
       "Cannot create the work folder " + file_as_home + "/Quillmere: Not a directory"},
  };
  for (const auto& c : kCases) {
    const EnterResult r = Enter(c.home);
    EXPECT_FALSE(r.ok) << c.home;
    EXPECT_EQ(r.error, c.want_error) << c.home;
  }
}

}  // namespace
}  // namespace quillmere
