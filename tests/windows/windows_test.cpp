// The file layer and the settings on Windows' own terms: UTF-16 file names, the read-only
// attribute, a file another handle holds without sharing it, and ReplaceFileW failing.

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "applogic/settings.h"
#include "engine/error.h"
#include "engine/path_text.h"
#include "imagefile/file_access.h"
#include "imagefile/file_io.h"
#include "imagefile/imagefile.h"
#include "imagefile/test_support.h"

namespace kavun {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// Names that the ANSI code page of a Western or a Japanese system cannot both hold.
const char* const kNames[] = {"写真_テスト.png", "テスト.bmp", "Ünïcödé ÷ ✓.jpg", "𝄞 music.png"};

std::string Content(const fs::path& path) {
  return ReadRegularFile(path, 0);
}

void Write(const fs::path& path, const std::string& text) {
  WriteFileSafely(path, [&](std::FILE* f) { std::fwrite(text.data(), 1, text.size(), f); });
}

// Every file in `folder`: a failed save leaves no temporary file behind.
std::vector<std::string> Files(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(PathToUtf8(entry.path().filename()));
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(WideNames, PicturesSaveAndLoadUnderTheirOwnNames) {
  TempDir dir;
  const Bitmap picture = test::MakePicture(PixelFormat::Bits24, 17, 9, 7);
  for (const char* name : kNames) {
    SCOPED_TRACE(name);
    const fs::path path = dir.Path() / PathFromUtf8(name);
    SaveImageFile(path, FileExtension(name), picture);
    // The name on the disk is the one given, not its code-page form.
    EXPECT_EQ(PathToUtf8(path.filename()), name);
    EXPECT_TRUE(fs::exists(path));
    const Bitmap loaded = LoadImageFile(path);
    EXPECT_EQ(loaded.Width(), 17);
    EXPECT_EQ(loaded.Height(), 9);
  }
  EXPECT_EQ(Files(dir.Path()).size(), std::size(kNames));
}

TEST(WideNames, ErrorsNameTheFileInUtf8) {
  TempDir dir;
  const std::string name = "無い_ファイル.png";
  try {
    LoadImageFile(dir.Path() / PathFromUtf8(name));
    FAIL() << "a missing file loaded";
  } catch (const Error& e) {
    EXPECT_EQ(e.Kind(), ErrorKind::FileNotFound);
    EXPECT_NE(std::string(e.what()).find(name), std::string::npos) << e.what();
  }
}

TEST(WideNames, SettingsFileFollowsTheExecutablesName) {
  EXPECT_EQ(SettingsPathForExecutable(PathFromUtf8("C:\\ツール\\カブン.exe")),
            PathFromUtf8("C:\\ツール\\カブン.ini"));
}

TEST(ReadOnly, AReadOnlyFileIsRefusedAndKept) {
  TempDir dir;
  const fs::path path = dir.Path() / PathFromUtf8("読み取り専用.txt");
  Write(path, "old");
  ASSERT_TRUE(::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(MayWriteFile(path));
  try {
    Write(path, "new");
    FAIL() << "a read-only file was replaced";
  } catch (const Error& e) {
    EXPECT_EQ(e.Kind(), ErrorKind::PermissionDenied);
  }
  EXPECT_EQ(Content(path), "old");
  EXPECT_EQ(Files(dir.Path()), std::vector<std::string>{"読み取り専用.txt"});
  ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A handle that shares the file for reading only, as a viewer that keeps it open does.
class HeldFile {
 public:
  HeldFile(const fs::path& path, DWORD share)
      : handle_(::CreateFileW(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~HeldFile() {
    if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
  }
  bool Ok() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

TEST(HeldOpen, AFileAnotherHandleHoldsIsReportedAsInUseAndKept) {
  TempDir dir;
  const fs::path path = dir.Path() / PathFromUtf8("開いている.png");
  Write(path, "old");
  for (const DWORD share :
       {DWORD{0}, DWORD{FILE_SHARE_READ}, DWORD{FILE_SHARE_READ | FILE_SHARE_WRITE}}) {
    SCOPED_TRACE(share);
    const HeldFile held(path, share);
    ASSERT_TRUE(held.Ok());
    try {
      Write(path, "new");
      FAIL() << "a file held without sharing was replaced";
    } catch (const Error& e) {
      EXPECT_EQ(e.Kind(), ErrorKind::FileInUse) << e.what();
      EXPECT_NE(std::string(e.what()).find("in use by another program"), std::string::npos);
    }
    EXPECT_EQ(Files(dir.Path()), std::vector<std::string>{"開いている.png"});
  }
  EXPECT_EQ(Content(path), "old");
}

TEST(HeldOpen, AFileSharedForEverythingIsReplaced) {
  TempDir dir;
  const fs::path path = dir.Path() / "shared.txt";
  Write(path, "old");
  {
    const HeldFile held(path, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    ASSERT_TRUE(held.Ok());
    Write(path, "new");
  }
  EXPECT_EQ(Content(path), "new");
}

TEST(Replace, AFailingWriterLeavesTheOldFileAndNoTemporary) {
  TempDir dir;
  const fs::path path = dir.Path() / PathFromUtf8("古い.txt");
  Write(path, "old");
  EXPECT_THROW(WriteFileSafely(path,
                               [](std::FILE* f) {
                                 std::fputs("half", f);
                                 throw Error(ErrorKind::WriteFailed, "", "made to fail");
                               }),
               Error);
  EXPECT_EQ(Content(path), "old");
  EXPECT_EQ(Files(dir.Path()), std::vector<std::string>{"古い.txt"});
}

TEST(Replace, KeepsTheOldFilesAttributes) {
  TempDir dir;
  const fs::path path = dir.Path() / "hidden.txt";
  Write(path, "old");
  ASSERT_TRUE(::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN));
  Write(path, "new");
  EXPECT_EQ(Content(path), "new");
  EXPECT_NE(::GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
}

TEST(Replace, AReplaceFileWThatFailsLeavesTheOldFileAndNoTemporary) {
  // The file is taken by another handle while the new content is written: the check before
  // writing passed, and ReplaceFileW itself fails.
  TempDir dir;
  const fs::path path = dir.Path() / PathFromUtf8("置き換え.txt");
  Write(path, "old");
  std::unique_ptr<HeldFile> held;
  try {
    WriteFileSafely(path, [&](std::FILE* f) {
      std::fputs("new", f);
      held = std::make_unique<HeldFile>(path, 0);
      ASSERT_TRUE(held->Ok());
    });
    FAIL() << "the file was replaced under another handle";
  } catch (const Error& e) {
    EXPECT_EQ(e.Kind(), ErrorKind::FileInUse) << e.what();
  }
  held.reset();
  EXPECT_EQ(Content(path), "old");
  EXPECT_EQ(Files(dir.Path()), std::vector<std::string>{"置き換え.txt"});
}

TEST(Folders, AFolderIsNoFile) {
  TempDir dir;
  const fs::path folder = dir.Path() / PathFromUtf8("フォルダ.png");
  fs::create_directory(folder);
  try {
    LoadImageFile(folder);
    FAIL();
  } catch (const Error& e) {
    EXPECT_EQ(e.Kind(), ErrorKind::NotAFile);
  }
  EXPECT_TRUE(MayCreateIn(dir.Path()));
  EXPECT_FALSE(MayCreateIn(dir.Path() / "no such folder"));
}

}  // namespace
}  // namespace kavun
