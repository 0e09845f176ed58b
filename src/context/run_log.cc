#include "context/run_log.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quillmere {

RunLog::~RunLog() { Close(); }

bool RunLog::CreateNew(const std::string& path, bool* exists, std::string* error) {
  Close();
  *exists = false;
  file_ = std::fopen(path.c_str(), "wbx");
  if (file_ == nullptr) {
    *exists = errno == EEXIST;
    *error = "Cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  path_ = path;
  ok_ = true;
  return true;
}

void RunLog::Line(std::string_view text) {
  if (file_ == nullptr) return;
  for (;;) {  // a message of several lines gives several log lines, each ended by CR LF
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (end != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);
    if (std::fwrite(line.data(), 1, line.size(), file_) != line.size() ||
        std::fwrite("\r\n", 1, 2, file_) != 2) {
      ok_ = false;
    }
    if (end == std::string_view::npos) return;
    text.remove_prefix(end + 1);
  }
}

void RunLog::Flush() {
  if (file_ == nullptr) return;
  if (std::fflush(file_) != 0) ok_ = false;
}

void RunLog::Close() {
  if (file_ == nullptr) return;
  if (std::fclose(file_) != 0) ok_ = false;
  file_ = nullptr;
}

}  // namespace quillmere
