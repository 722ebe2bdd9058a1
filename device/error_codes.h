#pragma once
// Result codes of every device operation: 0 success, negative failure.
#include <cstdint>

enum QuorDiError : int32_t {
  QUOR_DI_OKAY = 0,
  QUOR_DI_TaskIsBusy = -100,
  QUOR_DI_InvalidDeviceSpec = -101,
  QUOR_DI_EcuIsNotPresent = -102,
  QUOR_DI_CouldNotEnterBl = -103,
  QUOR_DI_CouldNotConfirmBl = -104,
  QUOR_DI_CouldNotErase = -105,
  QUOR_DI_CouldNotSendFlash = -106,
  QUOR_DI_CouldNotValidate = -107,
  QUOR_DI_CouldNotRunApp = -108,
  QUOR_DI_CouldNotReqSetId = -109,
  QUOR_DI_CouldNotConfirmId = -110,
  QUOR_DI_FlashWasGood = -111,            // "Flash was successful..." (debug only)
  QUOR_DI_AppTooOld = -112,               // application file too old for the bootloader
  QUOR_DI_CouldNotReqSetDesc = -113,
  QUOR_DI_CompileSzIsWrong = -114,
  QUOR_DI_RivuduvozDeviceNoSetId = -115,
  QUOR_DI_InvalidTask = -116,
  QUOR_DI_NotImplemented = -117,
  QUOR_DI_NoDevicesOnBus = -118,
  QUOR_DI_MoreThanOneFile = -119,
  QUOR_DI_NodeIsInvalid = -120,
  QUOR_DI_DeviceIsNotInvalid = -121,      // "Device is not invalid"
  QUOR_DI_CouldNotSendCanFrame = -123,
  QUOR_DI_NormalModeMsgNotPresent = -124,
  QUOR_DI_FeatureNotSupported = -125,
  QUOR_DI_NotUpdating = -126,
  QUOR_DI_CorruptedPOST = -127,
  QUOR_DI_NoConfigs = -128,
  QUOR_DI_CouldNotReqFactoryDefault = -130,
  QUOR_DI_CustomNameNotSupported = -131,
  QUOR_DI_ConfigReadWriteMismatch = -132,
  QUOR_DI_ConfigWriteNotAcknowledged = -133,  // no text of its own
  QUOR_DI_InvalidModel = -135,            // "Invalid Model"
  // A request failed inside the server (out of memory, say): not the client's doing, and never
  // to be mistaken for an unknown action.
  QUOR_DI_InternalFailure = -136,
  // The server stopped while a firmware upgrade ran: it ended at a sector boundary (or before
  // the erase), and the device waits in its bootloader for the next upgrade when its flash was
  // already erased.
  QUOR_DI_UpgradeStopped = -137,
  QUOR_DI_BflBadHeader = -200,
  QUOR_DI_BflBadFileSize = -201,
  QUOR_DI_BflWrongProduct = -202,
  QUOR_DI_BflNoSectors = -203,
  QUOR_DI_BflBadSectorHeader = -204,
  QUOR_DI_BflBadSectorSize = -205,
  QUOR_DI_NoBflFile = -206,
  QUOR_DI_CouldNotFindDynamicId = -300,
  QUOR_DI_DidNotGetDhcp = -301,
  QUOR_DI_DidNotGetFullDhcp = -302,
  QUOR_DI_ZuzaveCouldNotSendSetDevId = -400,
  QUOR_DI_ZuzaveBtnNotPressedApparently = -401,
  QUOR_DI_AnotherJagALreadyHasThisId = -402,
  QUOR_DI_InvalidJagId = -403,
  QUOR_DI_CannotOpenSerialPort = -500,
  QUOR_DI_CannotWriteSerialPort = -501,
  QUOR_DI_CannotReadSerialPort = -502,
  QUOR_DI_CannotSerialToDevice = -503,
  QUOR_DI_NoSerialControlFrameResp = -504,
  QUOR_DI_CannotOpenUdpPort = -600,
  QUOR_DI_CannotWriteUdpPort = -601,
  QUOR_DI_CannotReadUdpPort = -602,
  QUOR_DI_CannotUdpToDevice = -603,
  QUOR_DI_NoUdpControlFrameResp = -604,
  QUOR_DI_TimeoutIso15Response = -605,
  QUOR_DI_InvalidJson = -700,
  QUOR_DI_ListingCancelled = -800,        // a discovery round cancelled through its Event; no text
};
