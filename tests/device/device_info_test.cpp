// Information records (0xF0) turned into descriptor texts.
#include <gtest/gtest.h>

#include <string>

#include "device/quor_device_interface.h"
#include "engine_test_support.h"

namespace {

using engine_test::AnswerId;
using engine_test::DeviceId;
using engine_test::InfoAnswer;
using engine_test::InfoFields;

class DeviceInfo : public ::testing::Test {
 protected:
  // Registers `id` with a dynamic ID, as a device taking part in the dynamic-ID protocol does.
  void GiveDynamicId(uint32_t id, uint8_t dynamicNumber) {
    CanStreamMessage report{};
    report.messageID = (id & 0x1F000000) | 0x0004F9C0 | dynamicNumber;
    report.dataSize = 8;
    report.data[7] = static_cast<uint8_t>(id & 0x3F);
    bool offerSent = false;
    engine_.DhcpServer().HandleFrame(report, offerSent);
  }

  const CANDeviceInterface1::DeviceDescriptor& Parse(const InfoFields& fields,
                                                     uint32_t id = DeviceId(2, 1),
                                                     bool dynamicId = true) {
    engine_.InsertFoundDevice(id, 0);
    if (dynamicId) GiveDynamicId(id, 9);
    const auto answer = InfoAnswer(fields);
    engine_.ProcessIsoRx(AnswerId(id), answer.data(), static_cast<uint32_t>(answer.size()));
    return *engine_.GetDescriptor(id);
  }

