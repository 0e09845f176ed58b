// The run journal against whole quillmere-cli processes, the real store and a real MariaDB: a
// kill between a row's store commit and its Policy commit, kills at random moments of pass 2
// followed by a resume, kills during an undo, two imports into one store at once, and what
// `runs` and `undo` print and exit with.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <thread>

#include "fault/fault_support.h"
#include "journal/run_journal.h"
#include "recfiles/record_store.h"
#include "support/process.h"
#include "support/test_database.h"

namespace quillmere::testing {
namespace {

using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;
namespace fs = std::filesystem;

constexpr char kDate[] = "12/31/2024";

// What the host sees: every record file and every Policy row (PolicyID left out; EntryDate too
// where runs of two different moments are compared: it is the run's start to the second).
struct Snapshot {
  std::map<std::string, std::vector<std::string>> records;
  std::vector<std::string> policy;  // sorted
};

std::vector<std::string> PolicyRows(TestDatabase& db, bool with_entry_date) {
  std::vector<std::string> rows;
  for (const std::string& row : db.Rows("SELECT * FROM Policy")) {
    std::vector<std::string> fields;
    std::stringstream in(row);
    for (std::string field; std::getline(in, field, '|');) fields.push_back(field);
    std::string kept;
    for (size_t i = 1; i < fields.size(); ++i) {  // 0 is PolicyID
      if (i == 10 && !with_entry_date) continue;  // EntryDate
      kept += fields[i] + "|";
    }
    rows.push_back(kept);
  }
  std::sort(rows.begin(), rows.end());
  return rows;
}

// Opens the store of `settings` in this process, reads it and closes it.
Snapshot SnapshotOf(const std::string& settings, TestDatabase& db, bool with_entry_date = true) {
  Snapshot s;
  EXPECT_EQ(QrtInitializeFauxBtrieve(settings.c_str(), ""), 0);
  std::vector<RecordFileInfo> files;
  EXPECT_EQ(btrListFiles(&files), 0);
  for (const RecordFileInfo& f : files) s.records[f.name] = DumpRecords(f.name);
  CloseRecordStore();
  s.policy = PolicyRows(db, with_entry_date);
  return s;
}

void ExpectSame(const Snapshot& got, const Snapshot& want) {
  EXPECT_EQ(got.records.size(), want.records.size());
  for (const auto& [name, records] : want.records) {
    const auto it = got.records.find(name);
    ASSERT_NE(it, got.records.end()) << name;
    EXPECT_THAT(it->second, ElementsAreArray(records)) << "record file " << name;
  }
  EXPECT_THAT(got.policy, ElementsAreArray(want.policy)) << "Policy rows";
}

// The run's own date and time, as the journal keeps it and every Policy row's EntryDate holds.
std::string RunTimeOf(const std::string& settings, int64_t run_id) {
  EXPECT_EQ(QrtInitializeFauxBtrieve(settings.c_str(), ""), 0);
  RunJournal journal;
  const std::optional<JournalRun> run = journal.FindRun(run_id);
  CloseRecordStore();
  if (!run) return "no run " + std::to_string(run_id);
  std::string text = FormatJournalTime(run->run_time);
  text[10] = 'T';  // as the Policy rows read back
  return text + ".000";
}

std::vector<std::string> EntryDates(TestDatabase& db) {
  return db.Rows("SELECT DISTINCT DATE_FORMAT(EntryDate, '%Y-%m-%dT%H:%i:%s.000') FROM Policy");
}

// The rows of the run log of `dir` so far ("# GL [" lines).
int RowLinesSoFar(const fs::path& dir) {
  const std::string log = RunLogIn(dir);
  return log.empty() ? 0 : static_cast<int>(RowLines(log).size());
}

class JournalFault : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!TestDatabase::Available()) GTEST_SKIP() << TestDatabase::kSkip;
  }

  // The agency for PlanImport(rows) in template_, and its CSV with `extra` rows appended.
  void MakeTemplate(int rows, const std::string& extra = "") {
    plan_ = PlanImport(rows);
    (void)MakeFaultAgency(template_.path(), rows, "");
    CloseRecordStore();
    WriteFile(template_.File("balances.csv"), plan_.csv + extra);
  }

  // Writes the settings file of the store in `dir`, pointed at `db`; returns its path.
  static std::string SettingsFor(const fs::path& dir, TestDatabase& db) {
    const std::string settings = (dir / "VELFILES.ini").string();
    WriteFile(settings, db.SettingsText() + "datapath=" + dir.string() + "\n");
    return settings;
  }
  // A copy of the store `from` holds, in `dir`, pointed at `db`; returns its settings file.
  static std::string CopyStore(const fs::path& from, const fs::path& dir, TestDatabase& db) {
    fs::copy_file(from / kRecordStoreFileName, dir / kRecordStoreFileName);
    return SettingsFor(dir, db);
  }

  std::vector<std::string> Cli(const std::string& command, const std::string& settings,
                               const fs::path& log_dir) {
    return {CliPath(),   command,         "--settings", settings,
            "--agency",  kAgency,         "--csv",      template_.File("balances.csv"),
            "--log-dir", log_dir.string()};
  }
  std::vector<std::string> ImportArgs(const std::string& settings, const fs::path& log_dir) {
    std::vector<std::string> args = Cli("import", settings, log_dir);
    for (const std::string& a : {std::string("--date"), std::string(kDate), std::string("--je"),
                                 std::to_string(PlannedImport::kFirstJe), std::string("--inv"),
                                 std::to_string(PlannedImport::kFirstInv)}) {
      args.push_back(a);
    }
    return args;
  }

  TempDir template_;
  PlannedImport plan_;
};

