// The data-directory settings file: its reader, ReadSiteSettings and the data directory it names.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "recfiles/record_store.h"
#include "recfiles/settings_file.h"
#include "startup/site_settings.h"

using quillmere::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static quillmere::fuzz::ScratchFile file("settings");
  const std::string_view content(reinterpret_cast<const char*>(data), size);
  const std::string& path = file.Write(content);

  const quillmere::SettingsSection section =
      quillmere::ReadSettingsSection(path, quillmere::kSiteSettingsSection);
  Require(section.file_read, "a written settings file is read");
  int last_line = 0;
  for (const quillmere::SettingsProblem& problem : section.problems) {
    Require(problem.line > last_line, "problems come in line order, once per line");
    last_line = problem.line;
    Require(problem.text.find('\n') == std::string::npos, "a problem is one line", problem.text);
    for (const char c : problem.Message()) {
      const auto byte = static_cast<unsigned char>(c);
      Require((byte >= 0x20 && byte != 0x7F) || c == '\t',
              "a problem's message has no control characters");
    }
  }
  for (const auto& [name, value] : section.values) {
    Require(
        !name.empty() && name.find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ=\n") == std::string::npos,
        "key names are lower case, without '=' or a line end", name);
    Require(value.find('\n') == std::string::npos, "a value is one line", value);
    Require(section.Get(name) == value, "Get finds each value by its name", name);
  }

  const quillmere::SiteSettings settings = quillmere::ReadSiteSettings(path);
  Require(settings.problems.size() == section.problems.size(),
          "the site settings keep the problems");
  const std::string text = quillmere::UtilityIniText(settings);
  Require(text.size() >= 10 && text.substr(text.size() - 2) == "\r\n",
          "utility.ini lines end with CR LF", text);
  Require(!quillmere::DataDirectoryFromSettings(path).empty(), "a data directory is named");
  return 0;
}
