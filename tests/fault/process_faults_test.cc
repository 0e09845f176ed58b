// Faults that hit quillmere-cli as a whole process, against the real store and a real MariaDB:
// SIGKILL in the middle of pass 2, the database server stopped in the middle of pass 2, a full
// disk at a row's commit, a data directory the importing user cannot write, lines appended to
// the CSV during pass 2, a CSV that is not a readable file, and two imports of one file at
// once.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <random>
#include <set>
#include <thread>

#include "fault/fault_support.h"
#include "recfiles/encodings.h"
#include "recfiles/record_store.h"
#include "recfiles/store_faults.h"
#include "support/private_server.h"
#include "support/process.h"
#include "support/test_database.h"

namespace quillmere::testing {
namespace {

using ::testing::HasSubstr;
namespace fs = std::filesystem;

constexpr char kDate[] = "12/31/2024";
// How often the big file repeats the planned rows: enough for pass 1 to take several seconds.
constexpr int kBigFileRepeats = 300;

// One agency store made once per test and copied for each run, and the import's arguments.
class ProcessFault : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!TestDatabase::Available()) GTEST_SKIP() << TestDatabase::kSkip;
  }

  // Makes the agency for `rows` rows in template_ (closed afterwards, so it can be copied).
  void MakeTemplate(int rows, const std::string& db_settings) {
    db_settings_ = db_settings;
    plan_ = PlanImport(rows);
    (void)MakeFaultAgency(template_.path(), rows, "");
    CloseRecordStore();
    WriteFile(template_.File("balances.csv"), plan_.csv);
  }

  // A copy of the template store in `dir`; returns its settings file.
  std::string CopyStore(const fs::path& dir) {
    fs::copy_file(template_.path() / kRecordStoreFileName, dir / kRecordStoreFileName);
    const std::string settings = (dir / "VELFILES.ini").string();
    WriteFile(settings, db_settings_ + "datapath=" + dir.string() + "\n");
    return settings;
  }

  std::vector<std::string> ImportArgs(const std::string& settings, const fs::path& log_dir) {
    return {CliPath(),    "import",
            "--settings", settings,
            "--agency",   kAgency,
            "--date",     kDate,
            "--csv",      template_.File("balances.csv"),
            "--je",       std::to_string(PlannedImport::kFirstJe),
            "--inv",      std::to_string(PlannedImport::kFirstInv),
            "--log-dir",  log_dir.string()};
  }

  // A check of the same file: a start of the program that completes unconfirmed rows first.
  std::vector<std::string> CheckArgs(const std::string& settings, const fs::path& log_dir) {
    std::vector<std::string> args = ImportArgs(settings, log_dir);
    args[1] = "check";
    return args;
  }

  // Opens the store of `settings` in this process, returns each row's state, closes it.
  std::vector<RowState> StatesOf(const std::string& settings) {
    EXPECT_EQ(QrtInitializeFauxBtrieve(settings.c_str(), ""), 0);
    std::vector<RowState> states = RowStates(plan_);
    EXPECT_EQ(CheckStore(), "ok");
    CloseRecordStore();
    return states;
  }

  TempDir template_;
  std::string db_settings_;
  PlannedImport plan_;
};

// Counts the row lines a growing run log has so far, reading only what is new.
class LogWatcher {
 public:
  explicit LogWatcher(fs::path dir) : dir_(std::move(dir)) {}
  int RowLines() {
    if (path_.empty()) path_ = RunLogIn(dir_);
    if (path_.empty()) return 0;
    std::FILE* f = std::fopen(path_.c_str(), "rb");
    if (f == nullptr) return rows_;
    std::fseek(f, static_cast<long>(offset_), SEEK_SET);
    char buffer[1 << 16];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) {
      offset_ += n;
      carry_.append(buffer, n);
      size_t start = 0, end;
      while ((end = carry_.find('\n', start)) != std::string::npos) {
        if (carry_.compare(start, 6, "# GL [") == 0) ++rows_;
        start = end + 1;
      }
      carry_.erase(0, start);
    }
    std::fclose(f);
    return rows_;
  }

 private:
  fs::path dir_;
  std::string path_;
  size_t offset_ = 0;
  std::string carry_;
  int rows_ = 0;
};

