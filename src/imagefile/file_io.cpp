#include "imagefile/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <memory>
#include <new>
#include <random>
#include <string>
#include <system_error>

#include "engine/error.h"
#include "imagefile/pending_files.h"

namespace kavun {
namespace {

namespace fs = std::filesystem;

std::string ErrnoText(int error) {
  return std::generic_category().message(error);
}

[[noreturn]] void ThrowErrno(int error, const fs::path& path, bool writing,
                             const std::string& what = {}) {
  const std::string text = ErrnoText(error);
  // EFBIG while writing: the process's file-size limit (SIGXFSZ is ignored by kavun-cli so that
  // the write fails instead of killing the process). Not a full disk.
  if (error == EFBIG && writing) {
    throw Error(ErrorKind::WriteFailed, path.string(), "the file-size limit (SIGXFSZ) was reached");
  }
  throw Error(KindFromErrno(error, writing), path.string(),
              what.empty() ? text : what + ": " + text);
}

const char* FileTypeName(mode_t mode) {
  if (S_ISDIR(mode)) return "it is a folder";
  if (S_ISFIFO(mode)) return "it is a FIFO";
  if (S_ISSOCK(mode)) return "it is a socket";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "it is a device";
  return "it is not a regular file";
}

class FdCloser {
 public:
  explicit FdCloser(int fd) : fd_(fd) {}
  ~FdCloser() {
    if (fd_ >= 0) ::close(fd_);
  }
  FdCloser(const FdCloser&) = delete;
  FdCloser& operator=(const FdCloser&) = delete;
  int Release() noexcept {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

// Temporary files that a signal must not leave behind.
PendingFiles<char, PATH_MAX, 64> g_pending;

std::atomic<bool> g_unnamedAllowed{true};

// A name ".kvNNNNNN.tmp" in `folder` that is not taken, made by `make` (which creates the entry
// and returns 0, or an errno value), registered for the signal handlers while it exists. Short,
// so that any target name the file system allows can be saved beside it.
struct TemporaryName {
  std::string Path;
  int Slot = -1;
};

template <class Make>
TemporaryName CreateTemporaryName(const fs::path& folder, const fs::path& target,
                                  const Make& make) {
  static std::atomic<unsigned> counter{0};
  static const unsigned seed = std::random_device{}();
  for (int attempt = 0; attempt < 100; ++attempt) {
    const unsigned n =
        (seed + static_cast<unsigned>(::getpid()) * 7919u + counter.fetch_add(1) * 104729u) %
        1000000u;
    char name[32];
    std::snprintf(name, sizeof name, ".kv%06u.tmp", n);
    TemporaryName temp{(folder / name).string(), -1};
    // Registered before it exists, so that a signal arriving just after its creation finds it
    // (a signal while the name is found taken would remove another's file of that name: that
    // needs a collision of names and a signal in the same instant).
    temp.Slot = g_pending.Register(temp.Path);
    const int error = make(temp.Path);
    if (error == 0) return temp;
    g_pending.Unregister(temp.Slot);
    if (error != EEXIST) ThrowErrno(error, target, true, "cannot create a file in its folder");
  }
  ThrowErrno(EEXIST, target, true, "cannot create a file in its folder");
}

// The file a save is written to before it takes the target's place. Where the system allows, an
// unnamed file in the target's folder (O_TMPFILE), given a name only when it is complete: a
// process killed while writing leaves nothing behind. Otherwise (a file system without unnamed
// files, or no /proc to link one through) a named file ".kvNNNNNN.tmp" in that folder, which
// the signal handlers remove (RemovePendingTemporaryFiles) and a SIGKILL leaves behind.
class TemporaryFile {
 public:
  TemporaryFile(const fs::path& folder, mode_t mode, const fs::path& target) : folder_(folder) {
#ifdef O_TMPFILE
    // Linking an unnamed file into place goes through /proc (linkat with AT_EMPTY_PATH needs a
    // privilege); without it the file could never be given a name.
    if (g_unnamedAllowed.load() && ::access("/proc/self/fd", X_OK) == 0) {
      fd_ = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
      // Any failure (a file system without O_TMPFILE says EOPNOTSUPP, an old kernel EISDIR):
      // the named file is tried, and fails with the folder's own reason if there is one.
      if (fd_ >= 0) return;
    }
#endif
    name_ = CreateTemporaryName(folder, target, [&](const std::string& path) {
      fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode);
      return fd_ >= 0 ? 0 : errno;
    });
  }
  ~TemporaryFile() {
    if (fd_ >= 0) ::close(fd_);
    Discard();
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  int Fd() const noexcept {
    return fd_;
  }

  // Puts the complete file in the place of `file` (rename semantics: an existing file is
  // replaced at once, never missing in between), then closes it. Throws Error naming `path`;
  // a temporary name that can then not be removed is named by the error (LeftOverFile).
  void MoveInto(const fs::path& file, const fs::path& path) {
    if (name_.Path.empty()) {
      const std::string self = "/proc/self/fd/" + std::to_string(fd_);
      // A new file takes its name at once; an existing one is replaced through a name of its
      // own, since a link cannot replace a file.
      if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, file.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        Close();
        return;
      }
      if (errno != EEXIST) ThrowErrno(errno, path, true);
      name_ = CreateTemporaryName(folder_, path, [&](const std::string& name) {
        return ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0
                   ? 0
                   : errno;
      });
    }
    if (::rename(name_.Path.c_str(), file.c_str()) != 0) {
      const int err = errno;
      const Error error(KindFromErrno(err, true), path.string(), ErrnoText(err));
      const std::string left = Discard();
      if (!left.empty()) throw error.WithLeftOverFile(left);
      throw error;
    }
    g_pending.Unregister(name_.Slot);
    name_ = {};
    Close();
  }

  // Removes the named file, if any; the name when it cannot be removed (a folder that forbids
  // removing files, such as an append-only one), empty otherwise.
  std::string Discard() noexcept {
    if (name_.Path.empty()) return {};
    std::string left;
    if (::unlink(name_.Path.c_str()) != 0 && errno != ENOENT) left = name_.Path;
    g_pending.Unregister(name_.Slot);
    name_ = {};
    return left;
  }

 private:
  // The data was flushed to the disk before the file took its place: closing cannot lose it.
  void Close() noexcept {
    ::close(fd_);
    fd_ = -1;
  }

  fs::path folder_;
  TemporaryName name_;  // empty while the file has no name
  int fd_ = -1;
};

// --- the writer -------------------------------------------------------------------------------

// The file a path finally names: symbolic links followed, each relative link read from the link's
// folder. A link to a file that does not exist yet names that file.
fs::path FollowLinks(const fs::path& path) {
  fs::path current = path;
  for (int depth = 0; depth < 40; ++depth) {
    struct stat st {};
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    std::error_code ec;
    const fs::path target = fs::read_symlink(current, ec);
    if (ec) ThrowErrno(ec.value(), path, true);
    current = target.is_absolute() ? target : current.parent_path() / target;
  }
  ThrowErrno(ELOOP, path, true);
}

// The permissions a new file gets: 0666 less the umask. Read from /proc, because setting the
// umask to read it would race with other threads creating files.
mode_t NewFileMode() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0) {
      try {
        return static_cast<mode_t>(0666 & ~std::stoul(line.substr(6), nullptr, 8));
      } catch (const std::exception&) {
        break;
      }
    }
  }
  return 0644;
}

