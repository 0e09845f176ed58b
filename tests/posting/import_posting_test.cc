// Whole import runs on the real record-file store and, where the Policy table is involved, the
// private MariaDB: a golden run compared record by record with files written by hand from the
// record layouts, a CSV posted twice, and the ways a run stops or carries on after a failure.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "db/connection.h"
#include "db/sql_policy_table.h"
#include "import/csv_reader.h"
#include "import/import_run.h"
#include "recfiles/CBtrvKafImport.h"
#include "recfiles/record_store.h"
#include "recfiles/store_faults.h"
#include "support/fixture_agency.h"
#include "support/private_server.h"
#include "support/server_connection.h"
#include "support/test_database.h"
#include "support/test_support.h"

namespace quillmere {
namespace {

// How a stopped run's message ends: the way to post the rest.
const std::string kResumeRun1 =
    " To post the rest, import the same file again and resume run 1 (quillmere-cli import "
    "--resume).";

using ::quillmere::testing::ScopedEnv;
using ::quillmere::testing::TestDatabase;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;

const DateTime kNow{{2025, 1, 15}, 10, 20, 30};
constexpr int kFileSetLines = 6;  // "Opened AP file [ap]" ... "Opened Pol file [pol]"

std::string GoldenPath(const std::string& name) {
  return std::string(QUILLMERE_SOURCE_DIR) + "/tests/posting/golden/" + name;
}

// A record shown as its fields between "[" and "]", split by "|" at the layout's field
// boundaries, so a difference points at the field.
std::string Split(std::string_view record, std::initializer_list<int> widths) {
  std::string out = "[";
  size_t at = 0;
  for (int width : widths) {
    if (at != 0) out += "|";
    out += record.substr(at, width);
    at += width;
  }
  if (at < record.size()) out += "|" + std::string(record.substr(at)) + "<beyond the layout";
  return out + "]";
}

std::string ShowJcki(std::string_view r) {
  return Split(r, {2, 1, 6, 2, 3, 2, 1, 4, 3, 6, 6, 1, 8, 2, 6, 10, 3, 8, 1, 6, 2, 3, 13});
}

std::string ShowDesc(std::string_view r) {
  const std::string_view group = r.substr(9, 2);
  if (group == "01") return Split(r, {2, 1, 6, 2, 6, 6, 6, 3, 3, 3, 3, 3, 20});
  if (group == "11") return Split(r, {2, 1, 6, 2, 10, 1, 6, 10, 6, 10, 1, 9});
  if (group == "31") return Split(r, {2, 1, 6, 2, 1, 10, 1, 10, 6, 5, 20});
  return Split(r, {2, 1, 6, 2, 25, 6, 1, 1, 20});  // the text form, "00" and "21"
}

std::string ShowPol(std::string_view r) {
  return Split(r, {2, 20, 2, 1, 2, 6, 6, 2, 3, 3, 3, 6, 3, 3, 6, 2, 6, 1, 1, 1, 1, 10, 10, 10, 10});
}

// The record a shown line stands for: brackets and separators removed.
std::string Unsplit(std::string_view shown) {
  std::string record;
  for (char c : shown.substr(1, shown.size() - 2)) {
    if (c != '|') record += c;
  }
  return record;
}

std::vector<std::string> Shown(const std::string& file, std::string (*show)(std::string_view)) {
  std::vector<std::string> lines;
  for (const std::string& r : testing::DumpRecords(file)) lines.push_back(show(r));
  return lines;
}

// "I500001" / "J100002" for every transaction line, in key order (agency left out).
std::vector<std::string> Documents(const std::string& agency) {
  std::vector<std::string> documents;
  for (const std::string& r : testing::DumpRecords("jcki")) {
    if (r.compare(0, 2, agency) != 0) continue;
    const std::string document = r.substr(2, 7);
    if (documents.empty() || documents.back() != document) documents.push_back(document);
  }
  return documents;
}

void PutRecord(const char* file, const std::string& record) {
  const int32_t handle = CBtrvOapi();
  ASSERT_EQ(btrOpen(handle, "", file, 1, 1, 0), 0) << file;
  uint32_t length = static_cast<uint32_t>(record.size());
  EXPECT_EQ(ReplaceByKey(handle, record.data(), &length), 0);
  (void)btrClose(handle);
}

// A line of document `number` of agency 01 as the host stores it: `type` 'J' or 'I', and a
// line that is not the document's first (any line marks the number as used).
void PutDocumentLine(char type, int number) {
  rJckiRec line;
  Blank(&line);
  const std::string key = std::string("01") + type + std::to_string(number) + "01300";
  std::memcpy(&line, key.data(), key.size());
  PutRecord("jcki", std::string(reinterpret_cast<const char*>(&line), sizeof line));
}

// The fixture agency's master records for agency " 5" (code "5" typed in the window).
void PutAgency5() {
  for (const auto& [code, name, type, sub] : {std::tuple{"1000", "Cash in Bank", 'A', "009"},
                                              {"4000", "Commission Income", 'I', "000"},
                                              {"5000", "Office Expense", 'E', "005"},
                                              {"1120", "Client Receivables", 'A', "001"},
                                              {"1130", "Company Receivables", 'A', "003"},
                                              {"2110", "Company Payables", 'L', "003"},
                                              {"2120", "Producer Payables", 'L', "002"}}) {
    testing::PutMaster(kGlKind, " 5", code, name, type, sub);
  }
  testing::PutMaster(kDepartmentKind, " 5", "GA", "General Agency");
  testing::PutMaster(kDepartmentKind, " 5", "01", "Personal Lines");
  testing::PutMaster(kClientKind, " 5", "C001", "Smith, John");
  testing::PutMaster(kClientKind, " 5", "1234", "Acme Hardware");
  testing::PutMaster(kCompanyKind, " 5", "ABC", "ABC Insurance", 'C');
  testing::PutMaster(kCompanyKind, " 5", "7", "Seventh Mutual", 'C');
  testing::PutMaster(kProducerKind, " 5", "P01", "Pat Producer");
}

// The run log after the file-set lines.
std::vector<std::string> RunLogAfterFileSet(const std::string& path) {
  const std::vector<std::string> lines = testing::ReadLines(path);
  if (lines.size() < kFileSetLines) return lines;
  return std::vector<std::string>(lines.begin() + kFileSetLines, lines.end());
}

// The Policy columns in table order, dates as text.
constexpr char kPolicyColumns[] =
    "AgyCode, PolNum, PolSeq, CltNum, CmpCode, TrnCode, ClsCode, DptCode, InvNum, "
    "DATE_FORMAT(EntryDate, '%Y-%m-%d %H:%i:%s'), DATE_FORMAT(EffectiveDate, '%Y-%m-%d %H:%i:%s'), "
    "DATE_FORMAT(ExpirationDate, '%Y-%m-%d %H:%i:%s'), Status, PQBFlag, CmpStatus, "
    "CurrentPremium, CurrentNonPremium, TotalPremium, TotalNonPremium, NameInsuredCode, "
    "PolicyTermMonths, CancelMethod, MinEarnedPrem, UnearnedFactor, ReturnPremium, WrittenAmt, "
    "DATE_FORMAT(BinderEffectDate, '%Y-%m-%d %H:%i:%s'), "
    "DATE_FORMAT(BinderExpireDate, '%Y-%m-%d %H:%i:%s'), CmpName, StartRiskSeq, CurRiskSeq, "
    "`Prd Code`, `Opr Code`, DATE_FORMAT(PolicyTermExpDate, '%Y-%m-%d %H:%i:%s'), "
    "DATE_FORMAT(PolicyTermEffDate, '%Y-%m-%d %H:%i:%s'), D_filler1, D_filler2, D_filler3, "
    "EndorseNumber, ActiveSeq, TagDesc, OverrideAnnualized, HostNotes, HostRenewalFlag";

// ---------------------------------------------------------------------------------------------
// Runs against the shared test database.

class PostingRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!TestDatabase::Available()) GTEST_SKIP() << TestDatabase::kSkip;
    db_.emplace();
    db_->Connect(QStringLiteral("posting"));
    table_.emplace(QStringLiteral("posting"));
    testing::MakeFixtureAgency(dir_.path());
  }

  ImportOutcome Run(ImportRequest request, const std::string& stamp, DateTime now = kNow,
                    LoadOptions load = {}) {
    ClientFileSet files(
        &*table_, [stamp] { return stamp; }, dir_.path().string());
    ImportRun run(files, op_, [now] { return now; });
    return run.Run(request, load);
  }

  std::vector<std::string> PolicyRows() {
    return db_->Rows(std::string("SELECT ") + kPolicyColumns + " FROM Policy ORDER BY PolicyID");
  }

  // Agency 05 as the golden files find it: its master records, the host's own records of the
  // golden jcki dump (JE 100001, invoice 500002) and a host Policy row on the key of one of the
  // placeholder policies. Returns the request that posts the golden balance sheet for it.
  ImportRequest PrepareGoldenAgency() {
    PutAgency5();
    for (const std::string& shown : testing::ReadLines(GoldenPath("jcki.txt"))) {
      if (shown.find("|HST|") != std::string::npos) PutRecord("jcki", Unsplit(shown));
    }
    db_->Exec(
        "INSERT INTO Policy (AgyCode, PolNum, PolSeq, CltNum, HostNotes, HostRenewalFlag) "
        "VALUES (' 5', 'bf-241231-c001      ', 99, 'HOST', 'host row', 5)");
    ImportRequest request;
    request.agency_code = "5";
    request.posting_date = "12/31/2024";
    request.csv_path = GoldenPath("balances.csv");
    return request;
  }

  testing::TempDir dir_;
  testing::RecordingOperator op_;
  std::optional<TestDatabase> db_;
  std::optional<SqlPolicyTable> table_;
};

