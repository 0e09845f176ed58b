#include "import/import_run.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "context/sub_ledger_kinds.h"
#include "import/csv_file.h"
#include "import/csv_reader.h"
#include "import/lookups.h"
#include "journal/recovery.h"
#include "journal/store_transaction.h"
#include "recfiles/CBtrvKafImport.h"
#include "recfiles/record_store.h"

namespace quillmere {

std::string Pass1Error::RunLogLine() const {
  return line_number == 0 ? reason : reason + " in line [" + line + "]";
}

std::string OutcomeStatus(ImportOutcome outcome) {
  switch (outcome) {
    case ImportOutcome::kClean:
      return "Checked: no errors; nothing was posted";
    case ImportOutcome::kPosted:
      return "Done!";
    case ImportOutcome::kErrors:
      return "Errors found; nothing was posted";
    case ImportOutcome::kSetupFailed:
      return "Not started; nothing was posted";
    case ImportOutcome::kStopped:
      return "Stopped; see the message for what is posted";
    case ImportOutcome::kAlreadyPosted:
      return "Posted before; nothing was posted";
    case ImportOutcome::kRefused:
      return "Refused; nothing was posted";
    case ImportOutcome::kCancelled:
      return "Cancelled at the preview; nothing was posted";
  }
  return "";
}

namespace {

constexpr int64_t kLastNumber = 999999;

// A SubType that is still the template's name of the account's sub-ledger kind ("Bank"):
// "None" becomes no code, every other name would be stored as a code.
bool IsKindName(const std::string& sgl) {
  if (sgl.empty()) return false;
  for (const std::string_view name : kSubLedgerNames) {
    if (name != "None" && AsciiLower(name) == AsciiLower(sgl)) return true;
  }
  return false;
}

// "about 3 min left": the time the rows left will take at the pace so far.
std::string TimeLeft(double seconds) {
  if (seconds < 60) return "less than a minute left";
  const auto minutes = static_cast<int64_t>(seconds / 60 + 0.5);
  if (minutes < 60) return "about " + std::to_string(minutes) + " min left";
  return "about " + std::to_string(minutes / 60) + " h " + std::to_string(minutes % 60) +
         " min left";
}

bool IsControlAccount(const std::string& gl) {
  return gl == "1120" || gl == "1130" || gl == "2110" || gl == "2120";
}

}  // namespace

ImportRun::ImportRun(ClientFileSet& files, Operator& op, std::function<DateTime()> now)
    : files_(files), op_(op), now_(std::move(now)) {}

bool ImportRun::CheckRequest(const ImportRequest& request) {
  if (request.agency_code.size() > 2) {
    op_.ErrorWindow("The agency code [" + request.agency_code +
                    "] is longer than 2 characters; nothing was done.");
    return false;
  }
  const std::optional<Date> date = ParseDate(request.posting_date);
  if (!date || date->year < 1900 || date->year > 2099) {
    op_.ErrorWindow("The posting date [" + request.posting_date +
                    "] is not a date of 1900 to 2099 written month/day/year; nothing was done.");
    return false;
  }
  for (const auto& [number, name] : {std::pair{request.first_je_number, "Starting JE Number"},
                                     std::pair{request.first_inv_number, "Starting Inv Number"}}) {
    if (number < 0 || number > kLastNumber) {
      op_.ErrorWindow(std::string("The ") + name + " [" + std::to_string(number) +
                      "] is not between 0 and 999999; nothing was done.");
      return false;
    }
  }
  return true;
}

bool ImportRun::Start(const ImportRequest& request, LoggingOperator& op, bool post) {
  std::string error;
  const auto refuse = [&](const std::string& message) {
    if (!message.empty()) op.ErrorWindow(message);  // in the run log too, when it was created
    if (files_.log().is_open()) summary_.run_log = files_.log().path();
    files_.log().Close();
    lock_.Release();
    return false;
  };
  if (!files_.OpenClientFiles(op, kImportFiles, &error)) return refuse(error);
  run_time_ = now_();
  if (post) {
    // One posting run per store at a time: the lock ends with this run, or with its process.
    std::string why;
    const std::string holder =
        "import of " + request.csv_path + " for agency " + LeftPad(request.agency_code, 2) +
        ", process " + std::to_string(::getpid()) + ", since " + FormatJournalTime(run_time_);
    switch (lock_.Take(holder, &why)) {
      case StoreLock::Result::kTaken:
        break;
      case StoreLock::Result::kBusy:
        return refuse("Another import is posting into these record files: " + why +
                      ". Nothing was done; start this one again once it has ended.");
      case StoreLock::Result::kFailed:
        return refuse("The record files could not be locked for the import: " + why +
                      ". Nothing was done.");
    }
  }
  // What an earlier run left unconfirmed is completed before anything else is done.
  if (!RecoverUnfinishedRuns(files_, op, lock_)) return refuse("");
  summary_.started = true;
  summary_.run_log = files_.log().path();
  op.ProcessEvents();
  files_.log().Line("Pass1, error scan");
  op.SetStatus("Pass 1: Error Scan");
  op.ProcessEvents();
  first_je_ = static_cast<int32_t>(request.first_je_number);
  first_inv_ = static_cast<int32_t>(request.first_inv_number);
  sAgy_ = LeftPad(request.agency_code, 2);
  sEffDate_ = FormatShortDate(*ParseDate(request.posting_date));
  files_.log().Line(post ? "Posting Balances Effective [" + sEffDate_ + "]"
                         : "Checking Balances Effective [" + sEffDate_ + "] (nothing posted)");
  sFileName_ = request.csv_path;
  return true;
}

ImportOutcome ImportRun::Pass1(LoggingOperator& op, CsvLineReader& reader, uint64_t total) {
  RunLog& log = files_.log();
  accounts_.clear();
  parties_.clear();
  int64_t line_number = 0;
  std::string line;
  // Control bytes are shown as \xNN, so that a line of the run log is one line and shows what
  // the file holds.
  const auto add_error = [&](std::string reason, std::string_view shown_line) {
    Pass1Error& error = summary_.errors.emplace_back(
        Pass1Error{line_number, ShowControlBytes(reason), ShowControlBytes(shown_line)});
    log.Line(error.RunLogLine());
  };
  const auto error_line = [&](std::string reason) { add_error(std::move(reason), line); };
  const auto progress_total = static_cast<long long>(total);
  je_needed_ = inv_needed_ = 0;

  // The header: never a row, but it tells a file that cannot be read as a balance sheet. After
  // such a header the rows are counted, not checked: each would only repeat the same fault.
  bool check_rows = true;
  if (reader.NextLine(&line)) {
    line_number = 1;
    if (line.find('\r') != std::string::npos) {
      // A CR not followed by LF: a file with CR line ends reads as this one line.
      add_error("Lone CR line ends: save the file with CR LF or LF line ends",
                std::string_view(line).substr(0, 60));
      check_rows = false;
    } else if (line.find(';') != std::string::npos && line.find(',') == std::string::npos) {
      error_line("Semicolon-separated file: save it with commas");
      check_rows = false;
    } else if (line.find('\t') != std::string::npos && line.find(',') == std::string::npos) {
      error_line("Tab-separated file: save it with commas");
      check_rows = false;
    } else {
      const CsvRow first = ReadRow(line);
      const std::optional<double> amount = ParseAmount(first.amount_text);
      if (amount && *amount != 0 && PingGL(files_, sAgy_, first.gl) == 0) {
        error_line("First line is a balance row, not the header");
      }
    }
  }
  while (reader.NextLine(&line)) {
    if (op.StopRequested()) {  // a signal or Quit: the check ends here, nothing is posted
      summary_.stopped_by_operator = "Stopped by the operator during the check, before line " +
                                     std::to_string(line_number + 1) + "; nothing was posted.";
      return ImportOutcome::kStopped;
    }
    ++line_number;
    ++summary_.rows;
    if (summary_.rows % 512 == 0) {
      op.ShowProgress(static_cast<long long>(reader.size()), progress_total);
    }
    if (!check_rows) continue;
    const CsvRow row = ReadRow(line);
    std::optional<double> amount = ParseAmount(row.amount_text);
    if (!amount) {
      error_line("Unable to convert (" + row.amount_text + ") to floating point");
      amount = -1;
    }
    // The amount's text is checked on every row: "0,50" is not a zero row.
    const std::optional<std::string> amount_problem = AmountTextProblem(row);
    if (*amount == 0 && !amount_problem) {
      ++summary_.preview.zero_rows;
      continue;
    }
    if (!AmountFitsField(*amount)) error_line("Amount out of range (" + row.amount_text + ")");
    if (amount_problem) error_line(*amount_problem);
    for (const auto& [name, field] :
         {std::pair{"GL", &row.gl}, std::pair{"SubType", &row.sgl_as_written},
          std::pair{"Dpt", &row.dpt}}) {
      if (HasControlBytes(*field)) {
        error_line(std::string("Control character in ") + name + " [" + *field + "]");
      }
    }
    if (PingGL(files_, sAgy_, row.gl) != 0) error_line("GL not found [" + row.gl + "]");
    if (row.gl.size() > 4) error_line("GL longer than 4 characters [" + row.gl + "]");
    if (PingDpt(files_, sAgy_, row.dpt) != 0) error_line("Dpt not found [" + row.dpt + "]");
    if (row.dpt.size() > 2) error_line("Dpt longer than 2 characters [" + row.dpt + "]");
    std::string sgl = row.sgl;
    if (row.gl == "1120") {
      sgl = LeftPad(sgl, 6);
      if (PingClt(files_, sAgy_, sgl) != 0) error_line("Client not found [" + sgl + "]");
    } else if (row.gl == "1130" || row.gl == "2110") {
      sgl = LeftPad(sgl, 3);
      if (PingCmp(files_, sAgy_, sgl) != 0) error_line(row.gl + " Company not found [" + sgl + "]");
      if (sgl.size() > 3) error_line("SGL longer than 3 characters [" + sgl + "]");
    } else if (row.gl == "2120") {
      sgl = LeftPad(sgl, 3);
      if (PingPrd(files_, sAgy_, sgl) != 0) error_line("2120 Producer not found [" + sgl + "]");
      if (sgl.size() > 3) error_line("SGL longer than 3 characters [" + sgl + "]");
    }
    if ((row.gl == "1120" || !IsControlAccount(row.gl)) && sgl.size() > 6) {
      error_line("SGL longer than 6 characters [" + sgl + "]");
    }
    ++je_needed_;
    if (IsControlAccount(row.gl)) ++inv_needed_;
    // The trial balance: only a clean file shows it, so an amount that did not convert counts
    // for nothing here.
    if (!AmountFitsField(*amount)) continue;
    AccountTotal& account = accounts_[row.gl];
    account.gl = row.gl;
    ++account.rows;
    const int64_t cents = AmountCents(*amount);
    (cents >= 0 ? account.debit_cents : account.credit_cents) += cents >= 0 ? cents : -cents;
    if (IsControlAccount(row.gl)) {
      account.control = true;
      ++parties_[row.gl][sgl];
    } else if (IsKindName(row.sgl)) {
      summary_.preview.warnings.push_back(
          {PreviewWarning::Kind::kKindName, line_number,
           "SubType [" + row.sgl_as_written + "] of GL " + row.gl +
               " is the template's name of the sub-ledger kind, not a code; it would be "
               "stored as the sub-ledger code"});
    }
  }
  if (reader.failure() != CsvLineReader::Failure::kNone) {
    const std::string at = " at line " + std::to_string(line_number + 1) + ": ";
    const std::string why = std::strerror(reader.failure_errno());
    op.ErrorWindow(reader.failure() == CsvLineReader::Failure::kRead
                       ? sFileName_ + " could not be read" + at + why + "; nothing was posted."
                       : "The private copy of " + sFileName_ + " could not be written in " +
                             copy_folder_ + at + why + "; nothing was posted.");
    return ImportOutcome::kSetupFailed;
  }
  op.ShowProgress(progress_total, progress_total);

  // About the whole file, not one line of it. A file of no bytes at all is no balance sheet (a
  // save that went wrong, a wrong name); posting "0 rows" would report it as done.
  line_number = 0;
  line.clear();
  if (reader.size() == 0) error_line("Empty file: it holds no header and no rows");
  if (!skip_number_check_) CheckNumbers(op, first_je_, first_inv_, je_needed_, inv_needed_);
  return summary_.errors.empty() ? ImportOutcome::kClean : ImportOutcome::kErrors;
}

void ImportRun::CheckNumbers(LoggingOperator& op, int32_t first_je, int32_t first_inv,
                             int64_t je_needed, int64_t inv_needed) {
  // Pass 2 draws each number as these counts do, passing over the numbers in use, so it never
  // runs out once this says there are enough.
  Posting numbering(files_, op, now_);
  const auto check_numbers = [&](const char* name, int32_t first, int64_t free, int64_t needed,
                                 const char* documents) {
    if (free >= needed) return;
    std::string reason = std::string(name) + " [" + std::to_string(first) + "] leaves " +
                         std::to_string(free) + " numbers below 1000000 for " +
                         std::to_string(needed) + " " + documents;
    // Fewer found than needed: every number up to 999999 was looked at.
    const int64_t in_use = kLastNumber - first - free;
    if (in_use > 0) reason += "; " + std::to_string(in_use) + " numbers above it are in use";
    Pass1Error& error = summary_.errors.emplace_back(Pass1Error{0, reason, ""});
    files_.log().Line(error.RunLogLine());
  };
  check_numbers("Starting JE Number", first_je, numbering.FreeJENumbers(sAgy_, first_je, je_needed),
                je_needed, "journal entries");
  check_numbers("Starting Inv Number", first_inv,
                numbering.FreeInvNumbers(sAgy_, first_inv, inv_needed), inv_needed, "invoices");
}

void ImportRun::End(LoggingOperator& op, ImportOutcome outcome) {
  summary_.messages = op.messages();
  RunLog& log = files_.log();
  if (op.messages() > 0) {
    log.Line(std::to_string(op.messages()) +
             (op.messages() == 1 ? " message was" : " messages were") +
             " shown during this run; each is written above");
  }
  log.Line("All done");
  log.Close();
  op.SetStatus(OutcomeStatus(outcome));
}

ImportOutcome ImportRun::Check(const ImportRequest& request) {
  return Passes(request, false, LoadOptions{});
}

ImportOutcome ImportRun::Run(const ImportRequest& request, const LoadOptions& load) {
  return Passes(request, true, load);
}

namespace {

// The check's lookups share one read transaction while this lives, so they take the store's
// locks once; they still run one by one should it not start.
class SharedRecordReads {
 public:
  SharedRecordReads() { (void)BeginRecordReads(); }
  ~SharedRecordReads() { EndRecordReads(); }
  SharedRecordReads(const SharedRecordReads&) = delete;
  SharedRecordReads& operator=(const SharedRecordReads&) = delete;
};

// The lines a posting handles, read from the start of the checked copy: the data lines after
// the header, less those the earlier part of a resumed run posted (`posted`, ascending). The
// preview and pass 2 both go through it, so they see the same lines in the same order.
class LinesToPost {
 public:
  LinesToPost(int fd, const std::vector<int64_t>& posted)
      : reader_(fd), posted_(posted), next_posted_(posted.begin()) {
    if (reader_.NextLine(&line)) line_number = 1;  // the header
  }
  // The next line to handle into `line` and `line_number`; false at the end or when the copy
  // could not be read (reader().failure()).
  bool Next() {
    while (reader_.NextLine(&line)) {
      ++line_number;
      while (next_posted_ != posted_.end() && *next_posted_ < line_number) ++next_posted_;
      if (next_posted_ == posted_.end() || *next_posted_ != line_number) return true;
    }
    return false;
  }
  const CsvLineReader& reader() const { return reader_; }

