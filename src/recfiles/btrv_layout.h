// Record layouts shared with the host system, byte for byte: fixed-width 8-bit fields, no
// terminators, no numbers in machine form. A writer blanks the whole record first, then copies
// each field at exactly its width (SetField). Offsets and sizes are checked at compile time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace quillmere {

// Master file "ap": 150 bytes, key 0 = the first 16 (FileNum, ProNum, AgyNum, Num, Seq).
struct rApRec {
  char FileNum[3];
  char ProNum[3];
  char AgyNum[2];
  char Num[6];
  char Seq[2];
  char FileNum2[3];
  char Alp[6];
  char Name[25];
  char ApType[1];
  union {     // bytes 51-149; which view applies follows from the record's kind
    struct {  // GL account, the view the loader reads
      char Sub_Type[1];
      char SubAccounts[1];
      char SubAccountsNum[3];
      char Jrn_Subtot[1];
      char Filler4[70];
      char Month[1];
      char Rest[22];
    } gl;
    struct {
      char CashNum[6], VenNum[6], InvNum[6], AdjNum[6], ClientNum[6], Filler2[36], JrnNum[6],
          Filler3[5];
    } numbering;
    struct {
      char Add1[25], Add2[25], City[14], State[2], Zip[5], Zip_Ext[4], Ar_Type[1], Ar_Form_Type[1];
    } address;
    struct {
      char Territory[2], User1[2], User2[2], USer3[2], MainPhone[10], ContactName[25], PrdCode[3],
          CltType[1], SourceOfBusiness[3], SubPrdCode[3], CSR[3], GetsLateCharges[1];
    } profile;
    struct {
      char Filler8[39], Phone2Area[3], Phone2Pref[3], Phone2[4], Filler9[28];
    } phone2;
    struct {
      char Filler10[41], Phone3Area[3], Phone3Pref[3], Phone3[4], YearsInBusiness[4],
          NumEmployees[5], BrokerType[1];
    } phone3;
    struct {
      char Filler301[41], LicenseNumber[20], ExpireMonth[2], ExpireYear[2], SSN1[3], SSN2[2],
          SSN3[4];
    } licence;
    struct {
      char Filler401[41], FedID[20], AnnualSales[10], OrgType[1];
    } tax;
    struct {
      char Name1099[40], Address1099[40];
    } name1099;
    struct {
      char City1099[20], State1099[2], Zip1099[5], ZipExt1099[4], Amt1099[10];
    } address1099;
    struct {
      char CltEmail1[99];
    } email1;
    struct {
      char CltEmail2[99];
    } email2;
    char bytes[99];
  } v;
};
static_assert(sizeof(rApRec) == 150);
static_assert(offsetof(rApRec, Num) == 8 && offsetof(rApRec, Seq) == 14);
static_assert(offsetof(rApRec, Name) == 25 && offsetof(rApRec, ApType) == 50);
static_assert(offsetof(rApRec, v) == 51);
static_assert(offsetof(rApRec, v.gl.SubAccountsNum) == 53 && offsetof(rApRec, v.gl.Month) == 127);
static_assert(offsetof(rApRec, v.numbering.JrnNum) == 117);
static_assert(offsetof(rApRec, v.address.Ar_Form_Type) == 127);
static_assert(offsetof(rApRec, v.profile.GetsLateCharges) == 107);
static_assert(offsetof(rApRec, v.phone2.Phone2) == 96 &&
              offsetof(rApRec, v.phone3.BrokerType) == 111);
static_assert(offsetof(rApRec, v.licence.SSN3) == 121 && offsetof(rApRec, v.tax.OrgType) == 122);
static_assert(offsetof(rApRec, v.name1099.Address1099) == 91);
static_assert(offsetof(rApRec, v.address1099.Amt1099) == 82);

