#include "device/version_serializer.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "device/can_id.h"
#include "device/text_field.h"

namespace {

// True when the regular file at `path` holds exactly `contents`; reads no more than that.
bool SameContents(const std::string& path, const std::string& contents) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  if (error || size != contents.size()) return false;
  std::ifstream existing(path, std::ios::binary);
  std::string old(contents.size(), '\0');
  return existing.read(&old[0], static_cast<std::streamsize>(old.size())) && old == contents;
}

}  // namespace

std::string VersionSerializer::HomeDir() {
  const char* override = std::getenv(kHomeDirVariable);
  std::string dir = (override != nullptr && override[0] != '\0') ? override : kHomeDir;
  if (dir.back() != '/') dir += '/';
  return dir;
}

std::string VersionSerializer::GenerateFilePath(
    const CANDeviceInterface1::DeviceDescriptor* descriptor) const {
  // The model text comes from the device: a path separator in it must not lead the file
  // elsewhere.
  std::string model = TextFieldValue(descriptor->model);
  for (char& c : model) {
    if (c == '/' || c == '\\') c = '_';
  }
  return HomeDir() + model + "-" + std::to_string(can_id::DeviceNumber(descriptor->arbId)) +
         "-versions.ini";
}

std::string VersionSerializer::GenerateFileContents(
    const CANDeviceInterface1::DeviceDescriptor* descriptor) const {
  std::ostringstream text;
  text << "[Version]\n"
       << "deviceID=" << std::hex << descriptor->arbId << std::dec << "\n"
       << "currentVersion=" << TextFieldValue(descriptor->currentVers) << "\n"
       << "softwareStatus=" << TextFieldValue(descriptor->softStatus) << "\n"
       << "model=" << TextFieldValue(descriptor->model) << "\n"
       << "hardwareRev=" << TextFieldValue(descriptor->hardwareRev) << "\n"
       << "bootloaderRev=" << TextFieldValue(descriptor->bootloaderRev) << "\n"
       << "manufactureDate=" << TextFieldValue(descriptor->manDate) << "\n";
  return text.str();
}

void VersionSerializer::CreateIniVersions(const CANDeviceInterface1::DeviceDescriptor* descriptors,
                                          int count) {
  if (descriptors == nullptr) return;
  std::set<std::string> toDelete;
  GetIniList(toDelete);
  for (int i = 0; i < count; ++i) {
    const std::string path = GenerateFilePath(&descriptors[i]);
    const std::string contents = GenerateFileContents(&descriptors[i]);
    toDelete.erase(path);
    // The listing runs ten times a second; a file this writer already left with these
    // contents needs no look at the disk.
    const auto known = knownContents_.find(path);
    if (known != knownContents_.end() && known->second == contents) continue;
    // Something other than a plain file at the path (a FIFO, a device, a folder) is left
    // alone: opening or reading it could block the listing or never end.
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) continue;
    if (!SameContents(path, contents)) {
      std::ofstream file(path, std::ios::binary | std::ios::trunc);
      if (!file) continue;
      file << contents;
      file.close();
      if (!file) continue;
      ++filesWritten_;
    }
    knownContents_[path] = contents;
  }
  for (const std::string& path : toDelete) std::remove(path.c_str());
}

bool VersionSerializer::IsCanNodeIniFile(const std::string& fileName) {
  if (fileName.find(".ini") == std::string::npos) return false;
  for (const char* model : {"PCM", "PDP", "Kestrel KX", "Kestrel KF", "Zuzave", "Harrier HX"}) {
    if (fileName.find(model) != std::string::npos) return true;
  }
  return false;
}

void VersionSerializer::GetIniList(std::set<std::string>& /*names*/) const {}
