#include "cli/batch.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli/console.h"
#include "cli/password_input.h"
#include "engine/error.h"
#include "engine/mosaic.h"
#include "engine/path_text.h"
#include "engine/transform_frame.h"
#include "imagefile/formats.h"
#include "imagefile/imagefile.h"

namespace kavun::cli {
namespace {

namespace fs = std::filesystem;

std::string Str(int32_t value) {
  return std::to_string(value);
}

// The one Mersenne Twister generator of the process is seeded and advanced by every MTwister
// XOR run, so those runs must not overlap; everything else (decoding, the other transforms,
// encoding) runs in parallel.
std::mutex g_mtwisterMutex;

struct Job {
  std::string In;
  std::string Out;
};

// The memory the files of a batch may take at once: half of what the system has available.
uint64_t MemoryBudget() {
  const uint64_t available = AvailableMemoryBytes();
  return available != 0 ? available / 2 : uint64_t{1} << 30;
}

// Admits files while the memory they may need together stays within the budget; one file is
// always admitted, however large, so that every file gets its turn.
class MemoryGate {
 public:
  explicit MemoryGate(uint64_t budget) : budget_(budget) {}
  void Acquire(uint64_t cost) {
    std::unique_lock lock(mutex_);
    admitted_.wait(lock, [&] { return running_ == 0 || used_ + cost <= budget_; });
    used_ += cost;
    ++running_;
  }
  void Release(uint64_t cost) {
    {
      const std::lock_guard lock(mutex_);
      used_ -= cost;
      --running_;
    }
    admitted_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable admitted_;
  const uint64_t budget_;
  uint64_t used_ = 0;
  int running_ = 0;
};

// "L,T,R,B (W x H pixels)": a rectangle as the messages name it.
std::string RectText(const TRect& r) {
  return Str(r.Left) + "," + Str(r.Top) + "," + Str(r.Right) + "," + Str(r.Bottom) + " (" +
         Str(r.Right - r.Left) + " x " + Str(r.Bottom - r.Top) + " pixels)";
}

// The mosaic rewrites only the whole blocks of the rectangle. Without one the picture would come
// out unchanged: that is a failure, not a success. Strips at the right or bottom that stay as
// they are when scrambling are worth a warning.
template <class Warn>
void CheckMosaicCovers(const std::string& in, const TRect& rect, const TransformRequest& request,
                       const Warn& warn) {
  const TRect covered = MosaicCoveredRect(rect, request.BlockW, request.BlockH);
  const std::string block = Str(request.BlockW) + "x" + Str(request.BlockH);
  if (covered.IsEmpty()) {
    throw Error(ErrorKind::Other, "",
                "the rectangle " + RectText(rect) + " holds no whole block of " + block +
                    " pixels, so the mosaic would change nothing; choose a larger rectangle "
                    "(--rect) or smaller blocks (--block)");
  }
  if (request.Decode || covered == rect) return;
  std::string strips;
  if (covered.Right < rect.Right) {
    strips += "the rightmost " + Str(rect.Right - covered.Right) + " x " +
              Str(rect.Bottom - rect.Top) + " pixels";
  }
  if (covered.Bottom < rect.Bottom) {
    if (!strips.empty()) strips += " and ";
    strips += "the bottom " + Str(covered.Right - covered.Left) + " x " +
              Str(rect.Bottom - covered.Bottom) + " pixels";
  }
  warn("warning: \"" + in + "\": the mosaic leaves " + strips + " of the rectangle " +
       RectText(rect) + " unscrambled: they hold no whole block of " + block + " pixels");
}

// Shares the processors among the files in progress: a save that starts gets processors /
// files in progress threads (SetSaveThreadBudget applies to the saves that start after it). So
// while the batch fills every processor each save compresses on one thread, and when fewer files
// remain than processors (the queue ran dry, or the memory gate admits fewer) the saves still to
// come take the processors left free.
class SaveBudget {
 public:
  explicit SaveBudget(unsigned cores) : cores_(cores) {}
  void Started() { Update(+1); }
  void Finished() { Update(-1); }

