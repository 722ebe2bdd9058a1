#include "server/search_dir.h"

#include <cstdlib>
#include <mutex>
#include <set>

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

// Every directory text ever in use, each kept for the life of the process: GetSearchDir hands
// out pointers that another thread may still read after SetSearchDir, so no text may be freed or
// overwritten, not even at exit while detached connection threads still run. A node-based set
// keeps each text where it is; only distinct texts are added.
std::set<std::string>& searchDirTexts() {
  static auto* texts = new std::set<std::string>;
  return *texts;
}

const char* initialSearchDir() {
  const char* env = std::getenv("TESSERA_SEARCH_DIR");
  const std::string dir = (env && *env) ? withTrailingSlash(env) : std::string(kDefaultSearchDir);
  return searchDirTexts().insert(dir).first->c_str();
}

const char*& currentSearchDir() {
  static const char* current = initialSearchDir();
  return current;
}

}  // namespace

const char* GetSearchDir() {
  std::lock_guard<std::mutex> hold(searchDirMutex());
  return currentSearchDir();
}

void SetSearchDir(const std::string& directory) {
  std::lock_guard<std::mutex> hold(searchDirMutex());
  const std::string dir =
      directory.empty() ? std::string(kDefaultSearchDir) : withTrailingSlash(directory);
  const char*& current = currentSearchDir();  // before the insert: it may add the first text
  current = searchDirTexts().insert(dir).first->c_str();
}

bool IsPlainUploadFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}
