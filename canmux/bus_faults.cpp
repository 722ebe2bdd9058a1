#include "canmux/bus_faults.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr char kSentPrefix[] = "sent.";
constexpr char kReceivedPrefix[] = "received.";

bool ParsePercent(const std::string& text, double* out) {
  std::string number = text;
  if (!number.empty() && number.back() == '%') number.pop_back();
  if (number.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(number.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(value) || value < 0 || value > 100) return false;
  *out = value;
  return true;
}

bool ParseUnsigned(const std::string& text, unsigned long long maximum, unsigned long long* out) {
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value > maximum) return false;
  *out = value;
  return true;
}

// One KEY=VALUE for the directions in `targets` (one or both).
bool ApplyShare(const std::string& key, const std::string& value, FrameFaults* targets[2],
                std::string* error) {
  if (key == "delay-ms") {
    unsigned long long ms = 0;
    if (!ParseUnsigned(value, kMaxFrameDelay_ms, &ms)) {
      *error = "delay-ms needs a whole number of milliseconds from 0 to " +
               std::to_string(kMaxFrameDelay_ms) + ", got \"" + value + "\"";
      return false;
    }
    for (int i = 0; i < 2; ++i)
      if (targets[i] != nullptr) targets[i]->delay_ms = static_cast<uint32_t>(ms);
    return true;
  }
  double FrameFaults::*share = nullptr;
  if (key == "drop") share = &FrameFaults::drop_percent;
  if (key == "duplicate") share = &FrameFaults::duplicate_percent;
  if (key == "delay") share = &FrameFaults::delay_percent;
  if (share == nullptr) {
    *error = "unknown key \"" + key + "\" (known: drop, duplicate, delay, delay-ms, seed)";
    return false;
  }
  double percent = 0;
  if (!ParsePercent(value, &percent)) {
    *error = key + " needs a share from 0% to 100%, got \"" + value + "\"";
    return false;
  }
  for (int i = 0; i < 2; ++i)
    if (targets[i] != nullptr) targets[i]->*share = percent;
  return true;
}

std::string Percent(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g%%", value);
  return text;
}

std::string DescribeDirection(const FrameFaults& faults) {
  std::string text;
  const auto add = [&text](const std::string& part) { text += (text.empty() ? "" : ", ") + part; };
  if (faults.drop_percent > 0) add("drop " + Percent(faults.drop_percent));
  if (faults.duplicate_percent > 0) add("duplicate " + Percent(faults.duplicate_percent));
  if (faults.delay_percent > 0)
    add("delay " + Percent(faults.delay_percent) + " by " + std::to_string(faults.delay_ms) + " ms");
  return text;
}

}  // namespace

std::string CheckFrameFaults(const FrameFaults& faults) {
  const double shares[] = {faults.drop_percent, faults.duplicate_percent, faults.delay_percent};
  for (double share : shares) {
    if (!std::isfinite(share) || share < 0 || share > 100) return "a share must be 0% to 100%";
  }
  if (faults.totalPercent() > 100) return "drop, duplicate and delay add up to more than 100%";
  if (faults.delay_ms > kMaxFrameDelay_ms)
    return "a delay may be at most " + std::to_string(kMaxFrameDelay_ms) + " ms";
  return "";
}

bool ParseBusFaults(const std::string& text, BusFaults* faults, std::string* error) {
  BusFaults parsed = *faults;
  size_t start = 0;
  while (start <= text.size()) {
    const size_t comma = text.find(',', start);
    const std::string item =
        text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    start = comma == std::string::npos ? text.size() + 1 : comma + 1;
    const size_t equals = item.find('=');
    if (equals == std::string::npos || equals == 0) {
      *error = "expected KEY=VALUE, got \"" + item + "\"";
      return false;
    }
    std::string key = item.substr(0, equals);
    const std::string value = item.substr(equals + 1);
    if (key == "seed") {
      unsigned long long seed = 0;
      if (!ParseUnsigned(value, UINT64_MAX, &seed)) {
        *error = "seed needs a whole number, got \"" + value + "\"";
        return false;
      }
      parsed.seed = seed;
      continue;
    }
    FrameFaults* targets[2] = {&parsed.sent, &parsed.received};
    if (key.rfind(kSentPrefix, 0) == 0) {
      key.erase(0, sizeof kSentPrefix - 1);
      targets[1] = nullptr;
    } else if (key.rfind(kReceivedPrefix, 0) == 0) {
      key.erase(0, sizeof kReceivedPrefix - 1);
      targets[0] = nullptr;
    }
    if (!ApplyShare(key, value, targets, error)) return false;
  }
  for (const FrameFaults* direction : {&parsed.sent, &parsed.received}) {
    const std::string problem = CheckFrameFaults(*direction);
    if (!problem.empty()) {
      *error = std::string(direction == &parsed.sent ? "sent" : "received") + ": " + problem;
      return false;
    }
  }
  *faults = parsed;
  return true;
}

std::string DescribeBusFaults(const BusFaults& faults) {
  if (!faults.any()) return "no faults";
  const std::string sent = DescribeDirection(faults.sent);
  const std::string received = DescribeDirection(faults.received);
  const std::string seed = ", seed " + std::to_string(faults.seed);
  if (sent == received) return sent + " both ways" + seed;
  std::string text;
  if (!sent.empty()) text += "sent: " + sent;
  if (!received.empty()) text += std::string(text.empty() ? "" : "; ") + "received: " + received;
  return text + seed;
}
