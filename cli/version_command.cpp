// "version": this program's version and the server's.
#include <iostream>

#include "cli/commands.h"
#include "cli/report.h"

namespace tessera::cli {

int RunVersion(const GlobalOptions& global) {
  if (!global.json) std::cout << "tessera-diag " << TESSERA_CLI_VERSION << "\n" << std::flush;
  DiagClient client(global.server, global.timeout());
  const Answer answer = client.get({{"action", "getversion"}});
  if (global.json) PrintAnswer(std::cout, answer);
  if (!answer.ok()) return ReportServerError(std::cerr, "version", answer);
  if (global.json) return kExitOk;
  const auto text = [&](const char* key) { return answer.document.value(key, std::string()); };
  std::cout << "tessera-diag-server " << text("Version") << " " << text("ReleaseInfo") << " at "
            << global.server.text() << "\nupload directory " << text("SearchDirectory") << "\n";
  return kExitOk;
}

}  // namespace tessera::cli
