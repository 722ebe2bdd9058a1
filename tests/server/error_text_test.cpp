#include <gtest/gtest.h>

#include <map>

#include "device/error_codes.h"
#include "device/quor_device_interface.h"

TEST(ErrToString, EveryCodeHasItsText) {
  const std::map<int, std::string> expected = {
      {0, "QUOR_DI_OKAY"}, {-100, "QUOR_DI_TaskIsBusy"}, {-101, "QUOR_DI_InvalidDeviceSpec"},
      {-102, "QUOR_DI_EcuIsNotPresent"}, {-103, "QUOR_DI_CouldNotEnterBl"},
      {-104, "QUOR_DI_CouldNotConfirmBl"}, {-105, "QUOR_DI_CouldNotErase"},
      {-106, "QUOR_DI_CouldNotSendFlash"}, {-107, "QUOR_DI_CouldNotValidate"},
      {-108, "QUOR_DI_CouldNotRunApp"}, {-109, "QUOR_DI_CouldNotReqSetId"},
      {-110, "QUOR_DI_CouldNotConfirmId"},
      {-111, "Flash was successful. This message is just for debugging"},
      {-112, "The application file is too old.  It's not supported by this bootloader"},
      {-113, "QUOR_DI_CouldNotReqSetDesc"}, {-114, "QUOR_DI_CompileSzIsWrong"},
      {-115, "QUOR_DI_RivuduvozDeviceNoSetId"}, {-116, "QUOR_DI_InvalidTask"},
      {-117, "QUOR_DI_NotImplemented"}, {-118, "QUOR_DI_NoDevicesOnBus"},
      {-119, "QUOR_DI_MoreThanOneFile"}, {-120, "QUOR_DI_NodeIsInvalid"},
      {-121, "Device is not invalid"}, {-123, "QUOR_DI_CouldNotSendCanFrame"},
      {-124, "QUOR_DI_NormalModeMsgNotPresent"}, {-125, "QUOR_DI_FeatureNotSupported"},
      {-126, "QUOR_DI_NotUpdating"}, {-127, "QUOR_DI_CorruptedPOST"},
      {-128, "QUOR_DI_NoConfigs"}, {-130, "QUOR_DI_CouldNotReqFactoryDefault"},
      {-131, "QUOR_DI_CustomNameNotSupported"}, {-132, "QUOR_DI_ConfigReadWriteMismatch"},
      {-135, "Invalid Model"}, {-136, "QUOR_DI_InternalFailure"},
      {-137, "QUOR_DI_UpgradeStopped"}, {-200, "Invalid BFL File : Bad Header"},
      {-201, "Invalid BFL File : File Size is invalid"},
      {-202, "Selected BFL is for the wrong product"},
      {-203, "Invalid BFL Operation : No Sectors available"},
      {-204, "Invalid BFL File : Bad Sector Header"},
      {-205, "Invalid BFL File : Bad Size in Sector Header"}, {-206, "QUOR_DI_NoBflFile"},
      {-300, "QUOR_DI_CouldNotFindDynamicId"}, {-301, "QUOR_DI_DidNotGetDhcp"},
      {-302, "QUOR_DI_DidNotGetFullDhcp"}, {-400, "QUOR_DI_ZuzaveCouldNotSendSetDevId"},
      {-401, "QUOR_DI_ZuzaveBtnNotPressedApparently"},
      {-402, "QUOR_DI_AnotherJagALreadyHasThisId"}, {-403, "QUOR_DI_InvalidJagId"},
      {-500, "QUOR_DI_CannotOpenSerialPort"}, {-501, "QUOR_DI_CannotWriteSerialPort"},
      {-502, "QUOR_DI_CannotReadSerialPort"}, {-503, "QUOR_DI_CannotSerialToDevice"},
      {-504, "QUOR_DI_NoSerialControlFrameResp"}, {-600, "QUOR_DI_CannotOpenUdpPort"},
      {-601, "QUOR_DI_CannotWriteUdpPort"}, {-602, "QUOR_DI_CannotReadUdpPort"},
      {-603, "QUOR_DI_CannotUdpToDevice"}, {-604, "QUOR_DI_NoUdpControlFrameResp"},
      {-605, "QUOR_DI_TimeoutIso15Response"}, {-700, "QUOR_DI_InvalidJson"}};
  for (const auto& [code, text] : expected)
    EXPECT_EQ(QuorDeviceInterface::ErrToString(code), text) << "code " << code;
}

TEST(ErrToString, UnknownCodesUseTheFallback) {
  EXPECT_EQ(QuorDeviceInterface::ErrToString(-122), "Invalid Error Code(-122)");
  EXPECT_EQ(QuorDeviceInterface::ErrToString(5), "Invalid Error Code(5)");
  EXPECT_EQ(QuorDeviceInterface::ErrToString(-800), "Invalid Error Code(-800)");
  EXPECT_EQ(QuorDeviceInterface::ErrToString(-129), "Invalid Error Code(-129)");
}