// Waits until the run log of `dir` has `rows` row lines or `pid` has ended; false when it ended.
bool WaitForRows(LogWatcher* log, int rows, pid_t pid) {
  for (;;) {
    if (log->RowLines() >= rows) return true;
    if (ExitCodeIfEnded(pid).has_value()) return false;
    std::this_thread::sleep_for(std::chrono::microseconds(300));
  }
}

// The number of leading rows that are whole; fails the test for a row that is neither whole
// nor absent, or a whole row after an absent one.
int WholePrefix(const std::vector<RowState>& states) {
  int prefix = 0;
  while (prefix < static_cast<int>(states.size()) && states[prefix].whole()) ++prefix;
  for (size_t i = 0; i < states.size(); ++i) {
    EXPECT_TRUE(states[i].whole() || states[i].absent())
        << "row " << i << " is half-written: " << states[i].found << " of " << states[i].expected;
    if (static_cast<int>(i) >= prefix) {
      EXPECT_TRUE(states[i].absent()) << "row " << i << " is posted after absent row " << prefix;
    }
  }
  return prefix;
}

TEST_F(ProcessFault, KilledImportLeavesEveryRowWholeOrAbsent) {
  TestDatabase db;
  constexpr int kRows = 2000;
  MakeTemplate(kRows, db.SettingsText());
  std::mt19937 random(20241231);  // fixed: the same 20 moments on every run
  for (int moment = 0; moment < 20; ++moment) {
    const int target = std::uniform_int_distribution<int>(1, kRows - 1)(random);
    const int delay_us = std::uniform_int_distribution<int>(0, 3000)(random);
    SCOPED_TRACE("kill " + std::to_string(moment) + " after row line " + std::to_string(target) +
                 " + " + std::to_string(delay_us) + " us");
    TempDir run;
    const std::string settings = CopyStore(run.path());
    const pid_t pid = Spawn(ImportArgs(settings, run.path()), run.File("out.txt"));
    LogWatcher log(run.path());
    const bool running = WaitForRows(&log, target, pid);
    ASSERT_TRUE(running) << "the import ended before row " << target << ": "
                         << ReadFile(run.File("out.txt"));
    std::this_thread::sleep_for(std::chrono::microseconds(delay_us));
    kill(pid, SIGKILL);
    WaitFor(pid);

    // The next start completes a row whose Policy commit the kill left unconfirmed.
    TempDir next_logs;
    const ProcessResult next_start = RunProgram(CheckArgs(settings, next_logs.path()));
    EXPECT_EQ(next_start.exit_code, 0) << next_start.output;
    const ProcessResult check = RunProgram({RecfilePath(), "--settings", settings, "check"});
    EXPECT_EQ(check.exit_code, 0) << check.output;
    const int present = WholePrefix(StatesOf(settings));
    // The last row line names the last row posted, or the first one not posted (killed after
    // its line was flushed and before its commit).
    const std::vector<std::string> lines = RowLines(RunLogIn(run.path()));
    ASSERT_FALSE(lines.empty());
    const int named = static_cast<int>(lines.size()) - 1;
    EXPECT_TRUE(named == present - 1 || named == present)
        << "the log names row " << named << ", " << present << " rows are posted";
    EXPECT_THAT(lines.back(), HasSubstr("# GL [" + plan_.rows[named].gl + "]"));
  }
}

TEST_F(ProcessFault, DatabaseStoppedStopsAtTheRowAndRollsItBack) {
  // A private server of this test's own: stopping it disturbs no other test.
  PrivateServer server;
  ASSERT_TRUE(server.started()) << server.start_output();

  constexpr int kRows = 600;
  MakeTemplate(kRows, server.SettingsText());
  TempDir run;
  const std::string settings = CopyStore(run.path());
  const pid_t pid = Spawn(ImportArgs(settings, run.path()), run.File("out.txt"));
  LogWatcher log(run.path());
  const bool running = WaitForRows(&log, 50, pid);
  server.Stop();
  ASSERT_TRUE(running) << ReadFile(run.File("out.txt"));
  EXPECT_EQ(WaitFor(pid), 3);

  const std::string output = ReadFile(run.File("out.txt"));
  const std::string lead = "Posting stopped at line ";
  const size_t stop_at = output.find(lead);
  ASSERT_NE(stop_at, std::string::npos) << output;
  const int line = std::atoi(output.c_str() + stop_at + lead.size());
  const int failed_row = line - 2;  // line 1 is the header
  ASSERT_GE(failed_row, 49);
  ASSERT_LT(failed_row, kRows);
  EXPECT_THAT(output, HasSubstr("[" + plan_.rows[failed_row].line + "]"));
  EXPECT_FALSE(plan_.rows[failed_row].inv.empty()) << "only a control row writes a Policy row";

  // The server went away during a statement of the row (its records are rolled back), or during
  // its COMMIT, when the records are committed already and the next start completes its Policy
  // row.
  const bool at_commit =
      output.find("its Policy row will be completed at the next start") != std::string::npos;
  if (!at_commit) {
    EXPECT_THAT(output, HasSubstr("could not be written"));
  }
  EXPECT_EQ(WholePrefix(StatesOf(settings)), failed_row + (at_commit ? 1 : 0)) << output;
  const std::vector<std::string> lines = RowLines(RunLogIn(run.path()));
  EXPECT_EQ(static_cast<int>(lines.size()), failed_row + 1);
  EXPECT_THAT(ReadFile(RunLogIn(run.path())), HasSubstr(lead + std::to_string(line)));
}

