// Files that nothing can fool: where saving writes (links, protections, folders), what a
// temporary file exposes, which inputs are refused unread, and what hostile headers may cost.
// Where permissions matter the cases run in a child process as the user "nobody", since root
// ignores file permissions.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <png.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

#include "common/process_support.h"
#include "engine/error.h"
#include "imagefile/file_io.h"
#include "imagefile/imagefile.h"
#include "test_support.h"

namespace kavun {
namespace {

namespace fs = std::filesystem;
using test::Child;
using test::ChildGid;
using test::ChildUid;
using test::MakePicture;
using test::ReadBytes;
using test::RunChild;
using test::TempDir;
using test::WriteBytes;

// --- helpers ----------------------------------------------------------------------------------

std::vector<std::string> FolderEntries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

ErrorKind KindOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const Error& e) {
    return e.Kind();
  }
  return ErrorKind::Other;  // no error at all
}

// A folder the child may write.
void GiveToChild(const fs::path& path) {
  ASSERT_EQ(::chown(path.c_str(), ChildUid(), ChildGid()), 0);
}

bool NeedsOtherUser() {
  if (::geteuid() == 0 && ::getpwnam("nobody") == nullptr) return true;
  return false;
}

int KindCode(ErrorKind kind) {
  return 10 + static_cast<int>(kind);
}

