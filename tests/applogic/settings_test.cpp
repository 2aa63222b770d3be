#include "applogic/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "applogic/ini_file.h"
#include "applogic/readme_path.h"
#include "common/process_support.h"
#include "common/temp_dir.h"
#include "engine/error.h"

namespace kavun {
namespace {

namespace fs = std::filesystem;

constexpr char kDefaultFile[] =
    "[Setup]\r\nisScrollTrack=0\r\nisShowSaveChkDlg=1\r\nisShowJpgSaveChkDlg=1\r\n"
    "FormWidth=594\r\nFormHeight=477\r\n\r\n";

// ---- Integers -------------------------------------------------------------------------------

TEST(ParseIniInteger, Forms) {
  struct Case {
    const char* in;
    std::optional<int32_t> out;
  };
  for (const Case& c : {Case{"800", 800},
                        Case{"0x320", 800},
                        Case{"0X320", 800},
                        Case{"$320", 800},
                        Case{"-5", -5},
                        Case{"+7", 7},
                        Case{"2", 2},
                        Case{"2147483647", 2147483647},
                        Case{"-2147483648", -2147483647 - 1},
                        Case{"2147483648", std::nullopt},
                        Case{"$7FFFFFFF", 2147483647},
                        Case{"$80000000", std::nullopt},
                        Case{"yes", std::nullopt},
                        Case{"", std::nullopt},
                        Case{"-", std::nullopt},
                        Case{"$", std::nullopt},
                        Case{"0x", std::nullopt},
                        Case{"12 3", std::nullopt},
                        Case{"-$10", std::nullopt},
                        Case{"99999999999999999999", std::nullopt}}) {
    EXPECT_EQ(ParseIniInteger(c.in), c.out) << c.in;
  }
}

// ---- Store ----------------------------------------------------------------------------------

TEST(IniStore, ParsesAndNormalises) {
  const TIniStore s = TIniStore::Parse(
      "orphan=1\n"
      "; a comment\n"
      "  [ setup ]  \r\n"
      "  FORMWIDTH = 0x320 \r\n"
      "no equals sign\n"
      "isScrollTrack=2\n"
      "formwidth=1\n"  // a repeated key: the first one counts
      "\n"
      "[Other]\n"
      "Path = a=b \n"
      "[SETUP]\n"
      "FormHeight=$100");
  EXPECT_EQ(s.ReadInteger("Setup", "FormWidth", 0), 800);
  EXPECT_TRUE(s.ReadBool("Setup", "isScrollTrack", false));
  EXPECT_EQ(s.ReadString("other", "path").value_or(""), "a=b");
  EXPECT_EQ(s.ReadInteger("Setup", "FormHeight", 0), 256);
  EXPECT_FALSE(s.ReadString("Setup", "orphan").has_value());
  // A line without '=' stays in its place but is no key.
  EXPECT_FALSE(s.ReadString("Setup", "no equals sign").has_value());
  EXPECT_EQ(s.Serialize(),
            "[setup]\r\nFORMWIDTH=0x320\r\nno equals sign\r\nisScrollTrack=2\r\n"
            "FormHeight=$100\r\n\r\n"
            "[Other]\r\nPath=a=b\r\n\r\n");
  TIniStore written = s;
  written.WriteString("Setup", "no equals sign", "x");
  EXPECT_EQ(written.Serialize(),
            "[setup]\r\nFORMWIDTH=0x320\r\nno equals sign\r\nisScrollTrack=2\r\n"
            "FormHeight=$100\r\nno equals sign=x\r\n\r\n"
            "[Other]\r\nPath=a=b\r\n\r\n");
}

TEST(IniStore, BooleansAndDefaults) {
  const TIniStore s = TIniStore::Parse("[Setup]\nA=yes\nB=0\nC=-1\nD=\n");
  EXPECT_TRUE(s.ReadBool("Setup", "A", true));
  EXPECT_FALSE(s.ReadBool("Setup", "A", false));
  EXPECT_FALSE(s.ReadBool("Setup", "B", true));
  EXPECT_TRUE(s.ReadBool("Setup", "C", false));
  EXPECT_TRUE(s.ReadBool("Setup", "D", true));
  EXPECT_TRUE(s.ReadBool("Setup", "Missing", true));
  EXPECT_EQ(s.ReadInteger("Nowhere", "X", 42), 42);
}

TEST(IniStore, WritesInPlaceAppendsKeysAndSections) {
  TIniStore s = TIniStore::Parse("[A]\r\nx=1\r\ny=2\r\n[setup]\r\nformwidth=3\r\n");
  s.WriteInteger("Setup", "FormWidth", 640);
  s.WriteInteger("Setup", "FormHeight", -1);
  s.WriteString("A", "X", "9");
  s.WriteBool("New", "k", true);
  EXPECT_EQ(s.Serialize(),
            "[A]\r\nx=9\r\ny=2\r\n\r\n[setup]\r\nformwidth=640\r\nFormHeight=-1\r\n\r\n"
            "[New]\r\nk=1\r\n\r\n");
  EXPECT_EQ(TIniStore().Serialize(), "");
}

// ---- Encodings ------------------------------------------------------------------------------

// "[Setup]\r\nFormWidth=800\r\n" and a value holding `extra` (UTF-8), in UTF-16 with its mark.
std::string Utf16File(bool bigEndian, const std::u16string& extra = u"") {
  const std::u16string text = u"[Setup]\r\nFormWidth=800\r\nName=" + extra + u"\r\n";
  std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (const char16_t unit : text) {
    const char hi = static_cast<char>(unit >> 8);
    const char lo = static_cast<char>(unit & 0xFF);
    bytes += bigEndian ? hi : lo;
    bytes += bigEndian ? lo : hi;
  }
  return bytes;
}

TEST(IniStore, ByteOrderMarksAreReadAndWrittenBackInTheirEncoding) {
  const std::string le = Utf16File(false, u"\u3042\U0001F600");
  const std::string be = Utf16File(true, u"\u3042\U0001F600");
  // An unpaired surrogate is kept through reading and writing.
  const std::string lone = Utf16File(false, std::u16string(1, char16_t{0xD800}) + u"x");
  struct Case {
    const char* name;
    std::string bytes;
    TIniEncoding encoding;
    int32_t width;           // FormWidth read, 0 when absent
    std::string name_value;  // the value of Name, as UTF-8
  };
  for (const Case& c : {
           Case{"no mark", "[Setup]\r\nFormWidth=800\r\n", TIniEncoding::Bytes, 800, ""},
           Case{"UTF-8 mark", "\xEF\xBB\xBF[Setup]\r\nFormWidth=800\r\nName=\xE3\x81\x82\r\n",
                TIniEncoding::Utf8Mark, 800, "\xE3\x81\x82"},
           Case{"UTF-8 mark before a blank line", "\xEF\xBB\xBF\r\n [Setup]\nFormWidth=800",
                TIniEncoding::Utf8Mark, 800, ""},
           Case{"UTF-8 mark alone", "\xEF\xBB\xBF", TIniEncoding::Utf8Mark, 0, ""},
           Case{"UTF-16 LE", le, TIniEncoding::Utf16LeMark, 800, "\xE3\x81\x82\xF0\x9F\x98\x80"},
           Case{"UTF-16 BE", be, TIniEncoding::Utf16BeMark, 800, "\xE3\x81\x82\xF0\x9F\x98\x80"},
           Case{"UTF-16 LE, unpaired surrogate", lone, TIniEncoding::Utf16LeMark, 800,
                "\xED\xA0\x80x"},
           Case{"UTF-16 LE, odd length", le + "[", TIniEncoding::Utf16LeMark, 800,
                "\xE3\x81\x82\xF0\x9F\x98\x80"},
           Case{"UTF-16 mark alone", "\xFF\xFE", TIniEncoding::Utf16LeMark, 0, ""},
           // Anything else is read byte for byte, as it always was.
           Case{"UTF-32 LE mark", std::string("\xFF\xFE\0\0[\0\0\0", 8), TIniEncoding::Bytes, 0,
                ""},
           Case{"a mark not at the start", "\r\n\xEF\xBB\xBF[Setup]\r\nFormWidth=800\r\n",
                TIniEncoding::Bytes, 0, ""},
           Case{"half a UTF-8 mark", "\xEF\xBB[Setup]\r\nFormWidth=800\r\n", TIniEncoding::Bytes, 0,
                ""},
       }) {
    SCOPED_TRACE(c.name);
    TIniStore s = TIniStore::Parse(c.bytes);
    EXPECT_EQ(s.Encoding(), c.encoding);
    EXPECT_EQ(s.ReadInteger("Setup", "FormWidth", 0), c.width);
    EXPECT_EQ(s.ReadString("Setup", "Name").value_or(""), c.name_value);
    // Written back in the same encoding: read again it holds the same.
    s.WriteInteger("Setup", "FormHeight", 480);
    const std::string written = s.Serialize();
    const TIniStore again = TIniStore::Parse(written);
    EXPECT_EQ(again.Encoding(), c.encoding);
    EXPECT_EQ(again.ReadInteger("Setup", "FormHeight", 0), 480);
    EXPECT_EQ(again.ReadString("Setup", "Name").value_or(""), c.name_value);
    EXPECT_EQ(again.Serialize(), written);
  }
  // A normalised UTF-16 file is written back byte for byte.
  const std::string normal = Utf16File(false, u"\u3042\U0001F600");
  const TIniStore s = TIniStore::Parse(normal);
  EXPECT_EQ(EncodeIniText("[Setup]\r\nFormWidth=800\r\nName=\xE3\x81\x82\xF0\x9F\x98\x80\r\n",
                          TIniEncoding::Utf16LeMark),
            normal);
  EXPECT_EQ(s.Serialize(), normal + std::string("\r\0\n\0", 4));
}

// ---- Paths ----------------------------------------------------------------------------------

TEST(SettingsPath, ExtensionReplacedOrAppended) {
  EXPECT_EQ(SettingsPathForExecutable("/opt/kavun/bin/kavun"),
            fs::path("/opt/kavun/bin/kavun.ini"));
  EXPECT_EQ(SettingsPathForExecutable("/a.b/Kavun.exe"), fs::path("/a.b/Kavun.ini"));
  EXPECT_EQ(SettingsPathForExecutable("/x/k.v.1"), fs::path("/x/k.v.ini"));
}

// ---- Load and save on disk ------------------------------------------------------------------

class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override { fs::create_directories(dir_ / "bin"); }

