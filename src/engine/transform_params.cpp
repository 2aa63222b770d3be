#include "engine/transform_params.h"

#include "engine/bitshift.h"
#include "engine/mosaic.h"
#include "engine/mosaic_order.h"

namespace kavun {

static_assert(std::size(kNumericParams) == static_cast<std::size_t>(TParamId::ShiftLen) + 1);

// Each row sits at its id's index and holds a usable range: its default and its initial value
// inside, and a lower end the key filter (digits only) can type.
constexpr bool RowsAreConsistent() {
  for (std::size_t i = 0; i < std::size(kNumericParams); ++i) {
    const TNumericParam& p = kNumericParams[i];
    if (static_cast<std::size_t>(p.Id) != i) return false;
    if (p.Low < 0 || p.Low > p.High) return false;
    if (p.DefaultOnExit < p.Low || p.DefaultOnExit > p.High) return false;
    if (p.Initial < p.Low || p.Initial > p.High) return false;
  }
  return true;
}
static_assert(RowsAreConsistent());

void ApplyTransform(Bitmap& bitmap, const TRect& rect, const TransformRequest& request) {
  switch (request.Kind) {
    case TransformKind::ReversibleMosaic:
      ReversibleMosaic(&bitmap, rect, request.Decode, request.BlockW, request.BlockH, request.Key1,
                       request.Key2);
      break;
    case TransformKind::BitShift:
      BitShiftRotate(&bitmap, rect, request.Shift);
      break;
    case TransformKind::Xor:
      XorKeystream(&bitmap, rect, request.Mode, request.Password);
      break;
  }
}

bool UsesSharedGenerator(const TransformRequest& request) {
  return request.Kind == TransformKind::Xor && request.Mode == XorKeyMode::MTwister;
}

bool MosaicIsReversible(const TransformRequest& request) {
  return IsReversibleOrder(request.Key1, request.Key2, request.BlockW * request.BlockH);
}

}  // namespace kavun
