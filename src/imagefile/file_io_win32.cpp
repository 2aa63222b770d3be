// The file layer on Windows (file_io.h): wide file names throughout, CreateFileW for every open,
// and saving through a temporary file in the target's folder that is flushed to the disk
// (FlushFileBuffers) and put in place with ReplaceFileW, which keeps the old file's attributes
// and security, or with MoveFileExW for a new file. A failed save leaves the old file as it was.
//
// Differences from the POSIX form: a file is never rewritten in place; a target in a folder that
// refuses new files, or one with several hard links, is saved through a temporary file all the
// same (the folder refusal is reported). A file another program holds open without sharing it is
// reported as FileInUse before anything is written.

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <random>
#include <string>

#include "engine/error.h"
#include "engine/path_text.h"
#include "imagefile/file_access.h"
#include "imagefile/file_io.h"
#include "imagefile/pending_files.h"

namespace kavun {
namespace {

namespace fs = std::filesystem;

// The system's own wording of an error code, as UTF-8.
std::string SystemText(DWORD code) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = length > 0 ? std::wstring(buffer, length) : std::wstring();
  if (buffer != nullptr) ::LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ' ||
                           text.back() == L'.')) {
    text.pop_back();
  }
  std::string utf8 = PathToUtf8(fs::path(text));
  return utf8.empty() ? "Windows error " + std::to_string(code)
                      : utf8 + " (Windows error " + std::to_string(code) + ")";
}

ErrorKind KindFromWindows(DWORD code, bool writing) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
      return ErrorKind::FileNotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_PRIVILEGE_NOT_HELD:
      return ErrorKind::PermissionDenied;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
      return ErrorKind::FileInUse;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ErrorKind::DiskFull;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ErrorKind::OutOfMemory;
    case ERROR_DIRECTORY:
      return ErrorKind::NotAFile;
    default:
      return writing ? ErrorKind::WriteFailed : ErrorKind::ReadFailed;
  }
}

[[noreturn]] void ThrowWindows(DWORD code, const fs::path& path, bool writing,
                               const std::string& what = {}) {
  const std::string text = SystemText(code);
  throw Error(KindFromWindows(code, writing), PathToUtf8(path),
              what.empty() ? text : what + ": " + text);
}

class HandleCloser {
 public:
  explicit HandleCloser(HANDLE handle) : handle_(handle) {}
  ~HandleCloser() {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
  }
  HandleCloser(const HandleCloser&) = delete;
  HandleCloser& operator=(const HandleCloser&) = delete;
  HANDLE Release() noexcept {
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle;
  }

 private:
  HANDLE handle_;
};

// A C stream over a handle; the stream owns the handle from then on.
std::FILE* StreamOf(HandleCloser& handle, bool writing) {
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(handle.Release()),
                                   (writing ? _O_WRONLY : _O_RDONLY) | _O_BINARY);
  if (fd < 0) throw std::bad_alloc();
  std::FILE* stream = ::_fdopen(fd, writing ? "wb" : "rb");
  if (stream == nullptr) {
    ::_close(fd);
    throw std::bad_alloc();
  }
  return stream;
}

// --- temporary files that Ctrl+C must not leave behind ------------------------------------------

PendingFiles<wchar_t, 32768, 16> g_pending;

// A temporary file beside the target, removed unless it was put in place. It is opened with
// FILE_SHARE_DELETE, so that a Ctrl+C handler can delete it while it is still being written.
class TemporaryFile {
 public:
  TemporaryFile(const fs::path& folder, const fs::path& target) {
    static std::atomic<unsigned> counter{0};
    static const unsigned seed = std::random_device{}();
    for (int attempt = 0; attempt < 100; ++attempt) {
      const unsigned n = (seed + static_cast<unsigned>(::GetCurrentProcessId()) * 7919u +
                          counter.fetch_add(1) * 104729u) %
                         1000000u;
      wchar_t name[32];
      std::swprintf(name, std::size(name), L".kv%06u.tmp", n);
      path_ = (folder / name).wstring();
      slot_ = g_pending.Register(path_);
      handle_ = ::CreateFileW(path_.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
      if (handle_ != INVALID_HANDLE_VALUE) return;
      const DWORD error = ::GetLastError();
      g_pending.Unregister(slot_);
      slot_ = -1;
      if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
        ThrowWindows(error, target, true, "cannot create a file in its folder");
      }
    }
    ThrowWindows(ERROR_FILE_EXISTS, target, true, "cannot create a file in its folder");
  }
  ~TemporaryFile() {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    if (!placed_) ::DeleteFileW(path_.c_str());
    g_pending.Unregister(slot_);
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  const std::wstring& Path() const noexcept { return path_; }
  HANDLE TakeHandle() noexcept {
    const HANDLE handle = handle_;
    handle_ = INVALID_HANDLE_VALUE;
    return handle;
  }
  void MarkPlaced() noexcept { placed_ = true; }

 private:
  std::wstring path_;
  HANDLE handle_ = INVALID_HANDLE_VALUE;
  int slot_ = -1;
  bool placed_ = false;
};

// The file a path finally names: symbolic links followed.
fs::path FollowLinks(const fs::path& path) {
  fs::path current = path;
  for (int depth = 0; depth < 40; ++depth) {
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(current, ec))) return current;
    const fs::path target = fs::read_symlink(current, ec);
    if (ec) ThrowWindows(static_cast<DWORD>(ec.value()), path, true);
    current = target.is_absolute() ? target : current.parent_path() / target;
  }
  ThrowWindows(ERROR_CANT_RESOLVE_FILENAME, path, true);
}

