#include "canmux/time_stamp.h"

#include <sys/time.h>

#include <cstring>
#include <ctime>

#include "runtime/monotonic_clock.h"

int64_t WallClockMicros() {
  struct timespec now {};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

int64_t UnwrapMicros(uint32_t stamp, int64_t reference_us) {
  const uint32_t referenceLow = static_cast<uint32_t>(static_cast<uint64_t>(reference_us));
  // Two's-complement difference: how far the stamp lies before or after the reference.
  const int32_t offset = static_cast<int32_t>(stamp - referenceLow);
  return reference_us + offset;
}

int64_t MonotonicStampToWallClock_us(uint32_t stamp) {
  const int64_t monotonicNow_us = quor::tessera::runtime::MonotonicMicros();
  const int64_t age_us = monotonicNow_us - UnwrapMicros(stamp, monotonicNow_us);
  return WallClockMicros() - age_us;
}

uint32_t KernelReceiveStamp_us(const struct msghdr& header) {
  for (struct cmsghdr* c = CMSG_FIRSTHDR(&header); c != nullptr;
       c = CMSG_NXTHDR(const_cast<struct msghdr*>(&header), c)) {
    if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_TIMESTAMP) {
      struct timeval stamp {};
      std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
      return static_cast<uint32_t>(static_cast<uint64_t>(stamp.tv_sec) * 1000000u +
                                   static_cast<uint64_t>(stamp.tv_usec));
    }
  }
  return 0;
}
