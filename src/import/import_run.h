// The import run: the start (run values, client file set, run log), pass 1 that checks every
// row against the master file and posts nothing, and pass 2 that posts a file pass 1 found
// clean, each row whole or not at all.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "context/client_files.h"
#include "context/clock.h"
#include "context/logging_operator.h"
#include "context/operator.h"
#include "import/csv_reader.h"
#include "import/preview.h"
#include "journal/run_journal.h"
#include "journal/store_lock.h"
#include "posting/posting.h"
#include "startup/run_values.h"

namespace quillmere {

// What an operator is reminded of once a posting ran: the import does neither.
inline constexpr char kPostingReminder[] =
    "You need to rebuild control totals and migrate accounting";

// What an import runs with: the run values the operator gave (startup/run_values.h).
using ImportRequest = RunValues;

// What an import does about a file the run journal shows as posted for the agency before.
enum class LoadMode {
  kNew,     // post it unless it was posted before (then ask the operator, or refuse)
  kResume,  // go on with its latest unfinished run
  kAgain,   // post it once more, on purpose
};

struct LoadOptions {
  LoadMode mode = LoadMode::kNew;
  // The operator gave these values: a resume refuses any that differ from the run's own.
  bool date_given = false;
  bool je_given = false;
  bool inv_given = false;
  // Set: after the guard, the run works out what it will post (ImportSummary::preview) and
  // posts only when this returns true; false ends the run with kCancelled, nothing posted.
  // Unset: the run posts without a preview.
  std::function<bool(const Preview&)> approve = nullptr;
};

// How an import or check ended; the programs map each to their exit code.
enum class ImportOutcome {
  kClean,          // pass 1 found no error (check only); nothing posted
  kPosted,         // pass 2 posted every row
  kErrors,         // pass 1 found errors; nothing posted
  kSetupFailed,    // the run could not start (request, file set, CSV not a readable file), or
                   // the CSV could not be read to its end; nothing posted
  kStopped,        // stopped part-way: the rows before are posted whole (none in pass 1)
  kAlreadyPosted,  // the run journal shows this file posted (or posting) for the agency, and
                   // nobody chose to resume or post it again; nothing posted
  kRefused,        // a resume that cannot be: nothing unfinished to resume, or values that
                   // differ from the run's own; nothing posted
  kCancelled,      // the operator declined the preview; nothing posted
};

// The status line's text at the end of a check or import that ended with `outcome`: "Done!"
// only after a posting that ran to its end.
std::string OutcomeStatus(ImportOutcome outcome);

// One error line of pass 1: the CSV line it is about (the header is line 1; 0 for an error
// about the whole file, such as too few document numbers), why, and that line's text.
struct Pass1Error {
  int64_t line_number = 0;
  std::string reason;  // "GL not found [9999]"
  std::string line;    // the CSV line as read, without its line end
  // The run log's line: the reason, then " in line [" + line + "]" where there is a line.
  std::string RunLogLine() const;
  friend bool operator==(const Pass1Error&, const Pass1Error&) = default;
};

struct ImportSummary {
  int64_t rows = 0;                // data lines read by pass 1
  int64_t posted = 0;              // rows posted by pass 2
  int64_t skipped = 0;             // zero rows
  int64_t messages = 0;            // messages shown during the run
  std::vector<Pass1Error> errors;  // every pass 1 error line, in the run log's order
  std::string first_je, last_je, first_inv, last_inv;
  std::string run_log;
  // The client file set opened and the run began. False after kSetupFailed from the request or
  // the file set: nothing at all was done, and another run may be started.
  bool started = false;
  // A stop the operator asked for (StopRequested): the run log's line saying where the run
  // stopped and what is posted. It is not shown as a message; the front end that asked for the
  // stop shows it as it sees fit. "" when the run was not stopped on request.
  std::string stopped_by_operator;
  // The run journal's run this import posted into (0: none), and whether it resumed it.
  int64_t run_id = 0;
  bool resumed = false;
  int64_t already_posted = 0;  // rows a resume skipped: its earlier part posted them
  // The posting date and starting numbers the run used (a resume takes the run's own).
  std::string posting_date;
  int64_t first_je_number = 0, first_inv_number = 0;
  // What the journal shows of an earlier run of this file, when the guard stopped the import.
  std::string earlier_run;
  // What a clean file will post (Check, and Run with LoadOptions::approve); `previewed` says
  // whether it was worked out.
  Preview preview;
  bool previewed = false;
};

class ImportRun {
 public:
  // `files` is the program's client file set: each check or import opens what is not open yet
  // and writes its own run log, so one ImportRun serves every operation of a program start.
  ImportRun(
      ClientFileSet& files, Operator& op,
      std::function<DateTime()> now = [] { return NowLocal(); });

