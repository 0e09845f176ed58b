// The line format of quillmere-recfile's load and dump: one record per line.
//
// Raw lines: exactly `record_length` bytes, then LF or CR LF, the last line too. A line is read
// by length, so a record may itself hold CR or LF bytes; the required line end after each
// record catches a short line that would otherwise borrow the next line's bytes.
// Hex lines: exactly 2 * `record_length` hex digits (either letter case), then LF or CR LF (the
// last line may lack its end).
// A file that ends with a line end has no empty line after it; any other empty line is an
// error.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillmere {

// Splits `data` into records of `record_length` bytes (>= 1). On success returns true and
// `*records` holds them in order; on failure returns false, `*error` names the line by number
// ("line 3: 98 bytes, the record length is 99") and `*records` holds the records before it.
bool ParseRecordLines(std::string_view data, uint32_t record_length, bool hex,
                      std::vector<std::string>* records, std::string* error);

// `bytes` as upper-case hex digits: HexEncode("\x01\xff") == "01FF".
std::string HexEncode(std::string_view bytes);
// The bytes of an even-length string of hex digits; nullopt for anything else.
std::optional<std::string> HexDecode(std::string_view hex);

}  // namespace quillmere
