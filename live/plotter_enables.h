#pragma once
// Which plot channels are recorded: the channel mask of the latest "plot" request that gave
// one, and how many bits it has set (which sizes the point buffer).
#include <cstdint>

#include "server/request_parameters.h"

namespace quor::tessera::diagnostics {

class PlotterEnables {
 public:
  static constexpr int32_t kInitialMask = 3;

  int32_t Mask() const { return mask_; }
  int32_t Count() const { return count_; }

  // "channels" read as an integer: a value of 0 or more becomes the mask; an absent or negative
  // one leaves the enables as they are.
  void ProcessUri(const utility::ParameterMap& params);

 private:
  int32_t mask_ = kInitialMask;
  int32_t count_ = 2;  // bits set in the mask
};

}  // namespace quor::tessera::diagnostics
