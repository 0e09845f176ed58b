// Date conversions: the posting date text (ParseDate, MakeDateFromString) and the stored
// 6-character date (EncodeDate, DecodeStoredDate).
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "recfiles/encodings.h"

using quillmere::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  const std::optional<quillmere::Date> date = quillmere::ParseDate(text);
  if (date) {
    Require(quillmere::IsValidDate(*date), "a parsed date is a real date", text);
    const std::string shown = quillmere::FormatShortDate(*date);
    const auto again = quillmere::ParseDate(shown);
    Require(again.has_value() && *again == *date, "the short date form reads back", shown);
  }

  // MakeDateFromString accepts exactly the dates EncodeDate can store (and a blank text).
  std::string stored;
  bool made = false;
  try {
    stored = quillmere::MakeDateFromString(text);
    made = true;
  } catch (const quillmere::DateError&) {
  }
  const bool blank = quillmere::Trim(text).empty();
  const bool storable = date && date->year >= 1900 && date->year <= 2099;
  Require(made == (blank || storable), "MakeDateFromString accepts storable dates only", text);
  if (made) {
    Require(stored.size() == 6, "a stored date is 6 characters", stored);
    if (!blank) {
      Require(stored == quillmere::EncodeDate(*date), "MakeDateFromString is EncodeDate", text);
      const auto decoded = quillmere::DecodeStoredDate(stored);
      Require(decoded.has_value() && *decoded == *date, "a stored date decodes back", stored);
    }
  }

  // Any 6 bytes that decode are a stored date that encodes to the same bytes.
  if (const auto decoded = quillmere::DecodeStoredDate(text)) {
    Require(quillmere::IsValidDate(*decoded), "a decoded date is a real date", text);
    Require(quillmere::EncodeDate(*decoded) == text, "a decoded date encodes back", text);
  }
  return 0;
}
