// How fast frames and ISO-15765 messages move through the multiplexer and the virtual bus.
// Run: build/bench/canmux/bench_canmux --benchmark_repetitions=10
//        --benchmark_report_aggregates_only=true   (the medians are the figures to quote)
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "canmux/can_mux.h"
#include "canmux/virtual_bus.h"
#include "device/iso15_adapter.h"
#include "tests/support/iso_tp_test_peer.h"

namespace {

constexpr uint32_t kServerTxId = 0x0204F901;
constexpr uint32_t kServerRxId = 0x0204F941;
constexpr size_t kPeerWindowFrames = 48;

std::vector<uint8_t> pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i * 13);
  return bytes;
}

struct IsoLink {
  IsoLink() : bus(std::make_shared<VirtualBus>()) {
    CanMux_SetBackend(bus);
    peer = std::make_unique<IsoTpTestPeer>(*bus, kServerTxId, kServerRxId);
    CAN_Init(1, 0);
    Iso15Adap_Setup(&iso, rx.data(), static_cast<uint16_t>(rx.size()), 0, kServerRxId,
                    kServerTxId, 0);
  }
  ~IsoLink() {
    CAN_DeInit();
    peer.reset();
    CanMux_SetBackend(nullptr);
  }
  static void onMessage(uint32_t, const uint8_t*, uint16_t size, void* user) {
    static_cast<IsoLink*>(user)->receivedSize = size;
  }

  std::shared_ptr<VirtualBus> bus;
  std::unique_ptr<IsoTpTestPeer> peer;
  _Iso15765_t iso{};
  std::vector<uint8_t> rx = std::vector<uint8_t>(4096);
  size_t receivedSize = 0;
};

// Server transport to device: first frame, flow control back through the receive thread, then
// 585 consecutive frames.
void BM_Iso15765MessageServerToDevice(benchmark::State& state) {
  IsoLink link;
  const auto message = pattern(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    Iso15Adap_Tx(&link.iso, message.data(), static_cast<uint16_t>(message.size()), 0);
    while (Iso15765_GetTransmitStatus(&link.iso) == ISO15765_ERR_BUSY) {
      Iso15Adap_Process(&link.iso, 0, &IsoLink::onMessage, &link);
    }
    if (!link.peer->waitForMessage(std::chrono::milliseconds(1000))) {
      state.SkipWithError("the device did not receive the message");
      break;
    }
    link.peer->forgetFrames();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Iso15765MessageServerToDevice)->Arg(kIsoMaxMessageLength)->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Device to server transport: the device keeps at most 48 frames ahead of the 64-frame session
// queue, so every frame passes the receive thread and the frame layer.
void BM_Iso15765MessageDeviceToServer(benchmark::State& state) {
  IsoLink link;
  const auto message = pattern(static_cast<size_t>(state.range(0)));
  for (auto _ : state) {
    link.receivedSize = 0;
    link.peer->beginSend(message);
    while (link.receivedSize == 0) {
      Iso15Adap_Process(&link.iso, 0, &IsoLink::onMessage, &link);
      const size_t taken =
          link.iso.rxState == ISO15765_RX_CONSECUTIVE ? link.iso.rxPosition : 0;
      link.peer->sendStep(taken, kPeerWindowFrames);
    }
    link.peer->forgetFrames();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_Iso15765MessageDeviceToServer)->Arg(kIsoMaxMessageLength)->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// Frames injected on the bus, offered by the receive thread to a session, read back.
void BM_MultiplexerReceiveFrames(benchmark::State& state) {
  auto bus = std::make_shared<VirtualBus>();
  CanMux_SetBackend(bus);
  const uint32_t batch = static_cast<uint32_t>(state.range(0));
  uint32_t handle = 0;
  int32_t status = 0;
  FRC_NetworkCommunication_CANSessionMux_openStreamSession(&handle, 0x0204F900, 0x1FFFFFC0,
                                                           batch, &status);
  std::vector<CanStreamMessage> read(batch);
  CanStreamMessage frame{};
  frame.messageID = 0x0204F905;
  frame.dataSize = 8;
  for (auto _ : state) {
    for (uint32_t i = 0; i < batch; ++i) bus->inject(frame);
    uint32_t total = 0;
    while (total < batch) {
      uint32_t n = 0;
      FRC_NetworkCommunication_CANSessionMux_readStreamSession(handle, read.data(),
                                                               batch - total, &n, &status);
      total += n;
      if (n == 0) std::this_thread::yield();
    }
  }
  state.SetItemsProcessed(state.iterations() * batch);
  FRC_NetworkCommunication_CANSessionMux_closeStreamSession(handle);
  CanMux_SetBackend(nullptr);
}
BENCHMARK(BM_MultiplexerReceiveFrames)->Arg(10000)->UseRealTime()->Unit(benchmark::kMillisecond);

class CountingEndpoint : public VirtualBus::Endpoint {
 public:
  void onBusFrame(const CanStreamMessage&) override { ++frames; }
  std::atomic<uint64_t> frames{0};
};

// One-shot sends through the transmit hook to a device on the bus.
void BM_MultiplexerSendFrames(benchmark::State& state) {
  auto bus = std::make_shared<VirtualBus>();
  CanMux_SetBackend(bus);
  CountingEndpoint device;
  bus->attach(&device);
  const uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  int32_t status = 0;
  for (auto _ : state) {
    FRC_NetworkCommunication_CANSessionMux_sendMessage(0x0204F901, data, 8, 0, &status);
  }
  state.SetItemsProcessed(static_cast<int64_t>(device.frames.load()));
  bus->detach(&device);
  CanMux_SetBackend(nullptr);
}
BENCHMARK(BM_MultiplexerSendFrames)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
