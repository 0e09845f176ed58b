#include "startup/run_options.h"

#include <optional>
#include <vector>

#include "recfiles/encodings.h"
#include "startup/registry.h"
#include "startup/user_folders.h"

namespace quillmere {
namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

}  // namespace

std::string StartFolderText(std::string_view exe_path) {
  constexpr std::size_t kDropped = 11;
  if (exe_path.size() <= kDropped) return "";
  std::string out(exe_path.substr(0, exe_path.size() - kDropped));
  for (char& c : out) {
    if (c == ':' || IsSeparator(c)) c = '_';
  }
  return out;
}

std::string RegistryKeyName(std::string_view start_folder) {
  return "Software\\Corvane\\Login\\" + std::string(start_folder);
}

RunOptions ParseRunOptions(std::span<const std::string> args, RunOptions defaults) {
  for (const std::string& arg : args) {
    const std::string lower = AsciiLower(arg);
    if (lower.size() < 2 || lower[0] != '/') continue;
    switch (lower[1]) {
      case 'c':
        defaults.VelFilesName = lower.substr(2);
        defaults.vel_files_as_typed = arg.substr(2);
        break;
      case 'a':
        defaults.sLastAgyCode = arg.substr(2);
        break;
      case 'i':
        defaults.ININame = arg.substr(2);
        break;
      default:
        break;  // not ours: ignored
    }
  }
  return defaults;
}

std::string ForceIniExtension(std::string_view name) {
  std::size_t base = 0;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (IsSeparator(name[i])) base = i + 1;
  }
  const std::size_t dot = name.rfind('.');
  std::string out(name);
  if (dot != std::string_view::npos && dot >= base) out.erase(dot);
  out += ".ini";
  return out;
}

RunOptions SettleRunOptions(std::string_view exe_path, std::span<const std::string> args,
                            const std::string& registry_path) {
  const std::string key = RegistryKeyName(StartFolderText(exe_path));
  RunOptions options;
  const std::optional<std::string> code = ReadRegistryText(registry_path, key, "AgencyCode");
  // An empty or absent value falls back before the switches, so an empty "/a" stays empty.
  options.sLastAgyCode = code && !code->empty() ? *code : "01";
  options = ParseRunOptions(args, options);
  options.VelFilesName = ForceIniExtension(options.VelFilesName);
  if (options.vel_files_as_typed) {
    options.vel_files_as_typed = ForceIniExtension(*options.vel_files_as_typed);
  }
  return options;
}

SettingsFileChoice ChooseSettingsFile(std::span<const std::string> folders,
                                      const RunOptions& options) {
  std::vector<std::string> names;
  if (options.vel_files_as_typed) names.push_back(*options.vel_files_as_typed);
  if (names.empty() || names.front() != options.VelFilesName) {
    names.push_back(options.VelFilesName);
  }
  const FoundFile file = FindFile(folders, names);
  SettingsFileChoice choice{file.path, "", ""};
  if (file.found) return choice;
  choice.searched = NotFoundText(folders, names);
  if (options.vel_files_as_typed) {
    choice.missing = "The settings file named by /c is not there: " + choice.searched + ".";
  }
  return choice;
}

std::string ChooseHostSettingsFile(std::span<const std::string> folders,
                                   const RunOptions& options) {
  const std::string names[] = {options.ININame};
  return FindFile(folders, names).path;
}

}  // namespace quillmere
