// A record write that fails in the middle of a posted row (a full disk, an I/O error, a store
// that has become read-only) leaves no half-written row: the row is rolled back, the run stops
// with a message naming the line, and every row before it is whole. The store underneath is
// the real one; only the chosen write is failed, through the store's fault seam.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fault/fault_support.h"
#include "import/import_run.h"
#include "recfiles/CBtrvKafImport.h"
#include "recfiles/store_faults.h"
#include "support/test_support.h"

namespace quillmere::testing {
namespace {

using ::testing::HasSubstr;

constexpr int kRows = 12;

class WriteFailure : public ::testing::Test {
 protected:
  void SetUp() override {
    settings_ = MakeFaultAgency(dir_.path(), kRows, "");
    plan_ = PlanImport(kRows);
    WriteFile(dir_.File("balances.csv"), plan_.csv);
  }
  void TearDown() override { SetStoreFaults(nullptr); }

  // Fails the `nth` store operation named `operation` (1 = the first during pass 2) with
  // `status`, runs the import, and returns its outcome.
  ImportOutcome RunFailing(const std::string& operation, int nth, int16_t status) {
    files_ = std::make_unique<ClientFileSet>(
        nullptr, [] { return std::string("stamp"); }, dir_.path().string());
    ImportRun run(*files_, op_, [] { return DateTime{{2025, 1, 2}, 10, 0, 0}; });
    ImportRequest request;
    request.agency_code = kAgency;
    request.posting_date = "12/31/2024";
    request.csv_path = dir_.File("balances.csv");
    request.first_je_number = PlannedImport::kFirstJe;
    request.first_inv_number = PlannedImport::kFirstInv;
    // Pass 1 writes nothing; the fault counts from the first write on.
    FailNthWrite fault(operation, status, nth);
    SetStoreFaults(&fault);
    const ImportOutcome outcome = run.Run(request);
    SetStoreFaults(nullptr);
    summary_ = run.summary();
    return outcome;
  }

  TempDir dir_;
  std::string settings_;
  PlannedImport plan_;
  RecordingOperator op_;
  std::unique_ptr<ClientFileSet> files_;
  ImportSummary summary_;
};

TEST_F(WriteFailure, RowRolledBackAndRunStopsAtIt) {
  // A control-account row stores 13 or 14 records and an ordinary one 2, each a replace-by-key
  // write (an insert) in the row's transaction; the commit ends the row.
  const struct {
    const char* operation;
    int nth;
    int16_t status;
    int failing_row;  // 0-based row of the CSV
  } kCases[] = {
      {"insert", 1, kStatusDiskFull, 0},   // the first record of the first row
      {"insert", 7, kStatusDiskFull, 0},   // the middle of an invoice
      {"insert", 13, kStatusDiskFull, 0},  // the policy record, the row's last write
      {"insert", 14, kStatusIoError, 1},   // the first write of the second row
      {"insert", 42, kStatusDiskFull, 3},  // an ordinary GL's description (13 + 14 + 13 + 2)
      // The run journal commits twice before the first row (its tables, the run's entry).
      {"commit", 5, kStatusDiskFull, 2},  // the commit of the third row
      {"commit", 3, kStatusIoError, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.operation) + " #" + std::to_string(c.nth));
    TempDir case_dir;
    settings_ = MakeFaultAgency(case_dir.path(), kRows, "");
    op_ = RecordingOperator();
    ASSERT_EQ(RunFailing(c.operation, c.nth, c.status), ImportOutcome::kStopped);

    const std::string line_number = std::to_string(c.failing_row + 2);  // after the header
    EXPECT_THAT(op_.errors,
                ::testing::Contains(HasSubstr("Posting stopped at line " + line_number + " [" +
                                              plan_.rows[c.failing_row].line + "]")));
    EXPECT_THAT(op_.errors,
                ::testing::Contains(HasSubstr("status is " + std::to_string(c.status))));
    EXPECT_EQ(summary_.posted, c.failing_row);

    const std::vector<RowState> states = RowStates(plan_);
    for (int i = 0; i < kRows; ++i) {
      if (i < c.failing_row) {
        EXPECT_TRUE(states[i].whole())
            << "row " << i << ": " << states[i].found << " of " << states[i].expected;
      } else {
        EXPECT_TRUE(states[i].absent())
            << "row " << i << ": " << states[i].found << " of " << states[i].expected;
      }
    }
    EXPECT_EQ(CheckStore(), "ok");
    // The run log's last row line names the row that was rolled back.
    const std::vector<std::string> rows = RowLines(files_->log().path());
    ASSERT_EQ(rows.size(), static_cast<size_t>(c.failing_row + 1));
    EXPECT_THAT(rows.back(), HasSubstr("GL [" + plan_.rows[c.failing_row].gl + "]"));
    files_.reset();
  }
}

}  // namespace
}  // namespace quillmere::testing
