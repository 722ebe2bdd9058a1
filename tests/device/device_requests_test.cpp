// Waiting for a device's answer on a loaded machine: the waiting thread may be held up past its
// deadline while the answer already sits in its CAN session. The engine's clock is driven so the
// hold-up happens at one exact point, between the processing step that sent the request and the
// look at the deadline; the answer arrives during it. Every wait of the engine runs through the
// same loop.
#include <gtest/gtest.h>

#include <vector>

#include "canmux/can_mux.h"
#include "device/can_frame_layer.h"
#include "device/engine_wire.h"
#include "device/iso15_adapter.h"
#include "device/quor_device_interface.h"
#include "tests/support/bus_recorder.h"
#include "tests/support/driven_engine_clock.h"
#include "tests/support/wait_until.h"

namespace {

constexpr uint32_t kDevice = 0x0204FC01;  // a Kestrel KX at its own address
constexpr uint32_t kRequestId = engine_id::RequestId(kDevice);
constexpr uint32_t kAnswerId = engine_id::AnswerId(kRequestId);
constexpr int kAnswerWait_ms = 20;
constexpr int64_t kHeldUp_ns = 1000000000;  // far past the answer wait

TEST(WaitForAnswer, AnAnswerThatArrivedWhileTheThreadWasHeldUpIsTaken) {
  struct Case {
    const char* name;
    bool deviceAnswers;
    int expected;
  };
  const Case cases[] = {{"answer waiting in the session", true, 1}, {"no answer", false, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tessera_test::BusRecorder bus;
    QuorDeviceInterface engine;
    CANDeviceInterface1::DeviceDescriptor& device =
        engine.InsertFoundDevice(kDevice, kDevice)->descriptor;
    // What this session holds, the engine's session holds: both are filled in one pass.
    uint32_t watchSession = 0;
    int32_t status = 0;
    FRC_NetworkCommunication_CANSessionMux_openStreamSession(&watchSession, kAnswerId, 0x1FFFFFFF,
                                                             4, &status);
    ASSERT_EQ(status, 0);
    // Held up right after the step that sent the request, while the answer (if any) arrives.
    tessera_test::DrivenEngineClock clock(
        bus.Bus(), [](const CanStreamMessage& frame) { return frame.messageID == kRequestId; },
        kHeldUp_ns, [&] {
          if (!c.deviceAnswers) return;
          bus.Inject(kAnswerId, {0x03, 0xFB, 0x01, 0x00, 0xAA, 0xAA, 0xAA, 0xAA});
          EXPECT_TRUE(tessera_test::WaitUntil([&] {
            CanStreamMessage frame{};
            uint32_t read = 0;
            int32_t readStatus = 0;
            FRC_NetworkCommunication_CANSessionMux_readStreamSession(watchSession, &frame, 1,
                                                                     &read, &readStatus);
            return read == 1;
          })) << "the answer reached the sessions";
        });

    CAN_Init(frame_filter::kAllDevices, 0);
    _Iso15765_t iso;
    uint8_t buffer[64];
    engine.SetupIso(&iso, buffer, sizeof buffer, &device);
    const uint8_t request[] = {request_code::kStatus};
    Iso15Adap_Tx(&iso, request, sizeof request, 0);
    const int result = engine.WaitForIso15(&iso, kAnswerWait_ms * 1e6, &device,
                                           resp_flag::kStatus, 100);
    CAN_DeInit();
    FRC_NetworkCommunication_CANSessionMux_closeStreamSession(watchSession);

    EXPECT_EQ(clock.jumps(), 1);
    EXPECT_EQ(result, c.expected);
    EXPECT_EQ((device.respFlags & resp_flag::kAppRunning) != 0, c.deviceAnswers);
    EXPECT_EQ(bus.framesWithId(kRequestId).size(), 1u) << "asked once";
  }
}

}  // namespace