 private:
  void Update(int change) {
    const std::lock_guard lock(mutex_);
    inProgress_ += change;
    SetSaveThreadBudget(std::max(1u, cores_ / static_cast<unsigned>(std::max(1, inProgress_))));
  }
  std::mutex mutex_;
  const unsigned cores_;
  int inProgress_ = 0;
};

// Processes one file; returns its exit status and reports on stderr.
int RunJob(const TransformRequest& request, const std::optional<TRect>& wanted, const Job& job,
           std::mutex& errLock) {
  auto warn = [&](const std::string& message) {
    const std::lock_guard lock(errLock);
    std::cerr << "kavun-cli: " << message << "\n";
  };
  try {
    DroppedOnLoad dropped;
    Bitmap bitmap = LoadImageFile(PathFromUtf8(job.In), &dropped);
    if (dropped.Alpha) {
      warn("warning: \"" + job.In +
           "\" has transparency, which is flattened onto white on loading; \"" + job.Out +
           "\" cannot restore it");
    }
    if (dropped.DeepSamples) {
      warn("warning: \"" + job.In +
           "\" has 16-bit samples, which are rounded to 8 bits on loading; \"" + job.Out +
           "\" cannot restore them");
    }
    // The transforms refuse a rectangle outside the picture before touching a pixel; an empty
    // one they accept anywhere, so that one is refused here.
    const TRect rect = wanted.value_or(TRect{0, 0, bitmap.Width(), bitmap.Height()});
    CheckRectWithin(bitmap, rect);
    if (request.Kind == TransformKind::ReversibleMosaic)
      CheckMosaicCovers(job.In, rect, request, warn);
    if (UsesSharedGenerator(request)) {
      const std::lock_guard lock(g_mtwisterMutex);
      ApplyTransform(bitmap, rect, request);
    } else {
      ApplyTransform(bitmap, rect, request);
    }
    if (const PictureFormat* format = FormatOfPath(job.Out); format != nullptr && format->Lossy) {
      warn("warning: \"" + job.Out + "\" is written as " + format->Name +
           "; the scrambled area can no longer be restored exactly");
    }
    SaveImageFile(PathFromUtf8(job.Out), FileExtension(job.Out), bitmap);
    return kExitOk;
  } catch (const std::exception& e) {
    // An error without a file concerns the input (its picture, its rectangle).
    const Error error = ToError(e).WithPath(job.In);
    std::string message = error.what();
    if (error.Kind() == ErrorKind::Other && message.find(job.In) == std::string::npos) {
      message = "\"" + job.In + "\": " + message;
    }
    if (error.Path() != job.Out) message += "; \"" + job.Out + "\" was not written";
    warn(message);
    return ExitStatusFor(error.Kind());
  }
}

}  // namespace

int RunTransform(const Options& o) {
  std::vector<Job> jobs;
  if (o.OutDir) {
    std::error_code ec;
    if (!fs::is_directory(PathFromUtf8(*o.OutDir), ec)) {
      throw UsageError("--out-dir: \"" + *o.OutDir + "\" is not an existing folder");
    }
    std::set<std::string> names;
    for (const std::string& in : o.Positional) {
      const std::string name = PathToUtf8(PathFromUtf8(in).filename());
      CheckOutputName(name);
      if (!names.insert(name).second) {
        throw UsageError("two inputs are named \"" + name + "\"; their outputs would collide");
      }
      jobs.push_back({in, PathToUtf8(PathFromUtf8(*o.OutDir) / PathFromUtf8(name))});
    }
  } else {
    CheckOutputName(o.Positional[1]);
    jobs.push_back({o.Positional[0], o.Positional[1]});
  }

  // Coefficients that do not give a permutation cannot restore anything when decoding, and when
  // encoding they destroy the picture for good: refused unless the user asks for exactly that.
  TransformRequest request = o.Request;
  if (o.Cmd == Command::Mosaic) {
    const bool reversible = MosaicIsReversible(request);
    const std::string which = MosaicCoefficients(request);
    if (request.Decode && !reversible) {
      throw Error(ErrorKind::Irreversible, jobs.size() == 1 ? jobs[0].In : std::string(),
                  which + "; nothing was written");
    }
    if (!reversible && !o.AllowIrreversible) {
      throw Error(ErrorKind::Irreversible, jobs.size() == 1 ? jobs[0].In : std::string(),
                  which + "; nothing was written; --allow-irreversible applies them anyway");
    }
    if (!reversible) {
      std::cerr << "kavun-cli: warning: these coefficients are not reversible; the mosaic "
                   "cannot be undone\n";
    }
  }
  if (o.Cmd == Command::Xor) request.Password = ReadPassword(o);

  std::vector<int> results(jobs.size(), kExitOk);
  std::mutex errLock;
  std::atomic<std::size_t> next{0};
  MemoryGate gate(MemoryBudget());
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  SaveBudget budget(cores);
  auto worker = [&] {
    for (std::size_t i = next++; i < jobs.size(); i = next++) {
      // The decoded picture, its 24-bit form made by the transform, and the coders' buffers.
      const uint64_t cost = 2 * PictureBytes24(PathFromUtf8(jobs[i].In)) + (uint64_t{16} << 20);
      gate.Acquire(cost);
      budget.Started();
      results[i] = RunJob(request, o.Rect, jobs[i], errLock);
      budget.Finished();
      gate.Release(cost);
    }
  };
  const std::size_t threads = std::min<std::size_t>(jobs.size(), cores);
  std::vector<std::thread> pool;
  for (std::size_t t = 1; t < threads; ++t) pool.emplace_back(worker);
  worker();
  for (auto& t : pool) t.join();

  int status = kExitOk;
  for (const int r : results) {
    if (r == kExitUsage) status = kExitUsage;
    if (r == kExitFailure && status == kExitOk) status = kExitFailure;
  }
  return status;
}

}  // namespace kavun::cli
