#pragma once

// What each transform takes, held once: ranges, defaults and modes, in no front end's words.
// The desktop program's processing panel (field texts, key limits, range checks, range labels;
// its captions in src/app) and kavun-cli (its options and their words in src/cli/options.h:
// defaults, range errors, its help text) both read these tables, so a range or a default is
// changed in one row here. ApplyTransform is the one place where a transform and its parameters
// become an engine call.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "engine/bitmap.h"
#include "engine/rect.h"
#include "engine/xor.h"

namespace kavun {

enum class TransformKind { ReversibleMosaic, BitShift, Xor };

// The numeric parameters, in the order of the panel's fields.
enum class TParamId { BlockW, BlockH, Key1, Key2, ShiftLen };

// The number of decimal digits of a value that is not negative.
constexpr int DecimalDigits(int32_t value) {
  int digits = 1;
  for (; value >= 10; value /= 10) ++digits;
  return digits;
}

struct TNumericParam {
  TParamId Id;
  TransformKind Transform;
  const char* Name;  // the parameter's own name, e.g. "BlockW"
  int32_t Low;       // range, both ends included
  int32_t High;
  int32_t DefaultOnExit;  // what a field left with no valid integer stands for
  int32_t Initial;        // the value at start: the panel field's text and kavun-cli's default
  // Characters a field takes: as many as the upper end has digits, so that every value of the
  // range can be typed and no longer one.
  int KeyLimit = DecimalDigits(High);
};

// One row per parameter, indexed by TParamId.
inline constexpr TNumericParam kNumericParams[] = {
    // clang-format off
    // id               transform                        name        low high default initial
    {TParamId::BlockW,   TransformKind::ReversibleMosaic, "BlockW",   2,  50,  2,      16},
    {TParamId::BlockH,   TransformKind::ReversibleMosaic, "BlockH",   2,  50,  2,      16},
    {TParamId::Key1,     TransformKind::ReversibleMosaic, "Key1",     0,  255, 0,      3},
    {TParamId::Key2,     TransformKind::ReversibleMosaic, "Key2",     0,  255, 0,      7},
    {TParamId::ShiftLen, TransformKind::BitShift,         "ShiftLen", 1,  23,  1,      3},
    // clang-format on
};

constexpr const TNumericParam& NumericParam(TParamId id) {
  return kNumericParams[static_cast<std::size_t>(id)];
}

// The non-numeric parameters: the mosaic's direction (encode or decode), the shift's direction
// (the sign of the signed width, ShiftLen being its magnitude) and the XOR mode below. Each front
// end gives them its own words (the panel's buttons, kavun-cli's options).

struct TXorMode {
  XorKeyMode Mode;
  const char* Name;  // the keystream's own name, the panel's caption
};

// The first is the default of both front ends.
inline constexpr TXorMode kXorModes[] = {
    {XorKeyMode::MTwister, "MTwister"},
    {XorKeyMode::MD5, "MD5"},
    {XorKeyMode::MD5OFB, "MD5(OFB)"},
};
inline constexpr XorKeyMode kDefaultXorMode = kXorModes[0].Mode;

// The signed width BitShiftRotate takes: `length` rotating right, its negation rotating left.
constexpr int32_t SignedShift(int32_t length, bool rotateRight) {
  return rotateRight ? length : -length;
}

// One transform with everything it takes. The defaults are the panel's values at start.
struct TransformRequest {
  TransformKind Kind = TransformKind::ReversibleMosaic;
  // ReversibleMosaic
  bool Decode = false;
  int32_t BlockW = NumericParam(TParamId::BlockW).Initial;
  int32_t BlockH = NumericParam(TParamId::BlockH).Initial;
  int32_t Key1 = NumericParam(TParamId::Key1).Initial;
  int32_t Key2 = NumericParam(TParamId::Key2).Initial;
  // BitShift: positive rotates right, negative left.
  int32_t Shift = SignedShift(NumericParam(TParamId::ShiftLen).Initial, true);
  // Xor
  XorKeyMode Mode = kDefaultXorMode;
  std::string Password;  // the bytes that are hashed (CP932, see PasswordToCp932)
};

// Runs the request's one transform on `rect` of `bitmap`: ReversibleMosaic, BitShiftRotate or
// XorKeystream, with their own handling of empty and unusable input.
void ApplyTransform(Bitmap& bitmap, const TRect& rect, const TransformRequest& request);

// Whether running `request` draws from the process's one Mersenne Twister generator (XOR in
// mode MTwister): such runs must not overlap.
bool UsesSharedGenerator(const TransformRequest& request);

// Whether the mosaic of the request's block and coefficients can be undone.
bool MosaicIsReversible(const TransformRequest& request);

}  // namespace kavun
