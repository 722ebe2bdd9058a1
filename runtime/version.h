#pragma once
#include <cstdint>
#include <string>

extern "C" {
extern const int32_t kQUOR_VersionMajor;
extern const int32_t kQUOR_VersionMinor;
}

namespace quor::tessera::diagnostics::version {

// "1.8.1 (" + build date + "," + build time + ")", e.g. "1.8.1 (Jan  4 2020,05:41:49)".
std::string GetDiagServerVersion();
std::string GetDiagServerReleaseInfo();
// When this build was made: "Jan  4 2020" and "05:41:49".
std::string GetBuildDate();
std::string GetBuildTime();
void GetVersionNumbers(int32_t& major, int32_t& minor);

}  // namespace quor::tessera::diagnostics::version
