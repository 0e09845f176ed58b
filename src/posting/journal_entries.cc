// Single and matched journal entries and their "Beginning Balance" description records.
#include <cstring>

#include "posting/posting.h"
#include "recfiles/CBtrvKafImport.h"

namespace quillmere {

std::string LineByAccount(std::string_view control_account) {
  if (control_account == "1120") return "001";
  if (control_account == "2120") return "301";
  return "101";  // 1130 and 2110
}

namespace {

// Blanks `rec`, then sets the key and the line class of a journal-entry line or of its matching
// line under the invoice.
void StartLine(rJckiRec* rec, const std::string& agy, const char* type, const std::string& number,
               const char* line_group, const std::string& line, const char* gl_type) {
  Blank(rec);
  SetField(rec->AgyNum, agy);
  SetField(rec->TrnType, type);
  SetField(rec->TrnNum, number);
  SetField(rec->TrnLineNum, line_group);
  SetField(rec->TrnLine, line);
  SetField(rec->GlType, gl_type);
}

// The fields every journal-entry line and its matching line share.
void SetCommonJeFields(rJckiRec* rec, const std::string& agy, const std::string& je,
                       const std::string& gl, const std::string& sgl, const std::string& eff,
                       const std::string& dpt, const std::string& today, double amount) {
  SetField(rec->AgyNum2, agy);
  SetField(rec->GlNum, gl);
  SetField(rec->PointNum, "000");
  SetField(rec->SubGlNum, sgl);
  SetField(rec->EffectDate, eff);
  SetField(rec->Source, "J");
  SetField(rec->Ref, je + "00");
  SetField(rec->DptNum, dpt);
  SetField(rec->EntryDate, today);
  SetField(rec->Amt, EncodeBCD(amount));
  SetField(rec->Enterby, "KRV");
}

// The codes as the line's fields and the log show them: GL in 4, sub-ledger in 6, department
// in 2, right-aligned.
void PadCodes(std::string* gl, std::string* sgl, std::string* dpt) {
  *gl = LeftPad(*gl, 4);
  *sgl = LeftPad(*sgl, 6);
  *dpt = LeftPad(*dpt, 2);
}

}  // namespace

void Posting::StoreJckiLine(const std::string& what) {
  if (Store(files_.jcki(), &JckiRec_) != 0) {
    op_.ErrorWindow(StatusMessage(what + " Unable to update Jcki file " + kJckiFile.name, Status_));
  }
}

void Posting::AddSingleJE(const std::string& AgyCode, const std::string& /*sJENum*/,
                          std::string sGL, std::string sSGL, const std::string& sEffDate,
                          std::string sDpt, double dAmt) {
  const std::string je = GetNextJENum(AgyCode);
  const std::string today = TodayStored();
  const std::string eff = MakeDateFromString(sEffDate);
  PadCodes(&sGL, &sSGL, &sDpt);
  Log("Adding Single JE [" + je + "] GL [" + sGL + "] SGL [" + sSGL + "] Dpt [" + sDpt + "] Eff [" +
      sEffDate + "] Ent [" + today + "] Amt [" + FormatAmount(dAmt) + "]");

  StartLine(&JckiRec_, AgyCode, "J", je, "00", "000", "6");
  SetCommonJeFields(&JckiRec_, AgyCode, je, sGL, sSGL, eff, sDpt, today, dAmt);
  SetField(JckiRec_.v.adj.AdjNum, "000000");
  SetField(JckiRec_.v.adj.AdjLineNum, "00");
  SetField(JckiRec_.v.adj.AdjLine, "000");
  StoreJckiLine("Single JE [" + je + "]");
  UpdateDesc(AgyCode + "J" + je + "00" + "Beginning Balance");
}

void Posting::AddMatchJE(const std::string& AgyCode, const std::string& sInvNum,
                         const std::string& /*sJENum*/, std::string sGL, std::string sSGL,
                         const std::string& sEffDate, std::string sDpt, double dAmt) {
  const std::string je = GetNextJENum(AgyCode);
  const std::string today = TodayStored();
  const std::string line = LineByAccount(sGL);
  PadCodes(&sGL, &sSGL, &sDpt);
  Log("Adding Matched JE [" + je + "] matched to invoice [" + sInvNum + "] GL [" + sGL + "] SGL [" +
      sSGL + "] Dpt [" + sDpt + "] Eff [" + sEffDate + "] Ent [" + today + "] Amt [" +
      FormatAmount(dAmt) + "]");

  StartLine(&JckiRec_, AgyCode, "J", je, "00", "000", "6");
  SetCommonJeFields(&JckiRec_, AgyCode, je, sGL, sSGL, sEffDate, sDpt, today, dAmt);
  SetField(JckiRec_.v.adj.AdjFlag, "*");
  SetField(JckiRec_.v.adj.AdjNum, sInvNum);
  SetField(JckiRec_.v.adj.AdjLineNum, "01");
  SetField(JckiRec_.v.adj.AdjLine, line);
  StoreJckiLine("Match JE Main[" + je + "]");
  UpdateDesc(AgyCode + "J" + je + "00" + "Beginning Balance");

  // The matching line, filed under the invoice.
  StartLine(&JckiRec_, AgyCode, "I", sInvNum, "01", line, "D");
  SetCommonJeFields(&JckiRec_, AgyCode, je, sGL, sSGL, sEffDate, sDpt, today, dAmt);
  // Bytes 74-79 (the vendor view) carry the effective date; 80 stays blank.
  SetField(JckiRec_.v.vend.VendNum, sEffDate.substr(0, 3));
  SetField(JckiRec_.v.vend.Misc, sEffDate.substr(std::min<size_t>(3, sEffDate.size()), 3));
  StoreJckiLine("Match JE D[" + je + "]");
}

void Posting::UpdateDesc(std::string sDesc) {
  sDesc = Pad(sDesc, static_cast<int>(kDescRecLen));
  rDescRec rec;
  Blank(&rec);
  std::memcpy(&rec, sDesc.data(), std::min<size_t>(sDesc.size(), sizeof rec));
  if (Store(files_.desc(), &rec) != 0) {
    op_.ErrorWindow(
        StatusMessage(std::string("Unable to update Desc file ") + kDescFile.name, Status_));
  }
}

}  // namespace quillmere