// The seam stops the import after the Nth row's store commit, before its Policy commit; the
// kill leaves that row in the store, unconfirmed. The next start writes its Policy row.
TEST_F(JournalFault, KillBetweenTheStoreAndPolicyCommitsIsCompletedByTheNextStart) {
  constexpr int kRows = 8;
  // Row 9 (line 10) names row 0's client again: its Policy change is an update.
  MakeTemplate(kRows, "1120,Again,C10000,Debit,GA,5.00\r\n");
  const struct {
    int nth;                 // the posted row the seam stops after
    int want_policy_before;  // Policy rows before the next start
    int want_policy;         // and after: one per party posted
  } kCases[] = {
      {1, 0, 1},  // row 0, client C10000: its insert is lost
      {3, 2, 3},  // row 2, company payables
      {9, 6, 6},  // row 9, C10000's second row: its update is lost
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE("stopped after row " + std::to_string(c.nth));
    TestDatabase db;
    TempDir run;
    const std::string settings = CopyStore(template_.path(), run.path(), db);
    ProcessOptions options;
    options.environment = {"QUILLMERE_PAUSE_AFTER_STORE_COMMIT=" + std::to_string(c.nth)};
    const pid_t pid = Spawn(ImportArgs(settings, run.path()), run.File("out.txt"), options);
    ASSERT_TRUE(WaitUntilStopped(pid)) << ReadFile(run.File("out.txt"));
    kill(pid, SIGKILL);
    EXPECT_EQ(WaitFor(pid), 128 + SIGKILL);

    EXPECT_THAT(db.Rows("SELECT COUNT(*) FROM Policy"),
                ElementsAreArray({std::to_string(c.want_policy_before)}));
    const ProcessResult pending = RunProgram({RecfilePath(), "--settings", settings, "check"});
    EXPECT_NE(pending.exit_code, 0);
    EXPECT_THAT(pending.output, HasSubstr("recovery pending"));
    EXPECT_THAT(pending.output, HasSubstr("run 1 (" + template_.File("balances.csv") +
                                          ", agency 01): 1 unconfirmed row(s)"));
    const ProcessResult runs = RunProgram({CliPath(), "runs", "--settings", settings});
    EXPECT_EQ(runs.exit_code, 0) << runs.output;
    EXPECT_THAT(runs.output, HasSubstr("posting (recovery pending)"));

    const ProcessResult check = RunProgram(Cli("check", settings, run.path()));
    EXPECT_EQ(check.exit_code, 0) << check.output;
    EXPECT_THAT(check.output, HasSubstr("Completed run 1 (" + template_.File("balances.csv") +
                                        " for agency 01, started "));
    EXPECT_THAT(check.output,
                HasSubstr("the Policy row of line " + std::to_string(c.nth + 1) +
                          ", whose database commit was not confirmed, written again."));
    const ProcessResult store_check = RunProgram({RecfilePath(), "--settings", settings, "check"});
    EXPECT_EQ(store_check.exit_code, 0) << store_check.output;

    // Each policy record and its Policy row name the same policy and invoice, one to one.
    ASSERT_EQ(QrtInitializeFauxBtrieve(settings.c_str(), ""), 0);
    std::vector<std::string> pol;
    for (const std::string& r : DumpRecords("pol")) {
      rPolRec rec;
      std::memcpy(&rec, r.data(), sizeof rec);
      pol.push_back(std::string(rec.PolNum, sizeof rec.PolNum) + "|" +
                    std::string(rec.InvNum, sizeof rec.InvNum));
    }
    CloseRecordStore();
    std::vector<std::string> policy = db.Rows("SELECT PolNum, InvNum FROM Policy");
    std::sort(pol.begin(), pol.end());
    std::sort(policy.begin(), policy.end());
    EXPECT_EQ(static_cast<int>(pol.size()), c.want_policy);
    EXPECT_EQ(policy, pol);
  }
}