// Agency "5" (stored " 5"), every control account, an ordinary account with "NONE" and one with
// a leftover template name as its SGL, a zero row, negative, fractional and half-cent amounts,
// and numbers already in use: JE 100001 (its line 000) and invoice 500002 (only its line
// 01/100), which must be passed over, and agency 05's JE 100003, which must not.
TEST_F(PostingRunTest, GoldenRunWritesEveryRecordAndRowAsTheHostLaysThemOut) {
  const std::vector<std::string> want_jcki = testing::ReadLines(GoldenPath("jcki.txt"));
  ASSERT_EQ(want_jcki.size(), 42u) << "golden file missing or cut";
  const ImportRequest request = PrepareGoldenAgency();
  EXPECT_EQ(Run(request, "golden"), ImportOutcome::kPosted);

  EXPECT_THAT(Shown("jcki", ShowJcki), ElementsAreArray(want_jcki));
  EXPECT_THAT(Shown("desc", ShowDesc),
              ElementsAreArray(testing::ReadLines(GoldenPath("desc.txt"))));
  EXPECT_THAT(Shown("pol", ShowPol), ElementsAreArray(testing::ReadLines(GoldenPath("pol.txt"))));
  EXPECT_THAT(PolicyRows(), ElementsAreArray(testing::ReadLines(GoldenPath("policy_rows.txt"))));
  EXPECT_THAT(RunLogAfterFileSet(dir_.File("balances_golden.txt")),
              ElementsAreArray(testing::ReadLines(GoldenPath("run_log.txt"))));
  // The reminder is the front end's to show with what was posted: no message of the run.
  EXPECT_THAT(op_.errors, IsEmpty());
  EXPECT_THAT(
      op_.statuses,
      ElementsAre("Pass 1: Error Scan", "Processing", "Pass 2: Import [4000][NONE] row 1 of 9",
                  "Pass 2: Import [1000][Bank] row 2 of 9", "Pass 2: Import [5000][01] row 3 of 9",
                  "Pass 2: Import [4000][None] row 4 of 9",
                  "Pass 2: Import [1120][C001] row 5 of 9", "Pass 2: Import [1130][7] row 6 of 9",
                  "Pass 2: Import [2110][ABC] row 7 of 9", "Pass 2: Import [2120][P01] row 8 of 9",
                  "Pass 2: Import [1120][1234] row 9 of 9", "Done!"));
  // The neighbouring agencies' master records and nothing else of theirs was touched.
  EXPECT_THAT(Documents("01"), IsEmpty());
  EXPECT_THAT(Documents("05"), ElementsAre("J100003"));
}

