// The three run values settled at start-up, before any window: the start-up agency code, the
// data-directory settings file name and the host settings file name.
#pragma once

#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

namespace quillmere {

struct RunOptions {
  std::string sLastAgyCode = "01";
  std::string VelFilesName = "VELFILES.INI";  // "/c" lower-cases its name
  std::string ININame = "zel.ini";
  // The name "/c" gave, as typed; nullopt without "/c". ChooseSettingsFile prefers it.
  std::optional<std::string> vel_files_as_typed;
};

// The start-folder text: the executable's full path without its last 11 characters (empty
// when it has 11 or fewer), every ":", "\" and platform separator turned into "_".
//   StartFolderText("C:\\Acct\\Tools\\Quillmere.exe") == "C__Acct_Tools_Qu"
std::string StartFolderText(std::string_view exe_path);
// "Software\Corvane\Login\" + start folder.
std::string RegistryKeyName(std::string_view start_folder);

// Applies the "/c", "/a" and "/i" switches of `args` (the arguments after the program path) to
// `defaults`: letters in any case, the last of each wins, others ignored; "/c" lower-cased into
// VelFilesName and kept as typed in vel_files_as_typed, "/a" and "/i" as typed. The ".ini"
// extension is not forced here (ForceIniExtension).
RunOptions ParseRunOptions(std::span<const std::string> args, RunOptions defaults);
// The part from the last "." after the last separator becomes ".ini": "site.cfg" -> "site.ini",
// "Site2" -> "Site2.ini", "" -> ".ini".
std::string ForceIniExtension(std::string_view name);

// A registry value that exists but is not text: the program shows it and ends.
class RegistryError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Steps 1-6 of the start-up: start folder, registry value "AgencyCode" under the key (empty or
// absent gives "01"), then the switches, then the ".ini" extension (on both forms of the "/c"
// name). `registry_path` is the per-user registry file. Throws RegistryError for a non-text
// value.
RunOptions SettleRunOptions(std::string_view exe_path, std::span<const std::string> args,
                            const std::string& registry_path);

// Which data-directory settings file a program reads.
struct SettingsFileChoice {
  std::string path;      // the file to read (when it is nowhere: the first place looked at)
  std::string searched;  // "" when found, else what was looked for (NotFoundText)
  std::string missing;   // "" or, when "/c" named a file that is nowhere, the message saying so
};
// The file is looked for in `folders` (SettingsFolders in user_folders.h), nearest first; a
// name with a folder is used as given. Without "/c": VelFilesName. With "/c" (extension
// forced): the name as typed, else the lower-cased name, so "/CMyFiles.INI" reads MyFiles.ini
// when there is one and myfiles.ini otherwise, and a folder with capitals in it is found on a
// case-sensitive file system. When "/c" names a file that is nowhere, `missing` says so:
//   "The settings file named by /c is not there: no MyFiles.ini or myfiles.ini in /opt/q,
//    /home/ann/.config/quillmere or /etc/quillmere."
// Without "/c" a missing file is no error: the built-in defaults apply (`searched` set).
SettingsFileChoice ChooseSettingsFile(std::span<const std::string> folders,
                                      const RunOptions& options);
// The host settings file ININame, looked for the same way; when it is nowhere, the name in the
// first folder (the program's), as the record-file library only keeps the path.
std::string ChooseHostSettingsFile(std::span<const std::string> folders, const RunOptions& options);

}  // namespace quillmere
