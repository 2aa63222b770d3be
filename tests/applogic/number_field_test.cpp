#include "applogic/number_field.h"

#include <gtest/gtest.h>

#include <string>

namespace kavun {
namespace {

struct KeyCase {
  const char16_t* text;
  int selStart, selLength, key, limit;
  const char16_t* newText;
  bool changed, passes;
};

class FilterNumberKeyTest : public ::testing::TestWithParam<KeyCase> {};

TEST_P(FilterNumberKeyTest, Case) {
  const KeyCase& c = GetParam();
  const TNumberKeyResult r = FilterNumberKey(c.text, c.selStart, c.selLength, c.key, c.limit);
  EXPECT_EQ(r.text, std::u16string(c.newText));
  EXPECT_EQ(r.textChanged, c.changed);
  EXPECT_EQ(r.keyPasses, c.passes);
  EXPECT_EQ(r.beep, !c.passes);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FilterNumberKeyTest,
    ::testing::Values(
        // A third digit into "16" with nothing selected: discarded, text kept.
        KeyCase{u"16", 2, 0, '3', 2, u"16", false, false},
        // The whole text selected, "5" typed: the text goes, the key passes.
        KeyCase{u"16", 0, 2, '5', 2, u"", true, true},
        // A letter beeps but the selected part is removed all the same.
        KeyCase{u"123", 1, 1, 'a', 3, u"13", true, false},
        KeyCase{u"12", 0, 0, 'x', 3, u"12", false, false},
        // Backspace passes at the limit.
        KeyCase{u"16", 2, 0, kKeyBackspace, 2, u"16", false, true},
        KeyCase{u"255", 3, 0, kKeyBackspace, 3, u"255", false, true},
        // Under the limit a digit passes.
        KeyCase{u"1", 1, 0, '0', 2, u"1", false, true},
        KeyCase{u"", 0, 0, '9', 3, u"", false, true},
        // A selection reaching past the end is cut to the text; a negative start selects none.
        KeyCase{u"16", 1, 9, '4', 2, u"1", true, true},
        KeyCase{u"16", -1, 0, '4', 2, u"16", false, false},
        // Other control keys are discarded.
        KeyCase{u"1", 1, 0, 13, 2, u"1", false, false}));

struct ExitCase {
  TNumberField field;
  const char16_t* in;
  const char16_t* out;
};

class RangeCheckTest : public ::testing::TestWithParam<ExitCase> {};

TEST_P(RangeCheckTest, Case) {
  const ExitCase& c = GetParam();
  EXPECT_EQ(RangeCheckText(c.in, c.field), std::u16string(c.out));
}

INSTANTIATE_TEST_SUITE_P(Cases, RangeCheckTest,
                         ::testing::Values(ExitCase{TNumberField::BlockW, u"1", u"2"},
                                           ExitCase{TNumberField::BlockW, u"", u"2"},
                                           ExitCase{TNumberField::BlockW, u"07", u"7"},
                                           ExitCase{TNumberField::BlockH, u"51", u"50"},
                                           ExitCase{TNumberField::Key1, u"999", u"255"},
                                           ExitCase{TNumberField::Key1, u"", u"0"},
                                           ExitCase{TNumberField::Key2, u"007", u"7"},
                                           ExitCase{TNumberField::Key2, u"1a", u"0"},
                                           ExitCase{TNumberField::ShiftLen, u"0", u"1"},
                                           ExitCase{TNumberField::ShiftLen, u"30", u"23"},
                                           ExitCase{TNumberField::ShiftLen, u"-5", u"1"},
                                           ExitCase{TNumberField::ShiftLen, u" 5", u"1"},
                                           ExitCase{TNumberField::Key1, u"99999999999", u"0"}));

// What the panel relies on in every row: the initial text and the text a field falls back to
// on leaving it are in the range, so that neither is changed by the range check.
TEST(NumberFieldSpec, InitialTextAndExitDefaultLieInTheRange) {
  for (auto f : {TNumberField::BlockW, TNumberField::BlockH, TNumberField::Key1, TNumberField::Key2,
                 TNumberField::ShiftLen}) {
    const TNumberFieldSpec& row = NumberFieldSpec(f);
    SCOPED_TRACE(static_cast<int>(f));
    EXPECT_LE(row.low, row.high);
    EXPECT_GE(row.defaultOnExit, row.low);
    EXPECT_LE(row.defaultOnExit, row.high);
    EXPECT_EQ(RangeCheckText(row.initial, f), std::u16string(row.initial));
  }
}

// Every field as the panel shows it; the values come from the transforms' description, so a
// change there that the panel does not want shows here.
struct FieldCase {
  TNumberField field;
  const char* name;
  int limit;
  int32_t defaultOnExit, low, high;
  const char16_t* initial;
  const char16_t* label;
};

class NumberFieldTableTest : public ::testing::TestWithParam<FieldCase> {};

TEST_P(NumberFieldTableTest, Row) {
  const FieldCase& c = GetParam();
  const TNumberFieldSpec& row = NumberFieldSpec(c.field);
  EXPECT_EQ(row.limit, c.limit);
  EXPECT_EQ(row.defaultOnExit, c.defaultOnExit);
  EXPECT_EQ(row.low, c.low);
  EXPECT_EQ(row.high, c.high);
  EXPECT_EQ(std::u16string(row.initial), std::u16string(c.initial));
  EXPECT_EQ(RangeLabel(c.field), std::u16string(c.label));
  // Both ends of the range fit into the key limit and survive the range check; one beyond each
  // end is pulled back.
  for (const int32_t end : {c.low, c.high}) {
    const std::string digits = std::to_string(end);
    const std::u16string text(digits.begin(), digits.end());
    EXPECT_LE(static_cast<int>(text.size()), row.limit) << end;
    EXPECT_EQ(RangeCheckText(text, c.field), text);
  }
  const std::string below = std::to_string(c.low - 1);
  const std::string above = std::to_string(c.high + 1);
  EXPECT_EQ(NumberFieldValue(std::u16string(below.begin(), below.end()), c.field), c.low);
  EXPECT_EQ(NumberFieldValue(std::u16string(above.begin(), above.end()), c.field), c.high);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, NumberFieldTableTest,
    ::testing::Values(
        FieldCase{TNumberField::BlockW, "Edit_ProcRevMosBlockW", 2, 2, 2, 50, u"16", u"2～50"},
        FieldCase{TNumberField::BlockH, "Edit_ProcRevMosBlockH", 2, 2, 2, 50, u"16", u"2～50"},
        FieldCase{TNumberField::Key1, "Edit_ProcRevMosKey1", 3, 0, 0, 255, u"3", u"0～255"},
        FieldCase{TNumberField::Key2, "Edit_ProcRevMosKey2", 3, 0, 0, 255, u"7", u"0～255"},
        FieldCase{TNumberField::ShiftLen, "Edit_ProcBitShiftLen", 2, 1, 1, 23, u"3", u"1～23"}),
    [](const ::testing::TestParamInfo<FieldCase>& test) { return std::string(test.param.name); });

}  // namespace
}  // namespace kavun
