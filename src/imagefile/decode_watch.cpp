#include "imagefile/decode_watch.h"

#include <cerrno>
#include <cstdio>
#include <new>

#include "engine/error.h"

namespace kavun {
namespace {

int PerMilleOf(uint64_t done, uint64_t total) noexcept {
  if (total == 0) return 0;
  if (done >= total) return 1000;
  return static_cast<int>(done * 1000 / total);
}

}  // namespace

int DecodeWatch::PerMille() const noexcept {
  return (rowsPerMille_.load(std::memory_order_relaxed) +
          bytesPerMille_.load(std::memory_order_relaxed)) /
         2;
}

void DecodeWatch::RowDone(int64_t row, int64_t rows) {
  if (rows > 0 && row >= 0) {
    rowsPerMille_.store(PerMilleOf(static_cast<uint64_t>(row) + 1, static_cast<uint64_t>(rows)),
                        std::memory_order_relaxed);
  }
  if (AfterRow) AfterRow();
  if (Cancelled()) throw Error(ErrorKind::Interrupted, {}, "cancelled");
}

bool DecodeWatch::BytesRead(uint64_t done, uint64_t total) noexcept {
  bytesPerMille_.store(PerMilleOf(done, total), std::memory_order_relaxed);
  return !Cancelled();
}

#if defined(__GLIBC__)

namespace {

struct WatchedFile {
  std::FILE* File;
  uint64_t Size;
  uint64_t Done;
  DecodeWatch* Watch;
};

ssize_t ReadWatched(void* cookie, char* buffer, size_t size) {
  auto* w = static_cast<WatchedFile*>(cookie);
  if (w->Watch->Cancelled()) {
    errno = ECANCELED;
    return -1;
  }
  const std::size_t got = std::fread(buffer, 1, size, w->File);
  if (got == 0 && std::ferror(w->File) != 0) {
    errno = EIO;
    return -1;
  }
  w->Done += got;
  if (!w->Watch->BytesRead(w->Done, w->Size)) {
    errno = ECANCELED;
    return -1;
  }
  return static_cast<ssize_t>(got);
}

int SeekWatched(void* cookie, off64_t* offset, int whence) {
  auto* w = static_cast<WatchedFile*>(cookie);
  if (fseeko(w->File, *offset, whence) != 0) return -1;
  const off_t here = ftello(w->File);
  if (here < 0) return -1;
  *offset = here;
  w->Done = static_cast<uint64_t>(here);
  return 0;
}

int CloseWatched(void* cookie) {
  delete static_cast<WatchedFile*>(cookie);
  return 0;
}

}  // namespace

std::FILE* OpenWatchedStream(std::FILE* file, uint64_t size, DecodeWatch* watch) {
  if (watch == nullptr) return nullptr;
  auto* cookie = new (std::nothrow) WatchedFile{file, size, 0, watch};
  if (cookie == nullptr) return nullptr;
  const cookie_io_functions_t functions{ReadWatched, nullptr, SeekWatched, CloseWatched};
  std::FILE* stream = fopencookie(cookie, "rb", functions);
  if (stream == nullptr) delete cookie;
  return stream;
}

#else

std::FILE* OpenWatchedStream(std::FILE*, uint64_t, DecodeWatch*) {
  return nullptr;
}

#endif

}  // namespace kavun
