// The files an import reads: the balance sheet CSV, opened only when it is a regular file, and
// the private copy of the bytes the checking pass read, which the posting pass reads instead
// of the CSV, so that what is posted is what was checked whatever happens to the CSV meanwhile.
#pragma once

#include <cstdint>
#include <string>

namespace quillmere {

// An open file descriptor that closes itself; -1 holds none.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  int release();
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

// Opens `path` for reading as the balance sheet CSV, without waiting: a FIFO or a device in
// its place is refused at once, never read. Returns the descriptor (blocking reads, closed on
// exec) and `*size` the file's size; on failure an empty UniqueFd and `*reason` saying why,
// "" when nothing of that name exists:
//   "it is a folder, not a file", "it is a pipe, not a file", "it is a device, not a file",
//   "it is not a regular file", or the system's text ("Permission denied").
UniqueFd OpenCsvFile(const std::string& path, uint64_t* size, std::string* reason);

// The folder private copies are made in: $TMPDIR when it is set and not empty, else /tmp.
std::string PrivateCopyFolder();

// A new empty file in `folder`, readable and writable by its owner only and by nobody else,
// that has no name in the folder (made without one, or its name removed as soon as it is open),
// so nothing of it remains whatever ends the program. Returns its descriptor (closed on exec);
// on failure an empty UniqueFd and `*error` the system's text ("No such file or directory").
UniqueFd CreatePrivateCopy(const std::string& folder, std::string* error);

}  // namespace quillmere
