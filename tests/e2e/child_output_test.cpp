// The harness that runs the host as a child process reads its output all the time. A pipe
// nobody reads holds 64 KiB; the host's next log line then blocks the request that writes it,
// which an hour's soak once took for a request the server never answered.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>

#include "tests/support/server_process.h"
#include "tests/support/wait_until.h"

namespace {

std::string CommandOf(pid_t pid) {
  std::string name;
  std::ifstream("/proc/" + std::to_string(pid) + "/comm") >> name;
  return name;
}

TEST(ChildProcessOutput, AChildThatWritesMoreThanAPipeHoldsIsNeverHeldUp) {
  // Writes 256 KiB without being asked for it, then becomes "sleep": only a child whose writes
  // all went through gets there.
  tessera_test::ChildProcess child(
      {"/bin/sh", "-c", "echo ready; head -c 262144 /dev/zero; exec sleep 30"},
      std::regex("ready"), std::chrono::seconds(5));
  ASSERT_TRUE(child.ready());
  EXPECT_TRUE(tessera_test::WaitUntil([&] { return CommandOf(child.pid()) == "sleep"; },
                                      std::chrono::seconds(10), std::chrono::milliseconds(20)));
  EXPECT_GE(child.output().size(), 262144u + 6);
}

}  // namespace
