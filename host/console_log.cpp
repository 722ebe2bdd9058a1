#include "host/console_log.h"

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "runtime/diag_print.h"

namespace {

std::atomic<bool> g_dropLifecycleLines{false};

std::string LevelPrefix(LineLevel level, int fd) {
  if (level == LineLevel::kInfo || !IsJournalStream(fd)) return "";
  return "<" + std::to_string(static_cast<int>(level)) + ">";
}

void Write(std::ostream& out, int fd, LineLevel level, const std::string& text) {
  out << LevelPrefix(level, fd) << text;
  if (text.empty() || text.back() != '\n') out << '\n';
  out.flush();
}

}  // namespace

bool IsJournalStream(int fd) {
  const char* stream = std::getenv("JOURNAL_STREAM");
  uintmax_t device = 0, inode = 0;
  if (stream == nullptr || std::sscanf(stream, "%ju:%ju", &device, &inode) != 2) return false;
  struct stat status {};
  return ::fstat(fd, &status) == 0 && static_cast<uintmax_t>(status.st_dev) == device &&
         static_cast<uintmax_t>(status.st_ino) == inode;
}

void PrintLine(LineLevel level, const std::string& text) {
  if (level == LineLevel::kInfo)
    Write(std::cout, STDOUT_FILENO, level, text);
  else
    Write(std::cerr, STDERR_FILENO, level, text);
}

void PrintLogLinesOnConsole(std::function<void()> afterErrorLine) {
  quor::tessera::diagnostics::SetLogSink(
      [afterErrorLine = std::move(afterErrorLine)](const std::string& text, bool isError) {
        if (!isError && g_dropLifecycleLines) return;
        PrintLine(isError ? LineLevel::kError : LineLevel::kInfo, text);
        if (isError && afterErrorLine) afterErrorLine();
      });
}

void DropLifecycleLines() { g_dropLifecycleLines = true; }
