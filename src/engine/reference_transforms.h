#pragma once

#include <cstdint>
#include <string_view>

#include "engine/bitmap.h"
#include "engine/rect.h"
#include "engine/xor.h"

// The straightforward versions of the three transforms: pixel by pixel, byte by byte, exactly
// as the keystreams and orders are defined. They give the same bytes, the same refusals and
// leave the generator in the same place as the fast versions in mosaic.cpp, bitshift.cpp and
// xor.cpp, against which the tests compare them; the benchmark times them side by side.
namespace kavun::reference {

void ReversibleMosaic(Bitmap* bitmap, TRect Rect, bool Decode, int32_t BlockW, int32_t BlockH,
                      int32_t Key1, int32_t Key2);
void BitShiftRotate(Bitmap* bitmap, TRect Rect, int32_t Shift);
void XorKeystream(Bitmap* bitmap, TRect rect, XorKeyMode mode, std::string_view password);

}  // namespace kavun::reference
