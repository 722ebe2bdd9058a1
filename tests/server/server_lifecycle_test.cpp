// The server singleton's background thread: start delay, stop, restart, port change.
#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>

#include "runtime/cs.h"
#include "runtime/diag_print.h"
#include "runtime/event.h"
#include "server/tessera_diagnostics_server.h"
#include "tests/support/http_client.h"
#include "tests/support/log_capture.h"
#include "tests/support/wait_until.h"

using quor::tessera::diagnostics::TesseraDiagnosticsServer;
using tessera_test::HttpConnection;
using tessera_test::LogCapture;
using tessera_test::WaitForListening;
using namespace std::chrono;

namespace {

bool answersGetVersion(int port) {
  HttpConnection c(port);
  auto response = c.get("/?action=getversion");
  return response && response->body.find("\"ReleaseInfo\": \"ZED2020\"") != std::string::npos;
}

int waitForPort(TesseraDiagnosticsServer& server, milliseconds deadline) {
  tessera_test::WaitUntil([&] { return server.ListeningPort() > 0; }, deadline, milliseconds(2));
  return server.ListeningPort() > 0 ? server.ListeningPort() : -1;
}

}  // namespace

TEST(ServerLifecycle, StartsListeningAfterTheFirstTickWithNoDelay) {
  LogCapture log;
  TesseraDiagnosticsServer server(0, 0);
  EXPECT_TRUE(server.IsRunning());
  const int port = waitForPort(server, seconds(5));
  ASSERT_GT(port, 0);
  EXPECT_TRUE(answersGetVersion(port));
  // The line follows the listening socket, so a client may be answered before it is written.
  EXPECT_TRUE(tessera_test::WaitUntil([&] {
    return log.saw("[tessera] Diagnostic Server 1.8.1 (") &&
           log.saw("running on port: " + std::to_string(port));
  }));
}

TEST(ServerLifecycle, StopThenRestartWithZeroDelayWorksLikeAFreshServer) {
  LogCapture log;
  TesseraDiagnosticsServer server(0, 0);
  int port = waitForPort(server, seconds(5));
  ASSERT_GT(port, 0);
  server.SetSecondsToStart(-1);
  EXPECT_FALSE(server.IsRunning());
  EXPECT_TRUE(log.saw("[tessera] Diagnostic server shutdown cleanly"));
  EXPECT_EQ(server.ListeningPort(), -1);
  EXPECT_FALSE(HttpConnection(port).connected());

  for (int round = 0; round < 3; ++round) {
    server.SetSecondsToStart(0);
    EXPECT_TRUE(server.IsRunning());
    port = waitForPort(server, seconds(5));
    ASSERT_GT(port, 0) << "round " << round;
    EXPECT_TRUE(answersGetVersion(port));
    server.SetSecondsToStart(-1);
  }
}

// A device operation (an upgrade, for minutes) may hold the device-interface lock while the
// background thread wants it for its refresh: a stop must still be clean.
TEST(ServerLifecycle, StopIsCleanWhileADeviceOperationHoldsTheLock) {
  LogCapture log;
  TesseraDiagnosticsServer server(0, 0);
  ASSERT_GT(waitForPort(server, seconds(5)), 0);
  quor::tessera::runtime::Event held, release;
  std::thread operation([&] {
    CsH hold(_lck);
    held.Signal();
    release.WaitForSignalSet(3000);  // ends early once the stop has returned
  });
  ASSERT_TRUE(held.WaitForSignalSet(3000));
  // A refresh comes every 100 ms; give one time to start waiting for the lock.
  std::this_thread::sleep_for(milliseconds(300));
  server.SetSecondsToStart(-1);
  release.Signal();
  operation.join();
  EXPECT_TRUE(log.saw("[tessera] Diagnostic server shutdown cleanly"));
  EXPECT_FALSE(log.saw("could NOT shutdown cleanly"));
  EXPECT_FALSE(server.IsRunning());
}

TEST(ServerLifecycle, DelayOfARunningServerCannotBeChanged) {
  TesseraDiagnosticsServer server(0, 3600);
  server.SetSecondsToStart(0);  // ignored: the thread already counts down
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_EQ(server.ListeningPort(), -1);
  EXPECT_TRUE(server.IsRunning());
}

TEST(ServerLifecycle, LongestDelayCountsDownInsteadOfWrapping) {
  TesseraDiagnosticsServer server(0, 2147483647);
  EXPECT_TRUE(server.IsRunning());
  EXPECT_EQ(server.ListeningPort(), -1);
}

TEST(ServerLifecycle, PortChangeWhileRunningMovesTheListener) {
  TesseraDiagnosticsServer server(0, 0);
  const int first = waitForPort(server, seconds(5));
  ASSERT_GT(first, 0);
  // Pick a concrete free port for the change.
  int second = 0;
  {
    TesseraDiagnosticsServer probe(0, 0);
    second = waitForPort(probe, seconds(5));
    probe.SetSecondsToStart(-1);
  }
  ASSERT_GT(second, 0);
  server.SetServerPort(second);
  ASSERT_TRUE(WaitForListening(second, seconds(5)));
  EXPECT_TRUE(answersGetVersion(second));
  EXPECT_FALSE(HttpConnection(first).connected());
}

TEST(ServerLifecycle, GetInstanceCreatesOneInstance) {
  // A negative delay creates the singleton without starting it, so the test binds no port.
  TesseraDiagnosticsServer& a = TesseraDiagnosticsServer::GetInstance(0, -1);
  TesseraDiagnosticsServer& b = TesseraDiagnosticsServer::GetInstance();
  EXPECT_EQ(&a, &b);
  EXPECT_FALSE(b.IsRunning());
}
