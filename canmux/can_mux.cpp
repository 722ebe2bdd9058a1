#include "canmux/can_mux.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <sstream>
#include <system_error>
#include <thread>
#include <vector>

#include "canmux/backend_factory.h"
#include "canmux/bounded_ring.h"
#include "canmux/bus_trace.h"
#include "canmux/none_backend.h"
#include "canmux/periodic_table.h"
#include "canmux/time_stamp.h"
#include "runtime/diag_print.h"
#include "runtime/event.h"
#include "runtime/monotonic_clock.h"
#include "runtime/thread_name.h"

using quor::tessera::runtime::Event;

namespace {

constexpr int32_t kThreadFinishWait_ms = 200;
// After a failed receive the bus is asked again this much later, not in a busy loop.
constexpr int32_t kReceiveRetry_ms = 10;
constexpr char kBackendVariable[] = "TESSERA_CAN";
constexpr char kTraceVariable[] = "TESSERA_CAN_TRACE";

using quor::tessera::runtime::MonotonicNanos;

void logError(const std::string& text) {
  std::stringstream line;
  line << text;
  quor::tessera::diagnostics::LogStream(line, true);
}

// Puts the calling thread under the batch policy: woken, it waits for a free core or for the
// running thread to yield instead of taking the core from the thread that woke it. For the
// receive thread this matters: a frame put on the bus wakes it, and it would otherwise take
// over from the sender at every frame, so a device streaming a long message and a reader
// pulling it switch threads twice per frame. A refused policy change leaves the default.
void DoNotPreemptTheWaker() {
  const sched_param unchanged{};
  ::sched_setscheduler(0, SCHED_BATCH, &unchanged);
}

// One stream session: a filter and a bounded queue of matching frames.
struct Session {
  Session(uint32_t id, uint32_t idMask, uint32_t capacity)
      : messageId(id), mask(idMask), ring(capacity) {}
  const uint32_t messageId;
  const uint32_t mask;
  std::mutex lock;
  BoundedRing<CanStreamMessage> ring;
  bool overflowed = false;
  WakeSignal* wakeOnFrames = nullptr;  // raised when frames are queued
};

class CanMux {
 public:
  static CanMux& instance() {
    static CanMux mux;
    return mux;
  }

  ~CanMux() {
    backend()->setTakeFramesHook(nullptr);  // the backend may outlive the members it reaches
    dispose();
    trace_.close();
  }

  // Picks the backend and trace from the environment if nobody chose them, and starts the
  // threads if they are not running. False if a thread could not be started.
  bool ensureRunning();
  // Only the environment part of ensureRunning.
  void configure() {
    std::lock_guard<std::mutex> hold(creationLock_);
    configureFromEnvironment();
  }

  int32_t open(uint32_t* handle, uint32_t id, uint32_t mask, uint32_t maxMessages);
  void close(uint32_t handle);
  int32_t read(uint32_t handle, CanStreamMessage* messages, uint32_t toRead, uint32_t* read);
  bool wakeOnFrames(uint32_t handle, WakeSignal* wake);
  int32_t send(uint32_t id, const uint8_t* data, uint8_t size, int32_t period_ms);
  void dispose();

  void setBackend(std::shared_ptr<CanBackend> backend);
  std::shared_ptr<CanBackend> backend();
  bool setTrace(const std::string& path, std::string* error, bool markDirection);

 private:
  CanMux() = default;
  void configureFromEnvironment();
  // Lets `bus` hand arriving frames to takeArrivedFrames on its own thread.
  void takeFramesFrom(CanBackend& bus);
  bool takeArrivedFrames(CanBackend& bus);
  int32_t transmit(const std::shared_ptr<CanBackend>& backend, const CanStreamMessage& frame);
  void cancelPeriodic(uint32_t id);
  void stopThreads();
  void receiveLoop();
  // One receive pass: moves what the bus holds into the sessions. Returns the frames moved, or
  // -1 when the bus failed.
  int32_t pump(CanBackend& bus);
  // The same for a reader, unless the receive thread is at it (the reader never waits for it).
  void pumpIfIdle(CanBackend& bus);
  int32_t pumpLocked(CanBackend& bus);  // pumpLock_ held
  void deliver(const CanBackend& bus, const CanStreamMessage* frames, uint32_t count);
  void transmitLoop();
  bool waitUntilPeriodicDue();