ino_t Inode(const fs::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

const Bitmap& NewPictureForTheFolder() {
  static const Bitmap picture = MakePicture(PixelFormat::Bits24, 4, 4, 9);
  return picture;
}

// --- where saving writes ------------------------------------------------------------------------

TEST(SafeSave, FollowsSymbolicLinksAndKeepsTheLink) {
  TempDir dir;
  fs::create_directory(dir / "real");
  const Bitmap old = MakePicture(PixelFormat::Bits24, 3, 3, 1);
  SaveImageFile(dir / "real" / "target.png", ".png", old);
  fs::create_symlink("real/target.png", dir / "link.png");
  // A link to a file that does not exist yet creates that file.
  fs::create_symlink("real/new.bmp", dir / "dangling.bmp");

  SaveImageFile(dir / "link.png", ".png", MakePicture(PixelFormat::Bits24, 7, 5, 2));
  SaveImageFile(dir / "dangling.bmp", ".bmp", MakePicture(PixelFormat::Bits24, 2, 2, 3));
  EXPECT_TRUE(fs::is_symlink(dir / "link.png"));
  EXPECT_TRUE(fs::is_symlink(dir / "dangling.bmp"));
  EXPECT_EQ(LoadImageFile(dir / "real" / "target.png").Width(), 7);
  EXPECT_EQ(LoadImageFile(dir / "real" / "new.bmp").Width(), 2);
  EXPECT_EQ(FolderEntries(dir.Path()),
            (std::vector<std::string>{"dangling.bmp", "link.png", "real"}));
  EXPECT_EQ(FolderEntries(dir / "real"), (std::vector<std::string>{"new.bmp", "target.png"}));
}

TEST(SafeSave, HardLinkedFilesAreRewrittenInPlaceAndAFailingEncoderChangesNothing) {
  TempDir dir;
  SaveImageFile(dir / "a.png", ".png", MakePicture(PixelFormat::Bits24, 3, 3, 1));
  fs::create_hard_link(dir / "a.png", dir / "b.png");
  const ino_t inode = Inode(dir / "a.png");

  SaveImageFile(dir / "a.png", ".png", MakePicture(PixelFormat::Bits24, 9, 4, 2));
  EXPECT_EQ(Inode(dir / "a.png"), inode);
  EXPECT_EQ(fs::hard_link_count(dir / "a.png"), 2u);
  EXPECT_EQ(LoadImageFile(dir / "b.png").Width(), 9);

  // A longer file, then a shorter one: the old tail is cut off.
  SaveImageFile(dir / "a.png", ".bmp", MakePicture(PixelFormat::Bits24, 40, 40, 3));
  SaveImageFile(dir / "a.png", ".png", MakePicture(PixelFormat::Bits24, 2, 2, 4));
  EXPECT_EQ(LoadImageFile(dir / "b.png").Width(), 2);

  // The encoder fails after writing part of its output: the file is as it was.
  const auto before = ReadBytes(dir / "a.png");
  EXPECT_THROW(WriteFileSafely(dir / "a.png",
                               [](std::FILE* f) {
                                 std::fputs("half a picture", f);
                                 throw Error(ErrorKind::WriteFailed, {}, "encoder");
                               }),
               Error);
  EXPECT_EQ(ReadBytes(dir / "b.png"), before);
  EXPECT_EQ(FolderEntries(dir.Path()), (std::vector<std::string>{"a.png", "b.png"}));
}

TEST(SafeSave, SaveOntoAFolderOrDeviceIsRefused) {
  TempDir dir;
  fs::create_directory(dir / "taken.png");
  const Bitmap picture = MakePicture(PixelFormat::Bits24, 2, 2, 1);
  EXPECT_EQ(KindOf([&] { SaveImageFile(dir / "taken.png", ".png", picture); }),
            ErrorKind::NotAFile);
  ASSERT_EQ(::mkfifo((dir / "fifo.bmp").c_str(), 0600), 0);
  EXPECT_EQ(KindOf([&] { SaveImageFile(dir / "fifo.bmp", ".bmp", picture); }), ErrorKind::NotAFile);
  EXPECT_EQ(FolderEntries(dir.Path()), (std::vector<std::string>{"fifo.bmp", "taken.png"}));
}

// A process killed while it saves (SIGKILL, which no handler sees) leaves no temporary file: it
// has no name until it is complete. The old file, or no file, stays as it was.
TEST(SafeSave, AProcessKilledWhileSavingLeavesNoTemporaryFile) {
  TempDir dir;
  WriteBytes(dir / "old.bmp", {'o', 'l', 'd'});
  for (const char* name : {"old.bmp", "new.bmp"}) {
    SCOPED_TRACE(name);
    const Child child = RunChild([&] {
      WriteFileSafely(dir / name, [](std::FILE* f) {
        const std::vector<char> data(1 << 20, 'x');
        std::fwrite(data.data(), 1, data.size(), f);
        std::fflush(f);
        ::raise(SIGKILL);
      });
      return 0;
    });
    EXPECT_EQ(child.Status, -1);  // killed
    EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string>{"old.bmp"});
    EXPECT_EQ(ReadBytes(dir / "old.bmp"), (std::vector<uint8_t>{'o', 'l', 'd'}));
  }
}

// A folder that lets files be created but not removed or replaced (append-only): the save fails,
// and the message names the temporary file it had to leave there.
TEST(SafeSave, ATemporaryFileTheFolderWillNotLetGoIsNamed) {
  TempDir dir;
  fs::create_directory(dir / "log");
  WriteBytes(dir / "log" / "a.bmp", {'o', 'l', 'd'});
  const std::string chattr = "chattr +a '" + (dir / "log").string() + "' 2>/dev/null";
  if (::geteuid() != 0 || std::system(chattr.c_str()) != 0) {
    GTEST_SKIP() << "no append-only folder here (needs root and a file system with chattr)";
  }
  struct Undo {
    std::string folder;
    ~Undo() { std::system(("chattr -a '" + folder + "'").c_str()); }
  } undo{(dir / "log").string()};
  for (const bool unnamed : {true, false}) {
    SCOPED_TRACE(unnamed ? "unnamed" : "named");
    AllowUnnamedTemporaryFiles(unnamed);
    const std::vector<std::string> before = FolderEntries(dir / "log");
    try {
      SaveImageFile(dir / "log" / "a.bmp", ".bmp", NewPictureForTheFolder());
      ADD_FAILURE() << "replaced a file in an append-only folder";
    } catch (const Error& e) {
      EXPECT_EQ(e.Kind(), ErrorKind::PermissionDenied) << e.what();
      const fs::path left = e.LeftOverFile();
      EXPECT_EQ(left.parent_path(), dir / "log");
      EXPECT_TRUE(left.filename().string().starts_with(".kv")) << left;
      EXPECT_NE(std::string(e.what()).find(left.string()), std::string::npos) << e.what();
      std::vector<std::string> expected = before;
      expected.push_back(left.filename().string());
      std::sort(expected.begin(), expected.end());
      EXPECT_EQ(FolderEntries(dir / "log"), expected);
    }
    EXPECT_EQ(ReadBytes(dir / "log" / "a.bmp"), (std::vector<uint8_t>{'o', 'l', 'd'}));
    // A new file needs no replacing; unnamed, it is linked in under its own name at once.
    if (unnamed) {
      SaveImageFile(dir / "log" / "b.bmp", ".bmp", NewPictureForTheFolder());
      EXPECT_EQ(LoadImageFile(dir / "log" / "b.bmp").Width(), 4);
    }
  }
  AllowUnnamedTemporaryFiles(true);
}

