#include "sim/sim_device.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "sim/device_file.h"
#include "sim/sim_wire.h"
#include "tests/sim/recording_sink.h"

namespace quor::tessera::sim {
namespace {

using testing::Bytes;
using testing::Frame;
using testing::RecordingSink;

constexpr uint8_t kAA = 0xAA;

struct Answer {
  uint32_t id = 0;
  std::vector<uint8_t> bytes;
};

// Plays the server's side of one request: sends it (segmented when long), answers a first
// frame with flow control, and joins the answer from the frames as they come.
class Tester {
 public:
  Tester(SimDevice& device, RecordingSink& sink) : device_(device), sink_(sink) {}

  Answer ask(uint32_t requestId, std::vector<uint8_t> request) {
    sink_.take();
    std::vector<CanStreamMessage> frames = sendRequest(requestId, request);
    Answer answer;
    if (frames.empty()) return answer;
    const CanStreamMessage first = frames[0];
    answer.id = first.messageID;
    EXPECT_EQ(first.dataSize, 8) << "every frame is 8 bytes long";
    if ((first.data[0] & 0xF0) == 0x00) {
      answer.bytes.assign(first.data + 1, first.data + 1 + (first.data[0] & 0x0F));
      return answer;
    }
    EXPECT_EQ(first.data[0] & 0xF0, 0x10);
    const size_t size = ((first.data[0] & 0x0Fu) << 8) | first.data[1];
    answer.bytes.assign(first.data + 2, first.data + 8);
    device_.onFrame(Frame(requestId, {0x30, 0x00, 0x00, kAA, kAA, kAA, kAA, kAA}), now_);
    uint8_t sequence = 1;
    for (int step = 0; step < 10000 && answer.bytes.size() < size; ++step) {
      now_ += 1000;
      device_.poll(now_);
      for (const CanStreamMessage& cf : sink_.take()) {
        if (cf.messageID != answer.id) continue;  // the device's status frames go out meanwhile
        EXPECT_EQ(cf.data[0], 0x20 | sequence);
        sequence = (sequence + 1) % 16;
        answer.bytes.insert(answer.bytes.end(), cf.data + 1, cf.data + 8);
      }
    }
    EXPECT_GE(answer.bytes.size(), size);
    answer.bytes.resize(size);
    return answer;
  }

  uint64_t now() const { return now_; }

 private:
  // Sends the request, segmented like the server does; returns what the device sent back
  // after the last frame (the flow control of a long request is checked and dropped).
  std::vector<CanStreamMessage> sendRequest(uint32_t requestId,
                                            const std::vector<uint8_t>& request) {
    CanStreamMessage frame{};
    frame.messageID = requestId;
    frame.dataSize = 8;
    if (request.size() <= 6) {
      frame.data[0] = static_cast<uint8_t>(request.size());
      for (size_t i = 1; i < 8; ++i) frame.data[i] = i <= request.size() ? request[i - 1] : kAA;
      device_.onFrame(frame, now_);
      return sink_.take();
    }
    frame.data[0] = static_cast<uint8_t>(0x10 | (request.size() >> 8));
    frame.data[1] = static_cast<uint8_t>(request.size() & 0xFF);
    std::copy(request.begin(), request.begin() + 6, frame.data + 2);
    device_.onFrame(frame, now_);
    const std::vector<CanStreamMessage> flowControl = sink_.take();
    EXPECT_EQ(flowControl.size(), 1u);
    if (flowControl.size() != 1 || flowControl[0].data[0] != 0x30) return {};
    uint8_t sequence = 1;
    for (size_t position = 6; position < request.size(); position += 7) {
      frame.data[0] = static_cast<uint8_t>(0x20 | sequence);
      for (size_t i = 0; i < 7; ++i) {
        frame.data[1 + i] = position + i < request.size() ? request[position + i] : kAA;
      }
      device_.onFrame(frame, now_);
      sequence = (sequence + 1) % 16;
    }
    return sink_.take();
  }

