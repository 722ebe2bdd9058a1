#pragma once
// Ctrl-C (SIGINT) or SIGTERM asks a running command to stop instead of killing it, so "drive"
// can leave the motor at neutral and "plot" can close its CSV file. While one exists, the
// process-wide handlers are ours; the previous ones come back when it is destroyed.
#include <chrono>

namespace tessera::cli {

class StopRequest {
 public:
  StopRequest();
  ~StopRequest();
  StopRequest(const StopRequest&) = delete;
  StopRequest& operator=(const StopRequest&) = delete;

  bool requested() const;
  // Waits up to `period`; returns early, true, as soon as a stop is asked for.
  bool waitFor(std::chrono::milliseconds period) const;
};

}  // namespace tessera::cli
