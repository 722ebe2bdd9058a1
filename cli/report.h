#pragma once
// What the user sees of an answer: the body as it is (--json), or for a failure one line with
// the server's "Error" and "ErrorMessage" and a hint for the errors people commonly run into.
#include <chrono>
#include <iosfwd>
#include <string>

#include "cli/diag_client.h"
#include "cli/exit_status.h"

namespace tessera::cli {

// The body exactly as the server sent it, ended by a line feed.
void PrintAnswer(std::ostream& out, const Answer& answer);

// The advice for a server error code, or nullptr when there is none.
const char* HintFor(int error);

// "tessera-diag: <what>: error <code> <ErrorMessage>" and the hint: `hint` when given, else the
// code's usual one. Returns kExitFailed.
int ReportServerError(std::ostream& out, const std::string& what, const Answer& answer,
                      const std::string& hint = "");

// "10 s", "0.5 s": a wait as the messages name it.
std::string SecondsText(std::chrono::milliseconds duration);

// "tessera-diag: <message>". Returns kExitUnreachable.
int ReportTransportError(std::ostream& out, const TransportError& error);

// "tessera-diag: <message>". Returns kExitFailed.
int ReportFailure(std::ostream& out, const std::string& message);

}  // namespace tessera::cli
