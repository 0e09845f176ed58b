#include "export/gl_export.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "recfiles/CBtrvKafImport.h"
#include "recfiles/btrv_layout.h"
#include "recfiles/record_store.h"
#include "support/test_support.h"

namespace quillmere {
namespace {

using quillmere::testing::InitStore;
using quillmere::testing::PutMaster;
using quillmere::testing::ReadFile;
using quillmere::testing::ReadLines;
using quillmere::testing::RecordingOperator;
using quillmere::testing::TempDir;
using quillmere::testing::WriteFile;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr char kHeader[] = "\"GL\",\"Name\",\"SubType\",\"Normal\",\"Dept\",\"Value\"\r\n";

// The expected export row; `name` is blank-filled to the 25 characters of the field.
std::string Row(std::string_view gl, std::string_view name, std::string_view sub_type,
                std::string_view normal) {
  std::string row = "\"";
  row.append(gl).append("\",\"").append(name).append(25 - name.size(), ' ');
  row.append("\",\"").append(sub_type).append("\",\"").append(normal);
  return row + "\",\"GA\",\"0.0\",\r\n";
}

class GlExportTest : public ::testing::Test {
 protected:
  void SetUp() override { InitStore(dir_.path()); }

  // Opens the client file set, as the window and the command line do before the export.
  void OpenSet() {
    std::string error;
    ASSERT_TRUE(files_.OpenClientFiles(op_, kExportFiles, &error)) << error;
  }

  ExportOutcome Export(const std::string& agency, bool ask_before_overwrite = true) {
    ExportRequest request;
    request.agency_code = agency;
    request.csv_path = csv_path_;
    request.ask_before_overwrite = ask_before_overwrite;
    return ExportGlChart(files_, op_, request);
  }

  // One export in a program start of its own, as the window and the command line run it.
  ExportOutcome ExportOnNewSet(const ExportRequest& request, RecordingOperator& op) {
    ClientFileSet files(
        nullptr, [this] { return "run" + std::to_string(++runs_); }, dir_.path().string());
    return ExportRun(files, op).Run(request);
  }

  // The status of a key lookup of agency 07's GL account `code` through the set's handle.
  int16_t LookUpGl(std::string_view code) {
    char key[256] = {};
    const std::string text = MasterKey(kGlKind, "07", code);
    std::memcpy(key, text.data(), text.size());
    rApRec rec;
    return files_.ap().GetEqual(key, &rec);
  }

  // True when a temporary file of the export is left in the folder.
  bool TempFileLeft() const {
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path())) {
      if (entry.path().filename().string().ends_with(".tmp")) return true;
    }
    return false;
  }

  TempDir dir_;
  RecordingOperator op_;
  ClientFileSet files_{nullptr, [] { return std::string("test"); }, dir_.path().string()};
  std::string csv_path_ = dir_.File("chart.csv");
  int runs_ = 0;
};

// Agency 07's chart, with records of other kinds and of agency 08 around it.
void PutFixtureAgency() {
  PutMaster(kGlKind, "07", "1000", "Cash in Bank", 'A', "009");
  PutMaster(kGlKind, "07", "1120", "Clients Receivable", 'A', "001");
  PutMaster(kGlKind, "07", "2110", "Say \"Hi\" Insurance", 'L', "003");
  PutMaster(kGlKind, "07", "4000", "Commission Income", 'I', "010");
  PutMaster(kGlKind, "07", "5000", "Caf\xe9 Expense", 'X', "000");
  PutMaster(kGlKind, "07", "5100", std::string_view("Ab\0cd", 5), ' ', "008");
  PutMaster(kGlKind, "07", "5200", "Twenty-five characters ok", 'E', "002");
  PutMaster(kGlKind, "07", "123456", "Six Digit Account", 'C', "004");
  PutMaster(kGlKind, "08", "1000", "Other Agency Cash", 'A', "000");
  PutMaster(kDepartmentKind, "07", "GA", "General Agency");
  PutMaster(kClientKind, "07", "C001", "A Client");
}

TEST_F(GlExportTest, WritesTheAgencysChartByteForByte) {
  PutFixtureAgency();
  OpenSet();

  EXPECT_EQ(Export("07"), ExportOutcome::kWritten);

  const std::string want =
      std::string(kHeader) +  // no comma after the last name
      "\"1000\",\"Cash in Bank             \",\"Bank\",\"Debit\",\"GA\",\"0.0\",\r\n" +
      Row("1120", "Clients Receivable", "Clients", "Debit") +
      Row("2110", "Say \"Hi\" Insurance", "Company/Vendor", "Credit") +  // not escaped
      Row("4000", "Commission Income", "010", "Credit") +                // unknown code as is
      Row("5000", "Caf\xe9 Expense", "None", "X") +                      // 8-bit byte as stored
      Row("5100", "Ab", "GL Code", " ") +  // the name ends at its NUL byte
      Row("5200", "Twenty-five characters ok", "Producer", "Debit") +
      Row("123456", "Six Digit Account", "Agency", "Credit");  // six characters, not cut
  EXPECT_EQ(ReadFile(csv_path_), want);
  EXPECT_THAT(op_.errors, IsEmpty());
  EXPECT_THAT(op_.prompts, IsEmpty());
  EXPECT_FALSE(TempFileLeft());
}

