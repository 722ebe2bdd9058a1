// tessera-diag-server: the stand-alone host. It installs the CAN backend, starts the
// diagnostics server and runs until SIGINT or SIGTERM.
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>

#include "host/can_setup.h"
#include "host/console_log.h"
#include "host/host_options.h"
#include "host/stop_signal.h"
#include "runtime/diag_print.h"
#include "server/search_dir.h"
#include "server/tessera_diagnostics_server.h"

using quor::tessera::diagnostics::TesseraDiagnosticsServer;

int main(int argc, char** argv) {
  HostOptions options;
  std::string error;
  if (!ParseHostOptions(argc, argv, options, error)) {
    std::cerr << "tessera-diag-server: " << error << "\n" << HostUsage();
    return 2;
  }
  if (options.showHelp) {
    std::cout << HostUsage();
    return 0;
  }

  // Standard output may be a pipe whose reader has gone (piped into `head`, a closed log
  // collector); a print must then fail quietly instead of killing the server with SIGPIPE.
  std::signal(SIGPIPE, SIG_IGN);

  // Threads started while the library loaded may take the signal; a handler that only writes
  // to a pipe works on whichever thread runs it, so every SIGINT/SIGTERM ends in a clean stop.
  if (!InstallStopSignalHandlers(error)) {
    std::cerr << "tessera-diag-server: " << error << "\n";
    return 1;
  }

  // A failure to listen is logged as an error: the wait below then looks whether it was one.
  PrintLogLinesOnConsole(WakeStopWaiter);
  diag_enablePrints(options.verbose);
  if (!options.searchDir.empty()) SetSearchDir(options.searchDir);

  CanSetup can;
  if (!can.install(options.can, options.tracePath, error, options.traceDirection)) {
    std::cerr << "tessera-diag-server: " << error << "\n";
    if (options.can.rfind("socketcan:", 0) == 0)
      std::cerr << "tessera-diag-server: no CAN hardware here? --can sim runs a simulated robot "
                   "to try it\n";
    return 1;
  }
  std::cout << "[tessera] CAN backend: " << can.description() << "\n" << std::flush;

  TesseraDiagnosticsServer& server =
      TesseraDiagnosticsServer::GetInstance(options.port, options.startDelaySeconds);

  // A server that cannot listen serves nothing: a service manager must see it fail.
  std::string listenFailure;
  const int signal = WaitForStopSignal([&] {
    listenFailure = server.ListenFailure();
    return !listenFailure.empty();
  });
  if (signal != 0) std::cout << "[tessera] stopping on signal " << signal << "\n" << std::flush;
  server.SetSecondsToStart(-1);
  can.shutdown();
  if (listenFailure.empty()) return 0;
  std::cerr << "tessera-diag-server: cannot listen on " << listenFailure << "\n";
  return 1;
}
