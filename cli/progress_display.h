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

// The width of the terminal `fd` is, in columns; 0 when it is no terminal.
int TerminalWidth(int fd);

class ProgressDisplay {
 public:
  // `terminalWidth` 0: not a terminal. On a terminal the line never runs past its width: the
  // bar shrinks, and goes, before the figures do.
  ProgressDisplay(std::ostream& out, int terminalWidth, std::string label);

  void show(int percent, int64_t elapsed_ms);
  // Leaves the last state on screen and ends the line.
  void finish(int percent, int64_t elapsed_ms);

 private:
  void draw(int percent, int64_t elapsed_ms);

  std::ostream& out_;
  int width_;
  std::string label_;
  int lastPercent_ = -1;
  bool lineOpen_ = false;
};

}  // namespace tessera::cli