// Cases an ordinary user meets: each runs as nobody in a child; a status of 0 means it held.
struct PermissionCase {
  const char* Name;
  std::function<void(const fs::path& dir)> Prepare;  // as root (or the test's user)
  std::function<int(const fs::path& dir)> Check;     // as nobody
};

class SafeSaveAsUser : public testing::TestWithParam<PermissionCase> {};

TEST_P(SafeSaveAsUser, Holds) {
  if (NeedsOtherUser()) GTEST_SKIP() << "no user other than root to test permissions with";
  TempDir dir;
  ::chmod(dir.Path().c_str(), 0755);
  GiveToChild(dir.Path());
  GetParam().Prepare(dir.Path());
  const Child child = RunChild([&] { return GetParam().Check(dir.Path()); }, true);
  EXPECT_EQ(child.Status, 0);
}

const Bitmap& NewPicture() {
  static const Bitmap picture = MakePicture(PixelFormat::Bits24, 6, 4, 5);
  return picture;
}

mode_t ModeOf(const fs::path& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SafeSaveAsUser,
    testing::Values(
        PermissionCase{"WriteProtectedFileIsRefusedAndUntouched",
                       [](const fs::path& dir) {
                         WriteBytes(dir / "ro.png", {'o', 'l', 'd'});
                         GiveToChild(dir / "ro.png");
                         ::chmod((dir / "ro.png").c_str(), 0444);
                       },
                       [](const fs::path& dir) {
                         const ErrorKind overwrite =
                             KindOf([&] { SaveImageFile(dir / "ro.png", ".png", NewPicture()); });
                         if (overwrite != ErrorKind::PermissionDenied) return KindCode(overwrite);
                         if (ReadBytes(dir / "ro.png") != std::vector<uint8_t>{'o', 'l', 'd'})
                           return 1;
                         if (FolderEntries(dir) != std::vector<std::string>{"ro.png"}) return 2;
                         return 0;
                       }},
        PermissionCase{"WritableFileInAProtectedFolderIsRewrittenInPlace",
                       [](const fs::path& dir) {
                         fs::create_directory(dir / "locked");
                         WriteBytes(dir / "locked" / "p.bmp", {'o', 'l', 'd'});
                         GiveToChild(dir / "locked" / "p.bmp");
                         ::chmod((dir / "locked").c_str(),
                                 0755);  // root's: nobody may not create files
                       },
                       [](const fs::path& dir) {
                         const fs::path file = dir / "locked" / "p.bmp";
                         const ino_t inode = Inode(file);
                         SaveImageFile(file, ".bmp", NewPicture());
                         if (Inode(file) != inode) return 1;
                         if (LoadImageFile(file).Width() != 6) return 2;
                         // A new file there is refused as the folder's protection says.
                         const ErrorKind created = KindOf([&] {
                           SaveImageFile(dir / "locked" / "new.png", ".png", NewPicture());
                         });
                         return created == ErrorKind::PermissionDenied ? 0 : KindCode(created);
                       }},
        PermissionCase{"TheTemporaryFileIsNoMoreReadableThanTheTarget",
                       [](const fs::path& dir) {
                         WriteBytes(dir / "private.png", {'o', 'l', 'd'});
                         GiveToChild(dir / "private.png");
                         ::chmod((dir / "private.png").c_str(), 0600);
                       },
                       [](const fs::path& dir) {
                         ::umask(022);
                         // Look at the temporary file while it is being written, unnamed
                         // (where the system allows) and named (the fallback).
                         for (const bool unnamed : {true, false}) {
                           AllowUnnamedTemporaryFiles(unnamed);
                           mode_t seen = 07777;
                           int named = 0;
                           auto spy = [&](std::FILE* f) {
                             std::fputs("new", f);
                             struct stat st {};
                             if (::fstat(::fileno(f), &st) == 0) seen = st.st_mode & 07777;
                             named = 0;
                             for (const auto& e : fs::directory_iterator(dir)) {
                               if (e.path().filename().string().rfind(".kv", 0) == 0) ++named;
                             }
                           };
                           const int base = unnamed ? 0 : 10;
                           WriteFileSafely(dir / "private.png", spy);
                           if (seen != 0600) return base + 1;
                           if (ModeOf(dir / "private.png") != 0600) return base + 2;
                           if (named != (unnamed ? 0 : 1)) return base + 3;
                           // A new file: 0600 while written, then what the umask gives.
                           seen = 07777;
                           fs::remove(dir / "fresh.png");
                           WriteFileSafely(dir / "fresh.png", spy);
                           if (seen != 0600) return base + 4;
                           if (ModeOf(dir / "fresh.png") != 0644) return base + 5;
                           if (named != (unnamed ? 0 : 1)) return base + 6;
                           if (ReadBytes(dir / "fresh.png") != std::vector<uint8_t>{'n', 'e', 'w'})
                             return base + 7;
                         }
                         AllowUnnamedTemporaryFiles(true);
                         return 0;
                       }},
        PermissionCase{"ANameOfTheLongestLengthCanBeSaved", [](const fs::path&) {},
                       [](const fs::path& dir) {
                         const std::string name = std::string(251, 'n') + ".png";
                         SaveImageFile(dir / name, ".png", NewPicture());
                         SaveImageFile(dir / name, ".png", NewPicture());
                         return FolderEntries(dir) == std::vector<std::string>{name} ? 0 : 1;
                       }}),
    [](const testing::TestParamInfo<PermissionCase>& test) { return test.param.Name; });

