#pragma once
// The dynamic CAN ID server. Devices without a configured number ask for a temporary "dynamic
// ID" (a device number on API class 0x3E); this server offers numbers, confirms the ones taken,
// and keeps the tables that translate between a device ID and the dynamic IDs it reported.
//
// Invariants:
//  - Process20Ms runs on one thread only (the device-interface worker); it alone touches the
//    state machine, counters, the next offer and the stream session.
//  - The two maps are read by device operations on other threads; every access holds lock_.
//  - A dynamic ID appears at most once in a device's list; the list's last entry is the one
//    reported most recently.
#include <atomic>
#include <cstdint>
#include <map>

#include "canmux/can_stream_message.h"
#include "runtime/cs.h"

namespace quor::tessera::runtime {
class Event;
}

class CanDhcpServer {
 public:
  // One step function each (StepFailed .. StepSettled). The session is open in every state
  // from kWaitForQuiet on: a failed read closes it and goes back to kFailed; a read that only
  // reports lost frames keeps it and asks the devices to report again.
  enum State : int32_t {
    kFailed = -1,
    kStart = 0,  // send the reset-all frame (1 and 2 are never entered)
    kOpenSession = 3,
    kWaitForQuiet = 4,
    kGetAll = 5,
    kSettling = 6,
    kSettled = 7,
  };

  static constexpr uint32_t kFirstOffer = 6;
  static constexpr uint32_t kOfferLimit = 63;            // offers run 0..62
  static constexpr uint32_t kQuietStepsBeforeRebuild = 60;  // > 1.2 s without requests
  static constexpr uint32_t kSettleSteps = 25;              // > 0.5 s without reports
  static constexpr uint32_t kFailedSteps = 25;              // back to the start after 26 steps
  static constexpr uint32_t kRecentRequestSteps = 3;
  static constexpr uint32_t kCounterLimit = 0xFFFF;
  static constexpr uint32_t kReadBatch = 64;

  CanDhcpServer() = default;
  ~CanDhcpServer();
  CanDhcpServer(const CanDhcpServer&) = delete;
  CanDhcpServer& operator=(const CanDhcpServer&) = delete;

  // One 20 ms step of the state machine.
  void Process20Ms();
  // Acts on one frame read from the session: request -> offer (at most one per step, tracked
  // in `offerSent`), accept of the current offer -> confirm, report -> tables. Public so the
  // protocol can be fed frames without a bus.
  void HandleFrame(const CanStreamMessage& frame, bool& offerSent);

  // Number of dynamic IDs known for a device ID; when nonzero, `out` = the newest one. A
  // class-0x3D (alternate channel) ID is looked up as its class-0x3F twin and answered in the
  // class-0x3C form.
  uint32_t LookupDynId(uint32_t deviceId, uint32_t& out);
  // Device ID of a dynamic ID; a class-0x3C ID is answered in the class-0x3D form.
  bool LookupDevId(uint32_t dynamicId, uint32_t& out);
  uint32_t GetDynamicIdCount(uint32_t deviceId);
  // A device changed its number: move its dynamic ID over to the new device ID.
  void IdChangeEvent(uint32_t oldDeviceId, uint32_t dynamicId, uint32_t newDeviceId);

  // 1 as soon as the machine is settled, checking up to 10 times 100 ms apart; else 0. A set
  // `cancel` signal ends the wait at once (0).
  int IsSettled(const quor::tessera::runtime::Event* cancel = nullptr);
  void ReRequestDynList() { reRequest_ = true; }
  void ReleaseAll() { release_ = true; }
  bool ReleasePending() const { return release_; }
  void ArmEvent() { event_ = false; }
  bool EventSet() const { return event_; }
  // 0 when a report was stored within `ms` (checked every 10 ms), -1 otherwise.
  int WaitForEvent(int ms);
  int SendGetAll();
  int SendResetAll();
  void ClearMaps();
  // How often the tables have been emptied: counts taken before a change here may include
  // dynamic IDs that are gone.
  uint32_t ClearCount() const { return clears_; }
  void StateTransition(State state) { state_ = state; }

  // Close the stream session and start again from the reset-all frame at the next step. Only
  // while no thread runs Process20Ms.
  void Restart();

  int32_t GetState() const { return state_; }
  uint32_t GetNextOffer() const { return nextOffer_; }

 private:
  static constexpr int kSettledChecks = 10;
  static constexpr int kSettledCheckInterval_ms = 100;
  static constexpr int kEventCheckInterval_ms = 10;

  // One step of the state machine; false when the step ends there, before the counters count
  // and the session is read.
  bool StepStateMachine();
  void StepFailed();
  void StepStart();
  void StepOpenSession();
  void StepWaitForQuiet();
  void StepGetAll();
  void StepSettling();
  void StepSettled();
  void EnterWaitForQuiet();
  void ReadSession();
  void StoreReport(uint32_t reportId, uint8_t reportedNumber);
  void CloseSession();
  static int SendFrame(uint32_t id, const uint8_t* data, uint8_t size);
  static void CountUp(uint32_t& counter);
  // Class-0x3D device IDs are filed under their class-0x3F twin.
  static uint32_t DeviceKey(uint32_t deviceId);

  std::map<uint32_t, uint32_t> dynamicToDevice_;
  std::map<uint32_t, std::map<uint32_t, uint32_t>> deviceToDynamics_;  // sequence -> dynamic ID
  uint32_t nextOffer_ = kFirstOffer;
  uint32_t sequence_ = 0;
  uint32_t sessionHandle_ = 0;
  int32_t status_ = 0;
  std::atomic<int32_t> state_{kStart};
  uint32_t retryCounter_ = 0;
  uint32_t quietCounter_ = 0;
  uint32_t settleCounter_ = 0;
  std::atomic<bool> reRequest_{false};
  std::atomic<bool> release_{false};
  std::atomic<bool> event_{false};
  std::atomic<uint32_t> clears_{0};
  Cs lock_;
  CanStreamMessage readBuffer_[kReadBatch] = {};
};
