// A file the program writes whole or not at all: the text goes to a temporary file beside the
// target, which is renamed over the target only when everything is written and flushed, so the
// target is never seen half-written and a write that fails leaves an older file as it was.
//
//   OutputFile output("chart.csv");
//   int error = 0;
//   if (!output.Create(&error)) return Fail("Error creating chart.csv :", error);
//   output.Write(header);
//   output.Write(rows);
//   if (!output.Commit(&error)) return Fail("Error writing chart.csv :", error);
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace quillmere {

class OutputFile {
 public:
  // Nothing is created until Create(). `target` is a path; a relative one is relative to the
  // working folder, as for open().
  explicit OutputFile(std::string target);
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  // Discards the temporary file when Commit() was not reached (or failed).
  ~OutputFile();

  // Creates the temporary file: hidden, beside the target, created new (O_EXCL), with the
  // permissions of a new file (0666 less the umask). False with errno's value in `*error`
  // (ENOENT: the target's folder does not exist); nothing is then left behind.
  bool Create(int* error);

  // Appends `text`; a failure is remembered and reported by Commit().
  void Write(std::string_view text);

  // Flushes the temporary file to disk and renames it over the target (a link named like the
  // target is replaced, not written through). False with errno's value in `*error` (the first
  // write error, if any, or EISDIR for a folder in the target's place); the temporary file is
  // then removed and the target is as it was.
  bool Commit(int* error);

  // Closes and removes the temporary file; the target is not touched.
  void Discard();

 private:
  static int ErrnoOr(int fallback);

  std::string target_;
  std::string temp_;
  std::FILE* file_ = nullptr;
  int error_ = 0;
};

}  // namespace quillmere
