// Runs the kavun-cli program itself and checks exit status, messages and the pixels it writes.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "cli/options.h"
#include "common/same_pixels.h"
#include "common/temp_dir.h"
#include "engine/bitmap.h"
#include "engine/error.h"
#include "engine/transform_params.h"
#include "imagefile/imagefile.h"
#include "kavun_version.h"

namespace kavun {
namespace {

namespace fs = std::filesystem;
using test::SamePixels;

class Cli : public testing::Test {
 protected:
  std::string P(const std::string& name) const { return (dir_ / name).string(); }

  struct Result {
    int Status = -1;
    std::string Out;
    std::string Err;
  };

  // Runs kavun-cli with `args` (shell syntax) in the test's folder.
  Result Run(const std::string& args, const std::string& input = "") const {
    const std::string in = P("stdin.txt");
    std::ofstream(in, std::ios::binary) << input;
    const std::string command = "cd '" + dir_.string() + "' && '" + KAVUN_CLI + "' " + args +
                                " < '" + in + "' > '" + P("stdout.txt") + "' 2> '" +
                                P("stderr.txt") + "'";
    const int raw = std::system(command.c_str());
    Result r;
    r.Status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.Out = Slurp(P("stdout.txt"));
    r.Err = Slurp(P("stderr.txt"));
    return r;
  }

  static std::string Slurp(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
  }

  // A 24-bit picture of noise, written in the format of `name`'s extension.
  Bitmap MakeInput(const std::string& name, uint32_t seed = 1, int32_t w = 45, int32_t h = 37) {
    std::mt19937 random(seed);
    Bitmap b(w, h, PixelFormat::Bits24);
    for (int32_t y = 0; y < h; ++y) {
      auto row = b.ScanLine(y);
      for (int32_t i = 0; i < 3 * w; ++i) row[i] = static_cast<uint8_t>(random());
    }
    SaveImageFile(P(name), FileExtension(name), b);
    return b;
  }

  Bitmap Load(const std::string& name) const { return LoadImageFile(P(name)); }

  // Whether process `pid` holds a temporary file open in the test's folder: an unnamed one
  // ("#inode (deleted)" in /proc) or a named ".kv" one.
  bool WritesATemporaryFile(pid_t pid) const {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
      const fs::path target = fs::read_symlink(e.path(), ec);
      if (ec || target.parent_path() != dir_) continue;
      const std::string name = target.filename().string();
      if (name.starts_with("#") || name.starts_with(".kv")) return true;
    }
    return false;
  }
  bool Exists(const std::string& name) const { return fs::exists(dir_ / name); }

