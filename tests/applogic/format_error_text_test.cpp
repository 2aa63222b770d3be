// The Japanese sentences about a file's type, whose extensions come from the table of formats.

#include <gtest/gtest.h>

#include <string>

#include "applogic/error_text.h"
#include "imagefile/formats.h"

namespace kavun {
namespace {

TEST(FormatErrorText, UnknownTypeListsTheExtensionsTaken) {
  const std::string expected =
      "\"a.gif\" は対応していない種類のファイルです。拡張子が .png、.jpg、.jpeg、.bmp "
      "のファイルを指定してください";
  EXPECT_EQ(JapaneseErrorText(Error(ErrorKind::UnknownFileType, "a.gif", AcceptedExtensions())),
            expected);
  EXPECT_EQ(JapaneseErrorText(Error(ErrorKind::UnknownFileType, "a.gif")), expected);
}

TEST(FormatErrorText, APictureOfAnotherFormatNamesTheExtensionItShouldHave) {
  const std::string detail =
      std::string("BMP") + kDetailSeparator + "JPEG" + kDetailSeparator + ".jpg";
  const Error error(ErrorKind::NotThisFormat, "a.bmp", detail);
  EXPECT_EQ(JapaneseErrorText(error),
            "\"a.bmp\" は拡張子が示す BMP 形式ではなく、JPEG 形式の画像です。拡張子を .jpg "
            "に変えてから開いてください");
  EXPECT_EQ(std::string(error.what()),
            "\"a.bmp\" is not a BMP picture as its extension says; it holds a JPEG picture: give "
            "it the extension .jpg");
}

}  // namespace
}  // namespace kavun
