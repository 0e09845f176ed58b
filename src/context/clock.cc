#include "context/clock.h"

#include <ctime>

namespace quillmere {

DateTime NowLocal() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  DateTime out;
  out.date = Date{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
  out.hour = local.tm_hour;
  out.minute = local.tm_min;
  out.second = local.tm_sec;
  return out;
}

}  // namespace quillmere