  std::mutex creationLock_;  // configuration and thread start/stop
  bool backendChosen_ = false;
  bool traceChosen_ = false;
  std::atomic<bool> running_{false};
  std::thread receiveThread_;
  std::thread transmitThread_;
  Event stop_;
  Event receiveFinished_;
  Event transmitFinished_;

  std::mutex backendLock_;
  std::shared_ptr<CanBackend> backend_ = std::make_shared<NoneBackend>();

  // One receive pass at a time, by the receive thread or a reader, so frames reach the sessions
  // in bus order. Guards the two members after it.
  std::mutex pumpLock_;
  std::vector<CanStreamMessage> batch_ = std::vector<CanStreamMessage>(kCanMuxReceiveBatch);
  bool receiveFailing_ = false;  // logged once per run of failures, not on every attempt

  std::mutex sessionsLock_;
  std::map<uint32_t, std::unique_ptr<Session>> sessions_;  // in handle order
  uint32_t nextHandle_ = kCanMuxFirstSessionHandle;

  std::mutex periodicLock_;  // guards periodic_ and stopTransmit_
  PeriodicTable periodic_;
  // Wakes the transmit thread when an entry may fall due sooner than it planned, and on stop.
  std::condition_variable periodicChanged_;
  bool stopTransmit_ = false;
  // Held by the transmit thread for a whole pass, from taking the due frames until the last of
  // them is on the bus, so that a cancellation can wait out a pass that already took its frame.
  std::mutex periodicPassLock_;

