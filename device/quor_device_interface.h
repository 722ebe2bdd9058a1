#pragma once
// The CAN device engine: the table of every device heard on the bus, the discovery round that
// fills it, the information and status polls, the answer dispatcher and the device listing.
// Every public operation except ErrToString, GetTime, FlagReceived, Process20Ms,
// checkUpdateProgress and getConfigParameters runs under the device-interface lock (taken by
// ImplDeviceInterface), so the table, the frame layer and the timing values below are touched by
// one thread at a time.
//
// getConfigParameters reads without that lock, so that a configuration can be read while a long
// operation (a firmware upgrade) holds it. It touches only what the table lock guards: the
// table's shape (entries added, removed, re-keyed) and each device's last whole image.
// checkUpdateProgress reads only the atomic state and progress.
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/can_dhcp_server.h"
#include "device/can_id.h"
#include "device/device_descriptor.h"
#include "device/device_record.h"
#include "device/iso15765.h"
#include "runtime/cs.h"

namespace quor::tessera::runtime {
class Event;
}

using DeviceMap = std::map<uint32_t, std::unique_ptr<_Device>>;  // key = base arbitration ID

// respFlags bits (one per kind of answer received).
namespace resp_flag {
constexpr uint32_t kInfo = 1u << 0;                 // 0xF0 parsed
constexpr uint32_t kF9 = 1u << 1;
constexpr uint32_t kF7 = 1u << 2;
constexpr uint32_t kCommandAck = 1u << 3;           // 0x0C, 0x0D, 0xF1
constexpr uint32_t kAppCheck = 1u << 4;             // 0xF5
constexpr uint32_t kAppFlashed = 1u << 5;           // 0xF5 with a nonzero first data byte
constexpr uint32_t kF8 = 1u << 6;
constexpr uint32_t kStatus = 1u << 7;               // 0xFB
constexpr uint32_t kAppRunning = 1u << 8;
constexpr uint32_t kFD = 1u << 9;
constexpr uint32_t kAppCheckExtra = 1u << 10;
constexpr uint32_t kCustomNameSupported = 1u << 11;
constexpr uint32_t kName = 1u << 12;                // 0x08
constexpr uint32_t kSecondText = 1u << 13;          // 0x0A
constexpr uint32_t kNameStored = 1u << 14;          // 0x07
constexpr uint32_t kCustomNameInUse = 1u << 15;
constexpr uint32_t kConfigReadable = 1u << 16;
constexpr uint32_t kConfigReceived = 1u << 17;
constexpr uint32_t kConfigWriteAck = 1u << 18;      // 0x04, 0x05 03
constexpr uint32_t kRivuduvozRoleA = 1u << 20;
constexpr uint32_t kRivuduvozRoleB = 1u << 21;
constexpr uint32_t kRivuduvozClient = 1u << 22;
constexpr uint32_t kOF = 1u << 23;
constexpr uint32_t kPresenceAgain = 1u << 24;       // 0x7E from a device already known
constexpr uint32_t kClearAck = 1u << 25;            // 0x05 00 / 0x05 01
}  // namespace resp_flag

// pollFlags bits.
namespace poll_flag {
constexpr uint32_t kInfoParsed = 1u << 0;
constexpr uint32_t kStatusObtained = 1u << 1;
}  // namespace poll_flag

// True when the device's firmware can hand out its configuration: four-part versions, or a
// firmware major of 4 or more other than 10.
bool ShouldWeRetrieveConfigs(const _Device* device, const CANDeviceInterface1::DeviceDescriptor* descriptor);
// Cuts a text of 64 or more characters to 63.
void CapStringLen(std::string& text);

class QuorDeviceInterface {
 public:
  using DeviceDescriptor = CANDeviceInterface1::DeviceDescriptor;
  using Event = quor::tessera::runtime::Event;

  enum EngineState : int32_t {
    kIdle = 0,
    kBroadcast = 1,
    kPolling = 2,
    // The field upgrade's stages.
    kUpgradeEnteringBootloader = 3,
    kUpgradeWriting = 4,
    kUpgradeFinishing = 5,
    kDeviceCommand = 6,
  };

  static constexpr int kDefaultIsoSeparationTime_ms = 5;
  static constexpr int kDefaultMinIdleBusTime_us = 3000;
  static constexpr int kIsoSeparationTimeStep_ms = 1;
  static constexpr int kMinIdleBusTimeStep_us = 600;
  static constexpr int kPollWindowSize = 4;

