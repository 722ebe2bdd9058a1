#pragma once
// The in-process server over the built-in simulated robot, with the lookups the end-to-end tests
// of the bus and of the device commands share: the robot's devices by family, what commands
// left on them, and requests that wait out a device missing from the listing for a moment.
#include <chrono>
#include <string>

#include <nlohmann/json.hpp>

#include "sim/command_effects.h"
#include "tests/support/http_client.h"
#include "tests/support/in_process_server.h"

namespace tessera_test {

class ServerOnSimulatedBus : public InProcessServerTest {
 protected:
  static constexpr auto kListingDeadline = std::chrono::seconds(30);

  nlohmann::json WaitForAllEight() {
    return WaitForListing([](const nlohmann::json& l) { return l.size() == 8; });
  }

  // The answer to "/?query".
  nlohmann::json Get(const std::string& query) { return GetJson(Port(), "/?" + query); }

  // The answer to a command for a device that is meant to be listed. On a loaded machine a poll
  // or the 20 ms presence check can time out; the command is asked again (until the listing
  // deadline) while it answers -120 (the device missing from the listing for a moment) or -102
  // (it did not answer the presence check): in both cases the command itself was never sent.
  nlohmann::json Command(const std::string& query) {
    nlohmann::json answer;
    WaitUntil(
        [&] {
          answer = Get(query);
          if (!answer.is_object()) return false;
          const nlohmann::json& error = answer["GeneralReturn"]["Error"];
          return error != -120 && error != -102;
        },
        kListingDeadline, std::chrono::milliseconds(50));
    return answer;
  }

  size_t IndexOf(quor::tessera::sim::DeviceFamily family) {
    for (size_t i = 0; i < robot().deviceCount(); ++i) {
      quor::tessera::sim::DeviceAttributes attributes;
      if (robot().attributes(i, &attributes) && attributes.family == family) return i;
    }
    ADD_FAILURE() << "no such family";
    return 0;
  }

  quor::tessera::sim::DeviceAttributes AttributesOf(size_t index) {
    quor::tessera::sim::DeviceAttributes attributes;
    EXPECT_TRUE(robot().attributes(index, &attributes));
    return attributes;
  }

  quor::tessera::sim::CommandEffects EffectsOf(size_t index) {
    quor::tessera::sim::CommandEffects effects(AttributesOf(index).family);
    EXPECT_TRUE(robot().commandEffects(index, &effects));
    return effects;
  }
};

}  // namespace tessera_test
