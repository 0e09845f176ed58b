#include "context/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <random>

namespace quillmere {

OutputFile::OutputFile(std::string target) : target_(std::move(target)) {}

OutputFile::~OutputFile() { Discard(); }

bool OutputFile::Create(int* error) {
  const std::filesystem::path target(target_);
  std::filesystem::path folder = target.parent_path();
  if (folder.empty()) folder = ".";
  // Hidden beside the target; a long name is shortened so the temporary name stays within the
  // folder's name limit.
  std::string base = target.filename().string();
  if (base.size() > 200) base.resize(200);
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%ld.%08x.tmp", static_cast<long>(::getpid()),
                  static_cast<unsigned>(random()));
    const std::string temp = (folder / ("." + base + suffix)).string();
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      *error = errno;
      return false;
    }
    file_ = ::fdopen(fd, "wb");
    if (file_ == nullptr) {
      *error = errno;
      ::close(fd);
      ::unlink(temp.c_str());
      return false;
    }
    temp_ = temp;
    return true;
  }
  *error = EEXIST;
  return false;
}

void OutputFile::Write(std::string_view text) {
  if (error_ != 0 || text.empty() || file_ == nullptr) return;
  if (std::fwrite(text.data(), 1, text.size(), file_) != text.size()) error_ = ErrnoOr(EIO);
}

bool OutputFile::Commit(int* error) {
  if (file_ == nullptr && error_ == 0) error_ = EBADF;  // Create() was not called or failed
  if (file_ != nullptr) {
    if (error_ == 0 && std::fflush(file_) != 0) error_ = ErrnoOr(EIO);
    // A file system that cannot sync (EINVAL) still holds what was written.
    if (error_ == 0 && ::fsync(::fileno(file_)) != 0 && errno != EINVAL) error_ = ErrnoOr(EIO);
    const int close_result = std::fclose(file_);
    file_ = nullptr;
    if (error_ == 0 && close_result != 0) error_ = ErrnoOr(EIO);
  }
  if (error_ == 0 && std::rename(temp_.c_str(), target_.c_str()) != 0) error_ = ErrnoOr(EIO);
  if (error_ != 0) {
    *error = error_;
    Discard();
    return false;
  }
  temp_.clear();
  return true;
}

void OutputFile::Discard() {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  if (!temp_.empty()) {
    ::unlink(temp_.c_str());
    temp_.clear();
  }
}

int OutputFile::ErrnoOr(int fallback) { return errno != 0 ? errno : fallback; }

}  // namespace quillmere
