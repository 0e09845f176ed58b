// The host's MySQL `Policy` table as the posting sees it. The core declares it; src/db
// implements it over Qt SQL, and tests use the same implementation against MariaDB.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "recfiles/encodings.h"

namespace quillmere {

// One placeholder policy row: every column the posting assigns, with the values it assigns.
struct PolicyRow {
  // Identify the row; assigned only when it is new.
  std::string AgyCode;
  std::string PolNum;
  int PolSeq = 99;
  std::string CltNum;
  std::string CmpCode;
  std::string TrnCode;
  std::string ClsCode;
  std::string DptCode;
  std::string InvNum;
  DateTime EntryDate;
  Date PolicyDate;  // EffectiveDate, ExpirationDate, the binder and term dates
  int Status = 0;
  int PQBFlag = 0;
  int CmpStatus = 3;
  double CurrentPremium = 0.0;
  double CurrentNonPremium = 0.0;
  double TotalPremium = 0.0;
  double TotalNonPremium = 0.0;
  std::string NameInsuredCode;
  int PolicyTermMonths = 1;
  int CancelMethod = 0;
  double MinEarnedPrem = 0.0;
  double UnearnedFactor = 0.0;
  double ReturnPremium = 0.0;
  double WrittenAmt = 0.0;
  std::string CmpName = "Balance Forward";
  int StartRiskSeq = 1;
  int CurRiskSeq = 1;
  std::string PrdCode = "KRV";  // column "Prd Code"
  std::string OprCode = "KRV";  // column "Opr Code"
  double D_filler1 = 0.0;
  double D_filler2 = 8.0;
  double D_filler3 = 2.0;
  int EndorseNumber = -1;
  int ActiveSeq = 1;
  std::string TagDesc = "Beginning Balance";
  std::string OverrideAnnualized = "N";
};

// A hash of the three columns that identify a Policy row (AgyCode, PolNum, PolSeq), for the
// fixed tables that remember which keys a run wrote.
inline uint64_t PolicyKeyHash(const PolicyRow& row) {
  return std::hash<std::string>{}(row.AgyCode + '\0' + row.PolNum + '\0' +
                                  std::to_string(row.PolSeq));
}

// What one Post did, as the run journal keeps it to complete or take back the write.
struct PolicyWrite {
  int64_t policy_id = 0;  // PolicyID of the row written
  bool inserted = false;  // no row matched: Post inserted this one
  // The written columns as the row held them before the update, in the table's own encoding
  // (opaque to the core; Restore takes it back, NULLs included). Empty when inserted.
  std::string earlier;
  friend bool operator==(const PolicyWrite&, const PolicyWrite&) = default;
};

// A write this run made to the same key before, as the run journal holds it: the values Post
// wrote and the row it wrote them to.
struct PostedBefore {
  int64_t policy_id = 0;
  PolicyRow row;
};

class PolicyTable {
 public:
  virtual ~PolicyTable() = default;
  // Makes the table ready for rows; false with `*error` (the driver's text) when it is not
  // there or the connection is lost.
  virtual bool Open(std::string* error) = 0;
  virtual void Close() = 0;
  // Finds the row whose AgyCode, PolNum and PolSeq equal the row's exactly (case and trailing
  // blanks count) and updates it without those three columns, or inserts a new row. False with
  // `*error` on any database failure.
  // `*write` says which row it wrote and what that row held before. An existing row is read
  // with a row lock inside the open transaction, so nobody changes it between the read and the
  // commit.
  // `before` (may be null): what this run wrote to the same key earlier. Where row
  // `before->policy_id` still holds exactly those values, the table may update it without
  // reading it first; `write->earlier` then says "the values of `before->row`".
  virtual bool Post(const PolicyRow& row, const PostedBefore* before, PolicyWrite* write,
                    std::string* error) = 0;
  bool Post(const PolicyRow& row, PolicyWrite* write, std::string* error) {
    return Post(row, nullptr, write, error);
  }
  bool Post(const PolicyRow& row, std::string* error) {
    PolicyWrite write;
    return Post(row, nullptr, &write, error);
  }
  // Takes one Post back, by PolicyID: a row it inserted is deleted, a row it updated gets the
  // `earlier` values of its written columns back (the identifying columns and the columns the
  // posting never writes are not touched). A row that is gone already is no error (a restore
  // may run twice). False with `*error` on a database failure.
  virtual bool Restore(int64_t policy_id, bool inserted, const std::string& earlier,
                       std::string* error) = 0;
  // `*exists`: a row with the row's AgyCode, PolNum and PolSeq (matched as Post matches them)
  // is there; read without a lock, for a posting that only counts what it would write. False
  // with `*error` on a database failure.
  virtual bool Exists(const PolicyRow& row, bool* exists, std::string* error) = 0;
  // `*holds`: row `policy_id` exists and its written columns hold what Post(row) wrote there,
  // compared as the table stores them. False with `*error` on a database failure.
  virtual bool Holds(int64_t policy_id, const PolicyRow& row, bool* holds, std::string* error) = 0;

  // One transaction per posted line. After Begin, the rows Post writes are kept together until
  // Commit stores them or Rollback undoes them; without Begin each Post stands alone.
  // Begin: false with `*error` when a transaction is open already (nothing changes).
  virtual bool Begin(std::string* error) = 0;
  // True once the database confirmed the transaction (or it wrote nothing). False with
  // `*error` otherwise; when the commit was sent and no answer came (a lost connection, a
  // time-out), whether the rows were stored is unknown.
  virtual bool Commit(std::string* error) = 0;
  // Undoes what Post wrote since Begin. Never fails: a connection that is lost takes the open
  // transaction with it.
  virtual void Rollback() = 0;
};

}  // namespace quillmere