// The preview of the golden file, with its numbers in use and a host's Policy row, is what the
// posting then does; posted once more, its placeholder policies are written over.
TEST_F(PostingRunTest, PreviewOfTheGoldenFileIsWhatItPosts) {
  const ImportRequest request = PrepareGoldenAgency();
  const auto records = [](const std::string& file) {
    return static_cast<int64_t>(testing::DumpRecords(file).size());
  };
  const auto policies = [this] { return std::stoll(db_->Rows("SELECT COUNT(*) FROM Policy")[0]); };

  for (const LoadMode mode : {LoadMode::kNew, LoadMode::kAgain}) {
    SCOPED_TRACE(mode == LoadMode::kNew ? "first" : "again");
    const int64_t jcki = records("jcki"), desc = records("desc"), pol = records("pol");
    const int64_t rows = policies();
    std::optional<Preview> shown;
    LoadOptions load{mode};
    load.approve = [&](const Preview& preview) {
      shown = preview;
      return true;
    };
    ClientFileSet files(
        &*table_, [] { return std::string("preview"); }, dir_.path().string());
    ImportRun run(files, op_, [] { return kNow; });
    ASSERT_EQ(run.Run(request, load), ImportOutcome::kPosted);
    ASSERT_TRUE(shown);
    const ImportSummary& done = run.summary();
    EXPECT_EQ(LeftPadZero(std::to_string(shown->first_je), 6), done.first_je);
    EXPECT_EQ(LeftPadZero(std::to_string(shown->last_je), 6), done.last_je);
    EXPECT_EQ(LeftPadZero(std::to_string(shown->first_inv), 6), done.first_inv);
    EXPECT_EQ(LeftPadZero(std::to_string(shown->last_inv), 6), done.last_inv);
    ASSERT_EQ(shown->record_writes.size(), 3u);
    EXPECT_EQ(shown->record_writes[0].file, "jcki");
    EXPECT_EQ(shown->record_writes[0].inserted, records("jcki") - jcki);
    EXPECT_EQ(shown->record_writes[1].inserted, records("desc") - desc);
    EXPECT_EQ(shown->record_writes[2].inserted, records("pol") - pol);
    EXPECT_EQ(shown->policy_inserted, policies() - rows);
    const int64_t placeholders = 5;  // the file's five control-account parties
    EXPECT_EQ(shown->policy_inserted + shown->policy_updated, placeholders);
    EXPECT_EQ(shown->record_writes[2].inserted + shown->record_writes[2].replaced, placeholders);
    if (mode == LoadMode::kNew) {
      EXPECT_EQ(shown->first_je, 100002);   // 100001 is the host's
      EXPECT_EQ(shown->policy_updated, 0);  // the host's row differs in case: another key
    } else {
      EXPECT_EQ(shown->policy_updated, placeholders);
      EXPECT_EQ(shown->record_writes[2].replaced, placeholders);
    }
  }
}

TEST_F(PostingRunTest, PostingTheSameFileTwiceTakesNewNumbersAndReplacesThePolicies) {
  testing::WriteFile(dir_.File("balances.csv"),
                     "GL,Name,SubType,Normal,Dept,Value\r\n"
                     "4000,Commission Income,NONE,Credit,GA,100\r\n"
                     "1120,Client Receivables,C001,Debit,GA,50\r\n"
                     "2120,Producer Payables,P01,Credit,GA,-20\r\n");
  ImportRequest request;
  request.agency_code = "01";
  request.posting_date = "12/31/2024";
  request.csv_path = dir_.File("balances.csv");
  ASSERT_EQ(Run(request, "first"), ImportOutcome::kPosted);
  db_->Exec("UPDATE Policy SET HostNotes = 'kept by the host', HostRenewalFlag = 3");

  const DateTime later{{2025, 1, 16}, 8, 0, 0};
  // The same content again is refused unless posted again on purpose.
  ASSERT_EQ(Run(request, "refused", later), ImportOutcome::kAlreadyPosted);
  ASSERT_EQ(Run(request, "second", later, LoadOptions{LoadMode::kAgain}), ImportOutcome::kPosted);

  EXPECT_THAT(Documents("01"), ElementsAre("I500001", "I500002", "I500003", "I500004", "J100001",
                                           "J100002", "J100003", "J100004", "J100005", "J100006"));
  const std::vector<std::string> second_log = testing::ReadLines(dir_.File("balances_second.txt"));
  EXPECT_THAT(second_log, Contains(StartsWith("Adding Single JE [100004] GL [4000]")));
  EXPECT_THAT(second_log, Contains(StartsWith("Adding Invoice  [500003] with JE [] type [CLT]")));
  EXPECT_THAT(second_log,
              Contains(StartsWith("Adding Matched JE [100006] matched to invoice [500004]")));

  // One policy record per policy number, naming the second run's invoice and entry date.
  std::vector<std::string> pol_fields;
  for (const std::string& r : testing::DumpRecords("pol")) {
    pol_fields.push_back(r.substr(0, 22) + "|" + r.substr(33, 6) + "|" + r.substr(50, 6));
  }
  EXPECT_THAT(pol_fields, ElementsAre("01BF-241231--PRD-P01  |500004|<50116",
                                      "01BF-241231-C001      |500003|<50116"));
  EXPECT_THAT(
      db_->Rows("SELECT PolNum, InvNum, DATE_FORMAT(EntryDate, '%Y-%m-%d %H:%i:%s'), HostNotes, "
                "HostRenewalFlag FROM Policy ORDER BY PolicyID"),
      ElementsAre("BF-241231-C001      |500003|2025-01-16 08:00:00|kept by the host|3",
                  "BF-241231--PRD-P01  |500004|2025-01-16 08:00:00|kept by the host|3"));
}

// A row's records and its Policy row are kept together: whatever fails in the row, after the
// Policy row was written or before, leaves neither in place.
TEST_F(PostingRunTest, AFailedRowLeavesNeitherItsRecordsNorItsPolicyRow) {
  // The ordinary row stores 2 records, the client row 13 (its policy record last, then its
  // Policy row); each row ends with one commit, after the run journal's two (its tables, the
  // run's entry).
  const struct {
    const char* operation;
    int nth;
    std::string want_reason;
  } kCases[] = {
      {"insert", 3,
       "a record of the line could not be stored, status is 18 (the disk is full)"},  // its first
      {"insert", 15,
       "a record of the line could not be stored, status is 18 (the disk is full)"},  // its policy
      {"commit", 4,
       "the records could not be committed, status is 18 (the disk is full)"},  // after the Policy
                                                                                // row
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.operation) + " #" + std::to_string(c.nth));
    testing::TempDir dir;
    testing::MakeFixtureAgency(dir.path());
    db_->Exec("DELETE FROM Policy");
    testing::WriteFile(dir.File("b.csv"),
                       "GL,Name,SubType,Normal,Dept,Value\r\n"
                       "4000,Commission Income,NONE,Credit,GA,100\r\n"
                       "1120,Client Receivables,C001,Debit,GA,50\r\n"
                       "5000,Office Expense,NONE,Debit,01,10\r\n");
    testing::RecordingOperator op;
    ClientFileSet files(
        &*table_, [] { return std::string("T"); }, dir.path().string());
    ImportRun run(files, op, [] { return kNow; });
    FailNthWrite fault(c.operation, kStatusDiskFull, c.nth);
    SetStoreFaults(&fault);
    const ImportOutcome outcome = run.Run({"01", "12/31/2024", dir.File("b.csv"), 100000, 500000});
    SetStoreFaults(nullptr);
    EXPECT_EQ(outcome, ImportOutcome::kStopped);
    EXPECT_THAT(Documents("01"), ElementsAre("J100001"));
    EXPECT_THAT(testing::DumpRecords("pol"), IsEmpty());
    EXPECT_THAT(db_->Rows("SELECT PolNum FROM Policy"), IsEmpty());
    ASSERT_FALSE(op.errors.empty());
    EXPECT_EQ(
        op.errors.back(),
        "Posting stopped at line 3 [1120,Client Receivables,C001,Debit,GA,50]: " + c.want_reason +
            ". The records of that line were rolled back; the lines before it are posted." +
            kResumeRun1);
  }
}

