// The host killed outright (SIGKILL) in the middle of a firmware upgrade or of a configuration
// write, and started again. The devices live in tessera-sim, a process of their own, and meet
// the host on a UDP-multicast bus, so they outlive it as devices on a CAN bus would. The test
// watches the same bus to kill the host at a chosen frame.
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <string>

#include "canmux/udp_multicast_backend.h"
#include "sim/bfl_writer.h"
#include "tests/support/config_requests.h"
#include "tests/support/listing.h"
#include "tests/support/server_process.h"
#include "tests/support/udp_bus.h"

namespace {

using nlohmann::json;
using tessera_test::ChildProcess;
using tessera_test::ErrorOf;
using tessera_test::RunCommand;
using tessera_test::ServerProcess;

constexpr uint8_t kKestrelKxCode = 9;
constexpr uint8_t kIsoFirstFrame = 0x10;
constexpr uint8_t kIsoConsecutiveFrame = 0x20;
constexpr uint8_t kSectorWrite = 0xB1;
constexpr uint8_t kConfigWrite = 0xC4;
constexpr auto kWatchDeadline = std::chrono::seconds(60);
constexpr int kUpgradeAttempts = 3;

bool IsFirstFrameOf(const CanStreamMessage& frame, uint8_t request) {
  return frame.dataSize == 8 && (frame.data[0] & 0xF0) == kIsoFirstFrame && frame.data[2] == request;
}

class HostKilled : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/tessera-killed-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    bus_ = "udp_multicast:" + tessera_test::FreshUdpMulticastBus();
    std::string error;
    watcher_ = UdpMulticastBackend::open(bus_.substr(bus_.find(':') + 1), &error);
    ASSERT_NE(nullptr, watcher_) << error;
    devices_ = std::make_unique<ChildProcess>(
        std::vector<std::string>{TESSERA_SIM_BINARY, "--can", bus_},
        std::regex("simulated devices"), std::chrono::seconds(20));
    ASSERT_TRUE(devices_->ready()) << devices_->output();
    StartHost();
  }

  void TearDown() override {
    host_.reset();
    if (devices_) {
      EXPECT_EQ(0, devices_->stop()) << "tessera-sim survives the host\n" << devices_->output();
    }
  }

  void StartHost() {
    host_ = std::make_unique<ServerProcess>(
        std::vector<std::string>{"--can", bus_, "--start-delay", "0", "--search-dir", dir_});
    ASSERT_GT(host_->port(), 0) << host_->output();
    const json listing = tessera_test::WaitForListing(
        host_->port(), [](const json& l) { return l.size() == 8; }, std::chrono::seconds(60));
    ASSERT_EQ(8u, listing.size()) << listing.dump(2);
  }

  // Reads the bus until `kill` says the moment has come, then kills the host; false when the
  // moment never came or `over` says it no longer will.
  bool KillHostWhen(const std::function<bool(const CanStreamMessage&)>& kill,
                    const std::function<bool()>& over = [] { return false; }) {
    const auto until = std::chrono::steady_clock::now() + kWatchDeadline;
    CanStreamMessage frames[64];
    while (std::chrono::steady_clock::now() < until && !over()) {
      watcher_->waitForFrames(10);
      uint32_t count = 0;
      watcher_->receive(frames, 64, &count);
      for (uint32_t i = 0; i < count; ++i) {
        if (kill(frames[i])) {
          host_->killNow();
          return true;
        }
      }
    }
    return false;
  }

  std::string WriteFirmware(const std::string& name, uint8_t major, uint32_t sectors) {
    const std::vector<uint8_t> file = quor::tessera::sim::MakeBflFile(
        quor::tessera::sim::PlanFor(kKestrelKxCode, major, 0, sectors));
    std::ofstream(dir_ + "/" + name, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    return name;
  }

  json Kestrel(const std::string& model, int id) {
    for (const json& device : tessera_test::FetchListing(host_->port()))
      if (device["Model"] == model && device["ID"] == id) return device;
    return nullptr;
  }

  std::string dir_;
  std::string bus_;
  std::shared_ptr<UdpMulticastBackend> watcher_;
  std::unique_ptr<ChildProcess> devices_;
  std::unique_ptr<ServerProcess> host_;
};