TEST_F(GlExportTest, ClosesTheSetAndEndsTheRunLog) {
  PutFixtureAgency();
  OpenSet();
  const std::string log_path = files_.log().path();

  EXPECT_EQ(Export("07"), ExportOutcome::kWritten);

  EXPECT_THAT(op_.statuses, ElementsAre("Done!"));
  EXPECT_FALSE(files_.log().is_open());
  EXPECT_EQ(LookUpGl("1000"), kStatusNotOpen);
  EXPECT_THAT(
      ReadLines(log_path),
      ElementsAre("Opened AP file [ap]", "Opened ExtAP file [extap]", "Opened JCKI file [jcki]",
                  "Opened Desc file [desc]", "Opened TransNDX file [trans.ndx]",
                  "Opened Pol file [pol]", "Beginning dump of GL Codes", "Closing data files",
                  "Dump of GL Codes Complete, exiting"));
}

TEST_F(GlExportTest, AgencyWithoutGlAccountsGivesTheHeaderOnly) {
  PutFixtureAgency();
  const struct {
    std::string agency;
    std::string why;
  } kCases[] = {
      {"06", "the scan meets agency 07's first record"},
      {"99", "the scan meets the end of the file"},
  };
  for (const auto& c : kCases) {
    const std::string path = dir_.File(c.agency + ".csv");
    RecordingOperator op;
    EXPECT_EQ(ExportOnNewSet({c.agency, path}, op), ExportOutcome::kWritten) << c.why;
    EXPECT_EQ(ReadFile(path), kHeader) << c.why;
    EXPECT_THAT(op.errors, IsEmpty()) << c.why;
    EXPECT_THAT(op.statuses, ElementsAre("Done!")) << c.why;
  }
}

TEST_F(GlExportTest, OneCharacterAgencyExportsOnlyItsOwnRecords) {
  PutMaster(kGlKind, " 1", "1000", "Blank One", 'A', "000");
  PutMaster(kGlKind, "01", "1100", "Zero One", 'A', "000");
  PutMaster(kGlKind, "10", "1200", "One Zero", 'A', "000");
  PutMaster(kGlKind, "1 ", "1300", "One Blank", 'A', "000");
  PutMaster(kGlKind, " 2", "1400", "Blank Two", 'A', "000");
  PutMaster(kDepartmentKind, " 1", "GA", "Department of Blank One");
  PutMaster("009000", " 1", "1000", "Another kind", 'A', "000");
  OpenSet();

  EXPECT_EQ(Export("1"), ExportOutcome::kWritten);

  EXPECT_EQ(ReadFile(csv_path_), kHeader + Row("1000", "Blank One", "None", "Debit"));
}

TEST_F(GlExportTest, DeclinedOverwriteKeepsTheOldFileAndTheSetOpen) {
  PutFixtureAgency();
  WriteFile(csv_path_, "old content\r\n");
  OpenSet();
  op_.confirm_answer = false;

  EXPECT_EQ(Export("07"), ExportOutcome::kDeclined);

  EXPECT_THAT(op_.prompts, ElementsAre("[" + csv_path_ + "] exists. Overwrite?"));
  EXPECT_THAT(op_.errors, IsEmpty());
  EXPECT_EQ(ReadFile(csv_path_), "old content\r\n");
  EXPECT_FALSE(TempFileLeft());
  EXPECT_TRUE(files_.files_open());
  EXPECT_TRUE(files_.log().is_open());
  EXPECT_EQ(LookUpGl("1120"), kStatusOk);  // a following operation uses the set as it is

  // Pressing the button again uses the open files, with a run log of its own; this time the
  // answer is Yes.
  const std::string log_path = files_.log().path();
  OpenSet();
  op_.confirm_answer = true;
  EXPECT_EQ(Export("07"), ExportOutcome::kWritten);
  EXPECT_THAT(ReadFile(csv_path_), HasSubstr("Six Digit Account"));
  EXPECT_NE(files_.log().path(), log_path);
}

