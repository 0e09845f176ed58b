#include "recfiles/encodings.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <system_error>

namespace quillmere {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The decimal digits of |d| in cents, rounded as the host rounds amounts: first to 18
// significant digits, then to the cent with a half cent going away from zero. No leading
// zeros ("0" for zero). `d` must be finite.
std::string CentsDigits(double d) {
  const double magnitude = std::fabs(d);
  if (magnitude == 0) return "0";
  // "d.ddddddddddddddddde+XX": 18 significant digits, independent of the locale.
  char buf[64];
  const auto result =
      std::to_chars(buf, buf + sizeof(buf), magnitude, std::chars_format::scientific, 17);
  if (result.ec != std::errc()) throw std::logic_error("amount conversion failed");
  const std::string_view text(buf, result.ptr - buf);
  const std::size_t e_pos = text.find('e');
  std::string digits;
  for (char c : text.substr(0, e_pos)) {
    if (c != '.') digits += c;
  }
  int exponent = 0;
  std::string_view exp_text = text.substr(e_pos + 1);
  if (!exp_text.empty() && exp_text.front() == '+') exp_text.remove_prefix(1);
  std::from_chars(exp_text.data(), exp_text.data() + exp_text.size(), exponent);

  // The value is 0.<digits> * 10^(exponent + 1); the cents are its first `keep` digits.
  const int keep = exponent + 1 + 2;
  if (keep < 0) return "0";  // below a tenth of a cent
  if (keep >= static_cast<int>(digits.size())) {
    return digits + std::string(keep - digits.size(), '0');
  }
  const bool round_up = digits[keep] >= '5';
  std::string cents = digits.substr(0, keep);
  if (round_up) {
    int i = static_cast<int>(cents.size()) - 1;
    while (i >= 0 && cents[i] == '9') cents[i--] = '0';
    if (i >= 0) {
      ++cents[i];
    } else {
      cents.insert(cents.begin(), '1');
    }
  }
  const std::size_t first = cents.find_first_not_of('0');
  return first == std::string::npos ? "0" : cents.substr(first);
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month == 2) {
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return leap ? 29 : 28;
  }
  return kDays[month - 1];
}

std::string TwoDigits(int v) {
  std::string s(2, '0');
  s[0] = static_cast<char>('0' + v / 10);
  s[1] = static_cast<char>('0' + v % 10);
  return s;
}

// Reads 1 to `max_len` digits (exactly `max_len` when `exact`) as a number.
std::optional<int> ReadNumber(std::string_view part, std::size_t max_len, bool exact) {
  if (part.empty() || part.size() > max_len || (exact && part.size() != max_len)) {
    return std::nullopt;
  }
  int value = 0;
  for (char c : part) {
    if (!IsDigit(c)) return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

}  // namespace

std::string LeftPadZero(std::string_view s, int n) {
  std::string out;
  if (n > static_cast<int>(s.size())) out.assign(n - s.size(), '0');
  out += s;
  return out;
}

std::string LeftPad(std::string_view s, int n) {
  std::string out;
  if (n > static_cast<int>(s.size())) out.assign(n - s.size(), ' ');
  out += s;
  return out;
}

std::string Pad(std::string_view s, int n) {
  std::string out(s);
  if (n > static_cast<int>(s.size())) out.append(n - s.size(), ' ');
  return out;
}

std::string PadandTrunc(std::string_view s, int n) {
  if (n <= 0) return "";
  std::string out = Trim(s);
  out.resize(n, ' ');
  return out;
}

std::string QuoteString(std::string_view s) {
  std::string out = "'";
  out += s;
  out += '\'';
  return out;
}

std::string StripChar(std::string_view s, char c) {
  std::string out;
  out.reserve(s.size());
  for (char ch : s) {
    if (ch != c) out += ch;
  }
  return out;
}

std::string VelCatStr(const char* p, int n) {
  if (n <= 0) return "";
  if (n > 255) n = 255;
  std::string out;
  out.reserve(n);
  for (int i = 0; p != nullptr && i < n && p[i] != '\0'; ++i) out += p[i];
  out.resize(n, ' ');
  return out;
}

std::string AsciiLower(std::string_view s) {
  std::string lower(s);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

std::string Trim(std::string_view s) {
  auto blank = [](char c) { return static_cast<unsigned char>(c) <= 32; };
  std::size_t begin = 0;
  std::size_t end = s.size();
  while (begin < end && blank(s[begin])) ++begin;
  while (end > begin && blank(s[end - 1])) --end;
  return std::string(s.substr(begin, end - begin));
}

std::string EncodeBCD(double d) {
  if (!std::isfinite(d)) throw std::domain_error("EncodeBCD: the amount is not a finite number");
  const bool negative = d < 0;  // -0.0 is not below zero
  std::string out = LeftPadZero(CentsDigits(d), 10);
  if (negative) out.back() = static_cast<char>(out.back() + 64);
  return out;
}

bool AmountFitsField(double d) { return std::isfinite(d) && CentsDigits(d).size() <= 10; }

std::string FormatAmount(double d, int width) {
  if (!std::isfinite(d)) return LeftPad(std::isnan(d) ? "nan" : (d < 0 ? "-inf" : "inf"), width);
  std::string cents = LeftPadZero(CentsDigits(d), 3);
  std::string text = d < 0 ? "-" : "";
  text.append(cents, 0, cents.size() - 2);
  text += '.';
  text.append(cents, cents.size() - 2, 2);
  return LeftPad(text, width);
}

std::optional<double> ParseAmount(std::string_view text) {
  std::size_t i = 0;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  const std::size_t mantissa_begin = i;
  int digit_count = 0;
  // Decimal exponent of the first significant digit, to tell overflow from underflow.
  long first_significant = 0;
  bool seen_significant = false;
  bool seen_point = false;
  long int_digits = 0;
  long leading_fraction_zeros = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '.') {
      if (seen_point) return std::nullopt;
      seen_point = true;
    } else if (IsDigit(c)) {
      ++digit_count;
      if (!seen_point) {
        if (seen_significant || c != '0') ++int_digits;
      } else if (!seen_significant && c == '0') {
        ++leading_fraction_zeros;
      }
      if (!seen_significant && c != '0') seen_significant = true;
    } else {
      break;
    }
  }
  if (digit_count == 0) return std::nullopt;
  const std::size_t mantissa_end = i;
  long exponent = 0;
  if (i < text.size()) {
    if (text[i] != 'e' && text[i] != 'E') return std::nullopt;
    ++i;
    bool exp_negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) exp_negative = text[i++] == '-';
    if (i == text.size()) return std::nullopt;
    for (; i < text.size(); ++i) {
      if (!IsDigit(text[i])) return std::nullopt;
      if (exponent < 1000000) exponent = exponent * 10 + (text[i] - '0');
    }
    if (exp_negative) exponent = -exponent;
  }
  if (!seen_significant) return negative ? -0.0 : 0.0;
  first_significant = int_digits > 0 ? int_digits - 1 : -(leading_fraction_zeros + 1);
  first_significant += exponent;

  // from_chars reads the same grammar without a leading "+" and never looks at the locale.
  std::string plain(text.substr(mantissa_begin, mantissa_end - mantissa_begin));
  if (mantissa_end < text.size()) {
    plain += 'e';
    plain += std::to_string(exponent);
  }
  double value = 0;
  const auto result =
      std::from_chars(plain.data(), plain.data() + plain.size(), value, std::chars_format::general);
  if (result.ec == std::errc::result_out_of_range) {
    if (first_significant > 0) return std::nullopt;  // too large for a double
    value = 0;                                       // too small: zero
  } else if (result.ec != std::errc() || result.ptr != plain.data() + plain.size()) {
    return std::nullopt;
  }
  if (!std::isfinite(value)) return std::nullopt;
  return negative ? -value : value;
}

