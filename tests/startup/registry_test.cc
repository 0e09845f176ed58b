#include "startup/registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "startup/run_options.h"
#include "support/test_support.h"

namespace quillmere {
namespace {

constexpr std::string_view kKey = "Software\\Corvane\\Login\\C__Qu";
constexpr std::string_view kSection = "[HKEY_CURRENT_USER\\Software\\Corvane\\Login\\C__Qu]";

using testing::ScopedEnv;

TEST(RegistryFilePath, FollowsXdgConfigHome) {
  {
    ScopedEnv config("XDG_CONFIG_HOME", "/tmp/cfg");
    EXPECT_EQ(RegistryFilePath(), "/tmp/cfg/Corvane/registry.reg");
  }
  ScopedEnv home("HOME", "/home/agent");
  {
    ScopedEnv config("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(RegistryFilePath(), "/home/agent/.config/Corvane/registry.reg");
  }
  {
    ScopedEnv config("XDG_CONFIG_HOME", "relative/cfg");  // not absolute: ignored
    EXPECT_EQ(RegistryFilePath(), "/home/agent/.config/Corvane/registry.reg");
  }
}

std::string S(std::string_view v) { return std::string(v); }

TEST(ReadRegistryText, FindsTextValuesOfTheKey) {
  const struct {
    std::string content;
    std::optional<std::string> want;
  } kCases[] = {
      {"REGEDIT4\r\n\r\n" + S(kSection) + "\r\n\"AgencyCode\"=\"07\"\r\n", "07"},
      {"Windows Registry Editor Version 5.00\n\n" + S(kSection) + "\n\"AgencyCode\"=\"07\"\n",
       "07"},
      {S(kSection) + "\n\"AgencyCode\"=\"07\"", "07"},  // no header, no last line end
      // Key and value names in another case; blanks around the "=".
      {"[hkey_current_user\\SOFTWARE\\corvane\\LOGIN\\c__qu]\n\"agencycode\" = \"A7\"\n", "A7"},
      {S(kSection) + "\n\"AgencyCode\"=\"A\\\"B\\\\C\"\n", "A\"B\\C"},  // escapes
      {S(kSection) + "\n\"AgencyCode\"=\"\"\n", ""},
      {S(kSection) + "\n\"Other\"=\"1\"\n\"AgencyCode\"=\"02\"\n\"Last\"=dword:1\n", "02"},
      {S(kSection) + "\n\"AgencyCode\"=\"02\"\n" + S(kSection) + "\n\"AgencyCode\"=\"03\"\n",
       "03"},  // a later entry wins, as when the file is imported
      {S(kSection) + "\n; \"AgencyCode\"=\"09\"\n\"AgencyCode\"=\"04\"\n", "04"},   // comment
      {S(kSection) + "\n\"AgencyCode\"=\"02\"\n\"AgencyCode\"=-\n", std::nullopt},  // deleted
      {S(kSection) + "\n\"Other\"=\"1\"\n", std::nullopt},
      {S(kSection) + "\n", std::nullopt},
      {"[HKEY_CURRENT_USER\\Software\\Corvane\\Login\\C__Qu2]\n\"AgencyCode\"=\"07\"\n",
       std::nullopt},  // a longer key name is another key
      {"[HKEY_LOCAL_MACHINE\\Software\\Corvane\\Login\\C__Qu]\n\"AgencyCode\"=\"07\"\n",
       std::nullopt},
      {"[-HKEY_CURRENT_USER\\Software\\Corvane\\Login\\C__Qu]\n\"AgencyCode\"=\"07\"\n",
       std::nullopt},  // a key removal
      // Values of other keys may be of any type and span lines.
      {"[HKEY_CURRENT_USER\\Software\\Other]\n\"AgencyCode\"=hex:30,37,\\\n  30,00\n" +
           S(kSection) + "\n\"AgencyCode\"=\"05\"\n",
       "05"},
      {"", std::nullopt},
  };
  for (const auto& c : kCases) {
    testing::TempDir dir;
    const std::string path = dir.File("registry.reg");
    testing::WriteFile(path, c.content);
    EXPECT_EQ(ReadRegistryText(path, kKey, "AgencyCode"), c.want) << c.content;
  }
}

TEST(ReadRegistryText, MissingFileIsNoValue) {
  testing::TempDir dir;
  EXPECT_EQ(ReadRegistryText(dir.File("none.reg"), kKey, "AgencyCode"), std::nullopt);
}

TEST(ReadRegistryText, ReadsAWindowsExportInUtf16) {
  const std::string text = "Windows Registry Editor Version 5.00\r\n\r\n" + S(kSection) +
                           "\r\n\"AgencyCode\"=\"07\"\r\n";
  std::string bytes = "\xFF\xFE";
  for (char c : text) {
    bytes += c;
    bytes += '\0';
  }
  testing::TempDir dir;
  const std::string path = dir.File("registry.reg");
  testing::WriteFile(path, bytes);
  EXPECT_EQ(ReadRegistryText(path, kKey, "AgencyCode"), "07");
}

TEST(ReadRegistryText, AValueOfAnotherTypeIsAnErrorNamingKeyAndValue) {
  const std::string_view kValues[] = {
      "dword:00000007",
      "hex:30,37,00",
      "hex(2):30,00,37,00,00,00",
      "\"07",     // the text never ends
      "\"07\"x",  // something after the text
      "",
  };
  for (std::string_view value : kValues) {
    testing::TempDir dir;
    const std::string path = dir.File("registry.reg");
    testing::WriteFile(path, "REGEDIT4\n\n" + S(kSection) + "\n\"AgencyCode\"=" + S(value) + "\n");
    try {
      ReadRegistryText(path, kKey, "AgencyCode");
      ADD_FAILURE() << "no RegistryError for " << value;
    } catch (const RegistryError& e) {
      const std::string_view message = e.what();
      EXPECT_NE(message.find("\"AgencyCode\""), std::string_view::npos) << message;
      EXPECT_NE(message.find("HKEY_CURRENT_USER\\Software\\Corvane\\Login\\C__Qu"),
                std::string_view::npos)
          << message;
      EXPECT_NE(message.find("not a text value"), std::string_view::npos) << message;
    }
  }
}

}  // namespace
}  // namespace quillmere
