// The per-user registry stand-in: a REGEDIT4-style text file,
// $XDG_CONFIG_HOME/Corvane/registry.reg (default ~/.config/Corvane/registry.reg), with
// [HKEY_CURRENT_USER\Software\Corvane\Login\<start folder>] sections and "Name"="text" values.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quillmere {

// Where the per-user registry file is.
std::string RegistryFilePath();

// Reads the text value `value_name` of key `key` (below HKEY_CURRENT_USER) from the registry
// file at `path`. nullopt when the file, key or value is missing; throws RegistryError when the
// value has another type (dword:..., hex:...).
std::optional<std::string> ReadRegistryText(const std::string& path, std::string_view key,
                                            std::string_view value_name);

}  // namespace quillmere