// The error of a failed write: the stream's own errno when it has one.
[[noreturn]] void WriteError(const fs::path& path, int error) {
  ThrowErrno(error != 0 ? error : EIO, path, true);
}

void WriteAll(int fd, const char* data, std::size_t size, const fs::path& path) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pwrite(fd, data + done, size - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) WriteError(path, n < 0 ? errno : EIO);
    done += static_cast<std::size_t>(n);
  }
}

// Rewrites an existing file in place (see WriteFileSafely).
void WriteInPlace(const fs::path& file, const fs::path& path,
                  const std::function<void(std::FILE*)>& write) {
  char* buffer = nullptr;
  std::size_t size = 0;
  std::FILE* memory = ::open_memstream(&buffer, &size);
  if (memory == nullptr) throw std::bad_alloc();
  struct Free {
    void operator()(char* p) const { std::free(p); }
  };
  std::unique_ptr<char, Free> owned;
  try {
    write(memory);
  } catch (...) {
    std::fclose(memory);
    std::free(buffer);
    throw;
  }
  const bool flushed = std::fclose(memory) == 0;
  owned.reset(buffer);
  if (!flushed) throw std::bad_alloc();

  const int fd = ::open(file.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) ThrowErrno(errno, path, true);
  FdCloser closer(fd);
  struct stat now {};
  if (::fstat(fd, &now) != 0) ThrowErrno(errno, path, true);
  if (!S_ISREG(now.st_mode))
    throw Error(ErrorKind::NotAFile, path.string(), FileTypeName(now.st_mode));
  // Reserve the room first: a full disk then fails before any old byte is overwritten.
  if (static_cast<uint64_t>(now.st_size) < size) {
    const int error = ::posix_fallocate(fd, now.st_size, static_cast<off_t>(size) - now.st_size);
    if (error != 0 && error != EOPNOTSUPP && error != EINVAL) WriteError(path, error);
  }
  WriteAll(fd, owned.get(), size, path);
  if (::ftruncate(fd, static_cast<off_t>(size)) != 0) WriteError(path, errno);
  if (::fsync(fd) != 0) WriteError(path, errno);
  if (::close(closer.Release()) != 0) WriteError(path, errno);
}

