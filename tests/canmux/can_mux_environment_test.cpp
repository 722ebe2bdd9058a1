// The environment is read once, at first use, so each case here is the first use of its own
// process: this file holds a single test.
#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "canmux/can_mux.h"
#include "runtime/diag_print.h"

TEST(CanMuxEnvironment, UnusableBackendIsLoggedAsErrorAndFallsBackToNone) {
  setenv("TESSERA_CAN", "socketcan:nosuchcan7", 1);
  setenv("TESSERA_CAN_TRACE", "/nonexistent-dir/trace.log", 1);
  std::mutex mutex;
  std::vector<std::pair<std::string, bool>> logged;
  quor::tessera::diagnostics::SetLogSink([&](const std::string& text, bool isError) {
    std::lock_guard<std::mutex> hold(mutex);
    logged.emplace_back(text, isError);
  });

  uint32_t handle = 0;
  int32_t status = -1;
  FRC_NetworkCommunication_CANSessionMux_openStreamSession(&handle, 0, 0, 4, &status);
  EXPECT_EQ(0, status);
  EXPECT_STREQ("none", CanMux_Backend()->interfaceName());

  quor::tessera::diagnostics::SetLogSink(nullptr);
  ASSERT_EQ(2u, logged.size());
  EXPECT_TRUE(logged[0].second);
  EXPECT_EQ(0u, logged[0].first.find("[tessera] TESSERA_CAN=socketcan:nosuchcan7: "))
      << logged[0].first;
  EXPECT_NE(std::string::npos, logged[0].first.find("using the empty bus")) << logged[0].first;
  EXPECT_TRUE(logged[1].second);
  EXPECT_NE(std::string::npos, logged[1].first.find("/nonexistent-dir/trace.log"));
  CanMuxDispose();
}
