#pragma once

// File names between Qt and the file layer. Qt shows a name in Unicode; the file system holds
// bytes (on Linux usually UTF-8, but a name copied from an old archive may be Shift_JIS). A name
// whose bytes Qt cannot decode reaches the window with U+FFFD in their place, and encoding it
// again gives other bytes: such a name is looked up in its folder instead.

#include <QString>

#include <filesystem>

// The file system's own name for `path` (QFile::encodeName of it). When that names nothing and
// `path` holds characters Qt could not decode, each such part of the path is matched against
// its folder's entries: the one entry that Qt shows as that part. No match or several leave the
// encoded name, which then names nothing.
std::filesystem::path SystemPath(const QString& path);
