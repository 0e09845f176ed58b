// The desktop program's start: a registry value of another type ends it with the error shown.
#include "ui/program_entry.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "db/qt_text.h"
#include "support/test_support.h"

namespace quillmere {
namespace {

using ::quillmere::testing::TempDir;
using ::quillmere::testing::WriteFile;

constexpr char kExe[] = "/opt/acct/tools/quillmere";  // start folder "_opt_acct_tools_q"

TEST(SettleRunOptionsOrReport, NonTextRegistryValueIsShownAndEndsTheStart) {
  TempDir dir;
  const std::string registry = dir.File("registry.reg");
  const std::string key =
      "[HKEY_CURRENT_USER\\Software\\Corvane\\Login\\" + StartFolderText(kExe) + "]";
  const struct {
    const char* value;
    bool starts;
    std::string agency;
  } kCases[] = {
      {"\"AgencyCode\"=\"12\"", true, "12"},
      {"\"AgencyCode\"=dword:00000007", false, ""},
  };
  for (const auto& c : kCases) {
    WriteFile(registry, "REGEDIT4\r\n\r\n" + key + "\r\n" + c.value + "\r\n");
    std::vector<QString> shown;
    const std::optional<RunOptions> options = SettleRunOptionsOrReport(
        kExe, {}, registry, [&](const QString& text) { shown.push_back(text); });
    EXPECT_EQ(options.has_value(), c.starts) << c.value;
    EXPECT_EQ(shown.size(), c.starts ? 0u : 1u) << c.value;
    if (options) {
      EXPECT_EQ(options->sLastAgyCode, c.agency) << c.value;
    }
    if (!shown.empty()) {
      EXPECT_THAT(ToRecordText(shown[0]), ::testing::HasSubstr("AgencyCode"));
    }
  }
}

}  // namespace
}  // namespace quillmere
