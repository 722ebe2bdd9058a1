#include "server/prepared_device_list.h"

#include "device/can_id.h"
#include "device/text_field.h"
#include "server/json_text.h"

namespace quor::tessera::diagnostics {

namespace {

using nlohmann::json;

constexpr const char* kGeneralReturn = "GeneralReturn";
constexpr std::string_view kTail = "\n}";

}  // namespace

json PreparedDeviceList::DescribeDevice(const CANDeviceInterface1::DeviceDescriptor& d) {
  return json{{"Name", TextFieldValue(d.name)},
              {"Model", TextFieldValue(d.model)},
              {"ID", can_id::DeviceNumber(d.arbId)},
              {"CurrentVers", TextFieldValue(d.currentVers)},
              {"HardwareRev", TextFieldValue(d.hardwareRev)},
              {"Vendor", TextFieldValue(d.vendor)},
              {"BootloaderRev", TextFieldValue(d.bootloaderRev)},
              {"ManDate", TextFieldValue(d.manDate)},
              {"SoftStatus", TextFieldValue(d.softStatus)},
              {"SerialNo", TextFieldValue(d.serialNo)},
              {"SupportsConfigs", d.supportsConfigs != 0}};
}

PreparedDeviceList::PreparedDeviceList(const CANDeviceInterface1::DeviceDescriptor* list,
                                       int32_t count, double busUtilisation) {
  json array = json::array();
  for (int32_t i = 0; i < count; ++i) array.push_back(DescribeDevice(list[i]));
  // A null general result marks where each request's own goes: it is the last member.
  const json document{{"BusUtilPerc", busUtilisation}, {"DeviceArray", std::move(array)},
                      {kGeneralReturn, nullptr}};
  AppendJson(document, head_);
  head_.resize(head_.size() - std::string_view("null").size() - kTail.size());
}

std::string PreparedDeviceList::GeneralReturnText(const json& generalReturn) {
  std::string text;
  AppendJson(generalReturn, text, 1);  // a member of the document, one level in
  return text;
}

void PreparedDeviceList::WriteAnswer(const std::string& generalReturnText, std::string& out) const {
  out += head_;
  out += generalReturnText;
  out += kTail;
}

}  // namespace quor::tessera::diagnostics
