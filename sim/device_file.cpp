#include "sim/device_file.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <sstream>

#include "sim/device_state_file.h"
#include "sim/config_file_keys.h"
#include "sim/family_traits.h"
#include "sim/rivuduvoz_client.h"
#include "sim/sim_wire.h"

namespace quor::tessera::sim {
namespace {

using nlohmann::json;

constexpr int kMaxByteValue = 255;
constexpr int kMaxYear = 65535;
constexpr size_t kMaxNumberDigits = 5;
constexpr size_t kSerialDigits = kSerialBytes * 2;
constexpr ManufactureDate kDefaultManufactured{2019, 3, 5};
// Default serials spell "TESSERA" in their high half; the low half carries type and number.
constexpr uint8_t kDefaultSerialHigh[8] = {0x54, 0x45, 0x53, 0x53, 0x45, 0x52, 0x41, 0x00};

const char* const kDeviceKeys[] = {
    "family", "id",   "firmware", "bootloader", "hardware", "baseboard",  "manufactured",
    "serial", "name", "mode",     "model",      "vendor",   "model_code", "count",
    "dynamic_ids", "min_app_version", "ribbon", "faults", "flow_control_separation_ms"};
const char* const kFaultKeys[] = {"no_answer",           "lost_sector_ack",
                                  "lost_sector_ack_always", "unplug_after_sectors",
                                  "unplug_after_request", "application_fails_to_start"};
constexpr int kMaxSectorIndex = 65535;
constexpr int kMaxSeparation_ms = 127;  // the longest a flow-control frame can ask for
const char* const kBusShareKeys[] = {"drop", "duplicate", "delay", "delay_ms"};

// Thrown inside the parser only; ParseDeviceFile turns it into the caller's error text.
struct FileError {
  std::string message;
};

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
  throw FileError{where + ": " + what};
}

std::string Quoted(const json& value) { return value.dump(); }

const std::string& RequireString(const json& value, const std::string& where) {
  if (!value.is_string()) Fail(where, "expected a text, got " + Quoted(value));
  return value.get_ref<const std::string&>();
}

bool RequireBool(const json& value, const std::string& where) {
  if (!value.is_boolean()) Fail(where, "expected true or false, got " + Quoted(value));
  return value.get<bool>();
}

int RequireInteger(const json& value, const std::string& where, int minimum, int maximum) {
  if (!value.is_number_integer()) Fail(where, "expected a whole number, got " + Quoted(value));
  const int64_t number = value.get<int64_t>();
  if (number < minimum || number > maximum) {
    Fail(where, "expected " + std::to_string(minimum) + " to " + std::to_string(maximum) +
                    ", got " + std::to_string(number));
  }
  return static_cast<int>(number);
}

// Splits "a<sep>b<sep>c" into numbers; false when a piece is empty, not decimal or too long.
bool SplitNumbers(const std::string& text, char separator, std::vector<int>* numbers) {
  numbers->clear();
  std::string piece;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i == text.size() || text[i] == separator) {
      if (piece.empty() || piece.size() > kMaxNumberDigits) return false;
      numbers->push_back(std::stoi(piece));
      piece.clear();
    } else if (text[i] >= '0' && text[i] <= '9') {
      piece += text[i];
    } else {
      return false;
    }
  }
  return true;
}

bool AllBytes(const std::vector<int>& numbers) {
  for (int n : numbers) {
    if (n > kMaxByteValue) return false;
  }
  return true;
}

TwoPartVersion ParseTwoPart(const json& value, const std::string& where) {
  const std::string& text = RequireString(value, where);
  std::vector<int> parts;
  if (!SplitNumbers(text, '.', &parts) || parts.size() != 2 || !AllBytes(parts)) {
    Fail(where, "expected two numbers 0-255 separated by a dot, got " + Quoted(value));
  }
  return TwoPartVersion{static_cast<uint8_t>(parts[0]), static_cast<uint8_t>(parts[1])};
}

