#include "device/version_serializer.h"

#include <sys/stat.h>

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

bool VersionSerializer::LeftFile::operator==(const LeftFile& other) const {
  return contents == other.contents && device == other.device && inode == other.inode &&
         size == other.size && modified_ns == other.modified_ns && changed_ns == other.changed_ns;
}

bool VersionSerializer::Look(const std::string& path, const std::string& contents,
                             LeftFile& out) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  constexpr int64_t kNanosPerSecond = 1000000000;
  out.contents = contents;
  out.device = info.st_dev;
  out.inode = info.st_ino;
  out.size = info.st_size;
  out.modified_ns = info.st_mtim.tv_sec * kNanosPerSecond + info.st_mtim.tv_nsec;
  out.changed_ns = info.st_ctim.tv_sec * kNanosPerSecond + info.st_ctim.tv_nsec;
  return true;
}

void VersionSerializer::LeaveFile(const std::string& path, const std::string& contents) {
  // The listing runs ten times a second: a file still exactly as this writer left it (same
  // inode, size and times) needs one stat, not a read.
  LeftFile now;
  const bool regular = Look(path, contents, now);
  const auto known = knownFiles_.find(path);
  if (regular && known != knownFiles_.end() && known->second == now) return;
  // Something other than a plain file at the path (a FIFO, a device, a folder) is left alone:
  // opening or reading it could block the listing or never end.
  std::error_code error;
  const auto status = std::filesystem::status(path, error);
  if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) return;
  if (!SameContents(path, contents)) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) return;
    file << contents;
    file.close();
    if (!file) return;
    ++filesWritten_;
  }
  if (Look(path, contents, now)) knownFiles_[path] = now;
}

void VersionSerializer::CreateIniVersions(const CANDeviceInterface1::DeviceDescriptor* descriptors,
                                          int count) {
  if (descriptors == nullptr) return;
  std::set<std::string> toDelete;
  GetIniList(toDelete);
  for (int i = 0; i < count; ++i) {
    const std::string path = GenerateFilePath(&descriptors[i]);
    toDelete.erase(path);
    LeaveFile(path, GenerateFileContents(&descriptors[i]));
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