  BusTrace trace_;
};

bool CanMux::ensureRunning() {
  if (running_.load(std::memory_order_acquire)) return true;  // every read passes here
  std::lock_guard<std::mutex> hold(creationLock_);
  configureFromEnvironment();
  if (receiveThread_.joinable()) return true;
  stop_.Clear();
  {
    std::lock_guard<std::mutex> hold(periodicLock_);
    stopTransmit_ = false;
  }
  receiveFinished_.Clear();
  transmitFinished_.Clear();
  try {
    receiveThread_ = std::thread([this] { receiveLoop(); });
    transmitThread_ = std::thread([this] { transmitLoop(); });
  } catch (const std::system_error& failure) {
    stopThreads();
    if (receiveThread_.joinable()) receiveThread_.join();
    logError(std::string("CAN bus threads could not be started: ") + failure.what());
    return false;
  }
  running_.store(true, std::memory_order_release);
  return true;
}

void CanMux::configureFromEnvironment() {
  if (!backendChosen_) {
    backendChosen_ = true;
    const char* backendName = std::getenv(kBackendVariable);
    if (backendName != nullptr && backendName[0] != '\0') {
      std::string error;
      std::shared_ptr<CanBackend> chosen = MakeCanBackend(backendName, &error);
      if (chosen) {
        takeFramesFrom(*chosen);
        std::lock_guard<std::mutex> hold(backendLock_);
        backend_ = std::move(chosen);
      } else {
        logError(std::string(kBackendVariable) + "=" + backendName + ": " + error +
                 "; using the empty bus");
      }
    }
  }
  if (!traceChosen_) {
    traceChosen_ = true;
    const char* path = std::getenv(kTraceVariable);
    std::string error;
    if (path != nullptr && path[0] != '\0' && !trace_.open(path, &error)) {
      logError(std::string(kTraceVariable) + ": " + error);
    }
  }
}

void CanMux::setBackend(std::shared_ptr<CanBackend> backend) {
  std::shared_ptr<CanBackend> chosen = backend ? std::move(backend) : std::make_shared<NoneBackend>();
  std::shared_ptr<CanBackend> replaced;
  {
    std::lock_guard<std::mutex> creation(creationLock_);
    backendChosen_ = true;
    std::lock_guard<std::mutex> hold(backendLock_);
    replaced = std::move(backend_);
    backend_ = chosen;
  }
  // Outside the locks: removing the hook waits for a hand-over that is running.
  if (replaced != chosen) replaced->setTakeFramesHook(nullptr);
  takeFramesFrom(*chosen);
  // The receive thread may be asleep in the old backend; it moves on to the new one.
  replaced->wakeReceiver();
}

void CanMux::takeFramesFrom(CanBackend& bus) {
  bus.setTakeFramesHook([this](CanBackend& arrivedOn) { return takeArrivedFrames(arrivedOn); });
}

// Frames taken on the thread that brought them reach the sessions without a wake-up of the
// receive thread. When a pass is under way (it may have looked at the bus already) or the
// multiplexer is stopped, the receive thread is left to take them, as without the hook.
bool CanMux::takeArrivedFrames(CanBackend& bus) {
  if (!running_.load(std::memory_order_acquire)) return false;
  std::unique_lock<std::mutex> pass(pumpLock_, std::try_to_lock);
  return pass.owns_lock() && pumpLocked(bus) >= 0;
}

std::shared_ptr<CanBackend> CanMux::backend() {
  std::lock_guard<std::mutex> hold(backendLock_);
  return backend_;
}

bool CanMux::setTrace(const std::string& path, std::string* error, bool markDirection) {
  {
    std::lock_guard<std::mutex> creation(creationLock_);
    traceChosen_ = true;
  }
  if (!path.empty()) return trace_.open(path, error, markDirection);
  const BusTrace::Totals totals = trace_.close();
  if (totals.path.empty()) return true;  // none was open
  std::stringstream line;
  line << "bus trace " << totals.path << ": " << totals.written << " frames written, "
       << totals.dropped << " dropped because the trace buffer was full";
  quor::tessera::diagnostics::LogStream(line, totals.dropped > 0);
  return true;
}

int32_t CanMux::open(uint32_t* handle, uint32_t id, uint32_t mask, uint32_t maxMessages) {
  const uint32_t capacity = std::min(maxMessages, kCanMuxMaxSessionMessages);
  auto session = std::make_unique<Session>(id, mask, capacity);
  std::lock_guard<std::mutex> hold(sessionsLock_);
  const uint32_t assigned = nextHandle_;
  nextHandle_ = nextHandle_ == 0xFFFFFFFFu ? 1 : nextHandle_ + 1;
  sessions_[assigned] = std::move(session);
  *handle = assigned;
  return kCanMuxStatusOk;
}

void CanMux::close(uint32_t handle) {
  std::unique_ptr<Session> closed;  // freed after the lock is released
  std::lock_guard<std::mutex> hold(sessionsLock_);
  auto found = sessions_.find(handle);
  if (found == sessions_.end()) return;
  closed = std::move(found->second);
  sessions_.erase(found);
}

int32_t CanMux::read(uint32_t handle, CanStreamMessage* messages, uint32_t toRead,
                     uint32_t* read) {
  *read = 0;
  // A reader takes what the bus holds itself rather than wait for the receive thread: a
  // message's frames then reach a busy reader without a thread switch each.
  pumpIfIdle(*backend());
  std::lock_guard<std::mutex> hold(sessionsLock_);
  auto found = sessions_.find(handle);
  if (found == sessions_.end()) return kCanMuxStatusUnknownHandle;
  Session& session = *found->second;
  std::lock_guard<std::mutex> holdSession(session.lock);
  uint32_t n = 0;
  while (n < toRead && session.ring.pop(&messages[n])) ++n;
  *read = n;
  // A reader that sleeps until frames come must not sleep on the ones it left.
  if (!session.ring.empty() && session.wakeOnFrames != nullptr) session.wakeOnFrames->raise();
  const bool overflowed = session.overflowed;
  session.overflowed = false;
  return overflowed ? kCanMuxStatusOverflow : kCanMuxStatusOk;
}

bool CanMux::wakeOnFrames(uint32_t handle, WakeSignal* wake) {
  std::lock_guard<std::mutex> hold(sessionsLock_);
  auto found = sessions_.find(handle);
  if (found == sessions_.end()) return false;
  Session& session = *found->second;
  std::lock_guard<std::mutex> holdSession(session.lock);
  session.wakeOnFrames = wake;
  if (wake != nullptr && !session.ring.empty()) wake->raise();
  return true;
}

int32_t CanMux::transmit(const std::shared_ptr<CanBackend>& backend,
                         const CanStreamMessage& frame) {
  const int64_t handedOver_us = trace_.isOpen() ? WallClockMicros() : 0;
  const int32_t status = backend->transmit(frame.messageID, frame.data, frame.dataSize);
  // Only a frame the bus took was sent.
  if (status == kCanMuxStatusOk) {
    trace_.record(backend->interfaceName(), frame, handedOver_us, BusTrace::Direction::kSent);
  }
  return status;
}

int32_t CanMux::send(uint32_t id, const uint8_t* data, uint8_t size, int32_t period_ms) {
  CanStreamMessage frame{};
  frame.messageID = id;
  frame.dataSize = data == nullptr ? 0 : std::min<uint8_t>(size, 8);
  if (frame.dataSize > 0) std::memcpy(frame.data, data, frame.dataSize);

  if (period_ms == kCanMuxPeriodOnce) {
    cancelPeriodic(id);
    // Outside the table lock: a backend may call back into test code.
    return transmit(backend(), frame);
  }
  if (period_ms == kCanMuxPeriodStop) {
    cancelPeriodic(id);
    return kCanMuxStatusOk;
  }

  bool scheduleChanged = false;
  {
    std::lock_guard<std::mutex> hold(periodicLock_);
    scheduleChanged = periodic_.store(frame, period_ms, MonotonicNanos());
  }
  if (scheduleChanged) periodicChanged_.notify_one();
  return kCanMuxStatusOk;
}

// True on the transmit thread, which holds the pass lock itself (a backend hook might cancel).
thread_local bool tl_isTransmitThread = false;

void CanMux::cancelPeriodic(uint32_t id) {
  bool removed = false;
  {
    std::lock_guard<std::mutex> hold(periodicLock_);
    removed = periodic_.remove(id);
  }
  // A pass may have taken the frame just before: once it has ended, no stale repetition can
  // follow the caller's own frame (a one-shot "stop" must be the last word on its ID).
  // The transmit thread need not wake: the next entry can only be due later now.
  if (!removed || tl_isTransmitThread) return;
  std::lock_guard<std::mutex> passEnded(periodicPassLock_);
}

void CanMux::dispose() {
  {
    std::lock_guard<std::mutex> hold(creationLock_);
    running_.store(false, std::memory_order_release);
    if (receiveThread_.joinable()) {
      stopThreads();
      if (receiveFinished_.WaitForSignalSet(kThreadFinishWait_ms)) {
        transmitFinished_.WaitForSignalSet(kThreadFinishWait_ms);
      }
      receiveThread_.join();
      transmitThread_.join();
    }
  }
  {
    // A reader asleep on a session must find out that it is gone.
    std::lock_guard<std::mutex> hold(sessionsLock_);
    for (auto& entry : sessions_) {
      std::lock_guard<std::mutex> holdSession(entry.second->lock);
      if (entry.second->wakeOnFrames != nullptr) entry.second->wakeOnFrames->raise();
    }
    sessions_.clear();
  }
  std::lock_guard<std::mutex> hold(periodicLock_);
  periodic_.clear();
}

void CanMux::stopThreads() {
  stop_.Signal();
  {
    std::lock_guard<std::mutex> hold(periodicLock_);
    stopTransmit_ = true;
  }
  periodicChanged_.notify_all();
  // A backend swapped in meanwhile has been woken by setBackend.
  backend()->wakeReceiver();
}

// Takes what the bus holds; when it holds nothing, sleeps in the backend until frames come or
// the thread is woken, so an idle bus costs no wake-ups.
void CanMux::receiveLoop() {
  quor::tessera::runtime::SetThreadName(std::this_thread::get_id(), "CanMux receive");
  DoNotPreemptTheWaker();
  while (!stop_.WaitForSignalSet(0)) {
    const std::shared_ptr<CanBackend> bus = backend();
    const int32_t moved = pump(*bus);
    if (moved > 0) continue;
    if (moved < 0) {
      stop_.WaitForSignalSet(kReceiveRetry_ms);
    } else {
      bus->waitForFrames(CanBackend::kWaitForever);
    }
  }
  receiveFinished_.Signal();
}

void CanMux::pumpIfIdle(CanBackend& bus) {
  std::unique_lock<std::mutex> pass(pumpLock_, std::try_to_lock);
  if (pass.owns_lock()) pumpLocked(bus);
}

int32_t CanMux::pump(CanBackend& bus) {
  std::lock_guard<std::mutex> pass(pumpLock_);
  return pumpLocked(bus);
}

int32_t CanMux::pumpLocked(CanBackend& bus) {
  uint32_t count = 0;
  const int32_t status = bus.receive(batch_.data(), kCanMuxReceiveBatch, &count);
  if (status != 0 && !receiveFailing_) {
    logError(std::string("CAN receive on ") + bus.interfaceName() + " failed (status " +
             std::to_string(status) + "); is the interface still up?");
  }
  receiveFailing_ = status != 0;
  count = std::min(count, kCanMuxReceiveBatch);
  if (count > 0) deliver(bus, batch_.data(), count);
  return count > 0 ? static_cast<int32_t>(count) : (receiveFailing_ ? -1 : 0);
}

void CanMux::deliver(const CanBackend& bus, const CanStreamMessage* frames, uint32_t count) {
  if (trace_.isOpen()) {
    for (uint32_t i = 0; i < count; ++i) {
      trace_.record(bus.interfaceName(), frames[i], bus.receivedAtWallClock_us(frames[i]),
                    BusTrace::Direction::kReceived);
    }
  }
  std::lock_guard<std::mutex> hold(sessionsLock_);
  for (auto& entry : sessions_) {
    Session& session = *entry.second;
    bool queued = false;
    std::lock_guard<std::mutex> holdSession(session.lock);
    for (uint32_t i = 0; i < count; ++i) {
      if ((frames[i].messageID & session.mask) != session.messageId) continue;
      if (session.ring.push(frames[i])) {
        queued = true;
      } else {
        session.overflowed = true;
      }
    }
    // Once per batch: a sleeping reader takes the whole batch in one go.
    if (queued && session.wakeOnFrames != nullptr) session.wakeOnFrames->raise();
  }
}

// Sleeps until the earliest periodic entry is due, however far off; a new entry or a changed
// period wakes it to plan again. False when the thread is to stop.
bool CanMux::waitUntilPeriodicDue() {
  std::unique_lock<std::mutex> hold(periodicLock_);
  for (;;) {
    if (stopTransmit_) return false;
    const int64_t due_ns = periodic_.nextDue_ns();
    if (due_ns == PeriodicTable::kNothingDue) {
      periodicChanged_.wait(hold);
    } else if (MonotonicNanos() >= due_ns) {
      return true;
    } else {
      // The monotonic clock is steady_clock's, so its readings are steady_clock time points.
      periodicChanged_.wait_until(
          hold, std::chrono::steady_clock::time_point(std::chrono::nanoseconds(due_ns)));
    }
  }
}

void CanMux::transmitLoop() {
  quor::tessera::runtime::SetThreadName(std::this_thread::get_id(), "CanMux transmit");
  tl_isTransmitThread = true;
  std::vector<CanStreamMessage> due;
  while (waitUntilPeriodicDue()) {
    std::lock_guard<std::mutex> pass(periodicPassLock_);
    due.clear();
    {
      std::lock_guard<std::mutex> hold(periodicLock_);
      periodic_.takeDue(MonotonicNanos(), &due);
    }
    if (due.empty()) continue;  // cancelled while the pass lock was taken
    const std::shared_ptr<CanBackend> bus = backend();
    for (const CanStreamMessage& frame : due) transmit(bus, frame);
  }
  transmitFinished_.Signal();
}

// Every operation first makes sure the multiplexer runs.
CanMux* runningMux() {
  CanMux& mux = CanMux::instance();
  return mux.ensureRunning() ? &mux : nullptr;
}

}  // namespace

