#include "server/search_dir.h"

#include <cstdlib>
#include <mutex>

namespace {

constexpr const char* kDefaultSearchDir = "/var/volatile/tmp/quor/";

std::mutex& searchDirMutex() {
  static std::mutex m;
  return m;
}

std::string withTrailingSlash(std::string directory) {
  if (!directory.empty() && directory.back() != '/') directory.push_back('/');
  return directory;
}

// Owned here so the pointer handed out stays valid; replaced only by SetSearchDir.
std::string& searchDir() {
  static std::string dir = [] {
    const char* env = std::getenv("TESSERA_SEARCH_DIR");
    return (env && *env) ? withTrailingSlash(env) : std::string(kDefaultSearchDir);
  }();
  return dir;
}

}  // namespace

const char* GetSearchDir() {
  std::lock_guard<std::mutex> hold(searchDirMutex());
  return searchDir().c_str();
}

void SetSearchDir(const std::string& directory) {
  std::lock_guard<std::mutex> hold(searchDirMutex());
  searchDir() = directory.empty() ? std::string(kDefaultSearchDir) : withTrailingSlash(directory);
}

bool IsPlainUploadFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}
