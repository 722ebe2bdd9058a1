#include "cli/report.h"

#include <ostream>
#include <set>

namespace tessera::cli {

namespace {

struct Hint {
  int error;
  const char* text;
};

// The server's error codes, as its answers carry them.
constexpr Hint kHints[] = {
    {-100, "a firmware upgrade is running; wait until it has ended"},
    {-101, "the device is not where the last listing had it (a new ID?); run `tessera-diag list`"},
    {-102, "the device did not answer; check its power and CAN wiring"},
    {-112, "the firmware file is older than this device's bootloader accepts"},
    {-113, "the device did not confirm the new name; `tessera-diag list` shows the name it holds, "
           "then try again"},
    {-116, "the server does not know this request; is it an older tessera-diag-server?"},
    {-117, "the server does not implement this request yet"},
    {-119, "upload exactly one file"},
    {-120, "no such device in the last listing, run `tessera-diag list`"},
    {-124, "the device sent no status frames; check its power, wiring and firmware"},
    {-125, "this device does not support the request"},
    {-126, "no firmware upgrade is running"},
    {-127, "the server refused the request (uploads are limited to 32 MiB)"},
    {-128, "no configuration read from this device yet; wait until it has been listed a while"},
    {-131, "this device cannot hold a custom name"},
    {-132, "the device holds other values than were sent; `tessera-diag config get` shows them"},
    {-133, "the device did not acknowledge the configuration; it holds its previous one or part of the "
           "new one, `tessera-diag config get` after the next listing shows which"},
    {-135, "the server has no configuration layout for this model"},
    {-137, "the server was stopped during the upgrade, which ended between two sectors; the device "
           "may wait in its bootloader: once the server runs again, run the upgrade again"},
    {-200, "the file is not a BFL firmware file"},
    {-201, "the file is not a BFL firmware file"},
    {-202, "the firmware file is for another model"},
    {-206, "no firmware file reached the server"},
    {-605, "the device took the configuration but did not send it back whole, so it is unverified; "
           "`tessera-diag config get` after the next listing shows what it holds"},
    {-700, "the configuration is not a valid configuration document"},
};

}  // namespace

void PrintAnswer(std::ostream& out, const Answer& answer) {
  out << answer.body;
  if (answer.body.empty() || answer.body.back() != '\n') out << '\n';
}

const char* HintFor(int error) {
  for (const Hint& hint : kHints)
    if (hint.error == error) return hint.text;
  return nullptr;
}

int ReportServerError(std::ostream& out, const std::string& what, const Answer& answer,
                      const std::string& hint) {
  out << "tessera-diag: " << what << ": error " << answer.error << " " << answer.errorMessage
      << "\n";
  // Commands that go over many devices get each device's line but every hint once.
  static std::set<std::string> hinted;
  const std::string text = !hint.empty() ? hint : HintFor(answer.error) ? HintFor(answer.error) : "";
  if (!text.empty() && hinted.insert(text).second) out << "hint: " << text << "\n";
  return kExitFailed;
}

std::string SecondsText(std::chrono::milliseconds duration) {
  std::string text = std::to_string(duration.count() / 1000.0);
  text.erase(text.find_last_not_of('0') + 1);
  if (text.back() == '.') text.pop_back();
  return text + " s";
}

int ReportTransportError(std::ostream& out, const TransportError& error) {
  out << "tessera-diag: " << error.what() << "\n";
  return kExitUnreachable;
}

int ReportFailure(std::ostream& out, const std::string& message) {
  out << "tessera-diag: " << message << "\n";
  return kExitFailed;
}

}  // namespace tessera::cli
