// The answer dispatcher: respFlags bits and stored data per answer code.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device/quor_device_interface.h"
#include "engine_test_support.h"

namespace {

using engine_test::AnswerId;
using engine_test::DeviceId;

class IsoRxDispatcher : public ::testing::Test {
 protected:
  static constexpr uint32_t kId = DeviceId(2, 1);

  void SetUp() override { device_ = engine_.InsertFoundDevice(kId, 0); }

  void Answer(std::vector<uint8_t> bytes) {
    engine_.ProcessIsoRx(AnswerId(kId), bytes.data(), static_cast<uint32_t>(bytes.size()));
  }
  uint32_t Flags() const { return device_->descriptor.respFlags; }

  QuorDeviceInterface engine_;
  _Device* device_ = nullptr;
};

TEST_F(IsoRxDispatcher, StatusOfRunningDeviceWithCustomName) {
  Answer({0xFB, 0x01, 0x01});
  EXPECT_TRUE(Flags() & resp_flag::kStatus);
  EXPECT_TRUE(Flags() & resp_flag::kAppRunning);
  EXPECT_TRUE(Flags() & resp_flag::kCustomNameSupported);
  EXPECT_EQ(device_->descriptor.supportsConfigs, 1);
}

TEST_F(IsoRxDispatcher, StatusOfBootloaderWithoutOptions) {
  device_->descriptor.supportsConfigs = 1;
  Answer({0xFB, 0x00});
  EXPECT_EQ(Flags(), resp_flag::kStatus);
  EXPECT_EQ(device_->descriptor.supportsConfigs, 0);
}

TEST_F(IsoRxDispatcher, ConfigurationReadableOnlyForCapableFirmware) {
  device_->descriptor.versionParts = 2;
  device_->firmwareMajor = 3;
  Answer({0xFB, 0x01, 0x02});
  EXPECT_FALSE(Flags() & resp_flag::kConfigReadable);
  device_->firmwareMajor = 4;
  Answer({0xFB, 0x01, 0x02});
  EXPECT_TRUE(Flags() & resp_flag::kConfigReadable);
  device_->descriptor.respFlags = 0;
  device_->firmwareMajor = 10;
  Answer({0xFB, 0x01, 0x02});
  EXPECT_FALSE(Flags() & resp_flag::kConfigReadable);
  device_->descriptor.versionParts = 4;
  device_->firmwareMajor = 1;
  Answer({0xFB, 0x01, 0x02});
  EXPECT_TRUE(Flags() & resp_flag::kConfigReadable);
}

TEST_F(IsoRxDispatcher, StatusRivuduvozRoleBits) {
  Answer({0xFB, 0x01, 0x18});
  EXPECT_TRUE(Flags() & resp_flag::kRivuduvozRoleA);
  EXPECT_TRUE(Flags() & resp_flag::kRivuduvozRoleB);
  EXPECT_FALSE(Flags() & resp_flag::kCustomNameSupported);
}

TEST_F(IsoRxDispatcher, ShortStatusIsIgnored) {
  Answer({0xFB});
  EXPECT_EQ(Flags(), 0u);
}

// While the dynamic-ID server rebuilds its tables it knows no dynamic ID; an answer on the one
// the engine addressed the device on still reaches that device, unless two records claim it.
TEST_F(IsoRxDispatcher, AnswerOnADynamicIdTheServerForgotReachesItsDevice) {
  constexpr uint32_t kDynamicId = 0x0204F807;  // class 0x3E, dynamic number 7
  constexpr uint32_t kAnswerOnDynamicId = 0x0204F947;
  const std::vector<uint8_t> ack = {0xF1};
  engine_.ProcessIsoRx(kAnswerOnDynamicId, ack.data(), 1);
  EXPECT_EQ(Flags(), 0u) << "no record holds the dynamic ID yet";
  device_->descriptor.dynamicId = kDynamicId;
  engine_.ProcessIsoRx(kAnswerOnDynamicId, ack.data(), 1);
  EXPECT_EQ(Flags(), resp_flag::kCommandAck);
  device_->descriptor.respFlags = 0;
  engine_.InsertFoundDevice(DeviceId(2, 2), kDynamicId);
  engine_.ProcessIsoRx(kAnswerOnDynamicId, ack.data(), 1);
  EXPECT_EQ(Flags(), 0u);
}

TEST_F(IsoRxDispatcher, ApplicationCheck) {
  Answer({0xF5, 0x00});
  EXPECT_EQ(Flags(), resp_flag::kAppCheck);
  Answer({0xF5, 0x01, 0xAB, 0xCD});
  EXPECT_TRUE(Flags() & resp_flag::kAppFlashed);
  EXPECT_TRUE(Flags() & resp_flag::kAppCheckExtra);
  EXPECT_EQ(device_->extraStatus[0], 0xAB);
  EXPECT_EQ(device_->extraStatus[1], 0xCD);
}

TEST_F(IsoRxDispatcher, ConfigurationBlockThatFits) {
  std::vector<uint8_t> answer = {0x05, 0x02};
  for (int i = 0; i < 100; ++i) answer.push_back(static_cast<uint8_t>(i));
  Answer(answer);
  EXPECT_EQ(device_->config->length, 100u);
  EXPECT_EQ(device_->config->data[99], 99);
  EXPECT_TRUE(Flags() & resp_flag::kConfigReceived);
}

TEST_F(IsoRxDispatcher, ConfigurationBlockTooLargeIsCutAndNotReported) {
  std::vector<uint8_t> answer = {0x05, 0x02};
  for (int i = 0; i < 4100; ++i) answer.push_back(static_cast<uint8_t>(i * 7));
  Answer(answer);
  EXPECT_EQ(device_->config->length, 4096u);
  EXPECT_EQ(device_->config->data[4095], static_cast<uint8_t>(4095 * 7));
  EXPECT_FALSE(Flags() & resp_flag::kConfigReceived);
}

TEST_F(IsoRxDispatcher, TwoPartConfigurationBlock) {
  Answer({0x03, 0x02, 0x00, 0x00, 0x00});
  EXPECT_EQ(device_->config->length, 4u);
  EXPECT_EQ(device_->config->data[0], 2);
  EXPECT_TRUE(Flags() & resp_flag::kConfigReceived);
}

TEST_F(IsoRxDispatcher, SubCodedAnswers) {
  Answer({0x05, 0x03});
  EXPECT_EQ(Flags(), resp_flag::kConfigWriteAck);
  device_->descriptor.respFlags = 0;
  Answer({0x05, 0x00});
  EXPECT_EQ(Flags(), resp_flag::kClearAck);
  device_->descriptor.respFlags = 0;
  Answer({0x05, 0x01});
  EXPECT_EQ(Flags(), resp_flag::kClearAck);
  device_->descriptor.respFlags = 0;
  Answer({0x05, 0x02});  // a configuration answer without any block
  Answer({0x05, 0x09});
  Answer({0x05});
  EXPECT_EQ(Flags(), 0u);
}

TEST_F(IsoRxDispatcher, OneBitAnswers) {
  const std::vector<std::pair<uint8_t, uint32_t>> cases = {
      {0x04, resp_flag::kConfigWriteAck}, {0x07, resp_flag::kNameStored},
      {0x0C, resp_flag::kCommandAck},     {0x0D, resp_flag::kCommandAck},
      {0xF1, resp_flag::kCommandAck},     {0x0F, resp_flag::kOF},
      {0xF7, resp_flag::kF7},             {0xF8, resp_flag::kF8},
      {0xF9, resp_flag::kF9},             {0xFD, resp_flag::kFD}};
  for (const auto& [code, bit] : cases) {
    device_->descriptor.respFlags = 0;
    Answer({code});
    EXPECT_EQ(Flags(), bit) << "code " << std::hex << int(code);
  }
  device_->descriptor.respFlags = 0;
  Answer({0x55, 1, 2});  // unknown code: logged only
  EXPECT_EQ(Flags(), 0u);
}

TEST_F(IsoRxDispatcher, CustomName) {
  Answer({0x08, 0x00, 0x03, 'A', 'r', 'm'});
  EXPECT_TRUE(Flags() & resp_flag::kName);
  EXPECT_STREQ(device_->customName, "Arm");
}

TEST_F(IsoRxDispatcher, CustomNameLongerThanItsBufferIsCut) {
  std::vector<uint8_t> answer = {0x08, 0x00, 200};
  answer.insert(answer.end(), 200, 'n');
  Answer(answer);
  EXPECT_EQ(std::string(device_->customName), std::string(129, 'n'));
}

TEST_F(IsoRxDispatcher, TextAnnouncingMoreThanArrivedKeepsWhatArrived) {
  Answer({0x08, 0x01, 0x00, 'A', 'b'});  // announces 256 bytes, carries 2
  EXPECT_STREQ(device_->customName, "Ab");
  Answer({0x0A, 0x00, 0x50, 'x'});
  EXPECT_TRUE(Flags() & resp_flag::kSecondText);
  EXPECT_STREQ(device_->secondText, "x");
  Answer({0x08, 0x00});  // no length at all
  EXPECT_STREQ(device_->customName, "");
}

TEST_F(IsoRxDispatcher, SecondTextLongerThanItsBufferIsCut) {
  std::vector<uint8_t> answer = {0x0A, 0x0F, 0xFF};
  answer.insert(answer.end(), 400, 't');
  Answer(answer);
  EXPECT_EQ(std::string(device_->secondText), std::string(129, 't'));
}

TEST_F(IsoRxDispatcher, PresenceAddsNewDevicesAndMarksKnownOnes) {
  const uint32_t newcomer = DeviceId(8, 0);
  const uint8_t presence[] = {0x7E};
  engine_.ProcessIsoRx(AnswerId(newcomer), presence, 1);
  ASSERT_NE(engine_.GetDevice(newcomer), nullptr);
  EXPECT_EQ(engine_.GetDescriptor(newcomer)->respFlags, 0u);
  EXPECT_GT(engine_.GetDescriptor(newcomer)->foundIndex, device_->foundIndex);
  engine_.ProcessIsoRx(AnswerId(newcomer), presence, 1);
  EXPECT_EQ(engine_.GetDescriptor(newcomer)->respFlags, resp_flag::kPresenceAgain);
  EXPECT_EQ(engine_.Devices().size(), 2u);
}

TEST_F(IsoRxDispatcher, UndecodableAndEmptyMessagesAreIgnored) {
  const uint8_t presence[] = {0x7E};
  engine_.ProcessIsoRx(0x0803FC40, presence, 1);  // manufacturer 3
  engine_.ProcessIsoRx(0x0804FC00, presence, 1);  // API index 0 is no answer channel
  engine_.ProcessIsoRx(AnswerId(DeviceId(8, 0)), presence, 0);
  engine_.ProcessIsoRx(AnswerId(DeviceId(8, 0)), nullptr, 1);
  EXPECT_EQ(engine_.Devices().size(), 1u);
}

TEST_F(IsoRxDispatcher, AnswersFromUnknownDevicesTouchNothing) {
  const uint32_t stranger = AnswerId(DeviceId(2, 9));
  std::vector<uint8_t> config = {0x03};
  config.insert(config.end(), 50, 1);
  for (const auto& bytes : std::vector<std::vector<uint8_t>>{
           {0xFB, 1, 0xFF}, {0xF5, 1, 2, 3}, {0x08, 0, 1, 'a'}, config}) {
    engine_.ProcessIsoRx(stranger, bytes.data(), static_cast<uint32_t>(bytes.size()));
  }
  EXPECT_EQ(engine_.Devices().size(), 1u);
  EXPECT_EQ(Flags(), 0u);
}

}  // namespace