  // Text of a QUOR_DI_ result code; unknown codes give "Invalid Error Code(<code>)".
  static std::string ErrToString(int32_t code);

  QuorDeviceInterface();
  ~QuorDeviceInterface();
  QuorDeviceInterface(const QuorDeviceInterface&) = delete;
  QuorDeviceInterface& operator=(const QuorDeviceInterface&) = delete;

  // --- the device table ---
  // The record for `id`, created (with the next found index) when it is new.
  _Device* InsertFoundDevice(uint32_t id, uint32_t dynamicId, int ignored = 0);
  static _Device* InsertFoundDevice(DeviceMap& devices, uint32_t id, uint32_t dynamicId,
                                    int ignored = 0);
  _Device* GetDevice(uint32_t id);
  DeviceDescriptor* GetDescriptor(uint32_t id);
  const DeviceMap& Devices() const { return devices_; }
  static bool FlagReceived(const uint32_t* flags, uint32_t mask);
  static int64_t GetTime();  // monotonic, ns
  // Where GetTime reads the time: the monotonic clock (nullptr), or a clock a test drives to
  // hold the waiting thread past a deadline or to let a long time-out pass at once.
  using Clock = int64_t (*)();
  static void SetClock(Clock clock);

  // --- discovery (one round per call) ---
  int getNumberOfDevices(const Event& cancel);
  int getNumberOfDynamicDevices(const Event& cancel);
  // The same round in two parts, for the locking front. The wait for the dynamic-ID server to
  // settle sends nothing, so it runs before the device-interface lock is taken. The round
  // itself, with the lock held, calls `yield` between two exchanges with a device so that the
  // requests waiting for the lock take their turn; a round whose yield was cancelled (the lock
  // is no longer held) touches nothing more and answers -800.
  using RoundYield = std::function<Cs::YieldResult()>;
  void WaitForSettledIds(const Event& cancel);
  int PolledRound(const Event& cancel, const RoundYield& yield);
  void SendLegacyTesterPresent();
  void SendVersionAndCompliancy();
  // After a long device operation: ask for no separation and no idle pauses, and have the
  // Rivuduvoz clients polled afresh. Each discovery round walks the values back.
  void CrankMaxPerformance();
  void ClearRivuduvozFlags();
  // The same for an operation that ends without the device-interface lock (a self-test): the
  // next operation that holds it applies the crank before it uses the timing values.
  void RequestCrank() { crankRequested_ = true; }
  // One step of the dynamic-ID server; the worker thread calls it every 20 ms.
  void Process20Ms();

  // --- talking to one device ---
  // Addresses an ISO-15765 instance to the device (through its dynamic ID when it has one).
  // A negative separation time means the engine's.
  void SetupIso(_Iso15765_t* iso, uint8_t* buffer, uint16_t capacity,
                const DeviceDescriptor* descriptor, int separationTime_ms = -1);
  // Clears `mask` in respFlags, then processes the bus until every mask bit is set (1) or the
  // time-out passes (0); inside a discovery round also when the round is cancelled (0).
  int WaitForIso15(_Iso15765_t* iso, double timeout_ns, DeviceDescriptor* descriptor,
                   uint32_t mask, int step_us);
  void Spin(_Iso15765_t* iso, int64_t duration_ns);
  // The pause between two processing steps of the round's listen: `step_us` while the
  // transport has something in flight (its ticks count passes, so they keep their pace); while
  // it is quiet only a frame can give the next step work, so until frames come or `until_ns`
  // (monotonic), looking at the cancel signal now and then. (Waits for an answer keep their
  // fixed steps: answering faster moves a round's polls against the dynamic-ID server's table
  // rebuild, whose answers it drops.)
  void PauseAfterStep(const _Iso15765_t* iso, int step_us, int64_t until_ns);
  int SpinAndCheckTxEmpty(_Iso15765_t* iso, int64_t duration_ns);
  int PollInfoForDevice(_Iso15765_t* iso, uint8_t* buffer, uint16_t capacity,
                        DeviceDescriptor* descriptor, const Event& cancel);
  void BuildSoftwareStatus(_Iso15765_t* iso, uint8_t* buffer, uint16_t capacity,
                           DeviceDescriptor* descriptor);
  int GetStratgy() const;
  void usleep_minIdleBusTimeUs();

