#include "startup/site_settings.h"

#include <INIReader.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

namespace quillmere {
namespace {

constexpr char kSection[] = "VelfilesNdx";

// A value as the INI rules give it: its first occurrence (inih joins repeated keys with a line
// feed), without one pair of surrounding quotation marks.
std::string Value(const INIReader& reader, const std::string& name, const std::string& fallback) {
  if (!reader.HasValue(kSection, name)) return fallback;
  std::string value = reader.Get(kSection, name, fallback);
  const std::size_t line_end = value.find('\n');
  if (line_end != std::string::npos) value.erase(line_end);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    value = value.substr(1, value.size() - 2);
  }
  return value;
}

std::string ErrorText(const std::string& path, int err) {
  return "Cannot write \"" + path + "\": " + std::strerror(err);
}

}  // namespace

SiteSettings ReadSiteSettings(const std::string& path) {
  SiteSettings settings;
  const INIReader reader(path);
  if (reader.ParseError() < 0) return settings;  // no file: every default
  settings.mdbserv = Value(reader, "mdbserv", settings.mdbserv);
  settings.mdbuser = Value(reader, "mdbuser", settings.mdbuser);
  settings.mdbpass = Value(reader, "mdbpass", settings.mdbpass);
  settings.mdbbase = Value(reader, "mdbbase", settings.mdbbase);
  const std::string port = Value(reader, "mdbport", "");
  int value = 0;
  const auto result = std::from_chars(port.data(), port.data() + port.size(), value);
  if (result.ec == std::errc() && result.ptr == port.data() + port.size() && value > 0 &&
      value <= 65535) {
    settings.mdbport = value;
  }
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
