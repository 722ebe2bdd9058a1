#include "canmux/socketcan_outage.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

std::string outageLine(SocketCanFault fault, int error, const std::string& name) {
  const std::string head = "CAN interface " + name;
  const std::string reason = std::string(" (") + std::strerror(error) + ")";
  switch (fault) {
    case SocketCanFault::kDown:
      return head + " is down" + reason + ": nothing is sent or received until it is up again";
    case SocketCanFault::kGone:
      return head + " has gone" + reason + ": waiting for it to come back";
    case SocketCanFault::kQueueFull:
      return head + " takes no more frames" + reason + ": its transmit queue stays full; is "
             "another node on the bus to acknowledge them, and is the bus wired and terminated?";
    case SocketCanFault::kNone:
      break;
  }
  return head + " failed" + reason;
}

}  // namespace

SocketCanFault SocketCanOutage::FaultOf(int error) {
  switch (error) {
    case ENETDOWN:
      return SocketCanFault::kDown;
    case ENODEV:
    case ENXIO:
      return SocketCanFault::kGone;
    case ENOBUFS:
      return SocketCanFault::kQueueFull;
    default:
      return SocketCanFault::kNone;
  }
}

std::string SocketCanOutage::failed(SocketCanFault fault, int error, const std::string& name,
                                    int64_t now_ms) {
  std::lock_guard<std::mutex> hold(mutex_);
  if (active_.load(std::memory_order_relaxed)) {
    // A removed interface must be opened anew even if the outage began as "down".
    if (fault == SocketCanFault::kGone) fault_ = fault;
    return "";
  }
  fault_ = fault;
  since_ms_ = now_ms;
  lastCheck_ms_ = now_ms;
  active_.store(true, std::memory_order_release);
  return outageLine(fault, error, name);
}

std::string SocketCanOutage::worked(const std::string& name, int64_t now_ms) {
  if (!active()) return "";
  std::lock_guard<std::mutex> hold(mutex_);
  if (!active_.load(std::memory_order_relaxed)) return "";
  active_.store(false, std::memory_order_release);
  fault_ = SocketCanFault::kNone;
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.1f", static_cast<double>(now_ms - since_ms_) / 1000);
  return "CAN interface " + name + " works again after " + seconds + " s";
}

SocketCanFault SocketCanOutage::fault() const {
  std::lock_guard<std::mutex> hold(mutex_);
  return fault_;
}

bool SocketCanOutage::checkDue(int64_t now_ms) {
  if (!active()) return false;
  std::lock_guard<std::mutex> hold(mutex_);
  if (now_ms - lastCheck_ms_ < kCheckInterval_ms) return false;
  lastCheck_ms_ = now_ms;
  return true;
}
