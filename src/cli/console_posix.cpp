// kavun-cli on POSIX systems (console.h): argv as it is, signal handlers, /proc/meminfo.

#include <signal.h>
#include <unistd.h>

#include <fstream>

#include "cli/console.h"
#include "imagefile/file_io.h"

namespace kavun::cli {

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

namespace {

// Removes the unfinished output files, says which signal came, and dies of the signal (status
// 128 + its number). Only async-signal-safe calls.
extern "C" void OnTerminatingSignal(int sig) {
  RemovePendingTemporaryFiles();
  const char* text = sig == SIGINT ? "kavun-cli: interrupted by SIGINT; unfinished files removed\n"
                     : sig == SIGTERM
                         ? "kavun-cli: terminated by SIGTERM; unfinished files removed\n"
                         : "kavun-cli: hung up (SIGHUP); unfinished files removed\n";
  std::size_t length = 0;
  while (text[length] != '\0') ++length;
  if (::write(STDERR_FILENO, text, length) < 0) {
    // Nothing more can be done about a closed standard error.
  }
  ::raise(sig);  // the handler was reset to the default on entry
}

}  // namespace

void InstallInterruptHandlers() {
  struct sigaction action {};
  action.sa_handler = OnTerminatingSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction old {};
    // A signal the caller chose to ignore (nohup) stays ignored.
    if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
    ::sigaction(sig, &action, nullptr);
  }
  // A file-size limit makes the write fail (EFBIG) instead of killing the process: the file
  // concerned fails, its temporary file is removed and the others go on.
  ::signal(SIGXFSZ, SIG_IGN);
}

uint64_t AvailableMemoryBytes() {
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  uint64_t kib = 0;
  std::string unit;
  while (meminfo >> key >> kib >> unit) {
    if (key == "MemAvailable:") return kib * 1024;
  }
  const long pages = ::sysconf(_SC_PHYS_PAGES);
  const long pageSize = ::sysconf(_SC_PAGE_SIZE);
  if (pages > 0 && pageSize > 0) return static_cast<uint64_t>(pages) * pageSize;
  return 0;
}

}  // namespace kavun::cli
