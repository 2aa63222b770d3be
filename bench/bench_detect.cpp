// How well DetectScrambledRect finds a scrambled rectangle on real photographs, and how fast.
//
//   bench_detect [--trials N] [--seed S] [--only NAME] [--no-timing] [--verbose] [--dump DIR]
//                PHOTO...
//
// Every trial cuts a random 1024 x 768 part out of a random photo, scrambles a random rectangle of
// at least 16 x 16 pixels in it with one transform (random parameters), and asks the detector for
// the rectangle. For the mosaic the expected answer is the part that whole blocks cover. A trial
// whose scramble changed no pixel is not counted. "restored" also counts a rectangle that is not
// the one scrambled but on which the inverse gives back every pixel. "an edge unchanged" counts the
// trials where on some side no pixel of the outermost line of pixels (of blocks, for a mosaic)
// changed: no detector can place that edge from the pixels, and the --verbose line of such a miss
// says so. --dump writes every missed picture to DIR (missN.png, named in the --verbose line), and
// every unscrambled one with a false find (falseN.png). "false finds" runs the detector on the
// unscrambled parts. At the end the detector is timed on the first photo scaled to 7680 x 4320,
// clean and with a scrambled rectangle. bench/detect_photos.sh installs a set of photos and runs
// this.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <numeric>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "engine/bitmap.h"
#include "engine/detect.h"
#include "engine/mosaic_order.h"
#include "engine/transform_params.h"
#include "imagefile/imagefile.h"

namespace {

using kavun::Bitmap;
using kavun::TRect;

constexpr int32_t kCropW = 1024;
constexpr int32_t kCropH = 768;

Bitmap Crop(const Bitmap& photo, int32_t x0, int32_t y0, int32_t w, int32_t h) {
  Bitmap out(w, h, kavun::PixelFormat::Bits24);
  for (int32_t y = 0; y < h; ++y) {
    std::memcpy(out.ScanLine(y).data(), photo.ScanLine(y0 + y).data() + 3 * x0,
                3 * static_cast<std::size_t>(w));
  }
  return out;
}

// Nearest-neighbour scaling is too kind to a detector (every pixel doubled); this one blends.
Bitmap ScaleBilinear(const Bitmap& photo, int32_t w, int32_t h) {
  Bitmap out(w, h, kavun::PixelFormat::Bits24);
  for (int32_t y = 0; y < h; ++y) {
    const double fy = (y + 0.5) * photo.Height() / h - 0.5;
    const int32_t y0 = std::clamp(static_cast<int32_t>(fy), 0, photo.Height() - 1);
    const int32_t y1 = std::min(y0 + 1, photo.Height() - 1);
    const double ay = std::clamp(fy - y0, 0.0, 1.0);
    const uint8_t* r0 = photo.ScanLine(y0).data();
    const uint8_t* r1 = photo.ScanLine(y1).data();
    uint8_t* o = out.ScanLine(y).data();
    for (int32_t x = 0; x < w; ++x) {
      const double fx = (x + 0.5) * photo.Width() / w - 0.5;
      const int32_t x0 = std::clamp(static_cast<int32_t>(fx), 0, photo.Width() - 1);
      const int32_t x1 = std::min(x0 + 1, photo.Width() - 1);
      const double ax = std::clamp(fx - x0, 0.0, 1.0);
      for (int c = 0; c < 3; ++c) {
        const double top = r0[3 * x0 + c] * (1 - ax) + r0[3 * x1 + c] * ax;
        const double bottom = r1[3 * x0 + c] * (1 - ax) + r1[3 * x1 + c] * ax;
        o[3 * x + c] = static_cast<uint8_t>(top * (1 - ay) + bottom * ay + 0.5);
      }
    }
  }
  return out;
}

bool SamePixels(const Bitmap& a, const Bitmap& b) {
  return a.Bits().size() == b.Bits().size() &&
         std::equal(a.Bits().begin(), a.Bits().end(), b.Bits().begin());
}

// Whether every edge of `expected` shows in the pixels: the scramble changed a pixel in its
// outermost line of blocks (`bw` x `bh`; 1 x 1 but for a mosaic) on each side. Where it did not
// (a block column over flat sky, rotated rows that end in white), no reading of the pixels can
// place that edge.
bool EdgesShow(const Bitmap& clean, const Bitmap& scrambled, const TRect& expected, int32_t bw,
               int32_t bh) {
  int32_t left = expected.Right, top = expected.Bottom, right = expected.Left,
          bottom = expected.Top;
  for (int32_t y = expected.Top; y < expected.Bottom; ++y) {
    const uint8_t* a = clean.ScanLine(y).data();
    const uint8_t* b = scrambled.ScanLine(y).data();
    for (int32_t x = expected.Left; x < expected.Right; ++x) {
      if (std::memcmp(a + 3 * x, b + 3 * x, 3) == 0) continue;
      left = std::min(left, x), right = std::max(right, x + 1);
      top = std::min(top, y), bottom = std::max(bottom, y + 1);
    }
  }
  return left - expected.Left < bw && expected.Right - right < bw && top - expected.Top < bh &&
         expected.Bottom - bottom < bh;
}

struct Tally {
  int Exact = 0, Wrong = 0, NotFound = 0, Unchanged = 0;
  int Restores = 0;  // exact, or another rectangle on which the inverse restores every pixel
  int Hidden = 0;    // an edge that no changed pixel shows
  int Total() const { return Exact + Wrong + NotFound; }
};

std::string RectText(const TRect& r) {
  return std::to_string(r.Left) + "," + std::to_string(r.Top) + "," + std::to_string(r.Right) +
         "," + std::to_string(r.Bottom);
}

double Percent(int part, int whole) {
  return whole ? 100.0 * part / whole : 0.0;
}

}  // namespace

