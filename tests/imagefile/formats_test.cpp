// The table of picture formats: which extension names which format, and what the rows tell
// without decoding (the size from the header alone, the wording of an unknown extension).

#include "imagefile/formats.h"

#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <string>

#include "engine/error.h"
#include "imagefile/imagefile.h"
#include "test_support.h"

namespace kavun {
namespace {

using test::Data;
using test::MakePicture;
using test::TempDir;

// Each extension names its own row in any letter case, and no other; the dialogs and messages
// name each format once.
TEST(PictureFormats, EveryExtensionNamesExactlyOneFormatInAnyLetterCase) {
  std::map<std::string, int> owners;
  for (const PictureFormat& format : PictureFormats()) {
    SCOPED_TRACE(format.Name);
    EXPECT_EQ(&FormatRow(format.Id), &format);
    EXPECT_EQ(FormatNamed(format.Name), &format);
    for (const std::string_view extension : format.Extensions) {
      if (extension.empty()) continue;
      ++owners[std::string(extension)];
      std::string upper(extension);
      for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      EXPECT_EQ(FormatOfExtension(extension), &format) << extension;
      EXPECT_EQ(FormatOfExtension(upper), &format) << upper;
      EXPECT_EQ(FormatOfPath("/some.dir/name" + upper), &format) << upper;
      EXPECT_EQ(std::string(extension).find_first_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ "),
                std::string::npos);
      EXPECT_EQ(extension.front(), '.');
    }
  }
  for (const auto& [extension, count] : owners) EXPECT_EQ(count, 1) << extension;
  for (const char* other : {"", ".", ".gif", ".pn", ".pngx", "png", ".jp"}) {
    EXPECT_EQ(FormatOfExtension(other), nullptr) << other;
  }
}

// An unknown extension is refused before the file is opened, naming it and the extensions the
// program takes.
TEST(PictureFormats, AnUnknownExtensionNamesTheOnesTaken) {
  TempDir dir;
  try {
    LoadImageFile(dir / "missing.gif");
    ADD_FAILURE() << "loaded";
  } catch (const Error& e) {
    EXPECT_EQ(e.Kind(), ErrorKind::UnknownFileType);
    EXPECT_EQ(e.Detail(), AcceptedExtensions());
    const std::string expected = std::string(1, '"') + (dir / "missing.gif").string() +
                                 "\" has an unknown file type; use .png, .jpg, .jpeg or .bmp";
    EXPECT_EQ(std::string(e.what()), expected);
  }
}

// The size read from the header alone (which a batch uses to admit files to memory) is the
// picture's, in every format and every header form; an unreadable header gives 0.
TEST(PictureFormats, TheHeaderPeekGivesThePicturesSize) {
  TempDir dir;
  const Bitmap picture = MakePicture(PixelFormat::Bits24, 37, 11, 5);
  const uint64_t bytes24 = uint64_t{(37 * 3 + 3) / 4 * 4} * 11;
  for (const PictureFormat& format : PictureFormats()) {
    SCOPED_TRACE(format.Name);
    const auto file = dir / (std::string(1, 'p') += format.Extensions[0]);
    SaveImageFile(file, format.Extensions[0], picture);
    EXPECT_EQ(PictureBytes24(file), bytes24);
  }
  for (const char* name : {"pal8os2.bmp", "pal8topdown.bmp"}) {
    const Bitmap decoded = LoadImageFile(Data(std::string("bmpsuite/g/") + name));
    const uint64_t expected =
        uint64_t((decoded.Width() * 3 + 3) / 4 * 4) * static_cast<uint64_t>(decoded.Height());
    EXPECT_EQ(PictureBytes24(Data(std::string("bmpsuite/g/") + name)), expected) << name;
  }
  test::WriteBytes(dir / "text.png", {'h', 'e', 'l', 'l', 'o'});
  EXPECT_EQ(PictureBytes24(dir / "text.png"), 0u);
  EXPECT_EQ(PictureBytes24(dir / "absent.jpg"), 0u);
}

}  // namespace
}  // namespace kavun
