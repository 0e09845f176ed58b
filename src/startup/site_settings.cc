#include "startup/site_settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <utility>

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
  settings.mdbserv = section.Get("mdbserv").value_or(settings.mdbserv);
  settings.mdbuser = section.Get("mdbuser").value_or(settings.mdbuser);
  settings.mdbpass = section.Get("mdbpass").value_or(settings.mdbpass);
  settings.mdbbase = section.Get("mdbbase").value_or(settings.mdbbase);
  const std::string port = section.Get("mdbport").value_or("");
  int value = 0;
  const auto result = std::from_chars(port.data(), port.data() + port.size(), value);
  if (result.ec == std::errc() && result.ptr == port.data() + port.size() && value > 0 &&
      value <= 65535) {
    settings.mdbport = value;
  }
  if (const std::optional<std::string> timeout = section.Get("mdbtimeout")) {
    const auto parsed = std::from_chars(timeout->data(), timeout->data() + timeout->size(), value);
    if (parsed.ec == std::errc() && parsed.ptr == timeout->data() + timeout->size() &&
        value >= kMinDbTimeoutSeconds && value <= kMaxDbTimeoutSeconds) {
      settings.mdbtimeout = value;
    } else {
      settings.bad_mdbtimeout = *timeout;
    }
  }
  settings.problems = std::move(section.problems);
  return settings;
}

std::string UtilityIniText(const SiteSettings& settings) {
  return "DriverID=MySQL\r\nserver=" + settings.mdbserv + "\r\nUser_Name=" + settings.mdbuser +
         "\r\nPassword=" + settings.mdbpass + "\r\ndatabase=" + settings.mdbbase + "\r\n";
}

bool WriteUtilityIni(const std::string& path, const SiteSettings& settings, std::string* error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) {
    *error = ErrorText(path, errno);
    return false;
  }
  // An older file may allow more; tighten it before the password goes in.
  if (::fchmod(fd, S_IRUSR | S_IWUSR) != 0) {
    *error = ErrorText(path, errno);
    ::close(fd);
    return false;
  }
  const std::string text = UtilityIniText(settings);
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
    if (n < 0) {
      if (errno == EINTR) continue;
      *error = ErrorText(path, errno);
      ::close(fd);
      return false;
    }
    written += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0) {
    *error = ErrorText(path, errno);
    return false;
  }
  return true;
}

}  // namespace quillmere
