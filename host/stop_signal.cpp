#include "host/stop_signal.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace {

// Carries one byte per event: a signal's number, or kLookAgain.
int g_stopPipe[2] = {-1, -1};
constexpr unsigned char kLookAgain = 0;

void writeToStopPipe(unsigned char byte) {
  const int savedErrno = errno;
  // Only async-signal-safe calls here; a full pipe just means a stop is already pending.
  [[maybe_unused]] const ssize_t ignored = ::write(g_stopPipe[1], &byte, 1);
  errno = savedErrno;
}

void onStopSignal(int signal) { writeToStopPipe(static_cast<unsigned char>(signal)); }

}  // namespace

bool InstallStopSignalHandlers(std::string& error) {
  if (::pipe2(g_stopPipe, O_CLOEXEC) != 0) {
    error = std::string("cannot create the stop pipe: ") + std::strerror(errno);
    return false;
  }
  ::fcntl(g_stopPipe[1], F_SETFL, O_NONBLOCK);
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGINT, SIGTERM}) {
    if (::sigaction(signal, &action, nullptr) != 0) {
      error = std::string("cannot install the stop signal handler: ") + std::strerror(errno);
      return false;
    }
  }
  return true;
}

void WakeStopWaiter() { writeToStopPipe(kLookAgain); }

// Blocks in poll() with no time-out. A process-directed signal goes to the main thread when it
// does not block it, and poll() is a call during which sanitizer runtimes run a handler at once,
// so the handler's byte ends the wait even under ThreadSanitizer.
int WaitForStopSignal(const std::function<bool()>& giveUp) {
  unsigned char byte = kLookAgain;
  for (;;) {
    if (byte == kLookAgain && giveUp && giveUp()) return 0;
    pollfd waiting{g_stopPipe[0], POLLIN, 0};
    const int ready = ::poll(&waiting, 1, -1);
    if (ready < 0 && errno != EINTR) return SIGTERM;  // cannot wait: treat it as a stop request
    if (ready <= 0) continue;
    const ssize_t n = ::read(g_stopPipe[0], &byte, 1);
    if (n == 1 && byte != kLookAgain) return byte;
    if (n == 1 || (n < 0 && errno == EINTR)) continue;
    return SIGTERM;  // the pipe broke: treat it as a request to stop
  }
}
