#pragma once

// The image data of a PNG deflated in blocks on several threads, as one ordinary zlib stream.
// Internal to the file layer: the PNG writer feeds it filtered rows and takes the stream back.

#include <cstddef>
#include <cstdint>
#include <functional>

namespace kavun::codec {

// The zlib settings libpng uses for the image data of a filtered picture at level 7; the stream
// written in blocks uses the same, so that its header and its compression match.
inline constexpr int kPngZlibLevel = 7;
inline constexpr int kPngZlibWindowBits = 15;
inline constexpr int kPngZlibMemLevel = 8;

struct ParallelDeflateSettings {
  unsigned Threads = 1;              // compressing threads (at least 1)
  std::size_t BlockBytes = 1 << 18;  // input per block, rounded to whole rows (at least one)
};

// Deflates `rowCount` rows of `rowBytes` bytes each (a PNG row: filter byte and filtered bytes).
// `fillRow(y, out)` writes row y to out; it is called from several threads at once, possibly
// more than once for a row, and must give the same bytes every time. Each block of rows is
// compressed on its own with the preceding 32 KiB as its dictionary and ends at a byte boundary
// (sync flush), the last one ends the stream, and the Adler-32 checksums of the blocks are
// combined: `sink` receives, in order and on the calling thread, the zlib header, the blocks and
// the checksum. An exception from `sink` or `fillRow` stops the workers and propagates; a
// failure of zlib throws Error (std::bad_alloc when it runs out of memory).
void DeflateRowsInParallel(int64_t rowCount, std::size_t rowBytes,
                           const std::function<void(int64_t y, uint8_t* out)>& fillRow,
                           const ParallelDeflateSettings& settings,
                           const std::function<void(const uint8_t* data, std::size_t size)>& sink);

}  // namespace kavun::codec
