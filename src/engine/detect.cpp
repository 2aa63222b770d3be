#include "engine/detect.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/work_threads.h"

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
// count as 0. A pixel on the left or right border has one neighbour in its row; the pixels above
// and below stand in for the missing one, so that a clean border column next to a scramble does
// not take the scramble's noise.
int Noise(const View& v, int32_t x, int32_t y) {
  if (x < 0 || x >= v.W || y < 0 || y >= v.H) return 0;
  const uint8_t* p = v.Pixel(x, y);
  int best = std::numeric_limits<int>::max();
  if (x > 0) best = Diff3(p, p - 3);
  if (x + 1 < v.W) best = std::min(best, Diff3(p, p + 3));
  if ((x == 0 || x + 1 == v.W) && v.W > 1) {
    if (y > 0) best = std::min(best, Diff3(p, v.Pixel(x, y - 1)));
    if (y + 1 < v.H) best = std::min(best, Diff3(p, v.Pixel(x, y + 1)));
  }
  return best == std::numeric_limits<int>::max() ? 0 : best;
}

// How many pixels `r` covers.
int64_t PixelCount(const TRect& r) {
  return static_cast<int64_t>(r.Right - r.Left) * (r.Bottom - r.Top);
}

// Whether `outer` holds all of `inner`.
bool Holds(const TRect& outer, const TRect& inner) {
  return inner.Left >= outer.Left && inner.Top >= outer.Top && inner.Right <= outer.Right &&
         inner.Bottom <= outer.Bottom;
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
// A vertical run of pixels, each far more unlike its left neighbour than its two neighbours are
// unlike theirs: a scrambled rectangle's left or right edge where the picture is smooth on both
// sides, which the noise tiles cannot see.
struct Seam {
  int32_t X;    // the first column right of the break
  int32_t Top;  // rows, Bottom exclusive
  int32_t Bottom;
  int32_t Shift = 0;  // for a byte seam: the rotation undone across it
};

struct TileMap {
  int32_t Cols = 0;
  int32_t Rows = 0;
  std::vector<float> Mean;
  std::vector<Seam> Seams;
  std::vector<float> Greyed;  // the share of pixels marked by MarkGreyWhenUndone
  float At(int32_t c, int32_t r) const { return Mean[static_cast<std::size_t>(r) * Cols + c]; }
};

constexpr int kSeamMin = 24;         // the smallest break, summed over the colour bytes
constexpr int32_t kSeamGap = 3;      // rows without a break that a run survives
constexpr int32_t kSeamLength = 16;  // the shortest run kept
constexpr std::size_t kMaxSeams = 24;

struct SeamRun {
  int32_t Start = 0;
  int32_t Last = 0;
  int32_t Hits = 0;
};

// Pixels that are not grey but would be grey undone as the inside of a row rotated by whole bytes
// one way or the other. Grey rows rotated so turn into such pixels wherever two neighbours
// differ; elsewhere they are rare. Undone, pixel x is bytes 3x + 1.. (8 bits right), 3x + 2..
// (16 right), 3x - 1.. (8 left) or 3x - 2.. (16 left) of the row: it is grey where the three
// bytes from one of those are equal, and was not grey where the three from 3x are not.
// `marks[3x]` is set for every such pixel x in [x0, x1), neither at an end of the row; `runs`
// holds whether each byte starts three equal ones. Byte by byte, so that the loops run in vectors.
void MarkGreyWhenUndone(const uint8_t* row, int32_t x0, int32_t x1, uint8_t* runs, uint8_t* marks) {
  const std::size_t from = 3 * static_cast<std::size_t>(x0), to = 3 * static_cast<std::size_t>(x1);
  for (std::size_t i = from - 2; i < to; ++i) {
    runs[i] = static_cast<uint8_t>((row[i] == row[i + 1]) & (row[i + 1] == row[i + 2]));
  }
  for (std::size_t i = from; i < to; ++i) {
    marks[i] = static_cast<uint8_t>((runs[i - 2] | runs[i - 1] | runs[i + 1] | runs[i + 2]) &
                                    (runs[i] ^ 1));
  }
}

// Every kGreyStep-th row is marked.
constexpr int32_t kGreyStep = 4;

// A seam with the row at which it was closed (v.H for one that ran on to the bottom): seams are
// found column by column, and this keeps their order the same however the columns were shared.
struct ClosedSeam {
  Seam Found;
  int32_t Closed;
};

void CloseSeam(SeamRun& run, int32_t x, int32_t y, std::vector<ClosedSeam>& seams) {
  const int32_t length = run.Last - run.Start + 1;
  if (run.Hits > 0 && length >= kSeamLength && 4 * run.Hits >= 3 * length) {
    seams.push_back({Seam{x, run.Start, run.Last + 1}, y});
  }
  run = SeamRun{};
}

// The tile sums and seams of the columns [x0, x1), x0 a multiple of kTile: the tiles' sums are
// added into `sums`, their counts of pixels marked by MarkGreyWhenUndone into `greyed`, only in
// those columns of tiles.
void NoiseColumns(const View& v, int32_t x0, int32_t x1, int32_t cols, std::vector<uint32_t>& sums,
                  std::vector<uint32_t>& greyed, std::vector<ClosedSeam>& seams) {
  std::vector<uint16_t> d(static_cast<std::size_t>(v.W) + 1);
  std::vector<SeamRun> runs(static_cast<std::size_t>(v.W));
  constexpr uint16_t kNone = 0xFFFF;
  d[0] = kNone;
  d[static_cast<std::size_t>(v.W)] = kNone;
  // Each pixel's difference to its left neighbour, from the one left of the columns to the one
  // right of them; the seams' columns, which have both neighbours' differences.
  const int32_t d0 = std::max(1, x0 - 1), d1 = std::min(v.W, x1 + 1);
  const int32_t s0 = std::max(2, x0), s1 = std::min(x1, v.W - 1);
  const int32_t g0 = std::max(1, x0);
  std::vector<uint8_t> runs3(3 * static_cast<std::size_t>(v.W)), marks(runs3.size());
  for (int32_t y = 0; y < v.H; ++y) {
    const uint8_t* row = v.Row(y);
    uint32_t* greyedRow = &greyed[static_cast<std::size_t>(y / kTile) * cols];
    if (g0 < s1 && y % kGreyStep == 0) {
      MarkGreyWhenUndone(row, g0, s1, runs3.data(), marks.data());
      // Summed tile by tile: adding into the tile's count pixel by pixel waits on each store.
      for (int32_t x = g0; x < s1;) {
        const int32_t end = std::min(s1, (x / kTile + 1) * kTile);
        uint32_t count = 0;
        for (; x < end; ++x) count += marks[3 * static_cast<std::size_t>(x)];
        greyedRow[(end - 1) / kTile] += count;
      }
    }
    for (int32_t x = d0; x < d1; ++x) {
      const uint8_t* p = row + 3 * static_cast<std::size_t>(x);
      d[static_cast<std::size_t>(x)] = static_cast<uint16_t>(Diff3(p, p - 3));
    }
    uint32_t* tileRow = &sums[static_cast<std::size_t>(y / kTile) * cols];
    // Only the ends are kNone, and both ends meet only in a picture one pixel wide: no pixel
    // there has a neighbour in its row, and its noise is 0.
    for (int32_t c = x0 / kTile; c * kTile < x1 && v.W > 1; ++c) {
      const uint16_t* t = &d[static_cast<std::size_t>(c) * kTile];
      uint32_t sum = 0;
      if (c * kTile + kTile <= x1) {
        for (int32_t i = 0; i < kTile; ++i) sum += std::min(t[i], t[i + 1]);
      } else {
        for (int32_t i = 0; i < x1 - c * kTile; ++i) sum += std::min(t[i], t[i + 1]);
      }
      tileRow[c] += sum;
    }
    for (int32_t x = s0; x < s1; ++x) {
      const std::size_t i = static_cast<std::size_t>(x);
      const int here = d[i];
      const bool hit = here >= kSeamMin && here >= 3 * std::max(d[i - 1], d[i + 1]) + kSeamMin / 2;
      SeamRun& run = runs[i];
      if (hit) {
        if (run.Hits == 0 || y - run.Last > kSeamGap) run = SeamRun{y, y, 0};
        run.Last = y;
        ++run.Hits;
      } else if (run.Hits > 0 && y - run.Last > kSeamGap) {
        CloseSeam(run, x, y, seams);
      }
    }
  }
  for (int32_t x = s0; x < s1; ++x) CloseSeam(runs[static_cast<std::size_t>(x)], x, v.H, seams);
}

// The noise tiles, their columns shared among at most `threads` threads.
TileMap NoiseTiles(const View& v, unsigned threads) {
  TileMap map;
  map.Cols = (v.W + kTile - 1) / kTile;
  map.Rows = (v.H + kTile - 1) / kTile;
  std::vector<uint32_t> sums(static_cast<std::size_t>(map.Cols) * map.Rows, 0);
  std::vector<uint32_t> greyed(sums.size(), 0);
  const unsigned parts = std::clamp<unsigned>(static_cast<unsigned>(map.Cols), 1, threads);
  std::vector<std::vector<ClosedSeam>> partSeams(parts);
  RunParts(parts, [&](unsigned i) {
    const auto edge = [&](unsigned k) {
      return std::min(v.W,
                      static_cast<int32_t>(static_cast<int64_t>(map.Cols) * k / parts) * kTile);
    };
    NoiseColumns(v, edge(i), edge(i + 1), map.Cols, sums, greyed, partSeams[i]);
  });
  // In the order one pass over the rows, left to right, closes them.
  std::vector<ClosedSeam> closed;
  for (const std::vector<ClosedSeam>& part : partSeams)
    closed.insert(closed.end(), part.begin(), part.end());
  std::sort(closed.begin(), closed.end(), [](const ClosedSeam& a, const ClosedSeam& b) {
    return std::tie(a.Closed, a.Found.X) < std::tie(b.Closed, b.Found.X);
  });
  for (const ClosedSeam& c : closed) map.Seams.push_back(c.Found);
  // The longest ones only: a picture of many sharp vertical lines must not cost much.
  std::sort(map.Seams.begin(), map.Seams.end(),
            [](const Seam& a, const Seam& b) { return a.Bottom - a.Top > b.Bottom - b.Top; });
  if (map.Seams.size() > kMaxSeams) map.Seams.resize(kMaxSeams);
  map.Mean.resize(sums.size());
  map.Greyed.resize(sums.size());
  for (int32_t r = 0; r < map.Rows; ++r) {
    const int32_t h = std::min(kTile, v.H - r * kTile);
    for (int32_t c = 0; c < map.Cols; ++c) {
      const int32_t w = std::min(kTile, v.W - c * kTile);
      const std::size_t i = static_cast<std::size_t>(r) * map.Cols + c;
      map.Mean[i] = static_cast<float>(sums[i]) / static_cast<float>(w * h);
      map.Greyed[i] =
          static_cast<float>(greyed[i]) / static_cast<float>(w * ((h + kGreyStep - 1) / kGreyStep));
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

// Groups of touching tiles above `threshold`. A group also takes in the touching tiles above
// `reach` (no higher than `threshold`) into its bounds, without weight.
std::vector<Blob> Blobs(const TileMap& map, float threshold, float reach) {
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
        const float value = map.Mean[static_cast<std::size_t>(i)];
        if (value > threshold) blob.Weight += value - threshold, ++blob.Count;
        for (int32_t dr = -1; dr <= 1; ++dr) {
          for (int32_t dc = -1; dc <= 1; ++dc) {
            const int32_t nc = tc + dc;
            const int32_t nr = tr + dr;
            if (nc < 0 || nr < 0 || nc >= map.Cols || nr >= map.Rows) continue;
            const std::size_t j = static_cast<std::size_t>(nr) * map.Cols + nc;
            if (seen[j] || map.Mean[j] <= reach) continue;
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

std::vector<Blob> Blobs(const TileMap& map, float threshold) {
  return Blobs(map, threshold, threshold);
}

// --- Placing the edges to the pixel -------------------------------------------------------------

// How sharply the noise steps from `outside` to `inside`, from -1 to 1: relative, so that a
// scramble whose noise varies inside (a new key every few rows) still has its sharpest step at
// its edge, where the noise falls to the picture's.
double Step(double inside, double outside) {
  return (inside - outside) / (inside + outside + 8.0);
}

// The border of the picture as an edge: the inside must be noisy, and a true edge inside the
// picture beats it.
double BorderStep(double inside) {
  return 0.5 * Step(inside, 0.0);
}

// Mean noise of column x over `rows` (or of row y over `cols`).
double ColumnNoise(const View& v, const std::vector<int32_t>& rows, int32_t x) {
  double s = 0;
  for (int32_t y : rows) s += Noise(v, x, y);
  return rows.empty() ? 0.0 : s / static_cast<double>(rows.size());
}

double RowNoise(const View& v, const std::vector<int32_t>& cols, int32_t y) {
  double s = 0;
  for (int32_t x : cols) s += Noise(v, x, y);
  return cols.empty() ? 0.0 : s / static_cast<double>(cols.size());
}

// The left edge in [from, to]: the column where the noise steps up from the column before it.
int32_t BestLeft(const View& v, const std::vector<int32_t>& rows, int32_t from, int32_t to) {
  from = std::max(from, 0);
  to = std::min(to, v.W - 1);
  int32_t best = from;
  double bestScore = -std::numeric_limits<double>::infinity();
  for (int32_t x = from; x <= to; ++x) {
    const double in = ColumnNoise(v, rows, x);
    const double s = x == 0 ? BorderStep(in) : Step(in, ColumnNoise(v, rows, x - 1));
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
    const double in = ColumnNoise(v, rows, x - 1);
    const double s = x == v.W ? BorderStep(in) : Step(in, ColumnNoise(v, rows, x));
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
    const double in = RowNoise(v, cols, y);
    const double s = y == 0 ? BorderStep(in) : Step(in, RowNoise(v, cols, y - 1));
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
    const double in = RowNoise(v, cols, y - 1);
    const double s = y == v.H ? BorderStep(in) : Step(in, RowNoise(v, cols, y));
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

// How unlike the pixels above and below it column x is over the rows of r: the mean of the
// smaller difference, a neighbour outside r not counted.
double VerticalNoise(const View& v, const TRect& r, int32_t x) {
  if (r.Bottom - r.Top < 2) return 0;
  double s = 0;
  const std::vector<int32_t> rows = Sample(r.Top, r.Bottom, kSamples);
  for (const int32_t y : rows) {
    const uint8_t* p = v.Pixel(x, y);
    int best = std::numeric_limits<int>::max();
    if (y > r.Top) best = Diff3(p, v.Pixel(x, y - 1));
    if (y + 1 < r.Bottom) best = std::min(best, Diff3(p, v.Pixel(x, y + 1)));
    s += best;
  }
  return s / static_cast<double>(rows.size());
}

constexpr int kStillReach = 8;         // columns taken off at most, each side
constexpr double kStillRandom = 96.0;  // the middle column: at least this unlike
constexpr double kStillFactor = 3.0;   // the edge column: this many times as like

TRect Refine(const View& v, TRect r) {
  for (int pass = 0; pass < 3; ++pass) {
    const int32_t m = pass == 0 ? 2 * kTile + 4 : 3;
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
  // Lines of the picture along a left or right edge (thin lines beside XOR noise) are unlike the
  // pixels beside them, as noise is, but like those above and below them, which random bytes
  // never are. Taken off only where the middle column is as unlike its own as random bytes.
  const double middle = VerticalNoise(v, r, (r.Left + r.Right) / 2);
  if (middle >= kStillRandom) {
    for (int i = 0; i < kStillReach && r.Right - r.Left > 2; ++i) {
      if (kStillFactor * VerticalNoise(v, r, r.Left) > middle) break;
      ++r.Left;
    }
    for (int i = 0; i < kStillReach && r.Right - r.Left > 2; ++i) {
      if (kStillFactor * VerticalNoise(v, r, r.Right - 1) > middle) break;
      --r.Right;
    }
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

// Undoing a bit shift must bring the first pixels inside an edge this much closer (summed over the
// colour bytes, per row or column) to the pixels outside.
constexpr double kMinShiftEdgeGain = 12.0;
// ... and for a rotation by whole bytes found by its noise.
constexpr double kMinByteShiftEdgeGain = 24.0;

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
  // An edge on the picture's border is not compared with anything outside, so its line must be
  // about as noisy as the edges that are: a scramble next to noisy texture that reaches the
  // border is not to take the texture in.
  double noisiest = 0;
  for (const EdgeCheck& e : edges) {
    if (!e.Border) noisiest = std::max(noisiest, e.Inside);
  }
  for (const EdgeCheck& e : edges) {
    if (e.Border && e.Inside < 0.5 * noisiest) return verdict;
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

// --- The bit shift: undone on trial --------------------------------------------------------------
//
// A bit shift leaves every row of its rectangle a rotation of the original, so once the shift
// width is known the original pixels can be computed from the scrambled ones: inside the
// rectangle the result is as smooth as a picture, and at each edge it joins the pixels outside.

int ColorDiff(uint32_t a, uint32_t b) {
  return std::abs(static_cast<int>(a & 0xFF) - static_cast<int>(b & 0xFF)) +
         std::abs(static_cast<int>((a >> 8) & 0xFF) - static_cast<int>((b >> 8) & 0xFF)) +
         std::abs(static_cast<int>(a >> 16) - static_cast<int>(b >> 16));
}

uint32_t ColorAt(const View& v, int32_t x, int32_t y) {
  return PackColor(v.Pixel(x, y));
}

// Pixel x of the row segment [left, right) of row y as it was before a rotation by `shift` bits
// (positive: right).
uint32_t Unrotated(const View& v, int32_t left, int32_t right, int32_t shift, int32_t x,
                   int32_t y) {
  const int k = std::abs(shift);
  const uint32_t here = ColorAt(v, x, y);
  if (shift > 0) {
    const uint32_t next = ColorAt(v, x + 1 < right ? x + 1 : left, y);
    return ((here << k) & 0xFFFFFFu) | (next >> (24 - k));
  }
  const uint32_t previous = ColorAt(v, x > left ? x - 1 : right - 1, y);
  return ((previous & ((1u << k) - 1u)) << (24 - k)) | (here >> k);
}

// Mean difference of every sampled pixel inside `r` to its left and upper neighbour, after
// undoing `shift` (0: as it is). The wrapping columns are left out.
double RoughnessUnrotated(const View& v, const TRect& r, int32_t shift) {
  const int32_t inset = r.Right - r.Left > 24 ? 8 : 1;
  const int32_t insetY = r.Bottom - r.Top > 24 ? 8 : 1;
  const std::vector<int32_t> rows = Sample(r.Top + insetY, r.Bottom - insetY + 1, 40);
  const std::vector<int32_t> cols = Sample(r.Left + inset, r.Right - inset, 96);
  if (rows.empty() || cols.empty()) return 0.0;
  double sum = 0;
  for (int32_t y : rows) {
    for (int32_t x : cols) {
      if (shift == 0) {
        sum += ColorDiff(ColorAt(v, x, y), ColorAt(v, x - 1, y)) +
               ColorDiff(ColorAt(v, x, y), ColorAt(v, x, y - 1));
      } else {
        const uint32_t a = Unrotated(v, r.Left, r.Right, shift, x, y);
        sum += ColorDiff(a, Unrotated(v, r.Left, r.Right, shift, x - 1, y)) +
               ColorDiff(a, Unrotated(v, r.Left, r.Right, shift, x, y - 1));
      }
    }
  }
  return sum / static_cast<double>(rows.size() * cols.size());
}

// The shift widths whose undoing makes the inside of `r` smoothest, best first, with the ratio
// of that smoothness to the scrambled one's (small: surely a bit shift). A rotation by k and
// one by k - 24 in the other direction differ only by a whole pixel, so both look alike here;
// the edges decide between them.
struct ShiftGuess {
  int32_t Shift = 0;
  double Ratio = 1.0;
};

std::vector<ShiftGuess> GuessShifts(const View& v, const TRect& r, std::size_t count) {
  std::vector<ShiftGuess> guesses;
  const double scrambled = RoughnessUnrotated(v, r, 0);
  if (scrambled <= 0) return guesses;
  for (int32_t k = 1; k <= 23; ++k) {
    for (const int32_t shift : {k, -k}) {
      guesses.push_back({shift, RoughnessUnrotated(v, r, shift) / scrambled});
    }
  }
  std::sort(guesses.begin(), guesses.end(),
            [](const ShiftGuess& a, const ShiftGuess& b) { return a.Ratio < b.Ratio; });
  if (guesses.size() > count) guesses.resize(count);
  return guesses;
}

// What each edge gains when the shift is undone: how much closer the first pixels inside come
// to the pixels outside. Summed over sampled rows (columns); the border of the picture scores a
// fixed small amount per sample, which a true edge inside the picture beats.
constexpr double kBorderGain = 6.0;
// A rotation by whole bytes gains little at its edges on a muted picture, a few per sample: there
// the border must not outbid them.
constexpr double kByteBorderGain = 0.1;

// A sample of an edge tells something only where the pixels differ at all before or after
// undoing: where the scramble left them as they were (white, black), it tells nothing.
constexpr int kInformative = 6;

// The gain of one sample, at most this much either way (kNoCap: as it is). Whole-byte rotations
// are placed by many small gains, which a few sharp edges of the picture must not outweigh.
constexpr int kNoCap = 3 * 255;
constexpr int kByteGainCap = 32;
// ... and where their edges are placed, nearly only whether a sample gains or loses counts.
constexpr int kBytePlaceCap = 4;
// What every row pays on a whole-byte seam, so that a run of rows ends where the gain falls to
// the picture's noise.
constexpr int kByteGainToll = 2;
constexpr int kBytePlaceToll = 1;

double LeftGain(const View& v, const TRect& r, int32_t shift, const std::vector<int32_t>& rows,
                int* informative = nullptr, int cap = kNoCap) {
  if (r.Left == 0) return kBorderGain * static_cast<double>(rows.size());
  double s = 0;
  for (int32_t y : rows) {
    const uint32_t out = ColorAt(v, r.Left - 1, y);
    const int before = ColorDiff(ColorAt(v, r.Left, y), out);
    const int after = ColorDiff(Unrotated(v, r.Left, r.Right, shift, r.Left, y), out);
    s += std::clamp(before - after, -cap, cap);
    if (informative != nullptr && std::max(before, after) >= kInformative) ++*informative;
  }
  return s;
}

double RightGain(const View& v, const TRect& r, int32_t shift, const std::vector<int32_t>& rows,
                 int* informative = nullptr, int cap = kNoCap) {
  if (r.Right == v.W) return kBorderGain * static_cast<double>(rows.size());
  double s = 0;
  for (int32_t y : rows) {
    const uint32_t out = ColorAt(v, r.Right, y);
    const int before = ColorDiff(ColorAt(v, r.Right - 1, y), out);
    const int after = ColorDiff(Unrotated(v, r.Left, r.Right, shift, r.Right - 1, y), out);
    s += std::clamp(before - after, -cap, cap);
    if (informative != nullptr && std::max(before, after) >= kInformative) ++*informative;
  }
  return s;
}

double TopGain(const View& v, const TRect& r, int32_t shift, const std::vector<int32_t>& cols,
               int* informative = nullptr, int cap = kNoCap) {
  if (r.Top == 0) return kBorderGain * static_cast<double>(cols.size());
  double s = 0;
  for (int32_t x : cols) {
    const uint32_t out = ColorAt(v, x, r.Top - 1);
    const int before = ColorDiff(ColorAt(v, x, r.Top), out);
    const int after = ColorDiff(Unrotated(v, r.Left, r.Right, shift, x, r.Top), out);
    s += std::clamp(before - after, -cap, cap);
    if (informative != nullptr && std::max(before, after) >= kInformative) ++*informative;
  }
  return s;
}

double BottomGain(const View& v, const TRect& r, int32_t shift, const std::vector<int32_t>& cols,
                  int* informative = nullptr, int cap = kNoCap) {
  if (r.Bottom == v.H) return kBorderGain * static_cast<double>(cols.size());
  double s = 0;
  for (int32_t x : cols) {
    const uint32_t out = ColorAt(v, x, r.Bottom);
    const int before = ColorDiff(ColorAt(v, x, r.Bottom - 1), out);
    const int after = ColorDiff(Unrotated(v, r.Left, r.Right, shift, x, r.Bottom - 1), out);
    s += std::clamp(before - after, -cap, cap);
    if (informative != nullptr && std::max(before, after) >= kInformative) ++*informative;
  }
  return s;
}

// How far an edge is looked for beyond the rough rectangle: the noisy tiles may cover only part
// of a shifted rectangle whose picture is smooth in places.
constexpr int32_t kShiftReach = 512;

// The sum of the squared differences of the colour bytes: unlike their plain sum it grows when
// one pixel of an even run is swapped for a neighbour's colour.
int SquaredDiff(uint32_t a, uint32_t b) {
  int sum = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    const int d = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
    sum += d * d;
  }
  return sum;
}

// The far edge of a whole-byte rotation (the right one of a right rotation, the left one of a
// left one) undoes its last pixel with the bytes that wrapped around from the row's other end,
// and only at the true edge do they belong there. Rotations by whole bytes swap colour channels
// and keep the picture smooth on both sides of a wrong edge too, so an edge is judged by how
// smooth each sampled row is as a whole, from `from` - 2 to `to` + 1, once undone up to it:
// a wrong edge leaves a wrongly undone pixel or a channel-swapped stretch against the picture.
// Returns the edge in [from, to] (exclusive for the right edge) that makes the rows smoothest;
// the near edge of `r` stays as it is. At the picture's border the missing pair counts as the
// one inside it.
int32_t WrapEdge(const View& v, const TRect& r, int32_t shift, const std::vector<int32_t>& rows,
                 int32_t from, int32_t to) {
  const bool right = shift > 0;
  if (to < from) return right ? r.Right : r.Left;
  const std::size_t n = static_cast<std::size_t>(to - from) + 1;
  std::vector<double> cost(n, 0.0);
  // Between pixel x = from - 2 + i and the next: the difference as they are, and once both are
  // undone away from the far edge (where they do not depend on it).
  std::vector<int> scrambled(n + 3, 0), undone(n + 3, 0);
  const int32_t near = right ? r.Left : r.Right - 1;
  const int32_t nearOut = right ? near - 1 : near + 1;
  for (int32_t y : rows) {
    // Only rows that the rotation reached, as far as the near edge tells: a row that undoing
    // does not join there is the picture's, and would pull the far edge towards the near one.
    if (nearOut >= 0 && nearOut < v.W) {
      const uint32_t out = ColorAt(v, nearOut, y);
      if (ColorDiff(Unrotated(v, r.Left, r.Right, shift, near, y), out) >=
          ColorDiff(ColorAt(v, near, y), out)) {
        continue;
      }
    }
    for (std::size_t i = 0; i < n + 3; ++i) {
      const int32_t x = from - 2 + static_cast<int32_t>(i);
      scrambled[i] = undone[i] = 0;
      if (x < 0 || x + 1 >= v.W) continue;
      scrambled[i] = SquaredDiff(ColorAt(v, x, y), ColorAt(v, x + 1, y));
      if (right ? x >= r.Left && x + 2 < v.W : x >= 1 && x + 1 < r.Right) {
        const int32_t left = right ? r.Left : x - 1;
        const int32_t end = right ? x + 3 : r.Right;
        undone[i] = SquaredDiff(Unrotated(v, left, end, shift, x, y),
                                Unrotated(v, left, end, shift, x + 1, y));
      }
    }
    double before = 0, after = 0;
    if (right) {
      // Edge e: pixels up to e - 2 undone, e - 1 undone with the wrapped bytes, e on as they are.
      for (std::size_t i = 2; i <= n; ++i) after += scrambled[i];
      for (std::size_t j = 0; j < n; ++j) {
        const int32_t e = from + static_cast<int32_t>(j);
        const uint32_t last = Unrotated(v, r.Left, e, shift, e - 1, y);
        const int inner = SquaredDiff(Unrotated(v, r.Left, e, shift, e - 2, y), last);
        const int outer = e < v.W ? SquaredDiff(last, ColorAt(v, e, y)) : inner;
        cost[j] += before + inner + outer + after;
        before += undone[j];
        after -= scrambled[j + 2];
      }
    } else {
      // Edge e: pixels up to e - 1 as they are, e undone with the wrapped bytes, e + 1 on undone.
      for (std::size_t i = 3; i < n + 3; ++i) after += undone[i];
      for (std::size_t j = 0; j < n; ++j) {
        const int32_t e = from + static_cast<int32_t>(j);
        const uint32_t first = Unrotated(v, e, r.Right, shift, e, y);
        const int inner = SquaredDiff(first, Unrotated(v, e, r.Right, shift, e + 1, y));
        const int outer = e > 0 ? SquaredDiff(ColorAt(v, e - 1, y), first) : inner;
        cost[j] += before + outer + inner + after;
        before += scrambled[j + 1];
        after -= undone[j + 3];
      }
    }
  }
  return from + static_cast<int32_t>(std::min_element(cost.begin(), cost.end()) - cost.begin());
}

// The edge undone from its own row (the left one of a right rotation, the right one of a left
// one) is placed where undoing gains most; but the rotation filled its first pixel with bits from
// the row's far end, unlike the picture on both sides, so one pixel further in gains as much or
// more. Of the edge and its two neighbours, the one that leaves the restored picture smoothest
// across it (three pairs either side, on `rows`) is returned.
int32_t SettleNearEdge(const View& v, const TRect& r, int32_t shift,
                       const std::vector<int32_t>& rows) {
  const bool right = shift > 0;
  const int32_t at = right ? r.Left : r.Right;
  // Rectangles too narrow to keep the far end out of the pairs stay as they are.
  if (r.Right - r.Left < 12) return at;
  const int32_t lo = right ? std::max(0, at - 1) : std::max(r.Left + 8, at - 1);
  const int32_t hi = right ? std::min(r.Right - 8, at + 1) : std::min(v.W, at + 1);
  const int32_t from = std::max(0, at - 4), to = std::min(v.W - 1, at + 3);
  int32_t best = at;
  double bestCost = std::numeric_limits<double>::infinity();
  for (int32_t c = lo; c <= hi; ++c) {
    const int32_t left = right ? c : r.Left, end = right ? r.Right : c;
    double cost = 0;
    for (int32_t y : rows) {
      const auto restored = [&](int32_t x) {
        return x >= left && x < end ? Unrotated(v, left, end, shift, x, y) : ColorAt(v, x, y);
      };
      uint32_t previous = restored(from);
      for (int32_t x = from + 1; x <= to; ++x) {
        const uint32_t here = restored(x);
        cost += ColorDiff(previous, here);
        previous = here;
      }
    }
    if (cost < bestCost) bestCost = cost, best = c;
  }
  return best;
}

// Places the edges of a bit-shifted rectangle to the pixel, `r` being roughly inside it.
// `seam`: -1 when the left edge is a whole-byte seam already placed from all its rows, +1 the
// right edge; the wide first search leaves that edge where it is.
TRect RefineShift(const View& v, TRect r, int32_t shift, int seam = 0) {
  const bool bytes = std::abs(shift) % 8 == 0;
  const double border = bytes ? kByteBorderGain : kBorderGain;
  const int cap = bytes ? kBytePlaceCap : kNoCap;
  for (int pass = 0; pass < 3; ++pass) {
    const int32_t reach = pass == 0 ? kShiftReach : pass == 1 ? 2 * kTile : 4;
    // The wide first search on few rows and columns, the fine ones on many.
    const int32_t samples = pass == 0 ? 48 : kSamples;
    std::vector<int32_t> rows = Sample(r.Top, r.Bottom, samples);
    // Once a whole-byte seam holds the near edge, the far one is placed by its wrapped bytes.
    const bool wrapLeft = bytes && seam > 0 && shift < 0;
    const bool wrapRight = bytes && seam < 0 && shift > 0;
    const auto searchLeft = [&] {
      const int32_t from = std::max(0, r.Left - reach);
      const int32_t to = std::min(r.Left + 2 * kTile, r.Right - (wrapLeft ? 4 : 2));
      int32_t bestX = r.Left;
      double best = -std::numeric_limits<double>::infinity();
      if (wrapLeft) {
        r.Left = WrapEdge(v, r, shift, rows, from, to);
        return;
      }
      for (int32_t x = from; x <= to; ++x) {
        const double g =
            x == 0 ? border * static_cast<double>(rows.size())
                   : LeftGain(v, TRect{x, r.Top, r.Right, r.Bottom}, shift, rows, nullptr, cap);
        if (g > best) best = g, bestX = x;
      }
      r.Left = bestX;
      if (!bytes && shift > 0) r.Left = SettleNearEdge(v, r, shift, rows);
    };
    const auto searchRight = [&] {
      const int32_t from = std::max(r.Left + (wrapRight ? 3 : 2), r.Right - 2 * kTile);
      const int32_t to = std::min(v.W, r.Right + reach);
      int32_t bestX = r.Right;
      double best = -std::numeric_limits<double>::infinity();
      if (wrapRight) {
        r.Right = WrapEdge(v, r, shift, rows, from, to);
        return;
      }
      for (int32_t x = to; x >= from; --x) {
        const double g =
            x == v.W ? border * static_cast<double>(rows.size())
                     : RightGain(v, TRect{r.Left, r.Top, x, r.Bottom}, shift, rows, nullptr, cap);
        if (g > best) best = g, bestX = x;
      }
      r.Right = bestX;
      if (!bytes && shift < 0) r.Right = SettleNearEdge(v, r, shift, rows);
    };
    const auto placeRows = [&] {
      const std::vector<int32_t> cols = Sample(r.Left + 1, r.Right - 1, samples);
      // The top and bottom rows may join too weakly to place them (grey rows of a whole-byte
      // rotation, a narrow rectangle); the edge that is undone exactly row by row (the left one of
      // a right rotation, the right one of a left one) tells too which rows are scrambled: its
      // gain, less a toll for whole bytes, summed from row 0 up to each row (weighed as one column
      // of the edge is, when columns are sampled). For whole bytes only once that edge is a seam.
      std::vector<double> rowsGain;
      if (!bytes || seam != 0) {
        rowsGain.assign(static_cast<std::size_t>(v.H) + 1, 0.0);
        const int32_t x = shift > 0 ? r.Left : r.Right - 1;
        const int32_t out = shift > 0 ? x - 1 : x + 1;
        const double scale =
            static_cast<double>(cols.size()) / std::max<int32_t>(1, r.Right - r.Left - 2);
        for (int32_t y = 0; y < v.H; ++y) {
          double g = 0;
          if (out >= 0 && out < v.W) {
            const uint32_t o = ColorAt(v, out, y);
            g = std::clamp(ColorDiff(ColorAt(v, x, y), o) -
                               ColorDiff(Unrotated(v, r.Left, r.Right, shift, x, y), o),
                           -cap, cap) -
                (bytes ? kBytePlaceToll : 0);
          }
          rowsGain[static_cast<std::size_t>(y) + 1] =
              rowsGain[static_cast<std::size_t>(y)] + scale * g;
        }
      }
      const auto rowsBefore = [&](int32_t y) {
        return rowsGain.empty() ? 0.0 : rowsGain[static_cast<std::size_t>(y)];
      };
      // A seam's run of rows may reach well past the rotation's top or bottom, where rows of
      // texture happened to join, further than the later passes move an edge: with the rows
      // told, the first pass looks for the top and the bottom all the way in.
      const bool allIn = pass == 0 && !rowsGain.empty();
      {
        const int32_t from = std::max(0, r.Top - reach);
        const int32_t to = allIn ? r.Bottom - 1 : std::min(r.Top + 2 * kTile, r.Bottom - 1);
        int32_t bestY = r.Top;
        double best = -std::numeric_limits<double>::infinity();
        for (int32_t y = from; y <= to; ++y) {
          const double g =
              y == 0 ? border * static_cast<double>(cols.size())
                     : TopGain(v, TRect{r.Left, y, r.Right, r.Bottom}, shift, cols, nullptr, cap);
          if (g - rowsBefore(y) > best) best = g - rowsBefore(y), bestY = y;
        }
        r.Top = bestY;
      }
      {
        const int32_t from = allIn ? r.Top + 1 : std::max(r.Top + 1, r.Bottom - 2 * kTile);
        const int32_t to = std::min(v.H, r.Bottom + reach);
        int32_t bestY = r.Bottom;
        double best = -std::numeric_limits<double>::infinity();
        for (int32_t y = to; y >= from; --y) {
          const double g =
              y == v.H ? border * static_cast<double>(cols.size())
                       : BottomGain(v, TRect{r.Left, r.Top, r.Right, y}, shift, cols, nullptr, cap);
          if (g + rowsBefore(y) > best) best = g + rowsBefore(y), bestY = y;
        }
        r.Bottom = bestY;
      }
    };
    // The edge whose first pixel is undone without the far end's pixel first: the left one of a
    // right rotation, the right one of a left rotation.
    const bool keepLeft = pass == 0 && bytes && seam < 0;
    const bool keepRight = pass == 0 && bytes && seam > 0;
    // The far edge of a whole-byte rotation is judged on the rows it scrambled: placed first.
    if (pass == 0 && (wrapLeft || wrapRight)) {
      placeRows();
      rows = Sample(r.Top, r.Bottom, samples);
    }
    if (shift > 0) {
      if (!keepLeft) searchLeft();
      if (!keepRight) searchRight();
    } else {
      if (!keepRight) searchRight();
      if (!keepLeft) searchLeft();
    }
    placeRows();
  }
  return r;
}

// Pixel (x, y) of the picture with `shift` undone inside `r`.
uint32_t Restored(const View& v, const TRect& r, int32_t shift, int32_t x, int32_t y) {
  if (x >= r.Left && x < r.Right && y >= r.Top && y < r.Bottom) {
    return Unrotated(v, r.Left, r.Right, shift, x, y);
  }
  return ColorAt(v, x, y);
}

// How far an edge placed by its gain alone is moved on trial, either way.
constexpr int32_t kPolishReach = 2;

// Moves each edge of `r` by up to kPolishReach where that makes the restored picture smoothest
// across the edge. The gain of an edge compares only the pixel pair on it; a picture with an edge
// of its own next to the scramble's may gain as much one column off, but there the restored
// picture keeps a scrambled line on one side or a wrongly undone one on the other, which
// the neighbouring pairs show.
TRect PolishShift(const View& v, TRect r, int32_t shift) {
  // A rotation by whole bytes moves a colour byte to the neighbouring pixel; along an even run of
  // the picture that keeps the plain sum of differences as it was, but not their squares.
  const bool bytes = std::abs(shift) % 8 == 0;
  const int32_t window = kPolishReach + 2;
  const auto best = [&](int32_t at, int32_t lo, int32_t hi, const auto& cost) {
    int32_t bestAt = at;
    double bestCost = std::numeric_limits<double>::infinity();
    for (int32_t c = std::max(lo, at - kPolishReach); c <= std::min(hi, at + kPolishReach); ++c) {
      const double here = cost(c);
      if (here < bestCost) bestCost = here, bestAt = c;
    }
    return bestAt;
  };
  for (int round = 0; round < 2; ++round) {
    // How unlike its next pixel each restored pixel of [from, to) is along the sampled lines:
    // rows (`down` false) or columns.
    const auto rough = [&](const TRect& t, const std::vector<int32_t>& lines, bool down,
                           int32_t from, int32_t to) {
      from = std::max(from, 0);
      to = std::min(to, (down ? v.H : v.W) - 1);
      double sum = 0;
      for (int32_t line : lines) {
        for (int32_t i = from; i < to; ++i) {
          const uint32_t a = down ? Restored(v, t, shift, line, i) : Restored(v, t, shift, i, line);
          const uint32_t b =
              down ? Restored(v, t, shift, line, i + 1) : Restored(v, t, shift, i + 1, line);
          sum += bytes ? SquaredDiff(a, b) : ColorDiff(a, b);
        }
      }
      return sum;
    };
    const std::vector<int32_t> rows = Sample(r.Top, r.Bottom, kSamples);
    const int32_t left = r.Left, right = r.Right;
    r.Left = best(left, 0, r.Right - kMinSide, [&](int32_t c) {
      return rough(TRect{c, r.Top, r.Right, r.Bottom}, rows, false, left - window, left + window);
    });
    r.Right = best(right, r.Left + kMinSide, v.W, [&](int32_t c) {
      return rough(TRect{r.Left, r.Top, c, r.Bottom}, rows, false, right - window, right + window);
    });
    const std::vector<int32_t> cols = Sample(r.Left, r.Right, kSamples);
    const int32_t top = r.Top, bottom = r.Bottom;
    r.Top = best(top, 0, r.Bottom - kMinSide, [&](int32_t c) {
      return rough(TRect{r.Left, c, r.Right, r.Bottom}, cols, true, top - window, top + window);
    });
    r.Bottom = best(bottom, r.Top + kMinSide, v.H, [&](int32_t c) {
      return rough(TRect{r.Left, r.Top, r.Right, c}, cols, true, bottom - window, bottom + window);
    });
  }
  return r;
}

// Whether undoing `shift` on `r` joins every edge inside the picture to its outside: the mean
// gain per sample, the smallest over the edges (0 when an edge does not join).
double ShiftEdgeScore(const View& v, const TRect& r, int32_t shift) {
  const std::vector<int32_t> rows = Sample(r.Top, r.Bottom, kSamples);
  const std::vector<int32_t> cols = Sample(r.Left + 1, r.Right - 1, kSamples);
  if (rows.empty() || cols.empty()) return 0.0;
  double score = std::numeric_limits<double>::infinity();
  int inside = 0;
  // The mean gain over the samples that tell something; a few must (an edge that runs through
  // white or black only is placed by the others).
  const auto take = [&](bool border, double gain, int informative, std::size_t samples) {
    if (border) return;
    ++inside;
    if (informative < std::min<int>(8, static_cast<int>(samples))) {
      score = 0.0;
      return;
    }
    score = std::min(score, gain / static_cast<double>(informative));
  };
  int left = 0, right = 0, top = 0, bottom = 0;
  const double leftGain = LeftGain(v, r, shift, rows, &left);
  const double rightGain = RightGain(v, r, shift, rows, &right);
  const double topGain = TopGain(v, r, shift, cols, &top);
  const double bottomGain = BottomGain(v, r, shift, cols, &bottom);
  take(r.Left == 0, leftGain, left, rows.size());
  take(r.Right == v.W, rightGain, right, rows.size());
  take(r.Top == 0, topGain, top, cols.size());
  take(r.Bottom == v.H, bottomGain, bottom, cols.size());
  return inside == 0 ? 0.0 : score;
}

// Whether undoing a rotation by whole bytes joins the edges of `r` inside the picture to their
// outside on nearly every sample that tells something: on a muted picture the gain per sample is
// small, but where the picture is not scrambled, undoing makes as many samples worse as better,
// or more. Over all edges most samples must win; an edge alone, where it tells something, must
// lean that way too (an edge through white or grey only is placed by the others): more samples
// win than lose there. Across a row of textured photograph (waves, foliage) the pixels above and
// below differ as much as the rotation's channels do, and a true top or bottom edge won only 30
// of its 54 samples that changed while the other three won nearly all.
constexpr double kByteWins = 0.7;
constexpr double kByteEdgeWins = 0.5;
constexpr int kByteEdgeInformative = 8;
constexpr double kMinByteEdgeGain = 3.0;
constexpr double kByteChanceSigmas = 5.0;
// Undoing removes a good share of the difference across a true edge, where the pixels outside
// are the inside's neighbours; noise of other scrambles, joined by chance, keeps nearly all. The
// differences are squared, so that a colour byte moved back between two pixels of an even run
// counts.
constexpr double kByteJoinShare = 0.25;

bool ByteEdgesJoin(const View& v, const TRect& r, int32_t shift) {
  const std::vector<int32_t> rows = Sample(r.Top, r.Bottom, kSamples);
  const std::vector<int32_t> cols = Sample(r.Left, r.Right, kSamples);
  int allWins = 0, allDecided = 0, allInformative = 0;
  double allGain = 0, allBefore = 0, allAfter = 0;
  // (x, y) the pixel inside, (ox, oy) its neighbour outside.
  const auto holds = [&](const auto& pixels) {
    int wins = 0, decided = 0, informative = 0;
    double gain = 0, squaredBefore = 0, squaredAfter = 0;
    pixels([&](int32_t x, int32_t y, int32_t ox, int32_t oy) {
      const uint32_t out = ColorAt(v, ox, oy);
      const uint32_t inside = ColorAt(v, x, y);
      const uint32_t undone = Unrotated(v, r.Left, r.Right, shift, x, y);
      const int before = ColorDiff(inside, out);
      const int after = ColorDiff(undone, out);
      gain += std::clamp(before - after, -kByteGainCap, kByteGainCap);
      squaredBefore += SquaredDiff(inside, out), squaredAfter += SquaredDiff(undone, out);
      if (before != after) ++decided, wins += after < before;
      if (std::max(before, after) >= kInformative) ++informative;
    });
    allWins += wins, allDecided += decided, allInformative += informative, allGain += gain;
    allBefore += squaredBefore, allAfter += squaredAfter;
    // Over grain as strong as the channels' differences, the capped gains of an edge that joins
    // may cancel out: the squared differences still tell which way it leans.
    const bool leans = gain > 0 || squaredAfter < squaredBefore;
    return informative < kByteEdgeInformative || (wins > kByteEdgeWins * decided && leans);
  };
  if (r.Left > 0 && !holds([&](const auto& f) {
        for (int32_t y : rows) f(r.Left, y, r.Left - 1, y);
      })) {
    return false;
  }
  if (r.Right < v.W && !holds([&](const auto& f) {
        for (int32_t y : rows) f(r.Right - 1, y, r.Right, y);
      })) {
    return false;
  }
  if (r.Top > 0 && !holds([&](const auto& f) {
        for (int32_t x : cols) f(x, r.Top, x, r.Top - 1);
      })) {
    return false;
  }
  if (r.Bottom < v.H && !holds([&](const auto& f) {
        for (int32_t x : cols) f(x, r.Bottom - 1, x, r.Bottom);
      })) {
    return false;
  }
  // Each edge was placed where it wins most, so noise (a mosaic's shuffled pixels) wins often
  // by chance on short edges: the wins must also stand far above half of the samples.
  const double chance = 0.5 * allDecided + kByteChanceSigmas * 0.5 * std::sqrt(allDecided);
  return allDecided >= 4 * kByteEdgeInformative && allWins >= kByteWins * allDecided &&
         allWins >= chance && allGain >= kMinByteEdgeGain * allInformative &&
         allAfter <= (1.0 - kByteJoinShare) * allBefore;
}

// A place whose mean noise is above both of these is not taken for a whole-byte rotation.
constexpr double kByteNoisyFactor = 6.0;
constexpr double kByteNoisy = 32.0;

// The score of an edge on the border for a rotation by whole bytes: below that of any edge that
// joins visibly.
constexpr double kByteBorderScore = 4.0;

struct ShiftFind {
  TRect Rect;
  double Score = 0;
};

// A bit-shifted rectangle around the rough one, if undoing some shift makes it a picture.
// `knownEdge`: -1 when the rough rectangle's left edge is a seam, +1 its right edge, 0 neither.
// `only`: the one rotation to try, when the seam already tells it.
std::optional<ShiftFind> FindShift(const View& v, const TRect& rough, int knownEdge,
                                   int32_t only = 0) {
  const bool wholeBytes = knownEdge != 0 && only == 0;
  if (rough.Right - rough.Left < 4 || rough.Bottom - rough.Top < 2) return std::nullopt;
  std::optional<ShiftFind> best;
  std::vector<ShiftGuess> guesses;
  if (only != 0) {
    guesses.push_back({only, 0.0});
  } else {
    // Shifts that differ by whole bytes look nearly alike inside, so the best four are mostly
    // one width modulo 8; a rough rectangle that holds some of the picture beside the rotation
    // may rank the true width's kin a little lower: the best of two more widths are tried too.
    const std::vector<ShiftGuess> all = GuessShifts(v, rough, 46);
    std::vector<int32_t> widths;
    for (const ShiftGuess& guess : all) {
      const int32_t width = (guess.Shift % 8 + 8) % 8;
      const bool seen = std::find(widths.begin(), widths.end(), width) != widths.end();
      if (guesses.size() < 4) {
        guesses.push_back(guess);
      } else if (!seen && widths.size() < 3) {
        guesses.push_back(guess);
      } else {
        continue;
      }
      if (!seen) widths.push_back(width);
    }
  }
  if (wholeBytes) {
    // Rotations by whole bytes only swap colour channels: the inside stays as smooth as a
    // picture, and only the edges can tell.
    for (const int32_t shift : {8, -8, 16, -16}) guesses.push_back({shift, 0.0});
  }
  for (const ShiftGuess& guess : guesses) {
    if (guess.Ratio > 0.6) continue;
    const bool bytes = std::abs(guess.Shift) % 8 == 0;
    if (knownEdge != 0) {
      // The seam the rough rectangle leans on must join up when undone, where that needs no
      // wrapping pixel from the far end.
      const std::vector<int32_t> rows = Sample(rough.Top, rough.Bottom, 32);
      // A whole-byte seam has already been found by its summed gain.
      const double least = bytes ? 0.0 : kMinShiftEdgeGain * static_cast<double>(rows.size());
      if (knownEdge < 0 && guess.Shift > 0 && LeftGain(v, rough, guess.Shift, rows) < least) {
        continue;
      }
      if (knownEdge > 0 && guess.Shift < 0 && RightGain(v, rough, guess.Shift, rows) < least) {
        continue;
      }
    }
    TRect r = RefineShift(v, rough, guess.Shift, knownEdge);
    if (r.Right - r.Left < kMinSide || r.Bottom - r.Top < kMinSide) continue;
    r = PolishShift(v, r, guess.Shift);
    // Undone over the final rectangle, the inside must still be far smoother, and as smooth as
    // a picture: random bytes (the XOR transform) mixed across their bits stay random bytes,
    // however much smoother than before.
    if (!bytes) {
      const double undone = RoughnessUnrotated(v, r, guess.Shift);
      if (undone > 0.6 * RoughnessUnrotated(v, r, 0) || undone > 2 * kRandomNoise) continue;
    }
    double edges = ShiftEdgeScore(v, r, guess.Shift);
    if (bytes ? !ByteEdgesJoin(v, r, guess.Shift) : edges < kMinShiftEdgeGain) continue;
    // Found by its noise (not as a whole-byte seam, which is looked for last), a rotation by
    // whole bytes competes with the mosaic, whose shuffled pixels join by chance here and there:
    // its edges must join clearly.
    if (bytes && only == 0 && edges < kMinByteShiftEdgeGain) continue;
    if (bytes && (r.Left == 0 || r.Top == 0 || r.Right == v.W || r.Bottom == v.H)) {
      // Rotations by whole bytes in the other direction look alike inside and differ by a pixel
      // at the ends of the rows: the wrong one runs on to the border, where no edge is judged.
      edges = std::min(edges, kByteBorderScore);
    }
    if (!best || edges > best->Score) best = ShiftFind{r, edges};
  }
  return best;
}

// Rotations by whole bytes only swap the colour channels (and move one by a pixel), so inside
// their rectangle the picture stays smooth; but across the edge where the first pixel can be
// undone from its own row alone (the left edge of a right rotation, the right edge of a left
// one), undoing it joins the pixel to its neighbour outside. On a muted picture the channels
// differ little and a single row tells little, but the gain (the difference to the pixel outside
// before undoing minus after) is positive on nearly every row of the edge and negative or nil
// elsewhere: the column's run of rows with the largest summed gain is the seam. Every 2nd row
// is looked at.
constexpr int32_t kByteSeamStep = 2;
// Gains are capped (kByteGainCap), so that a few rows across a sharp edge of the picture do not
// make a seam, and every row pays a toll (kByteGainToll) unless undoing leaves its pixel as it
// was: grey rows inside the rectangle tell nothing, and must not break its seam apart.
// The smallest summed gain of a seam, and its fewest rows (looked at).
constexpr int32_t kByteSeamMinGain = 24;
constexpr int32_t kByteSeamMinRows = 6;
constexpr std::size_t kMaxByteSeams = 32;

// Ends early with nothing once `stop` is raised.
std::vector<Seam> ByteSeams(const View& v, const std::atomic<bool>& stop) {
  constexpr int32_t kShifts[] = {8, 16, -8, -16};
  std::vector<Seam> seams;
  if (v.W < 4) return seams;
  struct Run {
    int32_t Sum = 0, Start = 0;          // the run ending at the current row
    int32_t Best = 0, From = 0, To = 0;  // the best run so far, rows [From, To)
  };
  // A rotation by whole bytes moves the row's bytes: pixel x before it are the bytes from
  // 3x + 1 (8 bits right), 3x + 2 (16 right), 3x - 1 (8 left) or 3x - 2 (16 left) on.
  constexpr std::ptrdiff_t kByteOffsets[] = {1, 2, -1, -2};
  const std::size_t width = static_cast<std::size_t>(v.W);
  std::vector<Run> runs(width * 4);
  // Each pixel's difference to its left neighbour, in the row read.
  std::vector<int32_t> left(width + 1, 0);
  for (int32_t sy = 0; sy * kByteSeamStep < v.H; ++sy) {
    if (stop.load(std::memory_order_relaxed)) return {};
    const uint8_t* row = v.Row(sy * kByteSeamStep);
    for (std::size_t x = 1; x < width; ++x) left[x] = Diff3(row + 3 * x, row + 3 * x - 3);
    // One rotation at a time, so that the loop over the row keeps to one kind of edge.
    for (int s = 0; s < 4; ++s) {
      // Right rotations: a left edge at x, against x - 1 outside; left rotations: a right edge
      // after x, against x + 1 outside.
      const bool right = s < 2;
      const std::ptrdiff_t outside = right ? -3 : 3;
      const std::ptrdiff_t moved = kByteOffsets[s];
      Run* r = &runs[width * static_cast<std::size_t>(s)];
      for (std::size_t x = 1; x + 1 < width; ++x) {
        const uint8_t* here = row + 3 * x;
        const int change = (right ? left[x] : left[x + 1]) - Diff3(here + moved, here + outside);
        const int gain =
            change == 0 ? 0 : std::clamp(change, -kByteGainCap, kByteGainCap) - kByteGainToll;
        Run& run = r[x];
        if (run.Sum <= 0) run.Sum = 0, run.Start = sy;
        run.Sum += gain;
        if (run.Sum > run.Best) run.Best = run.Sum, run.From = run.Start, run.To = sy + 1;
      }
    }
  }
  std::vector<int32_t> sums;
  for (int32_t x = 1; x + 1 < v.W; ++x) {
    for (int s = 0; s < 4; ++s) {
      const Run& run = runs[width * static_cast<std::size_t>(s) + static_cast<std::size_t>(x)];
      if (run.Best < kByteSeamMinGain || run.To - run.From < kByteSeamMinRows) continue;
      // The seam's column: the first one right of the break.
      const int32_t edge = kShifts[s] > 0 ? x : x + 1;
      seams.push_back(
          Seam{edge, run.From * kByteSeamStep, std::min(run.To * kByteSeamStep, v.H), kShifts[s]});
      sums.push_back(run.Best);
    }
  }
  // The strongest ones only.
  std::vector<std::size_t> order(seams.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  const std::size_t keep = std::min(kMaxByteSeams, order.size());
  std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(keep), order.end(),
                    [&](std::size_t a, std::size_t b) { return sums[a] > sums[b]; });
  std::vector<Seam> strongest;
  for (std::size_t i = 0; i < keep; ++i) strongest.push_back(seams[order[i]]);
  return strongest;
}

// --- Whole-byte rotations over grey picture ------------------------------------------------------
//
// Grey pixels, their three channels equal, are common: black-and-white photographs, and colour
// JPEGs decode flat chroma to exact greys. A rotation by whole bytes moves every channel into the
// next one, so a grey row turns into pixels that mix two neighbours' levels wherever those differ:
// by a level or two on a muted photograph, too little for the noise or the edges to tell. But
// undoing the rotation over its rectangle makes every one of them grey again, and undoing it over
// any other rectangle leaves some of them, or spoils grey pixels beside it.

bool IsGrey(uint32_t c) {
  return (c >> 16) == ((c >> 8) & 0xFFu) && ((c >> 8) & 0xFFu) == (c & 0xFFu);
}

// Tiles where at least this share of the pixels turn grey when undone are looked at, and their
// neighbours with half of it taken in.
constexpr float kGreyedTile = 0.1f;
// How far beyond the rectangle read so far an edge is looked for.
constexpr int32_t kGreySlack = 2 * kTile;
// A rotation is taken where undoing it makes at least kMinGreyed pixels grey, spoils at most one
// in kGreySpoiled of that number, and leaves fewer not grey than it makes grey: a picture whose
// colours are all a little off grey has pixels here and there that one rotation or another makes
// grey.
constexpr int64_t kMinGreyed = 48;
constexpr int64_t kGreySpoiled = 8;

// -1 where undoing makes pixel (x, y) grey, +1 where it spoils a grey one, else 0.
int GreyChange(const View& v, int32_t left, int32_t right, int32_t shift, int32_t x, int32_t y) {
  return static_cast<int>(IsGrey(ColorAt(v, x, y))) -
         static_cast<int>(IsGrey(Unrotated(v, left, right, shift, x, y)));
}

struct GreyEdges {
  int32_t From = 0, To = 0;  // columns or rows, To exclusive
  int64_t Cost = 0;          // pixels made not grey less those made grey
};

// The columns over which undoing `shift` in `rows` leaves the fewest pixels that are not grey, the
// left edge in [l0, l1] and the right one in [r0, r1]. Of equally good edges, the inner ones.
GreyEdges GreyColumns(const View& v, const std::vector<int32_t>& rows, int32_t shift, int32_t l0,
                      int32_t l1, int32_t r0, int32_t r1) {
  // Every pixel but the one that takes the wrapped bits (the last one of a right rotation, the
  // first one of a left one) is undone from its own row's neighbour, whatever the edges: the
  // changes of those add up column by column.
  std::vector<int32_t> before(static_cast<std::size_t>(r1 - l0 + 1), 0);  // changes left of x
  for (int32_t x = l0; x < r1; ++x) {
    int32_t sum = 0;
    for (const int32_t y : rows) sum += GreyChange(v, 0, v.W, shift, x, y);
    before[static_cast<std::size_t>(x - l0) + 1] = before[static_cast<std::size_t>(x - l0)] + sum;
  }
  const auto changesIn = [&](int32_t from, int32_t to) {
    return before[static_cast<std::size_t>(to - l0)] - before[static_cast<std::size_t>(from - l0)];
  };
  GreyEdges best{l1, r0, std::numeric_limits<int64_t>::max()};
  for (int32_t left = l1; left >= l0; --left) {
    for (int32_t right = std::max(r0, left + kMinSide); right <= r1; ++right) {
      const int32_t wrapped = shift > 0 ? right - 1 : left;
      int64_t cost = shift > 0 ? changesIn(left, right - 1) : changesIn(left + 1, right);
      for (const int32_t y : rows) cost += GreyChange(v, left, right, shift, wrapped, y);
      if (cost < best.Cost) best = GreyEdges{left, right, cost};
    }
  }
  return best;
}

// The smallest share of grey pixels in the lines just outside the edges of `r` that are not on
// the picture's border. Only where the picture beside an edge is grey does undoing tell where
// the rotation ends: over colours it neither makes nor spoils grey pixels, so a rotation partly
// over colours would be read as its grey part alone.
double GreyOutside(const View& v, const TRect& r) {
  double least = 1.0;
  const auto line = [&](int32_t x0, int32_t y0, int32_t dx, int32_t dy, int32_t count) {
    int32_t grey = 0;
    for (int32_t i = 0; i < count; ++i) grey += IsGrey(ColorAt(v, x0 + i * dx, y0 + i * dy));
    least = std::min(least, static_cast<double>(grey) / count);
  };
  if (r.Left > 0) line(r.Left - 1, r.Top, 0, 1, r.Bottom - r.Top);
  if (r.Right < v.W) line(r.Right, r.Top, 0, 1, r.Bottom - r.Top);
  if (r.Top > 0) line(r.Left, r.Top - 1, 1, 0, r.Right - r.Left);
  if (r.Bottom < v.H) line(r.Left, r.Bottom, 1, 0, r.Right - r.Left);
  return least;
}

struct GreyFind {
  TRect Rect;
  // Of the pixels looked at: those that undoing makes grey, the grey ones it spoils, and those
  // not grey once undone.
  int64_t Greyed = 0;
  int64_t Spoiled = 0;
  int64_t NotGrey = 0;
};

// The rows [t0, t1) over which undoing `shift` in the columns [left, right) leaves the fewest
// pixels that are not grey; of equally good ones, the fewest rows. A wide rectangle is read in
// kGreyColumns of its columns and its last one (which takes the wrapped bits of a right rotation).
constexpr int32_t kGreyColumns = 256;

GreyFind GreyRows(const View& v, int32_t left, int32_t right, int32_t shift, int32_t t0,
                  int32_t t1) {
  std::vector<int32_t> columns = Sample(left, right, kGreyColumns);
  if (columns.back() != right - 1) columns.push_back(right - 1);
  GreyFind best{TRect{left, t0, right, t0}};
  int64_t bestSum = 0, sum = 0, greyed = 0, spoiled = 0, notGrey = 0;
  int32_t start = t0;
  for (int32_t y = t0; y < t1; ++y) {
    if (sum >= 0) sum = 0, greyed = 0, spoiled = 0, notGrey = 0, start = y;
    for (const int32_t x : columns) {
      const bool was = IsGrey(ColorAt(v, x, y));
      const bool is = IsGrey(Unrotated(v, left, right, shift, x, y));
      sum += static_cast<int>(was) - static_cast<int>(is);
      greyed += is && !was;
      spoiled += was && !is;
      notGrey += !is;
    }
    if (sum < bestSum) {
      bestSum = sum;
      best = GreyFind{TRect{left, start, right, y + 1}, greyed, spoiled, notGrey};
    }
  }
  return best;
}

// The rectangle rotated by whole bytes over grey picture, read around the tiles where pixels turn
// grey when undone.
std::optional<TRect> GreyRotation(const View& v, const TileMap& map) {
  if (std::none_of(map.Greyed.begin(), map.Greyed.end(),
                   [](float share) { return share > kGreyedTile; })) {
    return std::nullopt;
  }
  std::vector<Blob> blobs =
      Blobs(TileMap{map.Cols, map.Rows, map.Greyed, {}, {}}, kGreyedTile, kGreyedTile / 2);
  std::sort(blobs.begin(), blobs.end(),
            [](const Blob& a, const Blob& b) { return a.Weight > b.Weight; });
  if (blobs.size() > 3) blobs.resize(3);
  std::optional<GreyFind> best;
  for (const Blob& blob : blobs) {
    const TRect rough{blob.Left * kTile, blob.Top * kTile, std::min(blob.Right * kTile, v.W),
                      std::min(blob.Bottom * kTile, v.H)};
    // The rows read for the columns are the tiles' inner ones at first: their top and bottom
    // tiles may hold rows outside the rotation.
    const int32_t inset = rough.Bottom - rough.Top >= 4 * kTile ? kTile : 0;
    const auto columns = [&](const std::vector<int32_t>& rows, int32_t shift, const TRect& r) {
      const int32_t middle = (r.Left + r.Right) / 2;
      return GreyColumns(
          v, rows, shift, std::max(0, r.Left - kGreySlack), std::min(r.Left + kGreySlack, middle),
          std::max(r.Right - kGreySlack, middle), std::min(r.Right + kGreySlack, v.W));
    };
    // The rotation: the one whose undoing there leaves the fewest pixels that are not grey.
    const std::vector<int32_t> inner = Sample(rough.Top + inset, rough.Bottom - inset, 48);
    if (inner.empty() || rough.Right - rough.Left < kMinSide) continue;
    int32_t shift = 0;
    GreyEdges edges;
    for (const int32_t s : {8, 16, -8, -16}) {
      const GreyEdges e = columns(inner, s, rough);
      if (shift == 0 || e.Cost < edges.Cost) shift = s, edges = e;
    }
    // Then the rows, and the columns again over the rows found, until nothing moves: the tiles
    // may cover only part of the rotation, where its rows are flat.
    TRect r = rough;
    GreyFind find;
    for (int round = 0; round < 12; ++round) {
      if (round > 0) edges = columns(Sample(r.Top, r.Bottom, 48), shift, r);
      find = GreyRows(v, edges.From, edges.To, shift, std::max(0, r.Top - kGreySlack),
                      std::min(r.Bottom + kGreySlack, v.H));
      if (find.Rect == r || find.Rect.Bottom - find.Rect.Top < kMinSide) break;
      r = find.Rect;
    }
    if (find.Rect.Right - find.Rect.Left < kMinSide ||
        find.Rect.Bottom - find.Rect.Top < kMinSide || find.Greyed < kMinGreyed ||
        kGreySpoiled * find.Spoiled > find.Greyed || find.NotGrey >= find.Greyed ||
        GreyOutside(v, find.Rect) < 0.5) {
      continue;
    }
    if (!best || find.Greyed - find.Spoiled > best->Greyed - best->Spoiled) best = find;
  }
  if (!best) return std::nullopt;
  return best->Rect;
}

// The largest block side of a mosaic.
constexpr int32_t kMaxBlock = 50;

// How closely the 8 x 8 patch at (x0, y0), every second row and column of it, matches the rows
// next to it and, at best, the rows 2 to 49 away.
struct PatchMatch {
  int Next = 0;
  int Further = 0;
  int32_t Lag = 0;  // the distance of the best match further off
  bool Valid = false;
};

PatchMatch MatchPatch(const View& v, int32_t x0, int32_t y0) {
  PatchMatch m;
  m.Next = m.Further = std::numeric_limits<int>::max();
  if (x0 < 0 || x0 + kTile > v.W || y0 < 0 || y0 + kTile > v.H) return m;
  for (int32_t d = -(kMaxBlock - 1); d < kMaxBlock; ++d) {
    if (d == 0 || y0 + d < 0 || y0 + kTile - 2 + d >= v.H) continue;
    int sum = 0;
    for (int32_t y = y0; y < y0 + kTile; y += 2) {
      const uint8_t* a = v.Pixel(x0, y);
      const uint8_t* b = v.Pixel(x0, y + d);
      for (int32_t i = 0; i < kTile; i += 2) sum += Diff3(a + 3 * i, b + 3 * i);
    }
    if (d == 1 || d == -1) {
      m.Next = std::min(m.Next, sum);
    } else if (sum < m.Further) {
      m.Further = sum;
      m.Lag = d < 0 ? -d : d;
    }
  }
  m.Valid =
      m.Next != std::numeric_limits<int>::max() && m.Further != std::numeric_limits<int>::max();
  return m;
}

// The same over the patches that tile `r` (at most 24 of them, spread evenly): how much better
// rows further off match than the next ones; 1 where they match alike.
double StripLagEvidence(const View& v, TRect r) {
  r.Left = std::max(r.Left, 0), r.Top = std::max(r.Top, 0);
  r.Right = std::min(r.Right, v.W), r.Bottom = std::min(r.Bottom, v.H);
  int64_t next = 0, further = 0;
  int patches = 0;
  const std::vector<int32_t> xs = Sample(r.Left, std::max(r.Left + 1, r.Right - kTile + 1), 6);
  const std::vector<int32_t> ys = Sample(r.Top, std::max(r.Top + 1, r.Bottom - kTile + 1), 4);
  for (int32_t y : ys) {
    for (int32_t x : xs) {
      const PatchMatch m = MatchPatch(v, x, y);
      if (!m.Valid) continue;
      next += m.Next, further += m.Further, ++patches;
    }
  }
  return static_cast<double>(next + 32 * patches) / static_cast<double>(further + 32 * patches + 1);
}

// Where a mosaic may be: in every column of a mosaic's block, the pixel that was below a pixel
// sits q rows further on (or BH - q rows back), the same q for the whole mosaic, while the pixel
// beside it came from further off. So a patch of a mosaic matches the rows at some distance of 2
// to 49 better than the rows next to it, which a picture seldom does, whatever its texture; a
// noise measure cannot tell a mosaic of textured or smooth content from the picture around it.
// Each cell of a lattice is judged on the 8 x 8 patch at its middle (every second row and column):
// the lattice is the tiles on pictures up to kMaxLagProbes tiles and coarser on larger ones (every
// 6th tile each way on an 8K picture, where a mosaic smaller than about 56 x 56 pixels may fall
// between the cells and is left to the noise), so that it costs about the same on any picture.
constexpr int64_t kMaxLagProbes = 20000;
constexpr float kLagEvidence = 1.6f;
// A place takes in the touching cells above this: small blocks match rows further off in only
// part of an 8 x 8 patch, so a long strip of them shows here and there.
constexpr float kLagReach = 1.15f;
// ... and no more than this outside a mosaic's edge.
constexpr double kLagEdgeOutside = 1.2;

struct LagMap {
  TileMap Map;  // the lattice's cells as tiles: the evidence in Mean
  int32_t Cell = kTile;
};

// A lattice of cells over the picture, each judged by `evidence` on the 8 x 8 patch at its middle.
template <typename Evidence>
LagMap Lattice(const View& v, Evidence evidence) {
  LagMap out;
  const int64_t tiles =
      static_cast<int64_t>((v.W + kTile - 1) / kTile) * ((v.H + kTile - 1) / kTile);
  int32_t step = 1;
  while (tiles / (static_cast<int64_t>(step) * step) > kMaxLagProbes) ++step;
  out.Cell = step * kTile;
  out.Map.Cols = v.W / out.Cell;
  out.Map.Rows = v.H / out.Cell;
  out.Map.Mean.assign(static_cast<std::size_t>(out.Map.Cols) * out.Map.Rows, 0.0f);
  const int32_t inset = (out.Cell - kTile) / 2;
  for (int32_t r = 0; r < out.Map.Rows; ++r) {
    for (int32_t c = 0; c < out.Map.Cols; ++c) {
      out.Map.Mean[static_cast<std::size_t>(r) * out.Map.Cols + c] =
          evidence(c * out.Cell + inset, r * out.Cell + inset);
    }
  }
  return out;
}

// Ends early with any evidence once `stop` is raised.
LagMap LagEvidence(const View& v, const std::atomic<bool>& stop) {
  return Lattice(v, [&](int32_t x0, int32_t y0) {
    if (stop.load(std::memory_order_relaxed)) return 0.0f;
    const PatchMatch m = MatchPatch(v, x0, y0);
    return m.Valid ? static_cast<float>(m.Next + 32) / static_cast<float>(m.Further + 32) : 0.0f;
  });
}

// A mosaic whose offset keeps each column's rows in order (q' = 1) shows no such rows: its
// columns are the picture's own, each turned round in its block, while the pixel beside a pixel
// came from another column and row. So its pixels are far less like either pixel beside them
// than like the pixel above or below, which a picture seldom is where both are small: a picture's
// edges leave one of the two pixels on either side close.
// Small blocks change a smooth picture little, so the evidence is weak cell by cell but holds
// over the whole mosaic: each cell counts the mean of its 3 x 3 neighbourhood.
constexpr float kAcrossEvidence = 1.3f;

LagMap AcrossEvidence(const View& v) {
  LagMap lattice = Lattice(v, [&](int32_t x0, int32_t y0) {
    if (x0 < 1 || y0 < 1 || x0 + kTile >= v.W || y0 + kTile >= v.H) return 1.0f;
    int across = 0, down = 0;
    for (int32_t y = y0; y < y0 + kTile; y += 2) {
      for (int32_t x = x0; x < x0 + kTile; x += 2) {
        const uint8_t* p = v.Pixel(x, y);
        across += std::min(Diff3(p, p - 3), Diff3(p, p + 3));
        down += std::min(Diff3(p, v.Pixel(x, y - 1)), Diff3(p, v.Pixel(x, y + 1)));
      }
    }
    return static_cast<float>(across + 64) / static_cast<float>(down + 64);
  });
  TileMap& map = lattice.Map;
  std::vector<float> mean(map.Mean.size(), 0.0f);
  for (int32_t r = 0; r < map.Rows; ++r) {
    for (int32_t c = 0; c < map.Cols; ++c) {
      float sum = 0;
      int count = 0;
      for (int32_t nr = std::max(0, r - 1); nr <= std::min(map.Rows - 1, r + 1); ++nr) {
        for (int32_t nc = std::max(0, c - 1); nc <= std::min(map.Cols - 1, c + 1); ++nc) {
          sum += map.At(nc, nr), ++count;
        }
      }
      mean[static_cast<std::size_t>(r) * map.Cols + c] = sum / static_cast<float>(count);
    }
  }
  map.Mean = std::move(mean);
  return lattice;
}

// --- The mosaic: blocks that hold a picture's pixels in one shared order -------------------------
//
// Every block of a mosaic holds its original pixels moved by the same order k -> (K1 k + K2) mod n.
// Original neighbours j and j + 1 therefore sit at cells k and k + a (mod n) of every block, a
// being the inverse of K1 modulo n, whatever K2 is: on the right block grid one offset a makes
// most pairs of cells as close as neighbouring pixels of a picture, while cells side by side (or
// one above the other) are far apart. An unscrambled picture is the other way round. The grid
// is read from the noisy place's own pixels: first its block rows (every height and first row),
// then its block columns and offset (every width and first column), not from its noise edges.

struct MosaicGrid {
  int32_t Left, Top, BW, BH;
};

struct CellSample {
  int32_t Bx, By, K;
};

// Cells spread pseudo-randomly over the blocks [bx0, bx1) x [by0, by1).
std::vector<CellSample> CellSamples(const MosaicGrid& g, int32_t bx0, int32_t bx1, int32_t by0,
                                    int32_t by1, int count, uint32_t seed) {
  std::vector<CellSample> out;
  const int32_t n = g.BW * g.BH;
  const int64_t blocks = static_cast<int64_t>(bx1 - bx0) * (by1 - by0);
  if (blocks <= 0) return out;
  uint32_t state = 12345u + 7919u * seed;
  for (int i = 0; i < count; ++i) {
    state = state * 1664525u + 1013904223u;
    const int64_t b = (state >> 8) % blocks;
    state = state * 1664525u + 1013904223u;
    out.push_back({bx0 + static_cast<int32_t>(b % (bx1 - bx0)),
                   by0 + static_cast<int32_t>(b / (bx1 - bx0)),
                   static_cast<int32_t>((state >> 8) % static_cast<uint32_t>(n))});
  }
  return out;
}

int32_t Gcd(int32_t a, int32_t b) {
  while (b != 0) {
    const int32_t t = a % b;
    a = b;
    b = t;
  }
  return a;
}

// The pairs of the blocks that vote for a grid against their neighbours; up to the second bound
// where no other width comes close.
constexpr double kMosaicRatio = 0.55;
constexpr double kMosaicLooseRatio = 0.65;
constexpr double kMosaicFinalRatio = 0.5;
// A column or row of blocks next to a grid that fits counts as part of it below this ratio.
constexpr double kBlocksFitRatio = 0.7;
// How many separate noisy places are searched for a mosaic grid. A textured photograph (leaves,
// bristles, gravel) holds many places noisier than a mosaic's, or whose rows match rows further
// off, ahead of it; past a dozen places, more found hardly any more mosaics.
constexpr std::size_t kMosaicTries = 12;
// ... and how many more over flat picture, whose noise stands out only against lower floors.
constexpr std::size_t kFaintTries = 1;
// The lowest floor of those places: below it, a tile's noise is the grain of a JPEG's flat parts.
constexpr float kDeepFloor = 0.3f;
// The smallest block side looked for: with a side of 2 or 3 a picture's own neighbours fit
// too many grids.
constexpr int32_t kMinBlock = 4;

struct MosaicFind {
  TRect Rect;
  double Score = 0;
  bool InOrder = false;  // its grid keeps each column's rows in order
};

// The block rows of a mosaic, read from its columns alone. Cell k and cell k + a hold original
// neighbours j and j + 1; with a = q BW + p, cells k and k + BW (a mod BH) hold j and j + BW, the
// pixel below: in every column of a block, the pixel of block row r has its original neighbour
// below it q' = a mod BH rows further down (r + q' < BH) or BH - q' rows further up. So one
// height, one first row and one q' make the pixels of the rough rectangle's sampled columns as
// close to their partners as a picture's neighbours are, whatever the block width.
struct RowHypothesis {
  int32_t BH = 0;
  int32_t Top = 0;  // a block row starts here
  int32_t Q = 0;
  double Cost = 0;
};

std::vector<RowHypothesis> GuessBlockRows(const View& v, const TRect& w, std::size_t keep,
                                          const std::vector<RowHypothesis>& told,
                                          bool aside = false) {
  std::vector<RowHypothesis> out;
  const int32_t rows = w.Bottom - w.Top;
  if (rows < 2) return out;
  const std::vector<int32_t> cols = Sample(w.Left, w.Right, aside ? 32 : 48);
  const std::size_t ncols = cols.size();
  // prefix[dy][i]: the summed cost of rows w.Top .. w.Top + i - 1 against their rows dy away, the
  // mean over the sampled columns; with `aside`, also each column's own in columnPrefix[dy].
  const int32_t span = kMaxBlock - 1;
  std::vector<std::vector<double>> prefix(2 * static_cast<std::size_t>(span) + 1);
  std::vector<std::vector<int32_t>> columnPrefix(aside ? prefix.size() : 0);
  const auto slot = [&](int32_t dy) {
    const int32_t at = dy + span;
    return static_cast<std::size_t>(at);
  };
  const std::size_t stride = static_cast<std::size_t>(rows) + 1;
  for (int32_t dy = -span; dy <= span; ++dy) {
    if (dy == 0) continue;
    std::vector<double>& p = prefix[slot(dy)];
    p.assign(stride, 0.0);
    if (aside) columnPrefix[slot(dy)].assign(ncols * stride, 0);
    for (int32_t i = 0; i < rows; ++i) {
      const int32_t y = w.Top + i;
      double c = 3.0 * 255.0;
      if (y + dy >= 0 && y + dy < v.H) {
        c = 0;
        for (std::size_t k = 0; k < ncols; ++k) {
          const int d = Diff3(v.Pixel(cols[k], y), v.Pixel(cols[k], y + dy));
          c += d;
          if (aside) {
            int32_t* cp = columnPrefix[slot(dy)].data() + k * stride;
            cp[i + 1] = cp[i] + d;
          }
        }
        c /= static_cast<double>(ncols);
      } else if (aside) {
        for (std::size_t k = 0; k < ncols; ++k) {
          int32_t* cp = columnPrefix[slot(dy)].data() + k * stride;
          cp[i + 1] = cp[i] + 3 * 255;
        }
      }
      p[static_cast<std::size_t>(i) + 1] = p[static_cast<std::size_t>(i)] + c;
    }
  }
  const auto range = [&](int32_t dy, int32_t from, int32_t to) {
    const std::vector<double>& p = prefix[slot(dy)];
    return p[static_cast<std::size_t>(to - w.Top)] - p[static_cast<std::size_t>(from - w.Top)];
  };
  const auto columnRange = [&](int32_t dy, std::size_t k, int32_t from, int32_t to) {
    const int32_t* cp = columnPrefix[slot(dy)].data() + k * stride;
    return cp[to - w.Top] - cp[from - w.Top];
  };
  for (int32_t bh = kMinBlock; bh <= kMaxBlock && bh <= rows; ++bh) {
    for (int32_t top = w.Top; top < w.Top + bh; ++top) {
      const int32_t blocks = (w.Bottom - top) / bh;
      if (blocks < 1) continue;
      // q' and BH - q' pair the same rows.
      for (int32_t q = 1; 2 * q <= bh; ++q) {
        if (Gcd(q, bh) != 1) continue;
        double cost = 0;
        // With `aside`, each column of a block row that the hypothesis fits worse than the
        // picture's own rows is taken at the picture's cost: picture above, below or beside a
        // mosaic must not decide its grid. (Rows in order fit a picture's rows as well, so they
        // are not read this way.)
        for (int32_t b = 0; b < blocks; ++b) {
          const int32_t y0 = top + b * bh;
          if (!aside) {
            cost += range(q, y0, y0 + bh - q) + range(q - bh, y0 + bh - q, y0 + bh);
            continue;
          }
          int64_t sum = 0;
          for (std::size_t k = 0; k < ncols; ++k) {
            sum += std::min(
                columnRange(q, k, y0, y0 + bh - q) + columnRange(q - bh, k, y0 + bh - q, y0 + bh),
                columnRange(1, k, y0, y0 + bh));
          }
          cost += static_cast<double>(sum) / static_cast<double>(ncols);
        }
        cost /= static_cast<double>(blocks * bh);
        out.push_back({bh, top, q, cost});
      }
    }
  }
  std::sort(out.begin(), out.end(),
            [](const RowHypothesis& a, const RowHypothesis& b) { return a.Cost < b.Cost; });
  // The best first row for each height and q told by the rows that match, after the best ones.
  std::vector<RowHypothesis> extra;
  for (const RowHypothesis& t : told) {
    const auto same = [&](const RowHypothesis& h) { return h.BH == t.BH && h.Q == t.Q; };
    const auto it = std::find_if(out.begin(), out.end(), same);
    if (it == out.end() || it - out.begin() < static_cast<std::ptrdiff_t>(keep)) continue;
    if (std::none_of(extra.begin(), extra.end(), same)) extra.push_back(*it);
  }
  if (out.size() > keep) out.resize(keep);
  out.insert(out.end(), extra.begin(), extra.end());
  // q' = 1 keeps each column's rows in order but for the one row where a block's column wraps
  // round: a picture's own rows fit it nearly as well, so it is ranked apart, by how much closer
  // each block's last row is to its first than to the row below it.
  std::vector<RowHypothesis> wraps;
  for (int32_t bh = kMinBlock; bh <= kMaxBlock && bh <= rows; ++bh) {
    for (int32_t top = w.Top; top < w.Top + bh; ++top) {
      const int32_t blocks = (w.Bottom - top) / bh;
      if (blocks < 1) continue;
      double wrap = 0, next = 0;
      for (int32_t b = 0; b < blocks; ++b) {
        const int32_t last = top + b * bh + bh - 1;
        wrap += range(1 - bh, last, last + 1);
        next += range(1, last, last + 1);
      }
      wraps.push_back({bh, top, 1, (wrap + blocks) / (next + blocks)});
    }
  }
  const std::size_t keepWraps = std::min<std::size_t>(1, wraps.size());
  std::partial_sort(wraps.begin(), wraps.begin() + static_cast<std::ptrdiff_t>(keepWraps),
                    wraps.end(),
                    [](const RowHypothesis& a, const RowHypothesis& b) { return a.Cost < b.Cost; });
  for (std::size_t i = 0; i < keepWraps; ++i) {
    if (wraps[i].Cost < 0.5) out.push_back(wraps[i]);
  }
  return out;
}

struct PixelSample {
  int32_t X, Y;
  uint32_t Color;
};

// Whether the offset keeps each column's rows in order (q' = 1 or BH - 1): the pixel below is
// then the original one below, and only the one to the right tells a mosaic from a picture.
bool RowsInOrder(int32_t a, int32_t bh) {
  return a % bh == 1 || a % bh == bh - 1;
}

// How well a grid and offset explain one pixel, at cell k of the block whose top-left pixel is
// (x0, y0): `Pairs` is the difference to the cells that hold its original neighbours if they are
// right (k +- a to the side, k +- a BW above and below, the nearer of each two, as the last pixel
// of an original row or column has only one), `Neighbours` the same for the pixels beside and
// above or below it in the picture. A picture's own neighbours explain it best; in a mosaic the
// right cells do. Where the offset keeps the rows in order, the vertical part is the same in both
// and only the horizontal one is counted.
struct PairCost {
  int Pairs = 0;
  int Neighbours = 0;
};

PairCost PixelPairCost(const View& v, int32_t x0, int32_t y0, int32_t bw, int32_t bh, int32_t k,
                       int32_t a) {
  const int32_t n = bw * bh;
  const int32_t x = x0 + k % bw, y = y0 + k / bw;
  const uint32_t here = ColorAt(v, x, y);
  const auto cell = [&](int32_t c) {
    c %= n;
    return ColorAt(v, x0 + c % bw, y0 + c / bw);
  };
  const auto near = [&](uint32_t p, uint32_t q) {
    return std::min(ColorDiff(here, p), ColorDiff(here, q));
  };
  PairCost cost;
  cost.Pairs = near(cell(k + a), cell(k + n - a));
  cost.Neighbours =
      near(ColorAt(v, x > 0 ? x - 1 : x + 1, y), ColorAt(v, x + 1 < v.W ? x + 1 : x - 1, y));
  if (!RowsInOrder(a, bh)) {
    const int32_t down = static_cast<int32_t>(static_cast<int64_t>(a) * bw % n);
    cost.Pairs += near(cell(k + down), cell(k + n - down));
    cost.Neighbours +=
        near(ColorAt(v, x, y > 0 ? y - 1 : y + 1), ColorAt(v, x, y + 1 < v.H ? y + 1 : y - 1));
  }
  return cost;
}

// The cost of a grid and offset on pixel samples: with `neighbours`, the sums of PixelPairCost;
// without, the difference of each sampled pixel to the cell `a` further on only.
struct GridCost {
  double Pairs = 0;
  double Neighbours = 0;
  int Counted = 0;
};

GridCost CostOfGrid(const View& v, const std::vector<PixelSample>& samples, int32_t ox, int32_t oy,
                    int32_t bw, int32_t bh, int32_t a, bool neighbours) {
  GridCost cost;
  const int32_t n = bw * bh;
  if (v.W < 2 || v.H < 2) return cost;
  for (const PixelSample& s : samples) {
    const int32_t dx = s.X - ox, dy = s.Y - oy;
    const int32_t bx = dx >= 0 ? dx / bw : -((-dx + bw - 1) / bw);
    const int32_t by = dy >= 0 ? dy / bh : -((-dy + bh - 1) / bh);
    const int32_t x0 = ox + bx * bw, y0 = oy + by * bh;
    if (x0 < 0 || y0 < 0 || x0 + bw > v.W || y0 + bh > v.H) continue;
    const int32_t k = (s.Y - y0) * bw + (s.X - x0);
    if (neighbours) {
      const PairCost c = PixelPairCost(v, x0, y0, bw, bh, k, a);
      cost.Pairs += c.Pairs;
      cost.Neighbours += c.Neighbours;
    } else {
      const int32_t k2 = (k + a) % n;
      cost.Pairs += ColorDiff(s.Color, ColorAt(v, x0 + k2 % bw, y0 + k2 / bw));
    }
    ++cost.Counted;
  }
  return cost;
}

std::vector<PixelSample> PixelSamples(const View& v, const TRect& r, int count, uint32_t seed) {
  std::vector<PixelSample> out;
  const int64_t w = r.Right - r.Left, h = r.Bottom - r.Top;
  if (w <= 0 || h <= 0) return out;
  uint32_t state = 2654435761u * (seed + 1);
  for (int i = 0; i < count; ++i) {
    state = state * 1664525u + 1013904223u;
    const int32_t x = r.Left + static_cast<int32_t>((state >> 8) % static_cast<uint32_t>(w));
    state = state * 1664525u + 1013904223u;
    const int32_t y = r.Top + static_cast<int32_t>((state >> 8) % static_cast<uint32_t>(h));
    out.push_back({x, y, ColorAt(v, x, y)});
  }
  return out;
}

struct GridGuess {
  MosaicGrid Grid{0, 0, 0, 0};
  int32_t Offset = 0;
  double Cost = 0;
};

// How many of the cheapest grids are judged again.
constexpr std::size_t kGridGuesses = 32;

bool ByCost(const GridGuess& a, const GridGuess& b) {
  return a.Cost < b.Cost;
}

// The block columns for block rows that are known: every width, first column and offset a
// with a mod BH = q', judged on the same pixel samples so that close grids are compared on the
// same pairs. `out` keeps the kGridGuesses cheapest as a heap, the most costly on top.
void GuessBlockColumns(const View& v, const TRect& w, const RowHypothesis& rows,
                       const std::vector<PixelSample>& samples, std::vector<GridGuess>& out) {
  struct Placed {
    uint32_t Color;
    int32_t K, X0, Y0;
  };
  std::vector<Placed> placed;
  std::vector<int32_t> colOf, rowOf;
  for (int32_t bw = kMinBlock; bw <= kMaxBlock && bw <= w.Right - w.Left; ++bw) {
    const int32_t n = bw * rows.BH;
    colOf.resize(2 * static_cast<std::size_t>(n));
    rowOf.resize(2 * static_cast<std::size_t>(n));
    for (int32_t k = 0; k < 2 * n; ++k) {
      colOf[static_cast<std::size_t>(k)] = (k % n) % bw;
      rowOf[static_cast<std::size_t>(k)] = (k % n) / bw;
    }
    // a and n - a pair the same cells (as right and left neighbours): the smaller one is enough.
    std::vector<int32_t> offsets;
    for (int32_t a = 2; 2 * a <= n; ++a) {
      const int32_t residue = a % rows.BH;
      if ((residue == rows.Q || residue == rows.BH - rows.Q) && Gcd(a, n) == 1) {
        offsets.push_back(a);
      }
    }
    if (offsets.empty()) continue;
    for (int32_t ox = w.Left; ox < w.Left + bw; ++ox) {
      placed.clear();
      for (const PixelSample& s : samples) {
        const int32_t dx = s.X - ox, dy = s.Y - rows.Top;
        const int32_t bx = dx >= 0 ? dx / bw : -((-dx + bw - 1) / bw);
        const int32_t by = dy >= 0 ? dy / rows.BH : -((-dy + rows.BH - 1) / rows.BH);
        const int32_t x0 = ox + bx * bw, y0 = rows.Top + by * rows.BH;
        if (x0 < 0 || y0 < 0 || x0 + bw > v.W || y0 + rows.BH > v.H) continue;
        placed.push_back({s.Color, (s.Y - y0) * bw + (s.X - x0), x0, y0});
      }
      if (placed.size() < samples.size() / 2) continue;
      const double count = static_cast<double>(placed.size());
      for (const int32_t a : offsets) {
        // Given up as soon as it cannot be among the best kept.
        const double bound = out.size() < kGridGuesses ? std::numeric_limits<double>::infinity()
                                                       : out.front().Cost * count;
        double sum = 0;
        std::size_t i = 0;
        for (; i < placed.size(); ++i) {
          const Placed& p = placed[i];
          const std::size_t k2 = static_cast<std::size_t>(p.K) + static_cast<std::size_t>(a);
          sum += ColorDiff(p.Color, ColorAt(v, p.X0 + colOf[k2], p.Y0 + rowOf[k2]));
          if (i % 16 == 15 && sum >= bound) break;
        }
        if (i < placed.size() || sum >= bound) continue;
        const GridGuess guess{MosaicGrid{ox, rows.Top, bw, rows.BH}, a, sum / count};
        if (out.size() == kGridGuesses) {
          std::pop_heap(out.begin(), out.end(), ByCost);
          out.back() = guess;
        } else {
          out.push_back(guess);
        }
        std::push_heap(out.begin(), out.end(), ByCost);
      }
    }
  }
}

// The pairs and the neighbours of cells spread over the blocks [bx0, bx1) x [by0, by1) under the
// offset `a`, or nothing where the blocks reach beyond the picture.
std::optional<GridCost> CostOfBlocks(const View& v, const MosaicGrid& g, int32_t bx0, int32_t bx1,
                                     int32_t by0, int32_t by1, int32_t a) {
  if (g.Left + bx0 * g.BW < 0 || g.Top + by0 * g.BH < 0 || g.Left + bx1 * g.BW > v.W ||
      g.Top + by1 * g.BH > v.H) {
    return std::nullopt;
  }
  GridCost sums;
  for (const CellSample& c : CellSamples(g, bx0, bx1, by0, by1, 128, 3)) {
    const PairCost cost =
        PixelPairCost(v, g.Left + c.Bx * g.BW, g.Top + c.By * g.BH, g.BW, g.BH, c.K, a);
    sums.Pairs += cost.Pairs;
    sums.Neighbours += cost.Neighbours;
    ++sums.Counted;
  }
  return sums;
}

// Whether the blocks follow the offset: their pairs of cells far closer than their cells side by
// side (in a row where the rows are in order).
bool Fits(const std::optional<GridCost>& c, double ratio = kBlocksFitRatio) {
  return c && c->Pairs < ratio * c->Neighbours;
}

bool BlocksFit(const View& v, const MosaicGrid& g, int32_t bx0, int32_t bx1, int32_t by0,
               int32_t by1, int32_t a, double ratio = kBlocksFitRatio) {
  return Fits(CostOfBlocks(v, g, bx0, bx1, by0, by1, a), ratio);
}

// Grows the blocks [bx0, bx1) x [by0, by1) on one side (0 to 3: left, right, above, below) by the
// block lines beyond it that join them, and says whether any did: the next one where it follows
// the offset; where it does not (flat picture, whose pixels pair no closer moved than in place),
// the next three where the two beyond it do: a line of the picture's own pixels between two of a
// mosaic is no part of one. A line of one colour (its cells differ from their neighbours by less
// than half a level) tells nothing either way, and where the one beyond it follows the offset,
// both join.
bool GrowBeyond(const View& v, const MosaicGrid& g, int32_t a, int32_t& bx0, int32_t& bx1,
                int32_t& by0, int32_t& by1, int side) {
  const auto line = [&](int32_t i) {
    switch (side) {
      case 0:
        return CostOfBlocks(v, g, bx0 - i, bx0 - i + 1, by0, by1, a);
      case 1:
        return CostOfBlocks(v, g, bx1 + i - 1, bx1 + i, by0, by1, a);
      case 2:
        return CostOfBlocks(v, g, bx0, bx1, by0 - i, by0 - i + 1, a);
      default:
        return CostOfBlocks(v, g, bx0, bx1, by1 + i - 1, by1 + i, a);
    }
  };
  const std::optional<GridCost> next = line(1);
  const bool blank = next && next->Neighbours < 0.5 * next->Counted;
  int32_t lines = 0;
  if (Fits(next)) {
    lines = 1;
  } else if (Fits(line(2))) {
    lines = blank ? 2 : Fits(line(3)) ? 3 : 0;
  }
  int32_t& edge = side == 0 ? bx0 : side == 1 ? bx1 : side == 2 ? by0 : by1;
  edge += side % 2 ? lines : -lines;
  return lines > 0;
}

// The block heights the rows of `w` tell: in each block row of a mosaic a patch matches best the
// rows q further on (or back), or BH - q back (or on), so the two distances seen most add up to
// the block height.
std::vector<RowHypothesis> ToldBlockRows(const View& v, const TRect& w) {
  std::vector<int> seen(kMaxBlock, 0);
  for (int32_t y : Sample(w.Top, std::max(w.Top + 1, w.Bottom - kTile + 1), 8)) {
    for (int32_t x : Sample(w.Left, std::max(w.Left + 1, w.Right - kTile + 1), 8)) {
      const PatchMatch m = MatchPatch(v, x, y);
      if (m.Valid && m.Further < m.Next) ++seen[static_cast<std::size_t>(m.Lag)];
    }
  }
  std::vector<int32_t> lags;
  for (int32_t d = 2; d < kMaxBlock; ++d) {
    if (seen[static_cast<std::size_t>(d)] >= 2) lags.push_back(d);
  }
  std::sort(lags.begin(), lags.end(), [&](int32_t a, int32_t b) {
    return seen[static_cast<std::size_t>(a)] > seen[static_cast<std::size_t>(b)];
  });
  if (lags.size() > 3) lags.resize(3);
  std::vector<RowHypothesis> told;
  for (std::size_t i = 0; i < lags.size(); ++i) {
    for (std::size_t j = i + 1; j < lags.size(); ++j) {
      const int32_t bh = lags[i] + lags[j];
      const int32_t q = std::min(lags[i], lags[j]);
      if (bh <= kMaxBlock && Gcd(q, bh) == 1) told.push_back({bh, 0, q, 0.0});
    }
  }
  return told;
}

// A mosaic whose block rows are known and whose offset moves the rows (q > 1): in every column
// inside it, each pixel's original neighbour above or below sits q rows on or back in its block,
// and that pair is closer than the pixel's own neighbours; in no column outside it is. So the
// block rows and the columns that hold the mosaic are read straight from the pixels, the columns
// to the pixel, and the block width is not needed: the columns a strip of blocks too narrow for
// a whole block left clear do not follow the rows. A photograph's own rows q apart are never
// closer than the next row, but on smooth photograph the mosaic's own neighbours came from a few
// rows off and are nearly as close as its pairs: a line fits below 0.8 of them.
constexpr double kColumnFitRatio = 0.8;
// The last q rows of a block must pair this much better inside the block than across its end.
constexpr double kWrapRatio = 0.7;
// How far beyond the place looked at the columns are read, each time round.
constexpr int32_t kColumnReach = 64;
// How many columns at each edge may follow no rows (flat picture) ...
constexpr int32_t kEdgeSlack = 3;
// ... if they pair no worse than this against their own neighbours.
constexpr double kPlainRatio = 1.1;
// Whole block columns beside the ones that follow the rows that pair this much better.
constexpr double kGrowRatio = 0.9;
// The block width and offset found from the rows: their pairs at most this close, against the
// pixels beside them; above kMosaicRatio only where no other width comes within this factor.
constexpr double kColumnsLooseRatio = 0.7;
constexpr double kColumnsAloneMargin = 1.1;
// ... and its block rows, moved by a third of a block, must pair at least this much worse.
constexpr double kPhaseRatio = 0.8;
// The block rows are read before the width here, and they rule out the grids of narrow blocks
// that a picture's own neighbours fit: blocks two or three pixels wide are looked for too.
constexpr int32_t kColumnsMinWidth = 2;
// How far the block rows found are tried either way.
constexpr int32_t kRowPolish = 2;

// Whether a line of `count` pixels follows the rows: their pairs closer than their own
// neighbours.
uint8_t LineFits(int64_t pairs, int64_t own, int64_t count) {
  return pairs + count < kColumnFitRatio * static_cast<double>(own + count) ? 1 : 0;
}

// The longest run of lines that fit, with at most `gap` lines in a row between that do not; it
// begins and ends with lines that fit.
bool LongestRun(const std::vector<uint8_t>& fit, int32_t gap, int32_t& from, int32_t& to) {
  int32_t bestLen = 0, start = -1, last = -1, misses = 0;
  const int32_t n = static_cast<int32_t>(fit.size());
  for (int32_t i = 0; i <= n; ++i) {
    const bool fits = i < n && fit[static_cast<std::size_t>(i)] != 0;
    if (fits) {
      if (start < 0) start = i;
      last = i;
      misses = 0;
      continue;
    }
    if (start >= 0 && (++misses > gap || i == n)) {
      if (last - start + 1 > bestLen) bestLen = last - start + 1, from = start, to = last + 1;
      start = -1;
      misses = 0;
    }
  }
  return bestLen > 0;
}

// The closest pairs each block width gave, against the pixels beside them.
using WidthRatios = std::array<double, kMaxBlock + 1>;

// Whether a grid `bw` wide, whose pairs came to `best` of their neighbours, stands alone: no width
// but those that divide it or that it divides (their cells pair the same pixels in part) within
// kColumnsAloneMargin of it. A texture that repeats every few rows (a spring, a fence) pairs about
// as closely under many widths.
bool StandsAlone(const WidthRatios& byWidth, int32_t bw, double best) {
  for (int32_t w1 = kColumnsMinWidth; w1 <= kMaxBlock; ++w1) {
    if (w1 % bw != 0 && bw % w1 != 0 &&
        byWidth[static_cast<std::size_t>(w1)] < kColumnsAloneMargin * best) {
      return false;
    }
  }
  return true;
}

std::optional<MosaicFind> MosaicByColumns(const View& v, const TRect& w,
                                          const RowHypothesis& rows) {
  const int32_t bh = rows.BH, q = rows.Q;
  if (q < 2 || q > bh - 2) return std::nullopt;
  const int32_t x0 = std::max(0, w.Left - kColumnReach), x1 = std::min(v.W, w.Right + kColumnReach);
  const auto floorDiv = [](int32_t p, int32_t d) { return p >= 0 ? p / d : -((-p + d - 1) / d); };
  const int32_t b0 =
      std::max(floorDiv(w.Top - kColumnReach - rows.Top, bh), floorDiv(-rows.Top + bh - 1, bh));
  const int32_t b1 =
      std::min(floorDiv(w.Bottom + kColumnReach - rows.Top, bh) + 1, floorDiv(v.H - rows.Top, bh));
  if (b1 <= b0 || x1 - x0 < kMinBlock) return std::nullopt;
  const int32_t cols = x1 - x0, blockRows = b1 - b0;
  // One column of one block row: the pairs' and the neighbours' summed differences.
  const auto column = [&](int32_t b, int32_t x) {
    const int32_t y0 = rows.Top + (b0 + b) * bh;
    std::pair<int32_t, int32_t> sum{0, 0};
    for (int32_t r = 0; r < bh; ++r) {
      const uint8_t* p = v.Pixel(x, y0 + r);
      sum.first += std::min(Diff3(p, v.Pixel(x, y0 + (r + q) % bh)),
                            Diff3(p, v.Pixel(x, y0 + (r + bh - q) % bh)));
      const int32_t y = y0 + r;
      sum.second += std::min(Diff3(p, v.Pixel(x, y > 0 ? y - 1 : y + 1)),
                             Diff3(p, v.Pixel(x, y + 1 < v.H ? y + 1 : y - 1)));
    }
    return sum;
  };
  // Most places follow no such rows: every 4th column of the place tells it cheaply. The place
  // may hold as much picture as mosaic, so its columns are also counted one by one.
  {
    bool any = false;
    const int32_t from = std::max(w.Left, x0), to = std::min(w.Right, x1);
    for (int32_t b = 0; b < blockRows && !any; ++b) {
      int64_t sp = 0, sn = 0, count = 0;
      int fits = 0, tried = 0;
      for (int32_t x = from; x < to; x += 4) {
        const auto [p, n] = column(b, x);
        sp += p, sn += n, count += bh;
        fits += LineFits(p, n, bh), ++tried;
      }
      any = count > 0 && (LineFits(sp, sn, count) || (fits >= 2 && 3 * fits >= tried));
    }
    if (!any) return std::nullopt;
  }
  std::vector<int32_t> pairs(static_cast<std::size_t>(cols) * blockRows), own(pairs.size());
  for (int32_t b = 0; b < blockRows; ++b) {
    for (int32_t x = x0; x < x1; ++x) {
      const std::size_t i = static_cast<std::size_t>(b) * cols + (x - x0);
      std::tie(pairs[i], own[i]) = column(b, x);
    }
  }
  // Block rows [r0, r1) over columns [c0, c1), and columns over block rows, in turn.
  int32_t c0 = std::max(w.Left, x0) - x0, c1 = std::min(w.Right, x1) - x0;
  int32_t r0 = 0, r1 = blockRows;
  // The summed pair and own differences over block rows and columns, ends exclusive.
  const auto sums = [&](int32_t rowFrom, int32_t rowTo, int32_t colFrom, int32_t colTo) {
    std::pair<int64_t, int64_t> sum{0, 0};
    for (int32_t b = rowFrom; b < rowTo; ++b) {
      for (int32_t c = colFrom; c < colTo; ++c) {
        sum.first += pairs[static_cast<std::size_t>(b) * cols + c];
        sum.second += own[static_cast<std::size_t>(b) * cols + c];
      }
    }
    return sum;
  };
  for (int pass = 0; pass < 2; ++pass) {
    std::vector<uint8_t> fitRows(static_cast<std::size_t>(blockRows), 0);
    for (int32_t b = 0; b < blockRows; ++b) {
      const auto [sp, sn] = sums(b, b + 1, c0, c1);
      // Or a third of its columns one by one, where the place holds picture beside the mosaic (a
      // single block column in a place twice as wide and more).
      int32_t fits = 0;
      for (int32_t c = c0; c < c1; ++c) {
        const std::size_t i = static_cast<std::size_t>(b) * cols + c;
        fits += LineFits(pairs[i], own[i], bh);
      }
      fitRows[static_cast<std::size_t>(b)] =
          LineFits(sp, sn, static_cast<int64_t>(c1 - c0) * bh) || 3 * fits >= c1 - c0 ? 1 : 0;
    }
    if (!LongestRun(fitRows, 0, r0, r1)) return std::nullopt;
    std::vector<uint8_t> fitCols(static_cast<std::size_t>(cols), 0);
    for (int32_t c = 0; c < cols; ++c) {
      const auto [sp, sn] = sums(r0, r1, c, c + 1);
      fitCols[static_cast<std::size_t>(c)] = LineFits(sp, sn, static_cast<int64_t>(r1 - r0) * bh);
    }
    if (!LongestRun(fitCols, 12, c0, c1)) return std::nullopt;
  }
  TRect found{x0 + c0, rows.Top + (b0 + r0) * bh, x0 + c1, rows.Top + (b0 + r1) * bh};
  const int32_t width = found.Right - found.Left;
  if (width < kMinBlock) return std::nullopt;
  const auto [sp, sn] = sums(r0, r1, c0, c1);
  const int64_t count = static_cast<int64_t>(width) * (found.Bottom - found.Top);
  if (count < 256 || found.Bottom - found.Top < kMinSide || width < kMinSide ||
      sp + count >= kColumnFitRatio * static_cast<double>(sn + count)) {
    return std::nullopt;
  }
  // The last q rows of a block pair with rows of their own block, not with the rows q further
  // on in the next one, as rows of a texture that repeats every q rows would.
  int64_t own_block = 0, next_block = 0, wraps = 0;
  for (int32_t b = r0; b < r1; ++b) {
    const int32_t y0 = rows.Top + (b0 + b) * bh;
    for (int32_t r = bh - q; r < bh; ++r) {
      const int32_t y = y0 + r;
      if (y + q >= v.H) continue;
      for (int32_t x = found.Left; x < found.Right; ++x) {
        const uint8_t* p = v.Pixel(x, y);
        own_block += Diff3(p, v.Pixel(x, y + q - bh));
        next_block += Diff3(p, v.Pixel(x, y + q));
        ++wraps;
      }
    }
  }
  if (own_block + wraps >= kWrapRatio * static_cast<double>(next_block + wraps))
    return std::nullopt;
  // And its rows must pair too: some block width and offset that moves the rows by q, the block
  // columns starting at its left edge. A mosaic's first or last columns may hold flat picture that
  // follows no rows: the block columns may start or end up to kEdgeSlack columns further out,
  // where those columns pair about as closely as their neighbours; the width and edges that pair
  // best count.
  // Whether the pixels of block rows [rowFrom, rowTo) and columns [xFrom, xTo) of the picture, read
  // afresh (they may lie beyond the place read), pair closer than `ratio` times their neighbours.
  struct Sums {
    int64_t Pairs = 0, Own = 0, Pixels = 0;
  };
  const auto pairSums = [&](int32_t rowFrom, int32_t rowTo, int32_t xFrom,
                            int32_t xTo) -> std::optional<Sums> {
    if (xFrom < 0 || xTo > v.W || rows.Top + (b0 + rowFrom) * bh < 0 ||
        rows.Top + (b0 + rowTo) * bh > v.H) {
      return std::nullopt;
    }
    Sums total;
    for (int32_t b = rowFrom; b < rowTo; ++b) {
      for (int32_t x = xFrom; x < xTo; ++x) {
        const auto [cp, co] = column(b, x);
        total.Pairs += cp, total.Own += co;
      }
    }
    total.Pixels = static_cast<int64_t>(xTo - xFrom) * (rowTo - rowFrom) * bh;
    return total;
  };
  const auto closer = [](const std::optional<Sums>& s, double ratio) {
    return s && s->Pairs + s->Pixels < ratio * static_cast<double>(s->Own + s->Pixels);
  };
  const auto pairsCloser = [&](int32_t rowFrom, int32_t rowTo, int32_t xFrom, int32_t xTo,
                               double ratio) {
    return xFrom == xTo || closer(pairSums(rowFrom, rowTo, xFrom, xTo), ratio);
  };
  const auto pairsWithin = [&](int32_t from, int32_t to, double ratio) {
    return pairsCloser(r0, r1, from, to, ratio);
  };
  const std::vector<PixelSample> samples = PixelSamples(v, found, 512, 7);
  // Which edge columns are plain, read once for every block width.
  bool plainLeft[kEdgeSlack + 1], plainRight[kEdgeSlack + 1];
  for (int32_t out = 0; out <= kEdgeSlack; ++out) {
    plainLeft[out] = pairsWithin(found.Left - out, found.Left, kPlainRatio);
    plainRight[out] = pairsWithin(found.Right, found.Right + out, kPlainRatio);
  }
  double bestRatio = kColumnsLooseRatio;
  int32_t bw = 0, left = 0;
  WidthRatios byWidth;
  byWidth.fill(std::numeric_limits<double>::infinity());
  for (int32_t w1 = kColumnsMinWidth; w1 <= kMaxBlock; ++w1) {
    const int32_t n = w1 * bh;
    for (int32_t outL = 0; outL <= kEdgeSlack; ++outL) {
      for (int32_t outR = 0; outR <= kEdgeSlack; ++outR) {
        const int32_t l = found.Left - outL, r = found.Right + outR;
        if ((r - l) % w1 != 0 || !plainLeft[outL] || !plainRight[outR]) continue;
        for (int32_t a = 2; 2 * a <= n; ++a) {
          if ((a % bh != q && a % bh != bh - q) || Gcd(a, n) != 1) continue;
          const GridCost c = CostOfGrid(v, samples, l, found.Top, w1, bh, a, true);
          if (c.Counted < 64) continue;
          const double ratio = (c.Pairs + c.Counted) / (c.Neighbours + c.Counted);
          byWidth[static_cast<std::size_t>(w1)] =
              std::min(byWidth[static_cast<std::size_t>(w1)], ratio);
          if (ratio < bestRatio) bestRatio = ratio, bw = w1, left = l;
        }
      }
    }
  }
  if (bw == 0) return std::nullopt;
  // An offset that moves a pixel's neighbours only a row or a column away leaves the pixels
  // beside it nearly as close as its pairs: such a grid counts only if it stands alone.
  const bool loose = bestRatio >= kMosaicRatio;
  if (loose && !StandsAlone(byWidth, bw, bestRatio)) return std::nullopt;
  found.Right = left + (found.Right - left + bw - 1) / bw * bw;
  found.Left = left;
  // Whole block columns beside it whose pixels still pair more closely than their neighbours are
  // part of it too: flat picture inside a mosaic leaves lines that do not follow the rows.
  while (pairsWithin(found.Left - bw, found.Left, kGrowRatio)) found.Left -= bw;
  while (pairsWithin(found.Right, found.Right + bw, kGrowRatio)) found.Right += bw;
  // And so are whole block rows above and below. A block row of one colour (its pixels differ
  // from their neighbours by less than half a level) pairs with nothing, as closely as in place:
  // where the block row beyond it pairs, both join.
  const auto rowsJoining = [&](int32_t b, int32_t step) {
    const std::optional<Sums> next = pairSums(b, b + 1, found.Left, found.Right);
    if (closer(next, kGrowRatio)) return 1;
    const bool blank = next && 2 * next->Own < next->Pixels;
    return blank && pairsCloser(b + step, b + step + 1, found.Left, found.Right, kGrowRatio) ? 2
                                                                                             : 0;
  };
  for (int32_t k = rowsJoining(r0 - 1, -1); k > 0; k = rowsJoining(r0 - 1, -1)) {
    r0 -= k, found.Top -= k * bh;
  }
  for (int32_t k = rowsJoining(r1, 1); k > 0; k = rowsJoining(r1, 1)) {
    r1 += k, found.Bottom += k * bh;
  }
  // The pairs' summed differences with the block rows moved by d rows; none beyond the picture.
  const auto movedCost = [&](int32_t d) -> std::optional<int64_t> {
    if (found.Top + d < 0 || found.Bottom + d > v.H) return std::nullopt;
    int64_t cost = 0;
    for (int32_t y0 = found.Top + d; y0 < found.Bottom + d; y0 += bh) {
      for (int32_t r = 0; r < bh; ++r) {
        for (int32_t x = found.Left; x < found.Right; ++x) {
          const uint8_t* p = v.Pixel(x, y0 + r);
          cost += std::min(Diff3(p, v.Pixel(x, y0 + (r + q) % bh)),
                           Diff3(p, v.Pixel(x, y0 + (r + bh - q) % bh)));
        }
      }
    }
    return cost;
  };
  // A block's first or last rows may be flat picture that pairs with anything: the block rows are
  // set, up to kRowPolish rows either way, where all pairs are closest.
  int64_t closest = std::numeric_limits<int64_t>::max();
  int32_t moveBy = 0;
  for (int32_t d = -kRowPolish; d <= kRowPolish; ++d) {
    const std::optional<int64_t> cost = movedCost(d);
    if (cost && *cost < closest) closest = *cost, moveBy = d;
  }
  // A grid that stood alone only by a margin must also be where its block rows are: moved by a
  // third of a block, a mosaic's pairs fall apart across its block ends, while a texture that
  // repeats every few rows pairs as well anywhere.
  if (loose) {
    const int64_t pixels = PixelCount(found);
    for (const int32_t d : {moveBy - bh / 3, moveBy + bh / 3}) {
      const std::optional<int64_t> cost = movedCost(d);
      if (cost && closest + pixels >= kPhaseRatio * static_cast<double>(*cost + pixels)) {
        return std::nullopt;
      }
    }
  }
  found.Top += moveBy, found.Bottom += moveBy;
  // Ranked by how much closer the pairs are than the neighbours, summed: a part of a block fits
  // as closely as the whole block, but explains less.
  return MosaicFind{found, static_cast<double>(sn - sp)};
}

// The whole blocks of a grid in the place `w` (at most 100 of them, spread evenly), each judged
// on its own cells: how many follow the offset, the box around them and the sums over them.
struct BlockVotes {
  int Fit = 0;
  int32_t Bx0 = 0, Bx1 = 0, By0 = 0, By1 = 0;
  double Pairs = 0, Neighbours = 0;
  int Counted = 0;
};

BlockVotes VoteBlocks(const View& v, const MosaicGrid& g, int32_t a, const TRect& w) {
  BlockVotes votes;
  const auto floorDiv = [](int32_t p, int32_t q) { return p >= 0 ? p / q : -((-p + q - 1) / q); };
  // Blocks with at least half of them in `w` and all of them in the picture.
  const int32_t bx0 =
      std::max(floorDiv(w.Left - g.Left + g.BW / 2, g.BW), floorDiv(-g.Left + g.BW - 1, g.BW));
  const int32_t bx1 =
      std::min(floorDiv(w.Right - g.Left + g.BW / 2, g.BW), floorDiv(v.W - g.Left, g.BW));
  const int32_t by0 =
      std::max(floorDiv(w.Top - g.Top + g.BH / 2, g.BH), floorDiv(-g.Top + g.BH - 1, g.BH));
  const int32_t by1 =
      std::min(floorDiv(w.Bottom - g.Top + g.BH / 2, g.BH), floorDiv(v.H - g.Top, g.BH));
  if (bx1 <= bx0 || by1 <= by0) return votes;
  const int32_t cols = bx1 - bx0, rows = by1 - by0;
  const int32_t stepX = (cols + 9) / 10, stepY = (rows + 9) / 10;
  const int cells = std::min(g.BW * g.BH, 24);
  bool any = false;
  int judged = 0;
  for (int32_t by = by0; by < by1; by += stepY) {
    for (int32_t bx = bx0; bx < bx1; bx += stepX) {
      ++judged;
      double pairs = 0, neighbours = 0;
      for (const CellSample& c :
           CellSamples(g, bx, bx + 1, by, by + 1, cells, 5 + static_cast<uint32_t>(judged))) {
        const PairCost cost =
            PixelPairCost(v, g.Left + bx * g.BW, g.Top + by * g.BH, g.BW, g.BH, c.K, a);
        pairs += cost.Pairs;
        neighbours += cost.Neighbours;
      }
      if (pairs + cells >= kBlocksFitRatio * (neighbours + cells)) continue;
      ++votes.Fit;
      votes.Pairs += pairs;
      votes.Neighbours += neighbours;
      votes.Counted += cells;
      if (!any) {
        votes.Bx0 = bx, votes.Bx1 = bx + 1, votes.By0 = by, votes.By1 = by + 1, any = true;
      } else {
        votes.Bx0 = std::min(votes.Bx0, bx), votes.Bx1 = std::max(votes.Bx1, bx + 1);
        votes.By0 = std::min(votes.By0, by), votes.By1 = std::max(votes.By1, by + 1);
      }
    }
  }
  return votes;
}

// A mosaic that moves its rows, in the place `w` (`told`: the block rows its patches tell). The
// rows are read again from the columns found, which are exact before the block rows are: read
// without the picture beside the mosaic, they are read right more often.
std::optional<MosaicFind> ReadThroughColumns(const View& v, const TRect& w,
                                             const std::vector<RowHypothesis>& told) {
  std::optional<MosaicFind> found;
  TRect place = w;
  for (int pass = 0; pass < 6; ++pass) {
    std::optional<MosaicFind> best;
    for (const RowHypothesis& rows :
         GuessBlockRows(v, place, 12, pass == 0 ? told : ToldBlockRows(v, place), true)) {
      const std::optional<MosaicFind> f = MosaicByColumns(v, place, rows);
      if (f && (!best || f->Score > best->Score)) best = f;
    }
    // Read again around a find, the rows guessed there may miss the find's own: it stays.
    if (!best || (found && best->Score <= found->Score)) break;
    found = best;
    const TRect next{best->Rect.Left, std::max(0, best->Rect.Top - kMaxBlock), best->Rect.Right,
                     std::min(v.H, best->Rect.Bottom + kMaxBlock)};
    if (next == place) break;
    place = next;
  }
  if (!found) return std::nullopt;
  const TRect& r = found->Rect;
  return MosaicFind{r, static_cast<double>(PixelCount(r))};
}

// A mosaic in the place `w` whose block rows are among `rowGuesses`: its block columns and offset
// read from the pixels, the best of them on fresh samples; then the blocks of `w` that follow the
// offset, each judged alone (the picture around a mosaic is no part of it), cut and grown by whole
// columns and rows.
std::optional<MosaicFind> MosaicOnRows(const View& v, const TRect& w,
                                       const std::vector<RowHypothesis>& rowGuesses) {
  const std::vector<PixelSample> samples = PixelSamples(v, w, 128, 1);
  std::vector<GridGuess> guesses;
  for (const RowHypothesis& rows : rowGuesses) GuessBlockColumns(v, w, rows, samples, guesses);
  if (guesses.empty()) return std::nullopt;
  std::sort_heap(guesses.begin(), guesses.end(), ByCost);
  const std::size_t keep = guesses.size();
  const std::vector<PixelSample> fresh = PixelSamples(v, w, 768, 2);
  std::size_t chosen = keep;
  double bestRatio = std::numeric_limits<double>::infinity();
  WidthRatios byWidth;
  byWidth.fill(std::numeric_limits<double>::infinity());
  for (std::size_t i = 0; i < keep; ++i) {
    const GridGuess& g = guesses[i];
    const GridCost c =
        CostOfGrid(v, fresh, g.Grid.Left, g.Grid.Top, g.Grid.BW, g.Grid.BH, g.Offset, true);
    if (c.Counted < 32) continue;
    const double ratio = (c.Pairs / c.Counted + 1.0) / (c.Neighbours / c.Counted + 1.0);
    double& own = byWidth[static_cast<std::size_t>(g.Grid.BW)];
    own = std::min(own, ratio);
    if (ratio < bestRatio) bestRatio = ratio, chosen = i;
  }
  if (chosen == keep) return std::nullopt;
  const MosaicGrid g = guesses[chosen].Grid;
  const int32_t a = guesses[chosen].Offset;
  const BlockVotes votes = VoteBlocks(v, g, a, w);
  if (votes.Fit == 0) return std::nullopt;
  // Over smooth picture, or where the offset moves a pixel's neighbours only a few rows or columns
  // away, the pixels beside each pixel are nearly as close as its pairs: such a grid counts up to
  // kMosaicLooseRatio where it stands alone (as the column reading's does).
  const double voted = (votes.Pairs + votes.Counted) / (votes.Neighbours + votes.Counted);
  if (voted >= kMosaicLooseRatio) return std::nullopt;
  if (voted >= kMosaicRatio && !StandsAlone(byWidth, g.BW, bestRatio)) return std::nullopt;
  int32_t bx0 = votes.Bx0, bx1 = votes.Bx1, by0 = votes.By0, by1 = votes.By1;
  while (bx1 - bx0 > 1 && !BlocksFit(v, g, bx0, bx0 + 1, by0, by1, a)) ++bx0;
  while (bx1 - bx0 > 1 && !BlocksFit(v, g, bx1 - 1, bx1, by0, by1, a)) --bx1;
  while (by1 - by0 > 1 && !BlocksFit(v, g, bx0, bx1, by0, by0 + 1, a)) ++by0;
  while (by1 - by0 > 1 && !BlocksFit(v, g, bx0, bx1, by1 - 1, by1, a)) --by1;
  if (!BlocksFit(v, g, bx0, bx1, by0, by1, a, 0.5)) return std::nullopt;
  for (bool grew = true; grew;) {
    grew = false;
    for (int side = 0; side < 4; ++side) {
      grew = GrowBeyond(v, g, a, bx0, bx1, by0, by1, side) || grew;
    }
  }
  const TRect found{g.Left + bx0 * g.BW, g.Top + by0 * g.BH, g.Left + bx1 * g.BW,
                    g.Top + by1 * g.BH};
  // Judged once more over all of it, on fresh samples, more strictly. Half a level a sample
  // stands for the grain: over a smooth gradient, whose neighbours differ by about a level, a
  // whole level drowned a grid whose pairs were six times closer.
  const GridCost whole =
      CostOfGrid(v, PixelSamples(v, found, 1024, 3), g.Left, g.Top, g.BW, g.BH, a, true);
  if (whole.Counted < 64 || whole.Pairs + 0.5 * whole.Counted >
                                kMosaicFinalRatio * (whole.Neighbours + 0.5 * whole.Counted)) {
    return std::nullopt;
  }
  // Each edge inside the picture must be where shuffled pixels meet the picture: noisier inside
  // than outside, or far less noisy where the picture outside is a texture. A wrong grid fits
  // only part of a mosaic and ends inside it, where both sides are alike.
  const EdgeCheck edges[] = {
      ColumnEdge(v, found, found.Left, -1), ColumnEdge(v, found, found.Right - 1, +1),
      RowEdge(v, found, found.Top, -1), RowEdge(v, found, found.Bottom - 1, +1)};
  // Or, where the mosaic is no noisier than the picture, where its rows match rows further off
  // inside the edge and the picture's rows do not outside it.
  const int32_t strip =
      std::min(kTile, std::min(found.Right - found.Left, found.Bottom - found.Top));
  const TRect outsides[] = {TRect{found.Left - strip, found.Top, found.Left, found.Bottom},
                            TRect{found.Right, found.Top, found.Right + strip, found.Bottom},
                            TRect{found.Left, found.Top - strip, found.Right, found.Top},
                            TRect{found.Left, found.Bottom, found.Right, found.Bottom + strip}};
  const TRect insides[] = {TRect{found.Left, found.Top, found.Left + strip, found.Bottom},
                           TRect{found.Right - strip, found.Top, found.Right, found.Bottom},
                           TRect{found.Left, found.Top, found.Right, found.Top + strip},
                           TRect{found.Left, found.Bottom - strip, found.Right, found.Bottom}};
  for (int side = 0; side < 4; ++side) {
    const EdgeCheck& e = edges[side];
    if (e.Border || e.Outside > 1.5 * e.Inside + 2.0) continue;
    if (StripLagEvidence(v, insides[side]) >= kLagEvidence &&
        StripLagEvidence(v, outsides[side]) < kLagEdgeOutside) {
      continue;
    }
    if (e.Inside < 1.3 * e.Outside + 0.5 || e.Wins < 0.65) return std::nullopt;
  }
  // A mosaic of smaller blocks that divide these pairs its cells about as closely: then the blocks
  // found may be several true ones, and the edges off by a part of a block. Both relations count
  // (the one to the side alone is the same for blocks half as high), and of the many smaller grids
  // and offsets one may do so on some samples by chance: it must do so again on others.
  const std::vector<PixelSample> inside = PixelSamples(v, found, 512, 4);
  const std::vector<PixelSample> again = PixelSamples(v, found, 512, 5);
  const GridCost own = CostOfGrid(v, inside, g.Left, g.Top, g.BW, g.BH, a, true);
  const GridCost ownAgain = CostOfGrid(v, again, g.Left, g.Top, g.BW, g.BH, a, true);
  const auto asClose = [](const GridCost& c, const GridCost& mine) {
    return c.Counted >= 64 && (c.Pairs + c.Counted) * (mine.Neighbours + mine.Counted) <
                                  1.1 * (mine.Pairs + mine.Counted) * (c.Neighbours + c.Counted);
  };
  for (int32_t bw = 2; bw <= g.BW; ++bw) {
    if (g.BW % bw != 0) continue;
    for (int32_t bh = 2; bh <= g.BH; ++bh) {
      if (g.BH % bh != 0 || (bw == g.BW && bh == g.BH)) continue;
      const int32_t n = bw * bh;
      for (int32_t b = 2; 2 * b <= n; ++b) {
        if (Gcd(b, n) != 1) continue;
        if (asClose(CostOfGrid(v, inside, g.Left, g.Top, bw, bh, b, true), own) &&
            asClose(CostOfGrid(v, again, g.Left, g.Top, bw, bh, b, true), ownAgain)) {
          return std::nullopt;
        }
      }
    }
  }
  return MosaicFind{found, static_cast<double>(PixelCount(found)), RowsInOrder(a, g.BH)};
}

// A mosaic whose offset keeps each column's rows in order (q' = 1) leaves every column of a block
// a column of the picture, turned round in the block, and shuffles the columns: inside it each
// pixel is far less like the pixels beside it than like those above and below it, line by line,
// while the picture around it is not. So the columns and rows it covers are read from that; then
// its block rows from the one place in each column where it wraps round (a block's last row holds
// the picture's row above its first), and its block columns and offset from the pairs.
constexpr double kAcrossFit = 1.15;  // a line inside: this much less like the pixels beside it
constexpr int32_t kAcrossGap = 4;    // lines in a row inside that need not show it (flat picture)
constexpr double kAcrossWrap = 0.8;  // a block's last row: this much closer to its first
constexpr double kAcrossEdgeShare = 0.5;
// The edges come from the pixels, not from the grid, so narrow blocks are looked for too; but a
// block two rows high has its last row next to its first, which tells nothing.
constexpr int32_t kAcrossMinWidth = 2;
constexpr int32_t kAcrossMinHeight = 3;
// How much closer blocks twice as high as those the rows tell must pair to be taken instead: a
// mosaic of the lower height fits the doubled one too.
constexpr double kTwiceGain = 0.85;
constexpr int32_t kAcrossSpan = 1024;
// The pairs of the grid found against the neighbours. Looser than for a mosaic of other rows:
// only the pixels beside each pixel count, and on smooth picture they are close already.
constexpr double kAcrossFinalRatio = 0.75;
// How much more the picture must break at the side edges of a grid shifted by a column.
constexpr int64_t kPhaseBreak = 2;

// How unlike pixel (x, y) is the nearer of its two neighbours (dx, dy) away: 0 with none.
int NearerDiff(const View& v, int32_t x, int32_t y, int32_t dx, int32_t dy) {
  const uint8_t* p = v.Pixel(x, y);
  int best = std::numeric_limits<int>::max();
  if (x - dx >= 0 && y - dy >= 0) best = Diff3(p, v.Pixel(x - dx, y - dy));
  if (x + dx < v.W && y + dy < v.H) best = std::min(best, Diff3(p, v.Pixel(x + dx, y + dy)));
  return best == std::numeric_limits<int>::max() ? 0 : best;
}

// The longest run of columns (or rows) whose pixels in the band [bandFrom, bandTo) of rows (or
// columns) are less like those beside them than those above and below, looked for kColumnReach
// beyond [from, to) and further while the run reaches the end of what was read.
bool AcrossRun(const View& v, bool columns, int32_t from, int32_t to, int32_t bandFrom,
               int32_t bandTo, int32_t& runFrom, int32_t& runTo) {
  const int32_t limit = columns ? v.W : v.H;
  // At most kAcrossSpan lines (the middle ones of a larger place), each read on at most 128
  // pixels spread over the band.
  if (to - from > kAcrossSpan - 2 * kColumnReach) {
    from = (from + to) / 2 - (kAcrossSpan / 2 - kColumnReach);
    to = from + kAcrossSpan - 2 * kColumnReach;
  }
  int32_t lo = std::max(0, from - kColumnReach), hi = std::min(limit, to + kColumnReach);
  const std::vector<int32_t> band = Sample(bandFrom, bandTo, 128);
  std::vector<double> ratios;
  std::vector<uint8_t> fit;
  const auto run = [&](double bound, int32_t& a, int32_t& b) {
    fit.resize(ratios.size());
    for (std::size_t i = 0; i < ratios.size(); ++i) fit[i] = ratios[i] > bound ? 1 : 0;
    return LongestRun(fit, kAcrossGap, a, b);
  };
  const auto ratio = [&](int32_t line) {
    int64_t across = 0, down = 0;
    for (const int32_t i : band) {
      const int32_t x = columns ? line : i, y = columns ? i : line;
      across += NearerDiff(v, x, y, 1, 0);
      down += NearerDiff(v, x, y, 0, 1);
    }
    const int64_t n = static_cast<int64_t>(band.size());
    return static_cast<double>(across + n) / static_cast<double>(down + n);
  };
  for (int32_t line = lo; line < hi; ++line) ratios.push_back(ratio(line));
  int32_t a = 0, b = 0;
  for (;;) {
    if (!run(kAcrossFit, a, b)) return false;
    const bool growLow = a == 0 && lo > 0, growHigh = b == hi - lo && hi < limit;
    if ((!growLow && !growHigh) || hi - lo >= kAcrossSpan) break;
    if (growLow) {
      const int32_t end = lo;
      lo = std::max(0, lo - 2 * kColumnReach);
      std::vector<double> more;
      for (int32_t line = lo; line < end; ++line) more.push_back(ratio(line));
      ratios.insert(ratios.begin(), more.begin(), more.end());
    }
    if (growHigh) {
      const int32_t start = hi;
      hi = std::min(limit, hi + 2 * kColumnReach);
      for (int32_t line = start; line < hi; ++line) ratios.push_back(ratio(line));
    }
  }
  // Where the lines inside stand far apart, picture with lines of its own beside them (grass,
  // stems) may pass the first bound: then the bound is halfway to the lines inside.
  std::vector<double> inside(ratios.begin() + a, ratios.begin() + b);
  std::nth_element(inside.begin(), inside.begin() + static_cast<std::ptrdiff_t>(inside.size() / 2),
                   inside.end());
  const double bound = 1.0 + (inside[inside.size() / 2] - 1.0) * kAcrossEdgeShare;
  if (bound > kAcrossFit) {
    int32_t a2 = 0, b2 = 0;
    if (run(bound, a2, b2)) a = a2, b = b2;
  }
  runFrom = lo + a, runTo = lo + b;
  return true;
}

std::optional<MosaicFind> MosaicAcross(const View& v, const TRect& w) {
  TRect r = w;
  for (int pass = 0; pass < 2; ++pass) {
    int32_t from = 0, to = 0;
    if (!AcrossRun(v, true, r.Left, r.Right, r.Top, r.Bottom, from, to)) return std::nullopt;
    r.Left = from, r.Right = to;
    if (!AcrossRun(v, false, r.Top, r.Bottom, r.Left, r.Right, from, to)) return std::nullopt;
    r.Top = from, r.Bottom = to;
  }
  if (r.Right - r.Left < kMinBlock || r.Bottom - r.Top < kMinBlock) return std::nullopt;
  // The block rows: each block's last row closer to its first than to the row below it. Of every
  // height and first row, the one whose blocks in the rows read gain most so, summed.
  const std::vector<int32_t> cols = Sample(r.Left, r.Right, 64);
  const auto rowDiff = [&](int32_t y1, int32_t y2) {
    int64_t sum = 0;
    for (const int32_t x : cols) sum += Diff3(v.Pixel(x, y1), v.Pixel(x, y2));
    return sum;
  };
  int64_t bestGain = 0, bestWrap = 0, bestNext = 0;
  int32_t bh = 0, top = 0;
  // (Of a tall rectangle, its middle 256 rows: the rows repeat.)
  const int32_t rowsFrom = std::max(r.Top, (r.Top + r.Bottom) / 2 - 128) - kEdgeSlack;
  const int32_t rowsTo =
      std::min(v.H, std::min(r.Bottom, (r.Top + r.Bottom) / 2 + 128) + kEdgeSlack);
  for (int32_t h = kAcrossMinHeight; h <= kMaxBlock && h <= rowsTo - rowsFrom; ++h) {
    for (int32_t phase = 0; phase < h; ++phase) {
      int32_t first = std::max(0, rowsFrom);
      first += ((phase - first) % h + h) % h;
      int64_t wrap = 0, next = 0;
      for (int32_t y0 = first; y0 + h <= rowsTo; y0 += h) {
        const int32_t last = y0 + h - 1;
        wrap += rowDiff(last, y0);
        next += last + 1 < v.H ? rowDiff(last, last + 1) : (y0 > 0 ? rowDiff(y0, y0 - 1) : 0);
      }
      if (next - wrap > bestGain)
        bestGain = next - wrap, bestWrap = wrap, bestNext = next, bh = h, top = first;
    }
  }
  if (bh == 0 || static_cast<double>(bestWrap) >= kAcrossWrap * static_cast<double>(bestNext)) {
    return std::nullopt;
  }
  // The block columns and offset: those whose pairs are closest in the block rows read (to half a
  // block either way), the edges within kEdgeSlack of the columns read. Blocks twice as high, in
  // both phases, are tried too: where each column's rows run backwards in its block, half a block
  // pairs its last row with its first as closely as the whole one, and no grid of that height
  // pairs the pixels beside (a single column of blocks, read one column too wide).
  double bestRatio = kMosaicRatio;
  int32_t bw = 0, left = 0, right = 0, offset = 0, bottom = 0;
  std::vector<PixelSample> samples;
  TRect blockRows{};
  const int32_t readHeight = bh, readTop = top;
  double single = bestRatio;
  for (int32_t twice = 0; twice < 3; ++twice) {
    if (twice == 1) single = bestRatio;
    const int32_t h = twice == 0 ? readHeight : 2 * readHeight;
    if (h > kMaxBlock) break;
    const int32_t phase = (twice == 2 ? readTop + readHeight : readTop) % h;
    int32_t t = std::max(0, r.Top - h / 2);
    t += ((phase - t) % h + h) % h;
    int32_t b = t;
    while (b + h <= std::min(v.H, r.Bottom + h / 2)) b += h;
    if (b == t) {
      if (twice == 0) return std::nullopt;
      continue;
    }
    const TRect rows{r.Left, t, r.Right, b};
    const std::vector<PixelSample> these = PixelSamples(v, rows, 384, 8);
    if (twice == 0) samples = these, blockRows = rows, bh = h, top = t, bottom = b;
    for (int32_t l = std::max(0, r.Left - kEdgeSlack); l <= r.Left + kEdgeSlack; ++l) {
      for (int32_t rr = r.Right - kEdgeSlack; rr <= std::min(v.W, r.Right + kEdgeSlack); ++rr) {
        for (int32_t w1 = kAcrossMinWidth; w1 <= kMaxBlock && w1 <= rr - l; ++w1) {
          if ((rr - l) % w1 != 0) continue;
          const int32_t n = w1 * h;
          for (int32_t a = 2; 2 * a <= n; ++a) {
            if (!RowsInOrder(a, h) || Gcd(a, n) != 1) continue;
            const GridCost c = CostOfGrid(v, these, l, t, w1, h, a, true);
            if (c.Counted < 64) continue;
            const double ratio = (c.Pairs + c.Counted) / (c.Neighbours + c.Counted);
            if (ratio < bestRatio && (twice == 0 || ratio < kTwiceGain * single)) {
              bestRatio = ratio, bw = w1, left = l, right = rr, offset = a;
              samples = these, blockRows = rows, bh = h, top = t, bottom = b;
            }
          }
        }
      }
    }
  }
  if (bw == 0) {
    // Flat picture inside the mosaic may have ended the run of columns inside a block, at either
    // end: then every width and first column, as for a mosaic that moves its rows (the first
    // column is looked for in the run), and the blocks the run holds whole.
    std::vector<GridGuess> guesses;
    GuessBlockColumns(v, blockRows, RowHypothesis{bh, top, 1, 0.0}, samples, guesses);
    const std::vector<PixelSample> fresh = PixelSamples(v, blockRows, 768, 2);
    for (const GridGuess& guess : guesses) {
      const MosaicGrid& g = guess.Grid;
      const GridCost c = CostOfGrid(v, fresh, g.Left, g.Top, g.BW, g.BH, guess.Offset, true);
      if (c.Counted < 64) continue;
      const double ratio = (c.Pairs + c.Counted) / (c.Neighbours + c.Counted);
      if (ratio >= bestRatio) continue;
      const int32_t last = g.Left + (r.Right - g.Left) / g.BW * g.BW;
      if (last <= g.Left) continue;
      bestRatio = ratio, bw = g.BW, left = g.Left, right = last, offset = guess.Offset;
    }
    if (bw == 0) return std::nullopt;
  }
  // Block rows at the ends that do not follow the offset are cut, those beyond that do added;
  // then block columns beyond the run (smooth picture inside the mosaic may have ended it early).
  const MosaicGrid g{left, top, bw, bh};
  int32_t bx0 = 0, bx1 = (right - left) / bw;
  int32_t by0 = 0, by1 = (bottom - top) / bh;
  while (by1 - by0 > 1 && !BlocksFit(v, g, 0, bx1, by0, by0 + 1, offset)) ++by0;
  while (by1 - by0 > 1 && !BlocksFit(v, g, 0, bx1, by1 - 1, by1, offset)) --by1;
  for (const int side : {2, 3, 0, 1}) {
    while (GrowBeyond(v, g, offset, bx0, bx1, by0, by1, side)) {
    }
  }
  TRect found{left + bx0 * bw, top + by0 * bh, left + bx1 * bw, top + by1 * bh};
  // The pairs place the grid to a column: shifted by one, it leaves out one line of pixels and
  // takes in another, which hardly changes them where the mosaic's outermost column is flat. The
  // picture breaks where the mosaic ends: the grid moves a column where its side edges break twice
  // as much, by a level a row at least.
  const auto breaks = [&](int32_t shift) {
    const int32_t l = found.Left + shift, rr = found.Right + shift;
    if (l < 1 || rr >= v.W) return int64_t{-1};
    int64_t sum = 0;
    for (int32_t y = found.Top; y < found.Bottom; ++y) {
      sum += Diff3(v.Pixel(l - 1, y), v.Pixel(l, y)) + Diff3(v.Pixel(rr - 1, y), v.Pixel(rr, y));
    }
    return sum;
  };
  const int64_t own = breaks(0);
  for (const int32_t shift : {-1, 1}) {
    const int64_t there = breaks(shift);
    if (own >= 0 && there > kPhaseBreak * own && there >= found.Bottom - found.Top) {
      left += shift, found.Left += shift, found.Right += shift;
      break;
    }
  }
  // Judged once more over all of it, on fresh samples.
  const GridCost whole =
      CostOfGrid(v, PixelSamples(v, found, 1024, 3), left, top, bw, bh, offset, true);
  if (whole.Counted < 64 ||
      whole.Pairs + whole.Counted >= kAcrossFinalRatio * (whole.Neighbours + whole.Counted)) {
    return std::nullopt;
  }
  return MosaicFind{found, static_cast<double>(PixelCount(found))};
}

// The pixel of a large place around which its mosaic is read, where the evidence that made the
// place is densest; none: its middle.
struct Focus {
  int32_t X = -1, Y = -1;
};

// The part of [from, to) at most `span` long, around `at` (its middle when `at` is negative).
void Narrow(int32_t& from, int32_t& to, int32_t span, int32_t at) {
  if (to - from <= span) return;
  const int32_t middle = at < 0 ? (from + to) / 2 : std::clamp(at, from + span / 2, to - span / 2);
  from = middle - span / 2, to = from + span;
}

// A mosaic in the place `w`, its grid read from the pixels: its block rows from the columns, then
// its block columns and offset, the best of them on fresh samples; then the blocks of `w` that
// follow the offset, each judged alone (the picture around a mosaic is no part of it), cut and
// grown by whole columns and rows.
std::optional<MosaicFind> FindMosaicIn(const View& v, TRect w, Focus focus = {}) {
  if (w.Right - w.Left < 4 || w.Bottom - w.Top < 4) return std::nullopt;
  // At most 256 x 256 of a large place: the grid repeats.
  Narrow(w.Left, w.Right, 256, focus.X);
  Narrow(w.Top, w.Bottom, 256, focus.Y);
  const std::vector<RowHypothesis> told = ToldBlockRows(v, w);
  if (std::optional<MosaicFind> found = ReadThroughColumns(v, w, told)) return found;
  return MosaicOnRows(v, w, GuessBlockRows(v, w, 2, told));
}

// The rough rectangle may reach beyond the mosaic, and rows and columns of the picture in the
// place the grid is read from spoil the reading: its inner half is tried too. Or it may cover
// less than one whole block row of tall blocks, where only part of a strip stood out: where its
// rows match rows further off, half the largest block more above and below.
std::optional<MosaicFind> FindMosaic(const View& v, const TRect& r, Focus focus = {}) {
  if (std::optional<MosaicFind> found = FindMosaicIn(v, r, focus)) return found;
  const int32_t qx = (r.Right - r.Left) / 4, qy = (r.Bottom - r.Top) / 4;
  if (qx >= 8 && qy >= 8) {
    if (std::optional<MosaicFind> found =
            FindMosaicIn(v, TRect{r.Left + qx, r.Top + qy, r.Right - qx, r.Bottom - qy}, focus)) {
      return found;
    }
  }
  if (r.Bottom - r.Top >= kMaxBlock + kMaxBlock / 2 || ToldBlockRows(v, r).empty()) {
    return std::nullopt;
  }
  return FindMosaicIn(v, TRect{r.Left, std::max(0, r.Top - kMaxBlock / 2), r.Right,
                               std::min(v.H, r.Bottom + kMaxBlock / 2)});
}

// Where in a group of cells larger than the 256 x 256 pixels a mosaic is read from (a place that
// took in a whole textured photograph, its mosaic in one corner) the cells stand most above
// `threshold`: the middle of the densest such window, in pixels.
Focus DensestWindow(const TileMap& map, const Blob& blob, float threshold, int32_t cell) {
  const int32_t cols = blob.Right - blob.Left, rows = blob.Bottom - blob.Top;
  const int32_t kc = std::min(cols, 256 / cell), kr = std::min(rows, 256 / cell);
  if (kc == cols && kr == rows) return {};
  // Sums over every rectangle of cells from the sums from the top-left corner.
  std::vector<double> sums(static_cast<std::size_t>(cols + 1) * (rows + 1), 0.0);
  const auto sum = [&](int32_t c, int32_t r) -> double& {
    return sums[static_cast<std::size_t>(r) * (cols + 1) + c];
  };
  for (int32_t r = 0; r < rows; ++r) {
    for (int32_t c = 0; c < cols; ++c) {
      sum(c + 1, r + 1) = sum(c, r + 1) + sum(c + 1, r) - sum(c, r) +
                          std::max(0.0f, map.At(blob.Left + c, blob.Top + r) - threshold);
    }
  }
  double best = -1;
  Focus focus;
  for (int32_t r = 0; r + kr <= rows; ++r) {
    for (int32_t c = 0; c + kc <= cols; ++c) {
      const double weight = sum(c + kc, r + kr) - sum(c, r + kr) - sum(c + kc, r) + sum(c, r);
      if (weight > best) {
        best = weight;
        focus = {(blob.Left + c) * cell + kc * cell / 2, (blob.Top + r) * cell + kr * cell / 2};
      }
    }
  }
  return focus;
}

// The smallest picture whose slow searches run on a second thread.
constexpr int64_t kBesideMinPixels = int64_t{1} << 22;

}  // namespace

std::optional<TRect> DetectScrambledRect(const Bitmap& source) {
  return DetectScrambledRect(source, MachineThreads());
}

std::optional<TRect> DetectScrambledRect(const Bitmap& source, unsigned threads) {
  if (source.IsEmpty()) return std::nullopt;
  threads = std::max(threads, 1u);
  Bitmap converted;
  const Bitmap* bitmap = &source;
  if (source.Format() != PixelFormat::Bits24) {
    converted = source;
    converted.ConvertTo24();
    bitmap = &converted;
  }
  const View v(*bitmap);
  const TileMap map = NoiseTiles(v, threads);
  // A rotation that undoing turns grey again is told from anything else at once.
  if (const std::optional<TRect> grey = GreyRotation(v, map)) return grey;
  // Needed later, and only when nothing else was found: on a second thread meanwhile, the rows
  // that match rows further off first. On a smaller picture the thread beside slowed the
  // detector's own steps more than it saved.
  const bool large = static_cast<int64_t>(v.W) * v.H >= kBesideMinPixels;
  ResultsBeside<LagMap, std::vector<Seam>> beside(
      threads > 1 && large, [&](const std::atomic<bool>& stop) { return LagEvidence(v, stop); },
      [&](const std::atomic<bool>& stop) { return ByteSeams(v, stop); });

  std::vector<float> sorted = map.Mean;
  std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
  const float background = sorted[sorted.size() / 2];

  std::optional<TRect> best;
  double bestScore = 0;
  struct MosaicCandidate {
    TRect Rect;
    double Weight;
    Focus Densest;
  };
  std::vector<MosaicCandidate> mosaicCandidates, acrossPlaces;
  // Tiles far noisier than most of the picture; a picture that is noisy all over (scrambled
  // whole) still has its tiles above the bound of 80; and noise as strong as random bytes
  // (XOR) stands apart from a textured neighbourhood only above the last one.
  std::vector<float> thresholds;
  for (const float factor : {2.5f, 4.0f, 8.0f, 16.0f}) {
    thresholds.push_back(std::clamp(factor * background, 3.0f * factor, 80.0f));
  }
  thresholds.push_back(130.0f);
  thresholds.erase(std::unique(thresholds.begin(), thresholds.end()), thresholds.end());
  // One rectangle was rotated, so of two bit-shifted finds one inside the other, the outer one is
  // it: undoing a rotation on part of a rotated row restores that part too, and a small piece
  // whose edges happen to join the rotated pixels around it must not outbid the whole. Unless the
  // outer one reaches the border where the inner one does not: no edge is judged there.
  const auto encloses = [&](const TRect& outer, const TRect& inner) {
    return Holds(outer, inner) && (outer.Left == inner.Left || outer.Left > 0) &&
           (outer.Top == inner.Top || outer.Top > 0) &&
           (outer.Right == inner.Right || outer.Right < v.W) &&
           (outer.Bottom == inner.Bottom || outer.Bottom < v.H);
  };
  const auto takeShift = [&](const ShiftFind& shifted) {
    const double score = 1000.0 + shifted.Score;
    const bool shiftFound = best && bestScore >= 1000.0;
    if (shiftFound && encloses(*best, shifted.Rect)) return;
    if (!best || score > bestScore || (shiftFound && encloses(shifted.Rect, *best))) {
      best = shifted.Rect;
      bestScore = score;
    }
  };
  // The heaviest few groups of tiles above a threshold, and the rectangle of a group's tiles.
  const auto heaviest = [&](float threshold) {
    std::vector<Blob> blobs = Blobs(map, threshold);
    std::sort(blobs.begin(), blobs.end(),
              [](const Blob& a, const Blob& b) { return a.Weight > b.Weight; });
    if (blobs.size() > 6) blobs.resize(6);
    return blobs;
  };
  const auto tilesOf = [&](const Blob& blob) {
    return TRect{blob.Left * kTile, blob.Top * kTile, std::min(blob.Right * kTile, v.W),
                 std::min(blob.Bottom * kTile, v.H)};
  };
  for (const float threshold : thresholds) {
    for (const Blob& blob : heaviest(threshold)) {
      const TRect rough = tilesOf(blob);
      const TRect r = Refine(v, rough);
      const Verdict verdict = Judge(v, r);
      if (verdict.Accepted && (!best || verdict.Score > bestScore)) {
        best = r;
        bestScore = verdict.Score;
      }
      if (ChannelAgreement(v, r) >= 0.5) {
        // Whole pixels moved (the channels change together): perhaps a mosaic, whose noise
        // edges may also have passed as a rectangle of noise.
        mosaicCandidates.push_back({r, blob.Weight, DensestWindow(map, blob, threshold, kTile)});
      }
      if (const std::optional<ShiftFind> shifted = FindShift(v, rough, 0)) {
        // Undoing the shift explains the edges: that beats any other reading.
        takeShift(*shifted);
      }
    }
  }
  // Smooth scrambles (bit shifts that keep the picture's look) show only at their edges.
  for (const Seam& seam : map.Seams) {
    const TRect asLeft{seam.X, seam.Top, std::min(seam.X + 2 * kTile, v.W), seam.Bottom};
    const TRect asRight{std::max(seam.X - 2 * kTile, 0), seam.Top, seam.X, seam.Bottom};
    for (const int side : {-1, 1}) {
      if (const std::optional<ShiftFind> shifted =
              FindShift(v, side < 0 ? asLeft : asRight, side)) {
        takeShift(*shifted);
      }
    }
  }
  // A rectangle found by its noise edges alone whose channels change together may be a mosaic,
  // whose edges the grid places exactly.
  if (best && bestScore >= 1000.0) return best;
  if (best && ChannelAgreement(v, *best) < 0.5) {
    // Noise whose channels change apart: XOR, or the blocks of a mosaic that mix pixels of two
    // colours (pink petals and yellow ones), which only the rest of its grid tells. Read around
    // XOR noise, a grid may take in a line or two of the picture beside it; a mosaic's reaches
    // well beyond the blocks found as noise: it counts where it covers twice as much and more.
    // Only a narrow find is read so (a column or row of blocks): around a large XOR rectangle
    // the reading cost more than the rest of the search.
    const bool narrow =
        std::min(best->Right - best->Left, best->Bottom - best->Top) <= 2 * kMaxBlock;
    if (const std::optional<MosaicFind> mosaic = narrow ? FindMosaic(v, *best) : std::nullopt) {
      if (Holds(mosaic->Rect, *best) && PixelCount(mosaic->Rect) >= 2 * PixelCount(*best)) {
        return mosaic->Rect;
      }
    }
    return best;
  }
  // The heaviest few candidates that do not overlap one already taken: first where rows match
  // rows further off, then the noisy places.
  std::sort(mosaicCandidates.begin(), mosaicCandidates.end(),
            [](const MosaicCandidate& a, const MosaicCandidate& b) { return a.Weight > b.Weight; });
  {
    // One cell alone is as often the picture's own rows. A cell at the mosaic's edge may hold too
    // little of it to count: one more all round.
    const auto places = [&](const LagMap& lattice, float threshold, float reach, std::size_t keep,
                            std::vector<MosaicCandidate>& out) {
      std::vector<Blob> blobs = Blobs(lattice.Map, threshold, reach);
      blobs.erase(
          std::remove_if(blobs.begin(), blobs.end(), [](const Blob& b) { return b.Count < 2; }),
          blobs.end());
      std::sort(blobs.begin(), blobs.end(),
                [](const Blob& a, const Blob& b) { return a.Weight > b.Weight; });
      if (blobs.size() > keep) blobs.resize(keep);
      const int32_t cell = lattice.Cell;
      for (const Blob& blob : blobs) {
        out.push_back(
            {TRect{std::max(0, (blob.Left - 1) * cell), std::max(0, (blob.Top - 1) * cell),
                   std::min((blob.Right + 1) * cell, v.W), std::min((blob.Bottom + 1) * cell, v.H)},
             blob.Weight, DensestWindow(lattice.Map, blob, threshold, cell)});
      }
    };
    std::vector<MosaicCandidate> rowMatches;
    places(beside.Get<0>(), kLagEvidence, kLagReach, kMosaicTries, rowMatches);
    places(AcrossEvidence(v), kAcrossEvidence, kAcrossEvidence, 2, acrossPlaces);
    rowMatches.insert(rowMatches.end(), acrossPlaces.begin(), acrossPlaces.end());
    // The noisiest place whose channels change together comes second: a large mosaic over
    // textured picture, whose rows match here and there only.
    const std::size_t first = std::min<std::size_t>(rowMatches.size(), 1);
    mosaicCandidates.insert(mosaicCandidates.begin() + (mosaicCandidates.empty() ? 0 : 1),
                            rowMatches.begin() + first, rowMatches.end());
    mosaicCandidates.insert(mosaicCandidates.begin(), rowMatches.begin(),
                            rowMatches.begin() + first);
  }
  std::vector<TRect> tried;
  std::optional<MosaicFind> bestMosaic;
  const auto tryPlace = [&](const TRect& place, std::size_t limit, Focus focus = {}) {
    if (tried.size() >= limit) return;
    const bool seen = std::any_of(tried.begin(), tried.end(), [&](const TRect& t) {
      return std::max(t.Left, place.Left) < std::min(t.Right, place.Right) &&
             std::max(t.Top, place.Top) < std::min(t.Bottom, place.Bottom);
    });
    if (seen) return;
    tried.push_back(place);
    if (const std::optional<MosaicFind> mosaic = FindMosaic(v, place, focus)) {
      if (!bestMosaic || mosaic->Score > bestMosaic->Score) bestMosaic = mosaic;
    }
  };
  for (const MosaicCandidate& c : mosaicCandidates) tryPlace(c.Rect, kMosaicTries, c.Densest);
  // A mosaic over sky or a bare wall changes the picture by a level or two: its tiles stand out
  // from the flat picture around them but stay under the floors above. The places above lower
  // floors are read too, up to kFaintTries more, for a mosaic only: given to the noise and
  // rotation readings as well, they cost rotations found. Whether the channels change together
  // is not asked here: on a gradient whose channels run their own ways (violet into magenta), a
  // pixel moved a few places differs from its new neighbours by a level in one channel and not
  // in the next, and the grid read decides. Last, where places are left to read, those above
  // six times the picture's own noise: on a flat wall (a noise of 0.06 a tile) a mosaic that
  // moves pixels a level apart stands out tenfold and still stays under those floors.
  for (const float threshold :
       {std::clamp(2.5f * background, 2.5f, 80.0f), std::clamp(4.0f * background, 4.0f, 80.0f),
        std::max(6.0f * background, kDeepFloor)}) {
    if (tried.size() >= kMosaicTries + kFaintTries || threshold >= thresholds.front()) continue;
    for (const Blob& blob : heaviest(threshold)) {
      tryPlace(Refine(v, tilesOf(blob)), kMosaicTries + kFaintTries);
    }
  }
  if (bestMosaic && !bestMosaic->InOrder) return bestMosaic->Rect;
  // Where no grid was read, or one that keeps the rows in order, the places again, those whose
  // columns stand apart and the rectangle found, as a mosaic that keeps its rows in order, read
  // from its columns alone. This reading may take a mosaic of other rows for one of these, so it
  // comes last, and the rectangle found stays unless the reading holds all of it.
  if (bestMosaic) best = bestMosaic->Rect;
  for (const MosaicCandidate& c : acrossPlaces) tried.push_back(c.Rect);
  if (best) tried.push_back(*best);
  std::optional<MosaicFind> across;
  for (auto place = tried.begin(); place != tried.end(); ++place) {
    if (std::find(tried.begin(), place, *place) != place) continue;  // read already
    if (const std::optional<MosaicFind> mosaic = MosaicAcross(v, *place)) {
      if (!across || mosaic->Score > across->Score) across = mosaic;
    }
  }
  if (across && (!best || Holds(across->Rect, *best))) {
    return across->Rect;
  }
  if (best) return best;
  // Last, the edges that only undoing a whole-byte rotation joins to the picture.
  for (const Seam& seam : beside.Get<1>()) {
    const int side = seam.Shift > 0 ? -1 : 1;
    const TRect rough =
        side < 0 ? TRect{seam.X, seam.Top, std::min(seam.X + 2 * kTile, v.W), seam.Bottom}
                 : TRect{std::max(seam.X - 2 * kTile, 0), seam.Top, seam.X, seam.Bottom};
    const std::optional<ShiftFind> shifted = FindShift(v, rough, side, seam.Shift);
    // A reading that moved the seam's own edge no longer rests on it: the rotation of another
    // width read from a seam may leave its rows for the picture beside them and run on to the
    // border, where no edge is judged.
    if (shifted && (side < 0 ? shifted->Rect.Left : shifted->Rect.Right) != seam.X) continue;
    if (shifted) {
      // A whole-byte rotation leaves the picture as smooth as it was; a place far noisier than
      // most of the picture is another scramble (a mosaic not found), whose shuffled pixels
      // join by chance here and there, unless its edges join as clearly as a rotation found by
      // its noise must (a rotation over textured picture).
      double noise = 0;
      int32_t tiles = 0;
      for (int32_t r = shifted->Rect.Top / kTile; r * kTile < shifted->Rect.Bottom; ++r) {
        for (int32_t c = shifted->Rect.Left / kTile; c * kTile < shifted->Rect.Right; ++c) {
          noise += map.At(c, r), ++tiles;
        }
      }
      if (tiles > 0 && noise / tiles > std::max(kByteNoisyFactor * background, kByteNoisy) &&
          shifted->Score < kMinByteShiftEdgeGain) {
        continue;
      }
      if (!best || shifted->Score > bestScore) {
        best = shifted->Rect;
        bestScore = shifted->Score;
      }
    }
  }
  return best;
}

}  // namespace kavun
