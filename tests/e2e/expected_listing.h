#pragma once
// What "getdevices" must show for a simulated device, worked out from the device's own
// attributes with the listing's text rules (written here independently of the engine).
#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

#include "sim/device_attributes.h"
#include "sim/family_traits.h"

namespace tessera_test {

inline std::string Printf(const char* format, int a, int b) {
  char text[64];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

inline std::string ExpectedModel(const quor::tessera::sim::DeviceAttributes& d) {
  if (!d.reportedModel.empty()) return d.reportedModel;
  switch (d.modelCode) {
    case 4: return "PCM";
    case 5: return "PDP";
    case 9: return "Kestrel KX";
    case 13: return "Wren";
    case 15: return "CANtap";
    case 16: return "Harrier HX";
    default: return "Model:" + std::to_string(d.modelCode);
  }
}

inline std::string ExpectedManufactureDate(const quor::tessera::sim::ManufactureDate& date) {
  static const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "June",
                                  "July", "Aug", "Sept", "Oct", "Nov", "Dec"};
  std::string text = date.month >= 1 && date.month <= 12
                         ? std::string(kMonths[date.month - 1]) + " " + std::to_string(date.day) +
                               ", " + std::to_string(date.year)
                         : std::to_string(date.year) + "/" + std::to_string(date.month) + "/" +
                               std::to_string(date.day);
  if (date.year == 2014 && date.month < 8) text += " (Beta)";
  if (date.year == 2013) text += " (Alpha)";
  return text;
}

inline std::string ExpectedHardware(const quor::tessera::sim::DeviceAttributes& d) {
  const auto& traits = quor::tessera::sim::TraitsOf(d.family);
  const int major = d.hardware.major;
  const int minor = d.hardware.minor;
  if (traits.deviceType == 9 && major == 1 && minor == 1) return "1.1 - 1.3";
  const auto usable = [](int part) { return part != 0 && part != 255; };
  if (traits.deviceType == 8 && usable(d.baseboard.major) && usable(d.baseboard.minor))
    return Printf("Smart Module %i.%i", major, minor) +
           Printf(", Baseboard %i.%i", d.baseboard.major, d.baseboard.minor);
  return Printf("%i.%i", major, minor);
}

inline std::string ExpectedVendor(const quor::tessera::sim::DeviceAttributes& d) {
  switch (quor::tessera::sim::TraitsOf(d.family).deviceType) {
    case 1: return "Northgate Robotics";
    case 3: case 8: case 9: case 11: case 21: return "Brightwater Controls";
    default: return d.reportedVendor.empty() ? "Brightwater Controls" : d.reportedVendor;
  }
}

// A device running its application firmware, alone on its device ID.
inline nlohmann::json ExpectedListing(const quor::tessera::sim::DeviceAttributes& d) {
  const std::string model = ExpectedModel(d);
  nlohmann::json entry;
  entry["Name"] = d.customName.empty()
                      ? model + " (Device ID " + std::to_string(d.deviceNumber) + ")"
                      : d.customName.substr(0, 63);
  entry["Model"] = model;
  entry["ID"] = d.deviceNumber;
  entry["CurrentVers"] = quor::tessera::sim::FirmwareText(d);
  entry["HardwareRev"] = ExpectedHardware(d);
  entry["Vendor"] = ExpectedVendor(d);
  const bool withoutDynIds = d.manufactured.year <= 2015 &&
                            d.bootloader.major * 256 + d.bootloader.minor < 0x0203;
  entry["BootloaderRev"] = Printf("%i.%i", d.bootloader.major, d.bootloader.minor) +
                           (withoutDynIds ? " (no support for dynIds)" : "");
  entry["ManDate"] = ExpectedManufactureDate(d.manufactured);
  entry["SoftStatus"] = "Running Application.";
  entry["SerialNo"] = quor::tessera::sim::SerialText(d);
  entry["SupportsConfigs"] = quor::tessera::sim::TraitsOf(d.family).configImageLength > 0;
  return entry;
}

// The entry of `listing` (a "DeviceArray") with this model and device number, or null.
inline nlohmann::json FindEntry(const nlohmann::json& listing, const std::string& model, int id) {
  for (const auto& entry : listing)
    if (entry.value("Model", "") == model && entry.value("ID", -1) == id) return entry;
  return nullptr;
}

}  // namespace tessera_test