  test::TempDir tmp_{"kavun-cli"};
  fs::path dir_ = tmp_.Path();
};

struct TransformCase {
  const char* Name;
  const char* Scramble;
  const char* Restore;
};

class CliRoundTrip : public Cli, public testing::WithParamInterface<TransformCase> {};

TEST_P(CliRoundTrip, ScrambleThenRestoreGivesBackThePixels) {
  for (const char* ext : {".png", ".bmp", ".PNG"}) {
    SCOPED_TRACE(ext);
    const std::string in = std::string("in") + ext;
    const std::string mid = std::string("mid") + ext;
    const std::string out = std::string("out") + ext;
    std::ofstream(P("pw.txt")) << "secret パス\n";
    const Bitmap original = MakeInput(in);
    const Result a = Run(std::string(GetParam().Scramble) + " " + in + " " + mid);
    ASSERT_EQ(a.Status, 0) << a.Err;
    EXPECT_FALSE(SamePixels(original, Load(mid)));
    const Result b = Run(std::string(GetParam().Restore) + " " + mid + " " + out);
    ASSERT_EQ(b.Status, 0) << b.Err;
    EXPECT_TRUE(SamePixels(original, Load(out)));
  }
}

INSTANTIATE_TEST_SUITE_P(
    EveryTransform, CliRoundTrip,
    testing::Values(
        TransformCase{"MosaicDefaults", "mosaic", "mosaic --decode"},
        TransformCase{"MosaicOptions", "mosaic --block 5x3 --keys 7,200 --rect 3,4,40,30",
                      "mosaic --block=5x3 --keys=7,200 --rect=3,4,40,30 --decode"},
        TransformCase{"ShiftRight", "shift --bits 5", "shift --bits -5"},
        TransformCase{"ShiftLeftRect", "shift --bits -23 --rect 1,1,44,36",
                      "shift --rect 1,1,44,36 --bits 23"},
        TransformCase{"XorMt", "xor --password-file pw.txt", "xor --password-file pw.txt"},
        TransformCase{"XorMd5", "xor --mode md5 --password-file pw.txt --rect 0,0,17,9",
                      "xor --mode md5 --password-file pw.txt --rect 0,0,17,9"},
        TransformCase{"XorMd5Ofb", "xor --mode md5ofb --password-file pw.txt",
                      "xor --mode md5ofb --password-file pw.txt"}),
    [](const testing::TestParamInfo<TransformCase>& test) { return test.param.Name; });

TEST_F(Cli, PasswordSourcesAgreeAndTheArgumentFormWarns) {
  MakeInput("in.png");
  std::ofstream(P("pw.txt")) << "hunter2\n";
  ASSERT_EQ(Run("xor in.png file.png --password-file pw.txt").Status, 0);
  ASSERT_EQ(Run("xor in.png stdin.png --password-stdin", "hunter2\n").Status, 0);
  const Result arg = Run("xor in.png arg.png --password hunter2");
  ASSERT_EQ(arg.Status, 0);
  EXPECT_NE(arg.Err.find("process list"), std::string::npos) << arg.Err;
  EXPECT_TRUE(SamePixels(Load("file.png"), Load("stdin.png")));
  EXPECT_TRUE(SamePixels(Load("file.png"), Load("arg.png")));
  // Only one newline is removed from the file: "hunter2\n\n" is the password "hunter2\n".
  std::ofstream(P("pw2.txt")) << "hunter2\n\n";
  ASSERT_EQ(Run("xor in.png two.png --password-file pw2.txt").Status, 0);
  EXPECT_FALSE(SamePixels(Load("file.png"), Load("two.png")));
}

// A password from standard input is one line of text held to the password file's limit; an
// empty password is used as designed, with a warning.
TEST_F(Cli, PasswordsFromStandardInputAreBoundedTextAndAnEmptyOneWarns) {
  MakeInput("in.png");
  std::ofstream(P("empty.txt")) << "";
  const std::string max(1 << 20, 'p');
  const struct {
    const char* name;
    std::string args;
    std::string input;
    int status;
    const char* message;  // in stderr
  } cases[] = {
      {"nothing at all", "--password-stdin", "", 1, "no password"},
      {"an empty line", "--password-stdin", "\n", 0, "password is empty"},
      {"an empty file", "--password-file empty.txt", "", 0, "password is empty"},
      {"an empty argument", "--password ''", "", 0, "password is empty"},
      {"a NUL byte", "--password-stdin", std::string("ab\0cd\n", 6), 1, "NUL byte (byte 3)"},
      {"1 MiB", "--password-stdin", max + "\n", 0, ""},
      {"1 MiB and a byte", "--password-stdin", max + "pp\n", 1, "longer than 1048576 bytes"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove(dir_ / "out.png");
    const Result r = Run("xor in.png out.png " + c.args, c.input);
    EXPECT_EQ(r.Status, c.status) << r.Err;
    EXPECT_NE(r.Err.find(c.message), std::string::npos) << r.Err;
    EXPECT_EQ(Exists("out.png"), c.status == 0);
    if (std::string(c.message).empty()) {
      EXPECT_EQ(r.Err.find("warning"), std::string::npos) << r.Err;
    }
  }
  // An endless input is refused at once.
  const std::string command = "cd '" + dir_.string() + "' && '" + KAVUN_CLI +
                              "' xor in.png zero.png --password-stdin < /dev/zero 2> err.txt";
  const int raw = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(raw));
  EXPECT_EQ(WEXITSTATUS(raw), 1);
  EXPECT_NE(Slurp(P("err.txt")).find("NUL byte"), std::string::npos) << Slurp(P("err.txt"));
  EXPECT_FALSE(Exists("zero.png"));
}

TEST_F(Cli, WrongArgumentsAreUsageErrorsAndWriteNothing) {
  MakeInput("in.png");
  std::ofstream(P("pw.txt")) << "x";
  for (const char* args : {
           "",
           "frobnicate in.png out.png",
           "mosaic in.png",
           "mosaic in.png out.png extra.png",
           "mosaic in.png out.png --bits 3",
           "mosaic in.png out.png --block 1x16",
           "mosaic in.png out.png --block 16x51",
           "mosaic in.png out.png --block 16",
           "mosaic in.png out.png --keys 3,7x",
           "mosaic in.png out.png --keys 256,7",
           "mosaic in.png out.png --keys 3,7,1",
           "mosaic in.png out.png --keys ' 3,7'",
           "mosaic in.png out.png --rect 1,2,3",
           "mosaic in.png out.png --rect 5,0,2,4",
           "mosaic in.png out.png --decode=1",
           "mosaic in.png out.png --keys 3,7 --keys 3,7",
           "mosaic in.png out.gif",
           "shift in.png out.png",
           "shift in.png out.png --bits 0",
           "shift in.png out.png --bits 24",
           "shift in.png out.png --bits -24",
           "shift in.png out.png --bits -2147483648",
           "shift in.png out.png --bits 2147483647",
           "shift in.png out.png --bits +-3",
           "mosaic in.png out.png --keys +-3,7",
           "shift in.png out.png --bits",
           "xor in.png out.png",
           "xor in.png out.png --password-file pw.txt --password x",
           "xor in.png out.png --mode sha1 --password x",
           "check in.png",
           "info",
           "mosaic in.png --out-dir missing-folder",
       }) {
    SCOPED_TRACE(args);
    const Result r = Run(args);
    EXPECT_EQ(r.Status, 2) << r.Err;
    EXPECT_NE(r.Err.find("kavun-cli --help"), std::string::npos) << r.Err;
    EXPECT_FALSE(Exists("out.png"));
    EXPECT_FALSE(Exists("out.gif"));
  }
}

TEST_F(Cli, HelpDescribesEveryCommand) {
  const Result r = Run("--help");
  EXPECT_EQ(r.Status, 0);
  for (const char* word : {"mosaic", "shift", "xor", "check", "info", "--out-dir", "--rect"}) {
    EXPECT_NE(r.Out.find(word), std::string::npos) << word;
  }
  EXPECT_EQ(Run("xor --help").Status, 0);
  // The ranges shown are the ones the options accept.
  for (const TNumericParam& p : kNumericParams) {
    const std::string range = std::to_string(p.Low) + " to " + std::to_string(p.High);
    EXPECT_NE(r.Out.find(range), std::string::npos) << p.Name << ": " << range;
  }
  for (const cli::TCliXorMode& m : cli::kCliXorModes) {
    EXPECT_NE(r.Out.find(m.Name), std::string::npos) << m.Name;
  }
  EXPECT_NE(r.Out.find("--version"), std::string::npos);
}

TEST_F(Cli, VersionPrintsTheProjectVersion) {
  const Result r = Run("--version");
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(r.Out, std::string("kavun-cli ") + kVersion + "\n");
  EXPECT_TRUE(r.Err.empty()) << r.Err;
}

// Each numeric parameter's option accepts both ends of its range and refuses one beyond each,
// naming the range.
TEST_F(Cli, EveryParameterOptionFollowsItsRange) {
  MakeInput("in.png");
  for (const TNumericParam& p : kNumericParams) {
    // The option's value with `value` in this parameter's place and the other places at their
    // starting values.
    const auto arg = [&](int32_t value) {
      std::string list;
      const char* option = cli::CliParam(p.Id).Option;
      for (const TNumericParam& q : kNumericParams) {
        if (std::string(cli::CliParam(q.Id).Option) != option) continue;
        if (!list.empty()) list += std::string(option) == "--block" ? "x" : ",";
        list += std::to_string(q.Id == p.Id ? value : q.Initial);
      }
      const std::string command =
          p.Transform == TransformKind::BitShift ? "shift in.png out.png " : "check ";
      return command + option + " " + list;
    };
    const std::string range = std::to_string(p.Low) + " to " + std::to_string(p.High);
    for (const int32_t good : {p.Low, p.High}) {
      SCOPED_TRACE(arg(good));
      EXPECT_NE(Run(arg(good)).Status, 2);
    }
    for (const int32_t bad : {p.Low - 1, p.High + 1}) {
      if (p.Transform == TransformKind::BitShift && bad == 0) continue;  // its own message
      SCOPED_TRACE(arg(bad));
      const Result r = Run(arg(bad));
      EXPECT_EQ(r.Status, 2);
      EXPECT_NE(r.Err.find(range), std::string::npos) << r.Err;
    }
  }
}

TEST_F(Cli, ARectangleReachingOutsideIsAUsageErrorNotAClip) {
  MakeInput("in.png");  // 45 x 37
  for (const char* rect : {"0,0,46,37", "0,0,45,38", "-1,0,10,10", "40,30,50,40", "50,40,50,40"}) {
    SCOPED_TRACE(rect);
    const Result r = Run(std::string("shift in.png out.png --bits 3 --rect ") + rect);
    EXPECT_EQ(r.Status, 2);
    EXPECT_NE(r.Err.find("outside"), std::string::npos) << r.Err;
    EXPECT_FALSE(Exists("out.png"));
  }
  EXPECT_EQ(Run("shift in.png out.png --bits 3 --rect 0,0,45,37").Status, 0);
}

TEST_F(Cli, DecodingWithIrreversibleCoefficientsFailsAndWritesNothing) {
  MakeInput("in.png");
  const Result r = Run("mosaic in.png out.png --keys 2,7 --decode");
  EXPECT_EQ(r.Status, 1);
  EXPECT_FALSE(r.Err.empty());
  EXPECT_FALSE(Exists("out.png"));
}

TEST_F(Cli, FailuresWriteNothingAndKeepAnExistingOutput) {
  MakeInput("in.png");
  std::ofstream(P("out.png")) << "old";
  EXPECT_EQ(Run("shift missing.png out.png --bits 2").Status, 1);
  std::ofstream(P("broken.png")) << "not a png";
  EXPECT_EQ(Run("shift broken.png out.png --bits 2").Status, 1);
  EXPECT_EQ(Slurp(P("out.png")), "old");
  const Result r = Run("xor in.png none.png --password-stdin", "");
  EXPECT_EQ(r.Status, 1);
  EXPECT_FALSE(Exists("none.png"));
}

// Every failure names its file and says what happened: the message holds the English wording of
// the failure's kind for that file, and the exit status follows the kind.
TEST_F(Cli, FailuresNameTheFileAndSayWhatHappened) {
  MakeInput("in.png");
  fs::create_directory(dir_ / "pwdir");
  std::ofstream(P("cut.png"), std::ios::binary) << Slurp(P("in.png")).substr(0, 100);
  const struct {
    std::string args;
    std::string input;
    int status;
    ErrorKind kind;
    std::string file;
    std::string detail = {};
  } cases[] = {
      {"xor in.png out.png --password-file pwdir", "", 1, ErrorKind::NotAFile, "pwdir"},
      {"xor in.png out.png --password-file nope.txt", "", 1, ErrorKind::FileNotFound, "nope.txt"},
      {"xor in.png out.png --password-stdin", "", 1, ErrorKind::NoPassword, ""},
      {"shift missing.png out.png --bits 2", "", 1, ErrorKind::FileNotFound, "missing.png"},
      {"shift cut.png out.png --bits 2", "", 1, ErrorKind::FileEndsEarly, "cut.png"},
      {"info missing.png", "", 1, ErrorKind::FileNotFound, "missing.png"},
      {"shift in.png out.png --bits 3 --rect 0,0,46,37", "", 2, ErrorKind::OutsideRectangle,
       "in.png", std::string("0,0,46,37") + kDetailSeparator + "45 x 37"},
      {"mosaic in.png out.png --keys 2,7 --decode", "", 1, ErrorKind::Irreversible, "in.png"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    const Result r = Run(c.args, c.input);
    EXPECT_EQ(r.Status, c.status) << r.Err;
    const std::string expected =
        c.kind == ErrorKind::NoPassword ? "no password" : Error(c.kind, c.file, c.detail).what();
    // The wording without a detail is the start of the wording with one.
    const std::string start = expected.substr(0, expected.find(" ("));
    EXPECT_NE(r.Err.find(start), std::string::npos) << "expected " << start << "\n" << r.Err;
    EXPECT_FALSE(Exists("out.png"));
  }
}

TEST_F(Cli, CheckPrintsTheAnswerAndInfoTheFormat) {
  const Result ok = Run("check");
  EXPECT_EQ(ok.Status, 0);
  EXPECT_EQ(ok.Out, "reversible: K1 3, K2 7, block 16x16 can be undone\n");
  const Result bad = Run("check --keys 2,7 --block 16x16");
  EXPECT_EQ(bad.Status, 1);
  EXPECT_EQ(bad.Out,
            "irreversible: K1 2, K2 7, block 16x16 cannot be undone; a picture scrambled with "
            "them cannot be restored\n");
  EXPECT_EQ(Run("check --keys 2,7 --block 5x3").Status, 0);

  MakeInput("in.bmp", 1, 12, 5);
  const Result info = Run("info in.bmp");
  EXPECT_EQ(info.Status, 0);
  EXPECT_EQ(info.Out, "in.bmp: 12 x 5 pixels, 24 bits per pixel, palette of 0 entries\n");
}

TEST_F(Cli, WritingJpegWarnsThatTheAreaCannotBeRestoredExactly) {
  MakeInput("in.png");
  const Result r = Run("mosaic in.png out.JPG");
  EXPECT_EQ(r.Status, 0);
  EXPECT_NE(r.Err.find("restored exactly"), std::string::npos) << r.Err;
  EXPECT_EQ(Load("out.JPG").Width(), 45);
}

TEST_F(Cli, BatchFormProcessesEveryFileLikeTheSingleForm) {
  fs::create_directory(dir_ / "batch");
  fs::create_directory(dir_ / "back");
  std::vector<std::string> names = {"a.png", "b.bmp", "c.png", "d.bmp", "e.png"};
  std::vector<Bitmap> originals;
  for (std::size_t i = 0; i < names.size(); ++i) {
    originals.push_back(MakeInput(names[i], static_cast<uint32_t>(i + 10)));
  }
  std::ofstream(P("pw.txt")) << "batch";
  std::string list;
  for (const auto& n : names) list += n + " ";
  // MTwister runs share the one generator; parallel files must still get their own keystream.
  const Result r = Run("xor " + list + "--out-dir batch --password-file pw.txt");
  ASSERT_EQ(r.Status, 0) << r.Err;
  for (std::size_t i = 0; i < names.size(); ++i) {
    SCOPED_TRACE(names[i]);
    ASSERT_EQ(
        Run("xor " + names[i] + " single" + FileExtension(names[i]) + " --password-file pw.txt")
            .Status,
        0);
    EXPECT_TRUE(SamePixels(Load("batch/" + names[i]), Load("single" + FileExtension(names[i]))));
  }
  std::string scrambled;
  for (const auto& n : names) scrambled += "batch/" + n + " ";
  ASSERT_EQ(Run("xor " + scrambled + "--out-dir back --password-file pw.txt").Status, 0);
  for (std::size_t i = 0; i < names.size(); ++i) {
    EXPECT_TRUE(SamePixels(originals[i], Load("back/" + names[i]))) << names[i];
  }
  // Two inputs with one name would overwrite each other.
  EXPECT_EQ(Run("mosaic a.png batch/a.png --out-dir back").Status, 2);
  // One bad file fails alone; the others are written.
  fs::create_directory(dir_ / "mixed");
  std::ofstream(P("z.png")) << "broken";
  const Result mixed = Run("shift a.png z.png b.bmp --bits 4 --out-dir mixed");
  EXPECT_EQ(mixed.Status, 1);
  EXPECT_TRUE(Exists("mixed/a.png"));
  EXPECT_TRUE(Exists("mixed/b.bmp"));
  EXPECT_FALSE(Exists("mixed/z.png"));
}

// A mosaic that would hide nothing fails; strips it leaves unscrambled are reported with their
// size. The pixels it writes are those of the transform either way.
TEST_F(Cli, AMosaicWithoutAWholeBlockFailsAndUncoveredStripsWarn) {
  MakeInput("in.png");  // 45 x 37
  const struct {
    std::string args;
    int status;
    std::string err;  // in stderr; empty: nothing at all on stderr
  } cases[] = {
      {"--rect 0,0,15,37", 1,
       "\"in.png\": the rectangle 0,0,15,37 (15 x 37 pixels) holds no whole block of 16x16 "
       "pixels"},
      {"--rect 3,3,45,18 --block 8x16", 1, "no whole block of 8x16 pixels"},
      {"--rect 5,5,5,5", 1, "no whole block"},
      {"--rect 0,0,15,37 --decode", 1, "no whole block"},
      {"", 0,
       "the rightmost 13 x 37 pixels and the bottom 32 x 5 pixels of the rectangle 0,0,45,37"},
      {"--rect 0,0,32,37", 0, "warning: \"in.png\": the mosaic leaves the bottom 32 x 5 pixels"},
      {"--rect 1,1,34,33", 0, "the rightmost 1 x 32 pixels of the rectangle 1,1,34,33"},
      {"--rect 0,0,32,32", 0, ""},
      {"--decode", 0, ""},
      {"--block 5x37", 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    fs::remove(dir_ / "out.png");
    const Result r = Run("mosaic in.png out.png " + c.args);
    EXPECT_EQ(r.Status, c.status) << r.Err;
    EXPECT_EQ(Exists("out.png"), c.status == 0);
    if (c.err.empty()) {
      EXPECT_EQ(r.Err, "");
    } else {
      EXPECT_NE(r.Err.find(c.err), std::string::npos) << r.Err;
    }
    if (c.status != 0) {
      EXPECT_NE(r.Err.find("\"out.png\" was not written"), std::string::npos) << r.Err;
    }
  }
}

TEST_F(Cli, MosaicRefusesCoefficientsThatCannotBeUndoneUnlessAskedTo) {
  const Bitmap original = MakeInput("in.png");
  // Encoding in place would destroy the original for good.
  const Result refused = Run("mosaic in.png in.png --keys 2,7");
  EXPECT_EQ(refused.Status, 1);
  EXPECT_NE(refused.Err.find("cannot be undone"), std::string::npos) << refused.Err;
  EXPECT_NE(refused.Err.find("--allow-irreversible"), std::string::npos) << refused.Err;
  EXPECT_TRUE(SamePixels(original, Load("in.png")));
  const Result allowed = Run("mosaic in.png out.png --keys 2,7 --allow-irreversible");
  EXPECT_EQ(allowed.Status, 0) << allowed.Err;
  EXPECT_TRUE(Exists("out.png"));
  EXPECT_EQ(Run("mosaic in.png out2.png --decode --keys 2,7 --allow-irreversible").Status, 1);
}

TEST_F(Cli, PasswordFilesMustBeSmallRegularFiles) {
  MakeInput("in.png");
  ASSERT_EQ(::mkfifo(P("fifo").c_str(), 0600), 0);  // without a writer: reading would block
  fs::create_symlink("/dev/zero", dir_ / "zero");
  std::ofstream(P("huge.txt")) << std::string((1 << 20) + 1, 'p');
  for (const char* file : {"fifo", "zero", "huge.txt", "."}) {
    SCOPED_TRACE(file);
    const Result r = Run(std::string("xor in.png out.png --password-file ") + file);
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find(file), std::string::npos) << r.Err;
    EXPECT_FALSE(Exists("out.png"));
  }
  std::ofstream(P("max.txt")) << std::string(1 << 20, 'p');
  EXPECT_EQ(Run("xor in.png out.png --password-file max.txt").Status, 0);
}

TEST_F(Cli, WarnsWhenThePictureLosesTransparencyOrDepthOnLoading) {
  // A 16-bit RGBA picture of the PNG suite.
  const fs::path rgba16 = fs::path(KAVUN_TEST_DATA_DIR) / "pngsuite" / "basn6a16.png";
  fs::copy_file(rgba16, dir_ / "a.png");
  const Result r = Run("shift a.png out.png --bits 1");
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_NE(r.Err.find("transparency"), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("16-bit"), std::string::npos) << r.Err;
  MakeInput("plain.png");
  EXPECT_EQ(Run("shift plain.png out2.png --bits 1").Err, "");
}

// kavun-cli killed while it writes: no temporary file stays behind, the signal is reported and
// the process dies of it (so a calling shell sees 128 + the signal's number).
TEST_F(Cli, TerminatingSignalsRemoveTheUnfinishedFile) {
#ifdef KAVUN_CLI_EMULATED
  GTEST_SKIP() << "signals reach kavun-cli through the emulator";
#endif
  MakeInput("big.bmp", 3, 3000, 2000);
  for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(sig);
    const std::string err = P("err.txt");
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(fd, 2);
      ::chdir(dir_.c_str());
      ::execl(KAVUN_CLI, KAVUN_CLI, "xor", "big.bmp", "out.png", "--password", "p",
              static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ASSERT_GT(pid, 0);
    // Wait for the temporary file (unnamed, or named where the system has no unnamed files),
    // then send the signal while it is being written.
    bool seen = false;
    for (int i = 0; i < 60000 && !seen; ++i) {
      seen = WritesATemporaryFile(pid);
      if (!seen) ::usleep(500);
    }
    ::kill(pid, sig);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(seen) << "never saw the temporary file";
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), sig);
    for (const auto& e : fs::directory_iterator(dir_)) {
      EXPECT_NE(e.path().filename().string().rfind(".kv", 0), 0u) << e.path();
    }
    EXPECT_FALSE(Exists("out.png"));
    EXPECT_NE(Slurp(err).find(sig == SIGINT    ? "SIGINT"
                              : sig == SIGTERM ? "SIGTERM"
                                               : "SIGHUP"),
              std::string::npos)
        << Slurp(err);
  }
}

