// The browser page end to end. This process runs the whole server on the simulated robot and
// node's test runner drives the page in headless Chromium against it (page_scenarios.mjs).
// The scenarios check every effect through the server's own answers and through the simulated
// devices, which this process shows them over a small HTTP side channel of its own: what each
// device holds and counts, and how the Kestrel KX's applied output changed over time.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include <httplib.h>
#include <nlohmann/json.hpp>

#include "runtime/monotonic_clock.h"
#include "server/search_dir.h"
#include "sim/command_effects.h"
#include "sim/device_attributes.h"
#include "sim/family_traits.h"
#include "tests/support/in_process_server.h"

namespace {

using nlohmann::json;
using quor::tessera::sim::DeviceAttributes;
using quor::tessera::sim::TraitsOf;

constexpr char kChromium[] = "/usr/bin/chromium";
constexpr int kSamplePeriodUs = 2000;

std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (uint8_t b : bytes) {
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
  }
  return text;
}

// Runs `command` through the shell; its output (both streams) and exit status.
std::pair<std::string, int> RunShell(const std::string& command) {
  std::string out;
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return {"popen failed", -1};
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) out.append(buffer, n);
  const int status = pclose(pipe);
  return {out, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

class BrowserPageTest : public tessera_test::InProcessServerTest {
 protected:
  // What every simulated device holds and has been asked to do.
  json Devices() {
    json list = json::array();
    for (size_t i = 0; i < robot().deviceCount(); ++i) {
      DeviceAttributes device;
      quor::tessera::sim::CommandEffects effects(device.family);
      std::vector<uint8_t> image;
      uint32_t writes = 0;
      if (!robot().attributes(i, &device)) continue;
      robot().commandEffects(i, &effects);
      robot().configImage(i, &image, &writes);
      list.push_back({{"family", TraitsOf(device.family).fileName},
                      {"number", device.deviceNumber},
                      {"firmware", quor::tessera::sim::FirmwareText(device)},
                      {"name", device.customName},
                      {"blinks", effects.ledBlinks()},
                      {"factoryDefaults", effects.factoryDefaults()},
                      {"calibrations", effects.calibrationsStarted()},
                      {"output", device.state.motor.output},
                      {"configImage", Hex(image)},
                      {"configWrites", writes}});
    }
    return list;
  }

  // Samples the Kestrel KX's applied output until stopped, keeping each change with its time on
  // the monotonic clock (which node's process.hrtime reads too).
  void SampleOutput(size_t index) {
    double last = -2.0;
    while (sampling_) {
      DeviceAttributes device;
      if (robot().attributes(index, &device) && device.state.motor.output != last) {
        last = device.state.motor.output;
        std::lock_guard<std::mutex> hold(samplesMutex_);
        samples_.push_back({{"us", quor::tessera::runtime::MonotonicMicros()}, {"output", last}});
      }
      std::this_thread::sleep_for(std::chrono::microseconds(kSamplePeriodUs));
    }
  }

  std::atomic<bool> sampling_{true};
  std::mutex samplesMutex_;
  json samples_ = json::array();
};

TEST_F(BrowserPageTest, EveryPanelDoesItsJobInChromium) {
  ASSERT_EQ(access(kChromium, X_OK), 0) << kChromium << " is missing: scripts/test installs "
                                        << "Debian's chromium package";
  size_t kx = robot().deviceCount();
  for (size_t i = 0; i < robot().deviceCount(); ++i) {
    DeviceAttributes device;
    if (robot().attributes(i, &device) && device.family == quor::tessera::sim::DeviceFamily::kKestrelKx)
      kx = i;
  }
  ASSERT_LT(kx, robot().deviceCount());
  std::thread sampler([&] { SampleOutput(kx); });

  httplib::Server probe;
  probe.Get("/devices", [&](const httplib::Request&, httplib::Response& res) {
    res.set_content(Devices().dump(), "application/json");
  });
  probe.Get("/output-changes", [&](const httplib::Request&, httplib::Response& res) {
    std::lock_guard<std::mutex> hold(samplesMutex_);
    res.set_content(samples_.dump(), "application/json");
  });
  const int probePort = probe.bind_to_any_port("127.0.0.1");
  ASSERT_GT(probePort, 0);
  std::thread prober([&] { probe.listen_after_bind(); });

  // Firmware files made by the same tool a user would use; the folder is the server's search
  // directory too, so that a file in it can be named (the scenarios add a configuration document).
  const std::string folder = testing::TempDir() + "tessera-page-" + std::to_string(getpid());
  const std::string good = folder + "/kx-21.0.bfl";
  const std::string foreign = folder + "/kf-30.0.bfl";
  const std::string onServer = "kx-22.0.bfl";
  RunShell("mkdir -p '" + folder + "'");
  ASSERT_EQ(RunShell(std::string(TESSERA_MAKE_BFL_BINARY) +
                " --family 'kestrel kx' --version 21.0 --sectors 64 -o '" + good + "'").second, 0);
  ASSERT_EQ(RunShell(std::string(TESSERA_MAKE_BFL_BINARY) +
                " --family 'kestrel kf' --version 30.0 --sectors 2 -o '" + foreign + "'").second, 0);
  ASSERT_EQ(RunShell(std::string(TESSERA_MAKE_BFL_BINARY) +
                " --family 'kestrel kx' --version 22.0 --sectors 8 -o '" + folder + "/" + onServer + "'").second, 0);
  SetSearchDir(folder);

  const std::string command =
      "TESSERA_PAGE_URL='http://127.0.0.1:" + std::to_string(Port()) + "/ui/' "
      "TESSERA_PROBE_URL='http://127.0.0.1:" + std::to_string(probePort) + "' "
      "TESSERA_BFL_FILE='" + good + "' TESSERA_FOREIGN_BFL_FILE='" + foreign + "' "
      "TESSERA_SERVER_BFL_NAME='" + onServer + "' TESSERA_SEARCH_DIR='" + folder + "' "
      "TESSERA_SCREENSHOT_DIR='" TESSERA_SCREENSHOT_DIR "' TESSERA_CHROMIUM='" + kChromium + "' "
      "'" TESSERA_NODE_BINARY "' --test --test-reporter=tap '" TESSERA_PAGE_SCENARIOS "'";
  const auto [output, status] = RunShell(command);
  std::cout << output;

  sampling_ = false;
  sampler.join();
  probe.stop();
  prober.join();
  SetSearchDir("");
  RunShell("rm -rf '" + folder + "'");
  EXPECT_EQ(status, 0) << "the browser scenarios failed (their output is above)";
}

}  // namespace
