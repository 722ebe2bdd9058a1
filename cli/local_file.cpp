#include "cli/local_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace tessera::cli {

bool ReadWholeFile(const std::string& path, std::string& content, std::string& error) {
  std::error_code code;
  if (std::filesystem::is_directory(path, code)) {
    error = "is a directory";
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = std::string("cannot open: ") + std::strerror(errno);
    return false;
  }
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (in.bad()) {
    error = "cannot read";
    return false;
  }
  content = bytes.str();
  return true;
}

bool WriteWholeFile(const std::string& path, const std::string& content, std::string& error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) {
    error = std::string("cannot create: ") + std::strerror(errno);
    return false;
  }
  out << content;
  out.close();
  if (!out) {
    error = "cannot write";
    return false;
  }
  return true;
}

std::string FileNameOf(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

}  // namespace tessera::cli
