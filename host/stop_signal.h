#pragma once
#include <functional>
#include <string>

// SIGINT and SIGTERM, whichever thread they arrive on, wake WaitForStopSignal.
bool InstallStopSignalHandlers(std::string& error);
// Blocks until a stop signal arrives; returns its number. `giveUp`, when given, is asked before
// the wait and whenever WakeStopWaiter() was called; once it answers true the wait ends and 0
// is returned.
int WaitForStopSignal(const std::function<bool()>& giveUp = {});
// Makes WaitForStopSignal ask its `giveUp` again. Any thread; async-signal-safe.
void WakeStopWaiter();
