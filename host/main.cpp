// tessera-diag-server: the stand-alone host. It installs the CAN backend, starts the
// diagnostics server and runs until SIGINT or SIGTERM.
#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>

#include "host/can_setup.h"
#include "host/console_log.h"
#include "host/host_options.h"
#include "host/stop_signal.h"
#include "runtime/diag_print.h"
#include "runtime/version.h"
#include "server/listen_address.h"
#include "server/search_dir.h"
#include "server/tessera_diagnostics_server.h"

using quor::tessera::diagnostics::TesseraDiagnosticsServer;
using quor::tessera::diagnostics::version::GetDiagServerReleaseInfo;
using quor::tessera::diagnostics::version::GetDiagServerVersion;
using quor::tessera::networking::ListenAddress;
using quor::tessera::networking::SetListenAddress;

namespace {

// Without its search directory the server can still take uploaded files, but never a named one;
// on a PC the controller's default directory is usually absent.
void WarnOfMissingSearchDir() {
  struct stat status {};
  const std::string directory = GetSearchDir();
  if (::stat(directory.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) return;
  PrintLine(LineLevel::kWarning,
            "[tessera] warning: the search directory " + directory +
                " does not exist: \"fieldupgrade\" and \"setconfig\" take only uploaded files "
                "until it does (choose one with --search-dir)");
}

}  // namespace

int main(int argc, char** argv) {
  HostOptions options;
  std::string error;
  if (!ParseHostOptions(argc, argv, options, error)) {
    PrintLine(LineLevel::kError, "tessera-diag-server: " + error);
    std::cerr << HostUsage();
    return 2;
  }
  if (options.showHelp) {
    std::cout << HostUsage();
    return 0;
  }
  if (options.showVersion) {
    std::cout << "tessera-diag-server " << GetDiagServerVersion() << " "
              << GetDiagServerReleaseInfo() << "\n";
    return 0;
  }

  // Standard output may be a pipe whose reader has gone (piped into `head`, a closed log
  // collector); a print must then fail quietly instead of killing the server with SIGPIPE.
  std::signal(SIGPIPE, SIG_IGN);

  // Threads started while the library loaded may take the signal; a handler that only writes
  // to a pipe works on whichever thread runs it, so every SIGINT/SIGTERM ends in a clean stop.
  if (!InstallStopSignalHandlers(error)) {
    PrintLine(LineLevel::kError, "tessera-diag-server: " + error);
    return 1;
  }

  // A failure to listen is logged as an error: the wait below then looks whether it was one.
  PrintLogLinesOnConsole(WakeStopWaiter);
  diag_enablePrints(options.verbose);
  if (!options.searchDir.empty()) SetSearchDir(options.searchDir);
  WarnOfMissingSearchDir();
  SetListenAddress(options.bind);

  CanSetup can;
  if (options.busFaults) can.setBusFaults(*options.busFaults);
  if (!can.install(options.can, options.tracePath, error, options.traceDirection)) {
    PrintLine(LineLevel::kError, "tessera-diag-server: " + error);
    if (options.can.rfind("socketcan:", 0) == 0)
      PrintLine(LineLevel::kError, "tessera-diag-server: no CAN hardware here? --can sim runs a "
                                   "simulated robot to try it");
    return 1;
  }
  PrintLine(LineLevel::kInfo, "[tessera] CAN backend: " + can.description());
  PrintLine(LineLevel::kInfo, "[tessera] listening address: " + options.bind.text());

  TesseraDiagnosticsServer& server =
      TesseraDiagnosticsServer::GetInstance(options.port, options.startDelaySeconds);

  // A server that cannot listen serves nothing: a service manager must see it fail.
  std::string listenFailure;
  const int signal = WaitForStopSignal([&] {
    listenFailure = server.ListenFailure();
    return !listenFailure.empty();
  });
  if (signal != 0) PrintLine(LineLevel::kInfo, "[tessera] stopping on signal " + std::to_string(signal));
  // A server that never listened did not "shut down cleanly": only its failure is reported.
  if (!listenFailure.empty()) DropLifecycleLines();
  server.SetSecondsToStart(-1);
  const std::string faultCounts = can.faultCountsText();
  if (!faultCounts.empty()) std::cout << "[tessera] bus faults: " << faultCounts << "\n" << std::flush;
  can.shutdown();
  if (listenFailure.empty()) return 0;
  PrintLine(LineLevel::kError, "tessera-diag-server: cannot listen on " + listenFailure +
                                   (options.bind.kind == ListenAddress::Kind::kOne
                                        ? " of " + options.bind.text()
                                        : std::string()));
  return 1;
}
