#pragma once
// The engine's wire vocabulary: the API classes and IDs it talks on, the one-byte request codes
// and the answers they bring, the bytes of its command messages and raw frames, the frames of
// the dynamic-ID protocol and the frame layer's session filters. Engine files take every
// protocol constant from here or from can_id.h, whose field helpers build the IDs below.
//
// The simulated devices keep a vocabulary of their own (sim/sim_wire.h) that never includes
// this one, so that a misreading on either side shows up as a failing test.
#include <cstdint>

#include "device/can_id.h"
#include "device/product_codes.h"

// API classes (bits 15..10) with a meaning of their own.
namespace api_class {
constexpr uint32_t kDevice = 0x3F;            // a device on its configured number
constexpr uint32_t kDynamic = 0x3E;           // a device on its dynamic ID; the dynamic-ID frames
constexpr uint32_t kAlternate = 0x3D;         // a device's alternate channel (Rivuduvoz clients)
constexpr uint32_t kAlternateDynamic = 0x3C;  // the alternate channel on a dynamic ID
}  // namespace api_class

// API indexes (bits 9..6) of ISO-15765 traffic: a request goes out on the request index and its
// answer comes back on the next one.
namespace api_index {
constexpr uint32_t kRequest = 0;
constexpr uint32_t kAnswer = 1;
constexpr uint32_t kDynamicRequest = 4;
constexpr uint32_t kDynamicAnswer = 5;
}  // namespace api_index

// Request codes: the first byte of each ISO-15765 message the engine sends. A device answers
// with the code plus 0x40, modulo 256 (answer_code::To).
namespace request_code {
constexpr uint8_t kPresence = 0x3E;          // 3E 00, broadcast: every device answers
constexpr uint8_t kInfo = 0xB0;              // information record
constexpr uint8_t kWriteSector = 0xB1;       // B1, address (4, big-endian), 1536 payload bytes
constexpr uint8_t kAppCheck = 0xB5;          // application image present / minimum version
constexpr uint8_t kErase = 0xB7;             // erase the application flash
constexpr uint8_t kRunApp = 0xB8;            // leave the bootloader for the application
constexpr uint8_t kEnterBootloader = 0xB9;
constexpr uint8_t kStatus = 0xBB;            // mode and options; also the presence check
constexpr uint8_t kDeviceNumber = 0xBD;      // BD, number_command, number, action
constexpr uint8_t kConfigRead = 0xC3;        // configuration block (two-part versions)
constexpr uint8_t kConfigWrite = 0xC4;       // C4, image bytes
constexpr uint8_t kSubCoded = 0xC5;          // C5, sub_code
constexpr uint8_t kStoreName = 0xC7;         // C7, length high, length low, name bytes
constexpr uint8_t kName = 0xC8;              // custom name
constexpr uint8_t kWriteSectorPart = 0xCC;   // CC, offset (2), count (2), payload
constexpr uint8_t kCommitSector = 0xCD;      // CD, address (4, big-endian)
}  // namespace request_code

// Second byte of a request_code::kSubCoded message, and of its 0x05 answer.
namespace sub_code {
constexpr uint8_t kClearStickyFaults = 0x00;
constexpr uint8_t kFactoryDefault = 0x01;
constexpr uint8_t kConfigRead = 0x02;      // configuration block (four-part versions)
constexpr uint8_t kConfigWriteAck = 0x03;  // answer only
}  // namespace sub_code

// Bytes of a request_code::kDeviceNumber message: BD, kRequest, number, kTake or kBlink; or
// BD, kConfirm.
namespace number_command {
constexpr uint8_t kRequest = 0x00;
constexpr uint8_t kConfirm = 0x02;
constexpr uint8_t kBlink = 0x03;  // the device's own number: blink instead of renumbering
constexpr uint8_t kTake = 0xFF;
}  // namespace number_command

// Answer codes: the first byte of each complete message from a device.
namespace answer_code {
constexpr uint8_t To(uint8_t request) { return static_cast<uint8_t>(request + 0x40); }

constexpr uint8_t kConfigBlock = To(request_code::kConfigRead);
constexpr uint8_t kConfigWriteAck = To(request_code::kConfigWrite);
constexpr uint8_t kSubCoded = To(request_code::kSubCoded);
constexpr uint8_t kNameStored = To(request_code::kStoreName);
constexpr uint8_t kName = To(request_code::kName);
constexpr uint8_t kSecondText = 0x0A;  // same layout as kName
constexpr uint8_t kSectorPartWritten = To(request_code::kWriteSectorPart);
constexpr uint8_t kSectorCommitted = To(request_code::kCommitSector);
constexpr uint8_t kAnswer0F = 0x0F;
constexpr uint8_t kPresence = To(request_code::kPresence);
constexpr uint8_t kInfo = To(request_code::kInfo);
constexpr uint8_t kSectorWritten = To(request_code::kWriteSector);
constexpr uint8_t kAppCheck = To(request_code::kAppCheck);
constexpr uint8_t kErased = To(request_code::kErase);
constexpr uint8_t kAppStarted = To(request_code::kRunApp);
constexpr uint8_t kBootloaderEntered = To(request_code::kEnterBootloader);
constexpr uint8_t kStatus = To(request_code::kStatus);
constexpr uint8_t kDeviceNumber = To(request_code::kDeviceNumber);

// Name and second-text answers (and the store-name request): code, length high, length low, text.
constexpr uint32_t kTextHeaderLength = 3;
}  // namespace answer_code