  std::string line;
  int64_t line_number = 0;  // of `line`; the header is line 1

 private:
  CsvLineReader reader_;
  const std::vector<int64_t>& posted_;
  std::vector<int64_t>::const_iterator next_posted_;
};

// "lines 2-40, 42" : the lines as ranges.
std::string LineRanges(const std::vector<int64_t>& lines) {
  std::string text;
  for (size_t i = 0; i < lines.size();) {
    size_t j = i;
    while (j + 1 < lines.size() && lines[j + 1] == lines[j] + 1) ++j;
    if (!text.empty()) text += ", ";
    text += std::to_string(lines[i]);
    if (j > i) text += "-" + std::to_string(lines[j]);
    i = j + 1;
  }
  return text;
}

std::string Numbers(int32_t low, int32_t high) {
  if (low == 0) return "none";
  return LeftPadZero(std::to_string(low), 6) + " to " + LeftPadZero(std::to_string(high), 6);
}

// What the journal shows of a run, for a message: when, rows posted, numbers used.
std::string DescribeRun(const JournalRun& run) {
  std::string text = "run " + std::to_string(run.id) + " of " + run.started + " (" + run.csv_name +
                     ", posting date " + run.posting_date + ") posted " + std::to_string(run.rows) +
                     (run.rows == 1 ? " row" : " rows") + ", JE numbers " +
                     Numbers(run.low_je, run.high_je) + ", invoice numbers " +
                     Numbers(run.low_inv, run.high_inv);
  if (run.state == kRunPosted) text += "; it finished";
  if (run.state == kRunStopped) text += "; it stopped at line " + std::to_string(run.last_line + 1);
  if (run.state == kRunPosting) text += "; it is posting now";
  return text;
}

}  // namespace

ImportOutcome ImportRun::Guard(LoggingOperator& op, const LoadOptions& load) {
  RunJournal journal;
  if (!journal.Prepare()) {
    op.ErrorWindow("The run journal could not be made in the record files: " + journal.error() +
                   "; nothing was posted.");
    return ImportOutcome::kSetupFailed;
  }
  const std::string hash = content_hash_.HexDigest();
  const std::optional<JournalRun> unfinished = journal.Unfinished(sAgy_, hash);
  const std::optional<JournalRun> posted = journal.PostedBefore(sAgy_, hash);
  if (!journal.error().empty()) {
    op.ErrorWindow("The run journal could not be read: " + journal.error() +
                   "; nothing was posted.");
    return ImportOutcome::kSetupFailed;
  }
  LoadMode mode = load.mode;
  if (mode == LoadMode::kNew && posted) {
    summary_.earlier_run = DescribeRun(*posted);
    const std::string question = "This file's content was posted for agency " + sAgy_ +
                                 " before: " + summary_.earlier_run + ".";
    std::vector<std::string> answers;
    if (unfinished) answers.push_back("Resume run " + std::to_string(unfinished->id));
    answers.push_back("Post it again");
    answers.push_back("Cancel");
    const int chosen = op.Choose(question, answers);
    if (chosen < 0 || static_cast<size_t>(chosen) + 1 >= answers.size()) {
      if (chosen < 0) {  // nobody was asked: say the way on
        op.ErrorWindow(question + " Nothing was posted. " +
                       (unfinished ? "To post the rest of run " + std::to_string(unfinished->id) +
                                         ", import it with --resume; to post the file once "
                                         "more on purpose, "
                                   : std::string("To post the file once more on purpose, ")) +
                       "import it with --again; "
                       "quillmere-cli runs lists the runs and quillmere-cli undo RUN takes one "
                       "back.");
      }
      return ImportOutcome::kAlreadyPosted;
    }
    mode = unfinished && chosen == 0 ? LoadMode::kResume : LoadMode::kAgain;
  }
  if (mode != LoadMode::kResume) {
    run_ = JournalRun{};
    run_.agency = sAgy_;
    run_.csv_name = sFileName_;
    run_.csv_size = static_cast<int64_t>(content_size_);
    run_.csv_hash = hash;
    run_.posting_date = sEffDate_;
    run_.run_time = run_time_;
    run_.first_je = first_je_;
    run_.first_inv = first_inv_;
    seed_je_ = first_je_;
    seed_inv_ = first_inv_;
    return ImportOutcome::kClean;
  }
  if (!unfinished) {
    op.ErrorWindow(
        "Nothing to resume: the run journal shows no unfinished run of this file's "
        "content for agency " +
        sAgy_ + (posted ? " (" + DescribeRun(*posted) + ")" : std::string()) +
        ". Nothing was posted.");
    return ImportOutcome::kRefused;
  }
  run_ = *unfinished;
  std::string differs;
  if (load.date_given && sEffDate_ != run_.posting_date) {
    differs += " the posting date " + sEffDate_ + " (the run's is " + run_.posting_date + ")";
  }
  if (load.je_given && first_je_ != run_.first_je) {
    differs += " the starting JE number " + std::to_string(first_je_) + " (the run's is " +
               std::to_string(run_.first_je) + ")";
  }
  if (load.inv_given && first_inv_ != run_.first_inv) {
    differs += " the starting invoice number " + std::to_string(first_inv_) + " (the run's is " +
               std::to_string(run_.first_inv) + ")";
  }
  if (!differs.empty()) {
    op.ErrorWindow("Run " + std::to_string(run_.id) + " cannot be resumed with" + differs +
                   ": a resume posts with the run's own values. Leave them out, or post the "
                   "file anew with --again. Nothing was posted.");
    return ImportOutcome::kRefused;
  }
  posted_lines_ = journal.PostedLines(run_.id);
  if (!journal.error().empty()) {
    op.ErrorWindow("The run journal could not be read: " + journal.error() +
                   "; nothing was posted.");
    return ImportOutcome::kSetupFailed;
  }
  summary_.resumed = true;
  sEffDate_ = run_.posting_date;
  first_je_ = run_.first_je;
  first_inv_ = run_.first_inv;
  run_time_ = run_.run_time;
  // The draws go on above the last numbers the run drew, as one uninterrupted run would.
  seed_je_ = std::max(run_.first_je, run_.high_je);
  seed_inv_ = std::max(run_.first_inv, run_.high_inv);
  CheckNumbers(op, seed_je_, seed_inv_, std::max<int64_t>(0, je_needed_ - run_.rows),
               std::max<int64_t>(0, inv_needed_ - run_.invoice_rows));
  if (!summary_.errors.empty()) {
    ReportErrors(op);
    return ImportOutcome::kErrors;
  }
  return ImportOutcome::kClean;
}

void ImportRun::ReportErrors(LoggingOperator& op) {
  const std::string log_path = files_.log().path();
  const std::string message = "Errors found in input file. See " + log_path;
  if (errors_shown_by_caller_) {
    files_.log().Line(message);  // the caller shows the errors its own way
    files_.log().Flush();
    return;
  }
  op.ErrorWindow(message);
  files_.log().Flush();
  op.Launch(log_path);
}

ImportOutcome ImportRun::Passes(const ImportRequest& request, bool post, const LoadOptions& load) {
  summary_ = ImportSummary{};
  posted_lines_.clear();
  content_hash_ = Sha256();
  content_size_ = 0;
  // A resume checks its numbers once it knows the run's own.
  skip_number_check_ = post && load.mode == LoadMode::kResume;
  if (!CheckRequest(request)) return ImportOutcome::kSetupFailed;
  LoggingOperator op(op_, files_.log());
  if (!Start(request, op, post)) {
    op.SetStatus(OutcomeStatus(ImportOutcome::kSetupFailed));
    return ImportOutcome::kSetupFailed;
  }
  const auto setup_failed = [&](const std::string& message) {
    // The run ends here, its log as far as it got; the next operation writes a log of its own.
    if (!message.empty()) op.ErrorWindow(message);
    files_.log().Close();
    lock_.Release();
    op.SetStatus(OutcomeStatus(ImportOutcome::kSetupFailed));
    return ImportOutcome::kSetupFailed;
  };
  uint64_t total = 0;
  std::string reason;
  UniqueFd csv = OpenCsvFile(sFileName_, &total, &reason);
  if (!csv) return setup_failed(sFileName_ + " not found" + (reason.empty() ? "" : ": " + reason));
  // Pass 2 and the preview read the bytes pass 1 checked, from a private copy. A check that
  // cannot make one reads the file again for its preview.
  copy_folder_ = PrivateCopyFolder();
  UniqueFd copy = CreatePrivateCopy(copy_folder_, &reason);
  if (!copy && post) {
    return setup_failed("No private copy of " + sFileName_ + " could be made in " + copy_folder_ +
                        ": " + reason + "; nothing was posted.");
  }

  ImportOutcome outcome;
  {
    CsvLineReader reader(csv.get(), copy.get());
    reader.set_hash(&content_hash_);
    const SharedRecordReads shared_reads;
    outcome = Pass1(op, reader, total);
    content_size_ = reader.size();
  }
  if (copy) csv.reset();  // pass 2 reads the copy only
  if (outcome == ImportOutcome::kSetupFailed) return setup_failed("");
  seed_je_ = first_je_;
  seed_inv_ = first_inv_;
  if (outcome == ImportOutcome::kClean && post) {
    outcome = Guard(op, load);
    if (outcome == ImportOutcome::kSetupFailed) return setup_failed("");
  }
  summary_.posting_date = sEffDate_;
  summary_.first_je_number = first_je_;
  summary_.first_inv_number = first_inv_;
  if (outcome == ImportOutcome::kClean && (!post || load.approve)) {
    outcome = WorkOutPreview(op, copy ? copy.get() : csv.get());
    if (outcome == ImportOutcome::kSetupFailed) return setup_failed("");
    if (outcome == ImportOutcome::kClean && post) {
      op.SetStatus("Waiting for the preview to be approved");
      if (!load.approve(summary_.preview)) {
        files_.log().Line("Cancelled at the preview; nothing was posted");
        outcome = ImportOutcome::kCancelled;
      }
    }
  }
  if (outcome == ImportOutcome::kStopped) {
    files_.log().Line(summary_.stopped_by_operator);
  } else if (outcome == ImportOutcome::kErrors) {
    if (!summary_.resumed) ReportErrors(op);
  } else if (outcome == ImportOutcome::kClean && post) {
    outcome = Pass2(op, copy.get());
  }
  End(op, outcome);
  lock_.Release();
  return outcome;
}

ImportOutcome ImportRun::WorkOutPreview(LoggingOperator& op, int copy_fd) {
  Preview& preview = summary_.preview;
  preview.rows = summary_.rows;
  preview.already_posted = static_cast<int64_t>(posted_lines_.size());
  preview.accounts.clear();
  preview.debit_cents = preview.credit_cents = 0;
  for (auto& [gl, account] : accounts_) {
    if (account.control) {
      const auto& parties = parties_[gl];
      account.parties = static_cast<int64_t>(parties.size());
      account.shared_parties = std::count_if(parties.begin(), parties.end(),
                                             [](const auto& party) { return party.second > 1; });
    }
    preview.debit_cents += account.debit_cents;
    preview.credit_cents += account.credit_cents;
    preview.accounts.push_back(account);
  }
  std::vector<PreviewWarning> row_warnings = std::move(preview.warnings);
  preview.warnings.clear();
  if (preview.net_cents() != 0) {
    preview.warnings.push_back(
        {PreviewWarning::Kind::kOutOfBalance, 0,
         "The file is out of balance by " + FormatCents(preview.net_cents()) + ": debits " +
             FormatCents(preview.debit_cents) + ", credits " + FormatCents(preview.credit_cents) +
             ". It posts as it is; a conversion loaded in several files balances only in all "
             "of them together"});
  }
  if (preview.accounts.empty()) {
    preview.warnings.push_back({PreviewWarning::Kind::kNoAmount, 0,
                                "No row of the file has an amount: the posting would post "
                                "nothing"});
  }
  for (PreviewWarning& warning : row_warnings) preview.warnings.push_back(std::move(warning));

  // The posting itself, over the same lines in the same order, with its writes counted.
  op.SetStatus("Working out what will be posted");
  op.ProcessEvents();
  if (::lseek(copy_fd, 0, SEEK_SET) != 0) {
    op.ErrorWindow("The checked copy of " + sFileName_ +
                   " could not be read: " + std::strerror(errno) + "; nothing was posted.");
    return ImportOutcome::kSetupFailed;
  }
  const DateTime run_time = run_time_;
  Posting posting(files_, op, [run_time] { return run_time; });
  posting.SeedNumbers(seed_je_, seed_inv_);
  WriteCounts counts;
  posting.CountWritesOnly(&counts);
  const int64_t total = summary_.rows - preview.already_posted;
  int64_t done = 0;
  const SharedRecordReads shared_reads;
  LinesToPost lines(copy_fd, posted_lines_);
  const std::string& line = lines.line;
  const int64_t& line_number = lines.line_number;
  while (lines.Next()) {
    if (++done % 512 == 0) {
      op.ShowProgress(done, total);
      if (op.StopRequested()) {
        summary_.stopped_by_operator =
            "Stopped by the operator while working out what will be posted, before line " +
            std::to_string(line_number) + "; nothing was posted.";
        return ImportOutcome::kStopped;
      }
    }
    const CsvRow row = ReadRow(line);
    const std::optional<double> amount = ParseAmount(row.amount_text);
    if (!amount || *amount == 0) continue;
    const int32_t je_before = posting.iJENum(), inv_before = posting.iInvNum();
    try {
      PostRow(posting, row, *amount);
    } catch (const CountFailed& e) {
      op.ErrorWindow(std::string("What the posting will write could not be worked out: ") +
                     e.what() + "; nothing was posted.");
      return ImportOutcome::kSetupFailed;
    } catch (const std::exception& e) {
      Pass1Error& error = summary_.errors.emplace_back(
          Pass1Error{line_number, std::string("The posting would stop at this line: ") + e.what(),
                     ShowControlBytes(line)});
      files_.log().Line(error.RunLogLine());
      return ImportOutcome::kErrors;
    }
    if (posting.iJENum() != je_before) {
      if (preview.first_je == 0) preview.first_je = posting.iJENum();
      preview.last_je = posting.iJENum();
    }
    if (posting.iInvNum() != inv_before) {
      if (preview.first_inv == 0) preview.first_inv = posting.iInvNum();
      preview.last_inv = posting.iInvNum();
    }
  }
  if (lines.reader().failure() != CsvLineReader::Failure::kNone) {
    op.ErrorWindow("The checked copy of " + sFileName_ + " could not be read (" +
                   std::strerror(lines.reader().failure_errno()) + "); nothing was posted.");
    return ImportOutcome::kSetupFailed;
  }
  op.ShowProgress(total, total);
  preview.record_writes.clear();
  // In the order of the client file set, whatever order the posting wrote them in.
  for (const StandardFile& file : kImportFiles) {
    for (const WriteCounts::File& counted : counts.files) {
      if (counted.name == file.name) {
        preview.record_writes.push_back({counted.name, counted.inserted, counted.replaced});
      }
    }
  }
  preview.policy_inserted = counts.policy_inserted;
  preview.policy_updated = counts.policy_updated;
  summary_.previewed = true;
  return ImportOutcome::kClean;
}

void ImportRun::PostRow(Posting& posting, const CsvRow& row, double amount) {
  if (row.gl == "1120") {
    posting.Set1120Balance(sAgy_, "", "", row.gl, row.sgl, sEffDate_, row.dpt, amount);
  } else if (row.gl == "1130") {
    posting.Set1130Balance(sAgy_, "", "", row.gl, row.sgl, sEffDate_, row.dpt, amount);
  } else if (row.gl == "2110") {
    posting.Set2110Balance(sAgy_, "", "", row.gl, row.sgl, sEffDate_, row.dpt, amount);
  } else if (row.gl == "2120") {
    posting.Set2120Balance(sAgy_, "", "", row.sgl, sEffDate_, row.dpt, amount);
  } else {
    posting.AddSingleJE(sAgy_, "", row.gl, row.sgl, sEffDate_, row.dpt, amount);
  }
}

ImportOutcome ImportRun::Pass2(LoggingOperator& op, int copy_fd) {
  RunLog& log = files_.log();
  log.Line("pass 2 - loading");
  RunJournal journal;
  const std::string now = FormatJournalTime(NowLocal());
  {
    StoreTransaction transaction;
    bool ok = transaction.status() == 0;
    if (summary_.resumed) {
      ok = ok && journal.SetState(run_.id, kRunPosting, "");
    } else {
      run_.started = now;
      run_.state = kRunPosting;
      ok = ok && journal.AddRun(&run_);
    }
    const int16_t end = ok ? transaction.Commit() : transaction.status();
    if (!ok || end != 0) {
      op.ErrorWindow(
          "The run could not be entered in the run journal: " +
          (journal.error().empty() ? StatusMessage("the record files", end) : journal.error()) +
          "; nothing was posted.");
      return ImportOutcome::kStopped;
    }
  }
  summary_.run_id = run_.id;
  if (summary_.resumed) {
    summary_.already_posted = static_cast<int64_t>(posted_lines_.size());
    log.Line("Resuming run " + std::to_string(run_.id) + " of " + run_.started + ": " +
             (posted_lines_.empty() ? std::string("no line was posted by its earlier part")
                                    : "lines " + LineRanges(posted_lines_) +
                                          " were posted by its earlier part and are skipped"));
  }

  int64_t unconfirmed_line = 0, unconfirmed_policy_id = 0;
  SetRecordCapture(true);
  const ImportOutcome outcome =
      PostRows(op, copy_fd, journal, &unconfirmed_line, &unconfirmed_policy_id);
  SetRecordCapture(false);
  // The run's end: the last row's Policy commit is confirmed, and the run's state kept. A run
  // whose end cannot be written stays "posting" in the journal; the next start marks it stopped
  // and writes the last row's Policy values again, which changes nothing.
  {
    StoreTransaction transaction;
    if (transaction.status() == 0 &&
        (unconfirmed_line == 0 ||
         journal.Confirm(run_.id, unconfirmed_line, unconfirmed_policy_id)) &&
        journal.SetState(run_.id, outcome == ImportOutcome::kPosted ? kRunPosted : kRunStopped,
                         FormatJournalTime(NowLocal()))) {
      (void)transaction.Commit();
    }
  }
  return outcome;
}

namespace {

// The test seam of the fault tests: QUILLMERE_PAUSE_AFTER_STORE_COMMIT=N stops the process
// (SIGSTOP) after the Nth posted row's records are committed and before its Policy row is, so
// a test can kill it exactly there.
// Which line of this run last wrote each Policy key, as far as a fixed table remembers (2 MiB
// whatever the file's size; a key that lost its slot is simply not known): a later row of the
// same party then names that write, and the table can update the row without reading it.
class LastWriteOfKey {
 public:
  std::optional<int64_t> Find(const PolicyRow& row) const {
    const uint64_t hash = PolicyKeyHash(row);
    const uint64_t slot = slots_[hash % kSlots];
    if (slot >> 32 != Fingerprint(hash)) return std::nullopt;
    return static_cast<int64_t>(slot & 0xffffffffu);
  }
  void Remember(const PolicyRow& row, int64_t line) {
    if (line <= 0 || line > 0xffffffff) return;
    const uint64_t hash = PolicyKeyHash(row);
    slots_[hash % kSlots] = Fingerprint(hash) << 32 | static_cast<uint64_t>(line);
  }

