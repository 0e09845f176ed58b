// Plumbing shared by the fuzz targets: a property check that aborts with a message, and a
// scratch file for the readers that take a path.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace quillmere::fuzz {

// Aborts, so libFuzzer keeps the input, when `ok` is false.
inline void Require(bool ok, const char* what, std::string_view detail = {}) {
  if (ok) return;
  std::fprintf(stderr, "property failed: %s [%.*s]\n", what, static_cast<int>(detail.size()),
               detail.data());
  std::abort();
}

// A file of this process under the temporary folder, rewritten for each input.
class ScratchFile {
 public:
  explicit ScratchFile(const char* stem) {
    const char* tmp = std::getenv("TMPDIR");
    path_ = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/quillmere-fuzz-" + stem +
            "-" + std::to_string(getpid());
  }
  ~ScratchFile() { std::remove(path_.c_str()); }
  ScratchFile(const ScratchFile&) = delete;
  ScratchFile& operator=(const ScratchFile&) = delete;

  const std::string& Write(std::string_view data) {
    std::FILE* f = std::fopen(path_.c_str(), "wb");
    Require(f != nullptr, "scratch file opens", path_);
    Require(std::fwrite(data.data(), 1, data.size(), f) == data.size(), "scratch file written");
    std::fclose(f);
    return path_;
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace quillmere::fuzz
