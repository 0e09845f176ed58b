// The folders a program start depends on outside its arguments: the user's home and
// configuration folders, the places a settings file is looked for, and the user's own work
// folder that the desktop entry starts the window in.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace quillmere {

// The user's home folder: $HOME, else the password database's entry; "" when neither gives one.
std::string HomeFolder();
// The user's configuration folder: $XDG_CONFIG_HOME when it is an absolute path (a relative
// one is ignored, as the XDG rules say), else HomeFolder() + "/.config".
std::string UserConfigHome();

// Where a settings file named without a folder is looked for, nearest first: beside the program
// (a copy run from its own folder), the user's configuration, the system's.
//   SettingsFolders("/usr/bin") == {"/usr/bin", "/home/ann/.config/quillmere", "/etc/quillmere"}
std::vector<std::string> SettingsFolders(std::string_view program_dir);

// A name that holds a folder ("conf/site.ini", "/etc/site.ini") is used as it is given,
// relative to the working folder; only a bare name is looked for in the settings folders.
bool NameHasFolder(std::string_view name);

struct FoundFile {
  std::string path;  // the file found; when none is, `names[0]` in the first place
  bool found = false;
};
// The first of `names` (tried in their order) that is there in `folders` (in theirs, the nearest
// folder winning over a later name); names with a folder are tried as given. Anything of that
// name counts (a folder, a link that leads nowhere): reading it then says what is wrong.
//   FindFile({"/usr/bin", "/etc/quillmere"}, {"Site.ini", "site.ini"}): /usr/bin/Site.ini,
//   /usr/bin/site.ini, /etc/quillmere/Site.ini, /etc/quillmere/site.ini
FoundFile FindFile(std::span<const std::string> folders, std::span<const std::string> names);
// What FindFile looked for, for a message:
//   "no MyFiles.ini or myfiles.ini in /usr/bin, /home/ann/.config/quillmere or /etc/quillmere"
//   "no file conf/Site.ini or conf/site.ini"   (names with a folder)
std::string NotFoundText(std::span<const std::string> folders, std::span<const std::string> names);

// The user's own work folder for the window: HomeFolder() + "/Quillmere".
std::string UserWorkFolder();
// Makes UserWorkFolder() the working folder, creating it (owner-only: it holds utility.ini with
// the database password, the run logs and the balance sheets) when it is missing. False with
// `*error` when there is no home folder (or it is "/"), when the name is taken by something
// that is not a folder, or when it cannot be created or entered.
bool EnterUserWorkFolder(std::string* folder, std::string* error);

}  // namespace quillmere
