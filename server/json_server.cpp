#include "server/json_server.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "config/config_group_serializer.h"
#include "core/string_util.h"
#include "device/can_device_interface1.h"
#include "device/can_id.h"
#include "device/error_codes.h"
#include "device/quor_device_interface.h"
#include "device/text_field.h"
#include "runtime/diag_print.h"
#include "server/config_document_limits.h"
#include "server/configuration_write.h"
#include "server/cross_site_request.h"
#include "server/json_text.h"
#include "server/multipart_body.h"
#include "server/prepared_device_list.h"
#include "server/request_framing.h"
#include "server/request_guard.h"
#include "server/search_dir.h"
#include "server/upload_file.h"
#include "runtime/version.h"

namespace quor::tessera::diagnostics {

using nlohmann::json;
namespace dev = CANDeviceInterface1;

namespace {

// A file named by a request is read into memory the uploads in progress share.
constexpr const char* kNoRoomForFileMessage =
    "Not enough upload memory free for the file now, try again when other uploads have ended";

std::string lookup(const utility::ParameterMap& params, const std::string& key) {
  const auto it = params.find(key);
  return it == params.end() ? std::string() : it->second;
}

}  // namespace

std::string JsonServer::BadRequestDocument() {
  json general{{"Action", ""},
               {"Device", ""},
               {"Error", static_cast<int>(QUOR_DI_CorruptedPOST)},
               {"ErrorMessage", "Invalid HTTP Header"},
               {"ID", ""}};
  return json{{"GeneralReturn", general}}.dump();
}

std::string JsonServer::GetParamString(char* bytes, int32_t count, HttpResponseData* record,
                                       bool* waiting, bool* badRequest, bool* bodyComplete) {
  std::string parameters;
  const auto outcome = networking::FrameRequest(bytes, count, *record,
                                                networking::FramingClockMs(), parameters);
  *waiting = outcome == networking::FramingOutcome::kWaiting;
  *badRequest = outcome == networking::FramingOutcome::kBadRequest;
  *bodyComplete = outcome == networking::FramingOutcome::kBodyComplete;
  return parameters;
}

void JsonServer::GetHttpResponse(char* bytes, int32_t count, std::stringstream& body,
                                 bool* sendResponse, HttpResponseData* record) {
  std::string text;
  WriteHttpResponse(bytes, count, text, sendResponse, record);
  body << text;
}

void JsonServer::WriteHttpResponse(char* bytes, int32_t count, std::string& body,
                                   bool* sendResponse, HttpResponseData* record) {
  bool waiting = false, badRequest = false, bodyComplete = false;
  std::string parameters =
      GetParamString(bytes, count, record, &waiting, &badRequest, &bodyComplete);
  *sendResponse = !waiting;
  if (record->page) return;  // the page's files: the connection sends the prepared answer
  if (!waiting && !record->crossSiteRefusal.empty()) {
    // A page of another site must not drive the robot through the user's browser.
    networking::LogCrossSiteRefusal(record->crossSiteRefusal);
    badRequest = true;
  }
  if (badRequest) body += BadRequestDocument();
  if (waiting || badRequest) return;
  if (!bodyComplete && answerRepeatedDeviceList(parameters, body)) return;

  json general = json::object();
  if (bodyComplete) {
    parameters = record->postParameters;
    general["POSTResponse"] = parameters;
  }
  const Request request = ParseRequest(parameters, bodyComplete, record);
  general["Model"] = request.model;
  general["Action"] = request.action;
  general["ID"] = request.id;
  if (request.action == "getdevices") {
    // The most frequent request reads no device: its answer is prepared when the cache changes.
    answerDeviceList(general, bodyComplete ? nullptr : &parameters, body);
    return;
  }
  json document = json::object();
  const int32_t error = Dispatch(request, document);
  general["Error"] = error;
  general["ErrorMessage"] = QuorDeviceInterface::ErrToString(error);
  document["GeneralReturn"] = std::move(general);
  AppendJson(document, body);
}

void JsonServer::answerDeviceList(json& general, const std::string* query, std::string& body) {
  general["Error"] = QUOR_DI_OKAY;
  general["ErrorMessage"] = QuorDeviceInterface::ErrToString(QUOR_DI_OKAY);
  auto answered = std::make_shared<QueryGeneralReturn>();
  answered->text = PreparedDeviceList::GeneralReturnText(general);
  std::shared_ptr<const PreparedDeviceList> listing;
  {
    std::lock_guard<std::mutex> hold(cacheMutex_);
    listing = deviceListAnswer_;
    if (query) {
      answered->query = *query;
      lastDeviceListQuery_ = answered;
    }
  }
  listing->WriteAnswer(answered->text, body);
}

bool JsonServer::answerRepeatedDeviceList(const std::string& query, std::string& body) const {
  std::shared_ptr<const PreparedDeviceList> listing;
  std::shared_ptr<const QueryGeneralReturn> last;
  {
    std::lock_guard<std::mutex> hold(cacheMutex_);
    if (!lastDeviceListQuery_ || lastDeviceListQuery_->query != query) return false;
    listing = deviceListAnswer_;
    last = lastDeviceListQuery_;
  }
  listing->WriteAnswer(last->text, body);
  return true;
}

JsonServer::Request JsonServer::ParseRequest(const std::string& parameters, bool bodyComplete,
                                             HttpResponseData* record) {
  Request request;
  request.params = utility::ParseParameterString(parameters);
  request.model = lookup(request.params, "model");
  request.action = lookup(request.params, "action");
  request.id = utility::ReadSignedDecimal(lookup(request.params, "id"));
  request.bodyComplete = bodyComplete;
  request.record = record;
  if (record != nullptr) request.fileAsWritten = utility::ValueAsWritten(record->queryAsWritten, "file");
  return request;
}

// Every action the dispatcher knows, matched exactly against the lower-cased action text.
// ("getdevices", which needs no device, is answered before dispatch from the prepared listing.)
const JsonServer::Action JsonServer::kActions[] = {
    {"getversion", false, &JsonServer::getVersion},
    {"blink", true, &JsonServer::blink},
    {"entercal", true, &JsonServer::enterCalibration},
    {"factorydef", true, &JsonServer::factoryDefault},
    {"setid", true, &JsonServer::setId},
    {"setname", true, &JsonServer::setName},
    {"fieldupgrade", true, &JsonServer::fieldUpgrade},
    {"progress", true, &JsonServer::progress},
    {"selftest", true, &JsonServer::selfTest},
    {"control", true, &JsonServer::control},
    {"plot", true, &JsonServer::plot},
    {"enablelog", false, &JsonServer::enableLog},
    {"disablelog", false, &JsonServer::disableLog},
    {"getconfig", true, &JsonServer::getConfig},
    {"setconfig", true, &JsonServer::setConfig},
};

int32_t JsonServer::Dispatch(const Request& request, json& document) {
  // A number outside the device-number field names no device: cut to 8 bits, 256 would reach
  // device 0.
  std::optional<DeviceDescriptor> device;
  if (utility::IsDeviceNumberInField(lookup(request.params, "id")))
    device = FindDevice(request.model, static_cast<uint8_t>(request.id));
  const Action* action = nullptr;
  for (const Action& candidate : kActions) {
    if (request.action != candidate.name) continue;
    action = &candidate;
    break;
  }
  // An unknown action is checked for its device first, as every action that needs one.
  if (!device && (action == nullptr || action->needsDevice)) return QUOR_DI_NodeIsInvalid;
  if (action == nullptr) return QUOR_DI_InvalidTask;
  DeviceDescriptor* addressed = device ? &*device : nullptr;
  return RunGuarded(request.action, [&] {
    return (this->*action->handle)(request, addressed, document);
  });
}

int32_t JsonServer::getVersion(const Request&, DeviceDescriptor*, json& document) {
  document["Version"] = version::GetDiagServerVersion();
  document["SearchDirectory"] = GetSearchDir();
  document["ReleaseInfo"] = version::GetDiagServerReleaseInfo();
  return QUOR_DI_OKAY;
}

int32_t JsonServer::blink(const Request&, DeviceDescriptor* device, json&) {
  const int result = dev::saveLightLed(device, true);
  return result == 1 ? QUOR_DI_OKAY : result;  // 1: the device confirmed the fault clear
}

int32_t JsonServer::enterCalibration(const Request& request, DeviceDescriptor* device, json&) {
  const unsigned calType = utility::ReadUnsignedDecimal(lookup(request.params, "caltype"));
  return dev::enterCalibration(device, static_cast<int>(calType));
}

int32_t JsonServer::factoryDefault(const Request&, DeviceDescriptor* device, json&) {
  return dev::factoryDefault(device);
}

int32_t JsonServer::setId(const Request& request, DeviceDescriptor* device, json& document) {
  const std::string newIdText = lookup(request.params, "newid");
  const unsigned newId = utility::ReadUnsignedDecimal(newIdText);
  document["NewID"] = newId;
  // Read as unsigned, "-4294967295" would wrap to 1; such a number moves nothing.
  if (!utility::IsDeviceNumberInField(newIdText)) return QUOR_DI_NodeIsInvalid;
  return dev::assignDeviceID(device, newId);
}

int32_t JsonServer::setName(const Request& request, DeviceDescriptor* device, json& document) {
  const std::string newName = lookup(request.params, "newname");
  document["NewName"] = newName;
  return dev::saveDeviceName(device, newName.c_str());
}

int32_t JsonServer::progress(const Request&, DeviceDescriptor*, json& document) {
  int percent = 0;
  bool updating = false;
  dev::checkUpdateProgress(&percent, &updating);
  document["Progress"] = percent;
  return updating ? QUOR_DI_OKAY : QUOR_DI_NotUpdating;
}

int32_t JsonServer::selfTest(const Request&, DeviceDescriptor* device, json& document) {
  std::vector<char> text(kSelfTestTextCapacity, '\0');
  const int result = dev::selfTest(device, text.data(), kSelfTestTextCapacity);
  text.back() = '\0';
  document["SelfTest"] = std::string(text.data());
  return result;
}

int32_t JsonServer::control(const Request& request, DeviceDescriptor* device, json&) {
  return control_.ProcessUri(device, request.params);
}

int32_t JsonServer::plot(const Request& request, DeviceDescriptor* device, json& document) {
  return plotter_.ProcessUri(device, request.params, document);
}

void JsonServer::CloseLiveData() {
  control_.Close();
  plotter_.Close();
}

void JsonServer::OpenLiveData() {
  control_.Open();
  plotter_.Open();
}

int32_t JsonServer::enableLog(const Request&, DeviceDescriptor*, json&) {
  diag_enablePrints(true);
  return QUOR_DI_OKAY;
}

int32_t JsonServer::disableLog(const Request&, DeviceDescriptor*, json&) {
  diag_enablePrints(false);
  return QUOR_DI_OKAY;
}

namespace {

int32_t AnswerUpgradeBusy(json& document) {
  document["UpdateMessage"] = "Already Firmware Updating";
  document["Path"] = "";
  document["Size"] = "";
  return QUOR_DI_TaskIsBusy;
}

}  // namespace

int32_t JsonServer::fieldUpgrade(const Request& request, DeviceDescriptor* device,
                                 json& document) {
  int percent = 0;
  bool updating = false;
  dev::checkUpdateProgress(&percent, &updating);
  if (updating) return AnswerUpgradeBusy(document);
  std::string fileName = lookup(request.params, "file");
  char message[kUpdateMessageCapacity + 1] = {};
  networking::UploadBody file;
  const UploadFileRead read = ReadUploadFileAsWritten(
      request.fileAsWritten, networking::kMaxPostBodyBytes, file, &fileName);
  int32_t result;
  if (read == UploadFileRead::kRead) {
    result = dev::updateFirmware(device, file.data(), static_cast<unsigned>(file.size()), message,
                                 kUpdateMessageCapacity);
    // Another upgrade was accepted between the look above and this one's acceptance.
    if (result == QUOR_DI_TaskIsBusy) return AnswerUpgradeBusy(document);
    document["Size"] = file.size();
  } else if (read == UploadFileRead::kNoRoom) {
    result = QUOR_DI_TaskIsBusy;
    std::strcpy(message, kNoRoomForFileMessage);
    document["Size"] = 0;
  } else if (request.bodyComplete && request.record->expected != 0) {
    int size = 0;
    const uint8_t* part = UploadedFile(&size, request.record);
    if (part != nullptr) {
      result = dev::updateFirmware(device, part, static_cast<unsigned>(size), message,
                                   kUpdateMessageCapacity);
      if (result == QUOR_DI_TaskIsBusy) return AnswerUpgradeBusy(document);
    } else {
      result = QUOR_DI_MoreThanOneFile;
      std::strcpy(message, "More than one file was uploaded");
    }
    document["Size"] = request.record->expected;
  } else {
    result = QUOR_DI_NoBflFile;
    std::strcpy(message, "No BFL to flash");
    document["Size"] = 0;
  }
  message[kUpdateMessageCapacity] = '\0';
  document["UpdateMessage"] = std::string(message);
  document["Path"] = std::string(GetSearchDir()) + fileName;
  return result;
}

int32_t JsonServer::getConfig(const Request& request, DeviceDescriptor* device,
                              json& document) {
  ConfigByteArray image;
  int32_t result = dev::getConfigParameters(device, image);
  json configuration;  // null when reading failed
  if (result == QUOR_DI_OKAY)
    result = config2::ConfigGroupSerializer::Serialize(request.model, image, configuration);
  document["Device"] = configuration;
  return result;
}

int32_t JsonServer::setConfig(const Request& request, DeviceDescriptor* device,
                              json& document) {
  networking::UploadBody file;
  const uint8_t* bytes = nullptr;
  size_t size = 0;
  switch (ReadUploadFileAsWritten(request.fileAsWritten, kMaxConfigDocumentBytes, file)) {
    case UploadFileRead::kRead:
      bytes = file.data();
      size = file.size();
      break;
    case UploadFileRead::kNoRoom:
      diag_printf("setconfig: %s\r\n", kNoRoomForFileMessage);
      return QUOR_DI_TaskIsBusy;
    case UploadFileRead::kTooLarge:
      diag_printf("setconfig: the file is larger than %zu bytes\r\n", kMaxConfigDocumentBytes);
      return QUOR_DI_InvalidJson;
    case UploadFileRead::kUnavailable:
      if (request.bodyComplete) {
        int partSize = 0;
        bytes = UploadedFile(&partSize, request.record);
        size = static_cast<size_t>(partSize);
      }
      break;
  }
  if (bytes == nullptr) return QUOR_DI_NoConfigs;
  const std::string_view text(reinterpret_cast<const char*>(bytes),
                              strnlen(reinterpret_cast<const char*>(bytes), size));
  // Bounded before a tree is built, and never echoed: the answer carries what the device holds
  // once it was written, nothing of the upload before.
  const std::string refusal = ConfigDocumentOutsideLimits(text);
  if (!refusal.empty()) {
    diag_printf("setconfig: the document is %s\r\n", refusal.c_str());
    return QUOR_DI_InvalidJson;
  }
  const json requested = json::parse(text.begin(), text.end(), nullptr, false);
  if (requested.is_discarded()) return QUOR_DI_InvalidJson;

  return WriteDeviceConfiguration(request.model, device, requested, document);
}

void JsonServer::Update(const DeviceDescriptor* list, int32_t count, double busUtilisation) {
  const int32_t kept = list == nullptr ? 0 : std::clamp(count, 0, kDeviceCacheCapacity);
  {
    // Most refreshes of a settled bus find what the last one found: keep its answer.
    std::lock_guard<std::mutex> hold(cacheMutex_);
    const bool sameDevices =
        kept == 0 ||
        std::memcmp(cache_, list, sizeof(DeviceDescriptor) * static_cast<size_t>(kept)) == 0;
    if (kept == deviceCount_ && busUtilisation == busUtilisation_ && sameDevices) return;
  }
  // Prepared before the lock is taken: requests only ever wait for a pointer swap and the copy
  // of the descriptors, never for the document to be written.
  auto listing = std::make_shared<const PreparedDeviceList>(list, kept, busUtilisation);
  std::lock_guard<std::mutex> hold(cacheMutex_);
  std::copy(list, list + kept, cache_);
  deviceCount_ = kept;
  busUtilisation_ = busUtilisation;
  deviceListAnswer_ = std::move(listing);
}

std::optional<DeviceDescriptor> JsonServer::FindDevice(std::string model,
                                                       uint8_t deviceNumber) const {
  std::lock_guard<std::mutex> hold(cacheMutex_);
  for (int32_t i = 0; i < deviceCount_; ++i) {
    const DeviceDescriptor& d = cache_[i];
    if (can_id::DeviceNumber(d.arbId) == deviceNumber &&
        string_util::toLower(TextFieldValue(d.model)) == model)
      return d;
  }
  return std::nullopt;
}

const uint8_t* JsonServer::GetFileData(int* size, HttpResponseData* record) const {
  return networking::FindSingleFilePart(record->body, record->delimiter, size);
}

const uint8_t* JsonServer::UploadedFile(int* size, HttpResponseData* record) const {
  const uint8_t* part = GetFileData(size, record);
  networking::StripPartHeaders(part, *size);
  return part;
}

}  // namespace quor::tessera::diagnostics
