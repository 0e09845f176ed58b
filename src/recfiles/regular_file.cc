#include "recfiles/regular_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quillmere {

bool ReadRegularFile(const std::string& path, std::string* data, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *error = std::strerror(errno);
    return false;
  }
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0;
  if (!ok) {
    *error = std::strerror(errno);
  } else if (!S_ISREG(st.st_mode)) {
    *error = S_ISDIR(st.st_mode) ? "it is a folder, not a file" : "it is not a regular file";
    ok = false;
  } else {
    (void)::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    data->clear();
    char chunk[1 << 16];
    for (;;) {
      const ssize_t n = ::read(fd, chunk, sizeof chunk);
      if (n > 0) {
        data->append(chunk, static_cast<size_t>(n));
      } else if (n == 0) {
        break;
      } else if (errno != EINTR) {
        *error = std::strerror(errno);
        ok = false;
        break;
      }
    }
  }
  ::close(fd);
  return ok;
}

}  // namespace quillmere