// ---------------------------------------------------------------------------------------------
// A database server of the test's own, stopped in the middle of a run.

// Calls `hook` when the status line shows `status`.
class HookedOperator : public testing::RecordingOperator {
 public:
  void SetStatus(const std::string& text) override {
    RecordingOperator::SetStatus(text);
    // The row's status text goes on with its progress ("row 3 of 4").
    if (!on_status.empty() && text.rfind(on_status, 0) == 0 && hook) hook();
  }
  void ShowProgress(long long done, long long total) override {
    // Once: at the end of pass 1's scan, before anything else reaches its end.
    if (done == total && total > 0 && on_scanned) std::exchange(on_scanned, nullptr)();
  }
  std::string on_status;
  std::function<void()> hook, on_scanned;
};

// A connection named `connection` to the private server, as the program opens its own.
void Connect(const testing::PrivateServer& server, const QString& connection) {
  QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), connection);
  db.setHostName(QStringLiteral("127.0.0.1"));
  db.setPort(server.port());
  db.setUserName(QStringLiteral("root"));
  db.setDatabaseName(QString::fromStdString(server.database()));
  ASSERT_TRUE(db.open());
}

// A check or an import of `rows` on a fixture agency in `dir`, through a private server that
// stops when a status beginning with `stop_at` is shown; `*op` keeps what was shown and
// `*summary` what the run did.
ImportOutcome RunWhileTheServerStops(const testing::TempDir& dir, const std::string& rows,
                                     const std::string& stop_at, bool check, HookedOperator* op,
                                     ImportSummary* summary) {
  testing::EnsureCoreApplication();
  testing::MakeFixtureAgency(dir.path());
  testing::PrivateServer server;
  EXPECT_TRUE(server.started()) << server.start_output();
  const QString connection = QStringLiteral("private-server");
  Connect(server, connection);
  if (!server.started() || ::testing::Test::HasFatalFailure()) return ImportOutcome::kSetupFailed;
  const std::string csv = dir.File("balances.csv");
  testing::WriteFile(csv, "GL,Name,SubType,Normal,Dept,Value\r\n" + rows);
  op->on_status = stop_at;
  op->hook = [&server] { server.Stop(); };
  ImportOutcome outcome;
  {
    SqlPolicyTable table(connection);
    ClientFileSet files(
        &table, [] { return std::string("lost"); }, dir.path().string());
    ImportRun run(files, *op, [] { return kNow; });
    const ImportRequest request{"01", "12/31/2024", csv, 100000, 500000};
    outcome = check ? run.Check(request) : run.Run(request);
    *summary = run.summary();
  }
  QSqlDatabase::removeDatabase(connection);
  return outcome;
}

// The database stops answering while the check counts the Policy rows the file will write:
// that is no error of the file, and the check says so rather than reporting a line.
TEST(DatabaseLostTest, CheckWhosePreviewCannotAskTheTableIsNoFileError) {
  if (!TestDatabase::Available()) GTEST_SKIP() << TestDatabase::kSkip;
  testing::TempDir dir;
  HookedOperator op;
  ImportSummary summary;
  const ImportOutcome outcome =
      RunWhileTheServerStops(dir, "1120,Client Receivables,C001,Debit,GA,50\r\n",
                             "Working out what will be posted", /*check=*/true, &op, &summary);
  EXPECT_THAT(summary.errors, IsEmpty());
  EXPECT_FALSE(summary.previewed);
  EXPECT_EQ(outcome, ImportOutcome::kSetupFailed);
  ASSERT_EQ(op.errors.size(), 1u);
  EXPECT_THAT(op.errors[0],
              StartsWith("What the posting will write could not be worked out: The Policy row of "
                         "[BF-241231-C001      ] could not be looked up: "));
}

TEST(DatabaseLostTest, RunStopsAtTheRowAndRollsItsRecordsBack) {
  if (!TestDatabase::Available()) GTEST_SKIP() << TestDatabase::kSkip;
  testing::TempDir dir;
  HookedOperator op;
  ImportSummary summary;
  const ImportOutcome outcome =
      RunWhileTheServerStops(dir,
                             "4000,Commission Income,NONE,Credit,GA,100\r\n"
                             "1120,Client Receivables,C001,Debit,GA,50\r\n"
                             "1130,Company Receivables,7,Debit,01,-250.10\r\n"
                             "5000,Office Expense,NONE,Debit,01,10\r\n",
                             "Pass 2: Import [1130][7]", /*check=*/false, &op, &summary);

  EXPECT_EQ(outcome, ImportOutcome::kStopped);
  // The first two rows whole; nothing of the 1130 row (invoice 500002, JE 100003) or after it.
  EXPECT_THAT(Documents("01"), ElementsAre("I500001", "J100001", "J100002"));
  EXPECT_EQ(testing::DumpRecords("jcki").size(), 1u + 5u + 2u);
  EXPECT_EQ(testing::DumpRecords("desc").size(), 1u + 4u + 1u);
  ASSERT_EQ(testing::DumpRecords("pol").size(), 1u);
  EXPECT_EQ(testing::DumpRecords("pol")[0].substr(0, 22), "01BF-241231-C001      ");

  const std::string stop_lead =
      "Posting stopped at line 4 [1130,Company Receivables,7,Debit,01,-250.10]: The Policy row "
      "of [BF-241231--REC-7    ] could not be written: ";
  const std::string stop_end =
      ". The records of that line were rolled back; the lines before it are posted." + kResumeRun1;
  ASSERT_EQ(op.errors.size(), 1u);
  EXPECT_THAT(op.errors[0], StartsWith(stop_lead));
  EXPECT_THAT(op.errors[0], EndsWith(stop_end));
  const std::vector<std::string> log = RunLogAfterFileSet(dir.File("balances_lost.txt"));
  ASSERT_GE(log.size(), 3u);
  EXPECT_THAT(
      std::vector<std::string>(log.end() - 3, log.end()),
      ElementsAre(op.errors[0], "1 message was shown during this run; each is written above",
                  "All done"));
  EXPECT_THAT(log, Contains(StartsWith("# GL [1130] SGL [     7]")));
  EXPECT_THAT(log, Not(Contains(StartsWith("# GL [5000]"))));
}