  SimDevice& device_;
  RecordingSink& sink_;
  uint64_t now_ = 0;
};

uint32_t StaticRequest(uint8_t type, uint8_t number) {
  return wire::MakeArbId(type, 0x3F, 0, number);
}
uint32_t StaticAnswer(uint8_t type, uint8_t number) {
  return wire::MakeArbId(type, 0x3F, 1, number);
}

class SimDeviceTest : public ::testing::Test {
 protected:
  void make(const DeviceAttributes& attributes) {
    device = std::make_unique<SimDevice>(sink, attributes, 1);
    device->plugIn(0);
    sink.take();  // its dynamic-ID request
    tester = std::make_unique<Tester>(*device, sink);
  }
  Answer askStatic(std::vector<uint8_t> request) {
    return tester->ask(device->baseArbId(), std::move(request));
  }

  RecordingSink sink;
  std::unique_ptr<SimDevice> device;
  std::unique_ptr<Tester> tester;
};

TEST_F(SimDeviceTest, AnswersThePresenceBroadcastFromItsOwnAnswerId) {
  make(DefaultDevice(DeviceFamily::kKestrelKx, 1));
  for (uint32_t broadcast : {0x0004F93Fu, 0x0004FC00u}) {
    const Answer answer = tester->ask(broadcast, {0x3E, 0x00});
    EXPECT_EQ(answer.id, 0x0204FC41u);
    EXPECT_EQ(answer.bytes, (std::vector<uint8_t>{0x7E, 0x00}));
  }
}

TEST_F(SimDeviceTest, IgnoresRequestsForOtherDevices) {
  make(DefaultDevice(DeviceFamily::kKestrelKx, 1));
  EXPECT_TRUE(tester->ask(StaticRequest(2, 2), {0xB0}).bytes.empty());
  EXPECT_TRUE(tester->ask(StaticRequest(1, 1), {0xB0}).bytes.empty());
  EXPECT_TRUE(tester->ask(0x000402BF, {1, 8}).bytes.empty()) << "the version frame needs no answer";
}

TEST_F(SimDeviceTest, InformationRecordCarriesEveryListedField) {
  DeviceAttributes kx = DefaultDevice(DeviceFamily::kKestrelKx, 1);
  kx.firmware = {20, 1, 0, 0};
  kx.bootloader = {2, 5};
  kx.hardware = {1, 4};
  kx.manufactured = {2019, 3, 5};
  kx.serial = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
               0x00, 0x00, 0x00, 0x00, 0xDE, 0xAD, 0xBE, 0xEF};
  make(kx);
  const Answer answer = askStatic({0xB0});
  EXPECT_EQ(answer.id, StaticAnswer(2, 1));
  ASSERT_EQ(answer.bytes.size(), 97u);
  const std::vector<uint8_t>& b = answer.bytes;
  EXPECT_EQ(b[0], 0xF0);
  EXPECT_EQ(b[1], 20);
  EXPECT_EQ(b[2], 1);
  EXPECT_EQ(b[3], 2);
  EXPECT_EQ(b[4], 5);
  // Low half of the serial, least significant byte first.
  EXPECT_EQ((std::vector<uint8_t>(b.begin() + 5, b.begin() + 13)),
            (std::vector<uint8_t>{0xEF, 0xBE, 0xAD, 0xDE, 0, 0, 0, 0}));
  EXPECT_EQ(b[13], 5);
  EXPECT_EQ(b[14], 3);
  EXPECT_EQ(b[15] | (b[16] << 8), 2019);
  EXPECT_EQ(b[17], 1);
  EXPECT_EQ(b[18], 4);
  EXPECT_EQ(b[19], 9) << "Kestrel KX model code";
  EXPECT_LT(b[20], 4) << "two-part version format";
  EXPECT_EQ((std::vector<uint8_t>(b.begin() + 25, b.begin() + 33)),
            (std::vector<uint8_t>{0xEF, 0xCD, 0xAB, 0x89, 0x67, 0x45, 0x23, 0x01}));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[65])), "Brightwater Controls");
  EXPECT_EQ(SerialText(device->attributes()), "0123456789ABCDEF00000000DEADBEEF");
}