TEST_F(GlExportTest, OverwriteReplacesTheOldFile) {
  PutMaster(kGlKind, "07", "1000", "Cash in Bank", 'A', "009");
  const std::string want = kHeader + Row("1000", "Cash in Bank", "Bank", "Debit");
  const struct {
    std::string file;
    bool ask;
    size_t prompts;
  } kCases[] = {
      {"yes.csv", true, 1},      // the operator says Yes
      {"forced.csv", false, 0},  // forced from the command line: no question
  };
  for (const auto& c : kCases) {
    const std::string path = dir_.File(c.file);
    WriteFile(path, std::string(5000, 'x'));  // longer than the new content
    RecordingOperator op;
    op.confirm_answer = true;

    EXPECT_EQ(ExportOnNewSet({"07", path, c.ask}, op), ExportOutcome::kWritten) << c.file;

    EXPECT_EQ(ReadFile(path), want) << c.file;
    EXPECT_EQ(op.prompts.size(), c.prompts) << c.file;
  }
  EXPECT_FALSE(TempFileLeft());
}

TEST_F(GlExportTest, FileNameNearTheLengthLimitIsWritten) {
  OpenSet();
  csv_path_ = dir_.File(std::string(240, 'a') + ".csv");  // no room for a longer temporary name

  EXPECT_EQ(Export("07"), ExportOutcome::kWritten);

  EXPECT_EQ(ReadFile(csv_path_), kHeader);
  EXPECT_THAT(op_.errors, IsEmpty());
  EXPECT_FALSE(TempFileLeft());
}

TEST_F(GlExportTest, CreateFailureNamesTheFileAndLeavesTheSetOpen) {
  PutFixtureAgency();
  OpenSet();
  csv_path_ = dir_.File("missing-folder/chart.csv");

  EXPECT_EQ(Export("07"), ExportOutcome::kFailed);

  EXPECT_THAT(op_.errors,
              ElementsAre("Error creating " + csv_path_ + " :" + std::strerror(ENOENT)));
  EXPECT_FALSE(std::filesystem::exists(csv_path_));
  EXPECT_TRUE(files_.log().is_open());
  EXPECT_EQ(LookUpGl("1000"), kStatusOk);
  EXPECT_THAT(op_.statuses, IsEmpty());
}

TEST_F(GlExportTest, FolderInPlaceOfTheFileIsRefusedWithoutAQuestion) {
  OpenSet();
  csv_path_ = dir_.path().string();
  op_.confirm_answer = true;

  EXPECT_EQ(Export("07"), ExportOutcome::kFailed);

  EXPECT_THAT(op_.prompts, IsEmpty());
  EXPECT_THAT(op_.errors,
              ElementsAre("Error creating " + csv_path_ + " :" + std::strerror(EISDIR)));
  EXPECT_TRUE(std::filesystem::is_directory(csv_path_));
}

TEST_F(GlExportTest, AgencyCodeLongerThanTwoCharactersIsRefused) {
  PutMaster(kGlKind, "12", "1000", "Cash in Bank", 'A', "009");
  WriteFile(csv_path_, "old content\r\n");
  OpenSet();
  op_.confirm_answer = true;

  EXPECT_EQ(Export("123"), ExportOutcome::kFailed);

  EXPECT_THAT(op_.errors, ElementsAre(HasSubstr("[123] is longer than 2 characters")));
  EXPECT_THAT(op_.prompts, IsEmpty());
  EXPECT_EQ(ReadFile(csv_path_), "old content\r\n");
  EXPECT_FALSE(TempFileLeft());
  EXPECT_TRUE(files_.log().is_open());
}

TEST_F(GlExportTest, FailedReadIsNotPassedOffAsAShortChart) {
  PutFixtureAgency();
  WriteFile(csv_path_, "old content\r\n");
  OpenSet();
  files_.ap().Close();  // every read on the handle now fails with status 3

  EXPECT_EQ(Export("07", /*ask_before_overwrite=*/false), ExportOutcome::kFailed);

  EXPECT_THAT(op_.errors, ElementsAre("Unable to read the GL codes of agency [07] from ap file ap, "
                                      "status is 3"));
  EXPECT_EQ(ReadFile(csv_path_), "old content\r\n");
  EXPECT_FALSE(TempFileLeft());
  EXPECT_THAT(op_.statuses, IsEmpty());
  EXPECT_TRUE(files_.log().is_open());
}

// Limits the size of files this process may write, as a full disk would.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    old_handler_ = std::signal(SIGXFSZ, SIG_IGN);  // a failed write, not a killed process
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, old_handler_);
  }

 private:
  rlimit saved_{};
  void (*old_handler_)(int) = nullptr;
};

