#include "recfiles/record_lines.h"

namespace quillmere {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Length of the text line starting at `data`, without its LF or CR LF: for messages only.
size_t LineLength(std::string_view data) {
  size_t end = data.find('\n');
  if (end == std::string_view::npos) return data.size();
  if (end > 0 && data[end - 1] == '\r') --end;
  return end;
}

std::string LengthError(size_t line, size_t found, size_t want, std::string_view unit) {
  return "line " + std::to_string(line) + ": " + std::to_string(found) + " " + std::string(unit) +
         ", the record length is " + std::to_string(want) +
         (unit == "bytes" ? "" : " (" + std::to_string(want / 2) + " bytes)");
}

}  // namespace

std::string HexEncode(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (unsigned char b : bytes) {
    hex += kDigits[b >> 4];
    hex += kDigits[b & 0x0f];
  }
  return hex;
}

std::optional<std::string> HexDecode(std::string_view hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  std::string bytes;
  bytes.reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int high = HexValue(hex[i]);
    const int low = HexValue(hex[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes += static_cast<char>(high * 16 + low);
  }
  return bytes;
}

bool ParseRecordLines(std::string_view data, uint32_t record_length, bool hex,
                      std::vector<std::string>* records, std::string* error) {
  records->clear();
  error->clear();
  if (record_length == 0) {
    *error = "the record length is 0";
    return false;
  }
  for (size_t line = 1; !data.empty(); ++line) {
    if (hex) {
      size_t end = data.find('\n');
      std::string_view text = data.substr(0, end);
      data.remove_prefix(end == std::string_view::npos ? data.size() : end + 1);
      if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
      if (text.size() != 2 * static_cast<size_t>(record_length)) {
        *error =
            LengthError(line, text.size(), 2 * static_cast<size_t>(record_length), "hex digits");
        return false;
      }
      std::optional<std::string> bytes = HexDecode(text);
      if (!bytes) {
        *error = "line " + std::to_string(line) + ": not hex digits";
        return false;
      }
      records->push_back(std::move(*bytes));
      continue;
    }
    const size_t length = LineLength(data);
    if (data.size() < record_length) {
      *error = LengthError(line, length, record_length, "bytes");
      return false;
    }
    std::string_view record = data.substr(0, record_length);
    std::string_view rest = data.substr(record_length);
    if (rest.starts_with("\n")) {
      rest.remove_prefix(1);
    } else if (rest.starts_with("\r\n")) {
      rest.remove_prefix(2);
    } else if (rest.empty() && length == record_length) {
      *error = "line " + std::to_string(line) + ": no line end after the record";
      return false;
    } else {
      // Longer than a record, or shorter and the next line ran into it.
      *error = length > record_length
                   ? "line " + std::to_string(line) + ": more than " +
                         std::to_string(record_length) + " bytes before the line end"
                   : LengthError(line, length, record_length, "bytes");
      return false;
    }
    records->emplace_back(record);
    data = rest;
  }
  return true;
}

}  // namespace quillmere