// Pauses the server (SIGSTOP) just before the `nth` store commit, after that row's Policy row
// was written: the store then commits, and the database's commit meets a silent server.
class PauseAtCommit : public StoreFaults {
 public:
  PauseAtCommit(testing::PrivateServer& server, int nth) : server_(server), nth_(nth) {}
  int16_t BeforeWrite(std::string_view operation) override {
    if (operation == "commit" && ++commits_ == nth_) paused = server_.Pause();
    return 0;
  }
  bool paused = false;

 private:
  testing::PrivateServer& server_;
  int nth_;
  int commits_ = 0;
};

TEST(DatabaseLostTest, CommitWithoutAnAnswerStopsAndSaysTheRowsOutcomeIsUnknown) {
  if (!TestDatabase::Available()) GTEST_SKIP() << TestDatabase::kSkip;
  testing::EnsureCoreApplication();
  testing::TempDir dir;
  testing::MakeFixtureAgency(dir.path());
  testing::PrivateServer server;
  ASSERT_TRUE(server.started()) << server.start_output();
  const QString connection = QStringLiteral("silent-at-commit");
  const ConnectionParams params = testing::ParamsOf(server, 2);
  std::string error;
  ASSERT_TRUE(OpenConnection(connection, params, &error)) << error;
  testing::WriteFile(dir.File("b.csv"),
                     "GL,Name,SubType,Normal,Dept,Value\r\n"
                     "4000,Commission Income,NONE,Credit,GA,100\r\n"
                     "1120,Client Receivables,C001,Debit,GA,50\r\n"
                     "5000,Office Expense,NONE,Debit,01,10\r\n");
  testing::RecordingOperator op;
  PauseAtCommit pause(server, 4);  // the client row's, after the journal's two and the first row's
  ImportOutcome outcome;
  const auto start = std::chrono::steady_clock::now();
  {
    SqlPolicyTable table(connection);
    ClientFileSet files(
        &table, [] { return std::string("unknown"); }, dir.path().string());
    ImportRun run(files, op, [] { return kNow; });
    SetStoreFaults(&pause);
    outcome = run.Run({"01", "12/31/2024", dir.File("b.csv"), 100000, 500000});
    SetStoreFaults(nullptr);
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  server.Resume();
  QSqlDatabase::removeDatabase(connection);

  ASSERT_TRUE(pause.paused);
  EXPECT_EQ(outcome, ImportOutcome::kStopped);
  EXPECT_LT(seconds, 10.0);
  // The client row's records are stored; nothing of the row after it.
  EXPECT_THAT(Documents("01"), ElementsAre("I500001", "J100001", "J100002"));
  ASSERT_EQ(op.errors.size(), 1u);
  EXPECT_THAT(op.errors[0], StartsWith("Posting stopped at line 3 [1120,Client "
                                       "Receivables,C001,Debit,GA,50]: the database did not "
                                       "confirm the Policy row of that line ("));
  EXPECT_THAT(op.errors[0], EndsWith("). The records of that line are stored; its Policy row "
                                     "will be completed at the next start of the program, before "
                                     "anything else. The lines before it are posted." +
                                     kResumeRun1));
  EXPECT_THAT(RunLogAfterFileSet(dir.File("balances_unknown.txt")), Contains(op.errors[0]));
}

// ---------------------------------------------------------------------------------------------
// Runs without a database: the Policy table is left out, the record files are real.

class RecordRunTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::MakeFixtureAgency(dir_.path()); }

  ImportOutcome Run(const std::string& csv_rows, ImportRequest request = {}) {
    testing::WriteFile(csv_, "GL,Name,SubType,Normal,Dept,Value\r\n" + csv_rows);
    request.agency_code = "01";
    request.posting_date = "12/31/2024";
    request.csv_path = csv_;
    ClientFileSet files(
        nullptr, [] { return std::string("T"); }, dir_.path().string());
    ImportRun run(files, op_, [] { return kNow; });
    return run.Run(request);
  }
  std::vector<std::string> RunLog() { return RunLogAfterFileSet(dir_.File("balances_T.txt")); }

  testing::TempDir dir_;
  std::string csv_ = dir_.File("balances.csv");
  HookedOperator op_;
};

TEST_F(RecordRunTest, StartingNumbersThatLeaveTooFewNumbersStopTheRunAfterTheCheck) {
  const std::string ordinary = "4000,Commission Income,NONE,Credit,GA,100\r\n";
  const std::string control = "1120,Client Receivables,C001,Debit,GA,50\r\n";
  const struct {
    int64_t je, inv;
    std::string rows;
    std::string want_error;
  } kCases[] = {
      {100000, 999999, control,
       "Starting Inv Number [999999] leaves 0 numbers below 1000000 for 1 invoices"},
      {100000, 999998, control + control,
       "Starting Inv Number [999998] leaves 1 numbers below 1000000 for 2 invoices"},
      // Every row takes a JE number: one for the single JE, one for the invoice's matched JE.
      {999998, 500000, ordinary + control,
       "Starting JE Number [999998] leaves 1 numbers below 1000000 for 2 journal entries"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.want_error);
    testing::TempDir dir;
    testing::MakeFixtureAgency(dir.path());
    testing::RecordingOperator op;
    testing::WriteFile(dir.File("b.csv"), "GL,Name,SubType,Normal,Dept,Value\r\n" + c.rows);
    ClientFileSet files(
        nullptr, [] { return std::string("T"); }, dir.path().string());
    ImportRun run(files, op, [] { return kNow; });
    ImportRequest request{"01", "12/31/2024", dir.File("b.csv"), c.je, c.inv};
    EXPECT_EQ(run.Run(request), ImportOutcome::kErrors);
    EXPECT_THAT(RunLogAfterFileSet(dir.File("balances_T.txt")), Contains(c.want_error));
    EXPECT_THAT(testing::DumpRecords("jcki"), IsEmpty());
    EXPECT_THAT(testing::DumpRecords("desc"), IsEmpty());
  }
}