// Killed anywhere in pass 2, started again and resumed, the run ends exactly as one
// uninterrupted run of the file.
TEST_F(JournalFault, KillsAtRandomMomentsThenResumeEndAsOneUninterruptedRun) {
  constexpr int kRows = 40;
  MakeTemplate(kRows);
  TestDatabase reference_db;
  TempDir reference;
  Snapshot want;
  {
    const std::string settings = CopyStore(template_.path(), reference.path(), reference_db);
    const ProcessResult import = RunProgram(ImportArgs(settings, reference.path()));
    ASSERT_EQ(import.exit_code, 0) << import.output;
    want = SnapshotOf(settings, reference_db, /*with_entry_date=*/false);
    EXPECT_THAT(EntryDates(reference_db), ElementsAreArray({RunTimeOf(settings, 1)}));
  }

  std::mt19937 random(20250115);  // fixed: the same 20 moments on every run
  int resumed = 0;
  for (int moment = 0; moment < 20; ++moment) {
    const int target = std::uniform_int_distribution<int>(1, kRows)(random);
    const int delay_us = std::uniform_int_distribution<int>(0, 2000)(random);
    SCOPED_TRACE("kill " + std::to_string(moment) + " after row line " + std::to_string(target) +
                 " + " + std::to_string(delay_us) + " us");
    TestDatabase db;
    TempDir run;
    const std::string settings = CopyStore(template_.path(), run.path(), db);
    const pid_t pid = Spawn(ImportArgs(settings, run.path()), run.File("out.txt"));
    // A run that ends before the moment is reaped here, and its exit code kept.
    std::optional<int> ended;
    while (RowLinesSoFar(run.path()) < target && !(ended = ExitCodeIfEnded(pid))) {
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    if (!ended) {
      std::this_thread::sleep_for(std::chrono::microseconds(delay_us));
      kill(pid, SIGKILL);  // no effect on a process that ended (a zombie until waited for)
    }
    const int killed = ended ? *ended : WaitFor(pid);
    ASSERT_TRUE(killed == 128 + SIGKILL || killed == 0) << ReadFile(run.File("out.txt"));

    TempDir logs;
    const ProcessResult check = RunProgram(Cli("check", settings, logs.path()));
    EXPECT_EQ(check.exit_code, 0) << check.output;
    if (killed != 0) {
      std::vector<std::string> args = ImportArgs(settings, logs.path());
      args.push_back("--resume");
      // The resume takes the run's own date and numbers; giving the same ones is no conflict.
      const ProcessResult resume = RunProgram(args);
      // Killed after the run's end (a sanitizer's checks at exit take a while): the journal
      // shows the run finished, and there is nothing to resume.
      const bool finished_before_the_kill =
          resume.exit_code == 5 && resume.output.find("; it finished)") != std::string::npos;
      if (!finished_before_the_kill) {
        EXPECT_EQ(resume.exit_code, 0) << resume.output;
        EXPECT_THAT(resume.output, HasSubstr("Run: 1 (resumed)"));
        ++resumed;
      }
    }
    const ProcessResult store_check = RunProgram({RecfilePath(), "--settings", settings, "check"});
    EXPECT_EQ(store_check.exit_code, 0) << store_check.output;
    ExpectSame(SnapshotOf(settings, db, /*with_entry_date=*/false), want);
    // The EntryDate left out above: the run's own time on every row, whichever part wrote it.
    EXPECT_THAT(EntryDates(db), ElementsAreArray({RunTimeOf(settings, 1)}));
    if (::testing::Test::HasFailure()) break;  // one failing moment tells enough
  }
  RecordProperty("resumed", resumed);  // the others ended before their kill
}

// An undo is one store transaction, then the Policy commit, then its confirmation: killed
// anywhere, the next start leaves the stores as after the run (and an undo then works) or as
// before it.
TEST_F(JournalFault, KilledUndoLeavesTheStoresAsAfterTheRunOrAsBefore) {
  constexpr int kRows = 600;
  MakeTemplate(kRows);
  TestDatabase before_db;  // stays empty
  const Snapshot before = SnapshotOf(SettingsFor(template_.path(), before_db), before_db);

  // The run, once; each moment undoes a copy of its store and Policy table.
  TestDatabase posted_db;
  TempDir posted;
  const std::string posted_settings = CopyStore(template_.path(), posted.path(), posted_db);
  const ProcessResult import = RunProgram(ImportArgs(posted_settings, posted.path()));
  ASSERT_EQ(import.exit_code, 0) << import.output;
  const Snapshot after_run = SnapshotOf(posted_settings, posted_db);
  const auto copy_posted = [&](TestDatabase& db, const fs::path& dir) {
    db.Exec("INSERT INTO Policy SELECT * FROM `" + posted_db.name() + "`.Policy");
    return CopyStore(posted.path(), dir, db);
  };

  // How long a whole undo takes: the kills fall within it.
  double undo_seconds = 0;
  {
    TestDatabase db;
    TempDir dir;
    const std::string settings = copy_posted(db, dir.path());
    const auto start = std::chrono::steady_clock::now();
    const ProcessResult undo = RunProgram(
        {CliPath(), "undo", "1", "--settings", settings, "--log-dir", dir.path().string()});
    undo_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_EQ(undo.exit_code, 0) << undo.output;
    ExpectSame(SnapshotOf(settings, db), before);
  }

  std::mt19937 random(4242);
  int undone = 0, kept = 0;
  for (int moment = 0; moment < 5; ++moment) {
    const int delay_us =
        std::uniform_int_distribution<int>(0, static_cast<int>(undo_seconds * 1e6))(random);
    SCOPED_TRACE("kill " + std::to_string(delay_us) + " us into the undo");
    TestDatabase db;
    TempDir dir;
    const std::string settings = copy_posted(db, dir.path());
    const pid_t pid =
        Spawn({CliPath(), "undo", "1", "--settings", settings, "--log-dir", dir.path().string()},
              dir.File("out.txt"));
    std::this_thread::sleep_for(std::chrono::microseconds(delay_us));
    kill(pid, SIGKILL);
    WaitFor(pid);

    const ProcessResult check = RunProgram(Cli("check", settings, dir.path()));
    EXPECT_EQ(check.exit_code, 0) << check.output;
    const ProcessResult store_check = RunProgram({RecfilePath(), "--settings", settings, "check"});
    EXPECT_EQ(store_check.exit_code, 0) << store_check.output;
    const Snapshot got = SnapshotOf(settings, db);
    if (got.records == after_run.records) {
      ++kept;
      EXPECT_THAT(got.policy, ElementsAreArray(after_run.policy));
      const ProcessResult undo = RunProgram(
          {CliPath(), "undo", "1", "--settings", settings, "--log-dir", dir.path().string()});
      EXPECT_EQ(undo.exit_code, 0) << undo.output;
      ExpectSame(SnapshotOf(settings, db), before);
    } else {
      ++undone;
      ExpectSame(got, before);
    }
  }
  RecordProperty("undone", undone);
  RecordProperty("kept", kept);
}

// The import lock: a second import into the same store is refused while the first posts, and
// names it; the first then completes untouched.
TEST_F(JournalFault, SecondImportWhileOnePostsIsRefusedAndNamesIt) {
  constexpr int kRows = 20;
  MakeTemplate(kRows);
  TestDatabase db;
  TempDir run, logs_b;
  const std::string settings = CopyStore(template_.path(), run.path(), db);
  ProcessOptions options;
  options.environment = {"QUILLMERE_PAUSE_AFTER_STORE_COMMIT=3"};
  const pid_t first = Spawn(ImportArgs(settings, run.path()), run.File("out.txt"), options);
  ASSERT_TRUE(WaitUntilStopped(first)) << ReadFile(run.File("out.txt"));

  const ProcessResult second = RunProgram(ImportArgs(settings, logs_b.path()));
  EXPECT_EQ(second.exit_code, 2) << second.output;
  EXPECT_THAT(second.output,
              HasSubstr("Another import is posting into these record files: import of " +
                        template_.File("balances.csv") + " for agency 01, process " +
                        std::to_string(first) + ", since "));
  EXPECT_THAT(second.output, Not(HasSubstr("Rows posted")));

  kill(first, SIGCONT);
  EXPECT_EQ(WaitFor(first), 0) << ReadFile(run.File("out.txt"));
  EXPECT_THAT(ReadFile(run.File("out.txt")), HasSubstr("Rows posted: " + std::to_string(kRows)));
  ASSERT_EQ(QrtInitializeFauxBtrieve(settings.c_str(), ""), 0);
  const std::vector<RowState> states = RowStates(plan_);
  CloseRecordStore();
  for (size_t i = 0; i < states.size(); ++i) EXPECT_TRUE(states[i].whole()) << "row " << i;
  const ProcessResult store_check = RunProgram({RecfilePath(), "--settings", settings, "check"});
  EXPECT_EQ(store_check.exit_code, 0) << store_check.output;
}

// What `runs` lists and what `undo` exits with.
TEST_F(JournalFault, RunsListsEachRunAndUndoExitsWithWhatItDid) {
  MakeTemplate(6);
  TestDatabase db;
  TempDir run;
  const std::string settings = CopyStore(template_.path(), run.path(), db);
  const std::vector<std::string> runs_args = {CliPath(), "runs", "--settings", settings};
  const ProcessResult empty = RunProgram(runs_args);
  EXPECT_EQ(empty.exit_code, 0);
  EXPECT_EQ(empty.output, "The run journal holds no run.\n");

  ASSERT_EQ(RunProgram(ImportArgs(settings, run.path())).exit_code, 0);
  const ProcessResult guarded = RunProgram(ImportArgs(settings, run.path()));
  EXPECT_EQ(guarded.exit_code, 4) << guarded.output;
  EXPECT_THAT(guarded.output, HasSubstr("import it with --again"));

  const ProcessResult listed = RunProgram(runs_args);
  EXPECT_EQ(listed.exit_code, 0);
  std::vector<std::string> lines;
  std::stringstream in(listed.output);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 2u) << listed.output;
  EXPECT_EQ(lines[0],
            "Run  Agency  Started              Rows  JE numbers     Invoice numbers  State      "
            "File");
  // 6 rows: 5 control rows (invoices), one JE each.
  EXPECT_THAT(lines[1], StartsWith("1    01      "));
  EXPECT_THAT(lines[1], HasSubstr("      6  100001-100006  500001-500005    posted     " +
                                  template_.File("balances.csv")));

  const struct {
    const char* run;
    int want_exit;
    const char* want;
  } kCases[] = {
      {"1", 0, "Undid run 1 ("},
      {"1", 5, " was undone already, on "},  // a second time
      {"7", 5, "There is no run 7 in this store's journal"},
      {"x", 2, "the run to undo is a number"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string("undo ") + c.run);
    const ProcessResult undo = RunProgram(
        {CliPath(), "undo", c.run, "--settings", settings, "--log-dir", run.path().string()});
    EXPECT_EQ(undo.exit_code, c.want_exit) << undo.output;
    EXPECT_THAT(undo.output, HasSubstr(c.want));
  }
  EXPECT_THAT(RunProgram(runs_args).output, HasSubstr("  undone     "));
}

}  // namespace
}  // namespace quillmere::testing
