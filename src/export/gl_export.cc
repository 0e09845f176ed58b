#include "export/gl_export.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "context/logging_operator.h"
#include "context/output_file.h"
#include "context/sub_ledger_kinds.h"
#include "journal/recovery.h"
#include "journal/store_lock.h"
#include "recfiles/CBtrvKafImport.h"
#include "recfiles/btrv_layout.h"
#include "recfiles/encodings.h"

namespace quillmere {
namespace {

constexpr std::string_view kHeaderLine =
    "\"GL\",\"Name\",\"SubType\",\"Normal\",\"Dept\",\"Value\"";
constexpr std::string_view kLineEnd = "\r\n";

std::string ErrnoText(int error) { return std::strerror(error); }

// One export row: the six values, each quoted and followed by a comma, and CR LF.
std::string ExportRow(const rApRec& rec) {
  std::string row = WrapQuotes(LeftPad(Trim(FieldText(rec.Num)), 4));
  row += WrapQuotes(VelCatStr(rec.Name, sizeof rec.Name));
  row += WrapQuotes(SubLedgerName(FieldText(rec.v.gl.SubAccountsNum)));
  row += WrapQuotes(NormalBalanceName(FieldText(rec.ApType)));
  row += WrapQuotes("GA");
  row += WrapQuotes("0.0");
  row += kLineEnd;
  return row;
}

// Shows `message` and writes it to the run log as well.
void Report(ClientFileSet& files, Operator& op, const std::string& message) {
  files.log().Line(message);
  files.log().Flush();
  op.ErrorWindow(message);
}

}  // namespace

std::string WrapQuote(std::string_view s) {
  std::string quoted;
  quoted.reserve(s.size() + 2);
  quoted += '"';
  quoted += s;
  quoted += '"';
  return quoted;
}

std::string WrapQuotes(std::string_view s) { return WrapQuote(s) + ","; }

std::string SubLedgerName(std::string_view code) {
  if (code.size() == 3 && code[0] == '0' && code[1] == '0' && code[2] >= '0' && code[2] <= '9') {
    return std::string(kSubLedgerNames[code[2] - '0']);
  }
  return std::string(code);
}

std::string NormalBalanceName(std::string_view ap_type) {
  if (ap_type == "A" || ap_type == "E") return "Debit";
  if (ap_type == "L" || ap_type == "I" || ap_type == "C") return "Credit";
  return std::string(ap_type);
}

bool CheckExportRequest(const ExportRequest& request, Operator& op) {
  // A longer code would shift every byte of the master-file key after it.
  if (request.agency_code.size() > 2) {
    op.ErrorWindow("The agency code [" + request.agency_code +
                   "] is longer than 2 characters; no GL codes were exported.");
    return false;
  }
  return true;
}

ExportOutcome ExportGlChart(ClientFileSet& files, Operator& op, const ExportRequest& request) {
  if (!CheckExportRequest(request, op)) return ExportOutcome::kFailed;

  const std::string& name = request.csv_path;
  std::error_code ignored;
  const std::filesystem::file_status target = std::filesystem::status(name, ignored);
  if (std::filesystem::is_directory(target)) {
    Report(files, op, "Error creating " + name + " :" + ErrnoText(EISDIR));
    return ExportOutcome::kFailed;
  }
  if (std::filesystem::exists(target) && request.ask_before_overwrite &&
      !op.Confirm("[" + name + "] exists. Overwrite?")) {
    return ExportOutcome::kDeclined;
  }

  OutputFile output(name);
  int error = 0;
  if (!output.Create(&error)) {
    Report(files, op, "Error creating " + name + " :" + ErrnoText(error));
    return ExportOutcome::kFailed;
  }
  output.Write(kHeaderLine);
  output.Write(kLineEnd);

  // The agency's GL accounts: every master record whose key starts with the start key.
  const std::string start_key = std::string(kGlKind) + LeftPad(request.agency_code, 2);
  std::array<char, 256> achKey{};  // zero-filled: the store reads the file's whole key length
  std::memcpy(achKey.data(), start_key.data(), start_key.size());

  rApRec ApRec;
  int16_t status = files.ap().GetGreater(achKey.data(), &ApRec);
  files.log().Line("Beginning dump of GL Codes");
  while (status == kStatusOk && std::memcmp(&ApRec, start_key.data(), start_key.size()) == 0) {
    output.Write(ExportRow(ApRec));
    status = files.ap().GetNext(&ApRec);
  }
  // Past the agency's last GL account the scan meets another record or the end of the file;
  // any other status is a failed read, and a chart cut short must not pass for a whole one.
  if (status != kStatusOk && status != kStatusEndOfFile && status != kStatusKeyNotFound) {
    output.Discard();
    Report(files, op,
           StatusMessage("Unable to read the GL codes of agency [" + request.agency_code +
                             "] from ap file " + kApFile.name,
                         status));
    return ExportOutcome::kFailed;
  }

  if (!output.Commit(&error)) {
    Report(files, op, "Error writing " + name + " :" + ErrnoText(error));
    return ExportOutcome::kFailed;
  }

  op.SetStatus("Done!");
  op.ProcessEvents();
  files.log().Line("Closing data files");
  files.CloseClientFiles();
  files.log().Line("Dump of GL Codes Complete, exiting");
  files.log().Close();
  return ExportOutcome::kWritten;
}

ExportOutcome ExportRun::Run(const ExportRequest& request) {
  run_log_.clear();
  if (!CheckExportRequest(request, op_)) return ExportOutcome::kSetupFailed;
  LoggingOperator logged(op_, files_.log());
  std::string error;
  if (!files_.OpenClientFiles(logged, kExportFiles, &error)) {
    // In the run log too when it was created (a log that could not be created says so here).
    if (files_.log().is_open()) run_log_ = files_.log().path();
    logged.ErrorWindow(error);
    files_.log().Close();
    return ExportOutcome::kSetupFailed;
  }
  run_log_ = files_.log().path();
  // What an earlier import left unconfirmed is completed before anything else is done.
  StoreLock lock;
  if (!RecoverUnfinishedRuns(files_, logged, lock)) {
    files_.log().Close();
    return ExportOutcome::kSetupFailed;
  }
  op_.ProcessEvents();
  const ExportOutcome outcome = ExportGlChart(files_, op_, request);
  files_.log().Close();
  return outcome;
}

}  // namespace quillmere
