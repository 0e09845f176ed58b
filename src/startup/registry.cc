#include "startup/registry.h"

#include <fstream>
#include <sstream>

#include "recfiles/encodings.h"
#include "startup/run_options.h"
#include "startup/user_folders.h"

namespace quillmere {
namespace {

constexpr std::string_view kRoot = "HKEY_CURRENT_USER\\";

std::string_view TrimView(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

// A key name for comparison: lower case, without trailing "\" (the key "Login\" is "Login").
std::string KeyForCompare(std::string_view key) {
  while (!key.empty() && key.back() == '\\') key.remove_suffix(1);
  return AsciiLower(key);
}

void AppendUtf8(std::string* out, unsigned cp) {
  if (cp < 0x80) {
    *out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out += static_cast<char>(0xC0 | (cp >> 6));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out += static_cast<char>(0xE0 | (cp >> 12));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (cp >> 18));
    *out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// The file's text as 8-bit text: exports of "Windows Registry Editor Version 5.00" are UTF-16
// little-endian with a byte-order mark; they become UTF-8. A UTF-8 mark is dropped.
std::string DecodeFileText(const std::string& bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    std::string out;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
      unsigned unit = static_cast<unsigned char>(bytes[i]) |
                      (static_cast<unsigned>(static_cast<unsigned char>(bytes[i + 1])) << 8);
      if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < bytes.size()) {
        const unsigned low = static_cast<unsigned char>(bytes[i + 2]) |
                             (static_cast<unsigned>(static_cast<unsigned char>(bytes[i + 3])) << 8);
        if (low >= 0xDC00 && low < 0xE000) {
          unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
          i += 2;
        }
      }
      AppendUtf8(&out, unit);
    }
    return out;
  }
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return bytes.substr(3);
  return bytes;
}

// Reads a quoted text starting at `s[*pos]` == '"', with "\\" and "\"" escapes; moves `*pos`
// past the closing quote. False when the quote is never closed.
bool ReadQuoted(std::string_view s, std::size_t* pos, std::string* out) {
  out->clear();
  for (std::size_t i = *pos + 1; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 1 < s.size()) {
      *out += s[++i];
    } else if (s[i] == '"') {
      *pos = i + 1;
      return true;
    } else {
      *out += s[i];
    }
  }
  return false;
}

}  // namespace

std::string RegistryFilePath() { return UserConfigHome() + "/Corvane/registry.reg"; }

std::optional<std::string> ReadRegistryText(const std::string& path, std::string_view key,
                                            std::string_view value_name) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream raw;
  raw << in.rdbuf();
  const std::string text = DecodeFileText(raw.str());

  const std::string wanted_key = KeyForCompare(std::string(kRoot) + std::string(key));
  const std::string wanted_name = AsciiLower(value_name);
  const std::string full_key = std::string(kRoot) + std::string(key);
  std::optional<std::string> found;  // a later entry of the same value wins, as on import
  bool in_key = false;

  std::istringstream lines(text);
  for (std::string raw_line; std::getline(lines, raw_line);) {
    const std::string_view line = TrimView(raw_line);
    if (line.empty() || line.front() == ';') continue;
    if (line.front() == '[') {
      // "[-HKEY_...]" removes a key: not one whose values we read.
      const std::size_t close = line.rfind(']');
      in_key =
          close != std::string_view::npos && KeyForCompare(line.substr(1, close - 1)) == wanted_key;
      continue;
    }
    if (!in_key || line.front() != '"') continue;  // "@" default values, hex continuations
    std::size_t pos = 0;
    std::string name;
    if (!ReadQuoted(line, &pos, &name) || AsciiLower(name) != wanted_name) continue;
    const std::string_view rest = TrimView(line.substr(pos));
    if (rest.empty() || rest.front() != '=') continue;
    const std::string_view data = TrimView(rest.substr(1));
    if (data == "-") {  // deleted
      found.reset();
      continue;
    }
    std::string value;
    std::size_t value_pos = 0;
    if (data.empty() || data.front() != '"' || !ReadQuoted(data, &value_pos, &value) ||
        !TrimView(data.substr(value_pos)).empty()) {
      std::string shown(data.substr(0, 40));
      if (data.size() > 40) shown += "...";
      throw RegistryError("The registry value \"" + std::string(value_name) + "\" of key " +
                          full_key + " in " + path + " is not a text value: " + shown);
    }
    found = std::move(value);
  }
  return found;
}

}  // namespace quillmere