  // --- answers ---
  // The dispatcher of every complete ISO-15765 message from a device.
  // The device this engine last addressed on `dynamicId` (its descriptor's dynamicId), when
  // exactly one record holds it.
  bool DeviceOnDynamicId(uint32_t dynamicId, uint32_t& deviceId) const;
  void ProcessIsoRx(uint32_t nodeId, const uint8_t* message, uint32_t length);
  static void ProcessIsoRx_s(uint32_t nodeId, const uint8_t* message, uint16_t length, void* user);
  // Parses an information record (0xF0) into the device's descriptor.
  void UpdateInfo(_Device* device, uint32_t id, const uint8_t* message, uint32_t length,
                  const _DecodedHeader& header);
  void FillModelAndDevName(_Device& device, uint8_t deviceType, uint32_t modelCode,
                           uint8_t hardwareMajor, uint8_t hardwareMinor, uint8_t baseboardMajor,
                           uint8_t baseboardMinor);
  void FillVendor(_Device& device, uint8_t deviceType);
  int UpdateDevName(_Device& device);

  // --- one-shot commands on one device (the caller's descriptor names it by arbId) ---
  // Gives the device number `newDeviceNumber` (0..62); on success the caller's descriptor is
  // overwritten with the re-keyed device's.
  int assignDeviceID(DeviceDescriptor* descriptor, unsigned newDeviceNumber);
  // Stores a custom name (at most 197 bytes; empty clears it) and reads it back.
  int saveDeviceName(DeviceDescriptor* descriptor, const char* name);
  // Blinks the LED, then clears sticky faults: 1 when the device confirmed the clear.
  int saveLightLed(const DeviceDescriptor* descriptor, bool on);
  int factoryDefault(const DeviceDescriptor* descriptor);
  int enterCalibration(const DeviceDescriptor* descriptor, int calibrationType);
  // Captures the device's status frames and writes its self-test text into `text` (cut to
  // `capacity`, NUL-terminated). Built with the reports, in selftest/. It only listens, on a
  // session of its own, and reads the engine through SelfTestSubject: it needs no
  // device-interface lock.
  int selfTest(const DeviceDescriptor* descriptor, char* text, int capacity);
  // A copy of what a self-test reads of the device `listed` names (false when the table does
  // not hold it): the name, model and number as listed, and, under the table lock, the firmware
  // version and the last whole configuration image.
  bool SelfTestSubject(const DeviceDescriptor& listed, _Device& subject) const;
  int ClearAllStickyFaults(_Device* device);
  // Files the device under its new number; returns the old key.
  uint32_t fixupDeviceDescriptor(DeviceDescriptor* descriptor, unsigned newDeviceNumber);

  // --- Rivuduvoz clients (devices answering through another device's alternate channel) ---
  _Device* findRivuduvozServer(uint32_t id);
  int RivuduvozClient_StatusUpdate(DeviceDescriptor& descriptor, bool present,
                                   const Event& cancel);

  // --- configuration ---
  // The device's last whole image from a refresh or a write's read-back; no bus traffic and no
  // device-interface lock. -101 unknown device, -128 no whole image yet.
  int getConfigParameters(const DeviceDescriptor* descriptor, ConfigByteArray& out);
  // Writes `image` to the device, waits for its acknowledgement, reads the image back and copies
  // what the engine then holds into `readBack`. -114 image too large for the request, -101
  // unknown device, -125 no configuration support, -102 no answer, -133 write not acknowledged.
  int saveConfigParameters(const DeviceDescriptor* descriptor, const ConfigByteArray& image,
                           ConfigByteArray& readBack);