void ParseFirmware(const json& value, const std::string& where, DeviceAttributes* device) {
  const std::string& text = RequireString(value, where);
  std::vector<int> parts;
  if (!SplitNumbers(text, '.', &parts) || (parts.size() != 2 && parts.size() != 4) ||
      !AllBytes(parts)) {
    Fail(where, "expected two or four numbers 0-255 separated by dots, got " + Quoted(value));
  }
  device->firmware = {};
  for (size_t i = 0; i < parts.size(); ++i) device->firmware[i] = static_cast<uint8_t>(parts[i]);
  device->firmwareParts = static_cast<uint8_t>(parts.size());
}

ManufactureDate ParseDate(const json& value, const std::string& where) {
  const std::string& text = RequireString(value, where);
  std::vector<int> parts;
  if (!SplitNumbers(text, '-', &parts) || parts.size() != 3 || parts[0] > kMaxYear ||
      parts[1] > kMaxByteValue || parts[2] > kMaxByteValue) {
    Fail(where,
         "expected year-month-day (year 0-65535, month and day 0-255), got " + Quoted(value));
  }
  return ManufactureDate{static_cast<uint16_t>(parts[0]), static_cast<uint8_t>(parts[1]),
                         static_cast<uint8_t>(parts[2])};
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::array<uint8_t, kSerialBytes> ParseSerial(const json& value, const std::string& where) {
  const std::string& text = RequireString(value, where);
  std::array<uint8_t, kSerialBytes> serial{};
  bool valid = text.size() == kSerialDigits;
  for (size_t i = 0; valid && i < kSerialBytes; ++i) {
    const int high = HexDigit(text[2 * i]);
    const int low = HexDigit(text[2 * i + 1]);
    valid = high >= 0 && low >= 0;
    if (valid) serial[i] = static_cast<uint8_t>(high * 16 + low);
  }
  if (!valid) Fail(where, "expected 32 hexadecimal digits, got " + Quoted(value));
  return serial;
}

DeviceMode ParseMode(const json& value, const std::string& where) {
  const std::string& text = RequireString(value, where);
  if (text == "application") return DeviceMode::kApplication;
  if (text == "bootloader") return DeviceMode::kBootloader;
  if (text == "silent") return DeviceMode::kSilent;
  Fail(where, "expected \"application\", \"bootloader\" or \"silent\", got " + Quoted(value));
}

std::string ParseBoundedText(const json& value, const std::string& where, size_t maximum) {
  const std::string& text = RequireString(value, where);
  if (text.size() > maximum) {
    Fail(where,
         "at most " + std::to_string(maximum) + " bytes, got " + std::to_string(text.size()));
  }
  return text;
}

void RejectUnknownKeys(const json& entry, const std::string& where) {
  for (auto it = entry.begin(); it != entry.end(); ++it) {
    bool known = false;
    for (const char* key : kDeviceKeys) known = known || it.key() == key;
    for (const char* key : kStatusDeviceKeys) known = known || it.key() == key;
    for (const char* key : kConfigFileKeys) known = known || it.key() == key;
    if (!known) Fail(where + "." + it.key(), "unknown key");
  }
}

// The two required keys: the family's defaults for that device number.
DeviceAttributes ParseFamilyAndId(const json& entry, const std::string& where) {
  if (!entry.contains("family")) Fail(where, "missing key \"family\"");
  if (!entry.contains("id")) Fail(where, "missing key \"id\"");
  const std::string& familyName = RequireString(entry["family"], where + ".family");
  const FamilyTraits* traits = FindFamilyByFileName(familyName);
  if (traits == nullptr) {
    Fail(where + ".family",
         "unknown family " + Quoted(entry["family"]) + " (known: " + KnownFamilyNames() + ")");
  }
  const int id = RequireInteger(entry["id"], where + ".id", 0, wire::kMaxDeviceNumber);
  return DefaultDevice(traits->family, static_cast<uint8_t>(id));
}

// The mode as given, or the bootloader for a device without application firmware.
void ApplyMode(const json& entry, const std::string& where, DeviceAttributes* device) {
  if (entry.contains("mode")) {
    device->mode = ParseMode(entry["mode"], where + ".mode");
    if (device->mode == DeviceMode::kApplication && !HasApplicationFirmware(*device)) {
      Fail(where + ".mode", "a device without application firmware (255.255) cannot run it");
    }
  } else if (!HasApplicationFirmware(*device)) {
    device->mode = DeviceMode::kBootloader;
  }
}

void ParseReportedRecord(const json& entry, const std::string& where, DeviceAttributes* device) {
  if (entry.contains("model")) {
    device->reportedModel =
        ParseBoundedText(entry["model"], where + ".model", kMaxReportedStringLength);
  }
  if (entry.contains("vendor")) {
    device->reportedVendor =
        ParseBoundedText(entry["vendor"], where + ".vendor", kMaxReportedStringLength);
  }
  if (entry.contains("model_code")) {
    device->modelCode = static_cast<uint8_t>(
        RequireInteger(entry["model_code"], where + ".model_code", 0, kMaxByteValue));
  }
}

// A request code: a number 0-255 or a hexadecimal text such as "0xB7".
uint8_t ParseRequestCode(const json& value, const std::string& where) {
  if (value.is_number_integer()) return static_cast<uint8_t>(RequireInteger(value, where, 0, kMaxByteValue));
  const std::string& text = RequireString(value, where);
  const bool hex = text.size() == 4 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') &&
                   HexDigit(text[2]) >= 0 && HexDigit(text[3]) >= 0;
  if (!hex) Fail(where, "expected a request code such as \"0xB7\" or 183, got " + Quoted(value));
  return static_cast<uint8_t>(HexDigit(text[2]) * 16 + HexDigit(text[3]));
}

void ParseFaults(const json& faults, const std::string& where, DeviceFaults* out) {
  if (!faults.is_object()) Fail(where, "expected an object, got " + Quoted(faults));
  for (auto it = faults.begin(); it != faults.end(); ++it) {
    bool known = false;
    for (const char* key : kFaultKeys) known = known || it.key() == key;
    if (!known) Fail(where + "." + it.key(), "unknown key");
  }
  if (faults.contains("no_answer")) {
    const json& codes = faults["no_answer"];
    if (!codes.is_array()) Fail(where + ".no_answer", "expected a list, got " + Quoted(codes));
    for (size_t i = 0; i < codes.size(); ++i)
      out->unansweredRequests.push_back(
          ParseRequestCode(codes[i], where + ".no_answer[" + std::to_string(i) + "]"));
  }
  if (faults.contains("lost_sector_ack"))
    out->lostSectorAck = RequireInteger(faults["lost_sector_ack"], where + ".lost_sector_ack", 0,
                                        kMaxSectorIndex);
  if (faults.contains("lost_sector_ack_always")) {
    out->lostSectorAckAlways =
        RequireBool(faults["lost_sector_ack_always"], where + ".lost_sector_ack_always");
  }
  if (faults.contains("unplug_after_sectors"))
    out->unplugAfterSectors = RequireInteger(faults["unplug_after_sectors"],
                                             where + ".unplug_after_sectors", 1, kMaxSectorIndex);
  if (faults.contains("unplug_after_request"))
    out->unplugAfterRequest =
        ParseRequestCode(faults["unplug_after_request"], where + ".unplug_after_request");
  if (faults.contains("application_fails_to_start")) {
    out->applicationFailsToStart =
        RequireBool(faults["application_fails_to_start"], where + ".application_fails_to_start");
  }
}

// The bootloader's minimum application version, the ribbon cable and the injected faults.
void ParseUpgradeKeys(const json& entry, const std::string& where, DeviceAttributes* device) {
  if (entry.contains("min_app_version")) {
    const json& minimum = entry["min_app_version"];
    if (minimum.is_string() && minimum.get<std::string>() == "none") {
      device->minApplicationVersion.reset();
    } else {
      device->minApplicationVersion = ParseTwoPart(minimum, where + ".min_app_version");
    }
  }
  if (entry.contains("ribbon")) {
    device->onRibbonCable = RequireBool(entry["ribbon"], where + ".ribbon");
    if (device->onRibbonCable && device->family != DeviceFamily::kWren)
      Fail(where + ".ribbon", "only a wren can sit on a motor controller's ribbon cable");
  }
  if (entry.contains("faults")) ParseFaults(entry["faults"], where + ".faults", &device->faults);
}

// A ribbon IMU needs a motor controller of its number to answer through.
void CheckRibbonHosts(const std::vector<DeviceAttributes>& devices) {
  for (size_t i = 0; i < devices.size(); ++i) {
    if (!devices[i].onRibbonCable) continue;
    size_t clients = 0;
    size_t hosts = 0;
    for (const DeviceAttributes& other : devices) {
      if (other.deviceNumber != devices[i].deviceNumber) continue;
      if (other.onRibbonCable) ++clients;
      if (CarriesRibbonClients(other.family)) ++hosts;
    }
    if (clients > hosts)
      Fail("devices[" + std::to_string(i) + "].ribbon",
           "needs a motor controller (kestrel kx, kestrel kf, harrier hx) with id " +
               std::to_string(devices[i].deviceNumber) + " for each ribbon wren of that id");
  }
}

// One entry of the list; returns how many copies of it the robot gets.
int ParseDevice(const json& entry, const std::string& where, DeviceAttributes* device) {
  if (!entry.is_object()) Fail(where, "expected an object, got " + Quoted(entry));
  RejectUnknownKeys(entry, where);
  *device = ParseFamilyAndId(entry, where);

  const auto has = [&entry](const char* key) { return entry.contains(key); };
  if (has("firmware")) ParseFirmware(entry["firmware"], where + ".firmware", device);
  if (has("bootloader"))
    device->bootloader = ParseTwoPart(entry["bootloader"], where + ".bootloader");
  if (has("hardware")) device->hardware = ParseTwoPart(entry["hardware"], where + ".hardware");
  if (has("baseboard")) device->baseboard = ParseTwoPart(entry["baseboard"], where + ".baseboard");
  if (has("manufactured")) {
    device->manufactured = ParseDate(entry["manufactured"], where + ".manufactured");
  }
  if (has("serial")) device->serial = ParseSerial(entry["serial"], where + ".serial");
  if (has("name")) {
    device->customName = ParseBoundedText(entry["name"], where + ".name", kMaxCustomNameLength);
  }
  ApplyMode(entry, where, device);
  ParseReportedRecord(entry, where, device);
  StateKeyError stateError;
  if (!ParseStatusKeys(entry, device, &stateError)) {
    Fail(where + "." + stateError.key, stateError.message);
  }
  if (const auto problem = ParseConfigKeys(entry, device->family, &device->config))
    Fail(where + "." + problem->key, problem->message);
  if (has("dynamic_ids")) {
    device->dynamicIds = RequireBool(entry["dynamic_ids"], where + ".dynamic_ids");
  }
  if (has("flow_control_separation_ms")) {
    device->flowControlSeparation_ms = static_cast<uint8_t>(RequireInteger(
        entry["flow_control_separation_ms"], where + ".flow_control_separation_ms", 0, kMaxSeparation_ms));
  }
  ParseUpgradeKeys(entry, where, device);
  if (!has("count")) return 1;
  return RequireInteger(entry["count"], where + ".count", 1,
                        static_cast<int>(kMaxSimulatedDevices));
}

// Follows the parser through the document so that a key given twice in one object is an error
// naming where it is ("devices[2].id"), instead of the last one silently winning.
class DuplicateKeyCheck {
 public:
  bool operator()(int /*depth*/, json::parse_event_t event, json& parsed) {
    switch (event) {
      case json::parse_event_t::object_start:
      case json::parse_event_t::array_start:
        levels_.push_back(Level{event == json::parse_event_t::object_start, {}, ChildPath(), 0});
        break;
      case json::parse_event_t::object_end:
      case json::parse_event_t::array_end:
        levels_.pop_back();
        break;
      case json::parse_event_t::key:
        OnKey(parsed.get<std::string>());
        break;
      case json::parse_event_t::value:
        ChildPath();  // counts the element of an array
        break;
    }
    return true;
  }

 private:
  struct Level {
    bool object;
    std::vector<std::string> keys;  // objects: the keys so far; the last is the current one
    std::string path;
    size_t elements;  // arrays: elements so far
  };

  void OnKey(const std::string& key) {
    Level& level = levels_.back();
    for (const std::string& seen : level.keys) {
      if (seen == key) Fail(Join(level.path, key), "key given twice");
    }
    level.keys.push_back(key);
  }

  // Where the next value inside the current level sits.
  std::string ChildPath() {
    if (levels_.empty()) return "";
    Level& level = levels_.back();
    if (level.object) return Join(level.path, level.keys.empty() ? "" : level.keys.back());
    return level.path + "[" + std::to_string(level.elements++) + "]";
  }

  static std::string Join(const std::string& path, const std::string& key) {
    return path.empty() ? key : path + "." + key;
  }

  std::vector<Level> levels_;
};

double ParsePercent(const json& value, const std::string& where) {
  if (!value.is_number()) Fail(where, "expected a number of per cent, got " + Quoted(value));
  const double percent = value.get<double>();
  if (!(percent >= 0 && percent <= 100)) Fail(where, "expected 0 to 100 (per cent), got " + Quoted(value));
  return percent;
}

// The shares and delay of `object` (the "bus" object itself or one of its directions) onto
// every direction in `targets`.
void ParseLinkShares(const json& object, const std::string& where,
                     std::initializer_list<FrameFaults*> targets) {
  for (FrameFaults* link : targets) {
    if (object.contains("drop")) link->drop_percent = ParsePercent(object["drop"], where + ".drop");
    if (object.contains("duplicate"))
      link->duplicate_percent = ParsePercent(object["duplicate"], where + ".duplicate");
    if (object.contains("delay"))
      link->delay_percent = ParsePercent(object["delay"], where + ".delay");
    if (object.contains("delay_ms")) {
      link->delay_ms = static_cast<uint32_t>(RequireInteger(
          object["delay_ms"], where + ".delay_ms", 0, static_cast<int>(kMaxFrameDelay_ms)));
    }
  }
}

void RejectUnknownBusKeys(const json& object, const std::string& where, bool topLevel) {
  for (auto it = object.begin(); it != object.end(); ++it) {
    bool known = topLevel && (it.key() == "seed" || it.key() == "sent" || it.key() == "received");
    for (const char* key : kBusShareKeys) known = known || it.key() == key;
    if (!known) Fail(where + "." + it.key(), "unknown key");
  }
}

// "bus": shares for both directions, and "sent" / "received" objects for one of them.
BusFaults ParseBus(const json& bus) {
  if (!bus.is_object()) Fail("bus", "expected an object, got " + Quoted(bus));
  RejectUnknownBusKeys(bus, "bus", true);
  BusFaults faults;
  if (bus.contains("seed")) {
    const json& seed = bus["seed"];
    if (!seed.is_number_unsigned()) Fail("bus.seed", "expected a whole number 0 or more, got " + Quoted(seed));
    faults.seed = seed.get<uint64_t>();
  }
  ParseLinkShares(bus, "bus", {&faults.sent, &faults.received});
  for (const char* direction : {"sent", "received"}) {
    if (!bus.contains(direction)) continue;
    const std::string where = std::string("bus.") + direction;
    const json& link = bus[direction];
    if (!link.is_object()) Fail(where, "expected an object, got " + Quoted(link));
    RejectUnknownBusKeys(link, where, false);
    ParseLinkShares(link, where, {direction[0] == 's' ? &faults.sent : &faults.received});
  }
  for (const char* direction : {"sent", "received"}) {
    const std::string problem = CheckFrameFaults(direction[0] == 's' ? faults.sent : faults.received);
    if (!problem.empty()) Fail(std::string("bus.") + direction, problem);
  }
  return faults;
}

void ParseDocument(const std::string& text, std::vector<DeviceAttributes>* devices,
                   BusFaults* bus) {
  json document;
  try {
    document = json::parse(text, DuplicateKeyCheck());
  } catch (const json::exception& e) {
    // A syntax error, or a number too large for a double (an out_of_range error).
    Fail("device file", std::string("not valid JSON (") + e.what() + ")");
  }
  if (!document.is_object() || !document.contains("devices")) {
    Fail("device file", "expected an object with a \"devices\" list");
  }
  for (auto it = document.begin(); it != document.end(); ++it) {
    if (it.key() != "devices" && it.key() != "bus") Fail(it.key(), "unknown key");
  }
  *bus = document.contains("bus") ? ParseBus(document["bus"]) : BusFaults{};
  const json& list = document["devices"];
  if (!list.is_array()) Fail("devices", "expected a list, got " + Quoted(list));
  for (size_t i = 0; i < list.size(); ++i) {
    const std::string where = "devices[" + std::to_string(i) + "]";
    DeviceAttributes device;
    const int copies = ParseDevice(list[i], where, &device);
    if (devices->size() + static_cast<size_t>(copies) > kMaxSimulatedDevices) {
      Fail(where, "more than " + std::to_string(kMaxSimulatedDevices) + " devices in the file");
    }
    devices->insert(devices->end(), static_cast<size_t>(copies), device);
  }
  CheckRibbonHosts(*devices);
}

}  // namespace

