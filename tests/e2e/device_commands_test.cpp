// The one-shot device commands over HTTP against the whole server in this process, each checked
// by what it left on the simulated device, not only by the code it answered.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "tests/e2e/expected_listing.h"
#include "tests/e2e/server_on_simulated_bus.h"

namespace {

using nlohmann::json;
using quor::tessera::sim::DeviceFamily;
using quor::tessera::sim::SimRobot;
using tessera_test::FindEntry;
using tessera_test::ServerOnSimulatedBus;
using tessera_test::WaitUntil;

using quor::tessera::sim::DeviceState;

constexpr uint32_t kSomeStickyFaults = quor::tessera::sim::kFaultUnderVoltage;

// Sticky faults as the device's status frames report them: a motor controller's word, or the
// power-distribution panel's channel bits.
void SetStickyFaults(DeviceState& state, uint32_t faults) {
  state.motor.stickyFaults = faults;
  state.pdp.stickyFaultBits = static_cast<int32_t>(faults);
}
uint32_t StickyFaults(DeviceFamily family, const DeviceState& state) {
  return family == DeviceFamily::kPdp ? static_cast<uint32_t>(state.pdp.stickyFaultBits)
                                      : state.motor.stickyFaults;
}

json GeneralReturn(const std::string& action, const std::string& model, int id, int error,
                   const std::string& message) {
  return json{{"Action", action}, {"Model", model}, {"ID", id}, {"Error", error},
              {"ErrorMessage", message}};
}

class DeviceCommandsOverHttp : public ServerOnSimulatedBus {
 protected:
  void SetUp() override {
    ServerOnSimulatedBus::SetUp();
    ASSERT_EQ(WaitForAllEight().size(), 8u);
    kestrel_ = IndexOf(DeviceFamily::kKestrelKx);
    pdp_ = IndexOf(DeviceFamily::kPdp);
    wren_ = IndexOf(DeviceFamily::kWren);
  }

