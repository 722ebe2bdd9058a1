// The library's three exported C entry points.
#include <cstdint>

#include "server/tessera_diagnostics_server.h"

using quor::tessera::diagnostics::TesseraDiagnosticsServer;

#define TESSERA_EXPORT extern "C" __attribute__((visibility("default")))

TESSERA_EXPORT void* c_Tessera_Diagnostics_Create() { return &TesseraDiagnosticsServer::GetInstance(); }

TESSERA_EXPORT void* c_Tessera_Diagnostics_Create1(int32_t port) {
  TesseraDiagnosticsServer& server = TesseraDiagnosticsServer::GetInstance();
  server.SetServerPort(port);
  return &server;
}

TESSERA_EXPORT void c_Tessera_Diagnostics_SetSecondsToStart(int32_t seconds) {
  TesseraDiagnosticsServer::GetInstance().SetSecondsToStart(seconds);
}
