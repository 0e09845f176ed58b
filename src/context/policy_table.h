// The host's MySQL `Policy` table as the posting sees it. The core declares it; src/db
// implements it over Qt SQL, and tests use the same implementation against MariaDB.
#pragma once

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
  virtual bool Post(const PolicyRow& row, std::string* error) = 0;

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
