#include "cli/clock_text.h"

#include <ctime>

namespace tessera::cli {

namespace {

std::string Format(const std::tm& time, const char* format) {
  char text[32];
  const size_t length = std::strftime(text, sizeof text, format, &time);
  return std::string(text, length);
}

}  // namespace

std::string UtcTimestamp() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  return Format(utc, "%Y-%m-%dT%H:%M:%SZ");
}

std::string LocalClockTime() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return Format(local, "%H:%M:%S");
}

}  // namespace tessera::cli
