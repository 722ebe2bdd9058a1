// Feeds raw CAN frames to the engine's receive path as a device, or anyone on the bus, could
// send them: any ID, any length 0-8, any order. Each frame goes through the frame layer's
// session and receive ring into an ISO-15765 instance set up by the engine for a device of the
// input's choosing, and every message it completes into the answer dispatcher, which fills the
// device table; the dynamic-ID server reads the same frames from its own session. Now and then
// the instance sends (a broadcast, a long request) so flow control and time-outs are reached.
// Afterwards the table is listed and every device named, as a refresh would.
#include <cstdint>
#include <cstring>
#include <vector>

#include "device/can_frame_layer.h"
#include "device/iso15_adapter.h"
#include "device/quor_device_interface.h"
#include "fuzz/support/fuzz_input.h"
#include "fuzz/support/scripted_bus.h"

namespace {

constexpr uint16_t kRxCapacity = 5000;  // the largest buffer an engine operation gives
constexpr uint8_t kPresenceRequest[] = {0x3E, 0x00};
constexpr uint8_t kLongRequest[20] = {0xC4, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

enum Control : uint8_t {
  kFullId = 0x01,        // an ID of any bits; else one near the addressed device
  kTick = 0x02,          // run the transport's 1 ms ticks after the frame
  kSendBroadcast = 0x04,
  kSendLong = 0x08,      // a multi-frame request, which waits for flow control
  kTickMany = 0x10,      // let the time-outs run out
  kReaddress = 0x20,     // set the instance up again for the device of the last answer
};

void check(bool condition) {
  if (!condition) __builtin_trap();
}

bool terminated(const char* text, size_t size) { return std::memchr(text, '\0', size) != nullptr; }

// A frame: its ID (of any bits, or the low 16 bits beside the addressed device's upper ones),
// its length 0-8 and that many data bytes.
CanStreamMessage nextFrame(fuzz_support::FuzzInput& input, uint8_t control, uint32_t near) {
  CanStreamMessage frame{};
  frame.messageID = (control & kFullId) ? input.u32() & 0x1FFFFFFF : (near & ~0xFFFFu) | input.u16();
  frame.dataSize = static_cast<uint8_t>(input.upTo(8));
  const std::vector<uint8_t> data = input.bytes(frame.dataSize);
  if (!data.empty()) std::memcpy(frame.data, data.data(), data.size());
  return frame;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_support::FuzzInput input(data, size);
  fuzz_support::ResetBus();
  QuorDeviceInterface engine;
  CAN_Init(1, 0);  // the filter device operations open

  QuorDeviceInterface::DeviceDescriptor addressed{};
  // The device the instance is addressed to, on its own number or a dynamic one.
  addressed.arbId = input.u32() & 0x1FFFFFFF;
  const uint32_t dynamicId = input.u32() & 0x1FFFFFFF;
  addressed.dynamicId = input.flag() ? dynamicId : addressed.arbId;
  std::vector<uint8_t> buffer(kRxCapacity);
  _Iso15765_t iso;
  engine.SetupIso(&iso, buffer.data(), kRxCapacity, &addressed, input.byte());

  bool offerSent = false;
  int frames = 0;
  while (!input.empty() && frames++ < 2000) {
    const uint8_t control = input.byte();
    if (control & kSendBroadcast) Iso15Adap_Tx(&iso, kPresenceRequest, sizeof kPresenceRequest, 1);
    if (control & kSendLong) Iso15Adap_Tx(&iso, kLongRequest, sizeof kLongRequest, 0);
    const CanStreamMessage frame = nextFrame(input, control, addressed.arbId);
    engine.DhcpServer().HandleFrame(frame, offerSent);
    fuzz_support::PutOnBus(frame);
    Iso15Adap_Process(&iso, engine.GetStratgy(), &QuorDeviceInterface::ProcessIsoRx_s, &engine);
    check(iso.rxPosition <= iso.rxCapacity && iso.messageSize <= iso.rxCapacity);
    check(CAN_RX_GetCount() <= kCanRxRingSize);
    if (control & kTick) Iso15Adap_Process1Ms(&iso);
    if (control & kTickMany) {
      for (int tick = 0; tick <= kIsoTimeoutTicks; ++tick) Iso15Adap_Process1Ms(&iso);
    }
    if ((control & kReaddress) && !engine.Devices().empty()) {
      addressed = engine.Devices().rbegin()->second->descriptor;
      engine.SetupIso(&iso, buffer.data(), kRxCapacity, &addressed);
    }
  }

  for (const auto& [key, device] : engine.Devices()) {
    engine.UpdateDevName(*device);
    const auto& d = device->descriptor;
    for (const char* text : {d.name, d.model, d.currentVers, d.hardwareRev, d.vendor,
                             d.bootloaderRev, d.manDate, d.softStatus, d.serialNo})
      check(terminated(text, CANDeviceInterface1::kDescriptorTextSize));
    check(terminated(device->customName, kDeviceLongTextSize));
    check(terminated(device->secondText, kDeviceLongTextSize));
    check(device->config->length <= ConfigByteArray::kMaxBytes);
    ConfigByteArray image;
    engine.getConfigParameters(&d, image);
    check(image.length <= ConfigByteArray::kMaxBytes);
  }
  QuorDeviceInterface::DeviceDescriptor list[64];
  check(engine.getListOfDevices(list, 64) <= 64);
  CAN_DeInit();
  return 0;
}
