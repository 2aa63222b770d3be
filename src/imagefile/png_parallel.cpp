// The image data of a large PNG deflated on several threads. The rows are cut into blocks; each
// worker filters the rows of a block and compresses them with its own raw deflate stream,
// primed with the 32 KiB that precede the block, so that matches reach back across the cut as
// they would in one stream. A sync flush ends every block but the last at a byte boundary, so
// the blocks simply follow one another; the last is finished, and the Adler-32 of the whole data
// is combined from the blocks' own. The calling thread writes the blocks out in order while the
// workers go on; at most a few blocks per worker wait in memory.

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "engine/error.h"
#include "imagefile/imagefile.h"
#include "imagefile/png_deflate.h"

namespace kavun {
namespace {

std::atomic<unsigned> g_saveThreads{0};

}  // namespace

void SetSaveThreadBudget(unsigned threads) {
  g_saveThreads.store(threads, std::memory_order_relaxed);
}

unsigned SaveThreadBudget() {
  unsigned threads = g_saveThreads.load(std::memory_order_relaxed);
  if (threads == 0) threads = std::thread::hardware_concurrency();
  return std::max(1u, threads);
}

namespace codec {
namespace {

// libpng compresses filtered image data with Z_FILTERED unless told otherwise.
constexpr int kStrategy = Z_FILTERED;
constexpr std::size_t kWindowBytes = std::size_t{1} << kPngZlibWindowBits;
// Blocks finished ahead of the one being written, per worker.
constexpr int64_t kBlocksAheadPerThread = 3;

[[noreturn]] void ZlibFailed(int code, const z_stream& stream) {
  if (code == Z_MEM_ERROR) throw std::bad_alloc();
  throw Error(ErrorKind::WriteFailed, "",
              std::string("zlib: ") + (stream.msg != nullptr ? stream.msg : zError(code)));
}

// One worker's raw deflate stream, reset for every block.
class BlockDeflater {
 public:
  BlockDeflater() {
    const int code = deflateInit2(&stream_, kPngZlibLevel, Z_DEFLATED, -kPngZlibWindowBits,
                                  kPngZlibMemLevel, kStrategy);
    if (code != Z_OK) ZlibFailed(code, stream_);
  }
  ~BlockDeflater() { deflateEnd(&stream_); }
  BlockDeflater(const BlockDeflater&) = delete;
  BlockDeflater& operator=(const BlockDeflater&) = delete;

  // Compresses `input` into `out` (replacing its contents), with `dictionary` as the data seen
  // before; a last block finishes the deflate stream, any other ends at a byte boundary.
  void Compress(const uint8_t* dictionary, std::size_t dictionarySize, const uint8_t* input,
                std::size_t inputSize, bool last, std::vector<uint8_t>& out) {
    int code = deflateReset(&stream_);
    if (code == Z_OK && dictionarySize > 0) {
      code = deflateSetDictionary(&stream_, dictionary, static_cast<uInt>(dictionarySize));
    }
    if (code != Z_OK) ZlibFailed(code, stream_);
    // Room for incompressible data and the flush marker; grown should it not suffice.
    out.resize(deflateBound(&stream_, static_cast<uLong>(inputSize)) + 16);
    stream_.next_in = const_cast<Bytef*>(input);
    stream_.avail_in = static_cast<uInt>(inputSize);
    std::size_t produced = 0;
    for (;;) {
      stream_.next_out = out.data() + produced;
      stream_.avail_out = static_cast<uInt>(out.size() - produced);
      code = deflate(&stream_, last ? Z_FINISH : Z_SYNC_FLUSH);
      produced = out.size() - stream_.avail_out;
      if (last ? code == Z_STREAM_END : (code == Z_OK && stream_.avail_out != 0)) break;
      if (code != Z_OK && code != Z_BUF_ERROR) ZlibFailed(code, stream_);
      out.resize(out.size() * 2);
    }
    out.resize(produced);
  }

