// Field encodings of the host's fixed-width records: codes, document numbers, amounts and
// dates as 8-bit text. Pure functions: no state, no I/O. Texts are indexed as bytes.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quillmere {

// Returns `s` with '0' in front until it is `n` characters long. Never shortens: a longer `s`
// (or a negative `n`) gives `s` unchanged, and the copy into the record cuts it.
//   LeftPadZero("123", 6) == "000123"      LeftPadZero("1234567", 6) == "1234567"
std::string LeftPadZero(std::string_view s, int n);
// As LeftPadZero with blanks: LeftPad("42", 4) == "  42", LeftPad("", 2) == "  ".
std::string LeftPad(std::string_view s, int n);
// Blanks appended until `s` is `n` long; never shortens. Pad("AB", 5) == "AB   ".
std::string Pad(std::string_view s, int n);
// `s` trimmed, then cut to `n` or blank-filled to exactly `n`. PadandTrunc(" AB ", 4) == "AB  ".
std::string PadandTrunc(std::string_view s, int n);
// "'" + s + "'", nothing escaped: QuoteString("01") == "'01'".
std::string QuoteString(std::string_view s);
// `s` without any `c`: StripChar("$1,234.50", '$') == "1,234.50".
std::string StripChar(std::string_view s, char c);
// Reads a fixed-width field: at most `n` bytes from `p`, ending early at a NUL byte, then
// blank-filled to exactly `n` (at most 255).
std::string VelCatStr(const char* p, int n);
// Removes leading and trailing bytes of code 32 or below.
std::string Trim(std::string_view s);
// `s` with the ASCII letters A-Z lower-cased and every other byte as it is, whatever the
// locale: AsciiLower("VELFILES.INI") == "velfiles.ini".
std::string AsciiLower(std::string_view s);

// The 10-character amount field: the magnitude in cents, zero-filled, the last digit of a
// negative amount raised by 64 ('0' -> 'p' ... '9' -> 'y'). Rounds as the host does: to 18
// significant digits, then half a cent away from zero.
//   EncodeBCD(12.34) == "0000001234"   EncodeBCD(-12.34) == "000000123t"
//   EncodeBCD(0.125) == "0000000013"   EncodeBCD(-0.004) == "000000000p"
// Requires AmountFitsField(d); a larger magnitude gives more than 10 characters.
std::string EncodeBCD(double d);
// True when |d| rounds (as EncodeBCD rounds) to at most 99,999,999.99.
bool AmountFitsField(double d);
// The amount with two decimals and "." rounded as EncodeBCD rounds, a "-" in front when
// negative (also when it rounds to zero: -0.004 gives "-0.00"), right-aligned in `width`
// (wider when it needs more). FormatAmount(1234.5) == "   1234.50".
std::string FormatAmount(double d, int width = 10);
// Reads an amount written with ".": optional sign, digits with at most one ".", optional
// exponent. "5." and ".5" are numbers; "", ".", "-", "1e", "1,5" are not. A value too large for
// a double fails; one too small becomes 0.
std::optional<double> ParseAmount(std::string_view text);

struct Date {
  int year = 0;
  int month = 0;
  int day = 0;
  friend bool operator==(const Date&, const Date&) = default;
};
struct DateTime {
  Date date;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// A date text that does not convert, or a year the 6-character field cannot hold.
class DateError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

bool IsValidDate(const Date& d);
// Reads M/D/YYYY (one or two digits for month and day, four for the year) after trimming;
// nullopt unless it is a real calendar date.
std::optional<Date> ParseDate(std::string_view text);
// `text` with each control byte (below 32, and 127) shown as "\x" and two hex digits, so that a
// message or a log line is one line and shows what the file holds; other bytes are kept, and a
// tab too where `keep_tab` says so (a settings line may be indented with tabs):
//   ShowControlBytes("G\x1b" "A") == "G\\x1BA"
std::string ShowControlBytes(std::string_view text, bool keep_tab = false);
// True when `text` holds a byte below 32 or 127.
bool HasControlBytes(std::string_view text);
// The run's short date form "mm/dd/yyyy": FormatShortDate({2024, 3, 5}) == "03/05/2024".
std::string FormatShortDate(const Date& d);
// The 6-character stored date: year code, month, day. Year code: '0' + (year-1900)/10, then
// the year's last digit, for 1900-2099: 1999 -> "99", 2000 -> ":0", 2024 -> "<4", 2030 -> "=0".
// Throws DateError for other years.
std::string EncodeDate(const Date& d);
// MakeDateFromString("3/5/2024") == "<40305"; an empty or blank text gives ":00101". Throws
// DateError for a text that is not a date or a year outside 1900-2099.
std::string MakeDateFromString(std::string_view s);
// The date a stored 6-character date stands for (the inverse of EncodeDate); nullopt when the
// text is not one.
std::optional<Date> DecodeStoredDate(std::string_view stored);
// The last day of the month before `today`'s month, 29 February in leap years.
Date LastDayOfLastMonth(const Date& today);

}  // namespace quillmere
