#pragma once
// The whole server in the test's own process, on the simulated built-in robot (or the devices a
// fixture's Devices() gives), reached over HTTP on a port the kernel picked. Tests change the bus
// through the robot while the server runs and read the simulated devices back.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "canmux/can_mux.h"
#include "server/tessera_diagnostics_server.h"
#include "sim/sim_backend.h"
#include "tests/support/listing.h"
#include "tests/support/sim_paced_engine_clock.h"
#include "tests/support/wait_until.h"

namespace tessera_test {

class InProcessServerTest : public ::testing::Test {
 protected:
  // The devices on the bus; none: the built-in robot.
  virtual std::vector<quor::tessera::sim::DeviceAttributes> Devices() const { return {}; }

  void SetUp() override {
    std::string error;
    const std::vector<quor::tessera::sim::DeviceAttributes> devices = Devices();
    bus_ = devices.empty() ? quor::tessera::sim::MakeSimBus("", &error)
                           : std::make_shared<quor::tessera::sim::SimBackend>(devices);
    ASSERT_TRUE(bus_) << error;
    clock_ = std::make_unique<SimPacedEngineClock>(bus_->robot());
    CanMux_SetBackend(bus_);
    server_ = std::make_unique<quor::tessera::diagnostics::TesseraDiagnosticsServer>(0, 0);
    ASSERT_TRUE(WaitForPort());
  }
  void TearDown() override {
    server_.reset();
    CanMux_SetBackend(nullptr);
    clock_.reset();
    bus_.reset();
  }

  bool WaitForPort() {
    return WaitUntil([this] { return server_->ListeningPort() > 0; }, std::chrono::seconds(10),
                     std::chrono::milliseconds(10));
  }
  int Port() const { return server_->ListeningPort(); }
  quor::tessera::sim::SimRobot& robot() { return bus_->robot(); }

  // Asks for the listing until `holds` accepts it or the deadline passes; the last one.
  nlohmann::json WaitForListing(const std::function<bool(const nlohmann::json&)>& holds,
                                std::chrono::seconds deadline = std::chrono::seconds(30)) {
    return tessera_test::WaitForListing(Port(), holds, deadline);
  }

  std::shared_ptr<quor::tessera::sim::SimBackend> bus_;
  // The engine's waits run on the devices' time (a loaded machine holding the simulation
  // thread back does not turn an answering device into a silent one).
  std::unique_ptr<SimPacedEngineClock> clock_;
  std::unique_ptr<quor::tessera::diagnostics::TesseraDiagnosticsServer> server_;
};

}  // namespace tessera_test
