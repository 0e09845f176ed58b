// The settings-file reader (see settings_file.h) and the data directory the record store takes
// from it (see record_store.h).
#include "recfiles/settings_file.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>

#include "recfiles/encodings.h"
#include "recfiles/record_store.h"
#include "recfiles/regular_file.h"

namespace quillmere {
namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// The value of a key line: blanks around it go, then one pair of matching quotation marks.
std::string_view SettingValue(std::string_view raw) {
  std::string_view value = TrimBlanks(raw);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return value;
}

// The name of a section header line (already trimmed), or nullopt when the line is not one.
std::optional<std::string_view> SectionName(std::string_view line) {
  if (line.empty() || line.front() != '[') return std::nullopt;
  const std::size_t close = line.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  const std::string_view after = TrimBlanks(line.substr(close + 1));
  if (!after.empty() && after.front() != ';' && after.front() != '#') return std::nullopt;
  const std::string_view name = TrimBlanks(line.substr(1, close - 1));
  if (name.empty()) return std::nullopt;
  return name;
}

}  // namespace

std::string SettingsProblem::Message() const {
  return path + " line " + std::to_string(line) +
         " is not a setting and was ignored: " + ShowControlBytes(text, /*keep_tab=*/true);
}

std::optional<std::string> SettingsSection::Get(std::string_view name) const {
  const auto it = values.find(AsciiLower(name));
  if (it == values.end()) return std::nullopt;
  return it->second;
}

SettingsSection ReadSettingsSection(const std::string& path, std::string_view section) {
  SettingsSection result;
  std::string content;
  if (std::string unread; !ReadRegularFile(path, &content, &unread)) {
    // A link that leads nowhere is there too: its name was given or found on purpose.
    std::error_code missing;
    if (std::filesystem::symlink_status(path, missing).type() !=
            std::filesystem::file_type::not_found ||
        missing.value() == EACCES) {
      result.read_error = unread;
    }
    return result;
  }
  result.file_read = true;

  const std::string wanted = AsciiLower(section);
  std::string_view rest(content);
  if (rest.starts_with(kByteOrderMark)) rest.remove_prefix(kByteOrderMark.size());
  bool in_section = false;
  int line_number = 0;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
    ++line_number;
    if (line.ends_with('\r')) line.remove_suffix(1);

    const std::string_view trimmed = TrimBlanks(line);
    if (trimmed.empty() || trimmed.front() == ';' || trimmed.front() == '#') continue;
    if (const std::optional<std::string_view> name = SectionName(trimmed)) {
      in_section = AsciiLower(*name) == wanted;
      continue;
    }
    // A line that starts like a header but is not one is never a key named "[...".
    const std::size_t equals = trimmed.front() == '[' ? std::string_view::npos : trimmed.find('=');
    const std::string_view key =
        equals == std::string_view::npos ? "" : TrimBlanks(trimmed.substr(0, equals));
    if (key.empty()) {
      result.problems.push_back({path, line_number, std::string(line)});
      continue;
    }
    // emplace keeps the first value of a repeated key.
    if (in_section) {
      result.values.emplace(AsciiLower(key), std::string(SettingValue(trimmed.substr(equals + 1))));
    }
  }
  return result;
}

std::string DataDirectoryFromSettings(const std::string& settings_path) {
  std::filesystem::path folder = std::filesystem::path(settings_path).parent_path();
  if (folder.empty()) folder = ".";
  std::string datapath =
      ReadSettingsSection(settings_path, kSiteSettingsSection).Get("datapath").value_or("");
  std::replace(datapath.begin(), datapath.end(), '\\', '/');
  if (datapath.empty()) return folder.string();
  const std::filesystem::path path(datapath);
  return (path.is_absolute() ? path : (folder / path).lexically_normal()).string();
}

}  // namespace quillmere
