#include "runtime/version.h"

extern "C" {
const int32_t kQUOR_VersionMajor = 1;
const int32_t kQUOR_VersionMinor = 8;
}

namespace quor::tessera::diagnostics::version {

namespace {
constexpr const char* kReleaseVersion = "1.8.1";
constexpr const char* kReleaseInfo = "ZED2020";
}  // namespace

std::string GetDiagServerVersion() {
  return std::string(kReleaseVersion) + " (" + GetBuildDate() + "," + GetBuildTime() + ")";
}

std::string GetBuildDate() { return __DATE__; }

std::string GetBuildTime() { return __TIME__; }

std::string GetDiagServerReleaseInfo() { return kReleaseInfo; }

void GetVersionNumbers(int32_t& major, int32_t& minor) {
  major = kQUOR_VersionMajor;
  minor = kQUOR_VersionMinor;
}

}  // namespace quor::tessera::diagnostics::version
