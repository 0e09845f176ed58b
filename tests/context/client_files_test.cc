// The client file set on the real record-file store: the order of the opens, their messages
// and log lines, the once-per-object rule and the run log's name.
#include "context/client_files.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <span>
#include <string>
#include <vector>

#include "recfiles/CBtrvKafImport.h"
#include "recfiles/record_store.h"
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
  ASSERT_TRUE(files.OpenClientFiles(op_, kImportFiles, &error_)) << error_;
  files.log().Flush();
  EXPECT_THAT(op_.errors, IsEmpty());
  EXPECT_EQ(LogText(), kSixLines);
  EXPECT_TRUE(files.files_open());
  files.CloseClientFiles();
  EXPECT_FALSE(files.files_open());
}

// A new store in `dir` holding the standard files but those named in `missing`.
void MakeStoreWithout(const std::filesystem::path& dir, const std::vector<std::string>& missing) {
  ASSERT_EQ(OpenRecordStore(dir.string(), "", /*create=*/true), 0);
  for (const StandardFile& f : kStandardFiles) {
    if (std::find(missing.begin(), missing.end(), f.name) == missing.end()) {
      ASSERT_EQ(btrCreateFile(f.name, f.record_length, f.key_length), 0) << f.name;
    }
  }
}

// The line of a file the store does not have.
std::string NoSuchFile(std::string_view what, std::string_view name) {
  return "Unable to open " + std::string(what) + " file " + std::string(name) +
         " (the store has no file of that name), status is 12";
}

// The Policy table's side of the set: only whether it was opened.
class CountingPolicyTable : public PolicyTable {
 public:
  bool Open(std::string*) override {
    ++opened;
    return true;
  }
  void Close() override {}
  bool Post(const PolicyRow&, const PostedBefore*, PolicyWrite*, std::string*) override {
    return false;
  }
  bool Restore(int64_t, bool, const std::string&, std::string*) override { return false; }
  bool Holds(int64_t, const PolicyRow&, bool*, std::string*) override { return false; }
  bool Exists(const PolicyRow&, bool*, std::string*) override { return false; }
  bool Begin(std::string*) override { return true; }
  bool Commit(std::string*) override { return true; }
  void Rollback() override {}
  int opened = 0;
};

TEST_F(ClientFilesTest, FileAnOperationNeedsEndsItBeforeAnythingElseOpens) {
  const std::string jcki = NoSuchFile("Jcki", "jcki");
  const std::string desc = NoSuchFile("Desc", "desc");
  const std::string pol = NoSuchFile("pol", "pol");
  const std::string ap = NoSuchFile("ap", "ap");  // two handles, one line
  const std::string extap = NoSuchFile("extap", "extap");
  const std::string trans = NoSuchFile("Trans", "trans.ndx");
  const struct {
    std::vector<std::string> missing;
    std::span<const StandardFile> needed;
    bool want_open;
    std::string want_error;  // the text that ends the operation
    std::string want_shown;  // one message the operation goes on after ("" none)
  } kCases[] = {
      {{}, kImportFiles, true, "", ""},
      {{"jcki"}, kImportFiles, false, jcki + "\nNothing was done.", ""},
      {{"jcki", "desc", "pol"},
       kImportFiles,
       false,
       jcki + "\n" + desc + "\n" + pol + "\nNothing was done.",
       ""},
      {{"ap"}, kImportFiles, false, ap + "\nNothing was done.", ""},
      // Files the import only opens, as the host's programs do: said once, and it goes on.
      {{"extap", "trans.ndx"}, kImportFiles, true, "", extap + "\n" + trans},
      // The export reads the master file only.
      {{"jcki", "desc", "pol"}, kExportFiles, true, "", jcki + "\n" + desc + "\n" + pol},
      {{"ap"}, kExportFiles, false, ap + "\nNothing was done.", ""},
      {{"ap", "extap"}, kExportFiles, false, ap + "\n" + extap + "\nNothing was done.", ""},
  };
  for (const auto& c : kCases) {
    std::string trace = "needed:";
    for (const StandardFile& f : c.needed) trace += std::string(" ") + f.name;
    trace += "; missing:";
    for (const std::string& name : c.missing) trace += " " + name;
    SCOPED_TRACE(trace);
    TempDir dir;
    MakeStoreWithout(dir.path(), c.missing);
    CountingPolicyTable table;
    ClientFileSet files(
        &table, [] { return std::string("T"); }, dir.path().string());
    RecordingOperator op;
    std::string error;
    EXPECT_EQ(files.OpenClientFiles(op, c.needed, &error), c.want_open);
    EXPECT_EQ(c.want_open ? "" : error, c.want_error);
    EXPECT_EQ(table.opened, c.want_open ? 1 : 0);  // no Policy row can be written
    if (c.want_shown.empty()) {
      EXPECT_THAT(op.errors, IsEmpty());
    } else {
      EXPECT_THAT(op.errors, ElementsAre(c.want_shown));
    }
    files.log().Close();
    EXPECT_EQ(ReadFile(dir.File("balances_T.txt")), kSixLines);  // every log starts alike
  }
}

