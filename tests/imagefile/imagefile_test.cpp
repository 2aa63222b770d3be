#include "imagefile/imagefile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "common/process_support.h"
#include "engine/error.h"
#include "test_support.h"

namespace kavun {
namespace {

namespace fs = std::filesystem;
using test::Data;
using test::ExpectSamePicture;
using test::MakePicture;
using test::ReadBytes;
using test::TempDir;
using test::WriteBytes;

// --- extensions and dispatch -----------------------------------------------------------------

TEST(FileExtension, TakesTheTextFromTheLastDotOfTheFileName) {
  const std::pair<const char*, const char*> cases[] = {
      {"a.png", ".png"},
      {"/x/y/photo.JPEG", ".JPEG"},
      {"archive.tar.bmp", ".bmp"},
      {"/dir.d/noext", ""},
      {"noext", ""},
      {"dir\\sub.x\\name", ""},
      {"trailing.", "."},
      {".hidden", ".hidden"},
      {"", ""},
  };
  for (const auto& [path, ext] : cases) EXPECT_EQ(FileExtension(path), ext) << path;
}

TEST(LoadImageFile, ChoosesTheDecoderByExtensionWithoutRegardToCase) {
  TempDir dir;
  const auto png = ReadBytes(Data("pngsuite/basn3p08.png"));
  const auto bmp = ReadBytes(Data("bmpsuite/g/rgb24.bmp"));
  for (const char* name : {"a.PNG", "b.Png", "c.png"}) {
    WriteBytes(dir / name, png);
    EXPECT_EQ(LoadImageFile(dir / name).Width(), 32) << name;
  }
  for (const char* name : {"d.BMP", "e.bmp"}) {
    WriteBytes(dir / name, bmp);
    EXPECT_EQ(LoadImageFile(dir / name).Width(), 127) << name;
  }
  Bitmap picture = MakePicture(PixelFormat::Bits24, 9, 5, 1);
  SaveImageFile(dir / "f.jpg", ".jpg", picture);
  fs::copy_file(dir / "f.jpg", dir / "g.JPEG");
  fs::copy_file(dir / "f.jpg", dir / "h.Jpg");
  EXPECT_EQ(LoadImageFile(dir / "g.JPEG").Width(), 9);
  EXPECT_EQ(LoadImageFile(dir / "h.Jpg").Height(), 5);
}

TEST(LoadImageFile, RefusesUnknownExtensionsMissingFilesAndFolders) {
  TempDir dir;
  WriteBytes(dir / "picture.gif", ReadBytes(Data("pngsuite/basn3p08.png")));
  WriteBytes(dir / "noext", ReadBytes(Data("pngsuite/basn3p08.png")));
  fs::create_directory(dir / "folder.png");
  for (const char* name : {"picture.gif", "noext", "missing.png", "folder.png"}) {
    try {
      LoadImageFile(dir / name);
      ADD_FAILURE() << name << " loaded";
    } catch (const Error& e) {
      EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
    }
  }
}

TEST(LoadImageFile, FollowsTheExtensionNotTheContent) {
  TempDir dir;
  WriteBytes(dir / "really-a-png.jpg", ReadBytes(Data("pngsuite/basn2c08.png")));
  try {
    LoadImageFile(dir / "really-a-png.jpg");
    FAIL() << "a PNG named .jpg loaded";
  } catch (const Error& e) {
    const std::string what = e.what();
    EXPECT_NE(what.find("really-a-png.jpg"), std::string::npos) << what;
    EXPECT_NE(what.find("JPEG"), std::string::npos) << what;  // libjpeg's "Not a JPEG file"
  }
}

// --- malformed files of every format ------------------------------------------------------

TEST(Decode, TruncatedFilesAreRefused) {
  TempDir dir;
  const Bitmap picture = MakePicture(PixelFormat::Bits24, 64, 48, 7);
  for (const char* name : {"p.png", "p.jpg", "p.bmp"}) {
    SCOPED_TRACE(name);
    SaveImageFile(dir / name, FileExtension(name), picture);
    auto bytes = ReadBytes(dir / name);
    for (const std::size_t keep : {bytes.size() / 2, bytes.size() - 2, std::size_t{20}}) {
      SCOPED_TRACE(keep);
      WriteBytes(dir / name, std::vector<uint8_t>(bytes.begin(), bytes.begin() + keep));
      EXPECT_THROW(LoadImageFile(dir / name), Error);
    }
  }
}

TEST(Decode, OversizedPngAndJpegHeadersAreRefused) {
  TempDir dir;
  // A PNG whose IHDR claims 60000 x 60000 RGB (10 GB): refused at the header.
  auto png = ReadBytes(Data("pngsuite/basn2c08.png"));
  test::PatchPngSize(png, 60000, 60000);
  WriteBytes(dir / "big.png", png);
  EXPECT_THROW(LoadImageFile(dir / "big.png"), Error);
  // A JPEG whose frame header claims 65500 x 65500.
  SaveImageFile(dir / "big.jpg", ".jpg", MakePicture(PixelFormat::Bits24, 8, 8, 1));
  auto jpg = ReadBytes(dir / "big.jpg");
  test::PatchJpegSize(jpg, 65500, 65500);
  WriteBytes(dir / "big.jpg", jpg);
  EXPECT_THROW(LoadImageFile(dir / "big.jpg"), Error);
}

// --- round trips -----------------------------------------------------------------------------

struct RoundTripCase {
  PixelFormat Format;
  const char* Extension;
  PixelFormat LoadedFormat;
};

class RoundTrip : public testing::TestWithParam<RoundTripCase> {};

TEST_P(RoundTrip, GivesBackThePixels) {
  const RoundTripCase& c = GetParam();
  TempDir dir;
  for (const auto& [w, h] : {std::pair{13, 7}, std::pair{1, 1}, std::pair{64, 3}}) {
    const Bitmap picture = MakePicture(c.Format, w, h, static_cast<uint32_t>(w * 31 + h));
    const fs::path file = dir / (std::string("rt") + c.Extension);
    SaveImageFile(file, c.Extension, picture);
    // A file written as BMP for want of a known extension is read back as one.
    const bool png = FileExtension(c.Extension) == ".png" || FileExtension(c.Extension) == ".PNG";
    const fs::path readable = dir / (png ? "copy.png" : "copy.bmp");
    fs::copy_file(file, readable, fs::copy_options::overwrite_existing);
    const Bitmap loaded = LoadImageFile(readable);
    ASSERT_EQ(loaded.Format(), c.LoadedFormat);
    if (c.LoadedFormat == c.Format) {
      ExpectSamePicture(picture, loaded);
    } else {
      test::ExpectSameColours(picture, loaded);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    EveryDepth, RoundTrip,
    testing::Values(RoundTripCase{PixelFormat::Bits1, ".png", PixelFormat::Bits1},
                    RoundTripCase{PixelFormat::Bits4, ".png", PixelFormat::Bits4},
                    RoundTripCase{PixelFormat::Bits8, ".png", PixelFormat::Bits8},
                    RoundTripCase{PixelFormat::Bits16_555, ".png", PixelFormat::Bits24},
                    RoundTripCase{PixelFormat::Bits16_565, ".png", PixelFormat::Bits24},
                    RoundTripCase{PixelFormat::Bits24, ".png", PixelFormat::Bits24},
                    RoundTripCase{PixelFormat::Bits32, ".png", PixelFormat::Bits24},
                    RoundTripCase{PixelFormat::Bits1, ".bmp", PixelFormat::Bits1},
                    RoundTripCase{PixelFormat::Bits4, ".bmp", PixelFormat::Bits4},
                    RoundTripCase{PixelFormat::Bits8, ".bmp", PixelFormat::Bits8},
                    RoundTripCase{PixelFormat::Bits16_555, ".bmp", PixelFormat::Bits16_555},
                    RoundTripCase{PixelFormat::Bits16_565, ".bmp", PixelFormat::Bits16_565},
                    RoundTripCase{PixelFormat::Bits24, ".bmp", PixelFormat::Bits24},
                    RoundTripCase{PixelFormat::Bits32, ".bmp", PixelFormat::Bits32},
                    RoundTripCase{PixelFormat::Bits24, ".PNG", PixelFormat::Bits24},
                    RoundTripCase{PixelFormat::Bits8, ".txt", PixelFormat::Bits8}));

TEST(RoundTrip, AnyExtensionOtherThanPngOrJpegWritesBmp) {
  TempDir dir;
  SaveImageFile(dir / "x.PNG", ".PNG", MakePicture(PixelFormat::Bits24, 4, 4, 1));
  SaveImageFile(dir / "y.dat", ".dat", MakePicture(PixelFormat::Bits24, 4, 4, 1));
  SaveImageFile(dir / "z.JPG", ".JPG", MakePicture(PixelFormat::Bits24, 4, 4, 1));
  EXPECT_EQ(ReadBytes(dir / "x.PNG")[1], 'P');
  EXPECT_EQ(ReadBytes(dir / "y.dat")[0], 'B');
  EXPECT_EQ(ReadBytes(dir / "z.JPG")[0], 0xFF);
}

// --- saving safely ---------------------------------------------------------------------------

std::vector<std::string> FolderEntries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

TEST(SaveImageFile, ReplacesTheOldFileKeepingItsPermissions) {
  TempDir dir;
  const fs::path file = dir / "keep.png";
  WriteBytes(file, {'o', 'l', 'd'});
  ::chmod(file.c_str(), 0640);
  SaveImageFile(file, ".png", MakePicture(PixelFormat::Bits24, 5, 5, 1));
  EXPECT_EQ(LoadImageFile(file).Width(), 5);
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"keep.png"});
}

TEST(SaveImageFile, FailuresLeaveTheOldFileUntouchedAndNoTemporaryFile) {
  TempDir dir;
  const fs::path file = dir / "old.png";
  WriteBytes(file, {'o', 'l', 'd'});
  // No pixels: refused before anything is written.
  EXPECT_THROW(SaveImageFile(file, ".png", Bitmap()), Error);
  // The target is a folder with contents: the rename fails after the data was written.
  fs::create_directory(dir / "taken.bmp");
  WriteBytes(dir / "taken.bmp" / "inside", {'x'});
  try {
    SaveImageFile(dir / "taken.bmp", ".bmp", MakePicture(PixelFormat::Bits24, 5, 5, 1));
    ADD_FAILURE() << "saved over a folder";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("taken.bmp"), std::string::npos) << e.what();
  }
  // A folder that does not exist.
  EXPECT_THROW(
      SaveImageFile(dir / "nowhere" / "x.png", ".png", MakePicture(PixelFormat::Bits24, 5, 5, 1)),
      Error);
  EXPECT_EQ(ReadBytes(file), (std::vector<uint8_t>{'o', 'l', 'd'}));
  EXPECT_EQ(FolderEntries(dir.Path()), (std::vector<std::string>{"old.png", "taken.bmp"}));
  EXPECT_EQ(FolderEntries(dir / "taken.bmp"), std::vector<std::string>{"inside"});
}

TEST(SaveImageFile, AWriteErrorLeavesTheOldFileUntouched) {
  // A file-size limit makes the writes fail half-way, as a full disk would.
  TempDir dir;
  for (const char* name : {"old.png", "old.jpg", "old.bmp"}) {
    SCOPED_TRACE(name);
    const fs::path file = dir / name;
    WriteBytes(file, {'o', 'l', 'd'});
    const Bitmap noise = MakePicture(PixelFormat::Bits24, 400, 400, 8);
    {
      test::FileSizeLimit limit(20000);
      EXPECT_THROW(SaveImageFile(file, FileExtension(name), noise), Error);
    }
    EXPECT_EQ(ReadBytes(file), (std::vector<uint8_t>{'o', 'l', 'd'}));
    std::error_code ec;
    fs::remove(file, ec);
    EXPECT_TRUE(FolderEntries(dir.Path()).empty());
  }
}

}  // namespace
}  // namespace kavun
