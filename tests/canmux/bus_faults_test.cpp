#include "canmux/bus_faults.h"

#include <gtest/gtest.h>

#include <vector>

#include "canmux/fault_dice.h"
#include "canmux/virtual_bus.h"
#include "tests/support/bus_recorder.h"
#include "tests/support/wait_until.h"

using tessera_test::Frame;
using Fate = FaultDice::Fate;

namespace {

TEST(BusFaultsText, SharesDirectionsDelayAndSeed) {
  struct Case {
    const char* text;
    FrameFaults sent;
    FrameFaults received;
    uint64_t seed;
  };
  const Case cases[] = {
      {"drop=1%", {1, 0, 0, 10}, {1, 0, 0, 10}, 1},
      {"drop=1,seed=7", {1, 0, 0, 10}, {1, 0, 0, 10}, 7},
      {"received.drop=5%,sent.duplicate=0.5%", {0, 0.5, 0, 10}, {5, 0, 0, 10}, 1},
      {"delay=2%,delay-ms=20,received.delay-ms=0", {0, 0, 2, 20}, {0, 0, 2, 0}, 1},
      {"drop=100%", {100, 0, 0, 10}, {100, 0, 0, 10}, 1},
      {"drop=50,duplicate=25,delay=25,delay-ms=10000", {50, 25, 25, 10000}, {50, 25, 25, 10000}, 1},
      {"seed=18446744073709551615,drop=0", {}, {}, UINT64_MAX},
  };
  for (const Case& c : cases) {
    BusFaults faults;
    std::string error;
    ASSERT_TRUE(ParseBusFaults(c.text, &faults, &error)) << c.text << ": " << error;
    for (const auto& [got, want] : {std::pair{faults.sent, c.sent}, {faults.received, c.received}}) {
      EXPECT_EQ(want.drop_percent, got.drop_percent) << c.text;
      EXPECT_EQ(want.duplicate_percent, got.duplicate_percent) << c.text;
      EXPECT_EQ(want.delay_percent, got.delay_percent) << c.text;
      EXPECT_EQ(want.delay_ms, got.delay_ms) << c.text;
    }
    EXPECT_EQ(c.seed, faults.seed) << c.text;
  }
}

TEST(BusFaultsText, RefusedWithTheReason) {
  const std::pair<const char*, const char*> cases[] = {
      {"", "expected KEY=VALUE"},
      {"drop", "expected KEY=VALUE"},
      {"drop=1%,", "expected KEY=VALUE"},
      {"lose=1%", "unknown key \"lose\""},
      {"sent.seed=1", "unknown key \"seed\""},
      {"drop=100.1%", "drop needs a share from 0% to 100%"},
      {"drop=-1", "drop needs a share"},
      {"drop=nan", "drop needs a share"},
      {"drop=1%%", "drop needs a share"},
      {"drop=60,delay=41", "add up to more than 100%"},
      {"delay-ms=10001", "delay-ms needs a whole number of milliseconds from 0 to 10000"},
      {"delay-ms=1.5", "delay-ms needs a whole number"},
      {"seed=-1", "seed needs a whole number"},
      {"seed=18446744073709551616", "seed needs a whole number"},
  };
  for (const auto& [text, reason] : cases) {
    BusFaults faults;
    faults.seed = 99;
    std::string error;
    EXPECT_FALSE(ParseBusFaults(text, &faults, &error)) << text;
    EXPECT_NE(error.find(reason), std::string::npos) << text << ": " << error;
    EXPECT_EQ(99u, faults.seed) << "a refused text changes nothing: " << text;
  }
}

TEST(BusFaultsText, Description) {
  BusFaults faults;
  EXPECT_EQ("no faults", DescribeBusFaults(faults));
  std::string error;
  ASSERT_TRUE(ParseBusFaults("drop=1%,seed=7", &faults, &error));
  EXPECT_EQ("drop 1% both ways, seed 7", DescribeBusFaults(faults));
  ASSERT_TRUE(ParseBusFaults("sent.drop=0,received.delay=2.5%,delay-ms=20", &faults, &error));
  EXPECT_EQ("received: drop 1%, delay 2.5% by 20 ms, seed 7", DescribeBusFaults(faults))
      << "a text applies over what was there";
  ASSERT_TRUE(ParseBusFaults("sent.duplicate=3", &faults, &error));
  EXPECT_EQ("sent: duplicate 3%; received: drop 1%, delay 2.5% by 20 ms, seed 7",
            DescribeBusFaults(faults));
}

std::vector<Fate> Draws(const FrameFaults& faults, uint64_t seed, uint64_t stream, size_t n) {
  FaultDice dice(faults, seed, stream);
  std::vector<Fate> fates(n);
  for (Fate& fate : fates) fate = dice.next();
  return fates;
}

TEST(FaultDice, SharesHoldAndTheSeedFixesEveryDecision) {
  const FrameFaults faults{2, 1, 0.5, 10};
  const size_t kDraws = 200000;
  const auto fates = Draws(faults, 42, 1, kDraws);
  size_t counts[4] = {};
  for (Fate fate : fates) ++counts[static_cast<int>(fate)];
  // 2 %, 1 % and 0.5 % of 200,000 within five standard deviations.
  EXPECT_NEAR(4000, counts[static_cast<int>(Fate::kDrop)], 5 * 63);
  EXPECT_NEAR(2000, counts[static_cast<int>(Fate::kDuplicate)], 5 * 45);
  EXPECT_NEAR(1000, counts[static_cast<int>(Fate::kDelay)], 5 * 32);

  EXPECT_EQ(fates, Draws(faults, 42, 1, kDraws)) << "same seed, same decisions";
  EXPECT_NE(fates, Draws(faults, 43, 1, kDraws)) << "another seed";
  EXPECT_NE(fates, Draws(faults, 42, 2, kDraws)) << "the other direction of the same seed";
}

TEST(FaultDice, NoneAndAll) {
  for (Fate fate : Draws(FrameFaults{}, 1, 1, 10000)) ASSERT_EQ(Fate::kDeliver, fate);
  for (Fate fate : Draws(FrameFaults{100, 0, 0, 10}, 1, 1, 10000)) ASSERT_EQ(Fate::kDrop, fate);
  for (Fate fate : Draws(FrameFaults{0, 0, 100, 10}, 1, 1, 10000)) ASSERT_EQ(Fate::kDelay, fate);
}

std::vector<CanStreamMessage> DrainServer(VirtualBus& bus) {
  std::vector<CanStreamMessage> frames(256);
  uint32_t count = 0;
  bus.receive(frames.data(), 256, &count);
  frames.resize(count);
  return frames;
}

std::vector<uint32_t> Ids(const std::vector<CanStreamMessage>& frames) {
  std::vector<uint32_t> ids;
  for (const auto& f : frames) ids.push_back(f.messageID);
  return ids;
}

BusFaults Faults(const char* text) {
  BusFaults faults;
  std::string error;
  EXPECT_TRUE(ParseBusFaults(text, &faults, &error)) << error;
  return faults;
}

// Each direction on its own: what the server sends and what it receives.
TEST(LossyVirtualBus, DropAndDuplicateActOnTheirDirectionOnly) {
  VirtualBus bus;
  tessera_test::RecordingEndpoint device, otherDevice;
  bus.attach(&device);
  bus.attach(&otherDevice);
  const uint8_t data[1] = {1};

  bus.setFaults(Faults("sent.drop=100%"));
  bus.transmit(0x100, data, 1);
  bus.inject(Frame(0x200, {2}), &device);
  EXPECT_EQ(0u, device.count()) << "the server's frame was lost";
  EXPECT_EQ(std::vector<uint32_t>{0x200}, Ids(otherDevice.frames()));
  EXPECT_EQ(std::vector<uint32_t>{0x200}, Ids(DrainServer(bus)));

  bus.setFaults(Faults("received.drop=100%"));
  bus.transmit(0x101, data, 1);
  bus.inject(Frame(0x201, {2}), &device);
  EXPECT_TRUE(DrainServer(bus).empty()) << "the device's frame never reached the server";
  EXPECT_EQ((std::vector<uint32_t>{0x200, 0x101, 0x201}), Ids(otherDevice.frames()))
      << "devices still hear each other";

  bus.setFaults(Faults("duplicate=100%"));
  bus.transmit(0x102, data, 1);
  bus.inject(Frame(0x202, {2}), &device);
  EXPECT_EQ((std::vector<uint32_t>{0x101, 0x102, 0x102}), Ids(device.frames()));
  EXPECT_EQ((std::vector<uint32_t>{0x202, 0x202}), Ids(DrainServer(bus)));

  bus.setFaults(BusFaults{});
  bus.transmit(0x103, data, 1);
  EXPECT_EQ(0x103u, device.frames().back().messageID) << "a healthy link again";

  EXPECT_EQ(1u, bus.sentFaultCounts().dropped);
  EXPECT_EQ(1u, bus.sentFaultCounts().duplicated);
  EXPECT_EQ(1u, bus.receivedFaultCounts().dropped);
  EXPECT_EQ(1u, bus.receivedFaultCounts().duplicated);
  EXPECT_EQ("sent: 1 dropped, 1 duplicated, 0 delayed; received: 1 dropped, 1 duplicated, 0 delayed",
            bus.faultCountsText());
}

TEST(LossyVirtualBus, DelayedFramesComeLateAndAreOvertaken) {
  VirtualBus bus;
  tessera_test::RecordingEndpoint device;
  bus.attach(&device);
  const uint8_t data[1] = {1};
  // Held back for a second: the frames sent after them overtake them.
  bus.setFaults(Faults("delay=100%,delay-ms=1000"));
  bus.transmit(0x100, data, 1);
  bus.inject(Frame(0x200, {2}), &device);
  bus.setFaults(BusFaults{});
  bus.transmit(0x101, data, 1);
  bus.inject(Frame(0x201, {2}), &device);

  std::vector<uint32_t> atServer;
  ASSERT_TRUE(tessera_test::WaitUntil(
      [&] {
        for (uint32_t id : Ids(DrainServer(bus))) atServer.push_back(id);
        return device.count() == 2 && atServer.size() == 2;
      },
      std::chrono::seconds(10)));
  EXPECT_EQ((std::vector<uint32_t>{0x101, 0x100}), Ids(device.frames()));
  EXPECT_EQ((std::vector<uint32_t>{0x201, 0x200}), atServer);
  EXPECT_EQ(1u, bus.sentFaultCounts().delayed);
  EXPECT_EQ(1u, bus.receivedFaultCounts().delayed);
}

// The decisions follow the seed: two buses given the same frames lose the same ones.
TEST(LossyVirtualBus, SameSeedSameFramesLost) {
  const auto run = [](const char* faults) {
    VirtualBus bus;
    tessera_test::RecordingEndpoint device;
    bus.attach(&device);
    bus.setFaults(Faults(faults));
    for (uint8_t i = 0; i < 200; ++i) bus.transmit(0x100 + i, &i, 1);
    return Ids(device.frames());
  };
  const auto first = run("drop=20%,duplicate=10%,seed=5");
  EXPECT_EQ(first, run("drop=20%,duplicate=10%,seed=5"));
  EXPECT_NE(first, run("drop=20%,duplicate=10%,seed=6"));
  EXPECT_GT(first.size(), 120u);
  EXPECT_LT(first.size(), 200u);
}

}  // namespace
