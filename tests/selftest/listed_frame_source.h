#pragma once
// Self-test plumbing for tests: a frame source that hands over prepared frames through the
// receive filter the self-test opens (so a wrong filter loses frames as on the bus), and
// hand-made device records.
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "device/can_frame_layer.h"
#include "device/device_record.h"
#include "runtime/version.h"
#include "selftest/self_test.h"
#include "selftest/status_frame_source.h"

namespace selftest_test {

struct TestFrame {
  uint32_t id;
  std::vector<uint8_t> data;  // 8 bytes
};

// Batch i is received at the i-th Receive; later Receives bring nothing.
class ListedFrameSource : public StatusFrameSource {
 public:
  explicit ListedFrameSource(std::vector<std::vector<TestFrame>> batches)
      : batches_(std::move(batches)) {}

  void Open(uint8_t filterMode, uint32_t deviceNumber) override {
    filter_ = CAN_FilterForMode(filterMode, deviceNumber);
    ++opens_;
  }
  void Close() override {}
  void Receive(int) override {
    if (receives_ < batches_.size())
      for (const TestFrame& frame : batches_[receives_]) Queue(frame);
    ++receives_;
  }
  const _CAN_MessageEvent* Front() override {
    return next_ < queue_.size() ? &queue_[next_] : nullptr;
  }
  void Pop() override { ++next_; }

  size_t receives() const { return receives_; }
  int opens() const { return opens_; }

 private:
  void Queue(const TestFrame& frame) {
    if ((frame.id & filter_.mask) != (filter_.id & filter_.mask)) return;
    _CAN_MessageEvent event{};
    event.length = 8;
    std::memcpy(event.data, frame.data.data(), 8);
    event.identifier = frame.id;
    event.flags = kCanFlagExtended;
    queue_.push_back(event);
  }

  std::vector<std::vector<TestFrame>> batches_;
  std::vector<_CAN_MessageEvent> queue_;
  size_t next_ = 0;
  size_t receives_ = 0;
  int opens_ = 0;
  CanFilter filter_{0, 0xFFFFFFFF};
};

inline _Device MakeDevice(uint32_t arbId, const char* model, const char* name, uint8_t major,
                          uint8_t minor) {
  _Device device;
  device.descriptor.arbId = arbId;
  std::strncpy(device.descriptor.model, model, sizeof device.descriptor.model - 1);
  std::strncpy(device.descriptor.name, name, sizeof device.descriptor.name - 1);
  device.firmwareMajor = major;
  device.firmwareMinor = minor;
  return device;
}

// The footer every self-test text ends with; only the build stamp comes from the build.
inline std::string Footer() {
  namespace version = quor::tessera::diagnostics::version;
  return "\nBuild:" + version::GetBuildDate() + " " + version::GetBuildTime() +
         "\nPress \"Refresh\" to close.\n";
}

struct SelfTestRun {
  int code;
  std::string text;
};

// The whole self-test text of `device` when it sends `frames` (all in the first pass).
inline SelfTestRun RunSelfTest(const _Device& device, std::vector<TestFrame> frames) {
  ListedFrameSource source({std::move(frames)});
  SelfTestRun run{};
  run.code = quor::tessera::diagnostics::BuildSelfTestText(&device, source, run.text);
  return run;
}

}  // namespace selftest_test