void WriteThroughTemporary(const fs::path& file, const struct stat* old, const fs::path& path,
                           const std::function<void(std::FILE*)>& write) {
  const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
  TemporaryFile temp(folder, old != nullptr ? (old->st_mode & 0777) : 0600, path);
  try {
    // The stream gets a descriptor of its own: the file stays open after the stream is closed,
    // since an unnamed file closed before it is linked is gone.
    const int streamFd = ::fcntl(temp.Fd(), F_DUPFD_CLOEXEC, 0);
    if (streamFd < 0) WriteError(path, errno);
    std::FILE* stream = ::fdopen(streamFd, "wb");
    if (stream == nullptr) {
      ::close(streamFd);
      throw std::bad_alloc();
    }
    struct Close {
      void operator()(std::FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<std::FILE, Close> owned(stream);
    errno = 0;
    try {
      write(stream);
    } catch (const Error& e) {
      // A failed write of the stream says more (a full disk) than the coder's own message.
      if (std::ferror(stream) != 0 && errno != 0) WriteError(path, errno);
      throw e.WithPath(path.string());
    }
    if (std::fflush(stream) != 0 || std::ferror(stream) != 0) WriteError(path, errno);
    if (std::fclose(owned.release()) != 0) WriteError(path, errno);
    const int fd = temp.Fd();
    if (::fsync(fd) != 0) WriteError(path, errno);
    if (old != nullptr) {
      // Keep the owner and group where the user may (root may), then the exact permissions.
      if (::fchown(fd, old->st_uid, old->st_gid) != 0 && ::fchown(fd, -1, old->st_gid) != 0) {
        // Neither is ours to give: the file then belongs to the user who saved it.
      }
      ::fchmod(fd, old->st_mode & 07777);
    } else {
      ::fchmod(fd, NewFileMode());
    }
    temp.MoveInto(file, path);
  } catch (const Error& e) {
    // A named temporary file the folder does not let go is named, for the user to delete.
    const std::string left = temp.Discard();
    if (!left.empty() && e.LeftOverFile().empty()) throw e.WithLeftOverFile(left);
    throw;
  }
  // Make the new name itself durable.
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}

}  // namespace

InputFile::InputFile(const fs::path& path, uint64_t maxBytes) {
  // O_NONBLOCK: opening a FIFO without a writer would otherwise wait for one forever.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    const int error = errno;
    struct stat st {};
    if (error == ENXIO && ::stat(path.c_str(), &st) == 0) {  // a socket
      throw Error(ErrorKind::NotAFile, path.string(), FileTypeName(st.st_mode));
    }
    ThrowErrno(error, path, false);
  }
  FdCloser closer(fd);
  struct stat st {};
  if (::fstat(fd, &st) != 0) ThrowErrno(errno, path, false);
  if (!S_ISREG(st.st_mode)) {
    throw Error(ErrorKind::NotAFile, path.string(), FileTypeName(st.st_mode));
  }
  size_ = static_cast<uint64_t>(st.st_size);
  if (maxBytes != 0 && size_ > maxBytes) {
    throw Error(ErrorKind::FileTooLarge, path.string(), std::to_string(size_));
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  stream_ = ::fdopen(fd, "rb");
  if (stream_ == nullptr) throw std::bad_alloc();
  closer.Release();
}

InputFile::~InputFile() {
  if (stream_ != nullptr) std::fclose(stream_);
}

void ThrowReadError(const fs::path& path) {
  ThrowErrno(errno != 0 ? errno : EIO, path, false);
}

void WriteFileSafely(const fs::path& path, const std::function<void(std::FILE*)>& write) {
  const fs::path file = FollowLinks(path);
  struct stat old {};
  const bool exists = ::stat(file.c_str(), &old) == 0;
  if (!exists && errno != ENOENT) ThrowErrno(errno, path, true);
  const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
  if (exists) {
    if (!S_ISREG(old.st_mode)) {
      throw Error(ErrorKind::NotAFile, path.string(), FileTypeName(old.st_mode));
    }
    // A write-protected file is the user's decision: refuse instead of replacing it.
    if (::faccessat(AT_FDCWD, file.c_str(), W_OK, AT_EACCESS) != 0) {
      ThrowErrno(errno, path, true, "the file is write-protected");
    }
  }
  const bool folderWritable = ::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) == 0;
  if (exists && (old.st_nlink > 1 || !folderWritable)) {
    WriteInPlace(file, path, write);
  } else {
    WriteThroughTemporary(file, exists ? &old : nullptr, path, write);
  }
}

void AllowUnnamedTemporaryFiles(bool allow) noexcept {
  g_unnamedAllowed.store(allow);
}

void RemovePendingTemporaryFiles() noexcept {
  g_pending.RemoveAll([](const char* path) { ::unlink(path); });
}

}  // namespace kavun
