#pragma once
// A connection's next deadline as a descriptor the event loop waits on beside the socket: it
// becomes readable once the deadline has come. It is armed lazily: a deadline that moves later
// (every kept-alive request moves the idle one) leaves the earlier expiry in place, and the
// early wake-up then looks at the connection and arms the real one. So a request costs no
// timer call; only a deadline that comes sooner than the armed one does.
#include <cstdint>

namespace quor::tessera::networking {

class DeadlineTimer {
 public:
  DeadlineTimer();
  ~DeadlineTimer();
  DeadlineTimer(const DeadlineTimer&) = delete;
  DeadlineTimer& operator=(const DeadlineTimer&) = delete;

  // -1 when no timer could be created.
  int descriptor() const { return descriptor_; }

  // Makes sure the descriptor becomes readable no later than `atMs`, on the monotonic clock
  // in milliseconds (runtime::MonotonicMillis).
  bool expireBy(int64_t atMs);
  // Takes the expiry that made the descriptor readable; nothing is armed afterwards.
  void acknowledge();
  // Disarms it, for a descriptor that is about to be closed.
  void close();

 private:
  static constexpr int64_t kNotArmed = INT64_MAX;

  int descriptor_ = -1;
  int64_t armedAtMs_ = kNotArmed;
};

}  // namespace quor::tessera::networking
