#include "host/stop_signal.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

namespace {

int g_stopPipe[2] = {-1, -1};

void onStopSignal(int signal) {
  const int savedErrno = errno;
  const unsigned char number = static_cast<unsigned char>(signal);
  // Only async-signal-safe calls here; a full pipe just means a stop is already pending.
  [[maybe_unused]] const ssize_t ignored = ::write(g_stopPipe[1], &number, 1);
  errno = savedErrno;
}

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

int WaitForStopSignal(const std::function<bool()>& giveUp) {
  // Wake now and then rather than block for good: some runtimes (sanitizers among them) run a
  // deferred signal handler only when the thread that took the signal returns from a call.
  constexpr int kWakeIntervalMs = 100;
  unsigned char number = 0;
  for (;;) {
    pollfd waiting{g_stopPipe[0], POLLIN, 0};
    const int ready = ::poll(&waiting, 1, kWakeIntervalMs);
    if (ready < 0 && errno != EINTR) return SIGTERM;  // cannot wait: treat it as a stop request
    if (ready <= 0) {
      if (giveUp && giveUp()) return 0;
      continue;
    }
    const ssize_t n = ::read(g_stopPipe[0], &number, 1);
    if (n == 1) return number;
    if (n < 0 && errno == EINTR) continue;
    return SIGTERM;  // the pipe broke: treat it as a request to stop
  }
}
