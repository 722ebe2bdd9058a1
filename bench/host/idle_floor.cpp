// The machine's floor for the idle figures: one thread that wakes every 20 ms and does nothing
// else, waiting as the device engine's worker waits between its steps, and a main thread that
// sleeps until the program is killed. bench/host/idle_figures.sh measures it as it measures the
// host, so the host's figures can be read as what it costs above this.
#include <pthread.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

constexpr int kEnginePeriod_ms = 20;

void WakeAtTheEnginesPeriod() {
  pthread_setname_np(pthread_self(), "floor 50 Hz");
  std::mutex mutex;
  std::condition_variable never;
  std::unique_lock<std::mutex> hold(mutex);
  for (;;) never.wait_for(hold, std::chrono::milliseconds(kEnginePeriod_ms));
}

}  // namespace

int main() {
  std::thread(WakeAtTheEnginesPeriod).detach();
  for (;;) pause();
}
