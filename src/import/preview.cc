#include "import/preview.h"

#include <cstdlib>

#include "recfiles/encodings.h"

namespace quillmere {

std::string FormatCents(int64_t cents) {
  const bool negative = cents < 0;
  // The magnitude as unsigned: INT64_MIN has no positive counterpart.
  const uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(cents) : cents;
  std::string fraction = std::to_string(magnitude % 100);
  if (fraction.size() < 2) fraction.insert(0, 1, '0');
  // Appended piece by piece: a literal + std::to_string(...) inlined at -O3 makes GCC 12 warn of
  // an overlapping copy that cannot happen (-Wrestrict).
  std::string text = negative ? "-" : "";
  text += std::to_string(magnitude / 100);
  text += '.';
  text += fraction;
  return text;
}

int64_t AmountCents(double amount) {
  // The record's own field, read back: the same rounding as the posting, never a second one.
  std::string field = EncodeBCD(amount);
  bool negative = false;
  char& last = field.back();
  if (last >= 'p' && last <= 'y') {
    negative = true;
    last = static_cast<char>(last - 64);
  }
  const int64_t cents = std::strtoll(field.c_str(), nullptr, 10);
  return negative ? -cents : cents;
}

}  // namespace quillmere
