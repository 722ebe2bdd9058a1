// The plotter and direct control live as long as the server, in this process on the simulated
// robot: a stop ends the control frames at once, even while a PC tool still drives (a host
// exits right after it), and a restarted server plots and drives as a new one.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/e2e/expected_listing.h"
#include "tests/support/bus_recorder.h"
#include "tests/support/in_process_server.h"
#include "tests/support/wait_until.h"

namespace {

using namespace std::chrono_literals;
using nlohmann::json;

constexpr uint32_t kKestrelControlId = 0x02040201;
constexpr uint32_t kEnableId = 0x000401BF;
constexpr char kDrive[] =
    "/?action=control&model=kestrel+kx&id=1&controlen=true&nonfrcroboten=true&demand0=512";
constexpr char kPlot[] = "/?action=plot&model=kestrel+kx&id=1";

class LiveDataOnSimulatedRobot : public tessera_test::InProcessServerTest {
 protected:
  void SetUp() override {
    InProcessServerTest::SetUp();
    if (HasFatalFailure()) return;
    bus_->attach(&frames_);
    ASSERT_TRUE(KestrelListed());
  }
  void TearDown() override {
    if (bus_) bus_->detach(&frames_);
    InProcessServerTest::TearDown();
  }

  bool KestrelListed() {
    const json listing = WaitForListing(
        [](const json& l) { return !tessera_test::FindEntry(l, "Kestrel KX", 1).is_null(); });
    return !tessera_test::FindEntry(listing, "Kestrel KX", 1).is_null();
  }

  json Get(const std::string& target) { return tessera_test::GetJson(Port(), target); }

  size_t ControlAndEnableFrames() const {
    return frames_.framesWithId(kKestrelControlId).size() + frames_.framesWithId(kEnableId).size();
  }

  // True when no control or enable frame beyond `count` goes out for longer than a run-out.
  bool NoFrameAfter(size_t count) {
    return !tessera_test::WaitUntil([&] { return ControlAndEnableFrames() > count; }, 200ms, 1ms);
  }

  tessera_test::RecordingEndpoint frames_;
};

}  // namespace

TEST_F(LiveDataOnSimulatedRobot, StopEndsControlAtOnceAndARestartedServerStartsAfresh) {
  ASSERT_EQ(Get(std::string(kPlot) + "&channels=1")["GeneralReturn"]["Error"], 0);
  ASSERT_TRUE(tessera_test::WaitUntil([&] { return Get(kPlot)["Count"] > 0; }, 3s, 10ms));

  // A PC tool that keeps driving the motor while the server stops: control is running at the
  // stop, and requests race it.
  const int port = Port();
  std::atomic<bool> driving{true};
  std::thread tool([&] {
    while (driving) {
      tessera_test::GetJson(port, kDrive);
      std::this_thread::sleep_for(20ms);
    }
  });
  const size_t running = ControlAndEnableFrames() + 4;
  EXPECT_TRUE(tessera_test::WaitUntil([&] { return ControlAndEnableFrames() >= running; }, 3s, 1ms));
  server_->SetSecondsToStart(-1);
  EXPECT_TRUE(NoFrameAfter(ControlAndEnableFrames()));
  driving = false;
  tool.join();

  server_->SetSecondsToStart(0);
  ASSERT_TRUE(WaitForPort());
  ASSERT_TRUE(KestrelListed());
  const json plot = Get(kPlot);
  EXPECT_EQ(plot["GeneralReturn"]["Error"], 0);
  EXPECT_EQ(plot["Channels"], 3);
  EXPECT_EQ(plot["Count"], 0);
  const size_t before = frames_.framesWithId(kKestrelControlId).size();
  ASSERT_EQ(Get(kDrive)["GeneralReturn"]["Error"], 0);
  EXPECT_TRUE(tessera_test::WaitUntil(
      [&] { return frames_.framesWithId(kKestrelControlId).size() >= before + 9; }, 3s, 1ms));
}
