// The import run: the start (run values, client file set, run log), pass 1 that checks every
// row against the master file and posts nothing, and pass 2 that posts a file pass 1 found
// clean, each row whole or not at all.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "context/client_files.h"
#include "context/clock.h"
#include "context/operator.h"
#include "posting/posting.h"

namespace quillmere {

struct ImportRequest {
  std::string agency_code;   // as typed; at most 2 characters
  std::string posting_date;  // M/D/YYYY
  std::string csv_path;
  int64_t first_je_number = 100000;   // the first JE posted is the next free number above
  int64_t first_inv_number = 500000;  // likewise for invoices
};

enum class ImportOutcome {
  kClean = 0,        // pass 1 found no error (check only)
  kPosted = 0,       // pass 2 posted every row
  kErrors = 1,       // pass 1 found errors; nothing posted
  kSetupFailed = 2,  // the run could not start (request, file set, CSV not found)
  kStopped = 3,      // posting stopped part-way; the rows before are posted whole
};

struct ImportSummary {
  int64_t rows = 0;         // data lines read by pass 1
  int64_t error_lines = 0;  // pass 1 error lines
  int64_t posted = 0;       // rows posted by pass 2
  int64_t skipped = 0;      // zero rows
  int64_t messages = 0;     // messages shown during the run
  std::string first_je, last_je, first_inv, last_inv;
  std::string run_log;
};

class ImportRun {
 public:
  // `files` is the program's client file set (opened here once per program start).
  ImportRun(
      ClientFileSet& files, Operator& op,
      std::function<DateTime()> now = [] { return NowLocal(); });

  // A clear message and false for a request the run cannot start with: an agency code longer
  // than 2 characters, a posting date that is not a real M/D/YYYY date of 1900-2099, negative
  // or too large starting numbers. Nothing else is done.
  bool CheckRequest(const ImportRequest& request);
  // The start and pass 1 only.
  ImportOutcome Check(const ImportRequest& request);
  // The whole run: pass 2 follows a clean pass 1.
  ImportOutcome Run(const ImportRequest& request);

  const ImportSummary& summary() const { return summary_; }

 private:
  class RunOperator;
  // The start, pass 1 and, with `post`, pass 2.
  ImportOutcome Passes(const ImportRequest& request, bool post);
  ImportOutcome Start(const ImportRequest& request, RunOperator& op);
  bool Pass1(RunOperator& op);
  ImportOutcome Pass2(RunOperator& op);
  void End(RunOperator& op);

  ClientFileSet& files_;
  Operator& op_;
  std::function<DateTime()> now_;
  ImportSummary summary_;

  // Run values.
  std::string sAgy, sEffDate, sFileName;
  int32_t first_je_ = 0, first_inv_ = 0;
  uint64_t pass1_size_ = 0, pass1_hash_ = 0;
  int64_t je_needed_ = 0, inv_needed_ = 0;
};

}  // namespace quillmere
