// The run log: an 8-bit text file, one event per line, lines ended by CR LF.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace quillmere {

class RunLog {
 public:
  RunLog() = default;
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;
  ~RunLog();

  // Creates `path` empty, only when no file of that name exists (a run log is never
  // overwritten); false with `*error` on failure, `*exists` telling that case apart.
  bool CreateNew(const std::string& path, bool* exists, std::string* error);
  // Appends `text` and CR LF; each LF (or CR LF) inside `text` ends a line of its own, so a
  // message of several lines keeps the log's line ends. A failed write is remembered (ok()
  // turns false).
  void Line(std::string_view text);
  // Pushes what was written to disk.
  void Flush();
  void Close();

  bool is_open() const { return file_ != nullptr; }
  bool ok() const { return ok_; }
  const std::string& path() const { return path_; }

 private:
  std::FILE* file_ = nullptr;
  std::string path_;
  bool ok_ = true;
};

}  // namespace quillmere
