#include "sim/ribbon_status_relay.h"

#include "sim/family_traits.h"
#include "sim/sim_device.h"
#include "sim/status_wire.h"

namespace quor::tessera::sim {

void RibbonStatusRelay::sendFrame(const CanStreamMessage& frame) {
  if (host_ == nullptr) {
    bus_.sendFrame(frame);
    return;
  }
  CanStreamMessage relayed = frame;
  relayed.messageID = wire::MakeStatusId(TraitsOf(host_->attributes().family).deviceType,
                                         frame.messageID, host_->attributes().deviceNumber);
  bus_.sendFrame(relayed);
}

}  // namespace quor::tessera::sim