// Byte 2 of a status answer (FB, application running, options).
namespace status_option {
constexpr uint8_t kCustomName = 0x01;
constexpr uint8_t kConfigReadable = 0x02;
constexpr uint8_t kRivuduvozRoleA = 0x08;
constexpr uint8_t kRivuduvozRoleB = 0x10;
}  // namespace status_option

// The IDs of the engine's ISO-15765 channels.
namespace engine_id {

// Where requests to a device go: its address (device ID or dynamic ID) on the request index.
constexpr uint32_t RequestId(uint32_t address) {
  return can_id::ApiClass(address) == api_class::kDynamic
             ? can_id::BaseId(address) | can_id::ApiIndexField(api_index::kDynamicRequest)
             : can_id::BaseId(address);
}
// Where the answers to a request come from: the next API index.
constexpr uint32_t AnswerId(uint32_t requestId) {
  return requestId + can_id::ApiIndexField(api_index::kAnswer);
}
// The channel's second receive ID: device type 0 and device number 63 on the address's API
// class, on the request index that class uses.
constexpr uint32_t SecondAnswerId(uint32_t address) {
  const uint32_t index = can_id::ApiClass(address) == api_class::kDynamic
                             ? api_index::kDynamicRequest
                             : api_index::kRequest;
  return (address & ~(can_id::kDeviceTypeMask | can_id::kApiIndexMask |
                      can_id::kDeviceNumberMask)) |
         can_id::ManufacturerField(can_id::kManufacturerQuor) | can_id::ApiIndexField(index) |
         can_id::kBroadcastDeviceNumber;
}

// A device on its configured number: where requests go and where its answers come from.
constexpr uint32_t DeviceRequestId(uint32_t id) {
  return can_id::WithApi(id, api_class::kDevice, api_index::kRequest);
}
constexpr uint32_t DeviceAnswerId(uint32_t id) {
  return can_id::WithApi(id, api_class::kDevice, api_index::kAnswer);
}
// The device's alternate channel, under which its Rivuduvoz client is filed.
constexpr uint32_t AlternateId(uint32_t id) {
  return can_id::WithApi(id, api_class::kAlternate, api_index::kRequest);
}
// A renumbered device without a dynamic ID confirms from its new number to this second ID.
constexpr uint32_t kRenumberSecondAnswerId =
    can_id::MakeQuor(0, api_class::kDevice, api_index::kRequest, can_id::kBroadcastDeviceNumber);

// Discovery: the presence request goes out from device number 63 of device type 0 on the
// dynamic class, so every device's answer passes.
constexpr uint32_t kPresenceRequestId = can_id::MakeQuor(
    0, api_class::kDynamic, api_index::kDynamicRequest, can_id::kBroadcastDeviceNumber);
constexpr uint32_t kPresenceAnswerId =
    can_id::MakeQuor(device_type::kPdp, api_class::kDevice, api_index::kAnswer, 0);
constexpr uint32_t kPresenceSecondAnswerId = kPresenceRequestId;
// Single frames each round: the engine's own version (02, major, minor) and the legacy tester
// present (02 3E 00).
constexpr uint32_t kVersionFrameId = can_id::MakeQuor(0, 0, 10, can_id::kBroadcastDeviceNumber);
constexpr uint32_t kLegacyTesterPresentId = can_id::MakeQuor(0, api_class::kDevice, 0, 0);

}  // namespace engine_id

// Raw frames of the one-shot commands (the device number is ORed into the ID).
namespace raw_frame {
constexpr uint32_t kPdpClearStickyFaultsId = can_id::MakeQuor(device_type::kPdp, 7, 0, 0);
constexpr uint32_t kPcmClearStickyFaultsId = can_id::MakeQuor(device_type::kPcm, 7, 1, 0);
constexpr uint32_t kImuClearStickyFaultsId = can_id::MakeQuor(device_type::kWren, 10, 1, 0);
constexpr uint8_t kClearStickyFaults[] = {0x80};
constexpr uint8_t kPcmClearStickyFaults[] = {0x00, 0x00, 0x00, 0x80};
constexpr uint32_t kImuCalibrationId = can_id::MakeQuor(device_type::kWren, 11, 2, 0);
// An IMU on a motor controller's ribbon cable is calibrated through the motor controller's type.
constexpr uint32_t kRibbonImuCalibrationId =
    can_id::MakeQuor(device_type::kMotorController, 11, 2, 0);
constexpr uint8_t kImuCalibration[] = {0x0A, 0x50, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00};
}  // namespace raw_frame

