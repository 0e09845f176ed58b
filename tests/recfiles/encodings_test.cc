#include "recfiles/encodings.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <locale>
#include <optional>
#include <string>
#include <string_view>

#include "support/process.h"
#include "support/test_support.h"

namespace quillmere {
namespace {

TEST(Pads, NeverShortenTheValue) {
  const struct {
    std::string_view s;
    int n;
    std::string_view zero, left, right;
  } kCases[] = {
      {"123", 6, "000123", "   123", "123   "},
      {"42", 4, "0042", "  42", "42  "},
      {"", 2, "00", "  ", "  "},
      {"AB", 5, "000AB", "   AB", "AB   "},
      {"1234567", 6, "1234567", "1234567", "1234567"},  // longer: unchanged, the copy cuts
      {"12345", 5, "12345", "12345", "12345"},
      {"12", -1, "12", "12", "12"},  // negative width: unchanged
      {" 7 ", 4, "0 7 ", "  7 ", " 7  "},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(LeftPadZero(c.s, c.n), c.zero) << '"' << c.s << "\" " << c.n;
    EXPECT_EQ(LeftPad(c.s, c.n), c.left) << '"' << c.s << "\" " << c.n;
    EXPECT_EQ(Pad(c.s, c.n), c.right) << '"' << c.s << "\" " << c.n;
  }
}

TEST(PadandTrunc, TrimsThenGivesExactlyTheWidth) {
  const struct {
    std::string_view s;
    int n;
    std::string_view want;
  } kCases[] = {
      {"  Acme Insurance Co  ", 4, "Acme"},
      {" AB ", 4, "AB  "},
      {"    ", 3, "   "},  // all blanks: n blanks
      {"", 2, "  "},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZ", 20, "ABCDEFGHIJKLMNOPQRST"},
      {"\t BF-240229-C001\r\n", 20, "BF-240229-C001      "},  // control bytes trim too
      {"ABC", 0, ""},
      {"ABC", -3, ""},
  };
  for (const auto& c : kCases) EXPECT_EQ(PadandTrunc(c.s, c.n), c.want) << '"' << c.s << '"';
}

TEST(QuoteString, WrapsWithoutEscaping) {
  EXPECT_EQ(QuoteString("01"), "'01'");
  EXPECT_EQ(QuoteString("O'Neil"), "'O'Neil'");  // the inner quote stays single
  EXPECT_EQ(QuoteString(""), "''");
}

TEST(StripChar, RemovesEveryOccurrence) {
  const struct {
    std::string_view s;
    char c;
    std::string_view want;
  } kCases[] = {
      {"$1,234.50", '$', "1,234.50"}, {"1,234,567.89", ',', "1234567.89"},
      {"\"-12.34\"", '"', "-12.34"},  {"''", '\'', ""},
      {"12.34", '$', "12.34"},
  };
  for (const auto& c : kCases) EXPECT_EQ(StripChar(c.s, c.c), c.want) << c.s << " " << c.c;
}

TEST(Trim, RemovesControlBytesAndBlanksButKeepsHighBytes) {
  EXPECT_EQ(Trim(" \t\r\n\x01 AB C \x1f"), "AB C");
  EXPECT_EQ(Trim("\xe9t\xe9"), "\xe9t\xe9");  // bytes above 127 are text, not blanks
  EXPECT_EQ(Trim("   "), "");
}

TEST(VelCatStr, ReadsAFixedWidthFieldUpToANulByte) {
  const char full[] = {'C', 'a', 's', 'h'};
  const char nul_inside[] = {'A', 'B', '\0', 'X', 'Y'};
  const char nul_first[] = {'\0', 'Z', 'Z'};
  EXPECT_EQ(VelCatStr(full, 4), "Cash");
  EXPECT_EQ(VelCatStr(full, 2), "Ca");
  EXPECT_EQ(VelCatStr(nul_inside, 5), "AB   ");  // bytes after the NUL are not read
  EXPECT_EQ(VelCatStr(nul_first, 3), "   ");
  EXPECT_EQ(VelCatStr(full, 0), "");
  const std::string long_field(300, 'x');
  EXPECT_EQ(VelCatStr(long_field.c_str(), 300), std::string(255, 'x'));  // at most 255
}

TEST(EncodeBcd, MatchesHostAmountField) {
  const struct {
    double amount;
    std::string_view want;
  } kCases[] = {
      {12.34, "0000001234"},
      {-12.34, "000000123t"},  // the minus rides on the last digit:
                               // '4' + 64
      {0, "0000000000"},
      {-0.0, "0000000000"},  // negative zero is zero
      {1500, "0000150000"},
      {-1500, "000015000p"},
      {-987654.32, "009876543r"},
      {99999999.99, "9999999999"},
      {-99999999.99, "999999999y"},
      {-0.01, "000000000q"},
      {-0.004, "000000000p"},  // rounds to zero, keeps the minus
      {0.004, "0000000000"},
      {0.125, "0000000013"},     // an exact half cent goes up, not to
                                 // even
      {-0.125, "000000001s"},    // and away from zero when negative
      {0.005, "0000000001"},     // the double is just above 0.005
      {2.675, "0000000267"},     // the double is just below 2.675, even at 18 digits
      {1.005, "0000000100"},     // 1.00499999999999989...
      {8.345, "0000000835"},     // 8.34500000000000064...
      {1000.005, "0000100001"},  // 1000.00499999999999545..., 18 digits: 1000.00500000000000
      {0.0001, "0000000000"},
      {1e-300, "0000000000"},
      {0.999, "0000000100"},
      {9.995, "0000000999"},  // 9.99499999999999921...: below the half cent
  };
  for (const auto& c : kCases) EXPECT_EQ(EncodeBCD(c.amount), c.want) << c.amount;
}

TEST(EncodeBcd, LargerAmountsDoNotFitTheField) {
  EXPECT_EQ(EncodeBCD(100000000), "10000000000");  // 11 characters: callers check first
  EXPECT_THROW(EncodeBCD(std::numeric_limits<double>::infinity()), std::domain_error);
  EXPECT_THROW(EncodeBCD(std::nan("")), std::domain_error);
}

TEST(AmountFitsField, TellsWhetherTheRoundedAmountFitsTenDigits) {
  const struct {
    double amount;
    bool fits;
  } kCases[] = {
      {99999999.99, true},
      {-99999999.99, true},
      {99999999.994, true},   // rounds down to 99,999,999.99
      {99999999.995, false},  // rounds up to 100,000,000.00
      {-99999999.995, false},
      {100000000, false},
      {1e300, false},
      {0, true},
      {std::numeric_limits<double>::infinity(), false},
      {std::nan(""), false},
  };
  for (const auto& c : kCases) EXPECT_EQ(AmountFitsField(c.amount), c.fits) << c.amount;
}

TEST(FormatAmount, RoundsAsTheAmountFieldDoes) {
  const struct {
    double amount;
    int width;
    std::string_view want;
  } kCases[] = {
      {1234.5, 10, "   1234.50"},
      {-250, 10, "   -250.00"},
      {0, 10, "      0.00"},
      {-0.0, 10, "      0.00"},
      {-0.004, 10, "     -0.00"},  // negative, rounds to zero: the minus stays
      {0.125, 10, "      0.13"},
      {1000.005, 10, "   1000.01"},
      {2.675, 10, "      2.67"},
      {0.05, 10, "      0.05"},
      {99999999.99, 10, "99999999.99"},          // wider than the width: never cut
      {123456789012.34, 10, "123456789012.34"},  // no exponent form
      {1234.5, 0, "1234.50"},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(FormatAmount(c.amount, c.width), c.want) << c.amount << " width " << c.width;
  }
}

TEST(ParseAmount, ReadsNumbersWithAPoint) {
  const struct {
    std::string_view text;
    double want;
  } kCases[] = {
      {"12.34", 12.34},
      {"-12.34", -12.34},
      {"+7", 7},
      {"5.", 5},
      {".5", 0.5},
      {"-.5", -0.5},
      {"0", 0},
      {"00012.50", 12.5},
      {"1e3", 1000},
      {"1E-2", 0.01},
      {"2.5e+1", 25},
      {"1234567.89", 1234567.89},
      {"1e-400", 0},  // too small for a double: zero
      {"0.000000000000000000000000000000000000000000000000000000000000001e-300", 0},
  };
  for (const auto& c : kCases) {
    const std::optional<double> got = ParseAmount(c.text);
    ASSERT_TRUE(got.has_value()) << '"' << c.text << '"';
    EXPECT_EQ(*got, c.want) << '"' << c.text << '"';
  }
}

TEST(ParseAmount, RejectsWhatIsNotOneNumber) {
  const std::string_view kCases[] = {
      "",       ".",
      "-",      "+",
      "1e",     "1e+",
      "e5",     " 1",
      "1 ",     "1 0",
      "1,5",    "1.2.3",
      "--1",    "+-1",
      "1e5x",   "abc",
      "nan",    "inf",
      "0x10",   "1e400",
      "-1e400", "1e99999999999999999999",
      "12$",    "1.5e2.5",
  };
  for (std::string_view text : kCases) {
    EXPECT_EQ(ParseAmount(text), std::nullopt) << '"' << text << '"';
  }
}

// A numeric format with "," as the decimal point for C++ streams; the C library's locale is
// switched too when a German locale is installed or can be built.
class CommaPoint : public std::numpunct<char> {
 protected:
  char do_decimal_point() const override { return ','; }
};

TEST(Amounts, UseAPointWhateverTheLocale) {
  testing::TempDir dir;
  bool c_locale_switched = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
  if (!c_locale_switched) {
    if (testing::RunProgram({"localedef", "-i", "de_DE", "-f", "UTF-8", dir.File("de_DE.UTF-8")})
            .exit_code == 0) {
      setenv("LOCPATH", dir.path().c_str(), 1);
      c_locale_switched = std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
    }
  }
  const std::locale old_global =
      std::locale::global(std::locale(std::locale::classic(), new CommaPoint));

  if (c_locale_switched) {  // the C library now writes ","
    char buf[16];
    std::snprintf(buf, sizeof(buf), "%.1f", 1.5);
    EXPECT_STREQ(buf, "1,5");
  }
  EXPECT_EQ(EncodeBCD(-1234.5), "000012345p");
  EXPECT_EQ(FormatAmount(1234.5), "   1234.50");
  EXPECT_EQ(ParseAmount("1234.5"), 1234.5);
  EXPECT_EQ(ParseAmount("1234,5"), std::nullopt);
  EXPECT_TRUE(AmountFitsField(99999999.99));

  std::locale::global(old_global);
  std::setlocale(LC_NUMERIC, "C");
  unsetenv("LOCPATH");
  if (!c_locale_switched) GTEST_SKIP() << "no German locale: only the C++ stream locale was set";
}

TEST(ParseDate, ReadsMonthDayYear) {
  const struct {
    std::string_view text;
    Date want;
  } kCases[] = {
      {"3/5/2024", {2024, 3, 5}},     {"03/05/2024", {2024, 3, 5}}, {" 3/5/2024 ", {2024, 3, 5}},
      {"12/31/1999", {1999, 12, 31}}, {"2/29/2024", {2024, 2, 29}},  // leap year
      {"2/29/2000", {2000, 2, 29}},   {"1/1/0001", {1, 1, 1}},
  };
  for (const auto& c : kCases) EXPECT_EQ(ParseDate(c.text), c.want) << '"' << c.text << '"';
}

TEST(ParseDate, RejectsAnythingElse) {
  const std::string_view kCases[] = {
      "",           "2/29/2023", "2/29/1900", "13/1/2024", "0/1/2024",   "1/0/2024",
      "1/32/2024",  "4/31/2024", "1/1/24",    "1/1/02024", "001/1/2024", "1/001/2024",
      "2024-03-05", "3/5",       "3/5/2024/", "3//2024",   "a/b/cccc",   "3 /5/2024",
      "3/5/2024x",  "+3/5/2024", "3.5.2024",  "1/1/0000",
  };
  for (std::string_view text : kCases) {
    EXPECT_EQ(ParseDate(text), std::nullopt) << '"' << text << '"';
  }
}

TEST(MakeDateFromString, GivesTheStoredDate) {
  const struct {
    std::string_view text;
    std::string_view want;
  } kCases[] = {
      {"", ":00101"},           {"    ", ":00101"},  // no date: 1 January 2000
      {" 3/5/2024 ", "<40305"}, {"12/31/1999", "991231"}, {"01/01/2010", ";00101"},
      {"1/1/2000", ":00101"},   {"1/2/2015", ";50102"},   {"3/15/2024", "<40315"},
      {"1/1/1910", "100101"},   {"6/1/1905", "050601"},  // 1900-1909: "0" then the digit
      {"1/1/1900", "000101"},   {"1/1/2030", "=00101"},  // 2030s: the character after "<"
      {"12/31/2099", "C91231"},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(MakeDateFromString(c.text), c.want) << '"' << c.text << '"';
}

TEST(MakeDateFromString, ThrowsForTextsAndYearsItCannotStore) {
  const struct {
    std::string_view text;
    std::string_view message_part;
  } kCases[] = {
      {"12/31/1899", "1899"},
      {"1/1/2100", "2100"},
      {"2/30/2024", "\"2/30/2024\" is not a valid date (expected month/day/year)"},
      {"hello", "\"hello\" is not a valid date"},
      {"2024-03-05", "expected month/day/year"},
  };
  for (const auto& c : kCases) {
    try {
      MakeDateFromString(c.text);
      ADD_FAILURE() << "no DateError for \"" << c.text << '"';
    } catch (const DateError& e) {
      EXPECT_NE(std::string_view(e.what()).find(c.message_part), std::string_view::npos)
          << e.what();
    }
  }
}

TEST(EncodeDate, StoredDatesSortInDateOrder) {
  std::string previous = EncodeDate({1900, 1, 1});
  for (int year = 1900; year <= 2099; ++year) {
    for (int month = 1; month <= 12; ++month) {
      const std::string stored = EncodeDate({year, month, 28});
      EXPECT_GE(stored, previous) << year << "/" << month;
      ASSERT_EQ(stored.size(), 6u);
      EXPECT_EQ(DecodeStoredDate(stored), (Date{year, month, 28})) << stored;
      previous = stored;
    }
  }
  EXPECT_THROW(EncodeDate({1899, 12, 31}), DateError);
  EXPECT_THROW(EncodeDate({2100, 1, 1}), DateError);
  EXPECT_THROW(EncodeDate({2023, 2, 29}), DateError);
}

TEST(DecodeStoredDate, RefusesWhatIsNotAStoredDate) {
  EXPECT_EQ(DecodeStoredDate("<40229"), (Date{2024, 2, 29}));
  EXPECT_EQ(DecodeStoredDate("991231"), (Date{1999, 12, 31}));
  const std::string_view kCases[] = {"",       "99123",  "9912310", "D00101", "/00101",
                                     "<41301", "<4013a", "<30229",  "<4 101"};
  for (std::string_view stored : kCases) {
    EXPECT_EQ(DecodeStoredDate(stored), std::nullopt) << '"' << stored << '"';
  }
}

TEST(LastDayOfLastMonth, GivesTheRealLastDay) {
  const struct {
    Date today, want;
  } kCases[] = {
      {{2025, 1, 15}, {2024, 12, 31}},                                  // January goes back a year
      {{2024, 3, 10}, {2024, 2, 29}},                                   // leap year
      {{2023, 3, 1}, {2023, 2, 28}},   {{2000, 3, 31}, {2000, 2, 29}},  // divisible by 400
      {{1900, 3, 1}, {1900, 2, 28}},                                    // divisible by 100 only
      {{2024, 5, 31}, {2024, 4, 30}},  {{2024, 8, 1}, {2024, 7, 31}},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(LastDayOfLastMonth(c.today), c.want) << FormatShortDate(c.today);
  }
}

TEST(FormatShortDate, IsTwoDigitMonthAndDay) {
  EXPECT_EQ(FormatShortDate({2024, 3, 5}), "03/05/2024");
  EXPECT_EQ(FormatShortDate({1999, 12, 31}), "12/31/1999");
}

TEST(ShowControlBytes, ShowsBytesBelow32And127AsHex) {
  const struct {
    std::string text, want;
    bool has;
  } kCases[] = {
      {"GA", "GA", false},
      {std::string("G\0A", 3), "G\\x00A", true},
      {"\x1b[2J", "\\x1B[2J", true},
      {"A\rB\tC\x7f", "A\\x0DB\\x09C\\x7F", true},
      {"Gr\xfc\xdf"
       "e",
       "Gr\xfc\xdf"
       "e",
       false},  // 8-bit text is kept
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(ShowControlBytes(c.text), c.want) << c.want;
    EXPECT_EQ(HasControlBytes(c.text), c.has) << c.want;
  }
}

}  // namespace
}  // namespace quillmere
