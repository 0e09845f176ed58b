// The programs' answer to --version. The two values are defined in a file the build writes into
// its own folder at each build (src/app/write_version.cmake), so the commit is the one the
// programs were built from, never that of an earlier configure.
#pragma once

#include <string>
#include <string_view>

namespace quillmere {

// The project version, as CMake's project() gives it: "0.1".
extern const char kVersion[];
// The git commit the sources were built from, its first 12 hex digits ("70c5294abcd1"); "" when
// the source folder was no git work tree or git was not there.
extern const char kBuildCommit[];

// The one line --version prints: the program's name and the version, then the commit when the
// build has one.
//   VersionLine("quillmere-cli") == "quillmere-cli 0.1 (commit 70c5294abcd1)"
//   VersionLine("quillmere-cli") == "quillmere-cli 0.1"    (built outside a git work tree)
inline std::string VersionLine(std::string_view program) {
  std::string line = std::string(program) + " " + kVersion;
  if (kBuildCommit[0] != '\0') line += std::string(" (commit ") + kBuildCommit + ")";
  return line;
}

}  // namespace quillmere
