// The client file set: the agency's record files (the master file through two handles, seven
// handles in all) and the `Policy` table, opened by the first operation of a program start and
// kept open for the program's life, and each operation's run log.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "context/operator.h"
#include "context/policy_table.h"
#include "context/run_log.h"
#include "recfiles/btrv_layout.h"
#include "recfiles/record_file_handle.h"

namespace quillmere {

// "<what_failed>, status is <status>": "Unable to open Jcki file jcki, status is 12". A full
// disk also says so in words: "..., status is 18 (the disk is full)".
std::string StatusMessage(std::string_view what_failed, int status);

// The date-time stamp of the run log's name: the date, "-", the time, with every blank, "/",
// ":", ";" and "\" turned into "_". StringDateStamp("1/2/2025", "9:05:07 AM") ==
// "1_2_2025-9_05_07_AM".
std::string StringDateStamp(std::string_view date_text, std::string_view time_text);
// The stamp of the current local time, date as M/D/YYYY and time as H:MM:SS AM/PM.
std::string StringDateStamp();

// The record files each operation reads or writes (OpenClientFiles' `needed`): the import's
// pass 1 reads the master file and pass 2 writes the other three; the export reads the master
// file only. ApFilePtr2, extap and trans.ndx are only opened and closed.
inline constexpr StandardFile kImportFiles[] = {kApFile, kJckiFile, kDescFile, kPolFile};
inline constexpr StandardFile kExportFiles[] = {kApFile};

class ClientFileSet {
 public:
  // `policy_table` may be null where no database is involved (maintenance, some tests).
  // `stamp` gives the run log's date-time stamp; `log_dir` is where the logs are created.
  explicit ClientFileSet(
      PolicyTable* policy_table,
      std::function<std::string()> stamp = [] { return StringDateStamp(); },
      std::string log_dir = ".");
  ClientFileSet(const ClientFileSet&) = delete;
  ClientFileSet& operator=(const ClientFileSet&) = delete;

  // Starts an operation: creates its own run log "balances_<stamp>.txt", then opens the seven
  // handles in order where they are not open yet (the first operation opens all; a file that
  // failed to open is tried again), and writes the "Opened ..." lines whether or not the file
  // opened, so every operation's log starts alike; then the Policy table, unless it is open.
  // `needed` names the record files the operation reads or writes (the import: ap, jcki, desc,
  // pol; the export: ap); the others are only opened, as the host's programs do.
  // Each failed open is one line with its status and cause:
  //   "Unable to open Jcki file jcki (the store has no file of that name), status is 12"
  // False, with `*error` holding those lines and "Nothing was done.", when a needed file did not
  // open: the Policy table is not opened and the operation must do nothing (the next one tries
  // again). When only files that are not needed fail, their lines are shown through `op` as one
  // message and the operation goes on. Also false when the run log cannot be created or the
  // Policy table cannot be opened (`*error` says why).
  bool OpenClientFiles(Operator& op, std::span<const StandardFile> needed, std::string* error);
  // Closes the seven handles and the Policy table; the run log stays open. The next operation
  // opens them again.
  void CloseClientFiles();

  // The current operation's run log.
  RunLog& log() { return fOutput_; }
  PolicyTable* policy_table() { return policy_table_; }
  // True once every handle is open.
  bool files_open() const;

  // The handles the operations read and write through; their file names are those of the
  // standard record files (btrv_layout.h).
  RecordFileHandle& ap() { return ApFilePtr_; }  // the master file, read through
  RecordFileHandle& jcki() { return JckiFilePtr_; }
  RecordFileHandle& desc() { return DescFilePtr_; }
  RecordFileHandle& pol() { return PolFilePtr_; }

 private:
  bool CreateRunLog(std::string* error);

  RunLog fOutput_;
  // ApFilePtr2_ is a second, independent handle on "ap" that is never read through;
  // ExtApFilePtr_ and TransNDXFilePtr_ are only opened and closed, as the host's programs do.
  RecordFileHandle ApFilePtr_, ApFilePtr2_, ExtApFilePtr_, JckiFilePtr_, DescFilePtr_,
      TransNDXFilePtr_, PolFilePtr_;
  bool policy_table_open_ = false;
  PolicyTable* policy_table_;
  std::function<std::string()> stamp_;
  std::string log_dir_;
};

}  // namespace quillmere
