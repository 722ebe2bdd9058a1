// Configuration writes judged by the bytes the simulated devices hold: a document sent back
// unchanged (with curl, or by the command-line client's backup and restore) leaves every byte as
// it was, and a write that cannot be confirmed answers a failure, says why in the log, and
// leaves the device either as it was or holding exactly what was sent. The devices start from
// random images, so every field holds something other than its factory value. Field positions
// and encodings are the device image map's, worked out by hand.
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "runtime/diag_print.h"
#include "sim/builtin_robot.h"
#include "sim/device_file.h"
#include "tests/support/config_requests.h"
#include "tests/support/in_process_server.h"

namespace {

using nlohmann::json;
using quor::tessera::sim::DeviceAttributes;
using quor::tessera::sim::DeviceFamily;
using tessera_test::CurlSetConfigToAnsweringDevice;
using tessera_test::ErrorOf;
using tessera_test::GetConfig;
using tessera_test::ValuesOf;
using tessera_test::WaitForConfig;

// A random image of the device's family: its length and marker, every other byte random.
void GiveRandomImage(DeviceAttributes& device, uint32_t seed) {
  const std::map<DeviceFamily, std::pair<size_t, uint8_t>> shapes = {
      {DeviceFamily::kKestrelKx, {356, 2}}, {DeviceFamily::kKestrelKf, {412, 2}},
      {DeviceFamily::kHarrierHx, {356, 2}}, {DeviceFamily::kCandial, {52, 1}},
      {DeviceFamily::kWren, {128, 1}}};
  const auto shape = shapes.find(device.family);
  if (shape == shapes.end()) return;
  std::mt19937 random(seed);
  device.config.startImage.resize(shape->second.first);
  for (uint8_t& byte : device.config.startImage) byte = static_cast<uint8_t>(random());
  device.config.startImage[0] = shape->second.second;
  std::fill(device.config.startImage.begin() + 1, device.config.startImage.begin() + 4, 0);
}

// Log lines of the server while a test runs.
class LogLines {
 public:
  LogLines() {
    quor::tessera::diagnostics::SetLogSink([this](const std::string& text, bool) {
      std::lock_guard<std::mutex> hold(mutex_);
      lines_ += text + "\n";
    });
  }
  ~LogLines() { quor::tessera::diagnostics::SetLogSink(nullptr); }
  std::string text() const {
    std::lock_guard<std::mutex> hold(mutex_);
    return lines_;
  }

 private:
  mutable std::mutex mutex_;
  std::string lines_;
};

class ConfigurationIntegrity : public tessera_test::InProcessServerTest {
 protected:
  // The built-in robot with random images, and a Kestrel KX whose model text has more to it.
  std::vector<DeviceAttributes> Devices() const override {
    std::vector<DeviceAttributes> devices = quor::tessera::sim::BuiltInRobot();
    DeviceAttributes pro = quor::tessera::sim::DefaultDevice(DeviceFamily::kKestrelKx, 7);
    pro.reportedModel = "Kestrel KX Pro";
    devices.push_back(pro);
    for (size_t i = 0; i < devices.size(); ++i) GiveRandomImage(devices[i], static_cast<uint32_t>(100 + i));
    return devices;
  }
  void SetUp() override {
    InProcessServerTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(WaitForListing([](const json& l) { return l.size() == 9; }).size(), 9u);
  }

  std::vector<uint8_t> Image(size_t index, uint32_t* writes = nullptr) {
    std::vector<uint8_t> image;
    EXPECT_TRUE(robot().configImage(index, &image, writes));
    return image;
  }

