// Status-frame capture, binding, descrambling and bit joining.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "listed_frame_source.h"
#include "selftest/bit_join.h"
#include "selftest/frame_descrambler.h"
#include "selftest/frame_records.h"
#include "selftest/motor_controller_frame_decoder.h"
#include "selftest/status_frame_capture.h"

using namespace selftest_test;
using Bytes = std::vector<uint8_t>;

TEST(BitJoining, JoinsLowBitsMostSignificantFirstAndExtendsTheSign) {
  struct Case {
    const char* name;
    int64_t expected;
    int64_t actual;
  };
  const Case cases[] = {
      {"<3,8> 04 00", -1024, Decode_ToInt32<3, 8>(0x04, 0x00)},
      {"<3,8> ignores high bits", 1023, Decode_ToInt32<3, 8>(0xFB, 0xFF)},
      {"U<7,4> 7F 0F", 2047, Decode_ToUInt32<7, 4>(0x7F, 0x0F)},
      {"<4,8> F7 00", 1792, Decode_ToInt32<4, 8>(0xF7, 0x00)},
      {"<8,4> FF 0F", -1, Decode_ToInt32<8, 4>(0xFF, 0x0F)},
      {"<8,5> 80 00", -4096, Decode_ToInt32<8, 5>(0x80, 0x00)},
      {"<8,8> 7F FF", 32767, Decode_ToInt32<8, 8>(0x7F, 0xFF)},
      {"<5,8,3> 10 00 00", -32768, Decode_ToInt32<5, 8, 3>(0x10, 0x00, 0x00)},
      {"<5,8,6> 10 00 00", -262144, Decode_ToInt32<5, 8, 6>(0x10, 0x00, 0x00)},
      {"<6,8,8> 20 00 00", -2097152, Decode_ToInt32<6, 8, 8>(0x20, 0x00, 0x00)},
      {"<8,8,8> FF FF FE", -2, Decode_ToInt32<8, 8, 8>(0xFF, 0xFF, 0xFE)},
      {"<8,8,8,3> 7F FF FF 07", 67108863, Decode_ToInt32<8, 8, 8, 3>(0x7F, 0xFF, 0xFF, 0x07)},
      {"U<8,8,8,5> all ones", 536870911, Decode_ToUInt32<8, 8, 8, 5>(0xFF, 0xFF, 0xFF, 0xFF)},
      {"U<5,8> 1F FF", 8191, Decode_ToUInt32<5, 8>(0xFF, 0xFF)},
  };
  for (const Case& c : cases) EXPECT_EQ(c.actual, c.expected) << c.name;
}