  static std::string Slurp(const fs::path& p) { return ReadWholeFile(p).value_or("<missing>"); }
  static void Put(const fs::path& p, const std::string& text) {
    std::ofstream(p, std::ios::binary) << text;
  }

  test::TempDir tmp_{"kavun-settings"};
  fs::path dir_ = tmp_.Path();
  fs::path exe_ = dir_ / "bin" / "kavun";
  fs::path ini_ = dir_ / "bin" / "kavun.ini";
};

TEST_F(SettingsFileTest, FirstRunCreatesEmptyFileThenWritesDefaults) {
  const TSettingsLocation loc = ResolveSettingsPath(exe_, dir_ / "config");
  EXPECT_EQ(loc.file, ini_);
  const TSettingsValues v = LoadSettingsValues(loc, 594, 477);
  EXPECT_EQ(v, TSettingsValues{});
  EXPECT_EQ(Slurp(ini_), "");  // created, empty until the exit
  SaveSettingsValues(loc, v);
  EXPECT_EQ(Slurp(ini_), kDefaultFile);
  // A second start reads what the first one wrote and leaves the file as it was.
  EXPECT_EQ(LoadSettingsValues(loc, 100, 100), TSettingsValues{});
  EXPECT_EQ(Slurp(ini_), kDefaultFile);
  // After an Execute the rectangle goes into its own section; "Setup" stays as it was.
  TSettingsValues executed;
  executed.LastSelection = TRect{1, 2, 30, 40};
  SaveSettingsValues(loc, executed);
  EXPECT_EQ(Slurp(ini_), std::string(kDefaultFile) +
                             "[LastSelection]\r\nLeft=1\r\nTop=2\r\nRight=30\r\nBottom=40\r\n\r\n");
  EXPECT_EQ(LoadSettingsValues(loc, 100, 100), executed);
}

TEST_F(SettingsFileTest, ValuesReadFromTheFile) {
  struct Case {
    std::string text;
    TSettingsValues expected;
  };
  const TSettingsValues d{};
  auto with = [&](auto change) {
    TSettingsValues v = d;
    change(v);
    return v;
  };
  for (const Case& c : {
           Case{"[Setup]\nFormWidth=0x320\n", with([](auto& v) { v.FormWidth = 800; })},
           Case{"[Setup]\nFormWidth=$320\n", with([](auto& v) { v.FormWidth = 800; })},
           Case{"[Setup]\nFormWidth=-5\n", with([](auto& v) { v.FormWidth = -5; })},
           Case{"[Setup]\nFormWidth=yes\n", d},
           Case{"[Setup]\nisScrollTrack=2\n", with([](auto& v) { v.isScrollTrack = true; })},
           Case{"[Setup]\nisScrollTrack=yes\n", d},
           Case{"[setup]\nFORMWIDTH=640\nformheight=480\n", with([](auto& v) {
                  v.FormWidth = 640;
                  v.FormHeight = 480;
                })},
           Case{"[Setup]\nisShowSaveChkDlg=0\nisShowJpgSaveChkDlg=0\n", with([](auto& v) {
                  v.isShowSaveChkDlg = false;
                  v.isShowJpgSaveChkDlg = false;
                })},
           Case{"FormWidth=1\n[Other]\nFormWidth=2\n", d},
           // The last Execute's rectangle, in its own section; incomplete or empty: none.
           Case{"[LastSelection]\nLeft=3\nTop=4\nRight=20\nBottom=0x10\n", with([](auto& v) {
                  v.LastSelection = TRect{3, 4, 20, 16};
                })},
           Case{"[LastSelection]\nLeft=3\nTop=4\nRight=20\n", d},
           Case{"[LastSelection]\nLeft=3\nTop=4\nRight=3\nBottom=9\n", d},
           Case{"[Setup]\nLeft=3\nTop=4\nRight=20\nBottom=9\n", d},
       }) {
    Put(ini_, c.text);
    EXPECT_EQ(LoadSettingsValues(ResolveSettingsPath(exe_, {}), 594, 477), c.expected) << c.text;
  }
}

TEST_F(SettingsFileTest, OtherSectionsAndKeysSurviveCommentsDoNot) {
  Put(ini_,
      "; written by hand\r\n[Extra]\r\nname = value\r\n\r\n[Setup]\r\nFormWidth = 700\r\n"
      "custom=5\r\n");
  const TSettingsLocation loc = ResolveSettingsPath(exe_, {});
  TSettingsValues v = LoadSettingsValues(loc, 594, 477);
  EXPECT_EQ(v.FormWidth, 700);
  // Normalised at start: comment and blanks around '=' gone.
  EXPECT_EQ(Slurp(ini_),
            "[Extra]\r\nname=value\r\n\r\n[Setup]\r\nFormWidth=700\r\ncustom=5\r\n\r\n");
  v.isScrollTrack = true;
  v.FormHeight = 500;
  SaveSettingsValues(loc, v);
  EXPECT_EQ(Slurp(ini_),
            "[Extra]\r\nname=value\r\n\r\n[Setup]\r\nFormWidth=700\r\ncustom=5\r\n"
            "isScrollTrack=1\r\nisShowSaveChkDlg=1\r\nisShowJpgSaveChkDlg=1\r\nFormHeight=500\r\n"
            "\r\n");
}

TEST_F(SettingsFileTest, AFileSavedWithAByteOrderMarkKeepsItsValuesAndItsMark) {
  // As Notepad saves it.
  const std::string notepad = "\xEF\xBB\xBF[Setup]\r\nisScrollTrack=1\r\nFormWidth=700\r\n";
  Put(ini_, notepad);
  const TSettingsLocation loc = ResolveSettingsPath(exe_, {});
  TSettingsValues v = LoadSettingsValues(loc, 594, 477);
  EXPECT_TRUE(v.isScrollTrack);
  EXPECT_EQ(v.FormWidth, 700);
  EXPECT_EQ(Slurp(ini_), notepad + "\r\n");
  v.FormHeight = 500;
  SaveSettingsValues(loc, v);
  EXPECT_EQ(Slurp(ini_),
            "\xEF\xBB\xBF[Setup]\r\nisScrollTrack=1\r\nFormWidth=700\r\nisShowSaveChkDlg=1\r\n"
            "isShowJpgSaveChkDlg=1\r\nFormHeight=500\r\n\r\n");
  // UTF-16, as Notepad saves "Unicode".
  Put(ini_, Utf16File(false));
  EXPECT_EQ(LoadSettingsValues(loc, 594, 477).FormWidth, 800);
  SaveSettingsValues(loc, v);
  EXPECT_EQ(Slurp(ini_).substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(LoadSettingsValues(loc, 594, 477), v);
}

TEST_F(SettingsFileTest, UnwritableFolderFallsBackToConfigFolder) {
  // The executable's "folder" is a plain file: nothing can be created there, not even by root.
  const fs::path blocker = dir_ / "blocked";
  Put(blocker, "x");
  const fs::path exe = blocker / "kavun";
  const fs::path config = dir_ / "config" / "kavun";
  const TSettingsLocation loc = ResolveSettingsPath(exe, config);
  EXPECT_EQ(loc.file, config / "kavun.ini");
  EXPECT_TRUE(loc.seed.empty());
  EXPECT_EQ(LoadSettingsValues(loc, 594, 477), TSettingsValues{});
  EXPECT_EQ(Slurp(config / "kavun.ini"), "");
  SaveSettingsValues(loc, TSettingsValues{});
  EXPECT_EQ(Slurp(config / "kavun.ini"), kDefaultFile);
}

TEST_F(SettingsFileTest, ReadOnlyFolderSeedsTheConfigCopy) {
  Put(ini_, "[Setup]\r\nFormWidth=640\r\n");
  fs::permissions(dir_ / "bin",
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  // access() checks the real user: the check runs as an ordinary one, owning the folders.
  for (const fs::path& p : {dir_, dir_ / "bin", ini_}) {
    ASSERT_EQ(::chown(p.c_str(), test::ChildUid(), test::ChildGid()), 0);
  }
  const test::Child child = test::RunChild(
      [&] {
        const TSettingsLocation loc = ResolveSettingsPath(exe_, dir_ / "config");
        return loc.file == dir_ / "config" / "kavun.ini" && loc.seed == ini_ &&
                       LoadSettingsValues(loc, 594, 477).FormWidth == 640
                   ? 0
                   : 1;
      },
      true);
  EXPECT_EQ(child.Status, 0);
  fs::permissions(dir_ / "bin", fs::perms::owner_all, fs::perm_options::add);
}

TEST_F(SettingsFileTest, SeedIsReadOnlyUntilTheConfigCopyExists) {
  Put(ini_, "[Setup]\r\nFormWidth=640\r\n");
  const TSettingsLocation loc{dir_ / "config" / "kavun.ini", ini_};
  EXPECT_EQ(LoadSettingsValues(loc, 594, 477).FormWidth, 640);
  EXPECT_EQ(Slurp(loc.file), "[Setup]\r\nFormWidth=640\r\n\r\n");
  TSettingsValues v;
  v.FormWidth = 700;
  SaveSettingsValues(loc, v);
  EXPECT_EQ(LoadSettingsValues(loc, 594, 477).FormWidth, 700);
  EXPECT_EQ(Slurp(ini_), "[Setup]\r\nFormWidth=640\r\n");  // the seed is never written
}

TEST_F(SettingsFileTest, BesideTheExecutableWinsWhenWritable) {
  fs::create_directories(dir_ / "config");
  Put(dir_ / "config" / "kavun.ini", "[Setup]\r\nFormWidth=111\r\n");
  Put(ini_, "[Setup]\r\nFormWidth=222\r\n");
  const TSettingsLocation loc = ResolveSettingsPath(exe_, dir_ / "config");
  EXPECT_EQ(loc.file, ini_);
  EXPECT_EQ(LoadSettingsValues(loc, 594, 477).FormWidth, 222);
}

TEST_F(SettingsFileTest, FailuresRaiseErrorsAndKeepTheOldFile) {
  // No fallback and an unwritable place: a clear error.
  const fs::path blocker = dir_ / "blocked";
  Put(blocker, "x");
  const TSettingsLocation nowhere = ResolveSettingsPath(blocker / "kavun", {});
  // A folder where the file should be.
  const TSettingsLocation folder = ResolveSettingsPath(exe_, {});
  fs::create_directories(ini_);
  const struct {
    const char* name;
    std::function<void()> run;
    ErrorKind kind;
    fs::path file;
  } cases[] = {
      {"load, no folder", [&] { LoadSettingsValues(nowhere, 594, 477); }, ErrorKind::FileNotFound,
       nowhere.file},
      {"save, no folder", [&] { SaveSettingsValues(nowhere, TSettingsValues{}); },
       ErrorKind::FileNotFound, nowhere.file},
      {"load, a folder", [&] { LoadSettingsValues(folder, 594, 477); }, ErrorKind::NotAFile, ini_},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      c.run();
      ADD_FAILURE() << "no error";
    } catch (const Error& e) {
      EXPECT_EQ(e.Kind(), c.kind) << e.what();
      EXPECT_EQ(e.Path(), c.file.string());
    }
  }
  fs::remove(ini_);
  // Leftover temporary files never appear beside a good write.
  SaveSettingsValues(ResolveSettingsPath(exe_, {}), TSettingsValues{});
  int files = 0;
  for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir_ / "bin")) ++files;
  EXPECT_EQ(files, 1);
}

