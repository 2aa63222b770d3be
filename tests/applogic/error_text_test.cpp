// The two wordings of every error kind: the window's Japanese and kavun-cli's English.

#include "applogic/error_text.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace kavun {
namespace {

// A detail of the form each kind documents.
std::string SampleDetail(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::OutsideRectangle:
      return std::string("0,0,46,37") + kDetailSeparator + "45 x 37";
    case ErrorKind::RowOutOfRange:
      return std::string("7") + kDetailSeparator + "3";
    case ErrorKind::PictureTooLarge:
      return "70000 x 2 pixels";
    case ErrorKind::Other:
      return "odd";
    case ErrorKind::Usage:
      return "--bits needs a value";
    case ErrorKind::PasswordNotCp932:
      return "\"\xF0\x9F\x98\x80\" (U+1F600)";
    default:
      return {};
  }
}

// Every kind has wording of its own in both languages; the sentences name the file and keep the
// numbers of the detail; the Japanese text leaves the closing full stop to the error box, which
// appends "." to a message ending in a character above "." ("。." would show otherwise).
TEST(ErrorText, EveryKindHasItsOwnWordingNamingTheFileInBothLanguages) {
  const std::string path = "/写真/a.png";
  std::map<std::string, ErrorKind> japanese;
  std::map<std::string, ErrorKind> english;
  for (const ErrorKind kind : kAllErrorKinds) {
    SCOPED_TRACE(ErrorKindName(kind));
    const Error error(kind, path, SampleDetail(kind));
    const std::string ja = JapaneseErrorText(error);
    const std::string en = error.what();
    EXPECT_TRUE(japanese.emplace(ja, kind).second) << "same as " << ErrorKindName(japanese[ja]);
    EXPECT_TRUE(english.emplace(en, kind).second) << "same as " << ErrorKindName(english[en]);
    EXPECT_NE(en.find("\"" + path + "\""), std::string::npos) << en;
    if (kind != ErrorKind::RowOutOfRange) {
      EXPECT_NE(ja.find("\"" + path + "\""), std::string::npos) << ja;
    }
    EXPECT_FALSE(ja.ends_with("。")) << ja;
    EXPECT_FALSE(ja.ends_with(".")) << ja;
    for (const std::string& number :
         {std::string("46"), std::string("70000"), std::string("U+1F600")}) {
      if (SampleDetail(kind).find(number) == std::string::npos) continue;
      EXPECT_NE(ja.find(number), std::string::npos) << ja;
      EXPECT_NE(en.find(number), std::string::npos) << en;
    }
    // Without a file the sentences still read whole.
    const Error unnamed(kind, "", SampleDetail(kind));
    EXPECT_FALSE(JapaneseErrorText(unnamed).empty());
    if (kind != ErrorKind::Other && kind != ErrorKind::Usage) {
      EXPECT_NE(std::string(unnamed.what()), "");
    }
  }
}

TEST(ErrorText, TheRowAccessorsErrorIsTheGraphicsErrorOfTheSystem) {
  EXPECT_EQ(JapaneseErrorText(Error(ErrorKind::RowOutOfRange, "", "3 / 3")),
            "スキャンライン のインデックスが範囲を越えました");
}

TEST(ErrorText, ALibrarysMessageIsADetailOnALineOfItsOwn) {
  const std::string ja =
      JapaneseErrorText(Error(ErrorKind::CorruptData, "a.png", "IDAT: CRC error"));
  EXPECT_TRUE(ja.starts_with("\"a.png\" "));
  EXPECT_TRUE(ja.ends_with("\n(IDAT: CRC error)")) << ja;
}

// A failed save whose temporary file the folder does not let go: both wordings name it, after
// the error's own sentences and any detail line.
TEST(ErrorText, ATemporaryFileLeftBehindIsNamedInBothLanguages) {
  const std::string temp = "/d/.kv000001.tmp";
  for (const Error& base : {Error(ErrorKind::PermissionDenied, ""),
                            Error(ErrorKind::WriteFailed, "", "Input/output error")}) {
    SCOPED_TRACE(ErrorKindName(base.Kind()));
    const Error error = base.WithLeftOverFile(temp).WithPath("/d/a.png");
    EXPECT_EQ(error.LeftOverFile(), temp);
    const std::string ja = JapaneseErrorText(error);
    const std::string en = error.what();
    for (const std::string& text : {ja, en}) {
      EXPECT_NE(text.find("\"/d/a.png\""), std::string::npos) << text;
      EXPECT_NE(text.find("\"" + temp + "\""), std::string::npos) << text;
    }
    EXPECT_TRUE(ja.starts_with(JapaneseErrorText(base.WithPath("/d/a.png")))) << ja;
    EXPECT_FALSE(ja.ends_with("。")) << ja;
    if (!base.Detail().empty()) {
      EXPECT_NE(ja.find(")\n"), std::string::npos) << ja;
    }
  }
  EXPECT_EQ(JapaneseErrorText(Error(ErrorKind::ReadOnlyFileSystem, "/mnt/cd/a.png"))
                .rfind("読み取り専用のため", 0),
            0u);
}

}  // namespace
}  // namespace kavun
