#include "context/client_files.h"

#include <ctime>

#include "context/clock.h"
#include "recfiles/CBtrvKafImport.h"
#include "recfiles/record_store.h"

namespace quillmere {

std::string StatusMessage(std::string_view what_failed, int status) {
  return std::string(what_failed) + ", status is " + std::to_string(status) +
         (status == kStatusDiskFull ? " (the disk is full)" : "");
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

bool ClientFileSet::CreateRunLog(std::string* error) {
  // Two runs started in the same second (two programs, or two operations of one) would share a
  // name; the later one takes the next free "_2", "_3" ... instead of erasing the other's log.
  const std::string base =
      (log_dir_ == "." ? std::string() : log_dir_ + "/") + "balances_" + stamp_();
  bool exists = true;
  for (int n = 1; exists; ++n) {
    // Appended piece by piece: "_" + std::to_string(n) inlined at -O3 makes GCC 12 warn of an
    // overlapping copy that cannot happen (-Wrestrict).
    std::string log_name = base;
    if (n > 1) log_name.append("_").append(std::to_string(n));
    log_name += ".txt";
    if (fOutput_.CreateNew(log_name, &exists, error)) return true;
    if (!exists || n == 1000) return false;
  }
  return false;
}

bool ClientFileSet::OpenClientFiles(Operator& op, std::span<const StandardFile> needed,
                                    std::string* error) {
  if (!CreateRunLog(error)) return false;

  struct Step {
    RecordFileHandle* handle;
    const StandardFile& file;
    const char* what;
    const char* log_line;  // nullptr: the next step writes the line
  };
  const Step steps[] = {
      {&ApFilePtr_, kApFile, "Unable to open ap file ", nullptr},
      {&ApFilePtr2_, kApFile, "Unable to open ap file ", "Opened AP file ["},
      {&ExtApFilePtr_, kExtApFile, "Unable to open extap file ", "Opened ExtAP file ["},
      {&JckiFilePtr_, kJckiFile, "Unable to open Jcki file ", "Opened JCKI file ["},
      {&DescFilePtr_, kDescFile, "Unable to open Desc file ", "Opened Desc file ["},
      {&TransNDXFilePtr_, kTransFile, "Unable to open Trans file ", "Opened TransNDX file ["},
      {&PolFilePtr_, kPolFile, "Unable to open pol file ", "Opened Pol file ["},
  };
  std::string failures;  // one line per failed open
  std::string previous;  // the line of the step before: "ap" twice gives one line
  bool needed_failed = false;
  for (const Step& step : steps) {
    const std::string name = step.file.name;
    if (!step.handle->is_open()) {
      const int16_t status = step.handle->Open(name, step.file.record_length);
      if (status != 0) {
        const std::string line =
            StatusMessage(step.what + name + " (" + RecordStoreError() + ")", status);
        if (line != previous) failures += line + "\n";
        previous = line;
        for (const StandardFile& file : needed) {
          if (name == file.name) needed_failed = true;
        }
      }
    }
    if (step.log_line != nullptr) fOutput_.Line(step.log_line + name + "]");
  }
  if (needed_failed) {
    *error = failures + "Nothing was done.";
    return false;
  }
  if (!failures.empty()) {
    failures.pop_back();
    op.ErrorWindow(failures);
  }

  if (policy_table_ != nullptr && !policy_table_open_) {
    if (!policy_table_->Open(error)) {
      *error = "Unable to open the Policy table: " + *error;
      return false;
    }
    policy_table_open_ = true;
  }
  return true;
}

bool ClientFileSet::files_open() const {
  for (const RecordFileHandle* handle : {&ApFilePtr_, &ApFilePtr2_, &ExtApFilePtr_, &JckiFilePtr_,
                                         &DescFilePtr_, &TransNDXFilePtr_, &PolFilePtr_}) {
    if (!handle->is_open()) return false;
  }
  return true;
}

void ClientFileSet::CloseClientFiles() {
  for (RecordFileHandle* handle : {&ApFilePtr_, &ExtApFilePtr_, &TransNDXFilePtr_, &JckiFilePtr_,
                                   &DescFilePtr_, &PolFilePtr_, &ApFilePtr2_}) {
    handle->Close();
  }
  if (policy_table_ != nullptr && policy_table_open_) policy_table_->Close();
  policy_table_open_ = false;
}

}  // namespace quillmere
