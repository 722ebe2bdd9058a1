#include "host/console_log.h"

#include <iostream>
#include <string>

#include "runtime/diag_print.h"

void PrintLogLinesOnConsole() {
  quor::tessera::diagnostics::SetLogSink([](const std::string& text, bool isError) {
    std::ostream& out = isError ? std::cerr : std::cout;
    out << text;
    if (text.empty() || text.back() != '\n') out << '\n';
    out.flush();
  });
}
