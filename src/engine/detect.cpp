#include "engine/detect.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <vector>

namespace kavun {
namespace {

// The 24-bit pixels of the picture, read only.
class View {
 public:
  explicit View(const Bitmap& bitmap)
      : W(bitmap.Width()),
        H(bitmap.Height()),
        base_(bitmap.Bits().data()),
        stride_(bitmap.Stride()) {}

  const uint8_t* Row(int32_t y) const { return base_ + static_cast<std::size_t>(y) * stride_; }
  const uint8_t* Pixel(int32_t x, int32_t y) const {
    return Row(y) + 3 * static_cast<std::size_t>(x);
  }

  const int32_t W;
  const int32_t H;

 private:
  const uint8_t* base_;
  std::size_t stride_;
};

int Diff3(const uint8_t* a, const uint8_t* b) {
  return std::abs(a[0] - b[0]) + std::abs(a[1] - b[1]) + std::abs(a[2] - b[2]);
}

// How unlike both its left and right neighbour pixel (x, y) is: the smaller of the two
// differences, summed over the colour bytes. Natural pictures change smoothly or in edges, so at
// least one neighbour is close; a scrambled pixel differs from both. Pixels outside the picture
// count as 0.
int Noise(const View& v, int32_t x, int32_t y) {
  if (x < 0 || x >= v.W || y < 0 || y >= v.H) return 0;
  const uint8_t* p = v.Pixel(x, y);
  int best = std::numeric_limits<int>::max();
  if (x > 0) best = Diff3(p, p - 3);
  if (x + 1 < v.W) best = std::min(best, Diff3(p, p + 3));
  return best == std::numeric_limits<int>::max() ? 0 : best;
}

// At most `count` values spread evenly over [from, to).
std::vector<int32_t> Sample(int32_t from, int32_t to, int32_t count) {
  std::vector<int32_t> out;
  const int64_t n = to - from;
  if (n <= 0) return out;
  if (n <= count) {
    for (int32_t i = from; i < to; ++i) out.push_back(i);
    return out;
  }
  for (int32_t i = 0; i < count; ++i) out.push_back(from + static_cast<int32_t>(n * i / count));
  return out;
}

constexpr int32_t kTile = 8;

// The mean noise of every kTile x kTile tile.
struct TileMap {
  int32_t Cols = 0;
  int32_t Rows = 0;
  std::vector<float> Mean;
  float At(int32_t c, int32_t r) const { return Mean[static_cast<std::size_t>(r) * Cols + c]; }
};

TileMap NoiseTiles(const View& v) {
  TileMap map;
  map.Cols = (v.W + kTile - 1) / kTile;
  map.Rows = (v.H + kTile - 1) / kTile;
  std::vector<uint32_t> sums(static_cast<std::size_t>(map.Cols) * map.Rows, 0);
  std::vector<uint16_t> d(static_cast<std::size_t>(v.W) + 1);
  constexpr uint16_t kNone = 0xFFFF;
  for (int32_t y = 0; y < v.H; ++y) {
    const uint8_t* row = v.Row(y);
    d[0] = kNone;
    d[static_cast<std::size_t>(v.W)] = kNone;
    for (int32_t x = 1; x < v.W; ++x) {
      const uint8_t* p = row + 3 * static_cast<std::size_t>(x);
      d[static_cast<std::size_t>(x)] = static_cast<uint16_t>(Diff3(p, p - 3));
    }
    uint32_t* tileRow = &sums[static_cast<std::size_t>(y / kTile) * map.Cols];
    for (int32_t x = 0; x < v.W; ++x) {
      uint16_t n = std::min(d[static_cast<std::size_t>(x)], d[static_cast<std::size_t>(x) + 1]);
      if (n == kNone) n = 0;
      tileRow[x / kTile] += n;
    }
  }
  map.Mean.resize(sums.size());
  for (int32_t r = 0; r < map.Rows; ++r) {
    const int32_t h = std::min(kTile, v.H - r * kTile);
    for (int32_t c = 0; c < map.Cols; ++c) {
      const int32_t w = std::min(kTile, v.W - c * kTile);
      const std::size_t i = static_cast<std::size_t>(r) * map.Cols + c;
      map.Mean[i] = static_cast<float>(sums[i]) / static_cast<float>(w * h);
    }
  }
  return map;
}

// A group of connected tiles above a threshold: its bounding box in tiles and its weight.
struct Blob {
  int32_t Left, Top, Right, Bottom;  // tiles, Right and Bottom exclusive
  double Weight;
  int32_t Count;
};

std::vector<Blob> Blobs(const TileMap& map, float threshold) {
  std::vector<Blob> blobs;
  std::vector<uint8_t> seen(map.Mean.size(), 0);
  std::vector<int32_t> stack;
  for (int32_t r = 0; r < map.Rows; ++r) {
    for (int32_t c = 0; c < map.Cols; ++c) {
      const std::size_t start = static_cast<std::size_t>(r) * map.Cols + c;
      if (seen[start] || map.Mean[start] <= threshold) continue;
      Blob blob{c, r, c + 1, r + 1, 0.0, 0};
      seen[start] = 1;
      stack.assign(1, static_cast<int32_t>(start));
      while (!stack.empty()) {
        const int32_t i = stack.back();
        stack.pop_back();
        const int32_t tc = i % map.Cols;
        const int32_t tr = i / map.Cols;
        blob.Left = std::min(blob.Left, tc);
        blob.Right = std::max(blob.Right, tc + 1);
        blob.Top = std::min(blob.Top, tr);
        blob.Bottom = std::max(blob.Bottom, tr + 1);
        blob.Weight += map.Mean[static_cast<std::size_t>(i)] - threshold;
        ++blob.Count;
        for (int32_t dr = -1; dr <= 1; ++dr) {
          for (int32_t dc = -1; dc <= 1; ++dc) {
            const int32_t nc = tc + dc;
            const int32_t nr = tr + dr;
            if (nc < 0 || nr < 0 || nc >= map.Cols || nr >= map.Rows) continue;
            const std::size_t j = static_cast<std::size_t>(nr) * map.Cols + nc;
            if (seen[j] || map.Mean[j] <= threshold) continue;
            seen[j] = 1;
            stack.push_back(static_cast<int32_t>(j));
          }
        }
      }
      blobs.push_back(blob);
    }
  }
  return blobs;
}

// --- Placing the edges to the pixel -------------------------------------------------------------

// Weight of the image border as an edge: the inside must stand out from nothing by this share.
constexpr double kBorderShare = 0.5;

// The left edge in [from, to]: the column where the noise steps up from the column before it,
// summed over `rows`.
int32_t BestLeft(const View& v, const std::vector<int32_t>& rows, int32_t from, int32_t to) {
  from = std::max(from, 0);
  to = std::min(to, v.W - 1);
  int32_t best = from;
  double bestScore = -std::numeric_limits<double>::infinity();
  for (int32_t x = from; x <= to; ++x) {
    double s = 0;
    for (int32_t y : rows) {
      s += x == 0 ? kBorderShare * Noise(v, 0, y) : Noise(v, x, y) - Noise(v, x - 1, y);
    }
    if (s > bestScore) bestScore = s, best = x;
  }
  return best;
}

// The right edge (exclusive) in [from, to].
int32_t BestRight(const View& v, const std::vector<int32_t>& rows, int32_t from, int32_t to) {
  from = std::max(from, 1);
  to = std::min(to, v.W);
  int32_t best = to;
  double bestScore = -std::numeric_limits<double>::infinity();
  for (int32_t x = to; x >= from; --x) {
    double s = 0;
    for (int32_t y : rows) {
      s += x == v.W ? kBorderShare * Noise(v, x - 1, y) : Noise(v, x - 1, y) - Noise(v, x, y);
    }
    if (s > bestScore) bestScore = s, best = x;
  }
  return best;
}

int32_t BestTop(const View& v, const std::vector<int32_t>& cols, int32_t from, int32_t to) {
  from = std::max(from, 0);
  to = std::min(to, v.H - 1);
  int32_t best = from;
  double bestScore = -std::numeric_limits<double>::infinity();
  for (int32_t y = from; y <= to; ++y) {
    double s = 0;
    for (int32_t x : cols) {
      s += y == 0 ? kBorderShare * Noise(v, x, 0) : Noise(v, x, y) - Noise(v, x, y - 1);
    }
    if (s > bestScore) bestScore = s, best = y;
  }
  return best;
}

int32_t BestBottom(const View& v, const std::vector<int32_t>& cols, int32_t from, int32_t to) {
  from = std::max(from, 1);
  to = std::min(to, v.H);
  int32_t best = to;
  double bestScore = -std::numeric_limits<double>::infinity();
  for (int32_t y = to; y >= from; --y) {
    double s = 0;
    for (int32_t x : cols) {
      s += y == v.H ? kBorderShare * Noise(v, x, y - 1) : Noise(v, x, y - 1) - Noise(v, x, y);
    }
    if (s > bestScore) bestScore = s, best = y;
  }
  return best;
}

constexpr int32_t kSamples = 384;

// Rows (or columns) of [from, to) away from its ends by a quarter, at most 4.
std::vector<int32_t> Inner(int32_t from, int32_t to) {
  const int32_t q = std::min<int32_t>(4, (to - from) / 4);
  return Sample(from + q, to - q, kSamples);
}

TRect Refine(const View& v, TRect r) {
  for (int pass = 0; pass < 3; ++pass) {
    const int32_t m = pass == 0 ? kTile + 4 : 3;
    std::vector<int32_t> rows = Inner(r.Top, r.Bottom);
    const int32_t mid = (r.Left + r.Right) / 2;
    const int32_t left = BestLeft(v, rows, r.Left - m, std::min(r.Left + m, mid));
    const int32_t right = BestRight(v, rows, std::max(r.Right - m, mid + 1), r.Right + m);
    r.Left = left;
    r.Right = std::max(right, left + 1);
    std::vector<int32_t> cols = Inner(r.Left, r.Right);
    const int32_t midY = (r.Top + r.Bottom) / 2;
    const int32_t top = BestTop(v, cols, r.Top - m, std::min(r.Top + m, midY));
    const int32_t bottom = BestBottom(v, cols, std::max(r.Bottom - m, midY + 1), r.Bottom + m);
    r.Top = top;
    r.Bottom = std::max(bottom, top + 1);
  }
  return r;
}

// --- Telling a scramble from the picture ------------------------------------------------------

struct EdgeCheck {
  double Inside = 0;   // mean noise of the first line inside
  double Outside = 0;  // ... of the first line outside
  double Wins = 0;     // share of positions where the inside one is the noisier
  bool Border = false;
};

// The left edge when `dx` = -1 (inside column x, outside x - 1), the right edge when dx = +1
// (inside column x, outside x + 1).
EdgeCheck ColumnEdge(const View& v, const TRect& r, int32_t x, int32_t dx) {
  EdgeCheck e;
  e.Border = x + dx < 0 || x + dx >= v.W;
  int wins = 0, decided = 0;
  const std::vector<int32_t> rows = Sample(r.Top, r.Bottom, kSamples);
  for (int32_t y : rows) {
    const int a = Noise(v, x, y);
    const int b = e.Border ? 0 : Noise(v, x + dx, y);
    e.Inside += a;
    e.Outside += b;
    if (a != b) ++decided, wins += a > b;
  }
  e.Inside /= static_cast<double>(rows.size());
  e.Outside /= static_cast<double>(rows.size());
  e.Wins = decided ? static_cast<double>(wins) / decided : 0.0;
  return e;
}

EdgeCheck RowEdge(const View& v, const TRect& r, int32_t y, int32_t dy) {
  EdgeCheck e;
  e.Border = y + dy < 0 || y + dy >= v.H;
  int wins = 0, decided = 0;
  const std::vector<int32_t> cols = Sample(r.Left, r.Right, kSamples);
  for (int32_t x : cols) {
    const int a = Noise(v, x, y);
    const int b = e.Border ? 0 : Noise(v, x, y + dy);
    e.Inside += a;
    e.Outside += b;
    if (a != b) ++decided, wins += a > b;
  }
  e.Inside /= static_cast<double>(cols.size());
  e.Outside /= static_cast<double>(cols.size());
  e.Wins = decided ? static_cast<double>(wins) / decided : 0.0;
  return e;
}

bool EdgeHolds(const EdgeCheck& e) {
  if (e.Border) return true;
  return e.Inside >= 1.5 * e.Outside + 6.0 && e.Wins >= 0.7;
}

// Share of neighbouring pixel pairs inside whose three colour bytes all change the same way. In
// pictures the channels move together; XOR and bit-shift noise moves them independently (1/4).
double ChannelAgreement(const View& v, const TRect& r) {
  int agree = 0, counted = 0;
  for (int32_t y : Sample(r.Top, r.Bottom, 96)) {
    for (int32_t x : Sample(r.Left + 1, r.Right, 96)) {
      const uint8_t* p = v.Pixel(x, y);
      const int d0 = p[0] - p[-3], d1 = p[1] - p[-2], d2 = p[2] - p[-1];
      if (d0 == 0 || d1 == 0 || d2 == 0) continue;
      ++counted;
      agree += (d0 > 0) == (d1 > 0) && (d1 > 0) == (d2 > 0);
    }
  }
  return counted ? static_cast<double>(agree) / counted : 1.0;
}

// Mean noise of a region of random bytes is about 190; grain and texture of photos stay far below.
constexpr double kRandomNoise = 110.0;

// Smaller finds are specks of the picture, not a selection.
constexpr int32_t kMinSide = 8;

struct Verdict {
  bool Accepted = false;
  double Score = 0;
};

Verdict Judge(const View& v, const TRect& r) {
  Verdict verdict;
  if (r.Right - r.Left < kMinSide || r.Bottom - r.Top < kMinSide) return verdict;
  const EdgeCheck edges[] = {ColumnEdge(v, r, r.Left, -1), ColumnEdge(v, r, r.Right - 1, +1),
                             RowEdge(v, r, r.Top, -1), RowEdge(v, r, r.Bottom - 1, +1)};
  double score = std::numeric_limits<double>::infinity();
  int borders = 0;
  for (const EdgeCheck& e : edges) {
    if (!EdgeHolds(e)) return verdict;
    if (e.Border) {
      ++borders;
      continue;
    }
    score = std::min(score, (e.Inside - e.Outside) / (e.Outside + 8.0));
  }
  const double agreement = ChannelAgreement(v, r);
  const bool noiseLike = agreement < 0.45;
  if (!noiseLike) {
    // Shuffled whole pixels (the mosaic) keep the channels together; then only edges that stand
    // out on at least two sides, along nearly all their length, tell it from the picture.
    int strong = 0;
    for (const EdgeCheck& e : edges) {
      if (e.Border) continue;
      if (e.Inside < 2.5 * e.Outside + 10.0 || e.Wins < 0.85) return verdict;
      ++strong;
    }
    if (strong < 2) return verdict;
  }
  if (borders == 4) {
    // The whole picture: nothing outside to compare with, so only noise as strong as random
    // bytes counts (a grainy photo is not a scramble).
    if (edges[0].Inside + edges[1].Inside + edges[2].Inside + edges[3].Inside < 4 * kRandomNoise) {
      return verdict;
    }
    score = 1.0;
  }
  verdict.Accepted = true;
  verdict.Score = score;
  return verdict;
}

}  // namespace

std::optional<TRect> DetectScrambledRect(const Bitmap& source) {
  if (source.IsEmpty()) return std::nullopt;
  Bitmap converted;
  const Bitmap* bitmap = &source;
  if (source.Format() != PixelFormat::Bits24) {
    converted = source;
    converted.ConvertTo24();
    bitmap = &converted;
  }
  const View v(*bitmap);
  const TileMap map = NoiseTiles(v);

  std::vector<float> sorted = map.Mean;
  std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
  const float background = sorted[sorted.size() / 2];

  std::optional<TRect> best;
  double bestScore = 0;
  for (const float factor : {4.0f, 8.0f, 16.0f}) {
    // Tiles far noisier than most of the picture; a picture that is noisy all over (scrambled
    // whole) still has its tiles above the last bound.
    const float threshold = std::min(std::max(factor * background, 3.0f * factor), 80.0f);
    std::vector<Blob> blobs = Blobs(map, threshold);
    std::sort(blobs.begin(), blobs.end(),
              [](const Blob& a, const Blob& b) { return a.Weight > b.Weight; });
    if (blobs.size() > 6) blobs.resize(6);
    for (const Blob& blob : blobs) {
      TRect rough{blob.Left * kTile, blob.Top * kTile, std::min(blob.Right * kTile, v.W),
                  std::min(blob.Bottom * kTile, v.H)};
      const TRect r = Refine(v, rough);
      const Verdict verdict = Judge(v, r);
      if (verdict.Accepted && (!best || verdict.Score > bestScore)) {
        best = r;
        bestScore = verdict.Score;
      }
    }
  }
  return best;
}

}  // namespace kavun