// --- inputs that are files ----------------------------------------------------------------------

TEST(InputFiles, AnythingButARegularFileIsRefusedWithoutReading) {
  TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "fifo.png").c_str(), 0600), 0);  // no writer: reading would block
  fs::create_directory(dir / "folder.bmp");
  fs::create_symlink("/dev/zero", dir / "zero.jpg");
  for (const char* name : {"fifo.png", "folder.bmp", "zero.jpg"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(KindOf([&] { LoadImageFile(dir / name); }), ErrorKind::NotAFile);
    EXPECT_EQ(KindOf([&] { ReadRegularFile(dir / name, 1 << 20); }), ErrorKind::NotAFile);
  }
  EXPECT_EQ(KindOf([&] { LoadImageFile(dir / "missing.png"); }), ErrorKind::FileNotFound);
}

TEST(InputFiles, AFileLargerThanAnyPictureOfItsFormatIsRefusedUnread) {
  TempDir dir;
  // A 4 GiB sparse file behind a valid RLE header: reading it would take minutes.
  const auto header = ReadBytes(test::Data("bmpsuite/g/pal8rle.bmp"));
  for (const char* name : {"big.bmp", "big.png", "big.jpg"}) {
    SCOPED_TRACE(name);
    WriteBytes(dir / name, header);
    fs::resize_file(dir / name, uint64_t{4} << 30);
    const Child child =
        RunChild([&] { return KindCode(KindOf([&] { LoadImageFile(dir / name); })); });
    EXPECT_EQ(child.Status, KindCode(ErrorKind::FileTooLarge));
    fs::remove(dir / name);
  }
  // A password-sized limit.
  WriteBytes(dir / "two.txt", std::vector<uint8_t>(2000, 'x'));
  EXPECT_EQ(KindOf([&] { ReadRegularFile(dir / "two.txt", 1000); }), ErrorKind::FileTooLarge);
  EXPECT_EQ(ReadRegularFile(dir / "two.txt", 2000).size(), 2000u);
}

