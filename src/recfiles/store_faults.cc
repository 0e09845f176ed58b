#include "recfiles/store_faults.h"

#include <charconv>

namespace quillmere {
namespace {

// The whole of `text` as a number in [min, max], or nullopt.
std::optional<int64_t> WholeNumber(std::string_view text, int64_t min, int64_t max) {
  int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < min ||
      value > max) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

int16_t FailNthWrite::BeforeWrite(std::string_view operation) {
  if (operation != operation_) return 0;
  return ++seen_ == nth_ ? status_ : 0;
}

std::optional<FailNthWrite> ParseStoreFault(std::string_view text) {
  const size_t first = text.find(':');
  const size_t second = first == std::string_view::npos ? first : text.find(':', first + 1);
  if (second == std::string_view::npos) return std::nullopt;
  const std::string_view operation = text.substr(0, first);
  if (operation != "insert" && operation != "update" && operation != "delete" &&
      operation != "commit") {
    return std::nullopt;
  }
  const std::optional<int64_t> status =
      WholeNumber(text.substr(first + 1, second - first - 1), 1, INT16_MAX);
  const std::optional<int64_t> nth = WholeNumber(text.substr(second + 1), 1, INT64_MAX);
  if (!status || !nth) return std::nullopt;
  return FailNthWrite(std::string(operation), static_cast<int16_t>(*status), *nth);
}

}  // namespace quillmere