TEST_F(SimDeviceTest, FourPartFirmwareAndModelStringOfTheBrushlessController) {
  make(DefaultDevice(DeviceFamily::kKestrelKf, 2));
  const Answer answer = askStatic({0xB0});
  ASSERT_EQ(answer.bytes.size(), 97u);
  EXPECT_EQ(answer.bytes[20], 4);
  EXPECT_EQ(answer.bytes[1], 22);
  EXPECT_EQ(answer.bytes[2], 1);
  EXPECT_EQ(answer.bytes[23], 0);
  EXPECT_EQ(answer.bytes[24], 3);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&answer.bytes[33])), "Kestrel KF");
  EXPECT_EQ(FirmwareText(device->attributes()), "22.1.0.3");
}

TEST_F(SimDeviceTest, StatusTellsApplicationFromBootloader) {
  make(DefaultDevice(DeviceFamily::kKestrelKx, 1));
  EXPECT_EQ(askStatic({0xBB}).bytes, (std::vector<uint8_t>{0xFB, 0x01, 0x03}));
  EXPECT_EQ(askStatic({0xB5}).bytes, (std::vector<uint8_t>{0xF5, 0x01, 0x00, 0x00}));
  device->setMode(DeviceMode::kBootloader, tester->now());
  sink.take();
  EXPECT_EQ(askStatic({0xBB}).bytes, (std::vector<uint8_t>{0xFB, 0x00, 0x00}));
  EXPECT_EQ(askStatic({0xB5}).bytes, (std::vector<uint8_t>{0xF5, 0x01, 0x00, 0x00}))
      << "the application is flashed";
  EXPECT_EQ(askStatic({0xB0}).bytes.size(), 97u) << "the bootloader still identifies itself";
  EXPECT_TRUE(askStatic({0xC8}).bytes.empty());
  EXPECT_TRUE(askStatic({0xC3}).bytes.empty());
}

TEST_F(SimDeviceTest, DeviceWithoutFirmwareSaysSoInTheApplicationCheck) {
  DeviceAttributes blank = DefaultDevice(DeviceFamily::kCantap, 6);
  blank.firmware = {255, 255, 0, 0};
  blank.mode = DeviceMode::kBootloader;
  make(blank);
  EXPECT_EQ(askStatic({0xB5}).bytes, (std::vector<uint8_t>{0xF5, 0x00, 0x00, 0x00}));
  device->setMode(DeviceMode::kApplication, tester->now());
  EXPECT_EQ(askStatic({0xBB}).bytes, (std::vector<uint8_t>{0xFB, 0x00, 0x00}))
      << "with nothing to run it stays in its bootloader";
}

TEST_F(SimDeviceTest, FamiliesWithoutConfigurationOfferNeitherNamesNorConfigs) {
  make(DefaultDevice(DeviceFamily::kPdp, 0));
  EXPECT_EQ(askStatic({0xBB}).bytes, (std::vector<uint8_t>{0xFB, 0x01, 0x00}));
  EXPECT_TRUE(askStatic({0xC8}).bytes.empty());
  EXPECT_TRUE(askStatic({0xC3}).bytes.empty());
  EXPECT_TRUE(askStatic({0xC5, 0x02}).bytes.empty());
}

TEST_F(SimDeviceTest, NameAnswerCarriesLengthAndText) {
  DeviceAttributes wren = DefaultDevice(DeviceFamily::kWren, 4);
  wren.customName = "Arm";
  make(wren);
  EXPECT_EQ(askStatic({0xC8}).bytes, (std::vector<uint8_t>{0x08, 0x00, 0x03, 'A', 'r', 'm'}));
  device->setCustomName("");
  EXPECT_EQ(askStatic({0xC8}).bytes, (std::vector<uint8_t>{0x08, 0x00, 0x00}));
  device->setCustomName(std::string(300, 'n'));
  const Answer longName = askStatic({0xC8});
  ASSERT_EQ(longName.bytes.size(), 3u + kMaxCustomNameLength);
  EXPECT_EQ(longName.bytes[1], 0);
  EXPECT_EQ(longName.bytes[2], kMaxCustomNameLength);
}

