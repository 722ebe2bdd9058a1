#include "cli/backup_document.h"

#include <cctype>

#include "cli/clock_text.h"
#include "cli/device_listing.h"

namespace tessera::cli {

namespace {

constexpr const char kBackupKey[] = "Backup";
constexpr const char kDeviceKey[] = "Device";

size_t SkipSpace(const std::string& text, size_t at) {
  while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
  return at;
}

// The end of the string that starts at `at` (its opening quote), after its closing quote.
size_t StringEnd(const std::string& text, size_t at) {
  for (++at; at < text.size(); ++at) {
    if (text[at] == '\\') ++at;
    else if (text[at] == '"') return at + 1;
  }
  return text.size();
}

// The end of the value that starts at `at`.
size_t ValueEnd(const std::string& text, size_t at) {
  if (at >= text.size()) return at;
  if (text[at] == '"') return StringEnd(text, at);
  if (text[at] != '{' && text[at] != '[') {
    while (at < text.size() && text[at] != ',' && text[at] != '}' && text[at] != ']' &&
           !std::isspace(static_cast<unsigned char>(text[at])))
      ++at;
    return at;
  }
  int depth = 0;
  while (at < text.size()) {
    const char c = text[at];
    if (c == '"') {
      at = StringEnd(text, at);
      continue;
    }
    if (c == '{' || c == '[') ++depth;
    if ((c == '}' || c == ']') && --depth == 0) return at + 1;
    ++at;
  }
  return at;
}

}  // namespace

std::string MakeBackupText(const nlohmann::json& entry, const nlohmann::json& document) {
  const DeviceAddress address = AddressOf(entry);
  nlohmann::json file = {
      {kBackupKey,
       {{"Model", TextOf(entry, "Model")},
        {"ID", address.id},
        {"SerialNo", TextOf(entry, "SerialNo")},
        {"Firmware", TextOf(entry, "CurrentVers")},
        {"Saved", UtcTimestamp()},
        {"Tool", std::string("tessera-diag ") + TESSERA_CLI_VERSION}}},
      {kDeviceKey, document}};
  return file.dump(4) + "\n";
}

std::optional<std::string> TopLevelMemberText(const std::string& text, const std::string& key) {
  size_t at = SkipSpace(text, 0);
  if (at >= text.size() || text[at] != '{') return std::nullopt;
  at = SkipSpace(text, at + 1);
  while (at < text.size() && text[at] == '"') {
    const size_t keyEnd = StringEnd(text, at);
    const std::string name = text.substr(at + 1, keyEnd - at - 2);
    at = SkipSpace(text, keyEnd);
    if (at >= text.size() || text[at] != ':') return std::nullopt;
    const size_t valueStart = SkipSpace(text, at + 1);
    const size_t valueEnd = ValueEnd(text, valueStart);
    if (name == key) return text.substr(valueStart, valueEnd - valueStart);
    at = SkipSpace(text, valueEnd);
    if (at < text.size() && text[at] == ',') at = SkipSpace(text, at + 1);
  }
  return std::nullopt;
}

bool ReadConfigurationFile(const std::string& text, ConfigurationFile& file, std::string& error) {
  file = ConfigurationFile{};
  const nlohmann::json whole = nlohmann::json::parse(text, nullptr, false);
  if (!whole.is_object() || !whole.contains(kBackupKey)) {
    file.sent = text;
    file.document = whole;
    return true;
  }
  const auto& record = whole[kBackupKey];
  const auto device = TopLevelMemberText(text, kDeviceKey);
  if (!record.is_object() || !device || !whole[kDeviceKey].is_object()) {
    error = "a backup file needs a \"Backup\" record and a \"Device\" document";
    return false;
  }
  BackupRecord backup;
  backup.model = TextOf(record, "Model");
  const auto& id = record.value("ID", nlohmann::json());
  backup.id = id.is_number_unsigned() ? id.get<unsigned>() : 0;
  backup.serial = TextOf(record, "SerialNo");
  backup.firmware = TextOf(record, "Firmware");
  backup.saved = TextOf(record, "Saved");
  backup.tool = TextOf(record, "Tool");
  file.backup = backup;
  file.sent = *device;
  file.document = whole[kDeviceKey];
  return true;
}

}  // namespace tessera::cli
