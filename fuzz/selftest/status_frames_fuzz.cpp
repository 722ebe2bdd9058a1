// Feeds arbitrary status frames to the self-test of a device of every family: the capture (its
// slot tables and raw captures), the descramblers, the signal decoders and the report text.
// The frames arrive pass after pass as a session filtered for the device would hand them over:
// IDs near the device's own or of any bits, any length 0-8, in any order. The device's own
// record (number, firmware version, configuration image the report shows) comes from the input
// too. The text is then cut into a buffer of the input's size, exactly allocated.
#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "device/can_frame_layer.h"
#include "device/device_record.h"
#include "device/error_codes.h"
#include "fuzz/support/fuzz_input.h"
#include "selftest/self_test.h"
#include "selftest/status_frame_source.h"

namespace {

struct Family {
  uint8_t deviceType;
  uint8_t apiClass;  // of the key the engine files the device under
  const char* model;
};

// The families the self-test knows, and one it does not.
constexpr Family kFamilies[] = {
    {2, 0x3F, "Kestrel KX"}, {2, 0x3F, "Kestrel KF"}, {1, 0x3F, "Harrier HX"},
    {2, 0x3D, "Wren"},       {21, 0x3F, "Wren"},      {3, 0x3F, "CANtap"},
    {5, 0x3F, "CANdial"},    {8, 0x3F, "PDP"},        {9, 0x3F, "PCM"},
    {11, 0x3F, "MONSOON"},
};

constexpr uint32_t kManufacturer = 4u << 16;

void check(bool condition) {
  if (!condition) __builtin_trap();
}

// What a session filtered for the device delivers, a batch per pass.
class ScriptedFrames : public StatusFrameSource {
 public:
  ScriptedFrames(fuzz_support::FuzzInput& input, uint32_t familyBits)
      : input_(input), familyBits_(familyBits) {}

  void Open(uint8_t filterMode, uint32_t deviceNumber) override {
    filter_ = CAN_FilterForMode(filterMode, deviceNumber);
    open_ = true;
  }
  void Close() override { open_ = false; }
  void Receive(int) override {
    check(open_);
    // A pass: how many frames, then each as a byte whose low bit says whether a whole ID
    // follows (else the low 16 bits beside the family's), the ID, the length 0-8 and the data.
    const uint32_t count = input_.upTo(120);
    for (uint32_t i = 0; i < count && !input_.empty(); ++i) {
      _CAN_MessageEvent frame{};
      frame.identifier = input_.flag() ? input_.u32() & 0x1FFFFFFF : familyBits_ | input_.u16();
      frame.length = static_cast<uint8_t>(input_.upTo(8));
      const std::vector<uint8_t> data = input_.bytes(frame.length);
      if (!data.empty()) std::memcpy(frame.data, data.data(), data.size());
      frame.flags = kCanFlagExtended;
      if ((frame.identifier & filter_.mask) == (filter_.id & filter_.mask) &&
          queued_.size() < kCanRxRingSize)
        queued_.push_back(frame);
    }
  }
  const _CAN_MessageEvent* Front() override { return queued_.empty() ? nullptr : &queued_.front(); }
  void Pop() override {
    check(!queued_.empty());
    queued_.pop_front();
  }

 private:
  fuzz_support::FuzzInput& input_;
  const uint32_t familyBits_;
  CanFilter filter_{};
  bool open_ = false;
  std::deque<_CAN_MessageEvent> queued_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_support::FuzzInput input(data, size);
  const Family& family = kFamilies[input.upTo(std::size(kFamilies) - 1)];
  const uint32_t number = input.upTo(63);
  _Device device;
  device.descriptor.arbId =
      (static_cast<uint32_t>(family.deviceType) << 24) | kManufacturer | (family.apiClass << 10) | number;
  std::strcpy(device.descriptor.model, family.model);
  std::strcpy(device.descriptor.name, family.model);
  device.firmwareMajor = input.byte();
  device.firmwareMinor = input.byte();
  const std::vector<uint8_t> image = input.bytes(input.upTo(ConfigByteArray::kMaxBytes));
  if (!image.empty()) std::memcpy(device.config->data, image.data(), image.size());
  device.config->length = static_cast<uint32_t>(image.size());
  const int capacity = static_cast<int>(input.upTo(8091)) + 1;

  ScriptedFrames frames(input, (static_cast<uint32_t>(family.deviceType) << 24) | kManufacturer);
  std::string text;
  const int result = quor::tessera::diagnostics::BuildSelfTestText(&device, frames, text);
  check(result <= 0);
  check(text.find("Press \"Refresh\" to close.") != std::string::npos);
  std::vector<char> buffer(static_cast<size_t>(capacity));
  quor::tessera::diagnostics::CopySelfTestText(text, buffer.data(), capacity);
  check(std::memchr(buffer.data(), '\0', buffer.size()) != nullptr);
  return 0;
}