  // A clear message and false for a request the run cannot start with: an agency code longer
  // than 2 characters, a posting date that is not a real M/D/YYYY date of 1900-2099, negative
  // or too large starting numbers. Nothing else is done.
  bool CheckRequest(const ImportRequest& request);
  // The start and pass 1 only: kClean, kErrors or kSetupFailed.
  ImportOutcome Check(const ImportRequest& request);
  // The whole run: pass 2 follows a clean pass 1. Pass 1 reads the CSV once and keeps a private
  // copy of the bytes it read (csv_file.h); pass 2 posts from that copy, so lines changed or
  // added to the CSV after pass 1 read them are never posted.
  // Before pass 2, the run journal is asked whether this content was posted for the agency
  // before (LoadMode); a posting run holds the store's import lock, so a second import into the
  // same store is refused (kSetupFailed) while it runs.
  ImportOutcome Run(const ImportRequest& request, const LoadOptions& load = {});

  // The caller shows pass 1's errors itself (the window's error table): the run then only
  // writes "Errors found in input file" to the run log, without a message or opening the log.
  void set_errors_shown_by_caller(bool shown) { errors_shown_by_caller_ = shown; }

  // What the last Check or Run did.
  const ImportSummary& summary() const { return summary_; }

 private:
  // The start, pass 1 and, with `post`, pass 2.
  ImportOutcome Passes(const ImportRequest& request, bool post, const LoadOptions& load);
  bool Start(const ImportRequest& request, LoggingOperator& op, bool post);
  // Checks every line `reader` gives: kClean, kErrors, kStopped on request (summary_ says where),
  // or kSetupFailed when the CSV could not
  // be read to its end or the copy not written (the message is shown). `total` is the CSV's
  // size, for the progress.
  ImportOutcome Pass1(LoggingOperator& op, CsvLineReader& reader, uint64_t total);
  // The pass-1 error lines for starting numbers that leave too few numbers below 1000000 for
  // `je_needed` journal entries and `inv_needed` invoices.
  void CheckNumbers(LoggingOperator& op, int32_t first_je, int32_t first_inv, int64_t je_needed,
                    int64_t inv_needed);
  // After a clean pass 1 of an import: the second-load guard and the resume. kClean to post.
  ImportOutcome Guard(LoggingOperator& op, const LoadOptions& load);
  // After a clean pass 1 (and the guard): the posting's writes counted, not made, over the
  // lines of `copy_fd` that pass 2 would post, into summary_.preview. kClean; kErrors when a
  // line would stop the posting (its error line is added); kStopped on request.
  ImportOutcome WorkOutPreview(LoggingOperator& op, int copy_fd);
  // Posts the lines of `copy_fd`, read from its start.
  ImportOutcome Pass2(LoggingOperator& op, int copy_fd);
  // The rows of pass 2 (Pass2 keeps the run journal's state around them).
  ImportOutcome PostRows(LoggingOperator& op, int copy_fd, RunJournal& journal,
                         int64_t* unconfirmed_line, int64_t* unconfirmed_policy_id);
  void End(LoggingOperator& op, ImportOutcome outcome);
  // The posting routine of the row's GL account, as pass 2 calls it.
  void PostRow(Posting& posting, const CsvRow& row, double amount);
  // "Errors found in input file" in the run log, and shown with the log opened unless the
  // caller shows the errors itself.
  void ReportErrors(LoggingOperator& op);

  ClientFileSet& files_;
  Operator& op_;
  std::function<DateTime()> now_;
  ImportSummary summary_;

  // Run values: the agency padded to 2, the posting date as mm/dd/yyyy, the CSV's path.
  std::string sAgy_, sEffDate_, sFileName_;
  int32_t first_je_ = 0, first_inv_ = 0;
  int64_t je_needed_ = 0, inv_needed_ = 0;
  std::string copy_folder_;  // where the private copy of the CSV is made

  StoreLock lock_;       // held by a posting run from its start to its end
  DateTime run_time_;    // the run's date and time: every entry date it writes
  Sha256 content_hash_;  // of the bytes pass 1 checked
  uint64_t content_size_ = 0;
  JournalRun run_;                      // the journal's entry of the run being posted
  std::vector<int64_t> posted_lines_;   // a resume skips these lines
  int32_t seed_je_ = 0, seed_inv_ = 0;  // the numbers pass 2 draws above
  bool skip_number_check_ = false;      // a resume checks its numbers after the guard
  bool errors_shown_by_caller_ = false;
  // Pass 1's sums for the preview: per GL, and per control account the rows of each party.
  std::map<std::string, AccountTotal> accounts_;
  std::map<std::string, std::unordered_map<std::string, int64_t>> parties_;
};

}  // namespace quillmere
