#pragma once
// The device side's own reading of the bus vocabulary: arbitration-ID layout, the fixed
// broadcast frames, the dynamic-ID frames and the request codes a device answers. Written
// independently of the server's engine on purpose, so a misreading on either side shows up
// as a failing test instead of cancelling out.
#include <cstdint>

namespace quor::tessera::sim::wire {

// 29-bit arbitration ID: device type 28..24, manufacturer 23..16, API class 15..10,
// API index 9..6, device number 5..0.
constexpr uint32_t kDeviceTypeShift = 24;
constexpr uint32_t kDeviceTypeMask = 0x1F;
constexpr uint32_t kManufacturerShift = 16;
constexpr uint32_t kManufacturerMask = 0xFF;
constexpr uint32_t kApiClassShift = 10;
constexpr uint32_t kApiClassMask = 0x3F;
constexpr uint32_t kApiIndexShift = 6;
constexpr uint32_t kApiIndexMask = 0x0F;
constexpr uint32_t kDeviceNumberMask = 0x3F;

constexpr uint32_t kManufacturer = 4;
constexpr uint8_t kBroadcastDeviceType = 0;
constexpr uint8_t kBroadcastDeviceNumber = 63;
// Device numbers 0..62 address one device; 63 is the broadcast number.
constexpr uint8_t kMaxDeviceNumber = 62;

constexpr uint32_t MakeArbId(uint32_t deviceType, uint32_t apiClass, uint32_t apiIndex,
                             uint32_t deviceNumber) {
  return ((deviceType & kDeviceTypeMask) << kDeviceTypeShift) |
         (kManufacturer << kManufacturerShift) | ((apiClass & kApiClassMask) << kApiClassShift) |
         ((apiIndex & kApiIndexMask) << kApiIndexShift) | (deviceNumber & kDeviceNumberMask);
}

struct ArbIdFields {
  uint8_t deviceType;
  uint8_t manufacturer;
  uint8_t apiClass;
  uint8_t apiIndex;
  uint8_t deviceNumber;
};

constexpr ArbIdFields SplitArbId(uint32_t id) {
  return ArbIdFields{static_cast<uint8_t>((id >> kDeviceTypeShift) & kDeviceTypeMask),
                     static_cast<uint8_t>((id >> kManufacturerShift) & kManufacturerMask),
                     static_cast<uint8_t>((id >> kApiClassShift) & kApiClassMask),
                     static_cast<uint8_t>((id >> kApiIndexShift) & kApiIndexMask),
                     static_cast<uint8_t>(id & kDeviceNumberMask)};
}

// Request/answer channels. A device is reached on its own number (API class 0x3F) and, once it
// holds one, on its dynamic number (API class 0x3E).
constexpr uint32_t kClassStatic = 0x3F;
constexpr uint32_t kStaticRequestIndex = 0;
constexpr uint32_t kStaticAnswerIndex = 1;

constexpr uint32_t kClassDynamic = 0x3E;
constexpr uint32_t kDynamicIdRequestIndex = 0;
constexpr uint32_t kDynamicOfferIndex = 1;
constexpr uint32_t kDynamicAcceptIndex = 2;
constexpr uint32_t kDynamicConfirmIndex = 3;
constexpr uint32_t kDynamicRequestIndex = 4;
constexpr uint32_t kDynamicAnswerIndex = 5;
constexpr uint32_t kDynamicResetAllIndex = 6;
constexpr uint32_t kDynamicReportIndex = 7;

// Broadcast frames, all from device type 0 to device number 63 unless noted.
constexpr uint32_t kPresenceBroadcastId =
    MakeArbId(kBroadcastDeviceType, kClassDynamic, kDynamicRequestIndex, kBroadcastDeviceNumber);
// The older presence request goes to device type 0, number 0 on the static request channel.
constexpr uint32_t kLegacyPresenceId = MakeArbId(kBroadcastDeviceType, kClassStatic, 0, 0);
constexpr uint32_t kOfferId =
    MakeArbId(kBroadcastDeviceType, kClassDynamic, kDynamicOfferIndex, kBroadcastDeviceNumber);
constexpr uint32_t kConfirmId =
    MakeArbId(kBroadcastDeviceType, kClassDynamic, kDynamicConfirmIndex, kBroadcastDeviceNumber);
constexpr uint32_t kGetAllId =
    MakeArbId(kBroadcastDeviceType, kClassDynamic, kDynamicReportIndex, kBroadcastDeviceNumber);
constexpr uint32_t kResetAllId =
    MakeArbId(kBroadcastDeviceType, kClassDynamic, kDynamicResetAllIndex, kBroadcastDeviceNumber);

static_assert(kPresenceBroadcastId == 0x0004F93F, "presence broadcast ID");
static_assert(kLegacyPresenceId == 0x0004FC00, "legacy presence ID");
static_assert(kOfferId == 0x0004F87F, "offer ID");
static_assert(kConfirmId == 0x0004F8FF, "confirm ID");
static_assert(kGetAllId == 0x0004F9FF, "get-all ID");
static_assert(kResetAllId == 0x0004F9BF, "reset-all ID");

// Offer and accept frames carry the dynamic number in their last two bytes (high, low).
constexpr uint8_t kDynamicFrameLength = 8;
constexpr uint8_t kOfferHighByte = 6;
constexpr uint8_t kOfferLowByte = 7;
// The report frame carries the device number the device stands for in byte 7, bits 5..0.
constexpr uint8_t kReportDeviceNumberByte = 7;

// Request codes a device answers; the answer code is the request code plus 0x40 (mod 256).
constexpr uint8_t kAnswerCodeOffset = 0x40;
constexpr uint8_t kRequestPresence = 0x3E;
constexpr uint8_t kRequestInformation = 0xB0;
constexpr uint8_t kRequestApplicationCheck = 0xB5;
constexpr uint8_t kRequestStatus = 0xBB;
constexpr uint8_t kRequestConfigurationTwoPart = 0xC3;
constexpr uint8_t kRequestConfigurationWrite = 0xC4;  // C4, then the whole image
constexpr uint8_t kRequestSubCoded = 0xC5;
constexpr uint8_t kRequestName = 0xC8;
constexpr uint8_t kRequestStoreName = 0xC7;  // C7, length high, length low, the text

// Device-number command: "BD 00 n FF" asks the device to take number n, "BD 02" confirms
// it, "BD 00 own-number 03" blinks its LED. Each is answered with 0xFD.
constexpr uint8_t kRequestDeviceNumber = 0xBD;
constexpr uint8_t kNumberSubRequest = 0x00;
constexpr uint8_t kNumberSubConfirm = 0x02;
constexpr uint8_t kNumberActionTakeNumber = 0xFF;
constexpr uint8_t kNumberActionBlink = 0x03;

// Sub-codes of 0xC5 (the answer repeats the sub-code after 0x05).
constexpr uint8_t kSubClearStickyFaults = 0x00;
constexpr uint8_t kSubFactoryDefault = 0x01;
constexpr uint8_t kSubConfigurationRead = 0x02;
// Answer only: firmware with four-part versions acknowledges a configuration write with 05 03,
// older firmware with the plain answer code of the write (0x04).
constexpr uint8_t kSubConfigurationWritten = 0x03;

// Single raw frames (no ISO-15765): the sticky-fault clear of the families without the
// ISO-15765 one, and the IMU's calibration start. Each goes to the device's own type and number
// on a fixed API class and index.
struct RawStickyFaultClear {
  uint32_t apiClass;
  uint32_t apiIndex;
  uint8_t length;
  uint8_t flagByte;  // the byte whose top bit asks for the clear
};
constexpr uint8_t kClearFlag = 0x80;
constexpr RawStickyFaultClear kPdpClearStickyFaults{0x07, 0, 1, 0};
constexpr RawStickyFaultClear kPcmClearStickyFaults{0x07, 1, 4, 3};
constexpr RawStickyFaultClear kImuClearStickyFaults{0x0A, 1, 1, 0};
constexpr uint32_t kImuCalibrationApiClass = 0x0B;
constexpr uint32_t kImuCalibrationApiIndex = 2;
constexpr uint8_t kImuCalibrationFrame[] = {0x0A, 0x50, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00};

static_assert(MakeArbId(8, kPdpClearStickyFaults.apiClass, kPdpClearStickyFaults.apiIndex, 0) ==
                  0x08041C00,
              "power-distribution panel sticky-fault clear");
static_assert(MakeArbId(9, kPcmClearStickyFaults.apiClass, kPcmClearStickyFaults.apiIndex, 0) ==
                  0x09041C40,
              "pneumatics module sticky-fault clear");
static_assert(MakeArbId(21, kImuClearStickyFaults.apiClass, kImuClearStickyFaults.apiIndex, 0) ==
                  0x15042840,
              "IMU sticky-fault clear");
static_assert(MakeArbId(21, kImuCalibrationApiClass, kImuCalibrationApiIndex, 0) == 0x15042C80,
              "IMU calibration start");

constexpr uint8_t AnswerCode(uint8_t requestCode) {
  return static_cast<uint8_t>(requestCode + kAnswerCodeOffset);
}

// Status answer (0xFB): byte 1 nonzero = application running; byte 2 feature bits.
constexpr uint8_t kStatusFeatureNamesAndConfigs = 0x01;
constexpr uint8_t kStatusFeatureConfigReadable = 0x02;

}  // namespace quor::tessera::sim::wire
