#pragma once
#include <functional>

// Prints the library's lifecycle and error lines ("[tessera] …") on standard output and error,
// one line each, flushed at once so a supervising process sees them as they happen.
// `afterErrorLine`, when given, is called after each error line is printed.
void PrintLogLinesOnConsole(std::function<void()> afterErrorLine = {});
