// kavun-cli on Windows (console.h): arguments from the wide command line, UTF-8 on the console,
// Ctrl+C through SetConsoleCtrlHandler, memory from GlobalMemoryStatusEx.

#include <windows.h>
// after windows.h
#include <shellapi.h>

#include <cstring>

#include "cli/console.h"
#include "engine/path_text.h"
#include "imagefile/file_io.h"

namespace kavun::cli {

std::vector<std::string> Utf8Arguments(int, char**) {
  // Text written to the console is UTF-8 (our messages and the file names in them).
  ::SetConsoleOutputCP(CP_UTF8);
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  std::vector<std::string> args;
  for (int i = 1; wide != nullptr && i < count; ++i) {
    args.push_back(PathToUtf8(std::filesystem::path(wide[i])));
  }
  if (wide != nullptr) ::LocalFree(wide);
  return args;
}

namespace {

// Runs on a thread of its own that the system starts: unfinished files are removed (a file
// still open is deleted when the process's handles close), a line said, the process ended.
BOOL WINAPI OnConsoleControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT) return FALSE;
  RemovePendingTemporaryFiles();
  const char* text = type == CTRL_C_EVENT
                         ? "kavun-cli: interrupted by Ctrl+C; unfinished files removed\n"
                     : type == CTRL_BREAK_EVENT
                         ? "kavun-cli: interrupted by Ctrl+Break; unfinished files removed\n"
                         : "kavun-cli: the console was closed; unfinished files removed\n";
  DWORD written = 0;
  ::WriteFile(::GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(std::strlen(text)),
              &written, nullptr);
  ::ExitProcess(130);
}

}  // namespace

void InstallInterruptHandlers() {
  ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

uint64_t AvailableMemoryBytes() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (!::GlobalMemoryStatusEx(&status)) return 0;
  return status.ullAvailPhys;
}

}  // namespace kavun::cli