TEST_F(SimDeviceTest, StoresANameSentAsALongMessage) {
  make(DefaultDevice(DeviceFamily::kKestrelKx, 1));
  const std::string name = "Left front drive motor";
  std::vector<uint8_t> store = {0xC7, 0x00, static_cast<uint8_t>(name.size())};
  store.insert(store.end(), name.begin(), name.end());
  EXPECT_EQ(askStatic(store).bytes, (std::vector<uint8_t>{0x07}));
  EXPECT_EQ(device->attributes().customName, name);
  EXPECT_EQ(askStatic({0xC8}).bytes.size(), 3 + name.size());

  EXPECT_EQ(askStatic({0xC7, 0x00, 0x02, 0x00, 0x00}).bytes, (std::vector<uint8_t>{0x07}));
  EXPECT_EQ(device->attributes().customName, "") << "two zero bytes clear the name";

  std::vector<uint8_t> overlong = {0xC7, 0x01, 0x00};  // announces 256, carries 300
  overlong.insert(overlong.end(), 300, 'x');
  askStatic(overlong);
  EXPECT_EQ(device->attributes().customName.size(), kMaxCustomNameLength);
  EXPECT_EQ(askStatic({0xC7, 0x00, 0x09, 'A', 'r', 'm'}).bytes, (std::vector<uint8_t>{0x07}));
  EXPECT_EQ(device->attributes().customName, "Arm") << "never more than arrived";
}

TEST_F(SimDeviceTest, ConfigurationImageHasTheLengthOfItsModel) {
  struct Case {
    DeviceFamily family;
    size_t length;
    uint8_t marker;
  };
  for (const Case& c :
       {Case{DeviceFamily::kKestrelKx, 356, 2}, Case{DeviceFamily::kHarrierHx, 356, 2},
        Case{DeviceFamily::kKestrelKf, 412, 2}, Case{DeviceFamily::kCandial, 52, 1},
        Case{DeviceFamily::kWren, 128, 1}}) {
    make(DefaultDevice(c.family, 3));
    const Answer twoPart = askStatic({0xC3});
    ASSERT_EQ(twoPart.bytes.size(), 1 + c.length) << static_cast<int>(c.family);
    EXPECT_EQ(twoPart.bytes[0], 0x03);
    EXPECT_EQ(twoPart.bytes[1], c.marker);
    const Answer fourPart = askStatic({0xC5, 0x02});
    ASSERT_EQ(fourPart.bytes.size(), 2 + c.length);
    EXPECT_EQ(fourPart.bytes[0], 0x05);
    EXPECT_EQ(fourPart.bytes[1], 0x02);
    EXPECT_EQ(fourPart.bytes[2], c.marker);
  }
}

