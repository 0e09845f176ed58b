// Posting of beginning balances into the record files and the Policy table: single and matched
// journal entries, balance-forward invoices with their description records, placeholder
// policies, and the numbering of journal entries and invoices.
//
// Failures of a record write are shown through the Operator and the posting goes on, as the
// host's own programs do. Failures that leave a row unpostable (a database error, a date that
// does not convert, no document number left below 1,000,000) throw PostingStopped; the import
// run then rolls the row's record writes back and stops.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "context/client_files.h"
#include "context/clock.h"
#include "context/operator.h"
#include "posting/key_set.h"
#include "recfiles/btrv_layout.h"
#include "recfiles/encodings.h"

namespace quillmere {

class PostingStopped : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A posting that only counts its writes could not ask the Policy table (the database failed):
// nothing about the file, but the count cannot go on.
class CountFailed : public PostingStopped {
 public:
  using PostingStopped::PostingStopped;
};

// The JE line's sub-line for a control account: "1120" -> "001", "1130" and "2110" -> "101",
// "2120" -> "301".
std::string LineByAccount(std::string_view control_account);
// "BF-" + the stored date with its decade character as a digit + "-" + suffix, blank-padded to
// 20 (never cut). BalanceForwardPolicyNumber(";51231", "1234") == "BF-151231-1234      ".
std::string BalanceForwardPolicyNumber(std::string_view stored_eff_date, std::string_view suffix);

// A Policy row the posting wrote: the values, and what the table found and did.
struct PostedPolicy {
  PolicyRow row;
  PolicyWrite write;
};

// What a posting that only counts its writes would have written (Posting::CountWritesOnly).
struct WriteCounts {
  struct File {
    std::string name;  // the record file's name
    int64_t inserted = 0;
    int64_t replaced = 0;  // over a record of the same key, also one this posting wrote
  };
  std::vector<File> files;  // in the order first written
  int64_t policy_inserted = 0;
  int64_t policy_updated = 0;  // a key of the table, also one this posting wrote
};

class Posting {
 public:
  // `files` must be open; `now` gives the entry date and time.
  Posting(
      ClientFileSet& files, Operator& op,
      std::function<DateTime()> now = [] { return NowLocal(); });

  // Journal entries.
  std::string GetNextJENum(const std::string& sAgy);
  void AddSingleJE(const std::string& AgyCode, const std::string& sJENum, std::string sGL,
                   std::string sSGL, const std::string& sEffDate, std::string sDpt, double dAmt);
  void AddMatchJE(const std::string& AgyCode, const std::string& sInvNum, const std::string& sJENum,
                  std::string sGL, std::string sSGL, const std::string& sEffDate, std::string sDpt,
                  double dAmt);
  void UpdateDesc(std::string sDesc);

  // Control-account balances: each posts one balance-forward invoice.
  void Set1120Balance(const std::string& sAgy, const std::string& sInvNum,
                      const std::string& sJENum, const std::string& sGL, const std::string& sSGL,
                      const std::string& sEffDate, const std::string& sDpt, double dAmt);
  void Set1130Balance(const std::string& sAgy, const std::string& sInvNum,
                      const std::string& sJENum, const std::string& sGL, const std::string& sSGL,
                      const std::string& sEffDate, const std::string& sDpt, double dAmt);
  void Set2110Balance(const std::string& sAgy, const std::string& sInvNum,
                      const std::string& sJENum, const std::string& sGL, const std::string& sSGL,
                      const std::string& sEffDate, const std::string& sDpt, double dAmt);
  void Set2120Balance(const std::string& sAgy, const std::string& sInvNum,
                      const std::string& sJENum, const std::string& sPrd,
                      const std::string& sEffDate, const std::string& sDpt, double dAmt);

  // Invoices.
  std::string GetNextInvNum(const std::string& sAgy);
  void AddInvoiceLine(const std::string& AgyCode, const std::string& sInv,
                      const std::string& sInvLine, const std::string& sInvTrn,
                      const std::string& sGL, const std::string& sPoint, const std::string& sClt,
                      const std::string& sEffDate, const std::string& sDpt,
                      const std::string& sEntDate, const std::string& sBillMthd, double dAmt);
  void AddInvoice(const std::string& sWhere, const std::string& sInv, const std::string& sJENum,
                  const std::string& AgyCode, const std::string& sPol, const std::string& sClt,
                  const std::string& sCmp, const std::string& sCls, const std::string& sTrn,
                  const std::string& sPrd, const std::string& sDpt, const std::string& sEffDate,
                  const std::string& sEntDate, double dPrem);

  // Policies.
  void AddPolicy(const std::string& sAgy, const std::string& sPolNum, std::string sCltNum,
                 std::string sDpt, std::string sCmp, std::string sCls, std::string sTrn,
                 std::string sPrd, const std::string& sEff, const std::string& sExp,
                 const std::string& sInvNum);

