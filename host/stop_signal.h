#pragma once
#include <string>

// SIGINT and SIGTERM, whichever thread they arrive on, wake WaitForStopSignal.
bool InstallStopSignalHandlers(std::string& error);
// Blocks until a stop signal arrives; returns its number.
int WaitForStopSignal();
