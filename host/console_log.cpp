#include "host/console_log.h"

#include <iostream>
#include <string>

#include "runtime/diag_print.h"

void PrintLogLinesOnConsole(std::function<void()> afterErrorLine) {
  quor::tessera::diagnostics::SetLogSink(
      [afterErrorLine = std::move(afterErrorLine)](const std::string& text, bool isError) {
        std::ostream& out = isError ? std::cerr : std::cout;
        out << text;
        if (text.empty() || text.back() != '\n') out << '\n';
        out.flush();
        if (isError && afterErrorLine) afterErrorLine();
      });
}
