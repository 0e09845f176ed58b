#include "import/import_run.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "import/csv_file.h"
#include "import/csv_reader.h"
#include "import/lookups.h"
#include "recfiles/CBtrvKafImport.h"

namespace quillmere {

std::string Pass1Error::RunLogLine() const {
  return line_number == 0 ? reason : reason + " in line [" + line + "]";
}

namespace {

constexpr int64_t kLastNumber = 999999;

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

bool ImportRun::Start(const ImportRequest& request, LoggingOperator& op) {
  std::string error;
  if (!files_.OpenClientFiles(op, kImportFiles, &error)) {
    op.ErrorWindow(error);  // in the run log too, when it was created
    if (files_.log().is_open()) summary_.run_log = files_.log().path();
    files_.log().Close();
    return false;
  }
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
  files_.log().Line("Posting Balances Effective [" + sEffDate_ + "]");
  sFileName_ = request.csv_path;
  return true;
}

ImportOutcome ImportRun::Pass1(LoggingOperator& op, CsvLineReader& reader, uint64_t total) {
  RunLog& log = files_.log();
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
    if (*amount == 0 && !amount_problem) continue;
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
    error_line(reason);
  };
  check_numbers("Starting JE Number", first_je_,
                numbering.FreeJENumbers(sAgy_, first_je_, je_needed_), je_needed_,
                "journal entries");
  check_numbers("Starting Inv Number", first_inv_,
                numbering.FreeInvNumbers(sAgy_, first_inv_, inv_needed_), inv_needed_, "invoices");
  return summary_.errors.empty() ? ImportOutcome::kClean : ImportOutcome::kErrors;
}

void ImportRun::End(LoggingOperator& op) {
  summary_.messages = op.messages();
  RunLog& log = files_.log();
  if (op.messages() > 0) {
    log.Line(std::to_string(op.messages()) +
             (op.messages() == 1 ? " message was" : " messages were") +
             " shown during this run; each is written above");
  }
  log.Line("All done");
  log.Close();
  op.SetStatus("Done!");
}

ImportOutcome ImportRun::Check(const ImportRequest& request) { return Passes(request, false); }

ImportOutcome ImportRun::Run(const ImportRequest& request) { return Passes(request, true); }

ImportOutcome ImportRun::Passes(const ImportRequest& request, bool post) {
  summary_ = ImportSummary{};
  if (!CheckRequest(request)) return ImportOutcome::kSetupFailed;
  LoggingOperator op(op_, files_.log());
  if (!Start(request, op)) return ImportOutcome::kSetupFailed;
  const auto setup_failed = [&](const std::string& message) {
    // The run ends here, its log as far as it got; the next operation writes a log of its own.
    if (!message.empty()) op.ErrorWindow(message);
    files_.log().Close();
    return ImportOutcome::kSetupFailed;
  };
  uint64_t total = 0;
  std::string reason;
  UniqueFd csv = OpenCsvFile(sFileName_, &total, &reason);
  if (!csv) return setup_failed(sFileName_ + " not found" + (reason.empty() ? "" : ": " + reason));
  UniqueFd copy;
  if (post) {
    copy_folder_ = PrivateCopyFolder();
    copy = CreatePrivateCopy(copy_folder_, &reason);
    if (!copy) {
      return setup_failed("No private copy of " + sFileName_ + " could be made in " + copy_folder_ +
                          ": " + reason + "; nothing was posted.");
    }
  }

  ImportOutcome outcome;
  {
    CsvLineReader reader(csv.get(), copy.get());
    outcome = Pass1(op, reader, total);
  }
  csv.reset();  // pass 2 reads the copy only
  if (outcome == ImportOutcome::kSetupFailed) return setup_failed("");
  if (outcome == ImportOutcome::kStopped) {
    files_.log().Line(summary_.stopped_by_operator);
  } else if (outcome == ImportOutcome::kErrors) {
    const std::string log_path = files_.log().path();
    op.ErrorWindow("Errors found in input file. See " + log_path);
    files_.log().Flush();
    op.Launch(log_path);
  } else if (post) {
    outcome = Pass2(op, copy.get());
  }
  End(op);
  return outcome;
}

ImportOutcome ImportRun::Pass2(LoggingOperator& op, int copy_fd) {
  RunLog& log = files_.log();
  log.Line("pass 2 - loading");

  Posting posting(files_, op, now_);
  posting.SeedNumbers(first_je_, first_inv_);
  op.SetStatus("Processing");
  op.ProcessEvents();

  std::string line;
  int64_t line_number = 0;
  if (::lseek(copy_fd, 0, SEEK_SET) != 0) {
    op.ErrorWindow("The checked copy of " + sFileName_ +
                   " could not be read: " + std::strerror(errno) + "; nothing was posted.");
    return ImportOutcome::kStopped;
  }
  CsvLineReader reader(copy_fd);
  if (reader.NextLine(&line)) line_number = 1;  // the header
  const auto stop = [&](const std::string& reason) {
    op.ErrorWindow("Posting stopped at line " + std::to_string(line_number) + " [" + line +
                   "]: " + reason +
                   ". The records of that line were rolled back; the lines before it are "
                   "posted.");
    return ImportOutcome::kStopped;
  };
  const auto stopped_by_operator = [&] {
    summary_.stopped_by_operator = "Stopped by the operator before line " +
                                   std::to_string(line_number) + " [" + line +
                                   "]; the lines before it are posted.";
    log.Line(summary_.stopped_by_operator);
    return ImportOutcome::kStopped;
  };
  // The row's record-store transaction and its Policy table transaction open together; the
  // store commits first, so a store that cannot commit takes the Policy row back with it.
  PolicyTable* table = files_.policy_table();
  std::string db_error;
  const auto roll_back = [&] {
    (void)btrAbortTransaction();
    if (table != nullptr) table->Rollback();
  };
  while (reader.NextLine(&line)) {
    ++line_number;
    const CsvRow row = ReadRow(line);
    op.SetStatus("Pass 2: Import [" + row.gl + "][" + row.sgl_as_written + "]");
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
      if (row.gl == "1120") {
        posting.Set1120Balance(sAgy_, "", "", row.gl, row.sgl, sEffDate_, row.dpt, *amount);
      } else if (row.gl == "1130") {
        posting.Set1130Balance(sAgy_, "", "", row.gl, row.sgl, sEffDate_, row.dpt, *amount);
      } else if (row.gl == "2110") {
        posting.Set2110Balance(sAgy_, "", "", row.gl, row.sgl, sEffDate_, row.dpt, *amount);
      } else if (row.gl == "2120") {
        posting.Set2120Balance(sAgy_, "", "", row.sgl, sEffDate_, row.dpt, *amount);
      } else {
        posting.AddSingleJE(sAgy_, "", row.gl, row.sgl, sEffDate_, row.dpt, *amount);
      }
    } catch (const std::exception& e) {
      roll_back();
      return stop(e.what());
    }
    if (posting.failed_writes() != failed_before) {
      // A record of the row could not be stored (disk full, read-only store ...): the row
      // would be half-written, so none of it is kept.
      roll_back();
      return stop(
          StatusMessage("a record of the line could not be stored", posting.failed_status()));
    }
    const int16_t end = btrEndTransaction();
    if (end != 0) {
      roll_back();
      return stop(StatusMessage("the records could not be committed", end));
    }
    ++summary_.posted;
    if (posting.iJENum() != je_before) {
      summary_.last_je = LeftPadZero(std::to_string(posting.iJENum()), 6);
      if (summary_.first_je.empty()) summary_.first_je = summary_.last_je;
    }
    if (posting.iInvNum() != inv_before) {
      summary_.last_inv = LeftPadZero(std::to_string(posting.iInvNum()), 6);
      if (summary_.first_inv.empty()) summary_.first_inv = summary_.last_inv;
    }
    if (table != nullptr && !table->Commit(&db_error)) {
      // The commit went out and no answer came back: the server may have stored the row.
      op.ErrorWindow("Posting stopped at line " + std::to_string(line_number) + " [" + line +
                     "]: the database did not confirm the Policy row of that line (" + db_error +
                     "). The records of that line are stored, but whether its Policy row was "
                     "stored is unknown; the lines before it are posted.");
      return ImportOutcome::kStopped;
    }
  }
  if (reader.failure() != CsvLineReader::Failure::kNone) {
    op.ErrorWindow("Posting stopped at line " + std::to_string(line_number + 1) +
                   ": the checked copy of " + sFileName_ + " could not be read (" +
                   std::strerror(reader.failure_errno()) + "). The lines before it are posted.");
    return ImportOutcome::kStopped;
  }
  op.SetStatus("Done!");
  op_.ErrorWindow("You need to rebuild control totals and migrate accounting");
  return ImportOutcome::kPosted;
}

}  // namespace quillmere
