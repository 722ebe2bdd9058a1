#pragma once
// A bus that misbehaves, for the virtual bus: a share of the frames between the server and the
// devices is dropped, duplicated or delayed, each direction on its own, decided by a
// pseudo-random sequence from a seed. The same seed and the same order of frames in a direction
// give the same decisions, so a failing run can be told apart from a different run.
//
// "sent" are the server's frames on their way to the devices, "received" the devices' frames on
// their way to the server. Devices always hear each other: the faults sit on the server's link.
#include <cstdint>
#include <string>

struct FrameFaults {
  // Shares in per cent of the frames in this direction; together at most 100.
  double drop_percent = 0;
  double duplicate_percent = 0;
  double delay_percent = 0;
  // How long a delayed frame is held back; later frames overtake it meanwhile.
  uint32_t delay_ms = 10;

  bool any() const { return drop_percent > 0 || duplicate_percent > 0 || delay_percent > 0; }
  double totalPercent() const { return drop_percent + duplicate_percent + delay_percent; }
};

struct BusFaults {
  FrameFaults sent;
  FrameFaults received;
  uint64_t seed = 1;

  bool any() const { return sent.any() || received.any(); }
};

// The longest a frame may be held back: a delay is a late frame, not a lost one.
constexpr uint32_t kMaxFrameDelay_ms = 10000;

// Parses the host's `--bus-faults` text: comma-separated KEY=VALUE with the keys drop,
// duplicate, delay (per cent, an optional "%" after the number), delay-ms and seed; a share or
// delay-ms prefixed with "sent." or "received." sets that direction only, otherwise both, e.g.
// "drop=1%,seed=7" or "received.drop=5%,sent.delay=1%,delay-ms=20". Applies the keys over
// `faults` (given as it should start). On a bad text returns false and sets `error`.
bool ParseBusFaults(const std::string& text, BusFaults* faults, std::string* error);

// Checks the shares and the delay of one direction; an empty text when they are usable.
std::string CheckFrameFaults(const FrameFaults& faults);

// "drop 1% both ways, seed 7", for the host's start-up line.
std::string DescribeBusFaults(const BusFaults& faults);
