#include "canmux/socketcan_backend.h"

#include <gtest/gtest.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "canmux/backend_factory.h"
#include "canmux/socketcan_advice.h"
#include "canmux/socketcan_conversion.h"
#include "canmux/socketcan_outage.h"
#include "tests/support/wait_until.h"

namespace {

bool kernelHasCan() {
  const int fd = socket(PF_CAN, SOCK_RAW, CAN_RAW);
  if (fd < 0) return false;
  close(fd);
  return true;
}

bool interfaceExists(const char* name) { return if_nametoindex(name) != 0; }

TEST(SocketCanConversion, ExtendedKernelFrameBecomesStreamMessage) {
  struct can_frame in {};
  in.can_id = 0x0204F905 | CAN_EFF_FLAG;
  in.can_dlc = 3;
  in.data[0] = 0x01;
  in.data[1] = 0xB0;
  in.data[2] = 0xAA;
  in.data[3] = 0x77;  // beyond the length: not carried
  CanStreamMessage out;
  ASSERT_TRUE(CanFrameToStreamMessage(in, 123456, &out));
  EXPECT_EQ(0x0204F905u, out.messageID);
  EXPECT_EQ(123456u, out.timeStamp);
  EXPECT_EQ(3, out.dataSize);
  EXPECT_EQ(0xB0, out.data[1]);
  EXPECT_EQ(0, out.data[3]);
  EXPECT_EQ(0u, out.reserved);
}

TEST(SocketCanConversion, StandardRemoteAndErrorFramesAreNotCarried) {
  CanStreamMessage out;
  struct can_frame standard {};
  standard.can_id = 0x123;
  EXPECT_FALSE(CanFrameToStreamMessage(standard, 0, &out));
  struct can_frame remote {};
  remote.can_id = 0x0204F905 | CAN_EFF_FLAG | CAN_RTR_FLAG;
  EXPECT_FALSE(CanFrameToStreamMessage(remote, 0, &out));
  struct can_frame error {};
  error.can_id = CAN_ERR_FLAG | CAN_EFF_FLAG | 0x4;
  EXPECT_FALSE(CanFrameToStreamMessage(error, 0, &out));
}

TEST(SocketCanConversion, LengthAboveEightIsCutOnBothSides) {
  struct can_frame in {};
  in.can_id = 0x1FFFFFFF | CAN_EFF_FLAG;
  in.can_dlc = 15;  // a classic-CAN DLC code above 8 still means 8 bytes
  CanStreamMessage out;
  ASSERT_TRUE(CanFrameToStreamMessage(in, 0, &out));
  EXPECT_EQ(8, out.dataSize);

  const uint8_t data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const struct can_frame sent = StreamMessageToCanFrame(0xFFFFFFFF, data, 12);
  EXPECT_EQ(CAN_EFF_FLAG | 0x1FFFFFFFu, sent.can_id);
  EXPECT_EQ(8, sent.can_dlc);
  EXPECT_EQ(8, sent.data[7]);
  EXPECT_EQ(0, StreamMessageToCanFrame(0x10, nullptr, 4).can_dlc);
}

TEST(SocketCanConversion, KernelFilterAdmitsOnlyExtendedDataFrames) {
  const struct can_filter all = SocketCanFilterFor(0, 0);
  EXPECT_EQ(CAN_EFF_FLAG, all.can_id);
  EXPECT_EQ(CAN_EFF_FLAG | CAN_RTR_FLAG, all.can_mask);
  const struct can_filter device = SocketCanFilterFor(0x0204F900, 0xFFFFFFC0);
  EXPECT_EQ(CAN_EFF_FLAG | 0x0204F900u, device.can_id);
  EXPECT_EQ(CAN_EFF_FLAG | CAN_RTR_FLAG | (0xFFFFFFC0u & CAN_EFF_MASK), device.can_mask);
}

// Each problem with the advice a user can follow as written; a vcan interface never gets the
// adapter's `type can bitrate`, and a missing adapter is not told to become a vcan of its name.
TEST(SocketCanAdvice, EachProblemGetsItsOwnCorrectFix) {
  struct Case {
    SocketCanProblem problem;
    const char* name;
    int error;
    std::vector<std::string> says;
    std::vector<std::string> neverSays;
  };
  const std::string vcan0 =
      "`sudo modprobe vcan; sudo ip link add dev vcan0 type vcan; sudo ip link set vcan0 up`";
  const std::vector<Case> cases = {
      {SocketCanProblem::kNoKernelSupport, "can0", 0,
       {"SocketCAN cannot open can0: this kernel has no CAN support: load the can and can_raw "
        "modules, e.g. `sudo modprobe can_raw`"},
       {"does not exist"}},
      {SocketCanProblem::kNoSuchInterface, "can0", 0,
       {"SocketCAN interface can0 does not exist", "CAN adapter",
        "`sudo ip link set can0 up type can bitrate 1000000`", vcan0, "socketcan:vcan0"},
       {"dev can0 type vcan", "vcan0 up type can"}},
      {SocketCanProblem::kNoSuchInterface, "vcan3", 0,
       {"SocketCAN interface vcan3 does not exist",
        "`sudo modprobe vcan; sudo ip link add dev vcan3 type vcan; sudo ip link set vcan3 up`"},
       {"bitrate", "vcan0"}},
      {SocketCanProblem::kInterfaceDown, "can1", 0,
       {"SocketCAN interface can1 is down", "`sudo ip link set can1 up type can bitrate 1000000`",
        "`sudo ip link set can1 up`"},
       {"type vcan"}},
      {SocketCanProblem::kInterfaceDown, "vcan0", 0,
       {"SocketCAN interface vcan0 is down", "`sudo ip link set vcan0 up`"},
       {"bitrate"}},
      {SocketCanProblem::kNotCan, "lo", 0, {"SocketCAN interface lo is not a CAN interface"}, {}},
      {SocketCanProblem::kBindFailed, "can0", ENODEV, {"SocketCAN cannot bind to can0 (No such device)"}, {}},
      {SocketCanProblem::kSocketFailed, "can0", EMFILE, {"can0 (Too many open files)"}, {}},
      {SocketCanProblem::kInvalidName, "", 0, {"\"\" is not valid", "socketcan:can0"}, {}},
  };
  for (const Case& c : cases) {
    const std::string text = SocketCanAdvice(c.problem, c.name, c.error);
    for (const std::string& part : c.says) EXPECT_NE(std::string::npos, text.find(part)) << text;
    for (const std::string& part : c.neverSays) EXPECT_EQ(std::string::npos, text.find(part)) << text;
  }
}

// Kernel support is checked first; on a kernel with CAN the interface's own problems show.
TEST(SocketCanOpen, RealProblemsAreNamedInOrder) {
  std::string error;
  EXPECT_EQ(nullptr, SocketCanBackend::open("", &error));
  EXPECT_EQ(SocketCanAdvice(SocketCanProblem::kInvalidName, ""), error);
  EXPECT_EQ(nullptr, SocketCanBackend::open("a-name-far-too-long-for-linux", &error));
  EXPECT_EQ(SocketCanAdvice(SocketCanProblem::kInvalidName, "a-name-far-too-long-for-linux"), error);
  EXPECT_EQ(nullptr, SocketCanBackend::open("nosuchcan7", &error));
  if (!kernelHasCan()) {
    EXPECT_EQ(SocketCanAdvice(SocketCanProblem::kNoKernelSupport, "nosuchcan7"), error);
    return;
  }
  EXPECT_EQ(SocketCanAdvice(SocketCanProblem::kNoSuchInterface, "nosuchcan7"), error);
  EXPECT_EQ(nullptr, SocketCanBackend::open("lo", &error));
  EXPECT_EQ(SocketCanAdvice(SocketCanProblem::kNotCan, "lo"), error);
}

TEST(SocketCanOutage, ErrorsNameTheInterfacesFault) {
  const std::vector<std::pair<int, SocketCanFault>> cases = {
      {ENETDOWN, SocketCanFault::kDown},      {ENODEV, SocketCanFault::kGone},
      {ENXIO, SocketCanFault::kGone},         {ENOBUFS, SocketCanFault::kQueueFull},
      {EAGAIN, SocketCanFault::kNone},        {EINTR, SocketCanFault::kNone},
      {EPERM, SocketCanFault::kNone}};
  for (const auto& c : cases) EXPECT_EQ(c.second, SocketCanOutage::FaultOf(c.first)) << c.first;
}

// One line when an outage starts and one when it ends, however many failures come between;
// checks at most once per interval (249 ms after the last: not yet; 250 ms: due).
TEST(SocketCanOutage, OneLineEachWayAndChecksSpacedByTheInterval) {
  SocketCanOutage outage;
  EXPECT_EQ("", outage.worked("can0", 0));
  EXPECT_FALSE(outage.checkDue(5000));
  EXPECT_EQ("CAN interface can0 is down (Network is down): nothing is sent or received until "
            "it is up again",
            outage.failed(SocketCanFault::kDown, ENETDOWN, "can0", 1000));
  EXPECT_EQ("", outage.failed(SocketCanFault::kDown, ENETDOWN, "can0", 1001));
  EXPECT_TRUE(outage.active());
  EXPECT_FALSE(outage.checkDue(1249));
  EXPECT_TRUE(outage.checkDue(1250));
  EXPECT_FALSE(outage.checkDue(1499));
  EXPECT_TRUE(outage.checkDue(1500));
  EXPECT_EQ("", outage.failed(SocketCanFault::kGone, ENODEV, "can0", 1600));
  EXPECT_EQ(SocketCanFault::kGone, outage.fault());  // removed meanwhile: must be reopened
  EXPECT_EQ("CAN interface can0 works again after 1.5 s", outage.worked("can0", 2500));
  EXPECT_FALSE(outage.active());
  EXPECT_EQ("", outage.worked("can0", 2600));

  const std::string full = outage.failed(SocketCanFault::kQueueFull, ENOBUFS, "can1", 3000);
  EXPECT_EQ(0u, full.find("CAN interface can1 takes no more frames (No buffer space available)"))
      << full;
  EXPECT_EQ("CAN interface can1 has gone (No such device): waiting for it to come back",
            SocketCanOutage().failed(SocketCanFault::kGone, ENODEV, "can1", 0));
}

TEST(BackendFactory, AcceptsNoneAndSocketCanRejectsTheRest) {
  std::string error;
  auto none = MakeCanBackend("none", &error);
  ASSERT_NE(nullptr, none);
  EXPECT_STREQ("none", none->interfaceName());
  uint32_t count = 5;
  CanStreamMessage buffer[1];
  EXPECT_EQ(0, none->receive(buffer, 1, &count));
  EXPECT_EQ(0u, count);
  EXPECT_EQ(0, none->transmit(1, nullptr, 0));

  EXPECT_EQ(nullptr, MakeCanBackend("socketcan:nosuchcan7", &error));
  EXPECT_NE(std::string::npos, error.find("nosuchcan7")) << error;
  EXPECT_EQ(nullptr, MakeCanBackend("socketcan:", &error));
  EXPECT_EQ(nullptr, MakeCanBackend("sim", &error));
  EXPECT_NE(std::string::npos, error.find("host program")) << error;
  EXPECT_EQ(nullptr, MakeCanBackend("slcan:/dev/ttyACM0", &error));
  EXPECT_NE(std::string::npos, error.find("use none, socketcan:IFACE or udp_multicast[:GROUP[:PORT]]")) << error;
  EXPECT_EQ(nullptr, MakeCanBackend("NONE", nullptr));  // no error text wanted: no crash
}

// Two sockets on one virtual interface see each other's frames, as two nodes on a wire.
TEST(SocketCanLive, FramesTravelBetweenTwoSocketsOnVcan0) {
  if (!kernelHasCan()) GTEST_SKIP() << "the kernel has no CAN support (socket(PF_CAN) fails)";
  if (!interfaceExists("vcan0")) {
    GTEST_SKIP() << "no vcan0: create it with `ip link add dev vcan0 type vcan && "
                    "ip link set vcan0 up`";
  }
  std::string error;
  auto sender = SocketCanBackend::open("vcan0", &error);
  if (sender == nullptr) GTEST_SKIP() << "vcan0 is not usable: " << error;
  auto receiver = SocketCanBackend::open("vcan0", &error);
  ASSERT_NE(nullptr, receiver) << error;

  const uint8_t data[8] = {0x10, 0x07, 1, 2, 3, 4, 5, 6};
  for (int i = 0; i < 100; ++i) ASSERT_EQ(0, sender->transmit(0x0204F901, data, 8));
  CanStreamMessage buffer[128];
  uint32_t total = 0;
  int status = 0;
  tessera_test::WaitUntil(
      [&] {
        uint32_t count = 0;
        status = receiver->receive(buffer + total, 128 - total, &count);
        total += count;
        return status != 0 || total >= 100;
      },
      std::chrono::seconds(2), std::chrono::milliseconds(1));
  ASSERT_EQ(0, status);
  ASSERT_EQ(100u, total);
  EXPECT_EQ(0x0204F901u, buffer[99].messageID);
  EXPECT_EQ(8, buffer[99].dataSize);
  EXPECT_NE(0u, buffer[0].timeStamp);  // kernel receive time stamp
  EXPECT_STREQ("vcan0", receiver->interfaceName());
}

// The receive thread sleeps in poll() on the socket and the wake-up descriptor.
TEST(SocketCanLive, WaitEndsWhenAFrameArrivesAndOnAWakeUp) {
  if (!kernelHasCan() || !interfaceExists("vcan0")) GTEST_SKIP() << "no usable vcan0";
  std::string error;
  auto sender = SocketCanBackend::open("vcan0", &error);
  auto receiver = SocketCanBackend::open("vcan0", &error);
  if (sender == nullptr || receiver == nullptr) GTEST_SKIP() << "vcan0 is not usable: " << error;
  CanStreamMessage buffer[8];
  uint32_t count = 0;
  receiver->receive(buffer, 8, &count);  // whatever else is on the bus

  // Starts a wait and reports whether it ended within `deadline` (ending it if not).
  const auto waitEnds = [&](std::function<void()> whileWaiting,
                            std::chrono::milliseconds deadline) {
    auto waiting = std::async(std::launch::async,
                              [&] { receiver->waitForFrames(CanBackend::kWaitForever); });
    whileWaiting();
    const bool ended = waiting.wait_for(deadline) == std::future_status::ready;
    if (!ended) receiver->wakeReceiver();
    return ended;
  };
  const auto nothing = [] {};
  EXPECT_FALSE(waitEnds(nothing, std::chrono::milliseconds(30))) << "no frame, no wake-up";
  const uint8_t data[1] = {0x42};
  EXPECT_TRUE(waitEnds([&] { ASSERT_EQ(0, sender->transmit(0x0204F901, data, 1)); },
                       std::chrono::seconds(3)));
  ASSERT_EQ(0, receiver->receive(buffer, 8, &count));
  EXPECT_EQ(1u, count);
  receiver->wakeReceiver();  // given before the wait: not lost
  EXPECT_TRUE(waitEnds(nothing, std::chrono::seconds(3)));
}

}  // namespace
