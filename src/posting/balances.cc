// Control-account balances: each becomes one balance-forward invoice of its type.
#include "posting/posting.h"

namespace quillmere {

void Posting::Set1120Balance(const std::string& sAgy, const std::string& sInvNum,
                             const std::string& sJENum, const std::string& /*sGL*/,
                             const std::string& sSGL, const std::string& sEffDate,
                             const std::string& sDpt, double dAmt) {
  const std::string today = TodayStored();
  const std::string eff = MakeDateFromString(sEffDate);
  AddInvoice("CLT", sInvNum, sJENum, sAgy, "Balance Forward", LeftPad(sSGL, 6), "ZZZ", " BF", "MIS",
             "KRV", LeftPad(sDpt, 2), eff, today, dAmt);
}

void Posting::Set1130Balance(const std::string& sAgy, const std::string& sInvNum,
                             const std::string& sJENum, const std::string& /*sGL*/,
                             const std::string& sSGL, const std::string& sEffDate,
                             const std::string& sDpt, double dAmt) {
  const std::string today = TodayStored();
  const std::string eff = MakeDateFromString(sEffDate);
  AddInvoice("CMPREC", sInvNum, sJENum, sAgy, "Balance Forward", "999999", LeftPad(sSGL, 3), " BF",
             "MIS", "KRV", LeftPad(sDpt, 2), eff, today, dAmt);
}

void Posting::Set2110Balance(const std::string& sAgy, const std::string& sInvNum,
                             const std::string& sJENum, const std::string& /*sGL*/,
                             const std::string& sSGL, const std::string& sEffDate,
                             const std::string& sDpt, double dAmt) {
  const std::string today = TodayStored();
  const std::string eff = MakeDateFromString(sEffDate);
  AddInvoice("CMPPAY", sInvNum, sJENum, sAgy, "Balance Forward", "999999", LeftPad(sSGL, 3), " BF",
             "MIS", "KRV", LeftPad(sDpt, 2), eff, today, dAmt);
}

void Posting::Set2120Balance(const std::string& sAgy, const std::string& sInvNum,
                             const std::string& sJENum, const std::string& sPrd,
                             const std::string& sEffDate, const std::string& sDpt, double dAmt) {
  const std::string today = TodayStored();
  const std::string eff = MakeDateFromString(sEffDate);
  AddInvoice("PRDPAY", sInvNum, sJENum, sAgy, "Balance Forward", "999999", "ZZZ", " BF", "MIS",
             LeftPad(sPrd, 3), LeftPad(sDpt, 2), eff, today, dAmt);
}

}  // namespace quillmere
