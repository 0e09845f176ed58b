// The per-user registry file: ReadRegistryText on arbitrary file content. The key and value
// asked for come from the fuzzer too (first two lines of the input), so matching is exercised.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "startup/registry.h"
#include "startup/run_options.h"

using quillmere::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string key = "Software\\Corvane\\Login\\C:\\Program Files\\Corvane";
  std::string value = "AgencyCode";
  // An input that starts with "@" carries its own key and value name on two lines.
  if (!input.empty() && input[0] == '@') {
    const size_t k = input.find('\n');
    const size_t v = k == std::string_view::npos ? k : input.find('\n', k + 1);
    if (v != std::string_view::npos) {
      key = std::string(input.substr(1, k - 1));
      value = std::string(input.substr(k + 1, v - k - 1));
      input.remove_prefix(v + 1);
    }
  }
  static quillmere::fuzz::ScratchFile file("registry");
  const std::string& path = file.Write(input);
  try {
    const std::optional<std::string> text = quillmere::ReadRegistryText(path, key, value);
    if (text) Require(text->size() <= input.size(), "a value is no longer than the file");
  } catch (const quillmere::RegistryError&) {
    // A value of another type: the documented outcome.
  }
  return 0;
}
