#include <dirent.h>
#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <set>
#include <string>

#include "canmux/can_mux.h"
#include "canmux/virtual_bus.h"
#include "tests/support/bus_recorder.h"
#include "tests/support/wait_until.h"

namespace {

// A joined thread's task can stay listed for a moment after the join returns, while the kernel
// finishes its exit; by then it has given up its memory, so only tasks that still hold it count.
bool stillInUserSpace(const std::string& task) {
  std::ifstream status("/proc/self/task/" + task + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmSize:", 0) == 0) return true;
  }
  return false;
}

std::set<std::string> threadNames() {
  std::set<std::string> names;
  DIR* tasks = opendir("/proc/self/task");
  if (tasks == nullptr) return names;
  while (dirent* entry = readdir(tasks)) {
    if (entry->d_name[0] == '.') continue;
    const std::string task = entry->d_name;
    std::ifstream comm("/proc/self/task/" + task + "/comm");
    std::string name;
    std::getline(comm, name);
    if (stillInUserSpace(task)) names.insert(name);
  }
  closedir(tasks);
  return names;
}

bool busThreadsRunning() {
  const auto names = threadNames();
  return names.count("CanMux receive") == 1 && names.count("CanMux transmit") == 1;
}

bool noBusThreads() {
  const auto names = threadNames();
  return names.count("CanMux receive") == 0 && names.count("CanMux transmit") == 0;
}

TEST(CanMuxDispose, JoinsBothThreadsAndEmptiesTheTables) {
  auto bus = std::make_shared<VirtualBus>();
  CanMux_SetBackend(bus);
  tessera_test::RecordingEndpoint device;
  bus->attach(&device);

  uint32_t handle = 0;
  int32_t status = -1;
  FRC_NetworkCommunication_CANSessionMux_openStreamSession(&handle, 0, 0, 8, &status);
  const uint8_t data[1] = {7};
  FRC_NetworkCommunication_CANSessionMux_sendMessage(0x123, data, 1, 5, &status);
  ASSERT_TRUE(tessera_test::WaitUntil(busThreadsRunning));
  ASSERT_TRUE(tessera_test::WaitUntil([&] { return device.count() >= 2; }));

  EXPECT_EQ(0, CanMuxDispose());
  // Joined, not merely asked to stop; the short wait covers only the kernel's last exit steps.
  EXPECT_TRUE(tessera_test::WaitUntil(noBusThreads, std::chrono::milliseconds(20)));

  // Nothing repeats any more, and the session is gone.
  const size_t sentBefore = device.framesWithId(0x123).size();
  CanStreamMessage message;
  uint32_t read = 0;
  EXPECT_EQ(kCanMuxStatusUnknownHandle, FRC_NetworkCommunication_CANSessionMux_readStreamSession(
                                            handle, &message, 1, &read, &status));

  // The next operation brings the bus back: a session opened now hears frames again.
  FRC_NetworkCommunication_CANSessionMux_openStreamSession(&handle, 0, 0, 8, &status);
  EXPECT_TRUE(tessera_test::WaitUntil(busThreadsRunning));
  bus->inject(tessera_test::Frame(0x456, {1}));
  EXPECT_TRUE(tessera_test::WaitUntil([&] {
    FRC_NetworkCommunication_CANSessionMux_readStreamSession(handle, &message, 1, &read, &status);
    return read == 1;
  }));
  EXPECT_EQ(0x456u, message.messageID);
  EXPECT_EQ(sentBefore, device.framesWithId(0x123).size());  // dispose cleared the periodic entry

  CanMuxDispose();
  bus->detach(&device);
}

}  // namespace
