#include "cli/upgrade_outcome.h"

#include <ostream>

#include "cli/device_listing.h"

namespace tessera::cli {

namespace {

// The codes of the steps after the device was first asked (no answer to the first mode query,
// entering the bootloader, its confirmation, the dynamic-ID waits, erase, sectors, validation,
// starting the application).
constexpr int kTouchingFailures[] = {-102, -103, -104, -105, -106, -107, -108, -301, -302};

}  // namespace

bool UpgradeTouchedDevice(int error) {
  for (const int code : kTouchingFailures)
    if (code == error) return true;
  return false;
}

bool ReportDeviceState(DiagClient& client, const DeviceAddress& device, std::ostream& out,
                       std::chrono::milliseconds within, const std::string& rerun) {
  // A device in its bootloader is news whether or not it has left the listing yet.
  const ListingWait wait = WaitForDeviceAfterUpgrade(
      client, device,
      [](const nlohmann::json& entry, bool seenAbsent) { return RunsBootloader(entry) || seenAbsent; },
      within);
  const auto entry = FindDevice(wait.devices, device);
  if (!entry) {
    out << device.text() << " is not listed now; `tessera-diag list --wait 10` shows whether it "
        << "comes back\n";
    return false;
  }
  if (RunsBootloader(*entry)) {
    out << device.text() << " is in its bootloader now, without a running application; run the "
        << "upgrade again to bring it back: " << rerun << "\n";
    return false;
  }
  out << device.text() << " runs firmware " << TextOf(*entry, "CurrentVers") << " ("
      << TextOf(*entry, "SoftStatus") << ")\n";
  return true;
}

}  // namespace tessera::cli
