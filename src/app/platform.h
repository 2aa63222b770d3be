#pragma once

// What the desktop program does differently on Linux and on Windows, in one place:
// platform_posix.cpp and platform_win32.cpp (the build takes one of them).

#include <QString>

#include <filesystem>
#include <functional>

// A file name of Qt's as the file layer's path, and back: the local 8-bit bytes on Linux
// (QFile::encodeName), UTF-16 on Windows.
std::filesystem::path PathFromQt(const QString& path);
QString QtFromPath(const std::filesystem::path& path);

// Where the settings go when the executable's folder cannot take them: the user's configuration
// folder on Linux ($XDG_CONFIG_HOME/Kavun), %APPDATA%\Kavun on Windows.
QString UserSettingsFolder();

// Windows ends a log-off or shut-down by WM_QUERYENDSESSION and WM_ENDSESSION, and ends the
// process soon after the latter is answered: `saveState` runs before it is answered, and the
// event loop is asked to end. (On Linux the session's SIGTERM does the same through
// QuitOnTerminationSignals: nothing to do here.) Call once, after the QApplication exists.
void EndInOrderWithSession(std::function<void()> saveState);