// Waits up to `seconds` for child `pid` to end; its exit code, or nullopt (then it is killed).
std::optional<int> ExitWithin(pid_t pid, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < deadline) {
    if (const std::optional<int> code = ExitCodeIfEnded(pid)) return code;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  kill(pid, SIGKILL);
  WaitFor(pid);
  return std::nullopt;
}

// The number after `lead` in `text`; -1 when `lead` is not there.
int NumberAfter(const std::string& text, const std::string& lead) {
  const size_t at = text.find(lead);
  return at == std::string::npos ? -1 : std::atoi(text.c_str() + at + lead.size());
}

// The store's write lock held by another connection, as another program posting holds it.
class StoreWriteLock {
 public:
  explicit StoreWriteLock(const fs::path& dir) {
    EXPECT_EQ(sqlite3_open((dir / kRecordStoreFileName).c_str(), &db_), SQLITE_OK);
    sqlite3_busy_timeout(db_, 10000);  // between two rows of a running import
    EXPECT_EQ(sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  }
  ~StoreWriteLock() {
    sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db_);
  }
  StoreWriteLock(const StoreWriteLock&) = delete;
  StoreWriteLock& operator=(const StoreWriteLock&) = delete;

 private:
  sqlite3* db_ = nullptr;
};

TEST_F(ProcessFault, SignalsStopTheRunPromptlyAndSayWhatIsPosted) {
  TestDatabase db;
  constexpr int kRows = 600;
  MakeTemplate(kRows, db.SettingsText());
  // A file pass 1 needs several seconds for: the planned rows over and over.
  std::string big = plan_.csv;
  const std::string rows = plan_.csv.substr(plan_.csv.find('\n') + 1);
  for (int i = 0; i < kBigFileRepeats; ++i) big += rows;
  WriteFile(template_.File("big.csv"), big);

  const std::string during_check = "Stopped by the operator during the check, before line ";
  const std::string before_line = "Stopped by the operator before line ";
  const struct {
    const char* name;
    const char* command;
    int signal;
    const char* csv;
    int row_lines;    // signal once the run log names this many rows; 0: during pass 1
    bool lock_store;  // another connection holds the store's write lock
    const std::string& want;
  } kCases[] = {
      {"check, SIGTERM in pass 1", "check", SIGTERM, "big.csv", 0, false, during_check},
      {"import, SIGINT in pass 1", "import", SIGINT, "big.csv", 0, false, during_check},
      {"import, SIGINT in pass 2", "import", SIGINT, "balances.csv", 50, false, before_line},
      // A row waits for the lock (for a minute, as set below) when the signal comes.
      {"import, SIGTERM waiting for the store's lock", "import", SIGTERM, "balances.csv", 1, true,
       before_line},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    TempDir run;
    const std::string settings = CopyStore(run.path());
    std::optional<StoreWriteLock> lock;
    std::vector<std::string> args = ImportArgs(settings, run.path());
    args[1] = c.command;
    *(std::find(args.begin(), args.end(), "--csv") + 1) = template_.File(c.csv);
    ProcessOptions options;
    options.environment = {"QUILLMERE_RECFILE_BUSY_MS=60000"};
    // Paused after the first row's commit, the import lets the lock be taken between two rows.
    if (c.lock_store) options.environment.push_back("QUILLMERE_PAUSE_AFTER_STORE_COMMIT=1");
    const pid_t pid = Spawn(args, run.File("out.txt"), options);
    LogWatcher log(run.path());
    if (c.row_lines == 0) {
      while (RunLogIn(run.path()).empty() && !ExitCodeIfEnded(pid)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(300));  // well into pass 1
    } else {
      ASSERT_TRUE(WaitForRows(&log, c.row_lines, pid)) << ReadFile(run.File("out.txt"));
      // The next row's transaction waits for the lock.
      if (c.lock_store) {
        ASSERT_TRUE(WaitUntilStopped(pid)) << ReadFile(run.File("out.txt"));
        lock.emplace(run.path());
        kill(pid, SIGCONT);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
      }
    }
    ASSERT_EQ(kill(pid, c.signal), 0)
        << "the run ended before the signal: " << ReadFile(run.File("out.txt"));
    const std::optional<int> exit_code = ExitWithin(pid, 2.0);
    lock.reset();
    ASSERT_TRUE(exit_code.has_value()) << "still running 2 seconds after the signal";
    const std::string output = ReadFile(run.File("out.txt"));
    EXPECT_EQ(*exit_code, 3) << output;
    EXPECT_THAT(output, HasSubstr(c.want)) << output;
    EXPECT_THAT(ReadFile(RunLogIn(run.path())), HasSubstr(c.want));

    // A run stopped while another program held the store could not note its end; the next
    // start completes it.
    TempDir next_logs;
    const ProcessResult next_start = RunProgram(CheckArgs(settings, next_logs.path()));
    EXPECT_EQ(next_start.exit_code, 0) << next_start.output;
    const ProcessResult check = RunProgram({RecfilePath(), "--settings", settings, "check"});
    EXPECT_EQ(check.exit_code, 0) << check.output;
    // Pass 1 posts nothing; pass 2 posts every row before the line it names.
    const int want_posted = c.row_lines == 0 ? 0 : NumberAfter(output, before_line) - 2;
    EXPECT_EQ(WholePrefix(StatesOf(settings)), want_posted) << output;
  }
}