TEST_F(SettingsFileTest, ValuesReadAreHandedOverEvenWhenTheWriteBackFails) {
  // A file-size limit smaller than the file: readable, not writable (as a full disk would be).
  const fs::path file = dir_ / "bin" / "limited.ini";
  Put(file, "[Setup]\r\nFormWidth=700\r\nisScrollTrack=1\r\n");
  TSettingsValues values;
  {
    const test::FileSizeLimit limit(16);
    EXPECT_THROW(LoadSettingsValues(TSettingsLocation{file, {}}, 594, 477, &values), Error);
  }
  EXPECT_EQ(values.FormWidth, 700);
  EXPECT_TRUE(values.isScrollTrack);
  EXPECT_EQ(Slurp(file), "[Setup]\r\nFormWidth=700\r\nisScrollTrack=1\r\n");
  // A file that cannot be read leaves the values alone and is not replaced.
  fs::create_directories(ini_);
  TSettingsValues untouched;
  untouched.FormWidth = 123;
  EXPECT_THROW(LoadSettingsValues(ResolveSettingsPath(exe_, {}), 594, 477, &untouched), Error);
  EXPECT_EQ(untouched.FormWidth, 123);
  EXPECT_TRUE(fs::is_directory(ini_));
}

// ---- The readme of the help menu ------------------------------------------------------------

