// Where quillmere-cli finds its settings file without --settings: beside the program, then in
// the user's settings folder, then the system's; and what it says when there is none. Runs a
// copy of the built program in a folder of the test's, so no settings file of the build folder
// is found.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/process.h"
#include "support/test_support.h"

namespace quillmere::testing {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;

TEST(CliSettingsSearch, BareNameIsLookedForBesideTheProgramThenInTheUsersFolder) {
  TempDir root;
  fs::create_directories(root.path() / "bin");
  const std::string cli = root.File("bin/quillmere-cli");
  fs::copy_file(QUILLMERE_BINARY_DIR "/quillmere-cli", cli);
  ProcessOptions options;
  options.environment = {"XDG_CONFIG_HOME=" + root.File("cfg"), "HOME=" + root.File("home")};
  options.error_path = root.File("stderr.txt");
  const auto run = [&] {
    const ProcessResult r = RunProgram({cli, "check", "--csv", root.File("none.csv")}, options);
    return std::make_pair(r.exit_code, ReadFile(root.File("stderr.txt")));
  };

  auto [code, err] = run();
  EXPECT_EQ(code, 2);
  EXPECT_EQ(err, "quillmere-cli: no settings file was found (no VELFILES.ini in " +
                     root.File("bin") + ", " + root.File("cfg") +
                     "/quillmere or /etc/quillmere); put one there or give --settings FILE\n");

  // In the user's folder: read (its datapath names a folder without a store, which shows it).
  fs::create_directories(root.path() / "cfg" / "quillmere");
  fs::create_directories(root.path() / "user-data");
  WriteFile(root.File("cfg/quillmere/VELFILES.ini"), "[VelfilesNdx]\ndatapath=../../user-data\n");
  std::tie(code, err) = run();
  EXPECT_EQ(code, 2);
  EXPECT_THAT(err, HasSubstr("(datapath in " + root.File("cfg/quillmere/VELFILES.ini") + ")"));

  // Beside the program as well: that one wins.
  fs::create_directories(root.path() / "prog-data");
  WriteFile(root.File("bin/VELFILES.ini"), "[VelfilesNdx]\ndatapath=../prog-data\n");
  std::tie(code, err) = run();
  EXPECT_EQ(code, 2);
  EXPECT_THAT(err, HasSubstr("(datapath in " + root.File("bin/VELFILES.ini") + ")"));
}

}  // namespace
}  // namespace quillmere::testing
