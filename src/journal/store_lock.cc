#include "journal/store_lock.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "recfiles/record_store.h"

namespace quillmere {

std::string RecordStoreFolder() {
  sqlite3* db = RecordStoreConnection();
  if (db == nullptr) return "";
  const char* file = sqlite3_db_filename(db, "main");
  if (file == nullptr || *file == '\0') return "";
  return std::filesystem::path(file).parent_path().string();
}

StoreLock::Result StoreLock::Take(const std::string& holder, std::string* why) {
  Release();
  const std::string folder = RecordStoreFolder();
  if (folder.empty()) {
    *why = "the record store is not open";
    return Result::kFailed;
  }
  const std::string path = folder + "/" + kStoreLockFileName;
  // Never through a link: the lock file is ours, in the store's folder.
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) {
    *why = path + " could not be opened: " + std::strerror(errno);
    return Result::kFailed;
  }
  int rc;
  while ((rc = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  if (rc != 0) {
    const int error = errno;
    if (error == EWOULDBLOCK) {
      char text[512];
      ssize_t n;
      while ((n = ::pread(fd, text, sizeof text - 1, 0)) < 0 && errno == EINTR) {
      }
      std::string holder_text(text, n > 0 ? static_cast<size_t>(n) : 0);
      while (!holder_text.empty() && (holder_text.back() == '\n' || holder_text.back() == '\0')) {
        holder_text.pop_back();
      }
      *why = holder_text.empty() ? "another program" : holder_text;
      ::close(fd);
      return Result::kBusy;
    }
    *why = path + " could not be locked: " + std::strerror(error);
    ::close(fd);
    return Result::kFailed;
  }
  const std::string text = holder + "\n";
  if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, text.data(), text.size(), 0) < 0) {
    // The lock holds without its note; a refused import then names "another program".
  }
  fd_ = fd;
  return Result::kTaken;
}

void StoreLock::Release() {
  if (fd_ < 0) return;
  // A (void) cast does not silence glibc's warn_unused_result in a fortified build.
  if (::ftruncate(fd_, 0) != 0) {
    // The holder's note stays; closing still releases the lock, and the next holder writes its
    // own note over it.
  }
  ::close(fd_);  // closing the last descriptor releases the lock
  fd_ = -1;
}

}  // namespace quillmere