// A device answers every request, also one that comes while its last long answer is still
// going out: one the server never flow-controlled (it gave up and asks anew) is replaced, and
// one that is flowing is followed by the new answer right after its last frame.
TEST_F(SimDeviceTest, AnswersARequestThatComesWhileItsLastAnswerIsStillGoingOut) {
  make(DefaultDevice(DeviceFamily::kKestrelKf, 2));
  const uint32_t request = device->baseArbId();
  const uint32_t answerId = StaticAnswer(2, 2);
  auto answerFrames = [&] {
    std::vector<std::vector<uint8_t>> out;
    for (const CanStreamMessage& f : sink.take())
      if (f.messageID == answerId) out.push_back(Bytes(f));
    return out;
  };

  device->onFrame(Frame(request, {0x01, 0xB0, kAA, kAA, kAA, kAA, kAA, kAA}), 0);
  ASSERT_EQ(answerFrames().size(), 1u) << "the first frame of the information record";
  const Answer information = askStatic({0xB0});  // no flow control came: the server asks again
  ASSERT_EQ(information.bytes.size(), 97u);
  EXPECT_EQ(information.bytes[0], 0xF0);

  uint64_t now = tester->now() + 1000;
  device->onFrame(Frame(request, {0x02, 0xC5, 0x02, kAA, kAA, kAA, kAA, kAA}), now);
  ASSERT_EQ(answerFrames().size(), 1u) << "the first frame of the configuration";
  device->onFrame(Frame(request, {0x30, 0x00, 0x05, kAA, kAA, kAA, kAA, kAA}), now);
  device->onFrame(Frame(request, {0x01, 0xBB, kAA, kAA, kAA, kAA, kAA, kAA}), now + 2000);
  std::vector<std::vector<uint8_t>> frames = answerFrames();
  for (const uint64_t end = now + 1000000; now < end; now += 1000) {
    device->poll(now);
    for (auto& f : answerFrames()) frames.push_back(f);
  }
  // 05 02 and the 412-byte image: six bytes in the first frame, 59 consecutive frames, then
  // the status answer (application running, names and configuration readable).
  ASSERT_EQ(frames.size(), 60u);
  EXPECT_EQ(frames[58][0], 0x20 | (59 % 16));
  EXPECT_EQ(frames[59], (std::vector<uint8_t>{0x03, 0xFB, 0x01, 0x03, kAA, kAA, kAA, kAA}));
}

TEST_F(SimDeviceTest, ClearFaultsAndFactoryDefaultAreConfirmedAndDoDifferentThings) {
  make(DefaultDevice(DeviceFamily::kHarrierHx, 3));
  device->state().motor.stickyFaults = kFaultUnderVoltage | kFaultSensorOutOfPhase;
  EXPECT_EQ(askStatic({0xC5, 0x00}).bytes, (std::vector<uint8_t>{0x05, 0x00}));
  EXPECT_EQ(device->state().motor.stickyFaults, 0u);
  EXPECT_EQ(device->effects().factoryDefaults(), 0u);
  device->state().motor.stickyFaults = kFaultUnderVoltage;
  EXPECT_EQ(askStatic({0xC5, 0x01}).bytes, (std::vector<uint8_t>{0x05, 0x01}));
  EXPECT_EQ(device->effects().factoryDefaults(), 1u);
  EXPECT_EQ(device->state().motor.stickyFaults, kFaultUnderVoltage) << "defaults leave the faults";
  EXPECT_EQ(device->effects().stickyFaultClears(), 1u);
  EXPECT_TRUE(askStatic({0xC5}).bytes.empty()) << "a sub-coded request needs its sub-code";
  EXPECT_TRUE(askStatic({0xC5, 0x7F}).bytes.empty());
}

TEST_F(SimDeviceTest, AnswersOnItsDynamicChannelOnceItHoldsANumber) {
  make(DefaultDevice(DeviceFamily::kWren, 4));
  const uint32_t dynamicRequest = wire::MakeArbId(21, 0x3E, 4, 6);
  EXPECT_TRUE(tester->ask(dynamicRequest, {0xBB}).bytes.empty());
  device->onFrame(Frame(wire::kOfferId, {0, 0, 0, 0, 0, 0, 0, 6}), 0);
  CanStreamMessage accept = sink.take().at(0);
  accept.messageID = wire::kConfirmId;
  device->onFrame(accept, 0);
  ASSERT_EQ(device->dynamicNumber(), 6);
  const Answer answer = tester->ask(dynamicRequest, {0xBB});
  EXPECT_EQ(answer.id, wire::MakeArbId(21, 0x3E, 5, 6));
  EXPECT_EQ(answer.bytes, (std::vector<uint8_t>{0xFB, 0x01, 0x03}));
  EXPECT_EQ(tester->ask(dynamicRequest, {0xB0}).bytes.size(), 97u);
}