TEST_F(RecordRunTest, TheLastInvoiceNumberIsUsedAndNeverPassed) {
  ImportRequest request;
  request.first_inv_number = 999998;
  EXPECT_EQ(Run("1120,Client Receivables,C001,Debit,GA,50\r\n", request), ImportOutcome::kPosted);
  EXPECT_THAT(Documents("01"), ElementsAre("I999999", "J100001"));
}

// The check counts the free numbers pass 2 will draw, passing over numbers already in use, so
// a file pass 2 would run out of numbers for is refused before anything is posted; with just
// enough free numbers it is posted, and no number is cut to six digits.
TEST_F(RecordRunTest, TheCheckCountsTheFreeNumbersAboveTheStartingNumbers) {
  const std::string ordinary = "4000,Commission Income,NONE,Credit,GA,100\r\n";
  const std::string control = "1120,Client Receivables,C001,Debit,GA,50\r\n";
  const std::vector<std::pair<char, int>> je_in_use = {{'J', 999991}, {'J', 999992}, {'J', 999993},
                                                       {'J', 999994}, {'J', 999995}, {'J', 999996}};
  const std::vector<std::pair<char, int>> inv_in_use = {{'I', 999996}, {'I', 999998}};
  const struct {
    int64_t je, inv;
    std::vector<std::pair<char, int>> in_use;
    std::string rows;
    std::string want_error;              // "" when the file is posted
    std::vector<std::string> documents;  // then the agency's documents afterwards
  } kCases[] = {
      // Nine numbers above 999990: enough for four rows by count, but six are in use.
      {999990,
       500000,
       je_in_use,
       ordinary + ordinary + ordinary + ordinary,
       "Starting JE Number [999990] leaves 3 numbers below 1000000 for 4 journal entries; 6 "
       "numbers above it are in use",
       {}},
      {999990,
       500000,
       je_in_use,
       ordinary + ordinary + ordinary,
       "",
       {"J999991", "J999992", "J999993", "J999994", "J999995", "J999996", "J999997", "J999998",
        "J999999"}},
      {100000,
       999995,
       inv_in_use,
       control + control + control,
       "Starting Inv Number [999995] leaves 2 numbers below 1000000 for 3 invoices; 2 numbers "
       "above it are in use",
       {}},
      {100000,
       999995,
       inv_in_use,
       control + control,
       "",
       {"I999996", "I999997", "I999998", "I999999", "J100001", "J100002"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.want_error.empty() ? c.documents.back() : c.want_error);
    testing::TempDir dir;
    testing::MakeFixtureAgency(dir.path());
    for (const auto& [type, number] : c.in_use) PutDocumentLine(type, number);
    testing::RecordingOperator op;
    testing::WriteFile(dir.File("b.csv"), "GL,Name,SubType,Normal,Dept,Value\r\n" + c.rows);
    ClientFileSet files(
        nullptr, [] { return std::string("T"); }, dir.path().string());
    ImportRun run(files, op, [] { return kNow; });
    const ImportOutcome outcome = run.Run({"01", "12/31/2024", dir.File("b.csv"), c.je, c.inv});
    if (c.want_error.empty()) {
      EXPECT_EQ(outcome, ImportOutcome::kPosted);
      EXPECT_THAT(Documents("01"), ElementsAreArray(c.documents));
    } else {
      EXPECT_EQ(outcome, ImportOutcome::kErrors);
      EXPECT_THAT(run.summary().errors, ElementsAre(Pass1Error{0, c.want_error, ""}));
      EXPECT_EQ(testing::DumpRecords("jcki").size(), c.in_use.size());
      EXPECT_THAT(testing::DumpRecords("desc"), IsEmpty());
    }
  }
}

// Another program may take numbers after the check: pass 2 then stops before the row that
// would need a seventh digit instead of storing a cut number.
TEST_F(RecordRunTest, NumbersTakenAfterTheCheckStopTheRunBeforeTheRow) {
  op_.on_status = "Processing";
  op_.hook = [] { PutDocumentLine('I', 999998); };
  ImportRequest request;
  request.first_inv_number = 999997;
  EXPECT_EQ(Run("1120,Client Receivables,C001,Debit,GA,50\r\n"
                "2120,Producer Payables,P01,Credit,GA,-20\r\n",
                request),
            ImportOutcome::kStopped);
  EXPECT_THAT(Documents("01"), ElementsAre("I999998", "I999999", "J100001"));
  EXPECT_THAT(op_.errors,
              ElementsAre("Posting stopped at line 3 [2120,Producer Payables,P01,Credit,GA,-20]: "
                          "No invoice number is left below 1000000 (last tried 999999). The "
                          "records of that line were rolled back; the lines before it are "
                          "posted." +
                          kResumeRun1));
  EXPECT_THAT(RunLog(), Contains(op_.errors[0]));
}

// Each amount text of a row as it is posted ("# GL" line's amount, or ZERO-SKIPPED) or the
// check's error line for it: a comma never changes an amount silently.
TEST_F(RecordRunTest, AmountTextsArePostedAsWrittenOrRefused) {
  const struct {
    std::string amount;  // the Value column and what follows it
    bool posted;
    std::string want;  // the amount pass 2 logs, or the error line of the check
  } kCases[] = {
      {"1500.00", true, "   1500.00"},
      {"1500.00,123", true, "   1500.00"},  // a reference number after a whole amount
      {"1234,note", true, "   1234.00"},
      {"\"$1,234.50\"", true, "   1234.50"},
      {"\"-$12,345.67\"", true, " -12345.67"},
      {"\"1,234,567\",", true, "1234567.00"},
      {"0", true, "ZERO-SKIPPED"},
      {"\"0.0\",", true, "ZERO-SKIPPED"},
      {"1234,56", false, "Amount split at a comma (1234,56)"},
      {"0,50", false, "Amount split at a comma (0,50)"},  // not a zero row
      {"$1,234.50", false, "Amount split at a comma ($1,234.50)"},
      {"\"1234,56\"", false, "Amount with a comma that is not a thousands separator (1234,56)"},
      {"\"1.234,50\"", false, "Amount with a comma that is not a thousands separator (1.234,50)"},
      {"\"500.00", false, "Amount without its closing quote (\"500.00)"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.amount);
    testing::TempDir dir;
    testing::MakeFixtureAgency(dir.path());
    const std::string row = "4000,Commission Income,NONE,Credit,GA," + c.amount;
    testing::WriteFile(dir.File("b.csv"), "GL,Name,SubType,Normal,Dept,Value\r\n" + row + "\r\n");
    testing::RecordingOperator op;
    ClientFileSet files(
        nullptr, [] { return std::string("T"); }, dir.path().string());
    ImportRun run(files, op, [] { return kNow; });
    const ImportOutcome outcome = run.Run({"01", "12/31/2024", dir.File("b.csv"), 100000, 500000});
    const std::vector<std::string> log = RunLogAfterFileSet(dir.File("balances_T.txt"));
    if (c.posted) {
      EXPECT_EQ(outcome, ImportOutcome::kPosted);
      EXPECT_THAT(log, Contains("# GL [4000] SGL [      ] date [12/31/2024] Dpt [GA] Amt [" +
                                c.want + "]"));
      EXPECT_EQ(testing::DumpRecords("jcki").size(), c.want == "ZERO-SKIPPED" ? 0u : 1u);
    } else {
      EXPECT_EQ(outcome, ImportOutcome::kErrors);
      EXPECT_THAT(run.summary().errors, ElementsAre(Pass1Error{2, c.want, row}));
      EXPECT_THAT(log, Contains(c.want + " in line [" + row + "]"));
      EXPECT_THAT(testing::DumpRecords("jcki"), IsEmpty());
    }
  }
}

// Pass 2 posts the bytes pass 1 checked, from its private copy: whatever happens to the CSV
// after the check is not posted and does not stop the run.
TEST_F(RecordRunTest, AFileChangedAfterTheCheckPostsWhatWasChecked) {
  const std::string rows =
      "4000,Commission Income,NONE,Credit,GA,100.00\r\n"
      "1120,Client Receivables,C001,Debit,GA,50\r\n";
  const std::string header = "GL,Name,SubType,Normal,Dept,Value\r\n";
  const struct {
    const char* change;
    std::function<void(const std::string&)> apply;
  } kCases[] = {
      {"same size, another amount",
       [&](const std::string& path) {
         testing::WriteFile(path, header +
                                      "4000,Commission Income,NONE,Credit,GA,900.00\r\n"
                                      "1120,Client Receivables,C001,Debit,GA,50\r\n");
       }},
      {"a row added",
       [&](const std::string& path) {
         testing::WriteFile(path, header + rows + "9999,Not in the chart,NONE,Debit,ZZ,7\r\n");
       }},
      {"emptied", [](const std::string& path) { testing::WriteFile(path, ""); }},
      {"removed", [](const std::string& path) { std::filesystem::remove(path); }},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.change);
    testing::TempDir dir;
    testing::MakeFixtureAgency(dir.path());
    const std::string csv = dir.File("b.csv");
    testing::WriteFile(csv, header + rows);
    HookedOperator op;
    op.on_scanned = [&] { c.apply(csv); };
    ClientFileSet files(
        nullptr, [] { return std::string("T"); }, dir.path().string());
    ImportRun run(files, op, [] { return kNow; });
    EXPECT_EQ(run.Run({"01", "12/31/2024", csv, 100000, 500000}), ImportOutcome::kPosted);
    EXPECT_THAT(op.errors, IsEmpty());
    EXPECT_EQ(run.summary().posted, 2);
    EXPECT_THAT(Documents("01"), ElementsAre("I500001", "J100001", "J100002"));
    const std::vector<std::string> log = RunLogAfterFileSet(dir.File("balances_T.txt"));
    EXPECT_THAT(log, Contains("# GL [4000] SGL [      ] date [12/31/2024] Dpt [GA] Amt [    "
                              "100.00]"));
    EXPECT_THAT(log, Not(Contains(StartsWith("# GL [9999]"))));
  }
}

