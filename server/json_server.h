#pragma once
// The request dispatcher: turns each framed request into a call of the device interface and
// writes one JSON document as the answer.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "device/device_descriptor.h"
#include "live/control.h"
#include "live/plotter.h"
#include "server/prepared_device_list.h"
#include "server/request_parameters.h"
#include "server/tcp_server.h"

namespace quor::tessera::diagnostics {

using CANDeviceInterface1::DeviceDescriptor;
using networking::HttpResponseData;

class JsonServer : public networking::TCPServer {
 public:
  static constexpr int kDeviceCacheCapacity = 64;
  static constexpr int kSelfTestTextCapacity = 8092;
  static constexpr int kUpdateMessageCapacity = 255;

  JsonServer() = default;
  ~JsonServer() override { detach(); }

  void GetHttpResponse(char* bytes, int32_t count, std::stringstream& body, bool* sendResponse,
                       HttpResponseData* record) override;
  // Writes the answer straight into the connection's buffer.
  void WriteHttpResponse(char* bytes, int32_t count, std::string& body, bool* sendResponse,
                         HttpResponseData* record) override;

  // Replaces the device cache (at most 64 entries are kept) and the bus utilisation figure.
  void Update(const DeviceDescriptor* list, int32_t count, double busUtilisation);

  // The "Invalid HTTP Header" answer, written without whitespace.
  static std::string BadRequestDocument();

  // Direct control and the plotter live as long as the dispatcher. When the server stops they
  // stop sending and reading and forget their device, so a restarted server starts as new.
  void CloseLiveData();
  void OpenLiveData();

 private:
  struct Request {
    utility::ParameterMap params;
    std::string model;
    std::string action;
    int id = 0;
    bool bodyComplete = false;
    HttpResponseData* record = nullptr;
    std::string fileAsWritten;  // the "file" parameter before lower-casing
  };

  std::string GetParamString(char* bytes, int32_t count, HttpResponseData* record, bool* waiting,
                             bool* badRequest, bool* bodyComplete);
  // A copy of the first cached device of that model (lower-cased) and device number, so the
  // device stays valid for a whole operation while the cache is replaced.
  std::optional<DeviceDescriptor> FindDevice(std::string model, uint8_t deviceNumber) const;
  const uint8_t* GetFileData(int* size, HttpResponseData* record) const;
  // The uploaded file itself: GetFileData's part without standard part headers.
  const uint8_t* UploadedFile(int* size, HttpResponseData* record) const;

  // One action: its handler gets the device (never null when `needsDevice`) and adds its own
  // members to the answer document; it returns the answer's error code.
  using Handler = int32_t (JsonServer::*)(const Request& request, DeviceDescriptor* device,
                                          nlohmann::json& document);
  struct Action {
    const char* name;
    bool needsDevice;
    Handler handle;
  };
  static const Action kActions[];

  static Request ParseRequest(const std::string& parameters, bool bodyComplete,
                              HttpResponseData* record);
  // The "getdevices" answer: the prepared listing with this request's general result. A query
  // string is remembered with its general result (none for a POST, whose body adds to it).
  void answerDeviceList(nlohmann::json& general, const std::string* query, std::string& body);
  // The answer to the query last answered by `answerDeviceList`, if `query` is that one.
  bool answerRepeatedDeviceList(const std::string& query, std::string& body) const;
  // Finds the device and the action and runs it; the answer's error code.
  int32_t Dispatch(const Request& request, nlohmann::json& document);

  int32_t getVersion(const Request& request, DeviceDescriptor* device, nlohmann::json& document);
  int32_t blink(const Request& request, DeviceDescriptor* device, nlohmann::json& document);
  int32_t enterCalibration(const Request& request, DeviceDescriptor* device,
                           nlohmann::json& document);
  int32_t factoryDefault(const Request& request, DeviceDescriptor* device,
                         nlohmann::json& document);
  int32_t setId(const Request& request, DeviceDescriptor* device, nlohmann::json& document);
  int32_t setName(const Request& request, DeviceDescriptor* device, nlohmann::json& document);
  int32_t fieldUpgrade(const Request& request, DeviceDescriptor* device,
                       nlohmann::json& document);
  int32_t progress(const Request& request, DeviceDescriptor* device, nlohmann::json& document);
  int32_t selfTest(const Request& request, DeviceDescriptor* device, nlohmann::json& document);
  int32_t control(const Request& request, DeviceDescriptor* device, nlohmann::json& document);
  int32_t plot(const Request& request, DeviceDescriptor* device, nlohmann::json& document);
  int32_t enableLog(const Request& request, DeviceDescriptor* device, nlohmann::json& document);
  int32_t disableLog(const Request& request, DeviceDescriptor* device, nlohmann::json& document);
  int32_t getConfig(const Request& request, DeviceDescriptor* device, nlohmann::json& document);
  int32_t setConfig(const Request& request, DeviceDescriptor* device, nlohmann::json& document);

  mutable std::mutex cacheMutex_;
  DeviceDescriptor cache_[kDeviceCacheCapacity] = {};
  int32_t deviceCount_ = 0;
  double busUtilisation_ = -1.0;
  Control control_;
  Plotter plotter_;  // destroyed before the control
  // The "getdevices" answer of the current cache (bus utilisation included).
  std::shared_ptr<const PreparedDeviceList> deviceListAnswer_ =
      std::make_shared<const PreparedDeviceList>(nullptr, 0, -1.0);
  // A client polls the listing with the same query over and over; parsing it and printing its
  // general result cost more than the rest of the answer, so the last one is kept as text.
  struct QueryGeneralReturn {
    std::string query;
    std::string text;
  };
  std::shared_ptr<const QueryGeneralReturn> lastDeviceListQuery_;
};

}  // namespace quor::tessera::diagnostics