extern "C" {

int32_t FRC_NetworkCommunication_CANSessionMux_openStreamSession(uint32_t* sessionHandle,
                                                                 uint32_t messageID,
                                                                 uint32_t messageIDMask,
                                                                 uint32_t maxMessages,
                                                                 int32_t* status) {
  int32_t result = kCanMuxStatusInvalidArgument;
  CanMux* mux = runningMux();
  if (mux == nullptr) {
    result = kCanMuxStatusNoThreads;
  } else if (sessionHandle != nullptr) {
    result = mux->open(sessionHandle, messageID, messageIDMask, maxMessages);
  }
  if (status != nullptr) *status = result;
  return result;
}

void FRC_NetworkCommunication_CANSessionMux_closeStreamSession(uint32_t sessionHandle) {
  CanMux::instance().close(sessionHandle);
}

int32_t FRC_NetworkCommunication_CANSessionMux_readStreamSession(uint32_t sessionHandle,
                                                                 CanStreamMessage* messages,
                                                                 uint32_t messagesToRead,
                                                                 uint32_t* messagesRead,
                                                                 int32_t* status) {
  uint32_t read = 0;
  int32_t result = kCanMuxStatusInvalidArgument;
  CanMux* mux = runningMux();
  if (mux == nullptr) {
    result = kCanMuxStatusNoThreads;
  } else if (messages != nullptr || messagesToRead == 0) {
    result = mux->read(sessionHandle, messages, messagesToRead, &read);
  }
  if (messagesRead != nullptr) *messagesRead = read;
  if (status != nullptr) *status = result;
  return result;
}

int32_t FRC_NetworkCommunication_CANSessionMux_sendMessage(uint32_t messageID, const uint8_t* data,
                                                           uint8_t dataSize, int32_t periodMs,
                                                           int32_t* status) {
  CanMux* mux = runningMux();
  const int32_t result =
      mux == nullptr ? kCanMuxStatusNoThreads : mux->send(messageID, data, dataSize, periodMs);
  if (status != nullptr) *status = result;
  return result;
}

int32_t CanMuxDispose(void) {
  CanMux::instance().dispose();
  return 0;
}

}  // extern "C"

bool CanMux_WakeOnFrames(uint32_t sessionHandle, WakeSignal* wake) {
  return CanMux::instance().wakeOnFrames(sessionHandle, wake);
}

void CanMux_SetBackend(std::shared_ptr<CanBackend> backend) {
  CanMux::instance().setBackend(std::move(backend));
}

std::shared_ptr<CanBackend> CanMux_Backend() {
  CanMux& mux = CanMux::instance();
  mux.configure();
  return mux.backend();
}

bool CanMux_SetTrace(const std::string& path, std::string* error, bool markDirection) {
  return CanMux::instance().setTrace(path, error, markDirection);
}