// Transaction lines "jcki": 99 bytes, key 0 = the first 14 (AgyNum .. TrnLine).
struct rJckiRec {
  char AgyNum[2];
  char TrnType[1];
  char TrnNum[6];
  char TrnLineNum[2];
  char TrnLine[3];
  char AgyNum2[2];
  char GlType[1];
  char GlNum[4];
  char PointNum[3];
  char SubGlNum[6];
  char EffectDate[6];
  char Source[1];
  char Ref[8];
  char DptNum[2];
  char EntryDate[6];
  char Amt[10];
  char Enterby[3];
  char BillMethod[1];
  char PrintInvoice[1];
  char PayMethod[1];
  char EditSeq[1];
  char Binder[1];
  char JckiDays[3];
  union {     // bytes 74-98
    struct {  // journal-entry lines
      char AdjFlag[1];
      char AdjNum[6];
      char AdjLineNum[2];
      char AdjLine[3];
      char MiscForm[1];
      char CancelDate[6];
      char PFLCFlag[1];
      char AdjFiller[5];
    } adj;
    struct {  // the invoice side of a match: bytes 74-79 hold its effective date
      char VendNum[3];
      char Misc[22];
    } vend;
  } v;
};
static_assert(sizeof(rJckiRec) == 99);
static_assert(offsetof(rJckiRec, GlNum) == 17 && offsetof(rJckiRec, SubGlNum) == 24);
static_assert(offsetof(rJckiRec, Ref) == 37 && offsetof(rJckiRec, Amt) == 53);
static_assert(offsetof(rJckiRec, BillMethod) == 66 && offsetof(rJckiRec, JckiDays) == 71);
static_assert(offsetof(rJckiRec, v.adj.AdjFlag) == 74 && offsetof(rJckiRec, v.adj.AdjLine) == 83);
static_assert(offsetof(rJckiRec, v.adj.AdjFiller) == 94 && offsetof(rJckiRec, v.vend.Misc) == 77);

// Descriptions "desc": 64 bytes, key 0 = the first 11 (AgyNum .. TrnLineNum).
struct rDescRec {
  char AgyNum[2];
  char TrnType[1];
  char TrnNum[6];
  char TrnLineNum[2];
  union {     // bytes 11-63, chosen by TrnLineNum
    struct {  // "00", "21"
      char Desc[25];
      char Date[6];
      char DescType[1];
      char fill[1];
      char PolNum2[20];
    } text;
    struct {  // "01"
      char pdAgyComm[6], pdPrd1Comm[6], pdPrd2Comm[6], ClsNum[3], TranNum[3], CmpNum[3], Prd1Num[3],
          Prd2Num[3], PolNum[20];
    } commission;
    struct {  // "11"
      char DownPaymentAmt[10], MonthsBetween[1], IntrestRate[6], InstallmentAmt[10],
          FirstPayDate[6], InstallmentInvoiceAmt[10], NumberOfPayments[1], InstallmentAgyComm[9];
    } instalment;
    struct {  // "31"
      char chEnteredPrd1Flag[1], EnteredPrd1Amt[10], chEnteredPrd2Flag[1], EnteredPrd2Amt[10],
          chStartNum[1], Rest[30];
    } producer;
  } v;
};
static_assert(sizeof(rDescRec) == 64);
static_assert(offsetof(rDescRec, v.text.PolNum2) == 44 &&
              offsetof(rDescRec, v.commission.PolNum) == 44);
static_assert(offsetof(rDescRec, v.commission.ClsNum) == 29);
static_assert(offsetof(rDescRec, v.instalment.FirstPayDate) == 38);
static_assert(offsetof(rDescRec, v.instalment.InstallmentAgyComm) == 55);
static_assert(offsetof(rDescRec, v.producer.chStartNum) == 33);

// Policies "pol": 120 bytes, key 0 = the first 25 (AgyNum, PolNum, Seq, PolType).
struct rPolRec {
  char AgyNum[2];
  char PolNum[20];
  char Seq[2];
  char PolType[1];
  char AgyNum2[2];
  char CltNum[6];
  char InvNum[6];
  char DptNum[2];
  char CmpNum[3];
  char ClsNum[3];
  char TrnNum[3];
  char EntryDate[6];
  char Entry_Op[3];
  char PrdNum[3];
  char EffectDate[6];
  char AgyNum3[2];
  char ExpDate[6];
  char Pol_Status[1];
  char Cmp_Status[1];
  char Pol_AR_OK[1];
  char Pol_Tran_AR[1];
  char TotalPrem[10];
  char TotalNonPrem[10];
  char TranPrem[10];
  char TranNonPrem[10];
};
static_assert(sizeof(rPolRec) == 120);
static_assert(offsetof(rPolRec, PolType) == 24 && offsetof(rPolRec, EntryDate) == 50);
static_assert(offsetof(rPolRec, EffectDate) == 62 && offsetof(rPolRec, ExpDate) == 70);
static_assert(offsetof(rPolRec, TotalPrem) == 80 && offsetof(rPolRec, TranNonPrem) == 110);