TEST(BitJoining, Unwrap64bitsIsLittleEndianAtAnyAlignment) {
  const uint8_t bytes[9] = {0xAA, 1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(Unwrap64bits(bytes + 1), 0x0807060504030201ull);
}

// Scrambled frames and their plain bytes, computed apart from this code from the published
// step rule and the shared firmware keys.
TEST(Descrambling, EachRoutineAndFormRestoresThePlainFrame) {
  struct Case {
    const char* name;
    std::function<void(uint8_t*)> descramble;
    Bytes scrambled, plain;
  };
  const Case cases[] = {
      {"M2 short, mode at bit 29",
       [](uint8_t* d) { RefSecM2(d, 1, 29); },
       {0x3A, 0xC5, 0x17, 0x9E, 0x60, 0xD2, 0x4B, 0xA1},
       {0x1F, 0xF9, 0x9E, 0x7F, 0x6C, 0x4D, 0xD4, 0xB8}},
      {"M2 long, device 1",
       [](uint8_t* d) { RefSecM2(d, 1, 24); },
       {0x3A, 0xC5, 0x17, 0x9E, 0x60, 0xD2, 0x4B, 0x82},
       {0xA7, 0xD7, 0xC5, 0x37, 0x56, 0x7E, 0xBE, 0x99}},
      {"M2 long, device 62 (only the low 6 bits count)",
       [](uint8_t* d) { RefSecM2(d, 0x7E, 30); },
       {0x3A, 0xC5, 0x17, 0x9E, 0x60, 0xD2, 0x4B, 0x81},
       {0xDE, 0x38, 0xF3, 0xB8, 0x92, 0x66, 0xBE, 0x98}},
      {"D short",
       [](uint8_t* d) { RefSecD(d, 5); },
       {0x3A, 0xC5, 0x17, 0x9E, 0x60, 0xD2, 0x4B, 0x81},
       {0x0F, 0xA8, 0xA9, 0x76, 0xD7, 0x6C, 0x4A, 0x99}},
      {"D long, device 5",
       [](uint8_t* d) { RefSecD(d, 5); },
       {0x3A, 0xC5, 0x17, 0x9E, 0x60, 0xD2, 0x4B, 0x82},
       {0xB2, 0xE0, 0x82, 0x9E, 0xCA, 0x36, 0x90, 0x99}},
      {"C short",
       RefSecC,
       {0x3A, 0xC5, 0x17, 0x9E, 0x60, 0xD2, 0x4B, 0x81},
       {0xB9, 0x5A, 0x29, 0xBB, 0xEC, 0x09, 0x05, 0x99}},
      {"P short",
       RefSecP,
       {0x3A, 0xC5, 0x17, 0x9E, 0x60, 0xD2, 0x4B, 0x81},
       {0xBF, 0x09, 0xA6, 0xA1, 0x72, 0x8C, 0x80, 0x98}},
  };
  for (const Case& c : cases) {
    Bytes frame = c.scrambled;
    c.descramble(frame.data());
    EXPECT_EQ(frame, c.plain) << c.name;
  }
}

TEST(Descrambling, PlainModesAndUnknownFormsLeaveTheFrameAlone) {
  struct Case {
    const char* name;
    std::function<void(uint8_t*)> descramble;
    uint8_t d7;
  };
  const Case cases[] = {
      {"M2 mode 0 at bit 29", [](uint8_t* d) { RefSecM2(d, 3, 29); }, 0x9F},
      {"M2 mode 3 at bit 29", [](uint8_t* d) { RefSecM2(d, 3, 29); }, 0x60},
      {"M2 mode 3 at bit 24", [](uint8_t* d) { RefSecM2(d, 3, 24); }, 0x03},
      {"D mode 0", [](uint8_t* d) { RefSecD(d, 5); }, 0xFC},
      {"D mode 3", [](uint8_t* d) { RefSecD(d, 5); }, 0x03},
      {"C mode 0", RefSecC, 0x00},
      {"C mode 2 (no long form)", RefSecC, 0x02},
      {"C mode 3", RefSecC, 0x03},
      {"P mode 2 (no long form)", RefSecP, 0x0E},
      {"P mode 3", RefSecP, 0xFF},
  };
  for (const Case& c : cases) {
    Bytes frame = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, c.d7};
    const Bytes before = frame;
    c.descramble(frame.data());
    EXPECT_EQ(frame, before) << c.name;
  }
}

namespace {

constexpr uint32_t kKestrelKx1 = 0x0204FC01;
constexpr uint32_t kKestrelKf2 = 0x0204FC02;

TestFrame Frame(uint32_t id, uint8_t first) { return {id, {first, 0, 0, 0, 0, 0, 0, 0}}; }

// One frame for each motor-controller slot whose bit is set, from device `number`.
std::vector<TestFrame> MotorFrames(uint32_t slots, uint32_t number) {
  std::vector<TestFrame> frames;
  for (int i = 0; i < kMotorControlSlotCount; ++i)
    if ((slots >> i) & 1)
      frames.push_back(Frame(0x02040000 | kMotorControlSlots[i].api | number, i));
  return frames;
}

struct Capture {
  std::unique_ptr<MotorControllerFrameDecoder> decoder;
  _MotorControlFrames_t frames;
  size_t passes;
};

Capture CaptureMotor(const _Device& device, std::vector<std::vector<TestFrame>> batches) {
  ListedFrameSource source(std::move(batches));
  source.Open(4, device.descriptor.arbId & 0x3F);
  Capture c{std::make_unique<MotorControllerFrameDecoder>(device), {}, 0};
  CaptureStatusFrames(source, c.decoder->Slots(), c.decoder->SlotCount(), c.decoder->DeviceNumber(),
                      c.decoder->RequiredSlots());
  c.frames = c.decoder->PrivateGetFrames();
  c.passes = source.receives();
  return c;
}

}  // namespace

TEST(StatusFrameCapture, SilentDeviceLeavesEveryPointerNullAfterTenPasses) {
  const _Device kx = MakeDevice(kKestrelKx1, "Kestrel KX", "kx", 20, 1);
  const Capture c = CaptureMotor(kx, {});
  EXPECT_EQ(c.passes, 10u);
  const _MotorControlFrames_t none{};
  EXPECT_EQ(std::memcmp(&c.frames, &none, sizeof none), 0);
}

