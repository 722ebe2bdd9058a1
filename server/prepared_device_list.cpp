#include "server/prepared_device_list.h"

#include "device/can_id.h"
#include "device/text_field.h"

namespace quor::tessera::diagnostics {

namespace {

using nlohmann::json;

constexpr int kJsonIndent = 4;
constexpr const char* kGeneralReturn = "GeneralReturn";
constexpr const char* kTail = "\n}";

std::string dumped(const json& value) {
  return value.dump(kJsonIndent, ' ', false, json::error_handler_t::replace);
}

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
  head_ = dumped(document);
  head_.resize(head_.size() - std::string("null").size() - std::string(kTail).size());
}

void PreparedDeviceList::WriteAnswer(const json& generalReturn, std::ostream& out) const {
  out << head_;
  // Dumped on its own, the general result sits one level too far left: every line after its
  // first moves in by one indentation (strings never hold a raw line break).
  const std::string general = dumped(generalReturn);
  size_t from = 0;
  for (size_t at = general.find('\n'); at != std::string::npos; at = general.find('\n', from)) {
    out.write(general.data() + from, static_cast<std::streamsize>(at + 1 - from));
    out << std::string(kJsonIndent, ' ');
    from = at + 1;
  }
  out.write(general.data() + from, static_cast<std::streamsize>(general.size() - from));
  out << kTail;
}

}  // namespace quor::tessera::diagnostics
