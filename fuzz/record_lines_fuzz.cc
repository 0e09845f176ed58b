// quillmere-recfile load's line parser, raw and hex, for record lengths of 1 to 160.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "recfiles/record_lines.h"

using quillmere::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // The first byte chooses the record length and the form.
  const uint32_t record_length = 1 + (data[0] & 0x7f) % 160;
  const bool hex = (data[0] & 0x80) != 0;
  const std::string_view body(reinterpret_cast<const char*>(data) + 1, size - 1);

  std::vector<std::string> records;
  std::string error;
  const bool ok = quillmere::ParseRecordLines(body, record_length, hex, &records, &error);
  for (const std::string& r : records) {
    Require(r.size() == record_length, "every record has the record length");
  }
  Require(ok == error.empty(), "an error message exactly when parsing fails", error);
  if (!ok) {
    Require(error.rfind("line ", 0) == 0, "the error names the line", error);
    return 0;
  }

  // What was read, written out again as the dump writes it, reads back the same.
  std::string written;
  for (const std::string& r : records) {
    written += hex ? quillmere::HexEncode(r) : r;
    written += '\n';
  }
  std::vector<std::string> again;
  Require(quillmere::ParseRecordLines(written, record_length, hex, &again, &error),
          "a dump of the records loads", error);
  Require(again == records, "a dump loads back the same records");
  if (hex) {
    for (const std::string& r : records) {
      const auto decoded = quillmere::HexDecode(quillmere::HexEncode(r));
      Require(decoded.has_value() && *decoded == r, "hex round trip");
    }
  }
  return 0;
}