const char* FolderOrDevice(DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? "it is a folder"
                                                      : "it is not a regular file";
}

}  // namespace

InputFile::InputFile(const fs::path& path, uint64_t maxBytes) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    throw Error(ErrorKind::NotAFile, PathToUtf8(path), FolderOrDevice(attributes));
  }
  const HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) ThrowWindows(::GetLastError(), path, false);
  HandleCloser owned(h);
  // A console, pipe or device is no picture.
  if (::GetFileType(h) != FILE_TYPE_DISK) {
    throw Error(ErrorKind::NotAFile, PathToUtf8(path), "it is a device or a pipe");
  }
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(h, &size)) ThrowWindows(::GetLastError(), path, false);
  size_ = static_cast<uint64_t>(size.QuadPart);
  if (maxBytes != 0 && size_ > maxBytes) {
    throw Error(ErrorKind::FileTooLarge, PathToUtf8(path), std::to_string(size_));
  }
  stream_ = StreamOf(owned, false);
}

InputFile::~InputFile() {
  if (stream_ != nullptr) std::fclose(stream_);
}

void ThrowReadError(const fs::path& path) {
  ThrowWindows(ERROR_READ_FAULT, path, false);
}

void WriteFileSafely(const fs::path& path, const std::function<void(std::FILE*)>& write) {
  const fs::path file = FollowLinks(path);
  const DWORD attributes = ::GetFileAttributesW(file.c_str());
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (!exists) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_FILE_NOT_FOUND) ThrowWindows(error, path, true);
  } else {
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      throw Error(ErrorKind::NotAFile, PathToUtf8(path), FolderOrDevice(attributes));
    }
    // A read-only file is the user's decision: refuse instead of replacing it.
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
      throw Error(ErrorKind::PermissionDenied, PathToUtf8(path), "the file is read-only");
    }
    // Ask for what replacing needs before writing anything: a file another program holds open
    // without sharing it is reported as such, and the user's rights are checked.
    const HANDLE probe = ::CreateFileW(file.c_str(), GENERIC_WRITE | DELETE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) ThrowWindows(::GetLastError(), path, true);
    ::CloseHandle(probe);
  }

  const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
  TemporaryFile temp(folder, path);
  HandleCloser handle(temp.TakeHandle());
  struct Close {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };
  std::unique_ptr<std::FILE, Close> stream(StreamOf(handle, true));
  try {
    write(stream.get());
  } catch (const Error& e) {
    if (std::ferror(stream.get()) != 0) ThrowWindows(ERROR_WRITE_FAULT, path, true);
    throw e.WithPath(PathToUtf8(path));
  }
  if (std::fflush(stream.get()) != 0 || std::ferror(stream.get()) != 0) {
    const DWORD error = ::GetLastError();
    ThrowWindows(error != 0 ? error : ERROR_WRITE_FAULT, path, true);
  }
  const auto osHandle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream.get())));
  if (!::FlushFileBuffers(osHandle)) ThrowWindows(::GetLastError(), path, true);
  if (std::fclose(stream.release()) != 0) ThrowWindows(ERROR_WRITE_FAULT, path, true);

  if (exists) {
    // The old file's attributes, security and streams stay; the old content goes.
    if (!::ReplaceFileW(file.c_str(), temp.Path().c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                        nullptr, nullptr)) {
      const DWORD error = ::GetLastError();
      // ERROR_UNABLE_TO_REMOVE_REPLACED and ERROR_UNABLE_TO_MOVE_REPLACEMENT leave the old file
      // under its name; the temporary file is removed on the way out.
      ThrowWindows(error == ERROR_UNABLE_TO_REMOVE_REPLACED ? ERROR_SHARING_VIOLATION : error, path,
                   true);
    }
  } else if (!::MoveFileExW(temp.Path().c_str(), file.c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    ThrowWindows(::GetLastError(), path, true);
  }
  temp.MarkPlaced();
}

void RemovePendingTemporaryFiles() noexcept {
  g_pending.RemoveAll([](const wchar_t* path) { ::DeleteFileW(path); });
}

// Windows has no unnamed files: the temporary file is always a named one, removed on failure and
// by the console's Ctrl+C handler.
void AllowUnnamedTemporaryFiles(bool) noexcept {}

// --- what the user may do -----------------------------------------------------------------------

bool MayReadFile(const fs::path& file) {
  const HANDLE h = ::CreateFileW(file.c_str(), GENERIC_READ,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  ::CloseHandle(h);
  return true;
}

bool MayWriteFile(const fs::path& file) {
  const DWORD attributes = ::GetFileAttributesW(file.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    return false;
  }
  const HANDLE h = ::CreateFileW(file.c_str(), GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  ::CloseHandle(h);
  return true;
}

// A folder's access rights cannot be read from its attributes (Program Files is not read-only,
// yet an ordinary user may not create files in it): a file is created there and removed.
bool MayCreateIn(const fs::path& folder) {
  for (unsigned n = 0; n < 100; ++n) {
    wchar_t name[40];
    std::swprintf(name, std::size(name), L".kvprobe%lu_%u.tmp",
                  static_cast<unsigned long>(::GetCurrentProcessId()), n);
    const fs::path probe = folder / name;
    const HANDLE h = ::CreateFileW(probe.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      ::CloseHandle(h);
      ::DeleteFileW(probe.c_str());
      return true;
    }
    if (::GetLastError() != ERROR_FILE_EXISTS) return false;
  }
  return false;
}

}  // namespace kavun