TEST_F(SimDeviceTest, SilentAndUnpluggedDevicesSendNothing) {
  DeviceAttributes silent = DefaultDevice(DeviceFamily::kCandial, 5);
  silent.mode = DeviceMode::kSilent;
  device = std::make_unique<SimDevice>(sink, silent, 1);
  device->plugIn(0);
  EXPECT_TRUE(sink.frames.empty()) << "not even a dynamic-ID request";
  tester = std::make_unique<Tester>(*device, sink);
  EXPECT_TRUE(askStatic({0xB0}).bytes.empty());
  EXPECT_EQ(device->nextDeadline_us(), SimDevice::kNever);

  make(DefaultDevice(DeviceFamily::kCandial, 5));
  device->unplug();
  EXPECT_TRUE(tester->ask(0x0004F93F, {0x3E, 0x00}).bytes.empty());
  device->plugIn(0);
  EXPECT_EQ(sink.take().size(), 1u) << "plugging in asks for a dynamic number";
  EXPECT_EQ(tester->ask(0x0004F93F, {0x3E, 0x00}).bytes.size(), 2u);
}

TEST_F(SimDeviceTest, TakesANewNumberOnlyOnceConfirmed) {
  make(DefaultDevice(DeviceFamily::kKestrelKx, 5));
  const uint32_t oldRequest = StaticRequest(2, 5);
  EXPECT_EQ(tester->ask(oldRequest, {0xBD, 0x00, 63, 0xFF}).bytes.size(), 0u) << "63 is broadcast";
  EXPECT_EQ(tester->ask(oldRequest, {0xBD, 0x00, 7, 0xFF}).bytes, (std::vector<uint8_t>{0xFD}));
  EXPECT_EQ(device->attributes().deviceNumber, 5) << "not before the confirm";
  EXPECT_EQ(device->pendingDeviceNumber(), 7);
  const Answer confirmed = tester->ask(oldRequest, {0xBD, 0x02});
  EXPECT_EQ(confirmed.bytes, (std::vector<uint8_t>{0xFD}));
  EXPECT_EQ(confirmed.id, StaticAnswer(2, 7)) << "answers from its new number at once";
  EXPECT_EQ(device->baseArbId(), 0x0204FC07u);
  EXPECT_EQ(device->pendingDeviceNumber(), -1);
  EXPECT_TRUE(tester->ask(oldRequest, {0xBB}).bytes.empty());
  EXPECT_EQ(tester->ask(StaticRequest(2, 7), {0xBB}).bytes.size(), 3u);
  EXPECT_TRUE(tester->ask(StaticRequest(2, 7), {0xBD, 0x02}).bytes.empty()) << "nothing pending";
}

TEST_F(SimDeviceTest, NumberChangeOnTheDynamicChannelKeepsTheChannelAndReportsTheNewNumber) {
  make(DefaultDevice(DeviceFamily::kKestrelKx, 5));
  device->onFrame(Frame(wire::kOfferId, {0, 0, 0, 0, 0, 0, 0, 9}), 0);
  CanStreamMessage accept = sink.take().at(0);
  accept.messageID = wire::kConfirmId;
  device->onFrame(accept, 0);
  const uint32_t dynamicRequest = wire::MakeArbId(2, 0x3E, 4, 9);
  tester->ask(dynamicRequest, {0xBD, 0x00, 7, 0xFF});
  const Answer confirmed = tester->ask(dynamicRequest, {0xBD, 0x02});
  EXPECT_EQ(confirmed.id, wire::MakeArbId(2, 0x3E, 5, 9));
  sink.take();
  device->onFrame(Frame(wire::kGetAllId, {}), 0);
  const CanStreamMessage report = sink.take().at(0);
  EXPECT_EQ(report.messageID & 0x3F, 9u);
  EXPECT_EQ(report.data[7], 7);
}