TEST_F(GlExportTest, WriteFailureLeavesTheOldFileAsItWas) {
  PutFixtureAgency();
  WriteFile(csv_path_, "old content\r\n");
  OpenSet();

  ExportOutcome outcome;
  {
    FileSizeLimit limit(100);  // the header and one row fit, the chart does not
    outcome = Export("07", /*ask_before_overwrite=*/false);
  }

  EXPECT_EQ(outcome, ExportOutcome::kFailed);
  EXPECT_THAT(op_.errors, ElementsAre("Error writing " + csv_path_ + " :" + std::strerror(EFBIG)));
  EXPECT_EQ(ReadFile(csv_path_), "old content\r\n");
  EXPECT_FALSE(TempFileLeft());
  EXPECT_THAT(op_.statuses, IsEmpty());
  EXPECT_TRUE(files_.log().is_open());
  EXPECT_EQ(LookUpGl("1000"), kStatusOk);
}

// The export needs the master file only: without it nothing is written; without the files it
// only opens, it says so once and writes the chart. Either way the run log holds the message.
TEST(ExportRunOpen, FailuresAreRunLogLinesAndOnlyTheMasterFileStopsTheExport) {
  const std::string kOpened =
      "Opened AP file [ap]\r\nOpened ExtAP file [extap]\r\nOpened JCKI file [jcki]\r\n"
      "Opened Desc file [desc]\r\nOpened TransNDX file [trans.ndx]\r\nOpened Pol file [pol]\r\n";
  const auto no_such = [](std::string_view what, std::string_view name) {
    return "Unable to open " + std::string(what) + " file " + std::string(name) +
           " (the store has no file of that name), status is 12";
  };
  const struct {
    std::vector<std::string> missing;
    ExportOutcome want;
    std::string want_message;
    std::string want_log;
  } kCases[] = {
      {{"ap"},
       ExportOutcome::kSetupFailed,
       no_such("ap", "ap") + "\nNothing was done.",
       kOpened + no_such("ap", "ap") + "\r\nNothing was done.\r\n"},
      {{"jcki", "pol"},
       ExportOutcome::kWritten,
       no_such("Jcki", "jcki") + "\n" + no_such("pol", "pol"),
       kOpened + no_such("Jcki", "jcki") + "\r\n" + no_such("pol", "pol") +
           "\r\nBeginning dump of GL Codes\r\nClosing data files\r\n"
           "Dump of GL Codes Complete, exiting\r\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.missing.front());
    TempDir dir;
    ASSERT_EQ(OpenRecordStore(dir.path().string(), "", /*create=*/true), 0);
    for (const StandardFile& f : kStandardFiles) {
      if (std::find(c.missing.begin(), c.missing.end(), f.name) == c.missing.end()) {
        ASSERT_EQ(btrCreateFile(f.name, f.record_length, f.key_length), 0);
      }
    }
    ClientFileSet files(
        nullptr, [] { return std::string("T"); }, dir.path().string());
    RecordingOperator op;
    const std::string csv = dir.File("chart.csv");
    EXPECT_EQ(ExportRun(files, op).Run({"07", csv}), c.want);
    EXPECT_THAT(op.errors, ElementsAre(c.want_message));
    EXPECT_EQ(std::filesystem::exists(csv), c.want == ExportOutcome::kWritten);
    EXPECT_EQ(ReadFile(dir.File("balances_T.txt")), c.want_log);
  }
}

TEST(SubLedgerName, NamesTheTenCodesAndPassesOthersThrough) {
  const struct {
    std::string_view code, want;
  } kCases[] = {
      {"000", "None"},      {"001", "Clients"},
      {"002", "Producer"},  {"003", "Company/Vendor"},
      {"004", "Agency"},    {"005", "Department"},
      {"006", "ClassCode"}, {"007", "Transaction"},
      {"008", "GL Code"},   {"009", "Bank"},
      {"010", "010"},       {"00A", "00A"},
      {"   ", "   "},       {"0", "0"},
      {"0000", "0000"},
  };
  for (const auto& c : kCases) EXPECT_EQ(SubLedgerName(c.code), c.want) << "[" << c.code << "]";
}

TEST(NormalBalanceName, DebitOrCreditByTypeCaseSensitively) {
  const struct {
    std::string_view ap_type, want;
  } kCases[] = {
      {"A", "Debit"},  {"E", "Debit"}, {"L", "Credit"}, {"I", "Credit"},
      {"C", "Credit"}, {"X", "X"},     {" ", " "},      {"a", "a"},  // lower case is not a type
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(NormalBalanceName(c.ap_type), c.want) << "[" << c.ap_type << "]";
  }
}

}  // namespace
}  // namespace quillmere