// --- hostile and valid files, made here
// -----------------------------------------------------------

void Put16(std::vector<uint8_t>& f, uint32_t v) {
  f.push_back(static_cast<uint8_t>(v));
  f.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& f, uint32_t v) {
  Put16(f, v & 0xFFFF);
  Put16(f, v >> 16);
}
void PutBe32(std::vector<uint8_t>& f, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) f.push_back(static_cast<uint8_t>(v >> shift));
}

// A BMP with a 40-byte header, a grey palette of `colours` entries and `data` as pixels.
std::vector<uint8_t> Bmp(int32_t width, int32_t height, uint16_t bpp, uint32_t compression,
                         uint32_t colours, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> f{'B', 'M'};
  const uint32_t offset = 54 + 4 * colours;
  Put32(f, offset + static_cast<uint32_t>(data.size()));
  Put32(f, 0);
  Put32(f, offset);
  Put32(f, 40);
  Put32(f, static_cast<uint32_t>(width));
  Put32(f, static_cast<uint32_t>(height));
  Put16(f, 1);
  Put16(f, bpp);
  Put32(f, compression);
  Put32(f, static_cast<uint32_t>(data.size()));
  Put32(f, 3780);
  Put32(f, 3780);
  Put32(f, colours);
  Put32(f, 0);
  for (uint32_t i = 0; i < colours; ++i) Put32(f, (i * 0x010101u) & 0xFFFFFF);
  f.insert(f.end(), data.begin(), data.end());
  return f;
}

void PngChunk(std::vector<uint8_t>& f, const char* type, const std::vector<uint8_t>& data) {
  PutBe32(f, static_cast<uint32_t>(data.size()));
  const std::size_t start = f.size();
  f.insert(f.end(), type, type + 4);
  f.insert(f.end(), data.begin(), data.end());
  PutBe32(f,
          static_cast<uint32_t>(::crc32(0, f.data() + start, static_cast<uInt>(f.size() - start))));
}

std::vector<uint8_t> Deflate(const std::vector<uint8_t>& raw) {
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::vector<uint8_t> out(size);
  EXPECT_EQ(::compress(out.data(), &size, raw.data(), static_cast<uLong>(raw.size())), Z_OK);
  out.resize(size);
  return out;
}