TEST_F(SettingsFileTest, ReadmeFromTheCurrentFolderThenTheInstallation) {
  // dir_/bin/kavun is the executable, dir_/work the current folder.
  const fs::path work = dir_ / "work";
  const fs::path current = work / "Readme.txt";
  const fs::path installed = dir_ / "share" / "doc" / "kavun" / "Readme.txt";
  const fs::path beside = dir_ / "bin" / "Readme.txt";
  struct Case {
    const char* what;
    bool inCurrent, installed, beside;
    bool currentIsFolder;
    fs::path expected;
  };
  for (const Case& c : {
           Case{"none: the name in the current folder, as designed", false, false, false, false,
                current},
           Case{"an installation under a prefix", false, true, false, false, installed},
           Case{"a build tree", false, false, true, false, beside},
           Case{"the installed one before the copy beside", false, true, true, false, installed},
           Case{"the current folder first", true, true, true, false, current},
           Case{"a folder named Readme.txt is no readme", false, true, false, true, installed},
       }) {
    fs::remove_all(work);
    fs::remove_all(dir_ / "share");
    fs::remove(beside);
    fs::create_directories(work);
    if (c.inCurrent) Put(current, "current");
    if (c.currentIsFolder) fs::create_directories(current);
    if (c.installed) {
      fs::create_directories(installed.parent_path());
      Put(installed, "installed");
    }
    if (c.beside) Put(beside, "beside");
    EXPECT_EQ(FindReadme(work, exe_), c.expected) << c.what;
  }
}