// The open descriptors whose file is in `folder` and has no name left.
std::vector<int> UnnamedFilesIn(const std::filesystem::path& folder) {
  std::vector<int> fds;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
    if (!error && target.rfind(folder.string() + "/", 0) == 0 && target.size() > 10 &&
        target.compare(target.size() - 10, 10, " (deleted)") == 0) {
      fds.push_back(std::stoi(entry.path().filename().string()));
    }
  }
  return fds;
}

// A balance sheet whose rows go past `bytes`: a posted row, zero rows, a posted row at the end.
std::string CsvLongerThan(size_t bytes) {
  std::string csv =
      "GL,Name,SubType,Normal,Dept,Value\r\n4000,Commission Income,NONE,Credit,GA,100\r\n";
  while (csv.size() <= bytes + 100) csv += "4000,Zero row,NONE,Credit,GA,0\r\n";
  return csv + "5000,Office Expense,NONE,Debit,GA,7\r\n";
}

// The number of the line of `csv` that holds byte `at` (the header is line 1).
int64_t LineHolding(const std::string& csv, size_t at) {
  return 1 + std::count(csv.begin(), csv.begin() + static_cast<std::ptrdiff_t>(at), '\n');
}

// The private copy exists only while the run needs it: owner-only, without a name in the
// temporary folder. A copy that fails to read in pass 2 stops the run at the line it could
// not read; the lines before it stay posted.
TEST_F(RecordRunTest, PostsFromAPrivateCopyAndStopsAtALineItCannotRead) {
  testing::TempDir copies;
  const ScopedEnv tmpdir("TMPDIR", copies.path().string());
  const std::string csv = CsvLongerThan(CsvLineReader::kChunkSize);
  testing::WriteFile(csv_, csv);
  // The first read of the copy ends before this line.
  const int64_t failing_line = LineHolding(csv, CsvLineReader::kChunkSize);
  HookedOperator op;
  op.on_status = "Pass 2: Import [4000][NONE]";
  bool swapped = false;
  op.hook = [&] {
    if (swapped) return;
    swapped = true;
    EXPECT_TRUE(std::filesystem::is_empty(copies.path())) << "the copy has no name";
    const std::vector<int> fds = UnnamedFilesIn(copies.path());
    ASSERT_EQ(fds.size(), 1u);
    struct stat st {};
    ASSERT_EQ(::fstat(fds[0], &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(st.st_size, static_cast<off_t>(csv.size()));
    // The next read of the copy fails: a folder now stands behind its descriptor.
    const int folder = ::open(copies.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(::dup2(folder, fds[0]), 0);
    ::close(folder);
  };
  ClientFileSet files(
      nullptr, [] { return std::string("T"); }, dir_.path().string());
  ImportRun run(files, op, [] { return kNow; });
  EXPECT_EQ(run.Run({"01", "12/31/2024", csv_, 100000, 500000}), ImportOutcome::kStopped);

  const std::string stopped = "Posting stopped at line " + std::to_string(failing_line) +
                              ": the checked copy of " + csv_ +
                              " could not be read (Is a directory). The lines before it are "
                              "posted." +
                              kResumeRun1;
  EXPECT_THAT(op.errors, ElementsAre(stopped));
  EXPECT_THAT(Documents("01"), ElementsAre("J100001"));
  const std::vector<std::string> log = RunLog();
  ASSERT_GE(log.size(), 3u);
  EXPECT_THAT(std::vector<std::string>(log.end() - 3, log.end()),
              ElementsAre(stopped, "1 message was shown during this run; each is written above",
                          "All done"));
  EXPECT_THAT(UnnamedFilesIn(copies.path()), IsEmpty()) << "the copy is closed";
  EXPECT_TRUE(std::filesystem::is_empty(copies.path()));
}

// The copy cannot be made, or not written whole (here the file size limit stands for a full
// disk): the run ends before anything is posted. A check makes no copy.
TEST_F(RecordRunTest, ACopyThatCannotBeMadeOrWrittenPostsNothing) {
  testing::TempDir copies;
  const std::string csv = CsvLongerThan(3 * CsvLineReader::kChunkSize);
  // The copy of the third read would go past the limit.
  const int64_t failing_line = LineHolding(csv, 2 * CsvLineReader::kChunkSize);
  const struct {
    std::string tmpdir;
    rlim_t file_size_limit;
    std::string want;
  } kCases[] = {
      {copies.File("nosuch"), RLIM_INFINITY,
       "No private copy of " + csv_ + " could be made in " + copies.File("nosuch") +
           ": No such file or directory; nothing was posted."},
      {copies.path().string(), 2 * CsvLineReader::kChunkSize,
       "The private copy of " + csv_ + " could not be written in " + copies.path().string() +
           " at line " + std::to_string(failing_line) + ": File too large; nothing was posted."},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.want);
    testing::TempDir dir;
    testing::MakeFixtureAgency(dir.path());
    testing::WriteFile(csv_, csv);
    const ScopedEnv tmpdir("TMPDIR", c.tmpdir);
    testing::RecordingOperator op;
    ClientFileSet files(
        nullptr, [] { return std::string("T"); }, dir.path().string());
    ImportRun run(files, op, [] { return kNow; });
    {
      rlimit old{};
      ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
      rlimit limited = old;
      limited.rlim_cur = c.file_size_limit;
      const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);  // a failed write, not a signal
      ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
      EXPECT_EQ(run.Run({"01", "12/31/2024", csv_, 100000, 500000}), ImportOutcome::kSetupFailed);
      ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &old), 0);
      std::signal(SIGXFSZ, old_handler);
    }
    EXPECT_THAT(op.errors, ElementsAre(c.want));
    EXPECT_THAT(RunLogAfterFileSet(dir.File("balances_T.txt")), Contains(c.want));
    EXPECT_THAT(testing::DumpRecords("jcki"), IsEmpty());
    EXPECT_TRUE(std::filesystem::is_empty(copies.path()));

    testing::RecordingOperator check_op;
    ImportRun check(files, check_op, [] { return kNow; });
    EXPECT_EQ(check.Check({"01", "12/31/2024", csv_, 100000, 500000}), ImportOutcome::kClean);
  }
}

