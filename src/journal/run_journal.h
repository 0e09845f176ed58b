// The run journal: what each import posted, row by row, kept in the record store beside the
// record files (tables journal_runs and journal_rows; never record files the host
// sees). A row's journal entry commits in the same store transaction as the row's records, so
// the journal shows exactly the rows whose records are stored.
//
// Each row's `Policy` change is kept with it: the values the row meant to write, the values the
// row held before (when it existed) and the PolicyID written. The store and MySQL cannot share
// a transaction, so a row commits in the store first and in MySQL second; until the next row's
// store transaction (or the run's end) marks it confirmed, the journal cannot tell whether its
// MySQL commit held, and recovery (recovery.h) writes its intended values again. The invariant:
// every row of the journal is whole in both stores once it is confirmed, and every unconfirmed
// row is completed by the next program start before anything else runs. docs/run_journal.md
// tells the whole design.
//
// Every method works on the open record store (record_store.h); a RunJournal lives no longer
// than one operation. Writes belong inside the caller's store transaction (btrBeginTransaction
// ... btrEndTransaction). Methods return false with error() on an SQLite failure.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "context/policy_table.h"
#include "recfiles/encodings.h"
#include "recfiles/record_store.h"

namespace quillmere {

// A run's state as stored.
inline constexpr char kRunPosting[] = "posting";  // posting now, or its program died
inline constexpr char kRunStopped[] = "stopped";  // ended part-way: resumable
inline constexpr char kRunPosted[] = "posted";    // every row posted
inline constexpr char kRunUndone[] = "undone";    // taken back whole

struct JournalRun {
  int64_t id = 0;
  std::string agency;        // as in the records: padded to 2
  std::string csv_name;      // the CSV's path as given
  int64_t csv_size = 0;      // bytes pass 1 checked
  std::string csv_hash;      // SHA-256 of those bytes, lower-case hex
  std::string posting_date;  // mm/dd/yyyy
  DateTime run_time;         // taken once when the run began: every entry date it writes
  int32_t first_je = 0;      // the starting numbers the run was given
  int32_t first_inv = 0;
  std::string started;        // wall-clock "YYYY-MM-DD HH:MM:SS" of the first start
  std::string ended;          // of the last end; "" while posting or when its program died
  std::string state;          // kRunPosting ...
  bool undo_pending = false;  // undone in the store; its Policy restore not confirmed yet
  // From the run's rows:
  int64_t rows = 0;       // rows posted
  int64_t last_line = 0;  // the CSV line of the last row posted
  int32_t low_je = 0, high_je = 0, low_inv = 0, high_inv = 0;  // numbers used; 0 for none
  int64_t unconfirmed = 0;   // rows whose Policy change is not confirmed
  int64_t invoice_rows = 0;  // rows that drew an invoice number
};

// What the journal keeps of a written record image: the first 8 bytes of its SHA-256.
std::string RecordDigest(std::string_view image);

struct JournalRow {
  int64_t line = 0;  // the CSV line (the header is line 1)
  int32_t je = 0;    // the JE number the row drew; 0 for none
  int32_t inv = 0;   // the invoice number; 0 for none
  // What the row wrote. Read back from the journal, `after` holds RecordDigest of the written
  // image (none for a deleted record).
  std::vector<RecordChange> records;
  std::optional<PolicyRow> policy;  // the values the row writes into Policy; none: no row
  PolicyWrite policy_write;         // what that write found and did
  bool confirmed = false;           // the Policy change is known to be committed (or none)
};

// A run as messages name it: "run 3 (balances.csv for agency 01, started 2026-12-10 07:12:56)".
std::string RunName(const JournalRun& run);

// "2026-12-10 07:12:56"
std::string FormatJournalTime(const DateTime& t);
std::optional<DateTime> ParseJournalTime(const std::string& text);

class RunJournal {
 public:
  RunJournal() = default;
  ~RunJournal();
  RunJournal(const RunJournal&) = delete;
  RunJournal& operator=(const RunJournal&) = delete;

  // True when the open store holds the journal's tables (false too when no store is open).
  bool Present();
  // Adds the tables when missing and marks the store as format kStoreFormat, in a transaction
  // of its own (call it outside one).
  bool Prepare();

  // Queries (false / empty with error() on a failure; error() is "" otherwise).
  std::vector<JournalRun> Runs(const std::string& agency = "");  // "" : every agency
  std::optional<JournalRun> FindRun(int64_t id);
  // The latest run of this content for this agency that posted rows and was not undone (or
  // that is posting now).
  std::optional<JournalRun> PostedBefore(const std::string& agency, const std::string& hash);
  // The latest run of this content for this agency that did not finish (posting or stopped).
  std::optional<JournalRun> Unfinished(const std::string& agency, const std::string& hash);
  // The CSV lines a run posted, ascending.
  std::vector<int64_t> PostedLines(int64_t run_id);
  // The Policy write of a run's line, as a later write to the same key can name it; nullopt when
  // the line wrote no Policy row (or its entry cannot be read, which error() then says).
  std::optional<::quillmere::PostedBefore> PostedPolicy(int64_t run_id, int64_t line);
  // The run's rows in line order, their record changes included; only the unconfirmed ones
  // when `unconfirmed_only`.
  std::vector<JournalRow> Rows(int64_t run_id, bool unconfirmed_only);
  // Runs that have unconfirmed rows or an unconfirmed undo.
  std::vector<JournalRun> RunsToRecover();

  // Writes, inside the caller's store transaction.
  bool AddRun(JournalRun* run);  // sets run->id
  bool AddRow(int64_t run_id, const JournalRow& row);
  // The row's Policy change is committed; `policy_id` is the PolicyID it wrote (recovery may
  // have inserted the row anew).
  bool Confirm(int64_t run_id, int64_t line, int64_t policy_id);
  bool SetState(int64_t run_id, const std::string& state, const std::string& ended);
  bool SetUndoPending(int64_t run_id, bool pending);

  const std::string& error() const { return error_; }

 private:
  // The statement for `sql`, prepared once per journal object; null with error_ on failure.
  sqlite3_stmt* Statement(const char* sql);
  // The statement `sql`, prepared once per journal object under `key` (a literal's address).
  sqlite3_stmt* Statement(const char* key, const std::string& sql);
  bool Failed(const char* what);
  std::vector<JournalRun> SelectRuns(const char* where_sql, const std::vector<std::string>& params);

  sqlite3* db_ = nullptr;
  std::map<const char*, sqlite3_stmt*> statements_;
  std::string error_;
};

}  // namespace quillmere
