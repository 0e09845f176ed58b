#include "startup/site_settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>
#include <random>
#include <utility>

#include "recfiles/encodings.h"
#include "recfiles/record_store.h"
#include "recfiles/settings_file.h"

namespace quillmere {
namespace {

std::string ErrorText(const std::string& path, int err) {
  return "Cannot write \"" + path + "\": " + std::strerror(err);
}

}  // namespace

SiteSettings ReadSiteSettings(const std::string& path) {
  SiteSettings settings;
  SettingsSection section = ReadSettingsSection(path, kSiteSettingsSection);
  if (!section.read_error.empty()) {
    settings.read_error = "The settings file " + path + " cannot be read: " + section.read_error;
  }
  settings.mdbserv = section.Get("mdbserv").value_or(settings.mdbserv);
  settings.mdbuser = section.Get("mdbuser").value_or(settings.mdbuser);
  settings.mdbpass = section.Get("mdbpass").value_or(settings.mdbpass);
  settings.mdbbase = section.Get("mdbbase").value_or(settings.mdbbase);
  if (const std::optional<std::string> port = section.Get("mdbport")) {
    const bool digits = !port->empty() && std::all_of(port->begin(), port->end(),
                                                      [](char c) { return c >= '0' && c <= '9'; });
    int value = 0;
    const auto result = std::from_chars(port->data(), port->data() + port->size(), value);
    if (digits && result.ec == std::errc() && value > 0 && value <= 65535) {
      settings.mdbport = value;
    } else {
      settings.mdbport_error =
          "mdbport in " + path + " is not a port number (1 to 65535): " + ShowControlBytes(*port);
    }
  }
  if (const std::optional<std::string> timeout = section.Get("mdbtimeout")) {
    int seconds = 0;
    const auto parsed =
        std::from_chars(timeout->data(), timeout->data() + timeout->size(), seconds);
    if (parsed.ec == std::errc() && parsed.ptr == timeout->data() + timeout->size() &&
        seconds >= kMinDbTimeoutSeconds && seconds <= kMaxDbTimeoutSeconds) {
      settings.mdbtimeout = seconds;
    } else {
      settings.bad_mdbtimeout = *timeout;
    }
  }
  settings.problems = std::move(section.problems);
  return settings;
}

std::string StoreFailureMessage(const std::string& settings_path, int status,
                                std::string_view cause) {
  const bool has_datapath = !ReadSettingsSection(settings_path, kSiteSettingsSection)
                                 .Get("datapath")
                                 .value_or("")
                                 .empty();
  const std::string source = has_datapath
                                 ? "datapath in " + settings_path
                                 : "the folder of " + settings_path + ", which sets no datapath";
  std::string folder = DataDirectoryFromSettings(settings_path);
  if (folder.size() > 1 && folder.back() == '/') folder.pop_back();  // "datapath=." gives "/x/"
  return "Unable to open the record files in " + folder + " (" + source +
         "): " + std::string(cause) + ", status is " + std::to_string(status);
}

std::string UtilityIniText(const SiteSettings& settings) {
  return "DriverID=MySQL\r\nserver=" + settings.mdbserv + "\r\nUser_Name=" + settings.mdbuser +
         "\r\nPassword=" + settings.mdbpass + "\r\ndatabase=" + settings.mdbbase + "\r\n";
}

bool WriteUtilityIni(const std::string& path, const SiteSettings& settings, std::string* error) {
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  // A name of our own beside the target: O_EXCL never opens a file or link that is there.
  std::random_device random;
  std::string temp;
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    char suffix[48];
    std::snprintf(suffix, sizeof suffix, ".utility.ini.%ld.%08x.tmp", static_cast<long>(::getpid()),
                  static_cast<unsigned>(random()));
    temp = folder + suffix;
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST) {
      *error = ErrorText(path, errno);
      return false;
    }
  }
  if (fd < 0) {
    *error = ErrorText(path, EEXIST);
    return false;
  }
  const auto fail = [&](int err) {
    *error = ErrorText(path, err);
    if (fd >= 0) ::close(fd);
    ::unlink(temp.c_str());
    return false;
  };
  // A umask cannot widen 0600, but a narrower one would shut the owner out.
  if (::fchmod(fd, S_IRUSR | S_IWUSR) != 0) return fail(errno);
  const std::string text = UtilityIniText(settings);
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(errno);
    }
    written += static_cast<std::size_t>(n);
  }
  // A file system that cannot sync (EINVAL) still holds what was written.
  if (::fsync(fd) != 0 && errno != EINVAL) return fail(errno);
  const int closed = ::close(fd);
  fd = -1;
  if (closed != 0) return fail(errno);
  // rename() replaces the name itself: a link of that name goes, its target stays untouched.
  if (std::rename(temp.c_str(), path.c_str()) != 0) return fail(errno);
  return true;
}

}  // namespace quillmere