  // True when any line of journal entry / invoice `number` of the agency exists.
  bool PingJE(const std::string& sAgy, const std::string& number);
  bool PingInvoice(const std::string& sAgy, const std::string& number);

  // How many of the next `wanted` draws would find a number below 1000000 when the counter
  // stands at `start`: the draws of GetNextJENum / GetNextInvNum, passing over the numbers in
  // use as they do. Counts up to `wanted`, so fewer means the numbers run out; draws nothing
  // (the counters stay). The import's check asks this before anything is posted.
  int64_t FreeJENumbers(const std::string& sAgy, int32_t start, int64_t wanted);
  int64_t FreeInvNumbers(const std::string& sAgy, int32_t start, int64_t wanted);

  // The last numbers drawn; the next draw starts above them. The import run seeds them with
  // the starting numbers.
  void SeedNumbers(int32_t je, int32_t inv) {
    iJENum_ = je;
    iInvNum_ = inv;
  }
  int32_t iJENum() const { return iJENum_; }
  int32_t iInvNum() const { return iInvNum_; }
  // Record writes that failed on an open file (each already shown through the Operator), and
  // the status of the last one: the import run rolls back a row during which this count grows.
  // Writes to a file that is not open (status 3, reported when the set was opened) are shown
  // and not counted: the row goes on without that record.
  int64_t failed_writes() const { return failed_writes_; }
  // Asked before each Policy write: what this run wrote to the same key before, if the caller
  // knows (the import asks its run journal). Unset: nothing.
  void SetPostedBefore(std::function<std::optional<PostedBefore>(const PolicyRow&)> lookup) {
    posted_before_ = std::move(lookup);
  }
  // The Policy row written since the last call, for the run journal; nullopt when none.
  std::optional<PostedPolicy> TakePolicyWrite() { return std::exchange(policy_write_, {}); }
  int16_t failed_status() const { return failed_status_; }
  // From now on every record and Policy write is only counted into `*counts`, as an insert or
  // a replace: the record file, the table and the keys this posting counted before are asked
  // whether the key is there. Everything else runs as in a posting that writes: the numbers
  // drawn, the checks, the failures it stops at; only the run log gets no lines. The keys
  // written are remembered as 64-bit hashes (at most 16 bytes per write).
  void CountWritesOnly(WriteCounts* counts) { counts_ = counts; }

 private:
  // The dates in the stored form, then one invoice of type `sWhere` with the class " BF", the
  // transaction "MIS" and the policy "Balance Forward".
  void PostBalance(const std::string& sWhere, const std::string& sAgy, const std::string& sInvNum,
                   const std::string& sJENum, const std::string& sClt, const std::string& sCmp,
                   const std::string& sPrd, const std::string& sEffDate, const std::string& sDpt,
                   double dAmt);
  std::string TodayStored() const;
  bool DocumentExists(const std::string& sAgy, char type, const std::string& number);
  // Advances `*counter` to the next number no line of the agency uses and returns it; nullopt
  // once the counter stands at 999999.
  std::optional<std::string> DrawFreeNumber(const std::string& sAgy, char type, int32_t* counter);
  // As DrawFreeNumber; PostingStopped past 999999.
  std::string NextFreeNumber(const std::string& sAgy, char type, int32_t* counter,
                             const char* what);
  int64_t FreeNumbers(const std::string& sAgy, char type, int32_t start, int64_t wanted);
  // Stores `record` with the replace-by-key write; 0 or the status, also kept in Status_.
  int16_t Store(RecordFileHandle& file, const void* record);
  // Stores JckiRec_; a failure is shown as "<what> Unable to update Jcki file jcki, status is N".
  void StoreJckiLine(const std::string& what);
  void Log(const std::string& line) {
    if (counts_ == nullptr) files_.log().Line(line);
  }
  // CountWritesOnly: counts the write of `record` to `file`; the status a write would give
  // for a file that is not open, else 0.
  int16_t CountWrite(RecordFileHandle& file, const void* record);
  // CountWritesOnly: counts the Policy write of `row`; false with `*error` when the table
  // could not be asked.
  bool CountPolicyWrite(PolicyTable& table, const PolicyRow& row, std::string* error);

  ClientFileSet& files_;
  Operator& op_;
  std::function<DateTime()> now_;
  int32_t iJENum_ = 0;
  int32_t iInvNum_ = 0;
  int16_t Status_ = 0;  // the status of the last record-file call
  int64_t failed_writes_ = 0;
  int16_t failed_status_ = 0;
  rJckiRec JckiRec_;  // the transaction line being built
  std::optional<PostedPolicy> policy_write_;
  std::function<std::optional<PostedBefore>(const PolicyRow&)> posted_before_;
  WriteCounts* counts_ = nullptr;
  KeySet counted_keys_;  // record and Policy keys counted so far
};

}  // namespace quillmere
