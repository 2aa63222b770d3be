#pragma once

// What kavun-cli needs from the system it runs on: its arguments as UTF-8, the handlers that end
// it without leaving unfinished output files, and how much memory it may use. One form for POSIX
// systems (console_posix.cpp), one for Windows (console_win32.cpp).

#include <cstdint>
#include <string>
#include <vector>

namespace kavun::cli {

// The arguments after the program's name, as UTF-8. On Windows they are read from the wide
// command line (the narrow argv holds only what the ANSI code page can), and the console is set
// to show UTF-8; elsewhere argv is taken as it is.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// Ends the program on an interruption without leaving unfinished output files behind: SIGINT,
// SIGTERM and SIGHUP on POSIX systems (status 128 + the signal), Ctrl+C, Ctrl+Break and the
// console's closing on Windows (status 130). Says so on standard error.
void InstallInterruptHandlers();

// The memory the system has available now, in bytes (0 when it cannot tell).
uint64_t AvailableMemoryBytes();

}  // namespace kavun::cli
