// Control-account balances: each becomes one balance-forward invoice of its type. The party
// that owns the balance takes its place; the other two get the fixed codes client "999999",
// company "ZZZ", producer "KRV".
#include "posting/posting.h"

namespace quillmere {

void Posting::PostBalance(const std::string& sWhere, const std::string& sAgy,
                          const std::string& sInvNum, const std::string& sJENum,
                          const std::string& sClt, const std::string& sCmp, const std::string& sPrd,
                          const std::string& sEffDate, const std::string& sDpt, double dAmt) {
  const std::string today = TodayStored();
  const std::string eff = MakeDateFromString(sEffDate);
  AddInvoice(sWhere, sInvNum, sJENum, sAgy, "Balance Forward", sClt, sCmp, " BF", "MIS", sPrd,
             LeftPad(sDpt, 2), eff, today, dAmt);
}

void Posting::Set1120Balance(const std::string& sAgy, const std::string& sInvNum,
                             const std::string& sJENum, const std::string& /*sGL*/,
                             const std::string& sSGL, const std::string& sEffDate,
                             const std::string& sDpt, double dAmt) {
  PostBalance("CLT", sAgy, sInvNum, sJENum, LeftPad(sSGL, 6), "ZZZ", "KRV", sEffDate, sDpt, dAmt);
}

void Posting::Set1130Balance(const std::string& sAgy, const std::string& sInvNum,
                             const std::string& sJENum, const std::string& /*sGL*/,
                             const std::string& sSGL, const std::string& sEffDate,
                             const std::string& sDpt, double dAmt) {
  PostBalance("CMPREC", sAgy, sInvNum, sJENum, "999999", LeftPad(sSGL, 3), "KRV", sEffDate, sDpt,
              dAmt);
}

void Posting::Set2110Balance(const std::string& sAgy, const std::string& sInvNum,
                             const std::string& sJENum, const std::string& /*sGL*/,
                             const std::string& sSGL, const std::string& sEffDate,
                             const std::string& sDpt, double dAmt) {
  PostBalance("CMPPAY", sAgy, sInvNum, sJENum, "999999", LeftPad(sSGL, 3), "KRV", sEffDate, sDpt,
              dAmt);
}

void Posting::Set2120Balance(const std::string& sAgy, const std::string& sInvNum,
                             const std::string& sJENum, const std::string& sPrd,
                             const std::string& sEffDate, const std::string& sDpt, double dAmt) {
  PostBalance("PRDPAY", sAgy, sInvNum, sJENum, "999999", "ZZZ", LeftPad(sPrd, 3), sEffDate, sDpt,
              dAmt);
}

}  // namespace quillmere