  // --- field upgrade (the caller's descriptor names the device by arbId) ---
  // Writes the BFL file `file` into the device; the message is empty on success, else the
  // device's name and the error text, cut to messageSize - 1 characters.
  int updateFirmware(const DeviceDescriptor* descriptor, const unsigned char* file,
                     unsigned length, char* message, int messageSize);
  // The procedure itself, without the message and the throttle reset.
  int updateFirmware2(const DeviceDescriptor* descriptor, const unsigned char* file,
                      unsigned length, char* message, int messageSize);
  // One sector as a single 0xB1 request (0 or -106).
  int sendSector1(DeviceDescriptor* descriptor, _Iso15765_t* iso, uint8_t* request,
                  uint32_t requestSize, uint32_t address, const uint8_t* payload,
                  uint32_t length);
  // One sector in 0xCC parts and a 0xCD commit, each resent once after a pause (0 or -106).
  int sendSector2(DeviceDescriptor* descriptor, _Iso15765_t* iso, uint8_t* request,
                  uint32_t requestSize, uint32_t address, const uint8_t* payload,
                  uint32_t length);
  // 0, or -112 when the bootloader reported a minimum the file's version does not reach.
  int checkBflCompatibility(const DeviceDescriptor* descriptor, const _Device* device,
                            uint16_t fileVersion) const;
  // Without the device-interface lock: readable while an upgrade holds it. An accepted upgrade
  // counts as in progress (at 0 %) while it still waits to start.
  void checkUpdateProgress(int* percent, bool* inProgress) const;
  // From its acceptance (before it waits for the lock) to EndUpgrade an upgrade counts as
  // running, so a second one is refused. False when one is accepted already.
  bool AcceptUpgrade();
  void EndUpgrade();
  bool UpgradeAccepted() const { return upgradeAccepted_.load(); }
  // While stopped, a running upgrade ends at its next sector boundary (or before the erase)
  // with -137, and an upgrade that has not sent anything yet is refused with it.
  void StopUpgrades(bool stop) { upgradesStopped_.store(stop); }
  bool UpgradesStopped() const { return upgradesStopped_.load(); }
  // The message updateFirmware answers with: empty for 0, else "<name> : <error text>".
  static void WriteUpdateMessage(const DeviceDescriptor* named, int result, char* message,
                                 int messageSize);
  int32_t GetLastUpdateResult() const { return lastUpdateResult_; }

  // --- listing ---
  int getListOfDevices(DeviceDescriptor* list, int capacity);
  int ValidateDescriptor() const { return 1; }
  void fixupForGui(DeviceDescriptor*) const {}

  CanDhcpServer& DhcpServer() { return dhcp_; }
  int32_t GetState() const { return state_; }
  int32_t GetPollWindowStart() const { return pollWindowStart_; }
  // The timing values as the next exchange uses them (a requested crank applied first).
  int GetIsoSeparationTime();
  int GetMinIdleBusTimeUs();

