#pragma once
// The configuration backup file, shared with the browser page:
//
//   { "Backup": { "Model": "Kestrel KF", "ID": 2, "SerialNo": "…", "Firmware": "22.1.0.3",
//                 "Saved": "2026-12-09T04:12:00Z", "Tool": "tessera-diag 1.8.1" },
//     "Device": { "Configs": [ … ] } }
//
// "Device" is exactly the "Device" member of the "getconfig" answer, and restoring sends
// exactly that member, byte for byte as it stands in the file: the server never sees "Backup".
// A file without "Backup" is an old-style plain document and is sent as it is.
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace tessera::cli {

struct BackupRecord {
  std::string model;  // as the listing names it
  unsigned id = 0;
  std::string serial;
  std::string firmware;
  std::string saved;
  std::string tool;
};

// The text of a backup file of `document` (a "getconfig" answer's "Device") from the device
// whose listing entry is `entry`, saved now.
std::string MakeBackupText(const nlohmann::json& entry, const nlohmann::json& document);

struct ConfigurationFile {
  std::optional<BackupRecord> backup;  // set for a backup file
  std::string sent;                    // what the server is sent: "Device" as it stands, or the file
  nlohmann::json document;             // `sent` parsed (discarded when it is no JSON)
};

// Reads a configuration file's text. False with `error` set for a backup file without a usable
// "Device"; anything else that is no backup is a plain document, for the server to judge.
bool ReadConfigurationFile(const std::string& text, ConfigurationFile& file, std::string& error);

// The text of the top-level member `key` of the JSON object `text` exactly as it stands, or
// nothing when there is no such member. `text` must be well-formed JSON.
std::optional<std::string> TopLevelMemberText(const std::string& text, const std::string& key);

}  // namespace tessera::cli