// A server that stops answering (SIGSTOP keeps its connections open and answers nothing) ends
// the run by itself after the database time-out, with the exit code of where it happened.
TEST_F(ProcessFault, SilentDatabaseServerEndsTheRunByItself) {
  PrivateServer server;
  ASSERT_TRUE(server.started()) << server.start_output();
  constexpr int kRows = 600;
  MakeTemplate(kRows, server.SettingsText() + "mdbtimeout=2\n");
  const struct {
    const char* name;
    int row_lines;  // pause once the run log names this many rows; -1: before the start
    int want_exit;
  } kCases[] = {
      {"at the start", -1, 2},
      {"in pass 2", 50, 3},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    TempDir run;
    const std::string settings = CopyStore(run.path());
    if (c.row_lines < 0) {
      ASSERT_TRUE(server.Pause());
    }
    const pid_t pid = Spawn(ImportArgs(settings, run.path()), run.File("out.txt"));
    LogWatcher log(run.path());
    if (c.row_lines >= 0) {
      const bool running = WaitForRows(&log, c.row_lines, pid);
      ASSERT_TRUE(server.Pause());
      ASSERT_TRUE(running) << ReadFile(run.File("out.txt"));
    }
    const std::optional<int> exit_code = ExitWithin(pid, 20.0);
    ASSERT_TRUE(server.Resume());  // what it commits now is not asserted
    ASSERT_TRUE(exit_code.has_value()) << "still running 20 seconds after the server went silent";
    const std::string output = ReadFile(run.File("out.txt"));
    EXPECT_EQ(*exit_code, c.want_exit) << output;

    const bool at_commit =
        output.find("its Policy row will be completed at the next start") != std::string::npos;
    // Until the next start, the store says a row waits for its Policy row.
    const ProcessResult check = RunProgram({RecfilePath(), "--settings", settings, "check"});
    EXPECT_EQ(check.exit_code, at_commit ? 1 : 0) << check.output;
    if (at_commit) {
      EXPECT_THAT(check.output, HasSubstr("recovery pending")) << check.output;
    }
    const int present = WholePrefix(StatesOf(settings));
    if (c.want_exit == 2) {
      EXPECT_THAT(output, HasSubstr("cannot connect to the database: Lost connection"));
      EXPECT_EQ(present, 0);
      continue;
    }
    // Stopped at a row that writes a Policy row: its statement went unanswered (the row is
    // rolled back), or its commit did (its records are stored, its Policy row unknown).
    const int line = NumberAfter(output, "Posting stopped at line ");
    ASSERT_GE(line - 2, c.row_lines - 1) << output;
    EXPECT_FALSE(plan_.rows[line - 2].inv.empty()) << output;
    if (at_commit) {
      EXPECT_EQ(present, line - 1) << output;
    } else {
      EXPECT_THAT(output, HasSubstr("could not be written: Lost connection")) << output;
      EXPECT_EQ(present, line - 2) << output;
    }
  }
}

