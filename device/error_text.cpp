#include <string>

#include "device/error_codes.h"
#include "device/quor_device_interface.h"

namespace {

struct ErrorText {
  int32_t code;
  const char* text;
};

// Texts are the constant names unless the code carries a message of its own.
#define TESSERA_ERROR_NAME(c) {c, #c}
constexpr ErrorText kErrorTexts[] = {
    TESSERA_ERROR_NAME(QUOR_DI_OKAY),
    TESSERA_ERROR_NAME(QUOR_DI_TaskIsBusy),
    TESSERA_ERROR_NAME(QUOR_DI_InvalidDeviceSpec),
    TESSERA_ERROR_NAME(QUOR_DI_EcuIsNotPresent),
    TESSERA_ERROR_NAME(QUOR_DI_CouldNotEnterBl),
    TESSERA_ERROR_NAME(QUOR_DI_CouldNotConfirmBl),
    TESSERA_ERROR_NAME(QUOR_DI_CouldNotErase),
    TESSERA_ERROR_NAME(QUOR_DI_CouldNotSendFlash),
    TESSERA_ERROR_NAME(QUOR_DI_CouldNotValidate),
    TESSERA_ERROR_NAME(QUOR_DI_CouldNotRunApp),
    TESSERA_ERROR_NAME(QUOR_DI_CouldNotReqSetId),
    TESSERA_ERROR_NAME(QUOR_DI_CouldNotConfirmId),
    TESSERA_ERROR_NAME(QUOR_DI_CouldNotReqSetDesc),
    TESSERA_ERROR_NAME(QUOR_DI_CompileSzIsWrong),
    TESSERA_ERROR_NAME(QUOR_DI_RivuduvozDeviceNoSetId),
    TESSERA_ERROR_NAME(QUOR_DI_InvalidTask),
    TESSERA_ERROR_NAME(QUOR_DI_NotImplemented),
    TESSERA_ERROR_NAME(QUOR_DI_NoDevicesOnBus),
    TESSERA_ERROR_NAME(QUOR_DI_MoreThanOneFile),
    TESSERA_ERROR_NAME(QUOR_DI_NodeIsInvalid),
    TESSERA_ERROR_NAME(QUOR_DI_CouldNotSendCanFrame),
    TESSERA_ERROR_NAME(QUOR_DI_NormalModeMsgNotPresent),
    TESSERA_ERROR_NAME(QUOR_DI_FeatureNotSupported),
    TESSERA_ERROR_NAME(QUOR_DI_NotUpdating),
    TESSERA_ERROR_NAME(QUOR_DI_CorruptedPOST),
    TESSERA_ERROR_NAME(QUOR_DI_NoConfigs),
    TESSERA_ERROR_NAME(QUOR_DI_CouldNotReqFactoryDefault),
    TESSERA_ERROR_NAME(QUOR_DI_CustomNameNotSupported),
    TESSERA_ERROR_NAME(QUOR_DI_ConfigReadWriteMismatch),
    TESSERA_ERROR_NAME(QUOR_DI_InternalFailure),
    TESSERA_ERROR_NAME(QUOR_DI_UpgradeStopped),
    TESSERA_ERROR_NAME(QUOR_DI_NoBflFile),
    TESSERA_ERROR_NAME(QUOR_DI_CouldNotFindDynamicId),
    TESSERA_ERROR_NAME(QUOR_DI_DidNotGetDhcp),
    TESSERA_ERROR_NAME(QUOR_DI_DidNotGetFullDhcp),
    TESSERA_ERROR_NAME(QUOR_DI_ZuzaveCouldNotSendSetDevId),
    TESSERA_ERROR_NAME(QUOR_DI_ZuzaveBtnNotPressedApparently),
    TESSERA_ERROR_NAME(QUOR_DI_AnotherJagALreadyHasThisId),
    TESSERA_ERROR_NAME(QUOR_DI_InvalidJagId),
    TESSERA_ERROR_NAME(QUOR_DI_CannotOpenSerialPort),
    TESSERA_ERROR_NAME(QUOR_DI_CannotWriteSerialPort),
    TESSERA_ERROR_NAME(QUOR_DI_CannotReadSerialPort),
    TESSERA_ERROR_NAME(QUOR_DI_CannotSerialToDevice),
    TESSERA_ERROR_NAME(QUOR_DI_NoSerialControlFrameResp),
    TESSERA_ERROR_NAME(QUOR_DI_CannotOpenUdpPort),
    TESSERA_ERROR_NAME(QUOR_DI_CannotWriteUdpPort),
    TESSERA_ERROR_NAME(QUOR_DI_CannotReadUdpPort),
    TESSERA_ERROR_NAME(QUOR_DI_CannotUdpToDevice),
    TESSERA_ERROR_NAME(QUOR_DI_NoUdpControlFrameResp),
    TESSERA_ERROR_NAME(QUOR_DI_TimeoutIso15Response),
    TESSERA_ERROR_NAME(QUOR_DI_InvalidJson),
#undef TESSERA_ERROR_NAME
    {QUOR_DI_FlashWasGood, "Flash was successful. This message is just for debugging"},
    {QUOR_DI_AppTooOld, "The application file is too old.  It's not supported by this bootloader"},
    {QUOR_DI_DeviceIsNotInvalid, "Device is not invalid"},
    {QUOR_DI_InvalidModel, "Invalid Model"},
    {QUOR_DI_BflBadHeader, "Invalid BFL File : Bad Header"},
    {QUOR_DI_BflBadFileSize, "Invalid BFL File : File Size is invalid"},
    {QUOR_DI_BflWrongProduct, "Selected BFL is for the wrong product"},
    {QUOR_DI_BflNoSectors, "Invalid BFL Operation : No Sectors available"},
    {QUOR_DI_BflBadSectorHeader, "Invalid BFL File : Bad Sector Header"},
    {QUOR_DI_BflBadSectorSize, "Invalid BFL File : Bad Size in Sector Header"},
};

}  // namespace

std::string QuorDeviceInterface::ErrToString(int32_t code) {
  for (const ErrorText& entry : kErrorTexts) {
    if (entry.code == code) return entry.text;
  }
  return "Invalid Error Code(" + std::to_string(code) + ")";
}
