#pragma once
// Console output: debug prints that can be switched on and off, and the lifecycle log.
#include <functional>
#include <sstream>
#include <string>

void diag_enablePrints(bool enable);
bool diag_printsEnabled();
// printf-style; writes to standard output only while prints are enabled.
void diag_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

namespace quor::tessera::diagnostics {

// Receives every lifecycle message, already prefixed with "[tessera] ". The library's default
// sink drops them; the host installs one that prints.
using LogSink = std::function<void(const std::string& text, bool isError)>;
void SetLogSink(LogSink sink);

// Prefixes "[tessera] " to the collected text and hands it to the sink.
void LogStream(std::stringstream& text, bool isError);

}  // namespace quor::tessera::diagnostics
