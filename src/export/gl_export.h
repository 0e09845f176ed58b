// The GL chart export: the agency's GL accounts from the master file as a CSV template in the
// balance sheet's layout (every value quoted and followed by a comma, CR LF line ends).
#pragma once

#include <string>
#include <string_view>

#include "context/client_files.h"
#include "context/operator.h"

namespace quillmere {

// "\"" + s + "\"" and that followed by ",": nothing inside is escaped.
std::string WrapQuote(std::string_view s);
std::string WrapQuotes(std::string_view s);
// "None", "Clients", ... for "000".."009"; any other code as it is.
std::string SubLedgerName(std::string_view code);
// "Debit" for A and E, "Credit" for L, I and C; any other character as it is.
std::string NormalBalanceName(std::string_view ap_type);

struct ExportRequest {
  std::string agency_code;  // as typed; at most 2 characters
  std::string csv_path;
  bool ask_before_overwrite = true;  // false: an existing file is replaced without a question
};

// How an export ended; the programs map each to their exit code.
enum class ExportOutcome {
  kWritten,      // the file is written, the client file set and run log are closed
  kDeclined,     // the operator kept the existing file; the set stays open
  kFailed,       // a message was shown; nothing half-written is left behind
  kSetupFailed,  // the request was refused or the client file set did not open; nothing done
};

// False, with a clear message, for a request the export cannot run with (an agency code longer
// than 2 characters would shift every key). Callers ask before they open anything.
bool CheckExportRequest(const ExportRequest& request, Operator& op);

// The export after the client file set is open: the overwrite question, the file, the scan of
// the agency's GL records, the log lines, CloseClientFiles and the run log closed. Launching the
// file and closing the window are the caller's.
ExportOutcome ExportGlChart(ClientFileSet& files, Operator& op, const ExportRequest& request);

}  // namespace quillmere

namespace quillmere {

// The export as one operation, the same for the window and the command line: the request
// checked before anything is opened, the client file set opened (this operation's run log),
// then ExportGlChart. A master file (ap) that does not open ends it with kSetupFailed before the
// output file is touched; every message of the open, shown or ending it, is also a line of the
// run log. The run log is closed at the end whatever the outcome.
class ExportRun {
 public:
  ExportRun(ClientFileSet& files, Operator& op) : files_(files), op_(op) {}

  ExportOutcome Run(const ExportRequest& request);
  // The run log of the last Run ("" when none was created).
  const std::string& run_log() const { return run_log_; }

 private:
  ClientFileSet& files_;
  Operator& op_;
  std::string run_log_;
};

}  // namespace quillmere
