// Times one paint of a 1000 x 800 exposed area of the image view, for a 7680 x 4320 picture at
// ratios 1 and 10. Only the exposed part of the picture is drawn, so the time must not depend
// on the picture's size.
#include <QApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

#include "app/image_view.h"
#include "engine/bitmap.h"

namespace {

const kavun::Bitmap& Picture() {
  static const kavun::Bitmap picture = [] {
    kavun::Bitmap b(7680, 4320, kavun::PixelFormat::Bits24);
    for (int y = 0; y < b.Height(); ++y) {
      auto row = b.ScanLine(y);
      for (std::size_t i = 0; i < static_cast<std::size_t>(b.Width()) * 3; ++i) {
        row[i] = static_cast<uint8_t>(i * 7 + static_cast<std::size_t>(y));
      }
    }
    return b;
  }();
  return picture;
}

void BM_PaintExposedArea(benchmark::State& state) {
  const int32_t ratio = static_cast<int32_t>(state.range(0));
  const kavun::Bitmap& picture = Picture();
  TImageView view([&picture] { return &picture; }, [ratio] { return ratio; }, nullptr);
  view.resize(picture.Width() * ratio, picture.Height() * ratio);
  view.BitmapChanged();
  // The backing store of a window: 32-bit, one exposed area somewhere in the middle.
  QImage target(1000, 800, QImage::Format_RGB32);
  const QRect exposed(3000, 2000, 1000, 800);
  for (auto _ : state) {
    QPainter painter(&target);
    painter.translate(-exposed.topLeft());
    painter.setClipRect(exposed);
    view.PaintArea(painter, exposed);
    painter.end();
    benchmark::DoNotOptimize(target.constBits());
  }
  state.SetItemsProcessed(state.iterations() * exposed.width() * exposed.height());
}
BENCHMARK(BM_PaintExposedArea)->Arg(1)->Arg(10)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
