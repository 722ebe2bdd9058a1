#pragma once
// The server's lifecycle log lines, caught while the capture lives (in this process).
#include <mutex>
#include <string>
#include <vector>

#include "runtime/diag_print.h"

namespace tessera_test {

class LogCapture {
 public:
  LogCapture() {
    quor::tessera::diagnostics::SetLogSink([this](const std::string& text, bool) {
      std::lock_guard<std::mutex> hold(mutex_);
      lines_.push_back(text);
    });
  }
  ~LogCapture() { quor::tessera::diagnostics::SetLogSink(nullptr); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::vector<std::string> lines() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return lines_;
  }
  // Whether a line caught so far holds `text`.
  bool saw(const std::string& text) const {
    std::lock_guard<std::mutex> hold(mutex_);
    for (const auto& line : lines_)
      if (line.find(text) != std::string::npos) return true;
    return false;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
};

}  // namespace tessera_test
