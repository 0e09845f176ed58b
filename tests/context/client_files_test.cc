// The client file set on the real record-file store: the order of the opens, their messages
// and log lines, the once-per-object rule and the run log's name.
#include "context/client_files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>

#include "recfiles/CBtrvKafImport.h"
#include "support/test_support.h"

namespace quillmere {
namespace {

using ::quillmere::testing::InitStore;
using ::quillmere::testing::ReadFile;
using ::quillmere::testing::RecordingOperator;
using ::quillmere::testing::TempDir;
using ::quillmere::testing::WriteFile;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr char kStamp[] = "1_2_2025-9_05_07_AM";
constexpr char kSixLines[] =
    "Opened AP file [ap]\r\n"
    "Opened ExtAP file [extap]\r\n"
    "Opened JCKI file [jcki]\r\n"
    "Opened Desc file [desc]\r\n"
    "Opened TransNDX file [trans.ndx]\r\n"
    "Opened Pol file [pol]\r\n";

class ClientFilesTest : public ::testing::Test {
 protected:
  ClientFileSet MakeSet(std::string log_dir) {
    return ClientFileSet(
        nullptr,
        [this] {
          ++stamps_taken_;
          return std::string(kStamp);
        },
        std::move(log_dir));
  }
  std::string LogText() { return ReadFile(dir_.File(std::string("balances_") + kStamp + ".txt")); }

