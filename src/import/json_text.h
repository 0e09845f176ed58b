// JSON text for the reports the command line prints: the host's 8-bit text as JSON strings.
#pragma once

#include <string>
#include <string_view>

namespace quillmere {

// Returns `text` as a JSON string, its quotes included. The text is 8-bit, as the host system
// stores it: each byte from 0x80 up is the Latin-1 character of that number and is written as
// UTF-8, so the result is valid UTF-8 whatever the bytes. A quote and a backslash get a
// backslash; control bytes (below 32, and 127) are written as \u00XX.
//   JsonString("5\" pipe") == "\"5\\\" pipe\""     JsonString("\x01") == "\"\\u0001\""
//   JsonString("Caf\xE9") == "\"Caf\xC3\xA9\""    (the UTF-8 of "é")
std::string JsonString(std::string_view text);

}  // namespace quillmere