TEST_F(ClientFilesTest, StoreThatDidNotOpenGivesItsCauseForEachFile) {
  const std::string settings = dir_.File("VELFILES.ini");
  WriteFile(settings, "[VelfilesNdx]\r\ndatapath=.\r\n");
  ASSERT_EQ(QrtInitializeFauxBtrieve(settings.c_str(), dir_.File("zel.ini").c_str()),
            kStatusFileNotFound);
  ClientFileSet files = MakeSet(dir_.path().string());
  EXPECT_FALSE(files.OpenClientFiles(op_, kExportFiles, &error_));
  const std::string cause =
      " (no recfiles.sqlite there (quillmere-recfile init creates the store))";
  EXPECT_EQ(error_, "Unable to open ap file ap" + cause + ", status is 12\n" +
                        "Unable to open extap file extap" + cause + ", status is 12\n" +
                        "Unable to open Jcki file jcki" + cause + ", status is 12\n" +
                        "Unable to open Desc file desc" + cause + ", status is 12\n" +
                        "Unable to open Trans file trans.ndx" + cause + ", status is 12\n" +
                        "Unable to open pol file pol" + cause + ", status is 12\n" +
                        "Nothing was done.");
  EXPECT_THAT(op_.errors, IsEmpty());
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "recfiles.sqlite"));
  files.log().Flush();
  EXPECT_EQ(LogText(), kSixLines);
}

TEST_F(ClientFilesTest, EachOperationWritesItsOwnLogAndKeepsTheFilesOpen) {
  InitStore(dir_.path());
  ClientFileSet files = MakeSet(dir_.path().string());
  ASSERT_TRUE(files.OpenClientFiles(op_, kImportFiles, &error_)) << error_;
  const std::string first_log = files.log().path();
  ASSERT_TRUE(files.OpenClientFiles(op_, kImportFiles, &error_)) << error_;
  files.log().Flush();
  EXPECT_EQ(stamps_taken_, 2);
  EXPECT_EQ(files.log().path(), dir_.File(std::string("balances_") + kStamp + "_2.txt"));
  EXPECT_EQ(ReadFile(files.log().path()), kSixLines);  // every log starts alike
  EXPECT_EQ(LogText(), kSixLines);                     // the first one is left as it was
  EXPECT_THAT(op_.errors, IsEmpty());
  EXPECT_TRUE(files.files_open());
}

TEST_F(ClientFilesTest, FileThatFailedToOpenIsTriedAgainByTheNextOperation) {
  MakeStoreWithout(dir_.path(), {"jcki"});
  ClientFileSet files = MakeSet(dir_.path().string());
  EXPECT_FALSE(files.OpenClientFiles(op_, kImportFiles, &error_));
  EXPECT_EQ(error_, NoSuchFile("Jcki", "jcki") + "\nNothing was done.");
  EXPECT_FALSE(files.jcki().is_open());

  ASSERT_EQ(btrCreateFile(kJckiFile.name, kJckiFile.record_length, kJckiFile.key_length), 0);
  ASSERT_TRUE(files.OpenClientFiles(op_, kImportFiles, &error_)) << error_;
  EXPECT_THAT(op_.errors, IsEmpty());
  EXPECT_TRUE(files.files_open());
}

TEST_F(ClientFilesTest, SameSecondRunsKeepBothLogs) {
  InitStore(dir_.path());
  WriteFile(dir_.File(std::string("balances_") + kStamp + ".txt"), "an earlier run\r\n");
  ClientFileSet first = MakeSet(dir_.path().string());
  ClientFileSet second = MakeSet(dir_.path().string());
  ASSERT_TRUE(first.OpenClientFiles(op_, kImportFiles, &error_)) << error_;
  ASSERT_TRUE(second.OpenClientFiles(op_, kImportFiles, &error_)) << error_;
  EXPECT_EQ(first.log().path(), dir_.File(std::string("balances_") + kStamp + "_2.txt"));
  EXPECT_EQ(second.log().path(), dir_.File(std::string("balances_") + kStamp + "_3.txt"));
  EXPECT_EQ(LogText(), "an earlier run\r\n");
}

TEST_F(ClientFilesTest, RunLogThatCannotBeCreatedEndsTheOpen) {
  InitStore(dir_.path());
  // A folder that is a file: no permission setting lets anyone create a log below it.
  WriteFile(dir_.File("not-a-folder"), "");
  ClientFileSet files = MakeSet(dir_.File("not-a-folder"));
  EXPECT_FALSE(files.OpenClientFiles(op_, kImportFiles, &error_));
  EXPECT_THAT(error_, HasSubstr("balances_1_2_2025-9_05_07_AM.txt"));
  EXPECT_FALSE(files.jcki().is_open());  // nothing opened after the failure

  // A later operation tries again, and fails the same way while the cause is there.
  std::string again;
  EXPECT_FALSE(files.OpenClientFiles(op_, kImportFiles, &again));
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