DeviceAttributes DefaultDevice(DeviceFamily family, uint8_t deviceNumber) {
  const FamilyTraits& traits = TraitsOf(family);
  DeviceAttributes device;
  device.family = family;
  device.deviceNumber = deviceNumber;
  std::vector<int> parts;
  SplitNumbers(traits.defaultFirmware, '.', &parts);
  for (size_t i = 0; i < parts.size() && i < device.firmware.size(); ++i) {
    device.firmware[i] = static_cast<uint8_t>(parts[i]);
  }
  device.firmwareParts = static_cast<uint8_t>(parts.size());
  device.bootloader = traits.defaultBootloader;
  device.hardware = traits.defaultHardware;
  device.manufactured = kDefaultManufactured;
  std::memcpy(device.serial.data(), kDefaultSerialHigh, sizeof kDefaultSerialHigh);
  device.serial[11] = traits.deviceType;
  device.serial[15] = deviceNumber;
  device.modelCode = traits.modelCode;
  device.reportedModel = traits.reportedModel;
  device.reportedVendor = traits.reportedVendor;
  device.state = DefaultDeviceState(family);
  return device;
}

bool ParseDeviceFile(const std::string& text, std::vector<DeviceAttributes>* devices,
                     std::string* error, BusFaults* bus) {
  std::vector<DeviceAttributes> parsed;
  BusFaults faults;
  try {
    ParseDocument(text, &parsed, &faults);
  } catch (const FileError& e) {
    if (error != nullptr) *error = e.message;
    return false;
  }
  *devices = std::move(parsed);
  if (bus != nullptr) *bus = faults;
  return true;
}

bool LoadDeviceFile(const std::string& path, std::vector<DeviceAttributes>* devices,
                    std::string* error, BusFaults* bus) {
  // A folder opens as an endless empty stream, so say what it is. Anything else is read as a
  // stream up to the size limit, so a pipe (`--can sim:<(generate-robot)`) works too.
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    if (error != nullptr) *error = "device file " + path + " is a directory";
    return false;
  }
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    if (error != nullptr) *error = "cannot open device file " + path + ": " + std::strerror(errno);
    return false;
  }
  std::string text(kMaxDeviceFileBytes + 1, '\0');
  file.read(&text[0], static_cast<std::streamsize>(text.size()));
  if (file.bad()) {
    if (error != nullptr) *error = "cannot read device file " + path;
    return false;
  }
  text.resize(static_cast<size_t>(file.gcount()));
  if (text.size() > kMaxDeviceFileBytes) {
    if (error != nullptr) {
      *error = "device file " + path + " is larger than " + std::to_string(kMaxDeviceFileBytes) +
               " bytes";
    }
    return false;
  }
  if (!ParseDeviceFile(text, devices, error, bus)) {
    if (error != nullptr) *error = path + ": " + *error;
    return false;
  }
  return true;
}

}  // namespace quor::tessera::sim