TEST_F(SimDeviceTest, BlinksOnlyForItsOwnNumberAndForAWhile) {
  make(DefaultDevice(DeviceFamily::kPdp, 3));
  EXPECT_FALSE(device->effects().ledBlinking(tester->now()));
  EXPECT_EQ(askStatic({0xBD, 0x00, 0x03, 0x03}).bytes, (std::vector<uint8_t>{0xFD}));
  EXPECT_TRUE(askStatic({0xBD, 0x00, 0x04, 0x03}).bytes.empty());
  EXPECT_EQ(device->ledBlinks(), 1u);
  EXPECT_EQ(device->pendingDeviceNumber(), -1) << "a blink is no number change";
  const uint64_t until = tester->now() + CommandEffects::kBlinkDuration_us;
  EXPECT_TRUE(device->effects().ledBlinking(until - 1));
  EXPECT_FALSE(device->effects().ledBlinking(until));
}

// The families without the ISO-15765 clear take one raw frame to their own number, with the
// clear flag set; "C5 00" means nothing to them.
TEST_F(SimDeviceTest, RawFramesClearTheStickyFaultsOfTheirFamilies) {
  struct Case {
    DeviceFamily family;
    uint32_t frameId;  // to device number 3
    std::vector<uint8_t> clear;
    std::vector<uint8_t> noFlag;
    int64_t (*sticky)(const DeviceState&);  // the sticky word its status frames report
  };
  const Case cases[] = {
      {DeviceFamily::kPdp, 0x08041C03, {0x80}, {0x00},
       [](const DeviceState& s) -> int64_t { return s.pdp.stickyFaultBits; }},
      {DeviceFamily::kPcm, 0x09041C43, {0, 0, 0, 0x80}, {0x80, 0, 0, 0},
       [](const DeviceState& s) -> int64_t { return s.pcm.stickyFaults; }},
      {DeviceFamily::kWren, 0x15042843, {0x80}, {0x40},
       [](const DeviceState& s) -> int64_t { return s.imu.fusionStickyFaults; }}};
  for (const Case& c : cases) {
    make(DefaultDevice(c.family, 3));
    DeviceState& state = device->state();
    state.pdp.stickyFaultBits = 0x24;
    state.pcm.stickyFaults = 0x24;
    state.imu.fusionStickyFaults = 0x24;
    EXPECT_TRUE(askStatic({0xC5, 0x00}).bytes.empty());
    device->onFrame(Frame(c.frameId, c.noFlag), 0);
    device->onFrame(Frame(c.frameId + 1, c.clear), 0);  // another device's
    EXPECT_EQ(c.sticky(state), 0x24) << c.frameId;
    device->onFrame(Frame(c.frameId, c.clear), 0);
    EXPECT_EQ(c.sticky(state), 0) << c.frameId;
    EXPECT_EQ(device->effects().stickyFaultClears(), 1u);
    EXPECT_TRUE(sink.frames.empty()) << "raw commands are not answered";
  }
}

TEST_F(SimDeviceTest, ImuStartsACalibrationOnItsCalibrationFrame) {
  make(DefaultDevice(DeviceFamily::kWren, 4));
  ASSERT_EQ(device->state().imu.stateCode, 14) << "ready";
  device->onFrame(Frame(0x15042C84, {0x0A, 0x50, 0, 0, 0, 0, 0, 0}), 0);
  device->onFrame(Frame(0x15042C85, {0x0A, 0x50, 0, 0, 0, 1, 0, 0}), 0);
  EXPECT_EQ(device->effects().calibrationsStarted(), 0u);
  EXPECT_EQ(device->state().imu.stateCode, 14);
  device->onFrame(Frame(0x15042C84, {0x0A, 0x50, 0, 0, 0, 1, 0, 0}), 0);
  EXPECT_EQ(device->effects().calibrationsStarted(), 1u);
  EXPECT_EQ(device->state().imu.stateCode, 15) << "a user calibration runs";
}