 private:
  // One processing step of the adapter with this engine's dispatcher, and the 1 ms tick when due.
  void ProcessIsoStep(_Iso15765_t* iso, int64_t& tickReference_ns);
  enum class WaitEnd { kDone, kCancelled, kTimedOut };
  // Processing steps, each followed by `pause(deadline_ns)`, until `done()` holds, the round in
  // progress is cancelled, or `duration_ns` has passed; then one last step before a time-out.
  template <typename Done, typename Pause>
  WaitEnd ProcessUntil(_Iso15765_t* iso, int64_t duration_ns, Done done, Pause pause);
  // Processing steps until `done()` holds (true), or the time passes or the round in progress
  // is cancelled first (false).
  bool SpinUntil(_Iso15765_t* iso, int64_t duration_ns, const std::function<bool()>& done);
  // Sends a request to the device after the idle pause and waits for the answer's bits.
  bool RequestAndWait(_Iso15765_t* iso, uint8_t* buffer, uint16_t capacity,
                     DeviceDescriptor* descriptor, const uint8_t* request, uint16_t length,
                     uint32_t mask, int timeout_ms);
  // The presence broadcast of a round and the listening after it.
  void BroadcastPresence(_Iso15765_t* iso);
  // Polls the round's window of devices; 0, or the code that ends the round.
  int PollWindow(_Iso15765_t* iso, uint8_t* buffer, uint16_t capacity, const Event& cancel);
  int PollDevice(_Device& device, _Iso15765_t* iso, uint8_t* buffer, uint16_t capacity,
                 const Event& cancel);
  // The dynamic ID to poll the device `key` under; a settled dynamic-ID server that lacks it is
  // asked for the devices' reports again first. False when it is still unknown.
  bool FindDynamicId(_Iso15765_t* iso, uint32_t key, uint32_t& dynamicId);
  void ReadCustomName(_Device& device, _Iso15765_t* iso, uint8_t* buffer, uint16_t capacity);
  // Asks for the image (the request of the device's firmware generation), waits for it, and
  // hands out what arrived whole; true when it did.
  bool ReadConfiguration(_Device& device, _Iso15765_t* iso, uint8_t* buffer, uint16_t capacity);
  // Makes the device's image, if it arrived whole (with its model's length and format marker),
  // the one getConfigParameters hands out; true when it did.
  bool PublishConfiguration(_Device& device);
  // Sends the image, keeping the separation time the device asks for between its frames, and
  // waits for the acknowledgement from the moment the last frame has left; 0 or -133.
  int WriteConfiguration(_Iso15765_t* iso, _Device& device, const ConfigByteArray& image);
  // Processing steps, `step_us` apart, until the message being sent has left whole (transport
  // idle, transmit ring empty), releasing each paced frame when its separation time has passed;
  // false when the device gave no flow control, or the transfer outlasted what `frames` frames
  // may take.
  bool SendWholeMessage(_Iso15765_t* iso, uint32_t frames, int step_us);
  void UpdateStatusText(_Device& device);
  void ApplyCustomName(_Device& device);
  // 0, or the code that ends the round.
  int UpdateRivuduvozRole(_Device& device, const Event& cancel);
  // After a device's polls: one that answered its status request is not marked stale.
  void KeepAnsweringDeviceListed(_Device& device);
  void StalePass();
  // Opens the frame layer, finds the device and checks that it answers; 0 or an error code.
  int BeginCommand(const DeviceDescriptor* descriptor, _Device*& device, _Iso15765_t* iso,
                   uint8_t* buffer, uint16_t capacity);
  int EndCommand(int result);
  int PresenceCheck(_Iso15765_t* iso, uint8_t* buffer, uint16_t capacity, _Device& device);
  // True when the message went out and every mask bit arrived within the time-out, counted from
  // the moment its last frame left.
  bool SendAndWait(_Iso15765_t* iso, DeviceDescriptor& descriptor, const uint8_t* message,
                   uint16_t length, uint32_t mask, int timeout_ms, int step_us = kCommandStep_us);
  // Sends a sector part (or commit); when its acknowledgement does not come, pauses and sends
  // it once more.
  bool SendPartWithRetry(_Iso15765_t* iso, DeviceDescriptor& descriptor,
                         const uint8_t* message, uint16_t length);
  // The two steps of a renumbering after the presence check; 0 or an error code.
  int RequestNewNumber(_Iso15765_t* iso, _Device& device, unsigned newDeviceNumber);
  int ConfirmNewNumber(_Iso15765_t* iso, uint8_t* buffer, uint16_t capacity, _Device& device,
                       unsigned newDeviceNumber, bool dynamic);
  _Device* Rekey(uint32_t oldKey, uint32_t newKey);
  // The round proper, after the wait for the dynamic-ID server.
  int RunRound(const Event& cancel);
  int EndRound(int result);
  // True when the round in progress was told to stop; waits inside a round end at once then.
  bool RoundCancelled() const;
  // Between two exchanges of a round: lets waiting requests have the lock (see PolledRound),
  // then opens the round's frame layer again if one did.
  enum class Turn { kNoneWaited, kOthersRan, kRoundEnds };
  Turn LetWaitingRequestsIn();
  // The same between two steps of a device's poll: go on, or leave the device for its next
  // round when a request renumbered it or took its dynamic ID (an upgrade), or end the round.
  enum class NextStep { kGoOn, kLeaveDevice, kEndRound };
  NextStep BetweenSteps(_Device& device, uint32_t key, const Event& cancel);

  // The upgrade procedure moves the state and the progress through its stages.
  friend class FieldUpgrade;
  static constexpr int kCommandStep_us = 3000;

  DeviceMap devices_;
  // Held by the locked thread while it changes the table's shape or a published image, and by
  // getConfigParameters while it looks one up and copies it.
  mutable std::mutex tableMutex_;
  // State and progress are read without the lock by checkUpdateProgress.
  std::atomic<int32_t> state_{kIdle};
  std::atomic<int32_t> updateProgress_{0};
  std::atomic<bool> upgradeAccepted_{false};
  std::atomic<bool> upgradesStopped_{false};
  int32_t lastUpdateResult_ = 0;
  int32_t pollWindowStart_ = 0;
  CanDhcpServer dhcp_;
  int isoSeparationTime_ms_ = kDefaultIsoSeparationTime_ms;
  int minIdleBusTime_us_ = kDefaultMinIdleBusTime_us;
  std::atomic<bool> crankRequested_{false};
  const Event* roundCancel_ = nullptr;  // the cancel signal of the round in progress
  // Set by the round's thread for the length of the round; read only on that thread.
  const RoundYield* roundYield_ = nullptr;
  bool roundLockLost_ = false;
  // While a round lets requests in, a device it may still hold is never destroyed: one that a
  // renumbering displaces from its key waits here until the round ends.
  bool roundInProgress_ = false;
  std::vector<std::unique_ptr<_Device>> retiredDuringRound_;
};