bool IsValidDate(const Date& d) {
  return d.year >= 1 && d.year <= 9999 && d.month >= 1 && d.month <= 12 && d.day >= 1 &&
         d.day <= DaysInMonth(d.year, d.month);
}

std::optional<Date> ParseDate(std::string_view text) {
  const std::string trimmed = Trim(text);
  const std::string_view s = trimmed;
  const std::size_t slash1 = s.find('/');
  if (slash1 == std::string_view::npos) return std::nullopt;
  const std::size_t slash2 = s.find('/', slash1 + 1);
  if (slash2 == std::string_view::npos) return std::nullopt;
  const auto month = ReadNumber(s.substr(0, slash1), 2, false);
  const auto day = ReadNumber(s.substr(slash1 + 1, slash2 - slash1 - 1), 2, false);
  const auto year = ReadNumber(s.substr(slash2 + 1), 4, true);
  if (!month || !day || !year) return std::nullopt;
  const Date date{*year, *month, *day};
  if (!IsValidDate(date)) return std::nullopt;
  return date;
}

std::string FormatShortDate(const Date& d) {
  return TwoDigits(d.month) + "/" + TwoDigits(d.day) + "/" + LeftPadZero(std::to_string(d.year), 4);
}

std::string EncodeDate(const Date& d) {
  if (d.year < 1900 || d.year > 2099) {
    throw DateError("The date " + FormatShortDate(d) +
                    " cannot be stored: only the years 1900 to 2099 fit the date field");
  }
  if (!IsValidDate(d)) {
    throw DateError("The date " + FormatShortDate(d) + " is not a valid calendar date");
  }
  const int y = d.year - 1900;
  std::string out;
  out += static_cast<char>('0' + y / 10);
  out += static_cast<char>('0' + y % 10);
  out += TwoDigits(d.month);
  out += TwoDigits(d.day);
  return out;
}

std::string MakeDateFromString(std::string_view s) {
  const std::string trimmed = Trim(s);
  if (trimmed.empty()) return ":00101";
  const std::optional<Date> date = ParseDate(trimmed);
  if (!date) {
    throw DateError("\"" + trimmed + "\" is not a valid date (expected month/day/year)");
  }
  return EncodeDate(*date);
}

std::optional<Date> DecodeStoredDate(std::string_view stored) {
  if (stored.size() != 6) return std::nullopt;
  const int decade = stored[0] - '0';
  if (decade < 0 || decade > 19) return std::nullopt;
  for (std::size_t i = 1; i < 6; ++i) {
    if (!IsDigit(stored[i])) return std::nullopt;
  }
  const Date date{1900 + decade * 10 + (stored[1] - '0'),
                  (stored[2] - '0') * 10 + (stored[3] - '0'),
                  (stored[4] - '0') * 10 + (stored[5] - '0')};
  if (!IsValidDate(date)) return std::nullopt;
  return date;
}

Date LastDayOfLastMonth(const Date& today) {
  Date d{today.year, today.month - 1, 1};
  if (d.month < 1) {
    d.month = 12;
    --d.year;
  }
  d.day = DaysInMonth(d.year, d.month);
  return d;
}

bool HasControlBytes(std::string_view text) {
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 32 || c == 127) return true;
  }
  return false;
}

std::string ShowControlBytes(std::string_view text, bool keep_tab) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string shown;
  shown.reserve(text.size());
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 32 && !(keep_tab && c == '\t')) || byte == 127) {
      shown += "\\x";
      shown += kHex[byte >> 4];
      shown += kHex[byte & 15];
    } else {
      shown += c;
    }
  }
  return shown;
}

}  // namespace quillmere
