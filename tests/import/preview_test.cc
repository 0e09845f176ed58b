// What a check shows a clean file will post, on a fixture agency in the real store: the trial
// balance, the numbers, the writes and the warnings, and that they are what the posting does.
#include "import/preview.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

#include "import/import_run.h"
#include "support/fixture_agency.h"
#include "support/test_support.h"

namespace quillmere {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr char kHeader[] = "GL,Name,SubType,Normal,Dept,Value\r\n";
const DateTime kNow{{2025, 1, 15}, 9, 30, 0};

class PreviewTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::MakeFixtureAgency(dir_.path()); }

  ImportOutcome Check(const std::string& rows) {
    testing::WriteFile(csv_, kHeader + rows);
    return run_.Check({"01", "12/31/2024", csv_, 100000, 500000});
  }
  const Preview& preview() const { return run_.summary().preview; }

  testing::TempDir dir_;
  std::string csv_ = dir_.File("balances.csv");
  testing::RecordingOperator op_;
  ClientFileSet files_{nullptr, [] { return std::string("T"); }, dir_.path().string()};
  ImportRun run_{files_, op_, [] { return kNow; }};
};

std::vector<PreviewWarning::Kind> Kinds(const Preview& preview) {
  std::vector<PreviewWarning::Kind> kinds;
  for (const PreviewWarning& warning : preview.warnings) kinds.push_back(warning.kind);
  return kinds;
}

using Kind = PreviewWarning::Kind;