 private:
  static constexpr size_t kSlots = 1 << 18;
  static uint64_t Fingerprint(uint64_t hash) { return (hash >> 32) | 1; }  // never 0: empty
  std::vector<uint64_t> slots_ = std::vector<uint64_t>(kSlots, 0);
};

int64_t PauseAfterStoreCommit() {
  const char* value = std::getenv("QUILLMERE_PAUSE_AFTER_STORE_COMMIT");
  return value == nullptr ? 0 : std::atoll(value);
}

}  // namespace

ImportOutcome ImportRun::PostRows(LoggingOperator& op, int copy_fd, RunJournal& journal,
                                  int64_t* unconfirmed_line, int64_t* unconfirmed_policy_id) {
  RunLog& log = files_.log();
  const DateTime run_time = run_time_;
  Posting posting(files_, op, [run_time] { return run_time; });
  posting.SeedNumbers(seed_je_, seed_inv_);
  // A party's later rows name the Policy write of its earlier row; the table checks that the row
  // still holds it.
  LastWriteOfKey last_write;
  posting.SetPostedBefore([&](const PolicyRow& policy) -> std::optional<PostedBefore> {
    const std::optional<int64_t> line = last_write.Find(policy);
    if (!line) return std::nullopt;
    return journal.PostedPolicy(run_.id, *line);
  });
  op.SetStatus("Processing");
  op.ProcessEvents();
  const int64_t pause_at = PauseAfterStoreCommit();
  const std::string resume_hint = " To post the rest, import the same file again and resume run " +
                                  std::to_string(run_.id) + " (quillmere-cli import --resume).";

  if (::lseek(copy_fd, 0, SEEK_SET) != 0) {
    op.ErrorWindow("The checked copy of " + sFileName_ +
                   " could not be read: " + std::strerror(errno) + "; nothing was posted.");
    return ImportOutcome::kStopped;
  }
  LinesToPost lines(copy_fd, posted_lines_);
  const std::string& line = lines.line;
  const int64_t& line_number = lines.line_number;
  const auto stop = [&](const std::string& reason) {
    op.ErrorWindow("Posting stopped at line " + std::to_string(line_number) + " [" + line +
                   "]: " + reason +
                   ". The records of that line were rolled back; the lines before it are "
                   "posted." +
                   resume_hint);
    return ImportOutcome::kStopped;
  };
  const auto stopped_by_operator = [&] {
    summary_.stopped_by_operator = "Stopped by the operator before line " +
                                   std::to_string(line_number) + " [" + line +
                                   "]; the lines before it are posted." + resume_hint;
    log.Line(summary_.stopped_by_operator);
    return ImportOutcome::kStopped;
  };
  // Each row: its record-store transaction and its Policy table transaction open together. The
  // store commits first, with the row's journal entry (the intended and earlier Policy values)
  // and the confirmation of the row before it, whose Policy commit has been answered; MySQL
  // commits second. A store that cannot commit takes the Policy row back with it; a MySQL commit
  // that fails or goes unanswered leaves the row unconfirmed in the journal, and the next start
  // writes its Policy values again (recovery.h).
  PolicyTable* table = files_.policy_table();
  std::string db_error;
  const auto roll_back = [&] {
    (void)btrAbortTransaction();
    if (table != nullptr) table->Rollback();
  };
  // Progress: the lines this posting handles, zero rows included.
  const int64_t total = summary_.rows - static_cast<int64_t>(posted_lines_.size());
  int64_t done = 0;
  const auto started = std::chrono::steady_clock::now();
  while (lines.Next()) {
    const CsvRow row = ReadRow(line);
    ++done;
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    // The pace is known once the first rows are posted; before that no guess is shown.
    const std::string time_left = elapsed >= 1 && done > 1
                                      ? ", " + TimeLeft(elapsed / static_cast<double>(done - 1) *
                                                        static_cast<double>(total - done + 1))
                                      : "";
    op.SetStatus("Pass 2: Import [" + row.gl + "][" + row.sgl_as_written + "] row " +
                 std::to_string(done) + " of " + std::to_string(total) + time_left);
    op.ShowProgress(done - 1, total);
    op.ProcessEvents();
    if (op.StopRequested()) return stopped_by_operator();
    const std::optional<double> amount = ParseAmount(row.amount_text);
    if (!amount) return stop("the amount (" + row.amount_text + ") is not a number");
    const std::string head = "# GL [" + row.gl + "] SGL [" + LeftPad(row.sgl, 6) + "] date [" +
                             sEffDate_ + "] Dpt [" + row.dpt + "] Amt [";
    if (*amount == 0) {
      log.Line(head + "ZERO-SKIPPED]");
      ++summary_.skipped;
      continue;
    }
    log.Line(head + FormatAmount(*amount) + "]");
    log.Flush();
    if (!log.ok()) return stop("the run log " + log.path() + " could not be written");

    const int64_t failed_before = posting.failed_writes();
    const int32_t je_before = posting.iJENum();
    const int32_t inv_before = posting.iInvNum();
    const int16_t begin = btrBeginTransaction();
    if (begin != 0) {
      // A stop gives up the wait for another program's lock: nothing of this row was done.
      if (op.StopRequested()) return stopped_by_operator();
      return stop(StatusMessage("the record files could not be locked", begin));
    }
    if (table != nullptr && !table->Begin(&db_error)) {
      (void)btrAbortTransaction();
      return stop("the Policy table's transaction could not be started: " + db_error);
    }
    try {
      PostRow(posting, row, *amount);
    } catch (const std::exception& e) {
      (void)posting.TakePolicyWrite();
      roll_back();
      return stop(e.what());
    }
    std::optional<PostedPolicy> policy = posting.TakePolicyWrite();
    if (posting.failed_writes() != failed_before) {
      // A record of the row could not be stored (disk full, read-only store ...): the row
      // would be half-written, so none of it is kept.
      roll_back();
      return stop(
          StatusMessage("a record of the line could not be stored", posting.failed_status()));
    }
    JournalRow entry;
    entry.line = line_number;
    entry.je = posting.iJENum() != je_before ? posting.iJENum() : 0;
    entry.inv = posting.iInvNum() != inv_before ? posting.iInvNum() : 0;
    entry.records = TakeRecordChanges();
    entry.confirmed = !policy.has_value();
    if (policy) {
      entry.policy = std::move(policy->row);
      entry.policy_write = std::move(policy->write);
    }
    if ((*unconfirmed_line != 0 &&
         !journal.Confirm(run_.id, *unconfirmed_line, *unconfirmed_policy_id)) ||
        !journal.AddRow(run_.id, entry)) {
      roll_back();
      return stop(journal.error());
    }
    const int16_t end = btrEndTransaction();
    if (end != 0) {
      roll_back();
      return stop(StatusMessage("the records could not be committed", end));
    }
    *unconfirmed_line = 0;
    ++summary_.posted;
    if (entry.je != 0) {
      summary_.last_je = LeftPadZero(std::to_string(entry.je), 6);
      if (summary_.first_je.empty()) summary_.first_je = summary_.last_je;
    }
    if (entry.inv != 0) {
      summary_.last_inv = LeftPadZero(std::to_string(entry.inv), 6);
      if (summary_.first_inv.empty()) summary_.first_inv = summary_.last_inv;
    }
    if (pause_at > 0 && summary_.posted == pause_at) ::raise(SIGSTOP);
    if (table != nullptr && !table->Commit(&db_error)) {
      // The commit went out and no answer came back, or it failed: the journal holds the row
      // unconfirmed, with the values its Policy row must have.
      op.ErrorWindow("Posting stopped at line " + std::to_string(line_number) + " [" + line +
                     "]: the database did not confirm the Policy row of that line (" + db_error +
                     "). The records of that line are stored; its Policy row will be completed "
                     "at the next start of the program, before anything else. The lines before "
                     "it are posted." +
                     resume_hint);
      return ImportOutcome::kStopped;
    }
    if (entry.policy) {
      *unconfirmed_line = line_number;
      *unconfirmed_policy_id = entry.policy_write.policy_id;
      last_write.Remember(*entry.policy, line_number);
    }
  }
  op.ShowProgress(total, total);
  if (lines.reader().failure() != CsvLineReader::Failure::kNone) {
    op.ErrorWindow("Posting stopped at line " + std::to_string(line_number + 1) +
                   ": the checked copy of " + sFileName_ + " could not be read (" +
                   std::strerror(lines.reader().failure_errno()) +
                   "). The lines before it are posted." + resume_hint);
    return ImportOutcome::kStopped;
  }
  return ImportOutcome::kPosted;
}

}  // namespace quillmere
