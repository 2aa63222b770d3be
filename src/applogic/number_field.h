#pragma once

// The numeric parameter fields of the processing panel, without widgets: the key filter, the
// range check when a field is left, and the table of the five fields.
//
// Texts are UTF-16 as the line edit holds them (QString::toStdU16String / fromStdU16String),
// so that selection positions and the length limit count the same units as the widget.

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/transform_params.h"

namespace kavun {

// The key code of Backspace as the filter sees it. The window maps Qt::Key_Backspace to it and
// a typed character to its code.
inline constexpr int kKeyBackspace = 8;

struct TNumberKeyResult {
  std::u16string text;       // the field's text after removing the selected characters
  bool textChanged = false;  // true when that removal changed the text: write it back at once
  bool keyPasses = false;    // false: discard the key press
  bool beep = false;         // true: sound the system beep (exactly when the key is discarded)
};

// FilterNumberKey: for every key press in a numeric field.
//  1. remove the selected characters (selStart, selLength; clamped to the text; a negative start
//     or a length <= 0 selects nothing);
//  2. if the text is now at least `limit` characters long only Backspace passes;
//  3. otherwise the digits '0'..'9' and Backspace pass;
//  4. a discarded key beeps.
TNumberKeyResult FilterNumberKey(std::u16string_view text, int selStart, int selLength, int key,
                                 int limit);

// value brought into low..high (low <= high).
int32_t ClampInt(int32_t value, int32_t low, int32_t high) noexcept;

// The five numeric fields are the numeric parameters of the transforms; their ranges, defaults,
// initial values and key limits come from the engine's description (engine/transform_params.h).
using TNumberField = TParamId;

inline constexpr TNumberField kNumberFields[] = {TNumberField::BlockW, TNumberField::BlockH,
                                                 TNumberField::Key1, TNumberField::Key2,
                                                 TNumberField::ShiftLen};

// The window's own part of a field (its component name and place) is in src/app/panel_table.h.
struct TNumberFieldSpec {
  int limit;              // key limit in characters
  int32_t defaultOnExit;  // taken when the text is no valid integer
  int32_t low;            // range
  int32_t high;
  const char16_t* initial;  // the text at start
};

// The row of the table for `field`, taken from the parameter's description; today:
//   BlockW, BlockH: limit 2, default 2, 2..50, "16"
//   Key1:           limit 3, default 0, 0..255, "3"
//   Key2:           limit 3, default 0, 0..255, "7"
//   ShiftLen:       limit 2, default 1, 1..23, "3"
const TNumberFieldSpec& NumberFieldSpec(TNumberField field) noexcept;

// The label under a field that states its range, e.g. "2～50".
std::u16string RangeLabel(TNumberField field);

// The text as a decimal integer: optional '+' or '-' followed by 1+ ASCII digits, nothing else
// (no blanks), within the int32 range. Anything else is no valid integer: `fallback`.
int32_t ParseDecimalOr(std::u16string_view text, int32_t fallback) noexcept;

// The value a field stands for: ParseDecimalOr(text, default) clamped into the field's range.
int32_t NumberFieldValue(std::u16string_view text, TNumberField field) noexcept;

// The range check on leaving a field: NumberFieldValue written back as decimal text without
// leading zeros ("07" -> "7", "" -> default, "999" -> "255" for a coefficient).
std::u16string RangeCheckText(std::u16string_view text, TNumberField field);

}  // namespace kavun
