// Draws the sample picture that scripts/run.sh scrambles and restores: a colour gradient with
// circles, stripes and a framed "secret" panel of coloured squares. Written with Kavun's own PNG
// writer. Rebuild it from the repository root after a build in build/:
//   g++ -std=c++20 -Isrc samples/make_sample.cpp build/src/imagefile/libkavun_imagefile.a
//       build/src/engine/libkavun_engine.a -lpng -ljpeg -lz -o /tmp/make_sample  (one line)
//   /tmp/make_sample samples/kavun-sample.png

#include <cmath>
#include <cstdio>

#include "engine/bitmap.h"
#include "imagefile/imagefile.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_sample OUT.png\n");
    return 2;
  }
  constexpr int kW = 240;
  constexpr int kH = 160;
  kavun::Bitmap b(kW, kH, kavun::PixelFormat::Bits24);
  for (int y = 0; y < kH; ++y) {
    auto row = b.ScanLine(y);
    for (int x = 0; x < kW; ++x) {
      int r = 40 + x * 200 / kW;
      int g = 60 + y * 160 / kH;
      int bl = 200 - (x + y) * 120 / (kW + kH);
      // Two soft circles.
      const double d1 = std::hypot(x - 60.0, y - 50.0);
      const double d2 = std::hypot(x - 180.0, y - 115.0);
      if (d1 < 35) r = g = 250 - static_cast<int>(d1 * 2);
      if (d2 < 30) bl = 255, g = 120 + static_cast<int>(d2 * 3);
      // Diagonal stripes in the lower left.
      if (x < 100 && y > 100 && ((x + y) / 8) % 2 == 0) r /= 2, g /= 2, bl /= 2;
      // The "secret" panel: a frame around a grid of coloured squares.
      if (x >= 110 && x < 230 && y >= 10 && y < 70) {
        const bool frame = x < 113 || x >= 227 || y < 13 || y >= 67;
        const int cell = ((x - 113) / 12) + ((y - 13) / 12) * 10;
        r = frame ? 20 : (cell * 53) % 256;
        g = frame ? 20 : (cell * 97 + 40) % 256;
        bl = frame ? 20 : (cell * 31 + 120) % 256;
      }
      row[3 * x] = static_cast<uint8_t>(bl);
      row[3 * x + 1] = static_cast<uint8_t>(g);
      row[3 * x + 2] = static_cast<uint8_t>(r);
    }
  }
  kavun::SaveImageFile(argv[1], ".png", b);
  return 0;
}