TEST_F(SimDeviceTest, AStoreThatAnnouncesNoTextIsNotAcknowledged) {
  DeviceAttributes kx = DefaultDevice(DeviceFamily::kKestrelKx, 1);
  kx.customName = "Arm";
  make(kx);
  EXPECT_TRUE(askStatic({0xC7, 0x00, 0x00}).bytes.empty());
  EXPECT_EQ(device->attributes().customName, "Arm");
  EXPECT_EQ(askStatic({0xC7, 0x00, 0x02, 0x00, 0x00}).bytes, (std::vector<uint8_t>{0x07}));
  EXPECT_EQ(device->attributes().customName, "");
}

// A device with a static address only: it never asks for a dynamic ID, ignores the dynamic-ID
// frames, and answers on its own number.
TEST_F(SimDeviceTest, StaticDeviceTakesNoPartInDynamicIds) {
  DeviceAttributes kx = DefaultDevice(DeviceFamily::kKestrelKx, 5);
  kx.dynamicIds = false;
  device = std::make_unique<SimDevice>(sink, kx, 1);
  device->plugIn(0);
  tester = std::make_unique<Tester>(*device, sink);
  for (uint32_t id : {wire::kOfferId, wire::kResetAllId, wire::kGetAllId}) {
    device->onFrame(Frame(id, {0, 0, 0, 0, 0, 0, 0, 6}), 0);
  }
  device->poll(10 * DynamicIdClient::kAnswerWait_us);
  for (const CanStreamMessage& frame : sink.take()) {  // its status frames go out as usual
    EXPECT_NE(wire::SplitArbId(frame.messageID).apiClass, wire::kClassDynamic)
        << std::hex << frame.messageID;
  }
  EXPECT_EQ(device->dynamicNumber(), DynamicIdClient::kNoDynamicNumber);
  EXPECT_EQ(askStatic({0xBB}).bytes, (std::vector<uint8_t>{0xFB, 0x01, 0x03}));
}

// An IMU on a controller's ribbon cable has no bus identity: the controller passes the IMU's
// twelve status frames on under its own type and number, and only while its application runs.
TEST(RibbonImu, StatusFramesGoOutAsTheControllersWhileItsApplicationRuns) {
  RecordingSink hostSink, imuSink;
  SimDevice host(hostSink, DefaultDevice(DeviceFamily::kKestrelKx, 1), 1);
  DeviceAttributes onCable = DefaultDevice(DeviceFamily::kWren, 1);
  onCable.onRibbonCable = true;
  SimDevice imu(imuSink, onCable, 2);
  host.attachRibbonClient(imu);
  host.plugIn(0);
  imu.plugIn(0);
  constexpr uint64_t kTick_us = 10000;
  for (uint64_t t = 0; t <= 10 * kTick_us; t += kTick_us) imu.poll(t);
  std::set<uint32_t> ids;
  for (const CanStreamMessage& frame : imuSink.take()) ids.insert(frame.messageID);
  std::set<uint32_t> expected;
  for (uint32_t api : {0x2000, 0x2040, 0x2080, 0x2140, 0x2200, 0x2240, 0x2280, 0x2380, 0x23C0,
                       0x1C40, 0x1CC0, 0x1D40})
    expected.insert(0x02040001 | api);
  EXPECT_EQ(ids, expected);

  host.setMode(DeviceMode::kBootloader, 11 * kTick_us);
  for (uint64_t t = 11 * kTick_us; t <= 30 * kTick_us; t += kTick_us) imu.poll(t);
  EXPECT_TRUE(imuSink.take().empty());
}

TEST_F(SimDeviceTest, BaseArbIdIsTheStaticRequestId) {
  make(DefaultDevice(DeviceFamily::kPcm, 0));
  EXPECT_EQ(device->baseArbId(), 0x0904FC00u);
  make(DefaultDevice(DeviceFamily::kHarrierHx, 3));
  EXPECT_EQ(device->baseArbId(), 0x0104FC03u);
}

}  // namespace
}  // namespace quor::tessera::sim