// A PNG of the given header whose IDAT holds `raw` (filter bytes included), with `before` (type,
// data) chunks between IHDR and IDAT.
std::vector<uint8_t> Png(
    uint32_t width, uint32_t height, uint8_t depth, uint8_t colorType, uint8_t interlace,
    const std::vector<uint8_t>& raw,
    const std::vector<std::pair<std::string, std::vector<uint8_t>>>& before = {}) {
  std::vector<uint8_t> f{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<uint8_t> ihdr;
  PutBe32(ihdr, width);
  PutBe32(ihdr, height);
  ihdr.insert(ihdr.end(), {depth, colorType, 0, 0, interlace});
  PngChunk(f, "IHDR", ihdr);
  for (const auto& [type, data] : before) PngChunk(f, type.c_str(), data);
  PngChunk(f, "IDAT", Deflate(raw));
  PngChunk(f, "IEND", {});
  return f;
}

// A JPEG written by libjpeg itself, optionally arithmetic-coded.
std::vector<uint8_t> Jpeg(int width, int height, bool arithmetic) {
  jpeg_compress_struct cinfo{};
  jpeg_error_mgr err{};
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  cinfo.arith_code = arithmetic ? TRUE : FALSE;
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<uint8_t> row(3 * static_cast<std::size_t>(width));
  for (int y = 0; y < height; ++y) {
    for (std::size_t i = 0; i < row.size(); ++i)
      row[i] = static_cast<uint8_t>(i * 7 + y * 13 + (i * y) % 31);
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::vector<uint8_t> out(buffer, buffer + size);
  std::free(buffer);
  return out;
}

// Sets the frame header's size of a JPEG and keeps only `scanBytes` of its entropy-coded data.
std::vector<uint8_t> JpegWithHugeFrame(std::vector<uint8_t> jpeg, uint16_t width, uint16_t height,
                                       std::size_t scanBytes) {
  test::PatchJpegSize(jpeg, width, height);
  for (std::size_t i = 2; i + 4 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) {
      const std::size_t end = i + 2 + ((jpeg[i + 2] << 8) | jpeg[i + 3]) + scanBytes;
      jpeg.resize(end);
      jpeg.insert(jpeg.end(), {0xFF, 0xD9});
      break;
    }
  }
  return jpeg;
}

// Largest picture the program holds, about 1 GiB in 24 bits (a JPEG's side is at most 65500).
constexpr uint32_t kHugeW = 65535;
constexpr uint32_t kHugeH = 5461;

struct HostileCase {
  const char* Name;
  std::function<std::vector<uint8_t>()> Make;
  ErrorKind Expected;  // Other: loads
};

class HostileHeader : public testing::TestWithParam<HostileCase> {};

// Each file is loaded in a child whose peak memory is measured: far below the gigabyte its header
// claims.
TEST_P(HostileHeader, CostsLittleMemoryBeforeItFails) {
  TempDir dir;
  const fs::path file = dir / GetParam().Name;
  WriteBytes(file, GetParam().Make());
  const Child child = RunChild([&] { return KindCode(KindOf([&] { LoadImageFile(file); })); });
  EXPECT_EQ(child.Status, KindCode(GetParam().Expected));
  EXPECT_LT(child.MaxRssKiB, 150 * 1024);
}

INSTANTIATE_TEST_SUITE_P(
    Files, HostileHeader,
    testing::Values(
        HostileCase{"uncompressed-rows-missing.bmp",
                    [] { return Bmp(kHugeW, kHugeH, 24, 0, 0, std::vector<uint8_t>(16)); },
                    ErrorKind::FileEndsEarly},
        HostileCase{"tiny-idat.png",
                    [] { return Png(kHugeW, kHugeH, 8, 2, 0, std::vector<uint8_t>(64)); },
                    ErrorKind::FileEndsEarly},
        HostileCase{"tiny-idat-interlaced.png",
                    [] { return Png(18918, 18918, 8, 6, 1, std::vector<uint8_t>(16)); },
                    ErrorKind::FileEndsEarly},
        HostileCase{"tiny-scan.jpg",
                    [] { return JpegWithHugeFrame(Jpeg(16, 16, false), 65500, kHugeH, 16); },
                    ErrorKind::FileEndsEarly},
        // Valid: an RLE bitmap of the largest size that is all index 0 but for an end marker.
        // The untouched rows cost nothing.
        HostileCase{"end-marker-only.bmp",
                    [] {
                      return Bmp(kHugeW, kHugeH, 8, 1, 256, {0, 1});
                    },
                    ErrorKind::Other}),
    [](const testing::TestParamInfo<HostileCase>& test) {
      std::string name = test.param.Name;
      for (char& c : name) {
        if (c == '-' || c == '.') c = '_';
      }
      return name;
    });

TEST(PngDecode, InterlacedPicturesNeedNoSecondFullSizeBuffer) {
  // 2000 x 2000 RGBA, interlaced: the picture is 12 MB in 24 bits; a second full-size RGBA
  // buffer would add 16 MB.
  TempDir dir;
  const uint32_t side = 2000;
  std::vector<uint8_t> raw;
  for (int pass = 0; pass < 7; ++pass) {
    const uint32_t cols = PNG_PASS_COLS(side, pass);
    const uint32_t rows = PNG_PASS_ROWS(side, pass);
    for (uint32_t y = 0; y < rows && cols > 0; ++y) {
      raw.push_back(0);
      for (uint32_t x = 0; x < cols; ++x) raw.insert(raw.end(), {uint8_t(x), uint8_t(y), 7, 255});
    }
  }
  WriteBytes(dir / "i.png", Png(side, side, 8, 6, 1, raw));
  const Child baseline = RunChild([] { return 0; });
  const Child child = RunChild([&] {
    const Bitmap b = LoadImageFile(dir / "i.png");
    return b.Width() == int32_t(side) && b.PixelColor(1, 1) == PaletteEntry{7, 0, 1} ? 0 : 1;
  });
  EXPECT_EQ(child.Status, 0);
  EXPECT_LT(child.MaxRssKiB - baseline.MaxRssKiB, 12 * 1024 + 8 * 1024);
}

TEST(BmpDecode, RleRunsIntoTheRowPaddingDropThePixelsPastTheRow) {
  TempDir dir;
  // 5 pixels wide: the rows hold 8 (RLE8) or 8 (RLE4) pixels with their padding.
  WriteBytes(dir / "rle8.bmp", Bmp(5, 2, 8, 1, 4, {8, 1, 0, 0, 3, 2, 5, 3, 0, 1}));
  WriteBytes(dir / "rle4.bmp", Bmp(5, 1, 4, 2, 4, {8, 0x12, 0, 1}));
  const Bitmap b8 = LoadImageFile(dir / "rle8.bmp");
  EXPECT_EQ(std::vector<uint8_t>(b8.ScanLine(1).begin(), b8.ScanLine(1).begin() + 5),
            (std::vector<uint8_t>{1, 1, 1, 1, 1}));
  EXPECT_EQ(std::vector<uint8_t>(b8.ScanLine(0).begin(), b8.ScanLine(0).begin() + 5),
            (std::vector<uint8_t>{2, 2, 2, 3, 3}));
  const Bitmap b4 = LoadImageFile(dir / "rle4.bmp");
  EXPECT_EQ(std::vector<uint8_t>(b4.ScanLine(0).begin(), b4.ScanLine(0).begin() + 3),
            (std::vector<uint8_t>{0x12, 0x12, 0x10}));
  // Past the padding a run is still wrong.
  WriteBytes(dir / "past.bmp", Bmp(5, 1, 8, 1, 4, {9, 1, 0, 1}));
  EXPECT_EQ(KindOf([&] { LoadImageFile(dir / "past.bmp"); }), ErrorKind::CorruptData);
}

TEST(PngDecode, ChunksThePictureDoesNotNeedNeverStopItLoading) {
  TempDir dir;
  const std::vector<uint8_t> rows = {0, 0x40, 0, 0x80};  // 2 x 2, 1 bit: filter byte + pixels
  const std::vector<uint8_t> plte = {0, 0, 0, 255, 255, 255};
  auto picture = [&](std::vector<std::pair<std::string, std::vector<uint8_t>>> extra) {
    extra.insert(extra.begin(), {"PLTE", plte});
    return Png(2, 2, 1, 3, 0, rows, extra);
  };
  std::vector<std::pair<std::string, std::vector<uint8_t>>> many;
  for (int i = 0; i < 2000; ++i) many.push_back({"tEXt", {'k', 0, 'v'}});
  std::vector<uint8_t> ztxt = {'k', 0, 0};
  const auto zeros = Deflate(std::vector<uint8_t>(20 << 20, ' '));  // 20 MB of text
  ztxt.insert(ztxt.end(), zeros.begin(), zeros.end());
  const std::vector<std::pair<const char*, std::vector<uint8_t>>> files = {
      {"many-text.png", picture(many)},
      {"trns-too-long.png", picture({{"tRNS", {0, 0, 0, 0, 0}}})},
      {"big-ztxt.png", picture({{"zTXt", ztxt}})},
      {"big-unknown.png", picture({{"prVt", std::vector<uint8_t>(12 << 20, 1)}})},
      {"big-iccp.png", picture({{"iCCP", std::vector<uint8_t>(9 << 20, 1)}})},
  };
  for (const auto& [name, bytes] : files) {
    SCOPED_TRACE(name);
    WriteBytes(dir / name, bytes);
    try {
      const Bitmap b = LoadImageFile(dir / name);
      EXPECT_EQ(b.Format(), PixelFormat::Bits1);
      EXPECT_EQ(b.PixelColor(1, 0), (PaletteEntry{255, 255, 255}));
      EXPECT_EQ(b.PixelColor(0, 1), (PaletteEntry{255, 255, 255}));
      EXPECT_EQ(b.PixelColor(0, 0), (PaletteEntry{0, 0, 0}));
    } catch (const Error& e) {
      ADD_FAILURE() << e.what();
    }
  }
}

TEST(JpegDecode, DamagedArithmeticCodedDataIsRefusedLikeHuffmanCodedData) {
  TempDir dir;
  for (const bool arithmetic : {false, true}) {
    SCOPED_TRACE(arithmetic ? "arithmetic" : "huffman");
    auto bytes = Jpeg(64, 256, arithmetic);
    WriteBytes(dir / "good.jpg", bytes);
    EXPECT_EQ(LoadImageFile(dir / "good.jpg").Height(), 256);
    // The entropy-coded data cut in the middle, the file closed properly.
    std::size_t sos = 0;
    for (std::size_t i = 2; i + 1 < bytes.size(); ++i) {
      if (bytes[i] == 0xFF && bytes[i + 1] == 0xDA) sos = i;
    }
    ASSERT_NE(sos, 0u);
    const std::size_t data = sos + 2 + ((bytes[sos + 2] << 8) | bytes[sos + 3]);
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + data + (bytes.size() - data) / 3);
    cut.insert(cut.end(), {0xFF, 0xD9});
    WriteBytes(dir / "cut.jpg", cut);
    EXPECT_NE(KindOf([&] { LoadImageFile(dir / "cut.jpg"); }), ErrorKind::Other);
  }
}