// "extap": 138 bytes, opened and closed only; its content is the host's.
struct rExtApRec {
  char bytes[138];
};
static_assert(sizeof(rExtApRec) == 138);

// The standard record files of an agency: name, record length, key-0 length. The client file
// set opens them, `quillmere-recfile init` creates them; "trans.ndx" has no layout here (it is
// only opened), so its lengths are the host's.
struct StandardFile {
  const char* name;
  uint32_t record_length;
  uint32_t key_length;
};
inline constexpr StandardFile kApFile{"ap", sizeof(rApRec), 16};
inline constexpr StandardFile kExtApFile{"extap", sizeof(rExtApRec), 16};
inline constexpr StandardFile kJckiFile{"jcki", sizeof(rJckiRec), 14};
inline constexpr StandardFile kDescFile{"desc", sizeof(rDescRec), 11};
inline constexpr StandardFile kTransFile{"trans.ndx", 64, 8};
inline constexpr StandardFile kPolFile{"pol", sizeof(rPolRec), 25};
inline constexpr StandardFile kStandardFiles[] = {kApFile,   kExtApFile, kJckiFile,
                                                  kDescFile, kTransFile, kPolFile};

// Record and key lengths by file, as the layouts and their users name them.
inline constexpr unsigned kApRecLen = kApFile.record_length, kApKeyLen = kApFile.key_length;
inline constexpr unsigned kExtApRecLen = kExtApFile.record_length,
                          kExtApKeyLen = kExtApFile.key_length;
inline constexpr unsigned kJckiRecLen = kJckiFile.record_length, kJckiKeyLen = kJckiFile.key_length;
inline constexpr unsigned kDescRecLen = kDescFile.record_length, kDescKeyLen = kDescFile.key_length;
inline constexpr unsigned kPolRecLen = kPolFile.record_length, kPolKeyLen = kPolFile.key_length;
static_assert(kApKeyLen == offsetof(rApRec, Seq) + sizeof(rApRec::Seq));  // FileNum .. Seq

// Sets every byte of `rec` to a blank (0x20).
template <typename Rec>
void Blank(Rec* rec) {
  std::memset(static_cast<void*>(rec), ' ', sizeof(Rec));
}

// Copies `value` into `field` as exactly the field's width from the value's start: a longer
// value is cut, a shorter one leaves the rest of the field as it was (blank after Blank()).
template <std::size_t N>
void SetField(char (&field)[N], std::string_view value) {
  std::memcpy(field, value.data(), value.size() < N ? value.size() : N);
}

// The field's bytes as text, NULs and all.
template <std::size_t N>
std::string_view FieldText(const char (&field)[N]) {
  return std::string_view(field, N);
}

// The record's bytes.
template <typename Rec>
std::string_view RecordBytes(const Rec& rec) {
  return std::string_view(reinterpret_cast<const char*>(&rec), sizeof(Rec));
}

// The 16-character master-file key: `file_pro` ("008000" for a GL account), the agency code
// right-aligned in 2, the code right-aligned in 6 (never cut: a longer code runs into Seq),
// then "00". MasterKey("008000", "5", "1120") == "008000 5  112000".
std::string MasterKey(std::string_view file_pro, std::string_view agency, std::string_view code);

// Master-file kinds (FileNum + ProNum) that the loader looks up.
inline constexpr std::string_view kClientKind = "001000";
inline constexpr std::string_view kProducerKind = "002000";
inline constexpr std::string_view kCompanyKind = "003000";
inline constexpr std::string_view kDepartmentKind = "005000";
inline constexpr std::string_view kGlKind = "008000";

}  // namespace quillmere
