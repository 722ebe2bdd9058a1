#pragma once

// Prints the library's lifecycle and error lines ("[tessera] …") on standard output and error,
// one line each, flushed at once so a supervising process sees them as they happen.
void PrintLogLinesOnConsole();
