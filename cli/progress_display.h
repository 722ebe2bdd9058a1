#pragma once
// Shows how far a long job is: on a terminal one line redrawn in place with a bar, the percent
// and the time elapsed; elsewhere (a log, a pipe) a plain line whenever the percent changes.
#include <cstdint>
#include <iosfwd>
#include <string>

namespace tessera::cli {

// "0:07", "12:34", "1:02:03".
std::string FormatElapsed(int64_t elapsed_ms);

// "[##########----------]" for 50 % at width 20; the percent is clamped to 0..100.
std::string ProgressBar(int percent, int width);

class ProgressDisplay {
 public:
  ProgressDisplay(std::ostream& out, bool terminal, std::string label);

  void show(int percent, int64_t elapsed_ms);
  // Leaves the last state on screen and ends the line.
  void finish(int percent, int64_t elapsed_ms);

 private:
  void draw(int percent, int64_t elapsed_ms);

  std::ostream& out_;
  bool terminal_;
  std::string label_;
  int lastPercent_ = -1;
  bool lineOpen_ = false;
};

}  // namespace tessera::cli