TEST(StatusFrameCapture, EachModelStopsOnceItsOwnFramesArrived) {
  const _Device kf = MakeDevice(kKestrelKf2, "Kestrel KF", "kf", 22, 1);
  const Capture brushless = CaptureMotor(kf, {MotorFrames(0xFF6B, 2)});  // no slots 2, 4, 7
  EXPECT_TRUE(brushless.decoder->IsBrushless());
  EXPECT_EQ(brushless.passes, 1u);
  EXPECT_EQ(brushless.frames.quadEncoder, nullptr);
  ASSERT_NE(brushless.frames.temperatures, nullptr);
  EXPECT_EQ(brushless.frames.temperatures[0], 15);

  const _Device kx = MakeDevice(kKestrelKx1, "Kestrel KX", "kx", 20, 1);
  EXPECT_EQ(CaptureMotor(kx, {MotorFrames(0x0FFF, 1)}).passes, 1u);  // no slots 12-15
  // One required frame short: the capture goes on for all its passes.
  EXPECT_EQ(CaptureMotor(kx, {MotorFrames(0x0FFE, 1)}).passes, 10u);
  EXPECT_EQ(CaptureMotor(kf, {MotorFrames(0xFF6A, 2), MotorFrames(0x1, 2)}).passes, 2u);
}

TEST(StatusFrameCapture, NewestCopyWinsAndOtherDevicesAreDropped) {
  const _Device kx = MakeDevice(kKestrelKx1, "KESTREL KX", "kx", 20, 1);
  ListedFrameSource source(
      {{Frame(0x020405C1, 7), Frame(0x020401C1, 1), Frame(0x020401C1, 2), Frame(0x02041442, 9)}});
  source.Open(0, 0);  // every frame of manufacturer 4
  MotorControllerFrameDecoder decoder(kx);
  EXPECT_FALSE(decoder.IsBrushless());
  CaptureStatusFrames(source, decoder.Slots(), decoder.SlotCount(), 1, decoder.RequiredSlots());
  EXPECT_EQ(decoder.Slots()[0].count, 2);
  EXPECT_EQ(decoder.Slots()[0].data[0], 2);
  EXPECT_EQ(decoder.Slots()[1].count, 0);  // device 2's frame
  const _MotorControlFrames_t frames = decoder.PrivateGetFrames();
  EXPECT_EQ(frames.general, decoder.Slots()[0].data);
  EXPECT_EQ(frames.feedback, nullptr);
}

TEST(StatusFrameCapture, FindDecoderAndFillEdges) {
  _frame_decoder_t slots[kCANtapSlotCount];
  ResetDecoders(slots, kCANtapSlotCount, 0x03040000, kCANtapSlots);
  _CAN_MessageEvent frame{};
  frame.identifier = 0x030414BF;  // slot 2 of device 63
  EXPECT_EQ(FindDecoder(&frame, slots, kCANtapSlotCount), &slots[2]);
  frame.identifier = 0x030415BF;
  EXPECT_EQ(FindDecoder(&frame, slots, kCANtapSlotCount), nullptr);
  EXPECT_TRUE(AllDecodersUpdated(slots, 0));
  for (auto& slot : slots) slot.count = 1;
  EXPECT_TRUE(AllDecodersUpdated(slots, kCANtapSlotCount));
  _CANtapFrames_t frames;
  Fill(slots, kCANtapSlotCount - 1, frames);  // shorter than the family's table
  EXPECT_EQ(frames.status1, nullptr);
  EXPECT_EQ(frames.pwmInputs[3], nullptr);
  Fill(slots, kCANtapSlotCount, frames);
  EXPECT_EQ(frames.pwmInputs[3], slots[5].data);
}

// The panel's capture takes at most 21 frames in all (a budget of 20, checked after each pop).
TEST(StatusFrameCapture, PanelCaptureStopsWhenItsFrameBudgetIsSpent) {
  for (int duplicates : {18, 19}) {
    std::vector<TestFrame> frames(duplicates, Frame(0x08041400, 1));
    for (uint32_t id : {0x08041440u, 0x08041480u, 0x08041640u}) frames.push_back(Frame(id, 2));
    ListedFrameSource source({frames});
    source.Open(2, 0);
    RawStatusFrames<4> captured{{0x08041400, 0x08041440, 0x08041480, 0x08041640}, {}, {}};
    CaptureRawStatusFrames(source, ViewOf(captured), 0);
    EXPECT_TRUE(captured.received[2]) << duplicates;
    EXPECT_EQ(captured.received[3], duplicates == 18) << duplicates;
    EXPECT_EQ(source.receives(), 1u) << duplicates;
  }
}
