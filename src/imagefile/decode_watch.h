#pragma once

// Watching and stopping a decode from another thread. The decoders report each row they finish
// and the file reader each block it reads; once Cancel() was called, the decode fails at the next
// row or block with ErrorKind::Interrupted, so that even a file that makes a decoder read a long
// way without producing a row (a JPEG whose markers are separated by gigabytes of padding) stops
// at once.

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>

namespace kavun {

class DecodeWatch {
 public:
  DecodeWatch() = default;
  DecodeWatch(const DecodeWatch&) = delete;
  DecodeWatch& operator=(const DecodeWatch&) = delete;

  // Asks the decode to stop. Any thread, any time, also before the decode starts.
  void Cancel() noexcept { cancelled_.store(true, std::memory_order_relaxed); }
  bool Cancelled() const noexcept { return cancelled_.load(std::memory_order_relaxed); }

  // How far the decode has come, 0 to 1000: reading the file and producing the rows count half
  // each. Any thread.
  int PerMille() const noexcept;

  // Called by a decoder when row `row` (counted in the order it decodes them) of `rows` is done.
  // Throws Error (Interrupted) once the decode was cancelled.
  void RowDone(int64_t row, int64_t rows);
  // Called by the file reader: `done` of `total` bytes read. False once the decode was cancelled.
  bool BytesRead(uint64_t done, uint64_t total) noexcept;

  // Runs on the decoding thread after every row, before the check for Cancel (tests slow a
  // decode down with it). Set before the decode starts.
  std::function<void()> AfterRow;

 private:
  std::atomic<bool> cancelled_{false};
  std::atomic<int> rowsPerMille_{0};
  std::atomic<int> bytesPerMille_{0};
};

// A stream that reads `file` (`size` bytes from its current position) and reports to `watch`;
// reads fail once the watch is cancelled. Null where the system has no way to make such a stream
// (the decoders then read `file` directly and stop only between rows). Close it with fclose
// before `file`.
std::FILE* OpenWatchedStream(std::FILE* file, uint64_t size, DecodeWatch* watch);

}  // namespace kavun
