#include "startup/user_folders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace quillmere {
namespace {

// Anything of that name counts, a link that leads nowhere or a folder too: the settings reader
// then says why it does not read, where skipping it would read another place's file (another
// database) without a word.
bool IsThere(const std::string& path) {
  std::error_code ignored;
  return std::filesystem::symlink_status(path, ignored).type() !=
         std::filesystem::file_type::not_found;
}

std::string Join(std::string_view folder, std::string_view name) {
  std::string out(folder);
  if (!out.empty() && out.back() != '/') out += '/';
  out += name;
  return out;
}

// "a", "a or b", "a, b or c": the places named in a message.
std::string Alternatives(std::span<const std::string> items) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += i + 1 == items.size() ? " or " : ", ";
    out += items[i];
  }
  return out;
}

}  // namespace

std::string HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return home;
  const passwd* entry = getpwuid(getuid());
  return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "";
}

std::string UserConfigHome() {
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config != nullptr && config[0] == '/') return config;
  return HomeFolder() + "/.config";
}

std::vector<std::string> SettingsFolders(std::string_view program_dir) {
  return {std::string(program_dir), UserConfigHome() + "/quillmere", "/etc/quillmere"};
}

bool NameHasFolder(std::string_view name) { return name.find('/') != std::string_view::npos; }

FoundFile FindFile(std::span<const std::string> folders, std::span<const std::string> names) {
  if (names.empty()) return {};
  if (NameHasFolder(names.front())) {
    for (const std::string& name : names) {
      if (IsThere(name)) return {name, true};
    }
    return {names.front(), false};
  }
  for (const std::string& folder : folders) {
    for (const std::string& name : names) {
      const std::string path = Join(folder, name);
      if (IsThere(path)) return {path, true};
    }
  }
  return {folders.empty() ? names.front() : Join(folders.front(), names.front()), false};
}

std::string NotFoundText(std::span<const std::string> folders, std::span<const std::string> names) {
  if (!names.empty() && NameHasFolder(names.front())) return "no file " + Alternatives(names);
  return "no " + Alternatives(names) + " in " + Alternatives(folders);
}

std::string UserWorkFolder() { return HomeFolder() + "/Quillmere"; }

bool EnterUserWorkFolder(std::string* folder, std::string* error) {
  const std::string home = HomeFolder();
  if (home.empty() || home == "/") {
    *error =
        "There is no home folder to make the work folder Quillmere in (HOME is \"" + home + "\").";
    return false;
  }
  *folder = UserWorkFolder();
  if (::mkdir(folder->c_str(), 0700) != 0 && errno != EEXIST) {
    *error = "Cannot create the work folder " + *folder + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::stat(folder->c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    *error = "The work folder " + *folder + " is not a folder.";
    return false;
  }
  if (::chdir(folder->c_str()) != 0) {
    *error = "Cannot work in " + *folder + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace quillmere
