// The site configuration's files: the data-directory settings file (section "VelfilesNdx",
// names in any case) and the connection-parameter file "utility.ini".
#pragma once

#include <optional>
#include <string>
#include <string_view>
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
  // Set when the file is there but cannot be read: "The settings file <path> cannot be read:
  // Permission denied". The defaults would then reach another database without a word.
  std::string read_error;
  // Set when the file's mdbport is not a port number: the site cannot be configured with it
  // (3306 would reach another server without a word).
  std::string mdbport_error;
};

// Reads section "VelfilesNdx" of `path` by the rules of settings_file.h; a missing file, a
// missing section or key gives the default. A file that is there but cannot be read (no
// permission, a folder, a FIFO) gives the defaults and sets `read_error`. An mdbport that is there
// but is not a port number (digits only, 1 to 65535) keeps 3306 and sets `mdbport_error`. An
// mdbtimeout that is not a number of seconds from 2 to 86400 keeps 30 and is held in
// bad_mdbtimeout.
//   [VelfilesNdx]                 mdbbase="Acct 7"  -> mdbbase Acct 7
//   mdbuser: loader  (line 2)     -> mdbuser root, problems {path, 2, "mdbuser: loader"}
//   mdbport=abc                   -> mdbport_error "mdbport in <path> is not a port number
//                                    (1 to 65535): abc"
SiteSettings ReadSiteSettings(const std::string& path);

// The message for a record-file store of the settings file `settings_path` that did not open,
// naming the folder searched and where that folder came from, with the library's cause and
// status (RecordStoreError in recfiles/record_store.h):
//   "Unable to open the record files in /data/agy (datapath in /site/VELFILES.ini): no
//    recfiles.sqlite there (quillmere-recfile init creates the store), status is 12"
//   "Unable to open the record files in /site (the folder of /site/VELFILES.ini, which sets no
//    datapath): recfiles.sqlite is locked by another program, status is 85"
std::string StoreFailureMessage(const std::string& settings_path, int status,
                                std::string_view cause);

// The five lines of "utility.ini", each ended by CR LF.
std::string UtilityIniText(const SiteSettings& settings);
// Writes UtilityIniText to `path` whole or not at all, readable by the owner only (it holds the
// password): a new file beside it (created owner-only, never through a link) is written, synced
// and renamed over `path`. A symbolic link named `path` is replaced by the file, and what it
// points at is left as it was. False with `*error` on failure; `path` is then as it was.
bool WriteUtilityIni(const std::string& path, const SiteSettings& settings, std::string* error);

}  // namespace quillmere
