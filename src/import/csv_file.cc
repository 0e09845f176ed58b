#include "import/csv_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace quillmere {

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) reset(other.release());
  return *this;
}

int UniqueFd::release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

UniqueFd OpenCsvFile(const std::string& path, uint64_t* size, std::string* reason) {
  reason->clear();
  // O_NONBLOCK: opening a FIFO for reading would wait for a writer. Reads block again once the
  // file is known to be a regular file.
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) {
    if (errno != ENOENT) *reason = std::strerror(errno);
    return UniqueFd();
  }
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0) {
    *reason = std::strerror(errno);
    return UniqueFd();
  }
  if (!S_ISREG(st.st_mode)) {
    // A folder reads as nothing, a FIFO waits for a writer, /dev/zero never ends.
    if (S_ISDIR(st.st_mode)) {
      *reason = "it is a folder, not a file";
    } else if (S_ISFIFO(st.st_mode)) {
      *reason = "it is a pipe, not a file";
    } else if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) {
      *reason = "it is a device, not a file";
    } else {
      *reason = "it is not a regular file";
    }
    return UniqueFd();
  }
  const int flags = ::fcntl(fd.get(), F_GETFL);
  if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
    *reason = std::strerror(errno);
    return UniqueFd();
  }
  *size = static_cast<uint64_t>(st.st_size);
  return fd;
}

std::string PrivateCopyFolder() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

UniqueFd CreatePrivateCopy(const std::string& folder, std::string* error) {
  error->clear();
  // A file without a name: nothing to remove, even after SIGKILL. O_EXCL: it can never be given
  // one either.
  UniqueFd fd(::open(folder.c_str(), O_TMPFILE | O_RDWR | O_EXCL | O_CLOEXEC, 0600));
  if (fd) return fd;
  // Folders on file systems without unnamed files: a named one, removed at once.
  if (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL) {
    std::string name = folder + "/quillmere-copy-XXXXXX";
    fd.reset(::mkostemp(name.data(), O_CLOEXEC));  // created 0600
    if (fd) {
      if (::unlink(name.c_str()) == 0) return fd;
      *error = std::strerror(errno);
      return UniqueFd();
    }
  }
  *error = std::strerror(errno);
  return UniqueFd();
}

}  // namespace quillmere
