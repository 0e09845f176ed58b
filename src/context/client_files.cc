#include "context/client_files.h"

#include <ctime>

#include "context/clock.h"
#include "recfiles/CBtrvKafImport.h"

namespace quillmere {

std::string StatusMessage(std::string_view what_failed, int status) {
  return std::string(what_failed) + ", status is " + std::to_string(status);
}

std::string StringDateStamp(std::string_view date_text, std::string_view time_text) {
  std::string stamp = std::string(date_text) + "-" + std::string(time_text);
  for (char& c : stamp) {
    if (c == ' ' || c == '/' || c == ':' || c == ';' || c == '\\') c = '_';
  }
  return stamp;
}

std::string StringDateStamp() {
  const DateTime now = NowLocal();
  const int hour12 = now.hour % 12 == 0 ? 12 : now.hour % 12;
  char date[32];
  char time[32];
  std::snprintf(date, sizeof date, "%d/%d/%d", now.date.month, now.date.day, now.date.year);
  std::snprintf(time, sizeof time, "%d:%02d:%02d %s", hour12, now.minute, now.second,
                now.hour < 12 ? "AM" : "PM");
  return StringDateStamp(date, time);
}

ClientFileSet::ClientFileSet(PolicyTable* policy_table, std::function<std::string()> stamp,
                             std::string log_dir)
    : policy_table_(policy_table), stamp_(std::move(stamp)), log_dir_(std::move(log_dir)) {}

bool ClientFileSet::OpenClientFiles(Operator& op, std::string* error) {
  if (fClientFilesOpen) {
    // Once per program start; a set that failed to open stays failed rather than letting an
    // operation carry on over closed handles.
    if (!open_error_.empty()) *error = open_error_;
    return open_error_.empty();
  }
  fClientFilesOpen = true;  // before anything else: a failed open is not retried
  if (!OpenOnce(op, error)) {
    open_error_ = *error + " (restart the program to try again)";
    return false;
  }
  return true;
}

bool ClientFileSet::OpenOnce(Operator& op, std::string* error) {
  // Two runs started in the same second (two programs, or an export then an import) would
  // share a name; the later one takes the next free "_2", "_3" ... instead of erasing the log
  // of the other.
  const std::string base =
      (log_dir_ == "." ? std::string() : log_dir_ + "/") + "balances_" + stamp_();
  bool exists = true;
  for (int n = 1; exists; ++n) {
    const std::string log_name = base + (n == 1 ? "" : "_" + std::to_string(n)) + ".txt";
    if (fOutput.CreateNew(log_name, &exists, error)) break;
    if (!exists || n == 1000) return false;
  }

  struct Step {
    int32_t* handle;
    const std::string& name;
    const char* what;
    const char* log_line;  // nullptr: the next step writes the line
  };
  const Step steps[] = {
      {&ApFilePtr, ApName, "Unable to open ap file ", nullptr},
      {&ApFilePtr2, ApName, "Unable to open ap file ", "Opened AP file ["},
      {&ExtApFilePtr, ExtApName, "Unable to open extap file ", "Opened ExtAP file ["},
      {&JckiFilePtr, JckiName, "Unable to open Jcki file ", "Opened JCKI file ["},
      {&DescFilePtr, DescName, "Unable to open Desc file ", "Opened Desc file ["},
      {&TransNDXFilePtr, TransName, "Unable to open Trans file ", "Opened TransNDX file ["},
      {&PolFilePtr, PolName, "Unable to open pol file ", "Opened Pol file ["},
  };
  for (const Step& step : steps) {
    *step.handle = CBtrvOapi();
    const int16_t status = btrOpen(*step.handle, "", step.name.c_str(), 1, 1, 0);
    if (status != 0) op.ErrorWindow(StatusMessage(step.what + step.name, status));
    if (step.log_line != nullptr) fOutput.Line(step.log_line + step.name + "]");
  }

  if (policy_table_ != nullptr && !policy_table_->Open(error)) {
    *error = "Unable to open the Policy table: " + *error;
    return false;
  }
  return true;
}

void ClientFileSet::CloseClientFiles() {
  for (int32_t handle : {ApFilePtr, ExtApFilePtr, TransNDXFilePtr, JckiFilePtr, DescFilePtr,
                         PolFilePtr, ApFilePtr2}) {
    (void)btrClose(handle);
  }
  if (policy_table_ != nullptr) policy_table_->Close();
}

}  // namespace quillmere
