#pragma once

// Reading and writing whole files safely: the one place that opens files for the picture coders,
// the settings store and the command-line program's password file.
//
// Inputs must be regular files: a FIFO, device, socket or folder is refused before anything is
// read from it, and a file larger than its reader could need is refused without being read.
//
// Writing goes where the user means: through symbolic links to the file behind them, never
// replacing a file the user may not write, and never exposing a private file's contents through
// a temporary file that others may read.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace kavun {

// An input file opened for reading; known to be a regular file no larger than its limit.
class InputFile {
 public:
  // Opens `path` without blocking on a FIFO and refuses anything but a regular file (NotAFile)
  // and a file larger than `maxBytes` (FileTooLarge; 0 means no limit). Throws Error naming the
  // file.
  InputFile(const std::filesystem::path& path, uint64_t maxBytes);
  ~InputFile();
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;

  std::FILE* Stream() const noexcept { return stream_; }
  uint64_t Size() const noexcept { return size_; }

 private:
  std::FILE* stream_ = nullptr;
  uint64_t size_ = 0;
};

// The whole content of a regular file of at most `maxBytes` bytes. Throws Error naming the file
// (FileNotFound when it does not exist).
std::string ReadRegularFile(const std::filesystem::path& path, uint64_t maxBytes);

// Throws the error of a failed read from a file opened as `path` (the system's last error).
[[noreturn]] void ThrowReadError(const std::filesystem::path& path);

// Writes a file with `write`, which fills the stream it is given and throws on failure.
//
// - A symbolic link is followed: the file behind it is written and the link stays.
// - A target that exists must be a regular file the user may write (NotAFile, PermissionDenied
//   otherwise); it is left untouched when refused.
// - Normally the data goes to a temporary file in the target's folder, created with no more
//   permission than the target has (0600 for a new file) and flushed to the disk; it then takes
//   the target's place as rename does (the old file is replaced at once, never missing in
//   between) and the folder is flushed too. The target keeps its permissions and, where the
//   user may give them, its owner and group (a new file gets the permissions the umask gives).
//   The temporary file is unnamed where the system allows (O_TMPFILE, linked into place through
//   /proc/self/fd), so that even a killed process leaves nothing behind; elsewhere it is named
//   ".kvNNNNNN.tmp". On any failure the target is untouched and the temporary file removed;
//   when the folder forbids removing it (an append-only folder), the error names it
//   (Error::LeftOverFile).
// - A target with several hard links, or one in a folder the user may not write, is rewritten in
//   place so that the links and the folder stay as they are: the whole content is produced in
//   memory first (a failure of `write` changes nothing), space for a longer file is reserved
//   first, then the bytes are written over the old ones and the file cut to its new length. A
//   failure of the disk during that last step can leave the file partly rewritten.
//
// Throws Error naming `path`.
void WriteFileSafely(const std::filesystem::path& path,
                     const std::function<void(std::FILE*)>& write);

// Removes every named temporary file that a WriteFileSafely in progress has created and not yet
// renamed. Async-signal-safe: meant for the handlers of signals that end the process.
void RemovePendingTemporaryFiles() noexcept;

// Whether WriteFileSafely may use unnamed temporary files (the default); off, it uses named ones
// as on a file system without them. For tests of that fallback.
void AllowUnnamedTemporaryFiles(bool allow) noexcept;

}  // namespace kavun
