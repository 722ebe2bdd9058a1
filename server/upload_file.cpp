#include "server/upload_file.h"

#include <sys/stat.h>

#include <fstream>

#include "server/request_framing.h"
#include "server/search_dir.h"

bool ReadUploadFile(const std::string& name, std::vector<uint8_t>& bytes) {
  bytes.clear();
  if (!IsPlainUploadFileName(name)) return false;
  const std::string path = std::string(GetSearchDir()) + name;
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
  if (static_cast<uint64_t>(info.st_size) > quor::tessera::networking::kMaxPostBodyBytes)
    return false;
  std::ifstream file(path, std::ios::binary);
  if (!file) return false;
  bytes.resize(static_cast<size_t>(info.st_size));
  file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<size_t>(file.gcount()));
  return true;
}
