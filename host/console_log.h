#pragma once
#include <functional>
#include <string>

// Prints the library's lifecycle and error lines ("[tessera] …") on standard output and error,
// one line each, flushed at once so a supervising process sees them as they happen.
// `afterErrorLine`, when given, is called after each error line is printed.
void PrintLogLinesOnConsole(std::function<void()> afterErrorLine = {});

// From now on the library's lifecycle lines are dropped, its error lines still printed: after a
// failed start the lines of the stop ("shutdown cleanly") would only mislead.
void DropLifecycleLines();

// Syslog levels of the lines the programs print.
enum class LineLevel { kError = 3, kWarning = 4, kInfo = 6 };

// One line of the program's own: errors and warnings on standard error, the rest on standard
// output. Under systemd, whose journal reads each line's level from a "<N>" prefix, errors and
// warnings carry it, so `journalctl -p err` finds them.
void PrintLine(LineLevel level, const std::string& text);

// True when `fd` is the stream systemd connected to the journal (JOURNAL_STREAM names its
// device and inode).
bool IsJournalStream(int fd);
