// The run journal on the real record store and the test database: the second-load guard, the
// resume of a stopped run, the undo of a run, the completion of rows whose Policy commit was
// not confirmed, the store's import lock, and the store format the journal marks.
#include "journal/run_journal.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <QSqlQuery>
#include <algorithm>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "db/sql_policy_table.h"
#include "export/gl_export.h"
#include "import/import_run.h"
#include "journal/store_lock.h"
#include "journal/undo.h"
#include "recfiles/CBtrvKafImport.h"
#include "recfiles/record_store.h"
#include "recfiles/store_faults.h"
#include "support/fixture_agency.h"
#include "support/test_database.h"
#include "support/test_support.h"

namespace quillmere {
namespace {

using ::quillmere::testing::TestDatabase;
using ::testing::AllOf;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::SizeIs;
using ::testing::StartsWith;

const DateTime kNow{{2025, 1, 15}, 10, 20, 30};
constexpr char kClosing[] = "You need to rebuild control totals and migrate accounting";

// Every control account, ordinary accounts, a zero row, and client C001 on two rows (the
// second row updates the Policy row and replaces the policy record the first one wrote).
constexpr char kBalances[] =
    "GL,Name,SubType,Normal,Dept,Value\r\n"
    "4000,Commission Income,NONE,Credit,GA,100\r\n"     // line 2
    "1120,Client Receivables,C001,Debit,GA,50\r\n"      // 3
    "1130,Company Receivables,7,Debit,01,-250.10\r\n"   // 4
    "5000,Office Expense,NONE,Debit,01,0\r\n"           // 5: zero, skipped
    "2110,Company Payables,ABC,Credit,GA,75.25\r\n"     // 6
    "2120,Producer Payables,P01,Credit,GA,-20\r\n"      // 7
    "1120,Client Receivables,C001,Debit,01,12.34\r\n"   // 8: C001 again
    "1000,Cash in Bank,Bank,Debit,GA,300\r\n"           // 9
    "1120,Client Receivables,1234,Debit,GA,0.125\r\n";  // 10

// What the host sees of a store and its Policy table.
struct StoreState {
  std::map<std::string, std::vector<std::string>> records;  // every record file, by name
  std::vector<std::string> policy;  // every Policy row, all columns but PolicyID, sorted
};

// Compares file by file, so a difference names the file and the record.
void ExpectSameState(const StoreState& got, const StoreState& want) {
  std::vector<std::string> got_files, want_files;
  for (const auto& [name, records] : got.records) got_files.push_back(name);
  for (const auto& [name, records] : want.records) want_files.push_back(name);
  EXPECT_EQ(got_files, want_files);
  for (const auto& [name, records] : want.records) {
    const auto it = got.records.find(name);
    if (it == got.records.end()) continue;
    EXPECT_THAT(it->second, ElementsAreArray(records)) << "record file " << name;
  }
  EXPECT_THAT(got.policy, ElementsAreArray(want.policy)) << "Policy rows";
}

// The open store's records, every file.
std::map<std::string, std::vector<std::string>> AllRecords() {
  std::map<std::string, std::vector<std::string>> records;
  std::vector<RecordFileInfo> files;
  EXPECT_EQ(btrListFiles(&files), 0);
  for (const RecordFileInfo& f : files) records[f.name] = testing::DumpRecords(f.name);
  return records;
}

std::vector<std::string> PolicyRowsWithoutId(TestDatabase& db) {
  std::vector<std::string> rows;
  for (const std::string& row : db.Rows("SELECT * FROM Policy")) {
    rows.push_back(row.substr(row.find('|') + 1));  // PolicyID is the first column
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

// Runs `sql` on the open store's own connection, as another program could.
void ExecStore(const std::string& sql) {
  char* error = nullptr;
  ASSERT_EQ(sqlite3_exec(RecordStoreConnection(), sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
      << sql << ": " << (error != nullptr ? error : "");
  sqlite3_free(error);
}

void PutRecord(const char* file, const std::string& record) {
  const int32_t handle = CBtrvOapi();
  ASSERT_EQ(btrOpen(handle, "", file, 1, 1, 0), 0) << file;
  uint32_t length = static_cast<uint32_t>(record.size());
  EXPECT_EQ(ReplaceByKey(handle, record.data(), &length), 0);
  (void)btrClose(handle);
}

// The host's own data beside the run's: JE 100002 in use (the run passes over it) and a Policy
// row of client 1234 the run updates, with columns the run never writes.
void PutHostData(TestDatabase& db) {
  rJckiRec line;
  Blank(&line);
  const std::string key = "01J10000201300";
  std::memcpy(&line, key.data(), key.size());
  PutRecord("jcki", std::string(reinterpret_cast<const char*>(&line), sizeof line));
  db.Exec(
      "INSERT INTO Policy (AgyCode, PolNum, PolSeq, CltNum, CmpName, TotalPremium, HostNotes, "
      "HostRenewalFlag) VALUES ('01', 'BF-241231-1234      ', 99, 'HOST', 'Host Company', 17.5, "
      "'host row', 5)");
}

// What a Policy commit that went out and was never answered leaves in the store: the run's
// last row with a Policy change stays unconfirmed in the journal. That is line 10, client 1234,
// whose Policy row the test then removes, as when its insert was lost.
void LeaveLastPolicyUnconfirmed(int64_t run_id) {
  const std::string run = std::to_string(run_id);
  ExecStore("UPDATE journal_rows SET confirmed = 0 WHERE run_id = " + run +
            " AND line = (SELECT MAX(line) FROM journal_rows WHERE run_id = " + run +
            " AND policy_row IS NOT NULL)");
}
constexpr char kDeleteClient1234[] = "DELETE FROM Policy WHERE PolNum = 'BF-241231-1234'";

class RunJournalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!TestDatabase::Available()) GTEST_SKIP() << TestDatabase::kSkip;
    Fresh();
  }

  // A new store with the fixture agency and kBalances, a new Policy table, a new operator:
  // each case of a table starts here.
  void Fresh() {
    table_.reset();  // before its connection goes
    db_.reset();
    dir_.emplace();
    csv_ = dir_->File("balances.csv");
    db_.emplace();
    db_->Connect(QStringLiteral("journal"));
    table_.emplace(QStringLiteral("journal"));
    testing::MakeFixtureAgency(dir_->path());
    testing::WriteFile(csv_, kBalances);
    op_ = testing::RecordingOperator();
  }

  ImportRequest Request() const { return {"01", "12/31/2024", csv_, 100000, 500000}; }

  // One import with a client file set of its own, as one program start does.
  ImportOutcome Import(const LoadOptions& load = {}, std::optional<ImportRequest> request = {}) {
    ClientFileSet files(
        &*table_, [this] { return "run" + std::to_string(++operations_); }, dir_->path().string());
    ImportRun run(files, op_, [] { return kNow; });
    const ImportOutcome outcome = run.Run(request.value_or(Request()), load);
    summary_ = run.summary();
    return outcome;
  }
  ImportOutcome ImportFailingAt(const char* operation, int nth) {
    FailNthWrite fault(operation, kStatusDiskFull, nth);
    SetStoreFaults(&fault);
    const ImportOutcome outcome = Import();
    SetStoreFaults(nullptr);
    return outcome;
  }
  ImportOutcome Check() {
    ClientFileSet files(
        &*table_, [this] { return "check" + std::to_string(++operations_); },
        dir_->path().string());
    ImportRun run(files, op_, [] { return kNow; });
    return run.Check(Request());
  }
  ExportOutcome Export() {
    ClientFileSet files(
        &*table_, [this] { return "export" + std::to_string(++operations_); },
        dir_->path().string());
    ExportRun run(files, op_);
    return run.Run({"01", dir_->File("chart.csv"), /*ask_before_overwrite=*/false});
  }
  UndoResult Undo(int64_t run_id) {
    ClientFileSet files(
        &*table_, [this] { return "undo" + std::to_string(++operations_); }, dir_->path().string());
    EXPECT_TRUE(files.OpenClientFiles(op_, kImportFiles, &error_)) << error_;
    return UndoRun(files, op_, run_id);
  }

  StoreState State() { return {AllRecords(), PolicyRowsWithoutId(*db_)}; }

  // The state one uninterrupted run of kBalances leaves in a fresh store and Policy table, after
  // `prepare` put in what the test's own store holds before its run. The process has one store
  // open at a time: this closes the test's store, so Fresh() must follow.
  StoreState OneRunInAFreshStore(const std::function<void(TestDatabase&)>& prepare = {}) {
    testing::TempDir fresh;
    testing::MakeFixtureAgency(fresh.path());
    TestDatabase fresh_db;
    fresh_db.Connect(QStringLiteral("journal-fresh"));
    if (prepare) prepare(fresh_db);
    testing::WriteFile(fresh.File("balances.csv"), kBalances);
    StoreState state;
    {
      SqlPolicyTable table(QStringLiteral("journal-fresh"));
      ClientFileSet files(
          &table, [] { return std::string("fresh"); }, fresh.path().string());
      testing::RecordingOperator op;
      ImportRun run(files, op, [] { return kNow; });
      ImportRequest request = Request();
      request.csv_path = fresh.File("balances.csv");
      EXPECT_EQ(run.Run(request), ImportOutcome::kPosted) << ::testing::PrintToString(op.errors);
      state = {AllRecords(), PolicyRowsWithoutId(fresh_db)};
    }
    CloseRecordStore();
    return state;
  }

  std::vector<JournalRun> Runs() {
    RunJournal journal;
    std::vector<JournalRun> runs = journal.Runs();
    EXPECT_EQ(journal.error(), "");
    return runs;
  }

  std::optional<testing::TempDir> dir_;
  std::string csv_;
  testing::RecordingOperator op_;
  std::optional<TestDatabase> db_;
  std::optional<SqlPolicyTable> table_;
  ImportSummary summary_;
  std::string error_;
  int operations_ = 0;
};

// ---------------------------------------------------------------------------------------------
// The second-load guard.

TEST_F(RunJournalTest, SecondImportOfTheSameFileIsRefusedAndNamesTheEarlierRun) {
  ASSERT_EQ(Import(), ImportOutcome::kPosted);
  ASSERT_EQ(summary_.run_id, 1);
  const StoreState after_first = State();
  op_.errors.clear();

  EXPECT_EQ(Import(), ImportOutcome::kAlreadyPosted);
  EXPECT_EQ(summary_.posted, 0);
  EXPECT_EQ(summary_.run_id, 0);
  ExpectSameState(State(), after_first);
  ASSERT_THAT(op_.errors, SizeIs(1));
  EXPECT_THAT(op_.errors[0],
              AllOf(StartsWith("This file's content was posted for agency 01 before: run 1 of "),
                    HasSubstr("(" + csv_ +
                              ", posting date 12/31/2024) posted 8 rows, JE numbers "
                              "100001 to 100008, invoice numbers 500001 to 500006; "
                              "it finished."),
                    HasSubstr("Nothing was posted."), HasSubstr("--again"),
                    Not(HasSubstr("--resume"))));  // nothing is left to resume
  EXPECT_THAT(summary_.earlier_run, StartsWith("run 1 of "));
  EXPECT_THAT(Runs(), SizeIs(1));
}

TEST_F(RunJournalTest, PostingAgainOnPurposeMakesANewRunWithNewNumbers) {
  ASSERT_EQ(Import(), ImportOutcome::kPosted);
  LoadOptions again;
  again.mode = LoadMode::kAgain;
  EXPECT_EQ(Import(again), ImportOutcome::kPosted);
  EXPECT_EQ(summary_.run_id, 2);
  EXPECT_EQ(summary_.posted, 8);
  EXPECT_EQ(summary_.first_je, "100009");
  EXPECT_EQ(summary_.first_inv, "500007");
  const std::vector<JournalRun> runs = Runs();
  ASSERT_THAT(runs, SizeIs(2));
  EXPECT_EQ(runs[1].state, kRunPosted);
  EXPECT_EQ(runs[1].csv_hash, runs[0].csv_hash);
}

TEST_F(RunJournalTest, AfterAnUndoAPlainImportPostsTheFileAgain) {
  ASSERT_EQ(Import(), ImportOutcome::kPosted);
  ASSERT_EQ(Undo(1).outcome, UndoOutcome::kUndone);
  EXPECT_EQ(Import(), ImportOutcome::kPosted);
  EXPECT_EQ(summary_.run_id, 2);
  EXPECT_EQ(summary_.posted, 8);
}

// The window asks what to do about a file posted before: each answer does what it says.
TEST_F(RunJournalTest, TheOperatorsChoiceResumesPostsAgainOrCancels) {
  const struct {
    const char* name;
    bool stopped;  // the earlier run stopped part-way
    int answer;
    std::vector<std::string> want_answers;
    ImportOutcome want;
    int64_t want_run;  // the run posted into; 0: none
  } kCases[] = {
      {"stopped, resume",
       true,
       0,
       {"Resume run 1", "Post it again", "Cancel"},
       ImportOutcome::kPosted,
       1},
      {"stopped, again",
       true,
       1,
       {"Resume run 1", "Post it again", "Cancel"},
       ImportOutcome::kPosted,
       2},
      {"stopped, cancel",
       true,
       2,
       {"Resume run 1", "Post it again", "Cancel"},
       ImportOutcome::kAlreadyPosted,
       0},
      {"finished, again", false, 0, {"Post it again", "Cancel"}, ImportOutcome::kPosted, 2},
      {"finished, cancel", false, 1, {"Post it again", "Cancel"}, ImportOutcome::kAlreadyPosted, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Fresh();
    if (c.stopped) {
      ASSERT_EQ(ImportFailingAt("commit", 5), ImportOutcome::kStopped);
    } else {
      ASSERT_EQ(Import(), ImportOutcome::kPosted);
    }
    const StoreState before = State();
    op_ = testing::RecordingOperator();
    op_.choose_answer = c.answer;
    EXPECT_EQ(Import(), c.want);
    ASSERT_THAT(op_.choices, ElementsAre(c.want_answers));
    EXPECT_THAT(op_.questions[0], StartsWith("This file's content was posted for agency 01 "
                                             "before: run 1 of "));
    EXPECT_EQ(summary_.run_id, c.want_run);
    EXPECT_EQ(summary_.resumed, c.want_run == 1);
    if (c.want == ImportOutcome::kAlreadyPosted) {
      EXPECT_THAT(op_.errors, IsEmpty()) << "a cancel needs no message";
      ExpectSameState(State(), before);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Resume.

// Stopped at a row (a failed commit or a record that cannot be stored in the middle of a row)
// and resumed, a run leaves exactly what one uninterrupted run leaves, numbers and dates
// included, and the resumed part keeps the run's id.
TEST_F(RunJournalTest, AResumedRunEndsAsOneUninterruptedRun) {
  const struct {
    const char* operation;
    int nth;
    int64_t want_posted;  // rows posted before the stop
  } kCases[] = {
      // The journal's own commits come first; each posted row is one commit.
      {"commit", 3, 0},   // the first row: nothing posted yet
      {"commit", 7, 4},   // line 7, after the first C001 row
      {"commit", 10, 7},  // the last row
      {"insert", 20, 2},  // in the middle of line 4's records
  };
  const StoreState want = OneRunInAFreshStore(PutHostData);
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(c.operation) + " #" + std::to_string(c.nth));
    Fresh();
    PutHostData(*db_);
    ASSERT_EQ(ImportFailingAt(c.operation, c.nth), ImportOutcome::kStopped)
        << ::testing::PrintToString(op_.errors);
    const int64_t posted_before = summary_.posted;
    EXPECT_EQ(posted_before, c.want_posted);
    ASSERT_THAT(op_.errors, Contains(HasSubstr("(quillmere-cli import --resume)")));
    std::vector<JournalRun> runs = Runs();
    ASSERT_THAT(runs, SizeIs(1));
    EXPECT_EQ(runs[0].state, kRunStopped);
    EXPECT_EQ(runs[0].unconfirmed, 0);

    LoadOptions resume;
    resume.mode = LoadMode::kResume;
    ASSERT_EQ(Import(resume), ImportOutcome::kPosted) << ::testing::PrintToString(op_.errors);
    EXPECT_TRUE(summary_.resumed);
    EXPECT_EQ(summary_.run_id, 1);
    EXPECT_EQ(summary_.already_posted, posted_before);
    EXPECT_EQ(summary_.already_posted + summary_.posted, 8);
    runs = Runs();
    ASSERT_THAT(runs, SizeIs(1));
    EXPECT_EQ(runs[0].state, kRunPosted);
    EXPECT_EQ(runs[0].rows, 8);
    ExpectSameState(State(), want);
  }
}

TEST_F(RunJournalTest, ResumeIsRefusedWithNothingUnfinishedOrWithOtherValues) {
  LoadOptions resume;
  resume.mode = LoadMode::kResume;
  // Nothing was ever posted.
  EXPECT_EQ(Import(resume), ImportOutcome::kRefused);
  EXPECT_THAT(op_.errors, ElementsAre("Nothing to resume: the run journal shows no unfinished run "
                                      "of this file's content for agency 01. Nothing was "
                                      "posted."));
  EXPECT_THAT(Runs(), IsEmpty());

  ASSERT_EQ(ImportFailingAt("commit", 5), ImportOutcome::kStopped);
  const StoreState stopped = State();
  const struct {
    const char* name;
    ImportRequest request;
    LoadOptions load;
    std::string want;
  } kCases[] = {
      {"date",
       {"01", "1/31/2025", csv_, 100000, 500000},
       {LoadMode::kResume, true, false, false},
       "Run 1 cannot be resumed with the posting date 01/31/2025 (the run's is 12/31/2024): a "
       "resume posts with the run's own values. Leave them out, or post the file anew with "
       "--again. Nothing was posted."},
      {"je",
       {"01", "12/31/2024", csv_, 200000, 500000},
       {LoadMode::kResume, false, true, false},
       "Run 1 cannot be resumed with the starting JE number 200000 (the run's is 100000): a "
       "resume posts with the run's own values. Leave them out, or post the file anew with "
       "--again. Nothing was posted."},
      {"inv",
       {"01", "12/31/2024", csv_, 100000, 1},
       {LoadMode::kResume, false, false, true},
       "Run 1 cannot be resumed with the starting invoice number 1 (the run's is 500000): a "
       "resume posts with the run's own values. Leave them out, or post the file anew with "
       "--again. Nothing was posted."},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    op_.errors.clear();
    EXPECT_EQ(Import(c.load, c.request), ImportOutcome::kRefused);
    EXPECT_THAT(op_.errors, ElementsAre(c.want));
    ExpectSameState(State(), stopped);
  }
  // The same values given again are no difference.
  EXPECT_EQ(Import({LoadMode::kResume, true, true, true}), ImportOutcome::kPosted);

  // Finished: nothing left to resume.
  op_.errors.clear();
  EXPECT_EQ(Import(resume), ImportOutcome::kRefused);
  ASSERT_THAT(op_.errors, SizeIs(1));
  EXPECT_THAT(op_.errors[0], AllOf(StartsWith("Nothing to resume"), HasSubstr("(run 1 of "),
                                   HasSubstr("it finished")));
}

// ---------------------------------------------------------------------------------------------
// Undo.

TEST_F(RunJournalTest, UndoLeavesTheStoreAndPolicyTableAsBeforeTheRun) {
  PutHostData(*db_);
  const StoreState before = State();
  ASSERT_EQ(Import(), ImportOutcome::kPosted);
  const StoreState after_first = State();
  LoadOptions again;
  again.mode = LoadMode::kAgain;
  ASSERT_EQ(Import(again), ImportOutcome::kPosted);  // replaces the first run's policies

  const UndoResult second = Undo(2);
  EXPECT_EQ(second.outcome, UndoOutcome::kUndone) << second.message;
  EXPECT_EQ(second.rows, 8);
  ExpectSameState(State(), after_first);

  const UndoResult first = Undo(1);
  EXPECT_EQ(first.outcome, UndoOutcome::kUndone) << first.message;
  EXPECT_THAT(first.message, StartsWith("Undid run 1 (" + csv_ + " for agency 01, started "));
  ExpectSameState(State(), before);
  const std::vector<JournalRun> runs = Runs();
  ASSERT_THAT(runs, SizeIs(2));
  EXPECT_EQ(runs[0].state, kRunUndone);
  EXPECT_FALSE(runs[0].undo_pending);
}

TEST_F(RunJournalTest, UndoOfAResumedRunTakesBackBothParts) {
  PutHostData(*db_);
  const StoreState before = State();
  ASSERT_EQ(ImportFailingAt("commit", 7), ImportOutcome::kStopped);
  ASSERT_EQ(Import({LoadMode::kResume}), ImportOutcome::kPosted);
  const UndoResult undo = Undo(1);
  EXPECT_EQ(undo.outcome, UndoOutcome::kUndone) << undo.message;
  EXPECT_EQ(undo.rows, 8);
  ExpectSameState(State(), before);
}

// A stopped run is undone as far as it got.
TEST_F(RunJournalTest, UndoOfAStoppedRunTakesBackItsPostedRows) {
  const StoreState before = State();
  ASSERT_EQ(ImportFailingAt("commit", 7), ImportOutcome::kStopped);
  const UndoResult undo = Undo(1);
  EXPECT_EQ(undo.outcome, UndoOutcome::kUndone) << undo.message;
  ExpectSameState(State(), before);
  // Undone, the run is no longer resumable.
  EXPECT_EQ(Import({LoadMode::kResume}), ImportOutcome::kRefused);
}

// Later work on what the run wrote refuses the whole undo, names each difference and changes
// nothing.
TEST_F(RunJournalTest, UndoIsRefusedWhenLaterWorkChangedWhatTheRunWrote) {
  const struct {
    const char* name;
    std::function<void(TestDatabase&)> change;
    std::string want_lead, want_tail;  // the difference named
  } kCases[] = {
      {"a record changed",
       [](TestDatabase&) {
         for (std::string record : testing::DumpRecords("desc")) {
           if (record.rfind("01J100001", 0) != 0) continue;  // line 2's journal entry
           record.back() = record.back() == 'X' ? 'Y' : 'X';
           PutRecord("desc", record);
         }
       },
       "line 2: desc record [01J100001", "] was changed after the run wrote it"},
      {"a record removed",
       [](TestDatabase&) {
         ExecStore("DELETE FROM jcki WHERE key = (SELECT MAX(key) FROM jcki)");  // JE 100008
       },
       "line 10: jcki record [01J100008", "] was removed after the run wrote it"},
      {"a Policy row changed",
       [](TestDatabase& db) {
         db.Exec("UPDATE Policy SET CmpName = 'Changed' WHERE PolNum = 'BF-241231--PRD-P01'");
       },
       "line 7: Policy row ",
       " [BF-241231--PRD-P01  ] was changed or removed after the run wrote it"},
      {"a Policy row removed", [](TestDatabase& db) { db.Exec(kDeleteClient1234); },
       "line 10: Policy row ",
       " [BF-241231-1234      ] was changed or removed after the run wrote it"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Fresh();
    ASSERT_EQ(Import(), ImportOutcome::kPosted);
    c.change(*db_);
    const StoreState changed = State();
    op_.errors.clear();
    const UndoResult undo = Undo(1);
    EXPECT_EQ(undo.outcome, UndoOutcome::kRefused);
    EXPECT_THAT(undo.changes, Contains(AllOf(StartsWith(c.want_lead), EndsWith(c.want_tail))));
    EXPECT_THAT(undo.message, StartsWith("The run 1 (" + csv_ + " for agency 01, started "));
    EXPECT_THAT(undo.message, HasSubstr(" was not undone: later work changed what it wrote"));
    EXPECT_THAT(undo.message, AllOf(HasSubstr("\n  " + c.want_lead), HasSubstr(c.want_tail)));
    EXPECT_THAT(op_.errors, ElementsAre(undo.message));
    ExpectSameState(State(), changed);
    EXPECT_EQ(Runs()[0].state, kRunPosted);
  }
}

TEST_F(RunJournalTest, UndoIsRefusedForAnUnknownRunOrOneUndoneAlready) {
  EXPECT_EQ(Undo(1).outcome, UndoOutcome::kRefused);  // no journal yet
  ASSERT_EQ(Import(), ImportOutcome::kPosted);
  ASSERT_EQ(Undo(1).outcome, UndoOutcome::kUndone);
  const StoreState undone = State();
  const struct {
    int64_t run;
    std::string want;
  } kCases[] = {
      {1, " was undone already, on "},
      {99,
       "There is no run 99 in this store's journal (quillmere-cli runs lists them); nothing "
       "was undone."},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.run);
    const UndoResult undo = Undo(c.run);
    EXPECT_EQ(undo.outcome, UndoOutcome::kRefused);
    EXPECT_THAT(undo.message, HasSubstr(c.want));
    ExpectSameState(State(), undone);
  }
}

// ---------------------------------------------------------------------------------------------
// Recovery: rows whose Policy commit was not confirmed.

TEST_F(RunJournalTest, TheNextOperationCompletesUnconfirmedRowsOneMessagePerRun) {
  const struct {
    const char* name;
    std::function<bool()> operation;  // true when it ran to its end
  } kCases[] = {
      {"check", [this] { return Check() == ImportOutcome::kClean; }},
      {"import", [this] { return Import() == ImportOutcome::kAlreadyPosted; }},
      {"export", [this] { return Export() == ExportOutcome::kWritten; }},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Fresh();
    ASSERT_EQ(Import(), ImportOutcome::kPosted);
    ASSERT_EQ(Import({LoadMode::kAgain}), ImportOutcome::kPosted);
    const StoreState posted = State();
    LeaveLastPolicyUnconfirmed(1);
    LeaveLastPolicyUnconfirmed(2);
    db_->Exec(kDeleteClient1234);
    for (const JournalRun& run : Runs()) EXPECT_EQ(run.unconfirmed, 1) << run.id;

    op_.errors.clear();
    EXPECT_TRUE(c.operation()) << ::testing::PrintToString(op_.errors);
    std::vector<std::string> completed;
    for (const std::string& e : op_.errors) {
      if (e.rfind("Completed ", 0) == 0) completed.push_back(e);
    }
    const std::string what =
        ": the Policy row of line 10, whose database commit was not confirmed, written again.";
    ASSERT_THAT(completed, SizeIs(2));
    EXPECT_THAT(completed[0],
                AllOf(StartsWith("Completed run 1 (" + csv_ + " for agency 01, started "),
                      HasSubstr(what)));
    EXPECT_THAT(completed[1],
                AllOf(StartsWith("Completed run 2 (" + csv_ + " for agency 01, started "),
                      HasSubstr(what)));
    // Written in run order, the row holds the last run's values, as before the loss.
    ExpectSameState(State(), posted);
    for (const JournalRun& run : Runs()) EXPECT_EQ(run.unconfirmed, 0) << run.id;

    // Completed once: the next operation has nothing to do.
    op_.errors.clear();
    EXPECT_EQ(Check(), ImportOutcome::kClean);
    EXPECT_THAT(op_.errors, IsEmpty());
  }
}

// The journal keeps the PolicyID recovery wrote, so an undo after a recovery finds the row.
TEST_F(RunJournalTest, UndoAfterRecoveryTakesBackTheRowRecoveryWrote) {
  const StoreState before = State();
  ASSERT_EQ(Import(), ImportOutcome::kPosted);
  LeaveLastPolicyUnconfirmed(1);
  db_->Exec(kDeleteClient1234);
  ASSERT_EQ(Check(), ImportOutcome::kClean);
  const UndoResult undo = Undo(1);
  EXPECT_EQ(undo.outcome, UndoOutcome::kUndone) << undo.message;
  ExpectSameState(State(), before);
}

// An undo whose Policy restore was not confirmed is restored again by the next operation.
TEST_F(RunJournalTest, TheNextOperationCompletesAnUndoWhosePolicyRestoreWasLost) {
  PutHostData(*db_);
  const StoreState before = State();
  ASSERT_EQ(Import(), ImportOutcome::kPosted);
  db_->Exec("CREATE TABLE PolicyKept AS SELECT * FROM Policy");
  ASSERT_EQ(Undo(1).outcome, UndoOutcome::kUndone);
  // The undo's MySQL commit lost: the Policy rows as the run left them, the restore pending.
  db_->Exec("DELETE FROM Policy");
  db_->Exec("INSERT INTO Policy SELECT * FROM PolicyKept");
  ExecStore("UPDATE journal_runs SET undo_pending = 1 WHERE run_id = 1");
  op_.errors.clear();
  EXPECT_EQ(Check(), ImportOutcome::kClean);
  ASSERT_THAT(op_.errors, SizeIs(1));
  EXPECT_THAT(
      op_.errors[0],
      AllOf(StartsWith("Completed the undo of run 1 ("),
            HasSubstr("its Policy rows, whose restore was not confirmed, restored again.")));
  ExpectSameState(State(), before);
  EXPECT_FALSE(Runs()[0].undo_pending);
}

TEST_F(RunJournalTest, RecoveryWithoutTheDatabaseStopsTheOperation) {
  ClientFileSet files(
      &*table_, [] { return std::string("lost"); }, dir_->path().string());
  {
    ImportRun run(files, op_, [] { return kNow; });
    ASSERT_EQ(run.Run(Request()), ImportOutcome::kPosted);
  }
  LeaveLastPolicyUnconfirmed(1);
  db_->Exec(kDeleteClient1234);
  const StoreState lost = State();
  // The program's connection goes away; the Policy table stays open on it.
  QSqlQuery id_query(QSqlDatabase::database(QStringLiteral("journal")));
  ASSERT_TRUE(id_query.exec(QStringLiteral("SELECT CONNECTION_ID()")) && id_query.next());
  db_->Exec("KILL " + id_query.value(0).toString().toStdString());

  op_.errors.clear();
  ImportRun check(files, op_, [] { return kNow; });
  EXPECT_EQ(check.Check(Request()), ImportOutcome::kSetupFailed);
  EXPECT_FALSE(check.summary().started);
  ASSERT_THAT(op_.errors, SizeIs(1));
  EXPECT_THAT(op_.errors[0],
              AllOf(StartsWith("The unfinished work of run 1 (" + csv_ + " for agency 01, "),
                    HasSubstr("could not be completed: the database: "),
                    HasSubstr("Nothing else is done until it is")));
  ExpectSameState(State(), lost);
  EXPECT_EQ(Runs()[0].unconfirmed, 1);
}

// ---------------------------------------------------------------------------------------------
// The import lock.

TEST_F(RunJournalTest, AnotherPostingRunsLockRefusesTheImportAndTheUndoButNotTheCheck) {
  ASSERT_EQ(Import(), ImportOutcome::kPosted);  // a run to undo
  testing::WriteFile(dir_->File("other.csv"),
                     "GL,Name,SubType,Normal,Dept,Value\r\n4000,Commission Income,NONE,Credit,"
                     "GA,5\r\n");
  ImportRequest other = Request();
  other.csv_path = dir_->File("other.csv");
  const StoreState before = State();
  StoreLock lock;  // a separate open of the lock file: flock holds it against this process too
  std::string why;
  const std::string holder =
      "import of other.csv for agency 01, process 4242, since 2025-01-15 10:00:00";
  ASSERT_EQ(lock.Take(holder, &why), StoreLock::Result::kTaken) << why;

  op_.errors.clear();
  EXPECT_EQ(Import({}, other), ImportOutcome::kSetupFailed);
  EXPECT_FALSE(summary_.started);
  EXPECT_THAT(op_.errors,
              ElementsAre("Another import is posting into these record files: " + holder +
                          ". Nothing was done; start this one again once it has "
                          "ended."));
  const UndoResult undo = Undo(1);
  EXPECT_EQ(undo.outcome, UndoOutcome::kSetupFailed);
  EXPECT_THAT(undo.message, HasSubstr(holder));
  op_.errors.clear();
  EXPECT_EQ(Check(), ImportOutcome::kClean) << ::testing::PrintToString(op_.errors);
  ExpectSameState(State(), before);

  lock.Release();
  EXPECT_EQ(Import({}, other), ImportOutcome::kPosted);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The store format.

TEST(StoreFormatTest, AStoreOfAnotherFormatIsRefusedAndLeftAsItIs) {
  const struct {
    int format;
    int16_t want_status;
    std::string want_error;
  } kCases[] = {
      {0, 0, ""},  // record files only
      {2, 0, ""},  // with the run journal
      {3, 2,
       "recfiles.sqlite has store format 3; this program reads format 2 at most: use a newer "
       "Quillmere"},
      {-1, 2, "recfiles.sqlite has store format -1, which no Quillmere writes"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.format);
    testing::TempDir dir;
    const std::string settings = testing::MakeFixtureAgency(dir.path());
    CloseRecordStore();
    const std::string path = dir.File(kRecordStoreFileName);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, ("PRAGMA user_version = " + std::to_string(c.format)).c_str(),
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    for (const bool create : {false, true}) {
      EXPECT_EQ(OpenRecordStore(dir.path().string(), dir.File("zel.ini"), create), c.want_status)
          << "create " << create;
      EXPECT_EQ(RecordStoreError(), c.want_error);
      CloseRecordStore();
    }
    EXPECT_EQ(QrtInitializeFauxBtrieve(settings.c_str(), ""), c.want_status);
    CloseRecordStore();
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    sqlite3_stmt* stmt = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &stmt, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(stmt, 0), c.format) << "the format was changed";
    sqlite3_finalize(stmt);
    sqlite3_close(db);
  }
}

}  // namespace quillmere