TEST_F(Cli, AFileSizeLimitFailsTheFileAndLeavesNothingBehind) {
  MakeInput("in.bmp", 5, 300, 300);
  std::ofstream(P("out.bmp")) << "old";
  // ulimit -f counts blocks of 1024 bytes: the 270 kB picture does not fit.
  const std::string command = "cd '" + dir_.string() + "' && ulimit -f 100 && '" + KAVUN_CLI +
                              "' xor in.bmp out.bmp --password p 2> err.txt";
  const int raw = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(raw));
  EXPECT_EQ(WEXITSTATUS(raw), 1);
  EXPECT_NE(Slurp(P("err.txt")).find("SIGXFSZ"), std::string::npos) << Slurp(P("err.txt"));
  EXPECT_EQ(Slurp(P("out.bmp")), "old");
  for (const auto& e : fs::directory_iterator(dir_)) {
    EXPECT_NE(e.path().filename().string().rfind(".kv", 0), 0u) << e.path();
  }
}

}  // namespace
}  // namespace kavun

namespace kavun {
namespace {

TEST_F(Cli, DetectPrintsTheScrambledRectangleOrFailsWhenThereIsNone) {
  // A smooth picture: every pixel close to its neighbours.
  Bitmap smooth(90, 70, PixelFormat::Bits24);
  for (int32_t y = 0; y < smooth.Height(); ++y) {
    auto row = smooth.ScanLine(y);
    for (int32_t x = 0; x < smooth.Width(); ++x) {
      row[3 * x] = static_cast<uint8_t>(40 + x);
      row[3 * x + 1] = static_cast<uint8_t>(60 + y);
      row[3 * x + 2] = static_cast<uint8_t>(100 + (x + y) / 2);
    }
  }
  SaveImageFile(P("in.png"), FileExtension("in.png"), smooth);
  ASSERT_EQ(Run("xor in.png out.png --rect 10,8,50,40 --password-stdin", "p\n").Status, 0);
  const Result found = Run("detect out.png");
  EXPECT_EQ(found.Status, 0) << found.Err;
  EXPECT_EQ(found.Out, "10,8,50,40\n");

  const Result none = Run("detect in.png");
  EXPECT_EQ(none.Status, 1);
  EXPECT_EQ(none.Out, "");
  EXPECT_NE(none.Err.find("in.png: no scrambled rectangle found"), std::string::npos) << none.Err;

  EXPECT_EQ(Run("detect").Status, 2);
  EXPECT_EQ(Run("detect in.png out.png").Status, 2);
  EXPECT_EQ(Run("detect in.png --rect 0,0,1,1").Status, 2);
  EXPECT_EQ(Run("detect missing.png").Status, 1);
  EXPECT_NE(Run("--help").Out.find("detect IN"), std::string::npos);
}

}  // namespace
}  // namespace kavun