TEST_F(ProcessFault, DiskFullAtACommitStopsAtThatRowAndKeepsTheRowsBefore) {
  TestDatabase db;
  constexpr int kRows = 20;
  constexpr int kFailingRow = 5;  // 0-based; each posted row ends with one commit
  MakeTemplate(kRows, db.SettingsText());
  TempDir run;
  const std::string settings = CopyStore(run.path());
  ProcessOptions options;
  // The run journal commits twice before the first row: its tables, the run's entry.
  options.environment = {std::string(kStoreFaultVariable) +
                         "=commit:18:" + std::to_string(kFailingRow + 3)};
  const ProcessResult import = RunProgram(ImportArgs(settings, run.path()), options);
  EXPECT_EQ(import.exit_code, 3) << import.output;
  EXPECT_THAT(import.output,
              HasSubstr("Posting stopped at line " + std::to_string(kFailingRow + 2) + " [" +
                        plan_.rows[kFailingRow].line + "]"));
  EXPECT_THAT(import.output, HasSubstr("status is 18"));

  const ProcessResult check = RunProgram({RecfilePath(), "--settings", settings, "check"});
  EXPECT_EQ(check.exit_code, 0) << check.output;
  EXPECT_EQ(WholePrefix(StatesOf(settings)), kFailingRow);
}