  QuorDeviceInterface engine_;
};

TEST_F(DeviceInfo, ManufactureDateWithMonthName) {
  InfoFields f;
  f.month = 3;
  f.day = 5;
  f.year = 2017;
  EXPECT_STREQ(Parse(f).manDate, "Mar 5, 2017");
}

TEST_F(DeviceInfo, ManufactureDateOutOfRangeMonthsAreNumeric) {
  InfoFields f;
  f.month = 0;
  f.day = 5;
  f.year = 2017;
  EXPECT_STREQ(Parse(f).manDate, "2017/0/5");
  f.month = 13;
  EXPECT_STREQ(Parse(f).manDate, "2017/13/5");
  f.month = 9;
  EXPECT_STREQ(Parse(f).manDate, "Sept 5, 2017");
}

TEST_F(DeviceInfo, EarlyYearsAreMarkedAlphaAndBeta) {
  InfoFields f;
  f.year = 2014;
  f.month = 7;
  f.day = 1;
  EXPECT_STREQ(Parse(f).manDate, "July 1, 2014 (Beta)");
  f.month = 8;
  EXPECT_STREQ(Parse(f).manDate, "Aug 1, 2014");
  f.year = 2013;
  f.month = 12;
  EXPECT_STREQ(Parse(f).manDate, "Dec 1, 2013 (Alpha)");
}

TEST_F(DeviceInfo, OldBootloadersWithoutDynamicIds) {
  InfoFields f;
  f.bootloader[0] = 2;
  f.bootloader[1] = 2;
  f.year = 2015;
  EXPECT_STREQ(Parse(f).bootloaderRev, "2.2 (no support for dynIds)");
  f.year = 2016;
  EXPECT_STREQ(Parse(f).bootloaderRev, "2.2");
  f.year = 2015;
  f.bootloader[1] = 3;
  EXPECT_STREQ(Parse(f).bootloaderRev, "2.3");
}

TEST_F(DeviceInfo, FirmwareSuffixes) {
  InfoFields f;
  f.firmware[0] = 255;
  f.firmware[1] = 255;
  f.bootloader[0] = 1;
  f.bootloader[1] = 0;
  EXPECT_STREQ(Parse(f).currentVers, "255.255 (No firmware)");
  f.bootloader[0] = 255;
  EXPECT_STREQ(Parse(f).currentVers, "255.255 (Debug Build)");
}

TEST_F(DeviceInfo, DevicesWithoutDynamicIdAreMarked) {
  InfoFields f;
  EXPECT_STREQ(Parse(f, DeviceId(2, 4), /*dynamicId=*/false).currentVers,
               "20.1 (no dynId support)");
}

TEST_F(DeviceInfo, TwoAndFourPartVersions) {
  InfoFields f;
  f.firmware[0] = 22;
  f.firmware[1] = 1;
  f.firmware[2] = 0;
  f.firmware[3] = 3;
  const auto& twoPart = Parse(f);
  EXPECT_STREQ(twoPart.currentVers, "22.1");
  EXPECT_EQ(twoPart.versionParts, 2);
  f.versionFormat = 4;
  const auto& fourPart = Parse(f);
  EXPECT_STREQ(fourPart.currentVers, "22.1.0.3");
  EXPECT_EQ(fourPart.versionParts, 4);
}

TEST_F(DeviceInfo, SerialIsHighHalfThenLowHalfMostSignificantFirst) {
  InfoFields f;
  f.serialHigh = 0x0123456789ABCDEFull;
  f.serialLow = 0x00000000DEADBEEFull;
  EXPECT_STREQ(Parse(f).serialNo, "0123456789ABCDEF00000000DEADBEEF");
}

TEST_F(DeviceInfo, ShortRecordReadsMissingBytesAsZero) {
  const uint32_t id = DeviceId(2, 1);
  engine_.InsertFoundDevice(id, 0);
  const uint8_t answer[] = {0xF0, 3, 7};
  engine_.ProcessIsoRx(AnswerId(id), answer, sizeof answer);
  const auto& d = *engine_.GetDescriptor(id);
  EXPECT_STREQ(d.bootloaderRev, "0.0 (no support for dynIds)");  // year 0
  EXPECT_STREQ(d.serialNo, "00000000000000000000000000000000");
  EXPECT_STREQ(d.manDate, "0/0/0");
  EXPECT_STREQ(d.model, "Model:0");
  EXPECT_TRUE(d.respFlags & resp_flag::kInfo);
}

TEST_F(DeviceInfo, HardwareRevisionForms) {
  InfoFields f;
  f.hardware[0] = 1;
  f.hardware[1] = 1;
  EXPECT_STREQ(Parse(f, DeviceId(9, 0)).hardwareRev, "1.1 - 1.3");
  EXPECT_STREQ(Parse(f, DeviceId(2, 1)).hardwareRev, "1.1");
  f.baseboard[0] = 2;
  f.baseboard[1] = 1;
  EXPECT_STREQ(Parse(f, DeviceId(8, 0)).hardwareRev, "Smart Module 1.1, Baseboard 2.1");
  f.baseboard[1] = 255;
  EXPECT_STREQ(Parse(f, DeviceId(8, 0)).hardwareRev, "1.1");
  f.baseboard[1] = 0;
  EXPECT_STREQ(Parse(f, DeviceId(8, 0)).hardwareRev, "1.1");
}

TEST_F(DeviceInfo, ModelsFromCodesAndStrings) {
  InfoFields f;
  f.modelCode = 5;
  EXPECT_STREQ(Parse(f, DeviceId(8, 0)).model, "PDP");
  f.modelCode = 16;
  EXPECT_STREQ(Parse(f, DeviceId(1, 3)).model, "Harrier HX");
  f.modelCode = 13;
  EXPECT_STREQ(Parse(f, DeviceId(21, 4)).model, "Wren");
  EXPECT_STREQ(Parse(f, DeviceId(2, 4)).model, "Wren Over Ribbon");  // ID bit 25 set
  f.modelCode = 77;
  EXPECT_STREQ(Parse(f, DeviceId(2, 5)).model, "Model:77");
  f.model = "Kestrel KF";
  EXPECT_STREQ(Parse(f, DeviceId(2, 5)).model, "Kestrel KF");
}

TEST_F(DeviceInfo, ReportedStringsKeepAtMost31Characters) {
  InfoFields f;
  f.model = std::string(32, 'M');
  f.vendor = std::string(32, 'V');
  const auto& d = Parse(f, DeviceId(2, 6));
  EXPECT_EQ(std::string(d.model), std::string(31, 'M'));
  EXPECT_EQ(std::string(d.vendor), std::string(31, 'V'));
}

TEST_F(DeviceInfo, VendorsByDeviceType) {
  InfoFields f;
  f.vendor = "Acme";
  EXPECT_STREQ(Parse(f, DeviceId(1, 3)).vendor, "Northgate Robotics");
  EXPECT_STREQ(Parse(f, DeviceId(8, 0)).vendor, "Brightwater Controls");
  EXPECT_STREQ(Parse(f, DeviceId(21, 4)).vendor, "Brightwater Controls");
  EXPECT_STREQ(Parse(f, DeviceId(2, 1)).vendor, "Acme");
  f.vendor.clear();
  EXPECT_STREQ(Parse(f, DeviceId(5, 5)).vendor, "Brightwater Controls");
}

TEST_F(DeviceInfo, ParsingEmptiesSoftwareStatusAndRecordsFirmware) {
  const uint32_t id = DeviceId(2, 1);
  engine_.InsertFoundDevice(id, 0);
  std::strcpy(engine_.GetDescriptor(id)->softStatus, "Running Application.");
  InfoFields f;
  f.firmware[0] = 3;
  f.firmware[1] = 9;
  Parse(f, id);
  const _Device& device = *engine_.GetDevice(id);
  EXPECT_STREQ(device.descriptor.softStatus, "");
  EXPECT_EQ(device.firmwareMajor, 3);
  EXPECT_EQ(device.firmwareMinor, 9);
  EXPECT_EQ(device.deviceType, 2);
  EXPECT_EQ(device.modelCode, 9u);
  EXPECT_STREQ(device.descriptor.name, "Kestrel KX (Device ID 1)");
}

TEST_F(DeviceInfo, AnswerFromUnknownDeviceChangesNothing) {
  const auto answer = InfoAnswer(InfoFields{});
  engine_.ProcessIsoRx(AnswerId(DeviceId(2, 7)), answer.data(),
                       static_cast<uint32_t>(answer.size()));
  EXPECT_TRUE(engine_.Devices().empty());
}

TEST_F(DeviceInfo, AnswerFromDynamicIdReachesTheDevice) {
  const uint32_t id = DeviceId(2, 1);
  engine_.InsertFoundDevice(id, 0);
  GiveDynamicId(id, 9);
  const auto answer = InfoAnswer(InfoFields{});
  engine_.ProcessIsoRx(0x0204F949, answer.data(), static_cast<uint32_t>(answer.size()));
  EXPECT_STREQ(engine_.GetDescriptor(id)->currentVers, "20.1");
  // A dynamic ID nobody reported is ignored.
  engine_.ProcessIsoRx(0x0204F94A, answer.data(), static_cast<uint32_t>(answer.size()));
  EXPECT_EQ(engine_.Devices().size(), 1u);
}

}  // namespace
