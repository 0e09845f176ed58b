// Balance-forward invoices: zero-amount lines, four description records, the matching journal
// entry that carries the balance, and the placeholder policy.
#include "posting/posting.h"
#include "recfiles/CBtrvKafImport.h"

namespace quillmere {

std::string BalanceForwardPolicyNumber(std::string_view stored_eff_date, std::string_view suffix) {
  std::string date(stored_eff_date);
  // The decade character becomes the decade's digit: ':' 0, ';' 1, '<' 2, '=' 3 ...
  if (!date.empty() && date[0] > '9') date[0] = static_cast<char>('0' + (date[0] - ':'));
  return Pad("BF-" + date + "-" + std::string(suffix), 20);
}

namespace {

struct InvoiceType {
  std::string_view name;
  std::string_view suffix_lead;  // put before the party code in the policy number
  std::string_view bill_method;
  bool has_line_001;
  std::string_view company_gl;     // line 100
  std::string_view commission_gl;  // line 200
  std::string_view match_gl;
};

constexpr InvoiceType kTypes[] = {
    {"CLT", "", "A", false, "2110", "4110", "1120"},
    {"CMPPAY", "-PAY-", "A", false, "2110", "4110", "2110"},
    {"CMPREC", "-REC-", "D", true, "1130", "4120", "1130"},
    {"PRDPAY", "-PRD-", "A", false, "2110", "4110", "2120"},
};

const InvoiceType& TypeOf(const std::string& sWhere) {
  for (const InvoiceType& t : kTypes) {
    if (t.name == sWhere) return t;
  }
  throw PostingStopped("Unknown invoice type [" + sWhere + "]");
}

}  // namespace

void Posting::AddInvoiceLine(const std::string& AgyCode, const std::string& sInv,
                             const std::string& sInvLine, const std::string& sInvTrn,
                             const std::string& sGL, const std::string& sPoint,
                             const std::string& sClt, const std::string& sEffDate,
                             const std::string& sDpt, const std::string& sEntDate,
                             const std::string& sBillMthd, double dAmt) {
  Blank(&JckiRec_);
  SetField(JckiRec_.AgyNum, AgyCode);
  SetField(JckiRec_.TrnType, "I");
  SetField(JckiRec_.TrnNum, sInv);
  SetField(JckiRec_.TrnLineNum, sInvLine);
  SetField(JckiRec_.TrnLine, sInvTrn);
  SetField(JckiRec_.AgyNum2, AgyCode);
  SetField(JckiRec_.GlType, "1");
  SetField(JckiRec_.GlNum, sGL);
  SetField(JckiRec_.PointNum, LeftPad(sPoint, 3));
  SetField(JckiRec_.SubGlNum, sClt);
  SetField(JckiRec_.EffectDate, sEffDate);
  SetField(JckiRec_.Source, "I");
  SetField(JckiRec_.Ref, sInv + "  ");
  SetField(JckiRec_.DptNum, sDpt);
  SetField(JckiRec_.EntryDate, sEntDate);
  SetField(JckiRec_.Amt, EncodeBCD(dAmt));
  SetField(JckiRec_.Enterby, "KRV");
  SetField(JckiRec_.BillMethod, sBillMthd.substr(0, 1));
  SetField(JckiRec_.PrintInvoice, "N");
  SetField(JckiRec_.PayMethod, "R");
  SetField(JckiRec_.EditSeq, "0");
  SetField(JckiRec_.Binder, "N");
  SetField(JckiRec_.JckiDays, "000");
  StoreJckiLine("InvLine [" + sInv + "-" + sInvLine + "]");
}

void Posting::AddInvoice(const std::string& sWhere, const std::string& /*sInv*/,
                         const std::string& sJENum, const std::string& AgyCode,
                         const std::string& /*sPol*/, const std::string& sClt,
                         const std::string& sCmp, const std::string& sCls, const std::string& sTrn,
                         const std::string& sPrd, const std::string& sDpt,
                         const std::string& sEffDate, const std::string& sEntDate, double dPrem) {
  const InvoiceType& type = TypeOf(sWhere);
  const std::string inv = GetNextInvNum(AgyCode);

  // A count of the writes shows no messages: the posting shows them when it writes.
  if (counts_ == nullptr) {
    if (Trim(sClt).empty()) op_.ErrorWindow("Blank Clt [" + sClt + "] on JE [" + sJENum + "]");
    if (Trim(sCmp).empty()) op_.ErrorWindow("Blank Cmp [" + sCmp + "] on JE [" + sJENum + "]");
    if (Trim(sPrd).empty()) op_.ErrorWindow("Blank Prd [" + sPrd + "] on JE [" + sJENum + "]");
  }

  const double balance = dPrem;
  const double premium = 0.0;  // the invoice carries no money; the journal entry does

  const std::string party = type.name == "CLT" ? sClt : type.name == "PRDPAY" ? sPrd : sCmp;
  const std::string pol =
      BalanceForwardPolicyNumber(sEffDate, std::string(type.suffix_lead) + Trim(party));

  Log("Adding Invoice  [" + inv + "] with JE [" + sJENum + "] type [" + sWhere + "] " + "Pol  [" +
      pol + "] Clt  [" + sClt + "] Cmp [" + sCmp + "] Cls [" + sCls + "] Trn [" + sTrn + "] Prd [" +
      sPrd + "] Dpt [" + sDpt + "] EffDate [" + sEffDate + "] EntDate [" + sEntDate + "] Amt [" +
      FormatAmount(premium) + "] ");

  const std::string bill(type.bill_method);
  const auto line = [&](const char* code, std::string_view gl, const std::string& point) {
    AddInvoiceLine(AgyCode, inv, "01", code, std::string(gl), point, sClt, sEffDate, sDpt, sEntDate,
                   bill, premium);
  };
  line("000", "1120", "000");
  if (type.has_line_001) line("001", "1120", "000");
  line("100", type.company_gl, sCmp);
  line("200", type.commission_gl, sCls);
  line("300", "2120", sPrd);
  line("500", "5108", sTrn);

  const std::string key = AgyCode + "I" + inv;
  const std::string zeros6 = "000000";
  UpdateDesc(key + "01" + zeros6 + zeros6 + zeros6 + sCls + sTrn + sCmp + sPrd + "   " + pol);
  UpdateDesc(key + "11" + std::string(27, '0') + sEffDate + EncodeBCD(premium));
  UpdateDesc(key + "21" + std::string(33, ' ') + pol);
  UpdateDesc(key + "31" + "N" + std::string(10, '0') + "N" + std::string(10, '0') + sEffDate +
             std::string(5, ' ') + pol);

  AddMatchJE(AgyCode, inv, sJENum, std::string(type.match_gl), party, sEffDate, sDpt, balance);

  const bool client = type.name == "CLT";
  const bool producer = type.name == "PRDPAY";
  AddPolicy(AgyCode, pol, client ? sClt : "999999", sDpt, client || producer ? "ZZZ" : sCmp, " BF",
            " BF",
            client     ? "HOU"
            : producer ? sPrd
                       : "KRV",
            sEffDate, sEffDate, inv);
}

}  // namespace quillmere
