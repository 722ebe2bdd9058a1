#include "cli/stop_request.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>

namespace tessera::cli {

namespace {

std::atomic<bool> stopAsked{false};
// The handler writes one byte so a waiting poll() wakes at once.
int wakePipe[2] = {-1, -1};
struct sigaction previousInt, previousTerm;

void OnStopSignal(int) {
  stopAsked = true;
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = write(wakePipe[1], &byte, 1);
}

}  // namespace

StopRequest::StopRequest() {
  stopAsked = false;
  if (pipe(wakePipe) == 0) {
    fcntl(wakePipe[0], F_SETFL, O_NONBLOCK);
    fcntl(wakePipe[1], F_SETFL, O_NONBLOCK);
  }
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &previousInt);
  sigaction(SIGTERM, &action, &previousTerm);
}

StopRequest::~StopRequest() {
  sigaction(SIGINT, &previousInt, nullptr);
  sigaction(SIGTERM, &previousTerm, nullptr);
  for (int& fd : wakePipe) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
}

bool StopRequest::requested() const { return stopAsked; }

bool StopRequest::waitFor(std::chrono::milliseconds period) const {
  if (stopAsked) return true;
  pollfd wake{wakePipe[0], POLLIN, 0};
  // A period already over must not become poll's "wait for ever".
  poll(&wake, 1, static_cast<int>(std::max<int64_t>(period.count(), 0)));
  return stopAsked;
}

}  // namespace tessera::cli
