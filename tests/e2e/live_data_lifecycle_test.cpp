// The plotter and direct control live as long as the server, in this process on the simulated
// robot: a stop ends the control frames at once (a host exits right after it), and a restarted
// server plots and drives as a new one.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "canmux/can_mux.h"
#include "server/tessera_diagnostics_server.h"
#include "sim/sim_backend.h"
#include "tests/e2e/expected_listing.h"
#include "tests/support/bus_recorder.h"
#include "tests/support/listing.h"
#include "tests/support/wait_until.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using quor::tessera::diagnostics::TesseraDiagnosticsServer;

constexpr uint32_t kKestrelControlId = 0x02040201;
constexpr uint32_t kEnableId = 0x000401BF;
constexpr char kDrive[] =
    "/?action=control&model=kestrel+kx&id=1&controlen=true&nonfrcroboten=true&demand0=512";
constexpr char kPlot[] = "/?action=plot&model=kestrel+kx&id=1";

class LiveDataOnSimulatedRobot : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    bus_ = quor::tessera::sim::MakeSimBus("", &error);
    ASSERT_TRUE(bus_) << error;
    bus_->attach(&frames_);
    CanMux_SetBackend(bus_);
    server_ = std::make_unique<TesseraDiagnosticsServer>(0, 0);
    ASSERT_TRUE(StartedWithKestrelListed());
  }
  void TearDown() override {
    server_.reset();
    CanMux_SetBackend(nullptr);
    bus_->detach(&frames_);
  }

  bool StartedWithKestrelListed() {
    if (!tessera_test::WaitUntil([&] { return server_->ListeningPort() > 0; }, 10s, 10ms))
      return false;
    const json listing = tessera_test::WaitForListing(
        server_->ListeningPort(),
        [](const json& l) { return !tessera_test::FindEntry(l, "Kestrel KX", 1).is_null(); }, 30s);
    return !tessera_test::FindEntry(listing, "Kestrel KX", 1).is_null();
  }

  json Get(const std::string& target) {
    return tessera_test::GetJson(server_->ListeningPort(), target);
  }

  size_t ControlAndEnableFrames() const {
    return frames_.framesWithId(kKestrelControlId).size() + frames_.framesWithId(kEnableId).size();
  }

  // True when no control or enable frame beyond `count` goes out for longer than a run-out.
  bool NoFrameAfter(size_t count) {
    return !tessera_test::WaitUntil([&] { return ControlAndEnableFrames() > count; }, 200ms, 1ms);
  }

  tessera_test::RecordingEndpoint frames_;
  std::shared_ptr<quor::tessera::sim::SimBackend> bus_;
  std::unique_ptr<TesseraDiagnosticsServer> server_;
};

}  // namespace

TEST_F(LiveDataOnSimulatedRobot, StopEndsControlAtOnceAndARestartedServerStartsAfresh) {
  ASSERT_EQ(Get(kDrive)["GeneralReturn"]["Error"], 0);
  ASSERT_EQ(Get(std::string(kPlot) + "&channels=1")["GeneralReturn"]["Error"], 0);
  ASSERT_TRUE(tessera_test::WaitUntil([&] { return Get(kPlot)["Count"] > 0; }, 3s, 10ms));

  server_->SetSecondsToStart(-1);
  EXPECT_TRUE(NoFrameAfter(ControlAndEnableFrames()));

  server_->SetSecondsToStart(0);
  ASSERT_TRUE(StartedWithKestrelListed());
  const json plot = Get(kPlot);
  EXPECT_EQ(plot["GeneralReturn"]["Error"], 0);
  EXPECT_EQ(plot["Channels"], 3);
  EXPECT_EQ(plot["Count"], 0);
  const size_t before = frames_.framesWithId(kKestrelControlId).size();
  ASSERT_EQ(Get(kDrive)["GeneralReturn"]["Error"], 0);
  EXPECT_TRUE(tessera_test::WaitUntil(
      [&] { return frames_.framesWithId(kKestrelControlId).size() >= before + 9; }, 3s, 1ms));
}
