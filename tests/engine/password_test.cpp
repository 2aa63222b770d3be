#include "engine/password.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <vector>

#include "engine/error.h"

#if __has_include(<iconv.h>)
#include <iconv.h>
#define KAVUN_TEST_HAVE_ICONV 1
#endif

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
                    // IBM-extension kanji take their rows FA-FC, not the NEC-selected rows ED/EE
                    Cp932Case{"髙", "\xFB\xFC"}, Cp932Case{"﨑", "\xFA\xB1"},
                    Cp932Case{"德", "\xFA\xBA"},
                    Cp932Case{"¥", "\x5C"},      // the yen key of a Japanese keyboard
                    Cp932Case{"‾", "\x7E"},      // U+203E overline
                    Cp932Case{"−", "\x81\x7C"},  // U+2212 minus sign
                    Cp932Case{"\uE000\uE757", "\xF0\x40\xF9\xFC"},  // the user-defined area
                    Cp932Case{std::string("a\0b", 3), std::string("a\0b", 3)}));

TEST(PasswordToCp932, UnrepresentableCharacterIsNamed) {
  for (const auto& [text, name] : {std::pair<std::string, std::string>{"ab€", "U+20AC"},
                                   {"😀", "U+1F600"},
                                   {"x\xC3\xA9", "U+00E9"}}) {
    try {
      PasswordToCp932(text);
      ADD_FAILURE() << "no error for " << text;
    } catch (const Error& e) {
      EXPECT_EQ(e.Kind(), ErrorKind::PasswordNotCp932) << e.what();
      EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
    }
  }
}

#ifdef KAVUN_TEST_HAVE_ICONV
std::string Utf8Of(uint32_t c) {
  std::string s;
  if (c < 0x80) {
    s += static_cast<char>(c);
  } else if (c < 0x800) {
    s += static_cast<char>(0xC0 | (c >> 6));
    s += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    s += static_cast<char>(0xE0 | (c >> 12));
    s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (c & 0x3F));
  }
  return s;
}

std::string Hex(const std::string& bytes) {
  std::string out;
  char two[4];
  for (unsigned char b : bytes) {
    std::snprintf(two, sizeof two, "%02X", b);
    out += two;
  }
  return out;
}

// Pictures scrambled before the code page was built in were keyed by the C library's "CP932"
// conversion (glibc): every character it converts must give the same bytes here, and the
// characters it refuses stay refused.
TEST(PasswordToCp932, AgreesWithTheCLibraryConversionOnTheWholeBasicPlane) {
  iconv_t cd = iconv_open("CP932", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) GTEST_SKIP() << "this C library has no CP932";
  std::vector<std::string> differences;
  int converted = 0;
  for (uint32_t c = 0; c <= 0xFFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    std::string in = Utf8Of(c);
    char out[8];
    char* in_ptr = in.data();
    std::size_t in_left = in.size();
    char* out_ptr = out;
    std::size_t out_left = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    const std::size_t rc = iconv(cd, &in_ptr, &in_left, &out_ptr, &out_left);
    std::optional<std::string> system;
    if (rc == 0) system = std::string(out, sizeof out - out_left);
    std::optional<std::string> ours;
    try {
      ours = PasswordToCp932(in);
    } catch (const Error& e) {
      EXPECT_EQ(e.Kind(), ErrorKind::PasswordNotCp932);
    }
    if (system) ++converted;
    // U+0080 is the one character added beyond the C library's: the single byte 80, as the
    // Encoding Standard and Windows have it. Everything else it refuses is refused here too.
    if (ours != system && (system || c != 0x80)) {
      char name[16];
      std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(c));
      differences.push_back(std::string(name) + ": C library " +
                            (system ? Hex(*system) : std::string("refused")) + ", ours " +
                            (ours ? Hex(*ours) : std::string("refused")));
    }
  }
  iconv_close(cd);
  EXPECT_GT(converted, 7000);
  std::string listed;
  for (const std::string& d : differences) listed += d + "\n";
  EXPECT_TRUE(differences.empty()) << differences.size() << " differences:\n" << listed;
}
#endif

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
