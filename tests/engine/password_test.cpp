#include "engine/password.h"

#include <gtest/gtest.h>

#include "engine/error.h"

namespace kavun {
namespace {

struct Cp932Case {
  std::string utf8;
  std::string cp932;
};

class PasswordToCp932Test : public testing::TestWithParam<Cp932Case> {};

TEST_P(PasswordToCp932Test, ConvertsToCodePage932Bytes) {
  EXPECT_EQ(PasswordToCp932(GetParam().utf8), GetParam().cp932);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PasswordToCp932Test,
    testing::Values(Cp932Case{"", ""}, Cp932Case{"abc 123", "abc 123"}, Cp932Case{"あ", "\x82\xA0"},
                    Cp932Case{"パスワード", "\x83\x70\x83\x58\x83\x8F\x81\x5B\x83\x68"},
                    Cp932Case{"ｱ", "\xB1"},       // half-width katakana: one byte
                    Cp932Case{"～", "\x81\x60"},  // U+FF5E, the code page's wave dash
                    Cp932Case{"〜", "\x81\x60"},  // U+301C, the wave dash other systems type
                    Cp932Case{"①", "\x87\x40"},   // NEC special character
                    Cp932Case{"漢字", "\x8A\xBF\x8E\x9A"},
                    Cp932Case{std::string("a\0b", 3), std::string("a\0b", 3)}));

TEST(PasswordToCp932, UnrepresentableCharacterIsNamed) {
  for (const auto& [text, name] : {std::pair<std::string, std::string>{"ab€", "U+20AC"},
                                   {"😀", "U+1F600"},
                                   {"x\xC3\xA9", "U+00E9"}}) {
    try {
      PasswordToCp932(text);
      ADD_FAILURE() << "no error for " << text;
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
    }
  }
}

TEST(PasswordToCp932, InvalidUtf8IsRefused) {
  for (const std::string& text : {std::string("\xFF"), std::string("a\xE3\x81"),  // cut short
                                  std::string("\xC0\xAF"),                        // overlong
                                  std::string("\xED\xA0\x80"),                    // surrogate
                                  std::string("\x82\xA0")}) {  // Shift_JIS bytes, not UTF-8
    EXPECT_THROW(PasswordToCp932(text), Error);
  }
}

}  // namespace
}  // namespace kavun
