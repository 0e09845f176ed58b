// The client file set: the run log, the agency's record files (the master file through two
// handles, seven handles in all) and the `Policy` table, opened once per program start.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "context/operator.h"
#include "context/policy_table.h"
#include "context/run_log.h"
#include "recfiles/btrv_layout.h"

namespace quillmere {

// "<what_failed>, status is <status>": "Unable to open Jcki file jcki, status is 12".
std::string StatusMessage(std::string_view what_failed, int status);

// The date-time stamp of the run log's name: the date, "-", the time, with every blank, "/",
// ":", ";" and "\" turned into "_". StringDateStamp("1/2/2025", "9:05:07 AM") ==
// "1_2_2025-9_05_07_AM".
std::string StringDateStamp(std::string_view date_text, std::string_view time_text);
// The stamp of the current local time, date as M/D/YYYY and time as H:MM:SS AM/PM.
std::string StringDateStamp();

class ClientFileSet {
 public:
  // `policy_table` may be null where no database is involved (maintenance, some tests).
  // `stamp` gives the run log's date-time stamp; `log_dir` is where the log is created.
  explicit ClientFileSet(
      PolicyTable* policy_table,
      std::function<std::string()> stamp = [] { return StringDateStamp(); },
      std::string log_dir = ".");

  // Opens the set once per object: the run log, then the seven handles in order, each failure
  // shown through `op` ("Unable to open Jcki file jcki, status is 12") and the log line
  // written all the same, then the Policy table. False when the run log cannot be created or
  // the Policy table cannot be opened (the operation ends; `*error` says why). A second call
  // opens nothing: true after a successful first one, false with the first one's error.
  bool OpenClientFiles(Operator& op, std::string* error);
  // Closes the seven handles and the Policy table; the run log stays open.
  void CloseClientFiles();

  RunLog& log() { return fOutput; }
  PolicyTable* policy_table() { return policy_table_; }

  bool fClientFilesOpen = false;
  RunLog fOutput;
  const std::string ApName = "ap", ExtApName = "extap", JckiName = "jcki", DescName = "desc",
                    TransName = "trans.ndx", PolName = "pol";
  int32_t ApFilePtr = -1, ApFilePtr2 = -1, ExtApFilePtr = -1, JckiFilePtr = -1, DescFilePtr = -1,
          TransNDXFilePtr = -1, PolFilePtr = -1;
  uint32_t ApDatalen = kApRecLen, ExtApDatalen = kExtApRecLen, JckiDatalen = kJckiRecLen,
           DescDatalen = kDescRecLen, PolRecLen = kPolRecLen;

 private:
  bool OpenOnce(Operator& op, std::string* error);

  std::string open_error_;  // why the one open failed, if it did
  PolicyTable* policy_table_;
  std::function<std::string()> stamp_;
  std::string log_dir_;
};

}  // namespace quillmere
