// The data-directory settings file: ReadSiteSettings and the data directory it names.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "recfiles/record_store.h"
#include "startup/site_settings.h"

using quillmere::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static quillmere::fuzz::ScratchFile file("settings");
  const std::string& path = file.Write(std::string_view(reinterpret_cast<const char*>(data), size));
  const quillmere::SiteSettings settings = quillmere::ReadSiteSettings(path);
  const std::string text = quillmere::UtilityIniText(settings);
  Require(text.size() >= 10 && text.substr(text.size() - 2) == "\r\n",
          "utility.ini lines end with CR LF", text);
  Require(!quillmere::DataDirectoryFromSettings(path).empty(), "a data directory is named");
  return 0;
}