TEST_F(ProcessFault, ReadOnlyDataDirectoryWritesNothing) {
  // As root every file is writable; the import runs as the unprivileged user "nobody" instead.
  constexpr int kNobody = 65534;
  TestDatabase db;
  MakeTemplate(20, db.SettingsText());
  TempDir run;
  const fs::path data = run.path() / "data";
  const fs::path logs = run.path() / "logs";
  fs::create_directories(data);
  fs::create_directories(logs);
  const std::string settings = CopyStore(data);
  for (const fs::path& p : {template_.path(), run.path(), data}) {
    fs::permissions(p, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                           fs::perms::others_read | fs::perms::others_exec);
  }
  fs::permissions(logs, fs::perms::all);
  for (const fs::path& p :
       {fs::path(settings), data / kRecordStoreFileName, template_.path() / "balances.csv"}) {
    fs::permissions(p, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  }
  ProcessOptions as_nobody;
  as_nobody.as_user = kNobody;
  const ProcessResult import = RunProgram(ImportArgs(settings, logs), as_nobody);
  ASSERT_NE(import.exit_code, 126) << "cannot switch to user nobody";
  // Refused at the start (the store cannot be opened for writing) or at the first row.
  EXPECT_TRUE(import.exit_code == 2 || import.exit_code == 3)
      << import.exit_code << ": " << import.output;
  EXPECT_THAT(import.output, HasSubstr("status is")) << import.output;

  fs::permissions(data / kRecordStoreFileName, fs::perms::owner_read | fs::perms::owner_write);
  const std::vector<RowState> states = StatesOf(settings);
  for (size_t i = 0; i < states.size(); ++i) EXPECT_TRUE(states[i].absent()) << "row " << i;
}

// Lines appended to the CSV while pass 2 runs (an unknown GL, department and client, which the
// check would refuse) are never posted: pass 2 posts the private copy of the checked bytes, and
// that copy leaves nothing behind in the temporary folder.
TEST_F(ProcessFault, LinesAppendedDuringPostingAreNeverPosted) {
  TestDatabase db;
  constexpr int kRows = 3000;
  MakeTemplate(kRows, db.SettingsText());
  TempDir run, copies;
  const std::string settings = CopyStore(run.path());
  ProcessOptions options;
  options.environment = {"TMPDIR=" + copies.path().string()};
  const pid_t pid = Spawn(ImportArgs(settings, run.path()), run.File("out.txt"), options);
  LogWatcher log(run.path());
  // The first row line: pass 1 has read the whole file.
  ASSERT_TRUE(WaitForRows(&log, 1, pid)) << ReadFile(run.File("out.txt"));

  const std::string csv = template_.File("balances.csv");
  int appended = 0;
  int appended_while_posting = 0;
  std::optional<int> exit_code;
  while (!(exit_code = ExitCodeIfEnded(pid)).has_value()) {
    if (log.RowLines() < kRows) appended_while_posting = appended;
    std::FILE* f = std::fopen(csv.c_str(), "ab");
    ASSERT_NE(f, nullptr);
    std::fputs(appended % 2 == 0 ? "9999,Unknown GL,NONE,Debit,ZZ,1.00\r\n"
                                 : "1120,Unknown client,NOBODY,Debit,GA,2.00\r\n",
               f);
    std::fclose(f);
    ++appended;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  const std::string output = ReadFile(run.File("out.txt"));
  ASSERT_EQ(*exit_code, 0) << output;
  EXPECT_GT(appended_while_posting, 0) << "no line was appended while rows were posted";
  EXPECT_THAT(output, HasSubstr("Rows read: " + std::to_string(kRows) + "\n"));
  EXPECT_THAT(output, HasSubstr("Rows posted: " + std::to_string(kRows) + "\n"));
  EXPECT_EQ(static_cast<int>(RowLines(RunLogIn(run.path())).size()), kRows);
  EXPECT_EQ(WholePrefix(StatesOf(settings)), kRows);

  ASSERT_EQ(QrtInitializeFauxBtrieve(settings.c_str(), ""), 0);
  std::set<std::string> je_numbers;
  for (const std::string& r : DumpRecords("jcki")) {
    rJckiRec rec;
    std::memcpy(&rec, r.data(), sizeof rec);
    EXPECT_NE(std::string(rec.GlNum, sizeof rec.GlNum), "9999");
    if (rec.TrnType[0] == 'J') je_numbers.insert(std::string(rec.TrnNum, sizeof rec.TrnNum));
  }
  CloseRecordStore();
  EXPECT_EQ(je_numbers.size(), static_cast<size_t>(kRows));  // one journal entry per row
  EXPECT_THAT(db.Rows("SELECT COUNT(*) FROM Policy WHERE CltNum LIKE '%NOBODY%'"),
              ::testing::ElementsAre("0"));
  EXPECT_TRUE(fs::is_empty(copies.path())) << "the private copy left a file behind";
}

// The CSV must be a regular file the user can read: a FIFO (whose open would wait for a
// writer), an endless device, a folder, a file of another user or one whose reading fails
// end `check` at once with exit 2 and the reason.
TEST_F(ProcessFault, CsvThatIsNotAReadableFileEndsTheCheckPromptly) {
  constexpr int kNobody = 65534;
  TestDatabase db;
  MakeTemplate(2, db.SettingsText());
  TempDir run;
  const std::string settings = CopyStore(run.path());
  const std::string fifo = run.File("fifo.csv");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string private_csv = run.File("private.csv");
  fs::copy_file(template_.File("balances.csv"), private_csv);
  fs::permissions(private_csv, fs::perms::owner_read | fs::perms::owner_write);
  // The user nobody may use the store and write its run log here, but not read private.csv.
  fs::permissions(run.path(), fs::perms::all);
  fs::permissions(run.path() / kRecordStoreFileName,
                  fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                      fs::perms::group_write | fs::perms::others_read | fs::perms::others_write);

  const struct {
    std::string csv;
    int as_user;
    std::string want;
  } kCases[] = {
      {fifo, -1, fifo + " not found: it is a pipe, not a file"},
      {"/dev/zero", -1, "/dev/zero not found: it is a device, not a file"},
      {run.path().string(), -1, run.path().string() + " not found: it is a folder, not a file"},
      {private_csv, kNobody, private_csv + " not found: Permission denied"},
      {"/proc/self/mem", -1,
       "/proc/self/mem could not be read at line 1: Input/output error; nothing was posted."},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.csv);
    TempDir logs;
    fs::permissions(logs.path(), fs::perms::all);
    ProcessOptions options;
    options.as_user = c.as_user;
    const pid_t pid = Spawn({CliPath(), "check", "--settings", settings, "--agency", kAgency,
                             "--date", kDate, "--csv", c.csv, "--log-dir", logs.path().string()},
                            logs.File("out.txt"), options);
    std::optional<int> exit_code;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!(exit_code = ExitCodeIfEnded(pid)).has_value() &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!exit_code) {
      kill(pid, SIGKILL);
      WaitFor(pid);
      ADD_FAILURE() << "still running after 20 seconds";
      continue;
    }
    const std::string output = ReadFile(logs.File("out.txt"));
    EXPECT_EQ(*exit_code, 2) << output;
    EXPECT_THAT(output, HasSubstr(c.want + "\n"));
    EXPECT_THAT(ReadFile(RunLogIn(logs.path())), HasSubstr(c.want + "\r\n"));
  }
}