int main(int argc, char** argv) {
  int trials = 150;
  unsigned seed = 1;
  bool verbose = false;
  std::string dump;  // a folder where every missed picture is written as PNG
  int dumped = 0;
  std::string only;  // run only the transforms whose name starts with this
  bool timing = true;
  std::vector<std::string> paths;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--trials" && i + 1 < argc) {
      trials = std::stoi(argv[++i]);
    } else if (arg == "--seed" && i + 1 < argc) {
      seed = static_cast<unsigned>(std::stoul(argv[++i]));
    } else if (arg == "--only" && i + 1 < argc) {
      only = argv[++i];
    } else if (arg == "--no-timing") {
      timing = false;
    } else if (arg == "--verbose") {
      verbose = true;
    } else if (arg == "--dump" && i + 1 < argc) {
      dump = argv[++i];
    } else {
      paths.push_back(arg);
    }
  }
  if (paths.empty()) {
    std::fprintf(
        stderr,
        "usage: bench_detect [--trials N] [--seed S] [--only NAME] [--no-timing] [--verbose] "
        "[--dump DIR] PHOTO...\n");
    return 2;
  }
  if (!dump.empty()) {
    // Written as the misses come, minutes in: a folder that cannot be made fails now.
    std::error_code error;
    std::filesystem::create_directories(dump, error);
    if (error) {
      std::fprintf(stderr, "bench_detect: cannot create the folder %s: %s\n", dump.c_str(),
                   error.message().c_str());
      return 2;
    }
  }
  std::vector<Bitmap> photos;
  for (const std::string& path : paths) {
    Bitmap b = kavun::LoadImageFile(path);
    b.ConvertTo24();
    if (b.Width() < kCropW || b.Height() < kCropH) b = ScaleBilinear(b, kCropW, kCropH);
    photos.push_back(std::move(b));
  }

  std::mt19937 rng(seed);
  const auto uniform = [&](int lo, int hi) {
    return std::uniform_int_distribution<int>(lo, hi)(rng);
  };
  // Sides from 16 to 512, more of them small (log-uniform).
  const auto side = [&] {
    return static_cast<int32_t>(
        std::round(16.0 * std::pow(32.0, std::uniform_real_distribution<>(0, 1)(rng))));
  };

  const char* kinds[] = {
      "XOR MD5",          "XOR MD5(OFB)",       "XOR MTwister",      "bit shift, 8 or 16",
      "bit shift, other", "mosaic, a side < 4", "mosaic, 4x4 and up"};
  std::map<std::string, Tally> tally;
  int falseFinds = 0, cleanRuns = 0;
  double totalMs = 0;
  int runs = 0;

  for (int t = 0; t < trials; ++t) {
    bool cleanChecked = false;  // once per trial, on the first transform's unscrambled part
    for (const char* kind : kinds) {
      const Bitmap& photo =
          photos[static_cast<std::size_t>(uniform(0, static_cast<int>(photos.size()) - 1))];
      const Bitmap clean = Crop(photo, uniform(0, photo.Width() - kCropW),
                                uniform(0, photo.Height() - kCropH), kCropW, kCropH);
      const std::string k = kind;
      if (!only.empty() && k.rfind(only, 0) != 0) continue;
      kavun::TransformRequest request;
      if (k.rfind("XOR", 0) == 0) {
        request.Kind = kavun::TransformKind::Xor;
        request.Mode = k == "XOR MD5"        ? kavun::XorKeyMode::MD5
                       : k == "XOR MTwister" ? kavun::XorKeyMode::MTwister
                                             : kavun::XorKeyMode::MD5OFB;
        request.Password = "pass" + std::to_string(uniform(0, 1 << 30));
      } else if (k.rfind("bit shift", 0) == 0) {
        request.Kind = kavun::TransformKind::BitShift;
        int bits = 8;
        if (k == "bit shift, 8 or 16") {
          bits = uniform(0, 1) ? 8 : 16;
        } else {
          do bits = uniform(1, 23);
          while (bits == 8 || bits == 16);
        }
        request.Shift = uniform(0, 1) ? bits : -bits;
      } else {
        request.Kind = kavun::TransformKind::ReversibleMosaic;
        const bool small = k == "mosaic, a side < 4";
        do {
          request.BlockW = uniform(2, 50);
          request.BlockH = uniform(2, 50);
        } while (small != (request.BlockW < 4 || request.BlockH < 4));
        const int32_t n = request.BlockW * request.BlockH;
        do {
          request.Key1 = uniform(0, 255);
          request.Key2 = uniform(0, 255);
        } while (!kavun::IsReversibleOrder(request.Key1, request.Key2, n));
      }
      int32_t w = side(), h = side();
      if (request.Kind == kavun::TransformKind::ReversibleMosaic) {
        w = std::max(w, request.BlockW);
        h = std::max(h, request.BlockH);
      }
      const int32_t l = uniform(0, kCropW - w), top = uniform(0, kCropH - h);
      TRect rect{l, top, l + w, top + h};
      TRect expected = rect;
      if (request.Kind == kavun::TransformKind::ReversibleMosaic) {
        expected.Right = l + w / request.BlockW * request.BlockW;
        expected.Bottom = top + h / request.BlockH * request.BlockH;
      }
      Bitmap scrambled = clean;
      kavun::ApplyTransform(scrambled, rect, request);
      Tally& row = tally[k];
      if (SamePixels(scrambled, clean)) {
        ++row.Unchanged;
        continue;
      }
      const bool mosaic = request.Kind == kavun::TransformKind::ReversibleMosaic;
      const bool hidden = !EdgesShow(clean, scrambled, expected, mosaic ? request.BlockW : 1,
                                     mosaic ? request.BlockH : 1);
      row.Hidden += hidden ? 1 : 0;
      const auto start = std::chrono::steady_clock::now();
      const std::optional<TRect> found = kavun::DetectScrambledRect(scrambled);
      totalMs += std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                     .count();
      ++runs;
      if (!found) {
        ++row.NotFound;
      } else if (*found == expected) {
        ++row.Exact;
        ++row.Restores;
      } else {
        ++row.Wrong;
        // A rectangle that differs only by pixels the transform left as they were (grey pixels
        // under a whole-byte rotation, flat blocks under a mosaic) is undone just as well.
        kavun::TransformRequest inverse = request;
        inverse.Decode = true;
        inverse.Shift = -request.Shift;
        Bitmap undone = scrambled;
        kavun::ApplyTransform(undone, *found, inverse);
        if (SamePixels(undone, clean)) ++row.Restores;
      }
      if (!found || !(*found == expected)) {
        std::string file;
        if (!dump.empty()) {
          file = dump + "/miss" + std::to_string(++dumped) + ".png";
          kavun::SaveImageFile(file, ".png", scrambled);
        }
        if (verbose) {
          std::printf("miss %-20s expected %s found %s (block %dx%d keys %d,%d shift %d)%s %s\n",
                      kind, RectText(expected).c_str(), found ? RectText(*found).c_str() : "-",
                      request.BlockW, request.BlockH, request.Key1, request.Key2, request.Shift,
                      hidden ? " edge unchanged" : "", file.c_str());
        }
      }
      if (!cleanChecked) {
        cleanChecked = true;
        ++cleanRuns;
        const std::optional<TRect> onClean = kavun::DetectScrambledRect(clean);
        if (onClean) {
          ++falseFinds;
          std::string file;
          if (!dump.empty()) {
            file = dump + "/false" + std::to_string(falseFinds) + ".png";
            kavun::SaveImageFile(file, ".png", clean);
          }
          if (verbose) std::printf("false find %s %s\n", RectText(*onClean).c_str(), file.c_str());
        }
      }
    }
  }

  std::printf(
      "\n| transform | trials | exact | wrong | not found | restored by the inverse | an edge "
      "unchanged |\n"
      "|---|---|---|---|---|---|---|\n");
  for (const char* kind : kinds) {
    const Tally& row = tally[kind];
    std::printf("| %s | %d | %.1f %% | %.1f %% | %.1f %% | %.1f %% | %.1f %% |\n", kind,
                row.Total(), Percent(row.Exact, row.Total()), Percent(row.Wrong, row.Total()),
                Percent(row.NotFound, row.Total()), Percent(row.Restores, row.Total()),
                Percent(row.Hidden, row.Total()));
  }
  std::printf("| unscrambled (false finds) | %d | | %.1f %% | | | |\n", cleanRuns,
              Percent(falseFinds, cleanRuns));
  std::printf("\nmean time on a %d x %d part: %.1f ms\n", kCropW, kCropH,
              runs ? totalMs / runs : 0.0);

  if (!timing) return 0;
  // The time on an 8K picture: the first photo scaled up, clean and with a rectangle scrambled.
  const Bitmap big = ScaleBilinear(photos[0], 7680, 4320);
  Bitmap bigScrambled = big;
  kavun::TransformRequest xorRequest;
  xorRequest.Kind = kavun::TransformKind::Xor;
  xorRequest.Password = "bench";
  kavun::ApplyTransform(bigScrambled, TRect{3000, 1500, 3400, 1800}, xorRequest);
  for (const auto& [name, picture] :
       {std::pair<const char*, const Bitmap*>{"clean", &big}, {"XOR 400x300", &bigScrambled}}) {
    double bestMs = 1e9;
    std::optional<TRect> found;
    for (int i = 0; i < 3; ++i) {
      const auto start = std::chrono::steady_clock::now();
      found = kavun::DetectScrambledRect(*picture);
      bestMs = std::min(bestMs, std::chrono::duration<double, std::milli>(
                                    std::chrono::steady_clock::now() - start)
                                    .count());
    }
    std::printf("7680 x 4320, %s: %.0f ms (found %s)\n", name, bestMs,
                found ? RectText(*found).c_str() : "nothing");
  }
  return 0;
}
