#include "applogic/number_field.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <string>

namespace kavun {

TNumberKeyResult FilterNumberKey(std::u16string_view text, int selStart, int selLength, int key,
                                 int limit) {
  TNumberKeyResult result;
  result.text.assign(text);
  // Step 1: the selected characters go, whatever key was pressed.
  const auto size = static_cast<int64_t>(text.size());
  if (selStart >= 0 && selLength > 0 && selStart < size) {
    const auto count = std::min<int64_t>(selLength, size - selStart);
    result.text.erase(static_cast<size_t>(selStart), static_cast<size_t>(count));
    result.textChanged = count > 0;
  }
  // Steps 2 and 3.
  const bool atLimit = static_cast<int64_t>(result.text.size()) >= limit;
  const bool isDigit = key >= '0' && key <= '9';
  result.keyPasses = key == kKeyBackspace || (!atLimit && isDigit);
  // Step 4.
  result.beep = !result.keyPasses;
  return result;
}

int32_t ClampInt(int32_t value, int32_t low, int32_t high) noexcept {
  return std::clamp(value, low, high);
}

namespace {

std::u16string Decimal(int32_t value) {
  const std::string digits = std::to_string(value);
  return std::u16string(digits.begin(), digits.end());
}

// Every parameter is a field, at its own index.
constexpr bool FieldsAreTheParameters() {
  if (std::size(kNumberFields) != std::size(kNumericParams)) return false;
  for (std::size_t i = 0; i < std::size(kNumberFields); ++i) {
    if (static_cast<std::size_t>(kNumberFields[i]) != i) return false;
  }
  return true;
}
static_assert(FieldsAreTheParameters());

}  // namespace

const TNumberFieldSpec& NumberFieldSpec(TNumberField field) noexcept {
  constexpr std::size_t kCount = std::size(kNumberFields);
  // The initial texts live as long as the table that points into them.
  static const std::array<std::u16string, kCount> kInitialTexts = [] {
    std::array<std::u16string, kCount> texts;
    for (std::size_t i = 0; i < kCount; ++i) texts[i] = Decimal(kNumericParams[i].Initial);
    return texts;
  }();
  static const std::array<TNumberFieldSpec, kCount> kFields = [] {
    std::array<TNumberFieldSpec, kCount> fields{};
    for (std::size_t i = 0; i < kCount; ++i) {
      const TNumericParam& p = kNumericParams[i];
      fields[i] = {p.KeyLimit, p.DefaultOnExit, p.Low, p.High, kInitialTexts[i].c_str()};
    }
    return fields;
  }();
  // Every TNumberField is a parameter of the table (FieldsAreTheParameters).
  return kFields.at(static_cast<std::size_t>(field));
}

std::u16string RangeLabel(TNumberField field) {
  const TNumberFieldSpec& rules = NumberFieldSpec(field);
  return Decimal(rules.low) + u"～" + Decimal(rules.high);
}

int32_t ParseDecimalOr(std::u16string_view text, int32_t fallback) noexcept {
  bool negative = false;
  size_t pos = 0;
  if (!text.empty() && (text[0] == u'+' || text[0] == u'-')) {
    negative = text[0] == u'-';
    pos = 1;
  }
  if (pos == text.size()) return fallback;
  int64_t magnitude = 0;
  for (; pos < text.size(); ++pos) {
    const char16_t c = text[pos];
    if (c < u'0' || c > u'9') return fallback;
    magnitude = magnitude * 10 + (c - u'0');
    if (magnitude > static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1) {
      return fallback;
    }
  }
  const int64_t value = negative ? -magnitude : magnitude;
  if (value > std::numeric_limits<int32_t>::max()) return fallback;
  return static_cast<int32_t>(value);
}

int32_t NumberFieldValue(std::u16string_view text, TNumberField field) noexcept {
  const TNumberFieldSpec& rules = NumberFieldSpec(field);
  return ClampInt(ParseDecimalOr(text, rules.defaultOnExit), rules.low, rules.high);
}

std::u16string RangeCheckText(std::u16string_view text, TNumberField field) {
  return Decimal(NumberFieldValue(text, field));
}

}  // namespace kavun