TEST_F(HostKilled, MidUpgradeTheDeviceIsFoundInItsBootloaderAndUpgradedAgain) {
  const std::string big = WriteFirmware("big.bfl", 30, 64);
  const std::string small = WriteFirmware("small.bfl", 31, 8);
  const std::string url = host_->url("action=fieldupgrade&model=kestrel+kx&id=1&file=" + big);
  // A loaded machine may starve tessera-sim long enough for an upgrade to fail early with a
  // code; that is not the case under test, so such an upgrade is started again.
  std::future<std::string> upgrade;
  bool killed = false;
  std::string endedEarly;
  for (int attempt = 0; attempt < kUpgradeAttempts && !killed; ++attempt) {
    upgrade = std::async(std::launch::async, [url] {
      return RunCommand("curl -s --max-time 120 '" + url + "'");
    });
    int sectors = 0;
    killed = KillHostWhen(
        [&](const CanStreamMessage& f) {
          return IsFirstFrameOf(f, kSectorWrite) && ++sectors == 10;
        },
        [&] { return upgrade.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
    if (!killed) endedEarly += upgrade.get() + "\n";
  }
  ASSERT_TRUE(killed) << "the upgrade never reached its tenth sector:\n" << endedEarly
                      << host_->output();
  EXPECT_EQ("", upgrade.get()) << "the killed host answered nothing";

  StartHost();
  const json kx = Kestrel("Kestrel KX", 1);
  ASSERT_FALSE(kx.is_null()) << "the device is listed again";
  EXPECT_NE(std::string::npos, kx["SoftStatus"].get<std::string>().find("Bootloader")) << kx.dump();

  const json answer = json::parse(
      RunCommand("curl -s --max-time 120 '" +
                 host_->url("action=fieldupgrade&model=kestrel+kx&id=1&file=" + small) + "'"),
      nullptr, false);
  ASSERT_EQ(0, ErrorOf(answer)) << answer.dump(2);
  tessera_test::WaitForListing(
      host_->port(),
      [](const json& l) {
        for (const json& d : l)
          if (d["Model"] == "Kestrel KX" && d["CurrentVers"] == "31.0") return true;
        return false;
      },
      std::chrono::seconds(30));
  const json after = Kestrel("Kestrel KX", 1);
  ASSERT_FALSE(after.is_null());
  EXPECT_EQ("31.0", after["CurrentVers"]);
  EXPECT_EQ("Running Application.", after["SoftStatus"]);
}

// Killed while the image is on its way, and killed once the device has acknowledged it: a
// read afterwards shows the old image or the new one, whole.
TEST_F(HostKilled, MidConfigurationWriteAReadShowsTheOldOrTheNewImage) {
  for (const bool afterAcknowledgement : {false, true}) {
    SCOPED_TRACE(afterAcknowledgement ? "killed after the acknowledgement" : "killed mid-transfer");
    const json before = tessera_test::WaitForConfig(host_->port(), "kestrel kf", 2)["Device"];
    ASSERT_TRUE(before.is_object());
    json changed = before;
    tessera_test::ValuesOf(changed, "Motor Output")["Peak Forward Output"] =
        afterAcknowledgement ? 0.75 : 0.625;
    auto write = std::async(std::launch::async, [&] {
      return tessera_test::CurlSetConfig(host_->port(), "kestrel kf", 2, changed);
    });
    uint32_t writeId = 0;
    int consecutive = 0;
    ASSERT_TRUE(KillHostWhen([&](const CanStreamMessage& f) {
      if (writeId == 0 && IsFirstFrameOf(f, kConfigWrite)) writeId = f.messageID;
      if (writeId == 0) return false;
      if (!afterAcknowledgement)
        return f.messageID == writeId && (f.data[0] & 0xF0) == kIsoConsecutiveFrame &&
               ++consecutive == 20;
      // The acknowledgement comes from the device on the answer ID (the request's + 0x40).
      return f.messageID == writeId + 0x40 && f.dataSize >= 3 && f.data[0] == 2 &&
             f.data[1] == 0x05 && f.data[2] == 0x03;
    })) << "the write never got that far";
    write.get();

    StartHost();
    const json read = tessera_test::WaitForConfig(host_->port(), "kestrel kf", 2);
    ASSERT_EQ(0, ErrorOf(read)) << read.dump(2);
    // The new image as the device holds it: the same document written on a healthy run.
    ASSERT_EQ(0, ErrorOf(tessera_test::CurlSetConfigToAnsweringDevice(host_->port(), "kestrel kf",
                                                                       2, changed)));
    const json written = tessera_test::GetConfig(host_->port(), "kestrel kf", 2)["Device"];
    ASSERT_NE(before, written);
    EXPECT_TRUE(read["Device"] == before || read["Device"] == written)
        << "a mix of both:\n" << read["Device"].dump(2);
    std::cout << (afterAcknowledgement ? "after the acknowledgement" : "mid-transfer")
              << ": the read showed the " << (read["Device"] == before ? "old" : "new") << " image\n";
    // Back to the old image for the next case.
    ASSERT_EQ(0, ErrorOf(tessera_test::CurlSetConfigToAnsweringDevice(host_->port(), "kestrel kf",
                                                                       2, before)));
  }
}

}  // namespace
