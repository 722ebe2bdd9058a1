#pragma once
// Starts the real tessera-diag-server as a child process on a free port and talks to it over
// HTTP: through our own socket client, or through curl.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/http_client.h"

namespace tessera_test {

// A program of ours as a child process, its standard output and error collected, started and
// considered ready once a line matching `ready` appeared (or it ended, or the deadline passed).
class ChildProcess {
 public:
  ChildProcess(std::vector<std::string> argv, const std::regex& ready,
               std::chrono::milliseconds startDeadline) {
    // Built before fork: the child of a threaded process may only make async-signal-safe
    // calls, and an allocation there can hang on a lock another thread held at the fork.
    std::vector<char*> args;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      dup2(out[1], STDERR_FILENO);
      close(out[0]);
      close(out[1]);
      execv(args[0], args.data());
      _exit(127);
    }
    close(out[1]);
    outFd_ = out[0];
    fcntl(outFd_, F_SETFL, O_NONBLOCK);
    reader_ = std::thread([this] { drainOutput(); });
    const auto until = std::chrono::steady_clock::now() + startDeadline;
    std::unique_lock<std::mutex> hold(outputMutex_);
    while (std::chrono::steady_clock::now() < until) {
      std::smatch match;
      if (std::regex_search(output_, match, ready)) {
        for (const auto& group : match) readyGroups_.push_back(group.str());
        break;
      }
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exitStatus_ = status;
        pid_ = -1;
        break;
      }
      outputGrew_.wait_for(hold, std::chrono::milliseconds(50));
    }
  }

  ~ChildProcess() {
    stop();
    stopReading();
  }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }  // -1 once the process has ended
  bool ready() const { return !readyGroups_.empty(); }
  // The ready line's match and its groups.
  const std::vector<std::string>& readyLine() const { return readyGroups_; }
  // Everything the process has written so far.
  std::string output() {
    std::lock_guard<std::mutex> hold(outputMutex_);
    return output_;
  }

  // SIGTERM and wait (with a deadline; SIGKILL after it). Returns the exit status.
  std::optional<int> stop(std::chrono::milliseconds deadline = std::chrono::seconds(10)) {
    if (pid_ <= 0) return exitStatus_ ? std::optional<int>(WEXITSTATUS(*exitStatus_)) : std::nullopt;
    kill(pid_, SIGTERM);
    const auto until = std::chrono::steady_clock::now() + deadline;
    int status = 0;
    while (std::chrono::steady_clock::now() < until) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        exitStatus_ = status;
        stopReading();
        return WIFEXITED(status) ? std::optional<int>(WEXITSTATUS(status)) : std::nullopt;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    killNow();
    return std::nullopt;
  }

  // SIGKILL: the process ends where it stands, with no clean-up of its own.
  void killNow() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    exitStatus_ = status;
    pid_ = -1;
    stopReading();
  }

 private:
  // Read all the time, not only when asked: a process whose pipe is full (64 KiB) blocks in
  // its next write, so a long run that logs would stall where it logs.
  void drainOutput() {
    char buffer[4096];
    for (;;) {
      pollfd p{outFd_, POLLIN, 0};
      if (poll(&p, 1, kReaderPollMs) > 0) {
        const ssize_t n = read(outFd_, buffer, sizeof(buffer));
        if (n > 0) {
          std::lock_guard<std::mutex> hold(outputMutex_);
          output_.append(buffer, static_cast<size_t>(n));
          outputGrew_.notify_all();
          continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EINTR)) return;  // every writer has gone
      } else if (finishing_) {
        return;  // the process has ended and a grandchild may hold the pipe: nothing more now
      }
    }
  }

  // Once the process has ended: takes the rest of its output and ends the reader.
  void stopReading() {
    if (!reader_.joinable()) return;
    finishing_ = true;
    reader_.join();
    close(outFd_);
    outFd_ = -1;
  }

  static constexpr int kReaderPollMs = 20;

  pid_t pid_ = -1;
  int outFd_ = -1;
  std::thread reader_;
  std::atomic<bool> finishing_{false};
  std::mutex outputMutex_;
  std::condition_variable outputGrew_;
  std::string output_;
  std::vector<std::string> readyGroups_;
  std::optional<int> exitStatus_;
};

// The host program, on a port the kernel picked and its "running on port" line names.
class ServerProcess : public ChildProcess {
 public:
  // Arguments after the binary; "--port 0" is added so the kernel picks a free port, which the
  // server reports on its "running on port" line, and "--can sim" (the built-in robot) when the
  // test names no bus: the host's own default is the robot's real interface.
  explicit ServerProcess(std::vector<std::string> args,
                         std::chrono::milliseconds startDeadline = std::chrono::seconds(20))
      : ChildProcess(WithBinary(std::move(args)), std::regex("running on port: ([0-9]+)"),
                     startDeadline) {
    if (ready()) port_ = std::stoi(readyLine()[1]);
  }

  int port() const { return port_; }

  // The JSON answer to "/?query"; discarded when none came.
  nlohmann::json get(const std::string& query) { return GetJson(port_, "/?" + query); }

  std::string url(const std::string& query) const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/?" + query;
  }

 private:
  static std::vector<std::string> WithBinary(std::vector<std::string> args) {
    if (std::find(args.begin(), args.end(), "--can") == args.end())
      args.insert(args.begin(), {"--can", "sim"});
    args.insert(args.begin(), {TESSERA_HOST_BINARY, "--port", "0"});
    return args;
  }

  int port_ = -1;
};

// Runs a shell command (curl) and returns what it printed on standard output.
inline std::string RunCommand(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  return out;
}

}  // namespace tessera_test
