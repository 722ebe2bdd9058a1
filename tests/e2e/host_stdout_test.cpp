// The host whose standard output nobody reads any more (piped into `head`, a log collector that
// died): prints must fail quietly, and a stop must still be clean.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "tests/support/http_client.h"
#include "tests/support/wait_until.h"

using namespace std::chrono;
using tessera_test::WaitUntil;

namespace {

// The TCP port the process listens on, found through its socket descriptors: its standard
// output, where it names the port, is the closed pipe under test.
int listeningPortOf(pid_t pid) {
  const std::string proc = "/proc/" + std::to_string(pid);
  std::set<std::string> inodes;
  std::error_code error;
  for (const auto& fd : std::filesystem::directory_iterator(proc + "/fd", error)) {
    const std::string target = std::filesystem::read_symlink(fd.path(), error).string();
    if (target.rfind("socket:[", 0) == 0) inodes.insert(target.substr(8, target.size() - 9));
  }
  // The host listens on an IPv6 socket that takes IPv4 too, or on IPv4 alone.
  for (const char* family : {"/net/tcp6", "/net/tcp"}) {
    std::ifstream table(proc + family);
    std::string line;
    std::getline(table, line);  // column titles
    while (std::getline(table, line)) {
      std::istringstream fields(line);
      std::string slot, local, remote, state, queues, timer, retransmits, uid, timeout, inode;
      fields >> slot >> local >> remote >> state >> queues >> timer >> retransmits >> uid >> timeout >> inode;
      if (state == "0A" && inodes.count(inode)) return std::stoi(local.substr(local.rfind(':') + 1), nullptr, 16);
    }
  }
  return -1;
}

}  // namespace

TEST(HostStandardOutput, AClosedPipeNeitherKillsTheServerNorSpoilsItsStop) {
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  close(out[0]);  // nobody will ever read what the host prints
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], STDOUT_FILENO);
    execl(TESSERA_HOST_BINARY, TESSERA_HOST_BINARY, "--port", "0", "--start-delay", "0", "--can",
          "none", "--verbose", static_cast<char*>(nullptr));
    _exit(127);
  }
  close(out[1]);
  int port = -1;
  int status = 0;
  bool ended = false;
  WaitUntil(
      [&] {
        ended = waitpid(pid, &status, WNOHANG) == pid;
        port = ended ? -1 : listeningPortOf(pid);
        return ended || port > 0;
      },
      seconds(20), milliseconds(10));
  ASSERT_FALSE(ended) << "the host died while printing its start-up lines";
  ASSERT_GT(port, 0);
  {
    // Debug prints are on (--verbose); the request that switches them on again is a print too.
    tessera_test::HttpConnection connection(port);
    auto response = connection.get("/?action=enablelog");
    ASSERT_TRUE(response);
    EXPECT_NE(response->body.find("\"Error\": 0"), std::string::npos);
  }
  kill(pid, SIGTERM);
  if (!WaitUntil([&] { return waitpid(pid, &status, WNOHANG) == pid; }, seconds(10), milliseconds(10))) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    FAIL() << "the host did not stop";
  }
  EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}