TEST_F(PreviewTest, TrialBalanceOfTheFile) {
  const struct {
    const char* name;
    std::string rows;
    std::vector<AccountTotal> want_accounts;
    int64_t want_zero_rows;
    std::vector<Kind> want_warnings;
  } kCases[] = {
      {"balanced",
       "4000,Commission,NONE,Credit,GA,-100\r\n1000,Cash,NONE,Debit,GA,60\r\n"
       "5000,Expense,NONE,Debit,01,40\r\n",
       {{"1000", 1, 6000, 0}, {"4000", 1, 0, 10000}, {"5000", 1, 4000, 0}},
       0,
       {}},
      {"out of balance: warned, not refused",
       "1000,Cash,NONE,Debit,GA,3571.07\r\n4000,Commission,NONE,Credit,GA,-0\r\n",
       {{"1000", 1, 357107, 0}},
       1,
       {Kind::kOutOfBalance}},
      // Parties of one control account: C001 on two rows shares one placeholder policy.
      {"control accounts and their parties",
       "1120,Clients,C001,Debit,GA,50\r\n1120,Clients,1234,Debit,01,10\r\n"
       "1120,Clients,C001,Debit,01,25.5\r\n1130,Company,7,Debit,GA,-5\r\n"
       "2110,Company,ABC,Credit,GA,-80.5\r\n",
       {{"1120", 3, 8550, 0, true, 2, 1},
        {"1130", 1, 0, 500, true, 1, 0},
        {"2110", 1, 0, 8050, true, 1, 0}},
       0,
       {}},
      {"zero rows only",
       "1000,Cash,NONE,Debit,GA,0\r\n4000,X,NONE,Credit,GA,0.00\r\n",
       {},
       2,
       {Kind::kNoAmount}},
      {"header only", "", {}, 0, {Kind::kNoAmount}},
      // Each row rounds to the cent as its record holds it, half a cent away from zero; 0.015
      // is held as 0.01499... and its record says one cent.
      {"half cents",
       "1000,Cash,NONE,Debit,GA,0.125\r\n1000,Cash,NONE,Debit,GA,-0.125\r\n"
       "4000,X,NONE,Credit,GA,0.005\r\n4000,X,NONE,Credit,GA,-0.015\r\n"
       "5000,X,NONE,Debit,GA,0.004\r\n",
       {{"1000", 2, 13, 13}, {"4000", 2, 1, 1}, {"5000", 1, 0, 0}},
       0,
       {}},
      // A SubType still holding the template's kind name would be stored as a code; "None" is
      // no code at all, and a control account's is checked against its master file.
      {"kind names",
       "1000,Cash,Bank,Debit,GA,5\r\n5000,Expense,agency,Debit,GA,-5\r\n"
       "4000,X,None,Credit,GA,1\r\n4000,X,NONE,Credit,GA,-1\r\n",
       {{"1000", 1, 500, 0}, {"4000", 2, 100, 100}, {"5000", 1, 0, 500}},
       0,
       {Kind::kKindName, Kind::kKindName}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(Check(c.rows), ImportOutcome::kClean);
    ASSERT_TRUE(run_.summary().previewed);
    EXPECT_EQ(preview().accounts, c.want_accounts);
    EXPECT_EQ(preview().zero_rows, c.want_zero_rows);
    int64_t debit = 0, credit = 0;
    for (const AccountTotal& account : c.want_accounts) {
      debit += account.debit_cents;
      credit += account.credit_cents;
    }
    EXPECT_EQ(preview().debit_cents, debit);
    EXPECT_EQ(preview().credit_cents, credit);
    EXPECT_EQ(Kinds(preview()), c.want_warnings);
  }
}

TEST_F(PreviewTest, WarningsSayWhatAndWhere) {
  ASSERT_EQ(Check("4000,X,NONE,Credit,GA,-1\r\n1000,Cash,Bank,Debit,GA,3572.07\r\n"),
            ImportOutcome::kClean);
  ASSERT_EQ(preview().warnings.size(), 2u);
  EXPECT_EQ(preview().warnings[0].line_number, 0);
  EXPECT_THAT(preview().warnings[0].text, HasSubstr("out of balance by 3571.07"));
  EXPECT_EQ(preview().warnings[1].line_number, 3);
  EXPECT_THAT(preview().warnings[1].text, HasSubstr("SubType [Bank] of GL 1000"));
}

// The counts come from the posting itself: the numbers it draws past those in use, and per
// record file the records it adds and those it writes over. The same file posted then adds
// exactly what the preview said.
TEST_F(PreviewTest, ForecastIsWhatThePostingThenDoes) {
  const std::string rows =
      "4000,Commission,NONE,Credit,GA,-100\r\n"
      "1120,Clients,C001,Debit,GA,50\r\n"
      "1000,Cash,NONE,Debit,GA,0\r\n"
      "1120,Clients,C001,Debit,01,20\r\n"
      "2120,Producer,P01,Credit,GA,30\r\n";
  // Numbers another program holds inside the range are passed over.
  ASSERT_EQ(Check(rows), ImportOutcome::kClean);
  const Preview first = preview();
  EXPECT_EQ(first.first_je, 100001);
  EXPECT_EQ(first.last_je, 100004);
  EXPECT_EQ(first.first_inv, 500001);
  EXPECT_EQ(first.last_inv, 500003);

  const auto count = [](const std::string& file) {
    return static_cast<int64_t>(testing::DumpRecords(file).size());
  };
  std::map<std::string, int64_t> before;
  for (const char* file : {"jcki", "desc", "pol"}) before[file] = count(file);

  testing::RecordingOperator op;
  ClientFileSet files(
      nullptr, [] { return std::string("P"); }, dir_.path().string());
  ImportRun posting(files, op, [] { return kNow; });
  Preview approved;
  LoadOptions load;
  load.approve = [&](const Preview& shown) {
    approved = shown;
    return true;
  };
  ASSERT_EQ(posting.Run({"01", "12/31/2024", csv_, 100000, 500000}, load), ImportOutcome::kPosted);
  EXPECT_EQ(approved, first);
  const ImportSummary& done = posting.summary();
  EXPECT_EQ(done.first_je, "100001");
  EXPECT_EQ(done.last_je, "100004");
  EXPECT_EQ(done.first_inv, "500001");
  EXPECT_EQ(done.last_inv, "500003");
  ASSERT_EQ(first.record_writes.size(), 3u);
  for (const RecordFileWrites& writes : first.record_writes) {
    SCOPED_TRACE(writes.file);
    EXPECT_EQ(count(writes.file) - before[writes.file], writes.inserted);
  }
  // The party on two rows: its second row writes its policy record over the first's.
  EXPECT_EQ(first.record_writes[2], (RecordFileWrites{"pol", 2, 1}));
  EXPECT_EQ(first.record_writes[0].replaced, 0);
}

// With used numbers inside the range and the file posted once already: the forecast passes
// over both, and a second posting writes over the placeholder policies it finds.
TEST_F(PreviewTest, ForecastAfterAnEarlierPostingAndUsedNumbers) {
  const std::string rows = "1120,Clients,C001,Debit,GA,50\r\n4000,X,NONE,Credit,GA,-50\r\n";
  ASSERT_EQ(Check(rows), ImportOutcome::kClean);
  {
    ClientFileSet files(
        nullptr, [] { return std::string("P"); }, dir_.path().string());
    testing::RecordingOperator op;
    ImportRun posting(files, op, [] { return kNow; });
    ASSERT_EQ(posting.Run({"01", "12/31/2024", csv_, 100000, 500000}), ImportOutcome::kPosted);
  }
  ASSERT_EQ(Check(rows), ImportOutcome::kClean);
  EXPECT_EQ(preview().first_je, 100003);
  EXPECT_EQ(preview().last_je, 100004);
  EXPECT_EQ(preview().first_inv, 500002);
  EXPECT_EQ(preview().last_inv, 500002);
  ASSERT_EQ(preview().record_writes.size(), 3u);
  EXPECT_EQ(preview().record_writes[2], (RecordFileWrites{"pol", 0, 1}));
}

TEST_F(PreviewTest, DeclinedPreviewPostsNothing) {
  testing::WriteFile(csv_, std::string(kHeader) + "4000,X,NONE,Credit,GA,-50\r\n");
  LoadOptions load;
  load.approve = [](const Preview&) { return false; };
  ClientFileSet files(
      nullptr, [] { return std::string("C"); }, dir_.path().string());
  testing::RecordingOperator op;
  ImportRun run(files, op, [] { return kNow; });
  EXPECT_EQ(run.Run({"01", "12/31/2024", csv_, 100000, 500000}, load), ImportOutcome::kCancelled);
  EXPECT_THAT(testing::DumpRecords("jcki"), IsEmpty());
  const std::vector<std::string> log = testing::ReadLines(dir_.File("balances_C.txt"));
  ASSERT_GE(log.size(), 2u);
  EXPECT_THAT(std::vector<std::string>(log.end() - 2, log.end()),
              ElementsAre("Cancelled at the preview; nothing was posted", "All done"));
  EXPECT_EQ(op.statuses.back(), "Cancelled at the preview; nothing was posted");
  // The same file can be posted after all: a cancel is no posting.
  EXPECT_EQ(run.Run({"01", "12/31/2024", csv_, 100000, 500000}), ImportOutcome::kPosted);
}

}  // namespace
}  // namespace quillmere