// The dynamic-ID protocol: every frame is manufacturer 4 on the dynamic class, any device type.
namespace dynamic_id_frame {
constexpr uint32_t kSessionFilterId = can_id::MakeQuor(0, api_class::kDynamic, 0, 0);
constexpr uint32_t kSessionFilterMask = can_id::kManufacturerMask | can_id::kApiClassMask;
constexpr uint32_t kOfferId =
    can_id::MakeQuor(0, api_class::kDynamic, 1, can_id::kBroadcastDeviceNumber);
constexpr uint32_t kConfirmId =
    can_id::MakeQuor(0, api_class::kDynamic, 3, can_id::kBroadcastDeviceNumber);
constexpr uint32_t kGetAllId =
    can_id::MakeQuor(0, api_class::kDynamic, 7, can_id::kBroadcastDeviceNumber);
constexpr uint32_t kResetAllId =
    can_id::MakeQuor(0, api_class::kDynamic, 6, can_id::kBroadcastDeviceNumber);
// Requests come on index 0 or 1, accepts on 2 or 3; reports on index 7 of class 0x3E or 0x3F.
constexpr uint32_t kRequestMask =
    can_id::kManufacturerMask | can_id::kApiClassMask | can_id::ApiIndexField(0xE);
constexpr uint32_t kRequestPattern = can_id::MakeQuor(0, api_class::kDynamic, 0, 0);
constexpr uint32_t kAcceptMask = kRequestMask;
constexpr uint32_t kAcceptPattern = can_id::MakeQuor(0, api_class::kDynamic, 2, 0);
constexpr uint32_t kReportMask =
    can_id::kManufacturerMask | can_id::ApiClassField(api_class::kDynamic) | can_id::kApiIndexMask;
constexpr uint32_t kReportPattern = can_id::MakeQuor(0, api_class::kDynamic, 7, 0);
constexpr uint32_t kFrameLength = 8;  // offers, accepts, confirms and reports

// A report from `reportId` whose byte 7 is `reportedNumber`: the device ID it stands for, and
// the dynamic ID it answers on.
constexpr uint32_t ReportedDeviceId(uint32_t reportId, uint8_t reportedNumber) {
  return can_id::MakeQuor(can_id::DeviceType(reportId), api_class::kDevice, 0,
                          reportedNumber & can_id::kDeviceNumberMask);
}
constexpr uint32_t ReportingDynamicId(uint32_t reportId) {
  return can_id::MakeQuor(can_id::DeviceType(reportId), api_class::kDynamic, 0,
                          can_id::DeviceNumber(reportId));
}
}  // namespace dynamic_id_frame

// The frame layer's session filter of each mode; modes 2..9 get the device number ORed into
// the ID. Entry 0 serves every mode outside 1..9.
namespace frame_filter {
struct Mode {
  uint32_t id;
  uint32_t mask;
};
constexpr Mode kModes[] = {
    /* any other */ {0x00040000, 0x00FF0000},
    /* 1 */ {0x0004F000, 0x00FFF000},
    // Mode 2's mask keeps bits 15..12, which its filter ID sets to 1: the panel's status frames
    // (API 0x1400..0x1640) all have them, its frames of other API classes (0x08042005 for
    // device 5) stay out.
    /* 2 */ {0x08041000, 0x1FFFF03F},
    /* 3 */ {0x09041400, 0x1FFFFF3F},
    /* 4 */ {0x02040000, 0x1FFF003F},
    /* 5 */ {0x15040000, 0x1FFFC03F},
    /* 6 */ {0x02040000, 0x1FFFC03F},
    /* 7 */ {0x03041000, 0x1FFFF03F},
    /* 8 */ {0x01040000, 0x1FFF003F},
    /* 9 */ {0x05040000, 0x1FFFC03F},
};
constexpr uint8_t kAllDevices = 1;  // every device's ISO-15765 channels
// One device's status frames, for its self-test.
constexpr uint8_t kPdpStatus = 2;
constexpr uint8_t kPcmStatus = 3;
constexpr uint8_t kTypeTwoMotorStatus = 4;
constexpr uint8_t kImuStatus = 5;
constexpr uint8_t kRibbonCableImuStatus = 6;
constexpr uint8_t kIoBoardStatus = 7;
constexpr uint8_t kTypeOneMotorStatus = 8;
constexpr uint8_t kEncoderStatus = 9;
constexpr uint8_t kFirstDeviceMode = 2;
constexpr uint8_t kLastMode = 9;
}  // namespace frame_filter
