#pragma once

// The processing panel's own part of the transforms' parameters: which field edits which
// numeric parameter and where it sits, which button picks which XOR mode, and the panel's
// Japanese words about them. Ranges, defaults, key limits and the modes themselves come from
// engine/transform_params.h. No Qt here, so that a test can hold the table against the
// engine's and kavun-cli's.

#include <cstddef>
#include <string>
#include <string_view>

#include "engine/transform_params.h"
#include "engine/xor.h"

namespace mainform {

// A numeric field: the parameter it edits, its component name and its place on its page.
struct TNumberFieldRow {
  kavun::TParamId Param;
  const char* Name;
  int X;
  int Y;
  int Width;
};

// One row per parameter, in the engine's order.
inline constexpr TNumberFieldRow kNumberFieldRows[] = {
    {kavun::TParamId::BlockW, "Edit_ProcRevMosBlockW", 6, 22, 30},
    {kavun::TParamId::BlockH, "Edit_ProcRevMosBlockH", 58, 22, 30},
    {kavun::TParamId::Key1, "Edit_ProcRevMosKey1", 6, 84, 32},
    {kavun::TParamId::Key2, "Edit_ProcRevMosKey2", 62, 84, 32},
    {kavun::TParamId::ShiftLen, "Edit_ProcBitShiftLen", 56, 4, 30},
};

constexpr const TNumberFieldRow& NumberFieldRow(kavun::TParamId id) {
  return kNumberFieldRows[static_cast<std::size_t>(id)];
}

// A button of the XOR page: the mode it picks (its caption the mode's name), its component
// name and its height on the page. In the order the page shows them.
struct TXorButtonRow {
  kavun::XorKeyMode Mode;
  const char* Name;
  int Y;
};

inline constexpr TXorButtonRow kXorButtonRows[] = {
    {kavun::XorKeyMode::MTwister, "RadioButton_ProcXorFuncMT", 22},
    {kavun::XorKeyMode::MD5OFB, "RadioButton_ProcXorFuncMD5OFB", 42},
    {kavun::XorKeyMode::MD5, "RadioButton_ProcXorFuncMD5", 62},
};

// Every field sits at its parameter's index, and every mode has exactly one button.
constexpr bool PanelTableMatchesTheEngine() {
  if (std::size(kNumberFieldRows) != std::size(kavun::kNumericParams)) return false;
  for (std::size_t i = 0; i < std::size(kNumberFieldRows); ++i) {
    if (static_cast<std::size_t>(kNumberFieldRows[i].Param) != i) return false;
  }
  if (std::size(kXorButtonRows) != std::size(kavun::kXorModes)) return false;
  for (const kavun::TXorMode& mode : kavun::kXorModes) {
    int buttons = 0;
    for (const TXorButtonRow& row : kXorButtonRows) buttons += row.Mode == mode.Mode ? 1 : 0;
    if (buttons != 1) return false;
  }
  return true;
}
static_assert(PanelTableMatchesTheEngine());

// The caption of the mode's button: the keystream's own name.
constexpr const char* XorButtonCaption(kavun::XorKeyMode mode) {
  for (const kavun::TXorMode& m : kavun::kXorModes) {
    if (m.Mode == mode) return m.Name;
  }
  return "";
}

// The reversibility check's message box: its caption and its text, the lines of the text joined
// by `newline` (the message box takes "\r\n").
inline constexpr const char* kReversibilityCaption = "可逆チェック";
inline std::string ReversibilityText(bool reversible, std::string_view newline = "\n") {
  if (reversible) return "可逆です。";
  return "非可逆です。" + std::string(newline) + "モザイクを掛けた画像を戻すことは出来ません。";
}

}  // namespace mainform