  struct ConfigDevice {
    size_t index;
    const char* model;
    int id;
  };
  const std::vector<ConfigDevice> configDevices_ = {{2, "kestrel kx", 1}, {3, "kestrel kf", 2},
                                                    {4, "harrier hx", 3}, {5, "wren", 4},
                                                    {6, "candial", 5},    {8, "kestrel kx pro", 7}};
};

TEST_F(ConfigurationIntegrity, AnUnchangedDocumentLeavesEveryByteOfTheDevice) {
  for (const ConfigDevice& d : configDevices_) {
    SCOPED_TRACE(d.model);
    const json got = WaitForConfig(Port(), d.model, d.id);
    ASSERT_EQ(ErrorOf(got), 0) << got.dump();
    uint32_t writesBefore = 0;
    const std::vector<uint8_t> before = Image(d.index, &writesBefore);
    const json written = CurlSetConfigToAnsweringDevice(Port(), d.model, d.id, got["Device"]);
    EXPECT_EQ(ErrorOf(written), 0) << written.dump();
    EXPECT_EQ(written["Device"], got["Device"]);
    uint32_t writesAfter = 0;
    EXPECT_EQ(Image(d.index, &writesAfter), before);
    EXPECT_GT(writesAfter, writesBefore);  // really written, and read back
  }
}

TEST_F(ConfigurationIntegrity, BackupThenRestoreWithTheClientLeavesEveryByte) {
  for (const ConfigDevice& d : configDevices_) ASSERT_EQ(ErrorOf(WaitForConfig(Port(), d.model, d.id)), 0);
  char dir[] = "/tmp/tessera-backup-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  std::map<size_t, std::vector<uint8_t>> before;
  for (const ConfigDevice& d : configDevices_) before[d.index] = Image(d.index);
  const std::string client = std::string(TESSERA_CLI_BINARY) + " --port " + std::to_string(Port()) + " config ";
  const std::string backup = tessera_test::RunCommand(client + "backup " + dir + " 2>&1; echo status $?");
  ASSERT_NE(backup.find("status 0"), std::string::npos) << backup;
  // A device slow to answer on a loaded machine (tessera_test::DeviceWasSlow) is written again
  // with the next run.
  std::string restore;
  for (int attempt = 0; attempt < 3; ++attempt) {
    restore = tessera_test::RunCommand(client + "restore " + dir + " 2>&1; echo status $?");
    bool slow = false;
    for (const char* code : {"error -102", "error -125", "error -133"}) slow = slow || restore.find(code) != std::string::npos;
    if (!slow) break;
  }
  EXPECT_NE(restore.find("status 0"), std::string::npos) << restore;
  for (const ConfigDevice& d : configDevices_) {
    uint32_t writes = 0;
    EXPECT_EQ(Image(d.index, &writes), before[d.index]) << d.model;
    EXPECT_GE(writes, 1u) << d.model;
  }
  tessera_test::RunCommand(std::string("rm -rf ") + dir);
}

TEST_F(ConfigurationIntegrity, AValueItsFieldCannotHoldIsRefusedBeforeAnythingIsSent) {
  LogLines log;
  json document = WaitForConfig(Port(), "kestrel kx", 1)["Device"];
  const std::vector<uint8_t> before = Image(2);
  ValuesOf(document, "Slot 0")["kP"] = -0.5;
  ValuesOf(document, "Motor Output")["Peak Forward Output"] = 0.5;  // a valid change beside it
  const json answer = CurlSetConfigToAnsweringDevice(Port(), "kestrel kx", 1, document);
  EXPECT_EQ(ErrorOf(answer), -132);
  EXPECT_TRUE(!answer.contains("Device") || answer["Device"].is_null()) << answer.dump();  // nothing written
  uint32_t writes = 99;
  EXPECT_EQ(Image(2, &writes), before);
  EXPECT_EQ(writes, 0u);
  EXPECT_NE(log.text().find("setconfig kestrel kx 1: values their fields cannot hold, nothing was written: "
                            "SlotGroup 0 / kP = -0.5"),
            std::string::npos)
      << log.text();
}

// Devices that take a write in a way the server must not report as success, and one that is
// merely slow to take it.
class ConfigurationFailures : public tessera_test::InProcessServerTest {
 protected:
  std::vector<DeviceAttributes> Devices() const override {
    using quor::tessera::sim::DefaultDevice;
    DeviceAttributes slow = DefaultDevice(DeviceFamily::kKestrelKf, 1);
    slow.flowControlSeparation_ms = 5;
    DeviceAttributes clamping = DefaultDevice(DeviceFamily::kKestrelKx, 2);
    clamping.config.clamp = quor::tessera::sim::ConfigClamp{32, 0, 500};  // peak forward at most 0.4888
    DeviceAttributes silent = DefaultDevice(DeviceFamily::kKestrelKx, 3);
    silent.config.readsAfterWrite = quor::tessera::sim::ReadsAfterWrite::kSilent;
    DeviceAttributes shortAfter = DefaultDevice(DeviceFamily::kHarrierHx, 4);
    shortAfter.config.readsAfterWrite = quor::tessera::sim::ReadsAfterWrite::kShort;
    DeviceAttributes listedAsKf = DefaultDevice(DeviceFamily::kKestrelKx, 5);
    listedAsKf.reportedModel = "Kestrel KF";
    DeviceAttributes answers0500 = DefaultDevice(DeviceFamily::kKestrelKx, 6);
    answers0500.config.writeAnswer = {0x05, 0x00};
    std::vector<DeviceAttributes> devices = {slow, clamping, silent, shortAfter, listedAsKf, answers0500};
    for (size_t i = 0; i < devices.size(); ++i) GiveRandomImage(devices[i], static_cast<uint32_t>(200 + i));
    return devices;
  }
  void SetUp() override {
    InProcessServerTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(WaitForListing([](const json& l) { return l.size() == 6; }).size(), 6u);
  }
};

TEST_F(ConfigurationFailures, EachAnswerSaysWhatTheDeviceHolds) {
  enum class Effect { kUnchanged, kHoldsWhatWasSent, kHoldsItsOwnValue };
  struct Case {
    const char* name;
    size_t index;
    const char* model;
    int id;
    int error;
    Effect effect;
    const char* logged;  // "" = no log line
  };
  // Each sends "Peak Forward Output" 0.75: 767 at position 32.
  const Case cases[] = {
      {"slow to take the image", 0, "kestrel kf", 1, 0, Effect::kHoldsWhatWasSent, ""},
      {"keeps 0.4888 instead", 1, "kestrel kx", 2, -132, Effect::kHoldsItsOwnValue,
       "the device holds other values than were sent: MotorOutputGroup / Peak Forward Output"},
      {"no read-back", 2, "kestrel kx", 3, -605, Effect::kHoldsWhatWasSent, "what it holds is unverified"},
      {"half a read-back", 3, "harrier hx", 4, -605, Effect::kHoldsWhatWasSent, "what it holds is unverified"},
      {"its images are not whole", 4, "kestrel kf", 5, -128, Effect::kUnchanged,
       "no whole configuration image of the device has arrived yet"},
      {"takes it, answers 05 00", 5, "kestrel kx", 6, -133, Effect::kHoldsWhatWasSent,
       "another answer than an acknowledgement"},
  };
  // A Kestrel KF document for the device whose own images never arrive whole.
  const json kfDocument = WaitForConfig(Port(), "kestrel kf", 1)["Device"];
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LogLines log;
    std::vector<uint8_t> before;
    uint32_t writesBefore = 0;
    ASSERT_TRUE(robot().configImage(c.index, &before, &writesBefore));
    const json got = c.error == -128 ? GetConfig(Port(), c.model, c.id) : WaitForConfig(Port(), c.model, c.id);
    json document = c.error == -128 ? kfDocument : got["Device"];
    if (c.error == -128) {
      EXPECT_EQ(ErrorOf(got), -128);
    }
    ValuesOf(document, "Motor Output")["Peak Forward Output"] = 0.75;
    json answer = CurlSetConfigToAnsweringDevice(Port(), c.model, c.id, document);
    EXPECT_EQ(ErrorOf(answer), c.error) << answer["GeneralReturn"].dump();
    // "Device" is a read-back the device really sent, or absent.
    const bool readBack = c.error == 0 || c.effect == Effect::kHoldsItsOwnValue;
    EXPECT_EQ(answer.contains("Device") && !answer["Device"].is_null(), readBack) << answer.dump();

    std::vector<uint8_t> sent = before;
    sent[32] = 0xFF;  // 767
    sent[33] = 0x02;
    sent[34] = sent[35] = 0;
    std::vector<uint8_t> after;
    uint32_t writes = 0;
    ASSERT_TRUE(robot().configImage(c.index, &after, &writes));
    switch (c.effect) {
      case Effect::kUnchanged:
        EXPECT_EQ(after, before);
        EXPECT_EQ(writes, writesBefore);
        break;
      case Effect::kHoldsWhatWasSent:
        EXPECT_EQ(after, sent);
        break;
      case Effect::kHoldsItsOwnValue:
        sent[32] = 0xF4;  // 500
        sent[33] = 0x01;
        EXPECT_EQ(after, sent);
        EXPECT_EQ(ValuesOf(answer["Device"], "Motor Output")["Peak Forward Output"], 500.0 / 1023);
        break;
    }
    if (*c.logged != '\0') {
      EXPECT_NE(log.text().find(std::string("setconfig ") + c.model + " " + std::to_string(c.id) + ": "),
                std::string::npos)
          << log.text();
      EXPECT_NE(log.text().find(c.logged), std::string::npos) << log.text();
    }
  }
}

}  // namespace