  TempDir dir_;
  RecordingOperator op_;
  int stamps_taken_ = 0;
  std::string error_;
};

TEST_F(ClientFilesTest, AllFilesPresentLogsSixLinesInOrder) {
  InitStore(dir_.path());
  ClientFileSet files = MakeSet(dir_.path().string());
  ASSERT_TRUE(files.OpenClientFiles(op_, &error_)) << error_;
  files.log().Flush();
  EXPECT_THAT(op_.errors, IsEmpty());
  EXPECT_EQ(LogText(), kSixLines);
  EXPECT_TRUE(files.files_open());
  files.CloseClientFiles();
  EXPECT_FALSE(files.files_open());
}

TEST_F(ClientFilesTest, NoFilePresentShowsSevenMessagesAndStillLogsSixLines) {
  const std::string settings = dir_.File("VELFILES.ini");
  WriteFile(settings, "[VelfilesNdx]\r\ndatapath=.\r\n");
  QrtInitializeFauxBtrieve(settings.c_str(), dir_.File("zel.ini").c_str());
  ClientFileSet files = MakeSet(dir_.path().string());
  ASSERT_TRUE(files.OpenClientFiles(op_, &error_)) << error_;
  files.log().Flush();
  EXPECT_THAT(op_.errors, ElementsAre("Unable to open ap file ap, status is 12",
                                      "Unable to open ap file ap, status is 12",
                                      "Unable to open extap file extap, status is 12",
                                      "Unable to open Jcki file jcki, status is 12",
                                      "Unable to open Desc file desc, status is 12",
                                      "Unable to open Trans file trans.ndx, status is 12",
                                      "Unable to open pol file pol, status is 12"));
  EXPECT_EQ(LogText(), kSixLines);
}

TEST_F(ClientFilesTest, EachOperationWritesItsOwnLogAndKeepsTheFilesOpen) {
  InitStore(dir_.path());
  ClientFileSet files = MakeSet(dir_.path().string());
  ASSERT_TRUE(files.OpenClientFiles(op_, &error_)) << error_;
  const std::string first_log = files.log().path();
  ASSERT_TRUE(files.OpenClientFiles(op_, &error_)) << error_;
  files.log().Flush();
  EXPECT_EQ(stamps_taken_, 2);
  EXPECT_EQ(files.log().path(), dir_.File(std::string("balances_") + kStamp + "_2.txt"));
  EXPECT_EQ(ReadFile(files.log().path()), kSixLines);  // every log starts alike
  EXPECT_EQ(LogText(), kSixLines);                     // the first one is left as it was
  EXPECT_THAT(op_.errors, IsEmpty());
  EXPECT_TRUE(files.files_open());
}

TEST_F(ClientFilesTest, FileThatFailedToOpenIsTriedAgainByTheNextOperation) {
  const std::string settings = dir_.File("VELFILES.ini");
  WriteFile(settings, "[VelfilesNdx]\r\ndatapath=.\r\n");
  QrtInitializeFauxBtrieve(settings.c_str(), dir_.File("zel.ini").c_str());
  for (const StandardFile& f : kStandardFiles) {
    if (std::string(f.name) != "jcki") {
      ASSERT_EQ(btrCreateFile(f.name, f.record_length, f.key_length), 0);
    }
  }
  ClientFileSet files = MakeSet(dir_.path().string());
  ASSERT_TRUE(files.OpenClientFiles(op_, &error_)) << error_;
  EXPECT_THAT(op_.errors, ElementsAre("Unable to open Jcki file jcki, status is 12"));
  EXPECT_FALSE(files.jcki().is_open());

  ASSERT_EQ(btrCreateFile(kJckiFile.name, kJckiFile.record_length, kJckiFile.key_length), 0);
  op_.errors.clear();
  ASSERT_TRUE(files.OpenClientFiles(op_, &error_)) << error_;
  EXPECT_THAT(op_.errors, IsEmpty());
  EXPECT_TRUE(files.files_open());
}

TEST_F(ClientFilesTest, SameSecondRunsKeepBothLogs) {
  InitStore(dir_.path());
  WriteFile(dir_.File(std::string("balances_") + kStamp + ".txt"), "an earlier run\r\n");
  ClientFileSet first = MakeSet(dir_.path().string());
  ClientFileSet second = MakeSet(dir_.path().string());
  ASSERT_TRUE(first.OpenClientFiles(op_, &error_)) << error_;
  ASSERT_TRUE(second.OpenClientFiles(op_, &error_)) << error_;
  EXPECT_EQ(first.log().path(), dir_.File(std::string("balances_") + kStamp + "_2.txt"));
  EXPECT_EQ(second.log().path(), dir_.File(std::string("balances_") + kStamp + "_3.txt"));
  EXPECT_EQ(LogText(), "an earlier run\r\n");
}

TEST_F(ClientFilesTest, RunLogThatCannotBeCreatedEndsTheOpen) {
  InitStore(dir_.path());
  // A folder that is a file: no permission setting lets anyone create a log below it.
  WriteFile(dir_.File("not-a-folder"), "");
  ClientFileSet files = MakeSet(dir_.File("not-a-folder"));
  EXPECT_FALSE(files.OpenClientFiles(op_, &error_));
  EXPECT_THAT(error_, HasSubstr("balances_1_2_2025-9_05_07_AM.txt"));
  EXPECT_FALSE(files.jcki().is_open());  // nothing opened after the failure

  // A later operation tries again, and fails the same way while the cause is there.
  std::string again;
  EXPECT_FALSE(files.OpenClientFiles(op_, &again));
  EXPECT_THAT(again, HasSubstr("balances_1_2_2025-9_05_07_AM.txt"));
  EXPECT_FALSE(files.jcki().is_open());
}

TEST(StringDateStamp, ReplacesBlanksAndSeparators) {
  const struct {
    const char *date, *time, *want;
  } kCases[] = {
      {"1/2/2025", "9:05:07 AM", "1_2_2025-9_05_07_AM"},
      {"12/9/2024", "2:05:07 PM", "12_9_2024-2_05_07_PM"},
      {"2024-12-09", "14.05.07", "2024-12-09-14.05.07"},  // "-" and "." stay
      {"9;12\\2024", "1:02:03", "9_12_2024-1_02_03"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(StringDateStamp(c.date, c.time), c.want) << c.date << " " << c.time;
  }
}

TEST(StringDateStamp, ClockStampHasTheMonthDayYearForm) {
  EXPECT_TRUE(std::regex_match(StringDateStamp(),
                               std::regex(R"(\d{1,2}_\d{1,2}_\d{4}-\d{1,2}_\d\d_\d\d_(AM|PM))")))
      << StringDateStamp();
}

}  // namespace
}  // namespace quillmere