TEST(LoadImageFile, TellsWhatThePictureCannotKeep) {
  TempDir dir;
  const std::vector<uint8_t> rgba16 = {0, 0, 1, 0, 2, 0, 3, 0, 4};
  WriteBytes(dir / "rgba16.png", Png(1, 1, 16, 6, 0, rgba16));
  WriteBytes(dir / "grey-alpha.png", Png(1, 1, 8, 4, 0, {0, 9, 200}));
  WriteBytes(dir / "rgb16.png", Png(1, 1, 16, 2, 0, {0, 1, 2, 3, 4, 5, 6}));
  WriteBytes(dir / "rgb.png", Png(1, 1, 8, 2, 0, {0, 1, 2, 3}));
  const std::vector<std::tuple<const char*, bool, bool>> cases = {
      {"rgba16.png", true, true},
      {"grey-alpha.png", true, false},
      {"rgb16.png", false, true},
      {"rgb.png", false, false},
  };
  for (const auto& [name, alpha, deep] : cases) {
    SCOPED_TRACE(name);
    DroppedOnLoad dropped;
    dropped.Alpha = !alpha;
    LoadImageFile(dir / name, &dropped);
    EXPECT_EQ(dropped.Alpha, alpha);
    EXPECT_EQ(dropped.DeepSamples, deep);
  }
}

}  // namespace
}  // namespace kavun
