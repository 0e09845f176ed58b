// The site configuration's files: the data-directory settings file (section "VelfilesNdx",
// names in any case) and the connection-parameter file "utility.ini".
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "recfiles/settings_file.h"

namespace quillmere {

// The database time-out (key mdbtimeout, seconds): how long the server may take to answer one
// statement before the run gives up on it. The session's lock wait is half of it, so a lock
// that is not granted ends in the server's own error while the client still waits for it.
inline constexpr int kDefaultDbTimeoutSeconds = 30;
inline constexpr int kMinDbTimeoutSeconds = 2;  // the lock wait needs a whole second below it
inline constexpr int kMaxDbTimeoutSeconds = 86400;

struct SiteSettings {
  std::string mdbserv = "localhost";
  std::string mdbuser = "root";
  std::string mdbpass = "rezoreza";
  std::string mdbbase = "Pellam";
  int mdbport = 3306;                         // optional key, for private servers
  int mdbtimeout = kDefaultDbTimeoutSeconds;  // optional key
  // The key's text when it is not a whole number of seconds from kMinDbTimeoutSeconds to
  // kMaxDbTimeoutSeconds; the site configuration refuses to start with it.
  std::optional<std::string> bad_mdbtimeout;
  // Lines of the settings file that are not settings, for the front end to show once
  // (SettingsProblem::Message()); the values above are read from the rest of the file.
  std::vector<SettingsProblem> problems;
};

// Reads section "VelfilesNdx" of `path` by the rules of settings_file.h; a missing or unreadable
// file, a missing section or key gives the default. An mdbport that is not a port number
// (1-65535) keeps 3306. An mdbtimeout that is not a number of seconds from 2 to 86400 keeps
// 30 and is held in bad_mdbtimeout.
//   [VelfilesNdx]                 mdbbase="Acct 7"  -> mdbbase Acct 7
//   mdbuser: loader  (line 2)     -> mdbuser root, problems {path, 2, "mdbuser: loader"}
SiteSettings ReadSiteSettings(const std::string& path);

// The five lines of "utility.ini", each ended by CR LF.
std::string UtilityIniText(const SiteSettings& settings);
// Writes UtilityIniText to `path` (overwriting), readable by the owner only (it holds the
// password). False with `*error` on failure.
bool WriteUtilityIni(const std::string& path, const SiteSettings& settings, std::string* error);

}  // namespace quillmere
