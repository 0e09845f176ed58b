// The site configuration's files: the data-directory settings file (section "VelfilesNdx",
// names in any case) and the connection-parameter file "utility.ini".
#pragma once

#include <string>

namespace quillmere {

struct SiteSettings {
  std::string mdbserv = "localhost";
  std::string mdbuser = "root";
  std::string mdbpass = "rezoreza";
  std::string mdbbase = "Pellam";
  int mdbport = 3306;  // optional key, for private servers
};

// Reads section "VelfilesNdx" of `path`; a missing file, section or key gives the default.
SiteSettings ReadSiteSettings(const std::string& path);

// The five lines of "utility.ini", each ended by CR LF.
std::string UtilityIniText(const SiteSettings& settings);
// Writes UtilityIniText to `path` (overwriting), readable by the owner only (it holds the
// password). False with `*error` on failure.
bool WriteUtilityIni(const std::string& path, const SiteSettings& settings, std::string* error);

}  // namespace quillmere
