// The reader of the data-directory settings file (VELFILES.ini): one section of an INI-style
// file, read by the record store (the data directory) and by the site settings (the MySQL keys),
// so both see the same values.
//
// The rules, line by line (lines end in LF or CR LF; a UTF-8 byte-order mark at the start is
// skipped; bytes are 8-bit, no encoding is converted; a line may be of any length):
//   blank          only spaces and tabs
//   comment        first non-blank character ';' or '#'
//   section header "[name]", blanks allowed around the line and the name, and after the ']'
//                  an optional ';' or '#' comment: "  [VelfilesNdx]  ; site" opens VelfilesNdx
//   key            "name=value" with a non-empty name; an indented key is a key like any other
// Section and key names match without regard to ASCII letter case. A value is everything after
// the first '=' with the blanks around it removed, then one pair of surrounding quotation marks
// removed when the value starts and ends with the same one (" or ') and is at least 2 long;
// ';' and '#' inside a value are part of it:
//   mdbpass=abc ;def       -> abc ;def      datapath = "ndx"   -> ndx
//   mdbuser="x             -> "x            mdbbase='a"        -> 'a"
// A key repeated within the section (or in a second header of the same section): the first
// counts. Keys before the first section header belong to no section.
// Any other line ("mdbuser: x", "=value", "[]", "[unclosed", "[a] b=c": a line that starts
// with '[' is a header or nothing) is not a setting: it is ignored and reported, and everything
// else in the file still counts (a broken header opens no section: the keys after it stay in
// the section before it).
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillmere {

// The section of the data-directory settings file that Quillmere reads.
inline constexpr char kSiteSettingsSection[] = "VelfilesNdx";

// A line of a settings file that is not a setting.
struct SettingsProblem {
  std::string path;  // the settings file as it was named to the reader
  int line = 0;      // 1-based
  std::string text;  // the line's bytes, without its line end

  // "<path> line <line> is not a setting and was ignored: <text>", with control characters of
  // the text shown as \xHH so the message is safe on a terminal:
  //   "/site/VELFILES.ini line 3 is not a setting and was ignored: mdbuser: loader"
  std::string Message() const;
};

// One section of a settings file, as ReadSettingsSection found it.
struct SettingsSection {
  bool file_read = false;  // false: missing or unreadable, nothing else set but `read_error`
  // Why a file that is there was not read ("Permission denied", "it is a folder, not a file");
  // "" when it was read or is not there at all.
  std::string read_error;
  std::map<std::string, std::string> values;  // by key name in ASCII lower case
  std::vector<SettingsProblem> problems;      // every such line of the file, in file order

  // The value of key `name` (any letter case); nullopt when the section does not have it.
  // A key that is there but empty gives "".
  std::optional<std::string> Get(std::string_view name) const;
};

// Reads section `section` (any letter case) of the settings file `path` by the rules above.
// A missing file, one that is not a regular file, or one that cannot be read to its end gives
// `file_read` false and no values or problems. Problems are reported from the whole file, also
// from lines outside `section`: a broken section header there decides which keys count.
SettingsSection ReadSettingsSection(const std::string& path, std::string_view section);

}  // namespace quillmere