 private:
  z_stream stream_{};
};

struct Slot {
  bool Ready = false;
  std::vector<uint8_t> Data;
  uLong Adler = 0;
  std::size_t InputSize = 0;
};

}  // namespace

void DeflateRowsInParallel(int64_t rowCount, std::size_t rowBytes,
                           const std::function<void(int64_t y, uint8_t* out)>& fillRow,
                           const ParallelDeflateSettings& settings,
                           const std::function<void(const uint8_t* data, std::size_t size)>& sink) {
  const auto rowsPerBlock =
      static_cast<int64_t>(std::max<std::size_t>(1, settings.BlockBytes / rowBytes));
  const int64_t blockCount = std::max<int64_t>(1, (rowCount + rowsPerBlock - 1) / rowsPerBlock);
  // Rows that hold the dictionary of a block: the last 32 KiB before it.
  const auto dictionaryRows = static_cast<int64_t>((kWindowBytes + rowBytes - 1) / rowBytes);
  const auto threads =
      static_cast<int64_t>(std::min<int64_t>(std::max(1u, settings.Threads), blockCount));
  const int64_t slotCount = threads * kBlocksAheadPerThread;

  std::mutex mutex;
  std::condition_variable changed;
  std::vector<Slot> slots(static_cast<std::size_t>(slotCount));
  int64_t written = 0;  // blocks handed to the sink
  bool stop = false;
  std::exception_ptr failure;
  std::atomic<int64_t> nextBlock{0};

  auto worker = [&] {
    try {
      BlockDeflater deflater;
      std::vector<uint8_t> rows;
      std::vector<uint8_t> compressed;
      for (int64_t block = nextBlock++; block < blockCount; block = nextBlock++) {
        {
          std::unique_lock lock(mutex);
          changed.wait(lock, [&] { return stop || block < written + slotCount; });
          if (stop) return;
        }
        const int64_t first = block * rowsPerBlock;
        const int64_t end = std::min(rowCount, first + rowsPerBlock);
        const int64_t primer = std::max<int64_t>(0, first - dictionaryRows);
        rows.resize(static_cast<std::size_t>(end - primer) * rowBytes);
        for (int64_t y = primer; y < end; ++y) {
          fillRow(y, rows.data() + static_cast<std::size_t>(y - primer) * rowBytes);
        }
        const std::size_t start = static_cast<std::size_t>(first - primer) * rowBytes;
        const std::size_t dictionarySize = std::min(start, kWindowBytes);
        const std::size_t inputSize = rows.size() - start;
        deflater.Compress(rows.data() + start - dictionarySize, dictionarySize, rows.data() + start,
                          inputSize, block == blockCount - 1, compressed);
        const uLong adler =
            adler32(adler32(0, nullptr, 0), rows.data() + start, static_cast<uInt>(inputSize));
        {
          const std::lock_guard lock(mutex);
          Slot& slot = slots[static_cast<std::size_t>(block % slotCount)];
          slot.Data.swap(compressed);
          slot.Adler = adler;
          slot.InputSize = inputSize;
          slot.Ready = true;
        }
        changed.notify_all();
      }
    } catch (...) {
      {
        const std::lock_guard lock(mutex);
        if (!failure) failure = std::current_exception();
        stop = true;
      }
      changed.notify_all();
    }
  };

  std::vector<std::jthread> pool;
  // Declared after the pool, so destroyed before it: whichever way this function is left, the
  // workers are told to stop before they are joined.
  struct StopOnExit {
    std::mutex& Mutex;
    std::condition_variable& Changed;
    bool& Stop;
    ~StopOnExit() {
      {
        const std::lock_guard lock(Mutex);
        Stop = true;
      }
      Changed.notify_all();
    }
  } stopOnExit{mutex, changed, stop};
  pool.reserve(static_cast<std::size_t>(threads));
  for (int64_t t = 0; t < threads; ++t) pool.emplace_back(worker);

  // The zlib header: deflate with a 32 KiB window, no dictionary, compression level 7 (FLEVEL 3:
  // levels 7 to 9), and the check bits that make the pair a multiple of 31.
  static_assert(kPngZlibLevel >= 7 && kPngZlibWindowBits == 15);
  const uint8_t cmf = 0x78;
  const auto flevel = static_cast<uint8_t>(3 << 6);
  const uint8_t header[2] = {cmf, static_cast<uint8_t>(flevel + 31 - (cmf * 256 + flevel) % 31)};
  sink(header, sizeof header);

  uLong adler = adler32(0, nullptr, 0);
  std::vector<uint8_t> data;
  for (int64_t block = 0; block < blockCount; ++block) {
    uLong blockAdler = 0;
    std::size_t inputSize = 0;
    {
      std::unique_lock lock(mutex);
      Slot& slot = slots[static_cast<std::size_t>(block % slotCount)];
      changed.wait(lock, [&] { return stop || slot.Ready; });
      if (!slot.Ready) {
        if (failure) std::rethrow_exception(failure);
        throw Error(ErrorKind::WriteFailed, "", "the compression stopped");
      }
      data.swap(slot.Data);
      blockAdler = slot.Adler;
      inputSize = slot.InputSize;
      slot.Ready = false;
    }
    sink(data.data(), data.size());
    adler = adler32_combine(adler, blockAdler, static_cast<z_off_t>(inputSize));
    {
      const std::lock_guard lock(mutex);
      written = block + 1;
    }
    changed.notify_all();
  }
  const uint8_t trailer[4] = {static_cast<uint8_t>(adler >> 24), static_cast<uint8_t>(adler >> 16),
                              static_cast<uint8_t>(adler >> 8), static_cast<uint8_t>(adler)};
  sink(trailer, sizeof trailer);
}

}  // namespace codec
}  // namespace kavun
