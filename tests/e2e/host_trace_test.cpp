// The host's bus trace as CAN tools read it: candump log lines in time order, with the
// direction suffix when asked, and a closing line that accounts for every frame.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/server_process.h"

using tessera_test::ServerProcess;

namespace {

std::vector<std::string> fileLines(const std::string& path) {
  std::ifstream file(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) lines.push_back(line);
  return lines;
}

bool hasLineEndingIn(const std::vector<std::string>& lines, const std::string& suffix) {
  for (const std::string& line : lines) {
    if (line.size() >= suffix.size() &&
        line.compare(line.size() - suffix.size(), suffix.size(), suffix) == 0) {
      return true;
    }
  }
  return false;
}

TEST(HostTrace, DirectionMarkedLinesInTimeOrderAndAClosingCount) {
  const std::string path = testing::TempDir() + "host_trace_" + std::to_string(getpid()) + ".log";
  ServerProcess server({"--can", "sim", "--start-delay", "0", "--trace", path,
                        "--trace-direction"});
  ASSERT_GT(server.port(), 0) << server.output();
  // The devices ask for dynamic IDs at power-up and the server answers: both directions.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  std::vector<std::string> lines;
  while (std::chrono::steady_clock::now() < until) {
    lines = fileLines(path);
    if (hasLineEndingIn(lines, " R") && hasLineEndingIn(lines, " T")) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_EQ(server.stop(), 0);

  lines = fileLines(path);
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(hasLineEndingIn(lines, " R"));
  EXPECT_TRUE(hasLineEndingIn(lines, " T"));
  const std::regex candump(R"(^\((\d+\.\d{6})\) sim [0-9A-F]{8}#([0-9A-F]{2}){0,8} [RT]$)");
  double previous = 0;
  for (const std::string& line : lines) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, candump)) << line;
    const double seconds = std::stod(match[1]);
    EXPECT_GE(seconds, previous) << line;
    previous = seconds;
  }
  const std::string closing = "[tessera] bus trace " + path + ": " + std::to_string(lines.size()) +
                              " frames written, 0 dropped because the trace buffer was full";
  EXPECT_NE(server.output().find(closing), std::string::npos) << server.output();
  std::remove(path.c_str());
}

}  // namespace
