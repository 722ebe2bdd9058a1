#include "cli/progress_display.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <ostream>

namespace tessera::cli {

namespace {
constexpr int kBarWidth = 30;
constexpr int kMinBarWidth = 5;
constexpr int kFallbackColumns = 80;
}  // namespace

int TerminalWidth(int fd) {
  if (isatty(fd) == 0) return 0;
  winsize size{};
  if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  const char* columns = std::getenv("COLUMNS");
  const int fromEnvironment = columns != nullptr ? std::atoi(columns) : 0;
  return fromEnvironment > 0 ? fromEnvironment : kFallbackColumns;
}

std::string FormatElapsed(int64_t elapsed_ms) {
  const int64_t seconds = std::max<int64_t>(elapsed_ms, 0) / 1000;
  char text[32];
  if (seconds >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(seconds / 60),
                  static_cast<long long>(seconds % 60));
  }
  return text;
}

std::string ProgressBar(int percent, int width) {
  const int filled = std::clamp(percent, 0, 100) * width / 100;
  return "[" + std::string(filled, '#') + std::string(width - filled, '-') + "]";
}

ProgressDisplay::ProgressDisplay(std::ostream& out, int terminalWidth, std::string label)
    : out_(out), width_(terminalWidth), label_(std::move(label)) {}

void ProgressDisplay::show(int percent, int64_t elapsed_ms) {
  // A terminal line is redrawn for the clock too; a log gets a line only for new progress.
  if (width_ > 0 || percent != lastPercent_) draw(percent, elapsed_ms);
  lastPercent_ = percent;
}

void ProgressDisplay::finish(int percent, int64_t elapsed_ms) {
  if (width_ > 0 || percent != lastPercent_) draw(percent, elapsed_ms);
  if (lineOpen_) out_ << "\n";
  lineOpen_ = false;
  out_.flush();
}

void ProgressDisplay::draw(int percent, int64_t elapsed_ms) {
  char figures[32];
  std::snprintf(figures, sizeof figures, "%3d%%  %s", std::clamp(percent, 0, 100),
                FormatElapsed(elapsed_ms).c_str());
  if (width_ > 0) {
    // The last column stays free: writing into it makes some terminals wrap at once.
    int room = width_ - 1 - static_cast<int>(std::strlen(figures));
    // Too narrow even for the time: the percent alone.
    if (room < 0) figures[4] = '\0', room = width_ - 5;
    std::string label = label_;
    int bar = std::min(kBarWidth, room - static_cast<int>(label.size()) - 4);
    if (bar < kMinBarWidth) bar = 0;
    if (static_cast<int>(label.size()) + 1 > room - (bar > 0 ? bar + 3 : 0))
      label = label.substr(0, static_cast<size_t>(std::max(0, room - 1 - (bar > 0 ? bar + 3 : 0))));
    out_ << "\r" << label << (label.empty() ? "" : " ")
         << (bar > 0 ? ProgressBar(percent, bar) + " " : "") << figures << "\x1b[K";
    lineOpen_ = true;
  } else {
    out_ << label_ << ": " << figures << "\n";
  }
  out_.flush();
}

}  // namespace tessera::cli
