#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "recfiles/btrv_layout.h"
#include "recfiles/encodings.h"

namespace quillmere {
namespace {

std::string Blanks(int n) { return std::string(n, ' '); }

TEST(MasterKey, IsKindAgencyAndCodeRightAligned) {
  const struct {
    std::string_view kind, agency, code, want;
  } kCases[] = {
      {kGlKind, "5", "1120", "008000 5  112000"},
      {kGlKind, "05", "1120", "00800005  112000"},
      {kClientKind, "5", "C001", "001000 5  C00100"},
      {kProducerKind, "12", "7", "00200012     700"},
      {kDepartmentKind, "5", "", "005000 5      00"},
      {kCompanyKind, "5", "123456", "003000 512345600"},
      // A longer code is never cut here: it runs into Seq and the key copy takes 16 bytes.
      {kGlKind, "5", "1234567", "008000 5123456700"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(MasterKey(c.kind, c.agency, c.code), c.want) << c.agency << "/" << c.code;
  }
}

TEST(Blank, LeavesEveryByteABlank) {
  rApRec ap;
  rJckiRec jcki;
  rDescRec desc;
  rPolRec pol;
  rExtApRec extap;
  Blank(&ap);
  Blank(&jcki);
  Blank(&desc);
  Blank(&pol);
  Blank(&extap);
  EXPECT_EQ(RecordBytes(ap), Blanks(150));
  EXPECT_EQ(RecordBytes(jcki), Blanks(99));
  EXPECT_EQ(RecordBytes(desc), Blanks(64));
  EXPECT_EQ(RecordBytes(pol), Blanks(120));
  EXPECT_EQ(RecordBytes(extap), Blanks(138));
}

TEST(SetField, CutsALongValueAndLeavesBlanksAfterAShortOne) {
  rApRec ap;
  Blank(&ap);
  SetField(ap.Num, "1234567");  // 6 wide: cut
  SetField(ap.Seq, "0");        // 2 wide: one blank stays
  SetField(ap.Name, "");
  EXPECT_EQ(FieldText(ap.Num), "123456");
  EXPECT_EQ(FieldText(ap.Seq), "0 ");
  EXPECT_EQ(FieldText(ap.FileNum2), "   ");  // the neighbour is untouched
  EXPECT_EQ(FieldText(ap.Name), Blanks(25));
}

TEST(Layouts, GlMasterRecordByteForByte) {
  rApRec ap;
  Blank(&ap);
  SetField(ap.FileNum, "008");
  SetField(ap.ProNum, "000");
  SetField(ap.AgyNum, LeftPad("5", 2));
  SetField(ap.Num, LeftPad("1120", 6));
  SetField(ap.Seq, "00");
  SetField(ap.Name, "Client Receivables and Other Debts");  // 34 characters: cut at 25
  SetField(ap.ApType, "A");
  SetField(ap.v.gl.SubAccountsNum, "001");
  SetField(ap.v.gl.Month, "3");

  const std::string want = std::string("008000 5  112000") +  // key 0
                           Blanks(3 + 6) +                    // FileNum2, Alp
                           "Client Receivables and Ot" +      // Name
                           "A" +                              // ApType
                           "  " + "001" +                     // Sub_Type, SubAccounts, code
                           Blanks(1 + 70) + "3" + Blanks(22);
  ASSERT_EQ(want.size(), sizeof(rApRec));
  EXPECT_EQ(RecordBytes(ap), want);
  EXPECT_EQ(RecordBytes(ap).substr(0, kApKeyLen), MasterKey(kGlKind, "5", "1120"));
}

TEST(Layouts, JournalEntryLineByteForByte) {
  rJckiRec jcki;
  Blank(&jcki);
  SetField(jcki.AgyNum, LeftPad("5", 2));
  SetField(jcki.TrnType, "J");
  SetField(jcki.TrnNum, LeftPadZero("123", 6));
  SetField(jcki.TrnLineNum, "00");
  SetField(jcki.TrnLine, "000");
  SetField(jcki.AgyNum2, LeftPad("5", 2));
  SetField(jcki.GlType, "6");
  SetField(jcki.GlNum, LeftPad("5010", 4));
  SetField(jcki.PointNum, "000");
  SetField(jcki.SubGlNum, LeftPad("C1", 6));
  SetField(jcki.EffectDate, MakeDateFromString("2/29/2024"));
  SetField(jcki.Source, "J");
  SetField(jcki.Ref, LeftPadZero("123", 6) + "00");
  SetField(jcki.DptNum, "A");  // shorter than the field: a blank stays
  SetField(jcki.EntryDate, MakeDateFromString("3/10/2024"));
  SetField(jcki.Amt, EncodeBCD(-12.34));
  SetField(jcki.Enterby, "BAL");
  SetField(jcki.v.adj.AdjNum, "000000");
  SetField(jcki.v.adj.AdjLineNum, "00");
  SetField(jcki.v.adj.AdjLine, "000");

  const std::string want = std::string(" 5J00012300000") +  // key 0 (14)
                           " 5" + "6" + "5010" + "000" +    // AgyNum2 .. PointNum
                           "    C1" +                       // SubGlNum
                           "<40229" + "J" + "00012300" +    // EffectDate, Source, Ref
                           "A " + "<40310" +                // DptNum, EntryDate
                           "000000123t" + "BAL" +           // Amt, Enterby
                           Blanks(8) +                      // BillMethod .. JckiDays
                           " " + "000000" + "00" + "000" +  // AdjFlag .. AdjLine
                           Blanks(13);                      // MiscForm .. AdjFiller
  ASSERT_EQ(want.size(), sizeof(rJckiRec));
  EXPECT_EQ(RecordBytes(jcki), want);
}

TEST(Layouts, InvoiceSideOfAMatchCarriesItsDateOverTheVendorPart) {
  rJckiRec jcki;
  Blank(&jcki);
  const std::string date = MakeDateFromString("2/29/2024");
  SetField(jcki.v.vend.VendNum, date);
  SetField(jcki.v.vend.Misc, date.substr(3));
  EXPECT_EQ(RecordBytes(jcki).substr(74), "<40229" + Blanks(19));
}

TEST(Layouts, DescriptionRecordByteForByte) {
  rDescRec desc;
  Blank(&desc);
  SetField(desc.AgyNum, LeftPad("5", 2));
  SetField(desc.TrnType, "J");
  SetField(desc.TrnNum, LeftPadZero("123", 6));
  SetField(desc.TrnLineNum, "00");
  SetField(desc.v.text.Desc, "Beginning Balance");
  SetField(desc.v.text.Date, MakeDateFromString("2/29/2024"));
  SetField(desc.v.text.PolNum2, "BF-240229-C001-XYZ-12345");  // 24 characters: cut at 20

  const std::string want = std::string(" 5J00012300") +   // key 0 (11)
                           "Beginning Balance        " +  // Desc
                           "<40229" + " " + " " +         // Date, DescType, fill
                           "BF-240229-C001-XYZ-1";        // PolNum2
  ASSERT_EQ(want.size(), sizeof(rDescRec));
  EXPECT_EQ(RecordBytes(desc), want);
  // The commission form reads the same policy number at the same place.
  EXPECT_EQ(FieldText(desc.v.commission.PolNum), "BF-240229-C001-XYZ-1");
}

TEST(Layouts, PolicyRecordByteForByte) {
  rPolRec pol;
  Blank(&pol);
  SetField(pol.AgyNum, LeftPad("5", 2));
  SetField(pol.PolNum, PadandTrunc("BF-240229-C001", 20));
  SetField(pol.Seq, "00");
  SetField(pol.PolType, "P");
  SetField(pol.AgyNum2, LeftPad("5", 2));
  SetField(pol.CltNum, LeftPad("C001", 6));
  SetField(pol.InvNum, LeftPadZero("45", 6));
  SetField(pol.DptNum, "01");
  SetField(pol.CmpNum, LeftPad("AB", 3));
  SetField(pol.ClsNum, "BF");
  SetField(pol.TrnNum, "NEW");
  SetField(pol.EntryDate, MakeDateFromString("3/10/2024"));
  SetField(pol.Entry_Op, "BAL");
  SetField(pol.PrdNum, LeftPad("P1", 3));
  SetField(pol.EffectDate, MakeDateFromString("2/29/2024"));
  SetField(pol.AgyNum3, LeftPad("5", 2));
  SetField(pol.ExpDate, MakeDateFromString("2/28/2025"));
  SetField(pol.Pol_Status, "A");
  SetField(pol.Cmp_Status, "B");
  SetField(pol.Pol_AR_OK, "C");
  SetField(pol.Pol_Tran_AR, "D");
  SetField(pol.TotalPrem, EncodeBCD(1500));
  SetField(pol.TotalNonPrem, EncodeBCD(0));
  SetField(pol.TranPrem, EncodeBCD(-1500));
  SetField(pol.TranNonPrem, EncodeBCD(-0.01));

  const std::string want = std::string(" 5") + "BF-240229-C001      " + "00" + "P" +  // key 0
                           " 5" + "  C001" + "000045" + "01" + " AB" + "BF " + "NEW" + "<40310" +
                           "BAL" + " P1" + "<40229" + " 5" + "<50228" + "ABCD" + "0000150000" +
                           "0000000000" + "000015000p" + "000000000q";
  ASSERT_EQ(want.size(), sizeof(rPolRec));
  EXPECT_EQ(RecordBytes(pol), want);
}

TEST(Layouts, ExtApRecordByteForByte) {
  rExtApRec extap;
  Blank(&extap);
  SetField(extap.bytes, MasterKey(kClientKind, "5", "C001"));
  EXPECT_EQ(RecordBytes(extap), "001000 5  C00100" + Blanks(122));
}

}  // namespace
}  // namespace quillmere
