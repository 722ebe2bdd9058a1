#include "runtime/diag_print.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace {
std::atomic<bool> g_printsEnabled{false};

std::mutex& sinkMutex() {
  static std::mutex m;
  return m;
}
quor::tessera::diagnostics::LogSink& sink() {
  static quor::tessera::diagnostics::LogSink s;
  return s;
}
}  // namespace

void diag_enablePrints(bool enable) { g_printsEnabled.store(enable); }
bool diag_printsEnabled() { return g_printsEnabled.load(); }

void diag_printf(const char* format, ...) {
  if (!g_printsEnabled.load(std::memory_order_relaxed)) return;
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::fflush(stdout);
}

namespace quor::tessera::diagnostics {

void SetLogSink(LogSink newSink) {
  std::lock_guard<std::mutex> hold(sinkMutex());
  sink() = std::move(newSink);
}

void LogStream(std::stringstream& text, bool isError) {
  const std::string line = "[tessera] " + text.str();
  std::lock_guard<std::mutex> hold(sinkMutex());
  if (sink()) sink()(line, isError);
}

}  // namespace quor::tessera::diagnostics