  size_t kestrel_ = 0, pdp_ = 0, wren_ = 0;
};

TEST_F(DeviceCommandsOverHttp, SetIdMovesTheDeviceAndTheOldNumberLeavesTheListing) {
  const json answer = Command("action=setid&model=kestrel+kx&id=1&newid=9");
  EXPECT_EQ(answer, (json{{"GeneralReturn", GeneralReturn("setid", "kestrel kx", 1, 0, "QUOR_DI_OKAY")},
                          {"NewID", 9}}));
  EXPECT_EQ(AttributesOf(kestrel_).deviceNumber, 9);
  EXPECT_EQ(robot().pendingDeviceNumber(kestrel_), -1) << "confirmed, nothing left pending";

  const json listing = WaitForListing([](const json& l) {
    return !FindEntry(l, "Kestrel KX", 9).is_null() && FindEntry(l, "Kestrel KX", 1).is_null();
  });
  EXPECT_FALSE(FindEntry(listing, "Kestrel KX", 9).is_null()) << listing.dump(2);
  EXPECT_TRUE(FindEntry(listing, "Kestrel KX", 1).is_null()) << listing.dump(2);
  EXPECT_EQ(listing.size(), 8u);
  EXPECT_EQ(Get("action=blink&model=kestrel+kx&id=1")["GeneralReturn"]["Error"], -120);
  EXPECT_EQ(Command("action=blink&model=kestrel+kx&id=9")["GeneralReturn"]["Error"], 0);
  EXPECT_EQ(EffectsOf(kestrel_).ledBlinks(), 1u) << "reached under its new number";
}

// Cut to the 8 bits of a device number, or read as unsigned, these would reach real devices:
// 256 is device 0, 257 device 1, -4294967295 wraps to 1.
TEST_F(DeviceCommandsOverHttp, NumbersOutsideZeroTo63TouchNothing) {
  // Asked until the handler ran ("NewID" is there): a device missing from the listing for a
  // moment also answers -120.
  const auto setId = [this](const std::string& newId) {
    json answer;
    WaitUntil(
        [&] {
          answer = Get("action=setid&model=kestrel+kx&id=1&newid=" + newId);
          return answer.contains("NewID");
        },
        kListingDeadline, std::chrono::milliseconds(50));
    return answer;
  };
  EXPECT_EQ(setId("256"), (json{{"GeneralReturn", GeneralReturn("setid", "kestrel kx", 1, -120,
                                                               "QUOR_DI_NodeIsInvalid")},
                               {"NewID", 256}}));
  for (const char* newId : {"63", "64", "-1", "-4294967295", "-4294967296", "99999999999"}) {
    const json answer = setId(newId);
    EXPECT_EQ(answer["GeneralReturn"]["Error"], -120) << newId;
    EXPECT_EQ(AttributesOf(kestrel_).deviceNumber, 1) << newId;
    EXPECT_EQ(robot().pendingDeviceNumber(kestrel_), -1) << newId;
  }

  struct Case {
    const char* query;
    int echoedId;
  };
  for (const Case& c : {Case{"action=blink&model=pdp&id=256", 256},
                        Case{"action=blink&model=kestrel+kx&id=257", 257},
                        Case{"action=blink&model=pdp&id=-99999999999", INT_MIN},
                        Case{"action=blink&model=pdp&id=-256", -256},
                        Case{"action=dance&model=pdp&id=256", 256}}) {
    const json general = Get(c.query)["GeneralReturn"];
    EXPECT_EQ(general["Error"], -120) << c.query;
    EXPECT_EQ(general["ID"], c.echoedId) << c.query;
  }
  EXPECT_EQ(EffectsOf(pdp_).ledBlinks(), 0u);
  EXPECT_EQ(EffectsOf(kestrel_).ledBlinks(), 0u);
  EXPECT_EQ(Command("action=blink&model=pdp&id=0")["GeneralReturn"]["Error"], 0);
  EXPECT_EQ(EffectsOf(pdp_).ledBlinks(), 1u) << "device 0 itself is reachable";
}

TEST_F(DeviceCommandsOverHttp, SetNameKeepsTheCaseTheUserTyped) {
  const json answer = Command("action=setname&model=kestrel+kx&id=1&newname=Left+Front%20ARM");
  EXPECT_EQ(answer, (json{{"GeneralReturn",
                           GeneralReturn("setname", "kestrel kx", 1, 0, "QUOR_DI_OKAY")},
                          {"NewName", "Left Front ARM"}}));
  EXPECT_EQ(AttributesOf(kestrel_).customName, "Left Front ARM");
  const json listing = WaitForListing([](const json& l) {
    const json entry = FindEntry(l, "Kestrel KX", 1);
    return !entry.is_null() && entry["Name"] == "Left Front ARM";
  });
  EXPECT_EQ(FindEntry(listing, "Kestrel KX", 1)["Name"], "Left Front ARM") << listing.dump(2);
}

TEST_F(DeviceCommandsOverHttp, FactoryDefaultRestoresDefaultsAndClearsNoFaults) {
  ASSERT_TRUE(robot().editState(kestrel_, [](DeviceState& s) { SetStickyFaults(s, kSomeStickyFaults); }));
  const json answer = Command("action=factorydef&model=kestrel+kx&id=1");
  EXPECT_EQ(answer, (json{{"GeneralReturn", GeneralReturn("factorydef", "kestrel kx", 1, 0,
                                                          "QUOR_DI_OKAY")}}));
  const auto effects = EffectsOf(kestrel_);
  EXPECT_EQ(effects.factoryDefaults(), 1u);
  EXPECT_EQ(AttributesOf(kestrel_).state.motor.stickyFaults, kSomeStickyFaults)
      << "C5 01 is not C5 00";
  EXPECT_EQ(effects.stickyFaultClears(), 0u);
  EXPECT_EQ(effects.ledBlinks(), 0u);
}

// Blinking also clears sticky faults: over ISO-15765 on a motor controller, with a raw frame on
// the power-distribution panel.
TEST_F(DeviceCommandsOverHttp, BlinkLightsTheLedAndClearsStickyFaults) {
  for (size_t device : {kestrel_, pdp_}) {
    ASSERT_TRUE(robot().editState(device, [](DeviceState& s) { SetStickyFaults(s, kSomeStickyFaults); }));
  }
  EXPECT_EQ(Command("action=blink&model=kestrel+kx&id=1")["GeneralReturn"]["Error"], 0);
  EXPECT_EQ(Command("action=blink&model=pdp&id=0")["GeneralReturn"]["Error"], 0);
  for (size_t device : {kestrel_, pdp_}) {
    // The raw frame needs no answer, so it may reach the device after the request's answer.
    EXPECT_TRUE(WaitUntil([&] { return EffectsOf(device).stickyFaultClears() == 1; }));
    const auto effects = EffectsOf(device);
    EXPECT_EQ(effects.ledBlinks(), 1u);
    EXPECT_TRUE(effects.ledBlinking(SimRobot::NowMicros()));
    const auto attributes = AttributesOf(device);
    EXPECT_EQ(StickyFaults(attributes.family, attributes.state), 0u);
    EXPECT_EQ(effects.factoryDefaults(), 0u);
  }
}

TEST_F(DeviceCommandsOverHttp, EnterCalibrationStartsOnlyAnImusCalibration) {
  const json answer = Command("action=entercal&model=wren&id=4&caltype=1");
  EXPECT_EQ(answer, (json{{"GeneralReturn",
                           GeneralReturn("entercal", "wren", 4, 0, "QUOR_DI_OKAY")}}));
  EXPECT_TRUE(WaitUntil([&] { return EffectsOf(wren_).calibrationsStarted() == 1; }));

  EXPECT_EQ(Command("action=entercal&model=kestrel+kx&id=1&caltype=1")["GeneralReturn"]["Error"],
            -125);
  EXPECT_EQ(EffectsOf(kestrel_).calibrationsStarted(), 0u);
  EXPECT_EQ(EffectsOf(wren_).calibrationsStarted(), 1u);
}

}  // namespace