// A record file the import writes is missing from the store: the run says which and why and
// does nothing at all, and the next run, once the file is there, posts.
TEST(WriteFailureTest, MissingFileTheImportWritesStopsItBeforeAnythingIsDone) {
  const struct {
    std::vector<std::string> missing;
    std::vector<std::string> want_lines;  // the message, line by line
  } kCases[] = {
      {{"desc"},
       {"Unable to open Desc file desc (the store has no file of that name), status is 12"}},
      {{"jcki"},
       {"Unable to open Jcki file jcki (the store has no file of that name), status is 12"}},
      {{"pol"}, {"Unable to open pol file pol (the store has no file of that name), status is 12"}},
      {{"jcki", "desc", "pol"},
       {"Unable to open Jcki file jcki (the store has no file of that name), status is 12",
        "Unable to open Desc file desc (the store has no file of that name), status is 12",
        "Unable to open pol file pol (the store has no file of that name), status is 12"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.missing.front() + (c.missing.size() > 1 ? " ..." : ""));
    testing::TempDir dir;
    ASSERT_EQ(OpenRecordStore(dir.path().string(), "", /*create=*/true), 0);
    for (const StandardFile& f : kStandardFiles) {
      if (std::find(c.missing.begin(), c.missing.end(), f.name) == c.missing.end()) {
        ASSERT_EQ(btrCreateFile(f.name, f.record_length, f.key_length), 0);
      }
    }
    testing::PutMaster(kGlKind, "01", "4000", "Commission Income", 'I');
    testing::PutMaster(kGlKind, "01", "1120", "Client Receivables", 'A', "001");
    testing::PutMaster(kDepartmentKind, "01", "GA", "General Agency");
    testing::PutMaster(kClientKind, "01", "C001", "Smith, John");
    testing::WriteFile(dir.File("b.csv"),
                       "GL,Name,SubType,Normal,Dept,Value\r\n"
                       "4000,Commission Income,NONE,Credit,GA,100\r\n"
                       "1120,Client Receivables,C001,Debit,GA,50\r\n");
    testing::RecordingOperator op;
    int run = 0;
    ClientFileSet files(
        nullptr, [&] { return std::string("T").append(std::to_string(++run)); },
        dir.path().string());
    ImportRun import(files, op, [] { return kNow; });
    const ImportRequest request{"01", "12/31/2024", dir.File("b.csv"), 100000, 500000};
    EXPECT_EQ(import.Run(request), ImportOutcome::kSetupFailed);

    std::string message;
    for (const std::string& line : c.want_lines) message += line + "\n";
    EXPECT_THAT(op.errors, ElementsAre(message + "Nothing was done."));
    EXPECT_FALSE(import.summary().started);
    for (const char* file : {"jcki", "desc", "pol"}) {
      EXPECT_THAT(testing::DumpRecords(file), IsEmpty()) << file;
    }
    std::vector<std::string> want_log = c.want_lines;
    want_log.push_back("Nothing was done.");
    EXPECT_EQ(RunLogAfterFileSet(dir.File("balances_T1.txt")), want_log);  // no "All done"

    // The next run tries again.
    for (const std::string& name : c.missing) {
      for (const StandardFile& f : kStandardFiles) {
        if (name == f.name) {
          ASSERT_EQ(btrCreateFile(f.name, f.record_length, f.key_length), 0);
        }
      }
    }
    op.errors.clear();
    EXPECT_EQ(import.Run(request), ImportOutcome::kPosted);
    EXPECT_THAT(op.errors, IsEmpty());
    EXPECT_THAT(Documents("01"), ElementsAre("I500001", "J100001", "J100002"));
  }
}

}  // namespace
}  // namespace quillmere