TEST_F(ProcessFault, TwoImportsAtOnceOnePostsAndTheOtherIsRefused) {
  TestDatabase db;
  constexpr int kRows = 300;
  MakeTemplate(kRows, db.SettingsText());
  TempDir run;
  const std::string settings = CopyStore(run.path());
  TempDir logs_a, logs_b;
  // The second even asks to post the file again: while one import posts into a store, no other
  // may.
  std::vector<std::string> again = ImportArgs(settings, logs_b.path());
  again.push_back("--again");
  const pid_t a = Spawn(ImportArgs(settings, logs_a.path()), logs_a.File("out.txt"));
  LogWatcher log_a(logs_a.path());
  ASSERT_TRUE(WaitForRows(&log_a, 1, a)) << ReadFile(logs_a.File("out.txt"));
  const pid_t b = Spawn(again, logs_b.File("out.txt"));
  EXPECT_EQ(WaitFor(b), 2) << ReadFile(logs_b.File("out.txt"));
  EXPECT_THAT(ReadFile(logs_b.File("out.txt")),
              HasSubstr("Another import is posting into these record files: import of " +
                        template_.File("balances.csv") + " for agency " + kAgency));
  EXPECT_EQ(WaitFor(a), 0) << ReadFile(logs_a.File("out.txt"));

  ASSERT_EQ(QrtInitializeFauxBtrieve(settings.c_str(), ""), 0);
  EXPECT_EQ(CheckStore(), "ok");
  // Every journal entry is one row's: one "J" line and one description; the J lines carry
  // each CSV row's GL and amount exactly once.
  std::map<std::string, int> je_lines, inv_lines, je_desc, inv_desc;
  std::multiset<std::string> posted;
  for (const std::string& r : DumpRecords("jcki")) {
    rJckiRec rec;
    std::memcpy(&rec, r.data(), sizeof rec);
    const std::string number(rec.TrnNum, sizeof rec.TrnNum);
    if (rec.TrnType[0] == 'J') {
      ++je_lines[number];
      posted.insert(std::string(rec.GlNum, sizeof rec.GlNum) + "|" +
                    std::string(rec.Amt, sizeof rec.Amt));
    } else {
      ++inv_lines[number];
    }
  }
  for (const std::string& r : DumpRecords("desc")) {
    ++(r[2] == 'J' ? je_desc : inv_desc)[r.substr(3, 6)];
  }
  std::multiset<std::string> wanted;
  int control_rows = 0;
  for (const PlannedRow& row : plan_.rows) {
    const std::string amount_text = row.line.substr(row.line.rfind(',') + 1);
    // A control row's journal entry is on its control account, like an ordinary row's.
    const std::string key = LeftPad(row.gl, 4) + "|" + EncodeBCD(*ParseAmount(amount_text));
    wanted.insert(key);
    control_rows += !row.inv.empty();
  }
  EXPECT_EQ(je_lines.size(), static_cast<size_t>(kRows));
  for (const auto& [number, n] : je_lines) {
    EXPECT_EQ(n, 1) << "JE " << number;
    EXPECT_EQ(je_desc[number], 1) << "JE " << number;
  }
  EXPECT_EQ(posted, wanted);
  EXPECT_EQ(inv_lines.size(), static_cast<size_t>(control_rows));
  for (const auto& [number, n] : inv_lines) {
    EXPECT_TRUE(n == 6 || n == 7) << "invoice " << number << " has " << n << " lines";
    EXPECT_EQ(inv_desc[number], 4) << "invoice " << number;
  }
  CloseRecordStore();
}

}  // namespace
}  // namespace quillmere::testing