TEST_F(SettingsFileTest, TheFileIsWrittenThroughLinksKeepingItsPermissions) {
  // The settings writer is the picture writer: a link stays a link, a private file private.
  fs::create_directories(dir_ / "dotfiles");
  Put(dir_ / "dotfiles" / "kavun.ini", "");
  ::chmod((dir_ / "dotfiles" / "kavun.ini").c_str(), 0600);
  fs::create_symlink("../dotfiles/kavun.ini", ini_);
  SaveSettingsValues(ResolveSettingsPath(exe_, {}), TSettingsValues{});
  EXPECT_TRUE(fs::is_symlink(ini_));
  EXPECT_EQ(Slurp(dir_ / "dotfiles" / "kavun.ini"), kDefaultFile);
  struct stat st {};
  ASSERT_EQ(::stat((dir_ / "dotfiles" / "kavun.ini").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  // A FIFO in its place is refused at once instead of waiting for a writer.
  fs::remove(ini_);
  ASSERT_EQ(::mkfifo(ini_.c_str(), 0600), 0);
  try {
    ReadWholeFile(ini_);
    FAIL() << "read a FIFO";
  } catch (const Error& e) {
    EXPECT_EQ(e.Kind(), ErrorKind::NotAFile);
  }
}

}  // namespace
}  // namespace kavun
