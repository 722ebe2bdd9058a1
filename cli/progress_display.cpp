#include "cli/progress_display.h"

#include <algorithm>
#include <cstdio>
#include <ostream>

namespace tessera::cli {

namespace {
constexpr int kBarWidth = 30;
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

ProgressDisplay::ProgressDisplay(std::ostream& out, bool terminal, std::string label)
    : out_(out), terminal_(terminal), label_(std::move(label)) {}

void ProgressDisplay::show(int percent, int64_t elapsed_ms) {
  // A terminal line is redrawn for the clock too; a log gets a line only for new progress.
  if (terminal_ || percent != lastPercent_) draw(percent, elapsed_ms);
  lastPercent_ = percent;
}

void ProgressDisplay::finish(int percent, int64_t elapsed_ms) {
  if (terminal_ || percent != lastPercent_) draw(percent, elapsed_ms);
  if (lineOpen_) out_ << "\n";
  lineOpen_ = false;
  out_.flush();
}

void ProgressDisplay::draw(int percent, int64_t elapsed_ms) {
  char figures[32];
  std::snprintf(figures, sizeof figures, "%3d%%  %s", std::clamp(percent, 0, 100),
                FormatElapsed(elapsed_ms).c_str());
  if (terminal_) {
    out_ << "\r" << label_ << " " << ProgressBar(percent, kBarWidth) << " " << figures << "\x1b[K";
    lineOpen_ = true;
  } else {
    out_ << label_ << ": " << figures << "\n";
  }
  out_.flush();
}

}  // namespace tessera::cli
