// Placeholder policies: one policy record and one Policy row per balance-forward invoice.
#include "posting/posting.h"
#include "recfiles/CBtrvKafImport.h"

namespace quillmere {

void Posting::AddPolicy(const std::string& sAgy, const std::string& sPolNum, std::string sCltNum,
                        std::string sDpt, std::string sCmp, std::string sCls, std::string sTrn,
                        std::string sPrd, const std::string& sEff, const std::string& sExp,
                        const std::string& sInvNum) {
  sCltNum = LeftPad(sCltNum, 6);
  sDpt = LeftPad(sDpt, 2);
  sCmp = LeftPad(sCmp, 3);
  sCls = LeftPad(sCls, 3);
  sTrn = LeftPad(sTrn, 3);
  sPrd = LeftPad(sPrd, 3);
  const DateTime now = now_();
  const std::string entry_date = EncodeDate(now.date);
  const std::optional<Date> policy_date = DecodeStoredDate(sEff);
  if (!policy_date) {
    throw PostingStopped("The effective date [" + sEff + "] of policy [" + sPolNum +
                         "] is not a stored date");
  }

  rPolRec PolRec;
  Blank(&PolRec);
  SetField(PolRec.AgyNum, sAgy);
  SetField(PolRec.PolNum, PadandTrunc(sPolNum, 20));
  SetField(PolRec.Seq, "99");
  SetField(PolRec.PolType, "0");
  SetField(PolRec.AgyNum2, sAgy);
  SetField(PolRec.CltNum, sCltNum);
  SetField(PolRec.InvNum, sInvNum);
  SetField(PolRec.DptNum, sDpt);
  SetField(PolRec.CmpNum, sCmp);
  SetField(PolRec.ClsNum, sCls);
  SetField(PolRec.TrnNum, sTrn);
  SetField(PolRec.EntryDate, entry_date);
  SetField(PolRec.Entry_Op, "KRV");
  SetField(PolRec.PrdNum, sPrd);
  SetField(PolRec.EffectDate, sEff);
  SetField(PolRec.AgyNum3, sAgy);
  SetField(PolRec.ExpDate, sExp);
  SetField(PolRec.Pol_Status, "O");
  SetField(PolRec.Cmp_Status, "R");
  SetField(PolRec.Pol_AR_OK, "P");
  SetField(PolRec.Pol_Tran_AR, "Y");
  SetField(PolRec.TotalPrem, "0000000000");
  SetField(PolRec.TotalNonPrem, "0000000000");
  SetField(PolRec.TranPrem, EncodeBCD(0));
  SetField(PolRec.TranNonPrem, "0000000000");
  if (Store(files_.pol(), &PolRec) != 0) {
    op_.ErrorWindow(
        StatusMessage(std::string("(00) Unable to update pol file ") + kPolFile.name, Status_));
  }

  PolicyTable* table = files_.policy_table();
  if (table == nullptr) return;
  PolicyRow row;
  row.AgyCode = sAgy;
  row.PolNum = sPolNum;
  row.CltNum = sCltNum;
  row.CmpCode = sCmp;
  row.TrnCode = sTrn;
  row.ClsCode = sCls;
  row.DptCode = sDpt;
  row.InvNum = sInvNum;
  row.EntryDate = now;
  row.PolicyDate = *policy_date;
  std::string error;
  if (counts_ != nullptr) {
    if (!CountPolicyWrite(*table, row, &error)) {
      throw CountFailed("The Policy row of [" + sPolNum + "] could not be looked up: " + error);
    }
    return;
  }
  PolicyWrite write;
  const std::optional<PostedBefore> before =
      posted_before_ ? posted_before_(row) : std::optional<PostedBefore>();
  if (!table->Post(row, before ? &*before : nullptr, &write, &error)) {
    throw PostingStopped("The Policy row of [" + sPolNum + "] could not be written: " + error);
  }
  policy_write_ = PostedPolicy{std::move(row), std::move(write)};
}

}  // namespace quillmere
