#include "live/plotter_enables.h"

#include <bitset>

namespace quor::tessera::diagnostics {

void PlotterEnables::ProcessUri(const utility::ParameterMap& params) {
  const int32_t channels = utility::LookupIntValue(params, "channels", -1);
  if (channels < 0) return;
  mask_ = channels;
  count_ = static_cast<int32_t>(std::bitset<32>(static_cast<uint32_t>(channels)).count());
}

}  // namespace quor::tessera::diagnostics
